#!/usr/bin/env bash
# Builds the two Debian packages from a configured build directory (the
# release one by default), checks their control fields and contents, unpacks
# them into a scratch root and runs the tool from there on a demo database.
# Installs nothing on the system.
#
#   packaging/check-deb.sh [BUILD_DIR]     (default: build/release)
#
# Configure first: cmake --preset release
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

if [[ ! -f $build/CPackConfig.cmake ]]; then
    echo "check-deb: $build is not a configured build directory (run: cmake --preset release)" >&2
    exit 2
fi
for program in cpack dpkg-deb; do
    command -v "$program" >/dev/null || { echo "check-deb: $program not found" >&2; exit 2; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "== building $build and its packages"
cmake --build "$build" -j2 >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
(cd "$build" && cpack -G DEB -B "$scratch/debs") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

shopt -s nullglob
runtime_debs=("$scratch"/debs/corvane-userdb_*.deb)
dev_debs=("$scratch"/debs/corvane-util-dev_*.deb)
if ((${#runtime_debs[@]} != 1 || ${#dev_debs[@]} != 1)); then
    echo "FAIL: expected one corvane-userdb and one corvane-util-dev package, got:"
    ls "$scratch/debs"
    exit 1
fi
runtime=${runtime_debs[0]} dev=${dev_debs[0]}
ls -l "$runtime" "$dev" | sed "s|$scratch/debs/||"

# field PACKAGE FIELD: the value of one control field.
field() { dpkg-deb --field "$1" "$2"; }

echo "== control fields"
for deb in "$runtime" "$dev"; do
    [[ $(field "$deb" Maintainer) == *"<"*"@"*">" ]] || fail "${deb##*/}: no maintainer address"
    [[ -n $(field "$deb" Description) ]] || fail "${deb##*/}: no description"
    [[ -n $(field "$deb" Version) ]] || fail "${deb##*/}: no version"
done
[[ $(field "$runtime" Section) == admin ]] || fail "corvane-userdb: section $(field "$runtime" Section)"
[[ $(field "$dev" Section) == libdevel ]] || fail "corvane-util-dev: section $(field "$dev" Section)"
depends=$(field "$runtime" Depends)
echo "corvane-userdb depends on: $depends"
[[ $depends =~ (^|, )libsqlite3-0( |,|$) ]] || fail "corvane-userdb does not depend on libsqlite3-0"

# contains PACKAGE PATH...: each path is a file in the package.
contains() {
    local deb=$1 path
    shift
    for path in "$@"; do
        grep -qx "\./usr/$path" "$scratch/${deb##*/}.files" || fail "${deb##*/} lacks /usr/$path"
    done
}
# lacks PACKAGE PATTERN: no file in the package matches the pattern.
lacks() {
    if grep -q "$2" "$scratch/${1##*/}.files"; then fail "${1##*/} holds $2"; fi
}

echo "== contents"
for deb in "$runtime" "$dev"; do
    dpkg-deb --contents "$deb" | awk '{print $6}' >"$scratch/${deb##*/}.files"
done
contains "$runtime" bin/corvane-userdb share/man/man1/corvane-userdb.1 \
    share/bash-completion/completions/corvane-userdb
lacks "$runtime" '^\./usr/include/'
lacks "$runtime" '\.a$'

libdir=$(grep -o '^\./usr/lib.*/libcorvane_util\.a$' "$scratch/${dev##*/}.files" | head -n1 || true)
libdir=${libdir#./usr/}
libdir=${libdir%/libcorvane_util.a}
[[ -n $libdir ]] || fail "corvane-util-dev lacks libcorvane_util.a"
headers=()
for header in util/include/corvane/*.hpp; do headers+=("include/corvane/${header##*/}"); done
contains "$dev" "${headers[@]}" "$libdir/libcorvane_util.a" "$libdir/pkgconfig/corvane-util.pc" \
    "$libdir/cmake/corvane/corvaneConfig.cmake" "$libdir/cmake/corvane/corvaneConfigVersion.cmake" \
    "$libdir/cmake/corvane/corvaneTargets.cmake"
lacks "$dev" '^\./usr/bin/'
lacks "$dev" '^\./usr/share/man/'

echo "== unpacked into a scratch root"
root=$scratch/root
dpkg -x "$runtime" "$root"
dpkg -x "$dev" "$root"

# The .pc file must name the installed location, not CPack's staging area.
pc=$root/usr/$libdir/pkgconfig/corvane-util.pc
if [[ -f $pc ]]; then
    grep -qx 'prefix=/usr' "$pc" || fail ".pc file: $(grep '^prefix=' "$pc")"
    grep -qx "libdir=/usr/$libdir" "$pc" || fail ".pc file: $(grep '^libdir=' "$pc")"
fi

tool=$root/usr/bin/corvane-userdb
db=$scratch/demo.db
run() {
    echo "\$ corvane-userdb demo.db $*"
    "$tool" "$db" "$@" || fail "corvane-userdb $* exited with $?"
}
run create
run add alice wonderland admin
run add bob hunter2
run add carol s3cret op
listing=$(run list)
printf '%s\n' "$listing"
expected=$'$ corvane-userdb demo.db list\nadmin\talice\nuser\tbob\nop\tcarol'
[[ $listing == "$expected" ]] || fail "the listing differs from the expected one"
mode=$(stat -c %a "$db")
[[ $mode == 600 ]] || fail "demo database has mode $mode, not 600"

if ((failures > 0)); then
    echo "check-deb: $failures check(s) failed"
    exit 1
fi
echo "check-deb: both packages are complete and the packaged tool works"
