#!/usr/bin/env bash
# Checks that C++ files are laid out as .clang-format says; changes nothing.
# Prints each place that differs and fails when there is one.
#
#   scripts/check-format.sh            every tracked .cpp/.hpp/.h file
#   scripts/check-format.sh FILE...    just these
#
# To fix a file: clang-format -i FILE. CLANG_FORMAT picks the binary
# (default: clang-format-14, else clang-format); other versions may lay
# some lines out differently.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}
if [[ -z $clang_format ]]; then
    echo "check-format: clang-format not found (apt-get install clang-format-14)" >&2
    exit 2
fi

if (($# > 0)); then
    files=("$@")
elif git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.hpp' '*.h')
else
    mapfile -t files < <(find util tool tests bench fuzz -name '*.[ch]pp' -o -name '*.h' 2>/dev/null | sort)
fi
if ((${#files[@]} == 0)); then
    echo "check-format: no C++ files found" >&2
    exit 2
fi

"$clang_format" --dry-run -Werror "${files[@]}"
echo "check-format: ${#files[@]} files laid out as .clang-format says ($("$clang_format" --version))"
