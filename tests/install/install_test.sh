#!/bin/sh
# Installs the build tree into a fresh prefix, checks what landed there,
# then builds and runs the example consumer against that prefix twice:
# once through the CMake package, once through pkg-config.
#
# usage: install_test.sh CMAKE PKG_CONFIG BUILD_DIR SOURCE_DIR CXX CXXFLAGS LDFLAGS EXPECT_TOOL
#   CXXFLAGS and LDFLAGS are those the library was built with (the sanitizer
#   builds need them to link); EXPECT_TOOL is 1 when the tool was built.
set -eu

if [ "$#" -ne 8 ]; then
    echo "usage: $0 CMAKE PKG_CONFIG BUILD_DIR SOURCE_DIR CXX CXXFLAGS LDFLAGS EXPECT_TOOL" >&2
    exit 2
fi
cmake=$1 pkg_config=$2 build_dir=$3 source_dir=$4 cxx=$5 cxxflags=$6 ldflags=$7 expect_tool=$8

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The one path matching a glob under the prefix, or nothing.
find_one() {
    for found in "$prefix"/$1; do
        [ -e "$found" ] && echo "$found" && return 0
    done
    return 0
}

command -v "$pkg_config" >/dev/null 2>&1 || {
    echo "FAIL: pkg-config not found ($pkg_config); on Debian: apt-get install pkg-config" >&2
    exit 1
}

echo "== installing into $prefix"
"$cmake" --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    fail "cmake --install failed"
    exit 1
}

echo "== checking the installed tree"
if [ "$expect_tool" = 1 ]; then
    tool=$prefix/bin/corvane-userdb
    [ -x "$tool" ] || fail "bin/corvane-userdb missing or not executable"
    cmp -s "$source_dir/packaging/corvane-userdb.1" "$prefix/share/man/man1/corvane-userdb.1" ||
        fail "share/man/man1/corvane-userdb.1 missing or not the packaged page"
    cmp -s "$source_dir/packaging/corvane-userdb.bash-completion" \
        "$prefix/share/bash-completion/completions/corvane-userdb" ||
        fail "share/bash-completion/completions/corvane-userdb missing or not the packaged one"
    # The installed tool runs: a demo database with one account.
    db=$work/demo.db
    if "$tool" "$db" create && "$tool" "$db" add alice wonderland admin; then
        listing=$("$tool" "$db" list) || fail "installed tool: list failed"
        [ "$listing" = "$(printf 'admin\talice')" ] || fail "installed tool listed: $listing"
    else
        fail "installed tool: create or add failed"
    fi
    # The tool's runtime rule (tool/CMakeLists.txt): no C++ runtime and no
    # libgcc_s among the libraries it loads. Sanitizers link their own
    # runtimes, which need the C++ one; without CORVANE_STATIC_CXX_RUNTIME the
    # shared runtime is linked on purpose.
    static_runtime=$(sed -n 's/^CORVANE_STATIC_CXX_RUNTIME:BOOL=//p' "$build_dir/CMakeCache.txt")
    case "$cxxflags $ldflags" in
    *-fsanitize=*) echo "== runtime rule: skipped, the sanitizer runtimes load the C++ runtime" ;;
    *)
        case "$static_runtime" in
        ON | on | 1 | TRUE | true | YES | yes)
            if command -v readelf >/dev/null 2>&1; then
                needed=$(readelf -d "$tool" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
            else
                needed=$(objdump -p "$tool" | awk '$1 == "NEEDED" { print $2 }')
            fi
            echo "== runtime rule: the tool needs $(echo "$needed" | tr "\n" " ")"
            [ -n "$needed" ] || fail "no NEEDED entries read from the tool (readelf -d or objdump -p)"
            for library in $needed; do
                case "$library" in
                libstdc++* | libc++* | libgcc_s*) fail "the installed tool needs $library" ;;
                esac
            done
            ;;
        *) echo "== runtime rule: skipped, CORVANE_STATIC_CXX_RUNTIME is off" ;;
        esac
        ;;
    esac
fi
for header in base32 chars convert log plist text util; do
    [ -f "$prefix/include/corvane/$header.hpp" ] || fail "include/corvane/$header.hpp missing"
done
header_count=$(find "$prefix/include/corvane" -name '*.hpp' | wc -l)
[ "$header_count" -eq 7 ] || fail "expected 7 headers in include/corvane, found $header_count"

archive=$(find_one 'lib*/libcorvane_util.a')
config=$(find_one 'lib*/cmake/corvane/corvaneConfig.cmake')
pc_file=$(find_one 'lib*/pkgconfig/corvane-util.pc')
[ -n "$archive" ] || fail "lib*/libcorvane_util.a missing"
[ -n "$config" ] || fail "lib*/cmake/corvane/corvaneConfig.cmake missing"
[ -n "$pc_file" ] || fail "lib*/pkgconfig/corvane-util.pc missing"
[ "$failures" -eq 0 ] || exit 1
cmake_dir=$(dirname "$config")
[ -f "$cmake_dir/corvaneConfigVersion.cmake" ] || fail "corvaneConfigVersion.cmake missing"

# Every installed file is listed for uninstalling, the generated .pc too.
grep -qxF "$pc_file" "$build_dir/install_manifest.txt" ||
    fail "install_manifest.txt does not list $pc_file"

# Consumers must not be made to find or link SQLite: only the tool uses it.
if grep -il sqlite "$cmake_dir"/*.cmake "$pc_file"; then
    fail "the installed package mentions SQLite"
fi
if nm -u "$archive" 2>/dev/null | grep -q 'sqlite3_'; then
    fail "libcorvane_util.a needs SQLite symbols"
fi
# The package must stand on its own, not point back into the build.
if grep -l -e "$build_dir" -e "$source_dir" "$cmake_dir"/*.cmake "$pc_file"; then
    fail "the installed package refers to the build or source tree"
fi

echo "== staged install with DESTDIR"
# Packagers install below DESTDIR; the files must land there and still name
# the final prefix.
final_prefix=$work/final
DESTDIR=$work/stage "$cmake" --install "$build_dir" --prefix "$final_prefix" >"$work/destdir.log" 2>&1 || {
    cat "$work/destdir.log" >&2
    fail "cmake --install with DESTDIR failed"
}
[ ! -e "$final_prefix" ] || fail "an install with DESTDIR wrote outside DESTDIR"
staged_pc=$(find "$work/stage$final_prefix" -path '*/pkgconfig/corvane-util.pc' 2>/dev/null | head -n 1)
if [ -z "$staged_pc" ]; then
    fail "corvane-util.pc missing below DESTDIR"
else
    grep -qxF "prefix=$final_prefix" "$staged_pc" || fail "the staged .pc file does not name prefix=$final_prefix"
fi
[ -f "$work/stage$final_prefix/include/corvane/util.hpp" ] || fail "headers missing below DESTDIR"

echo "== consumer through find_package"
"$cmake" -S "$source_dir/examples/consumer" -B "$work/consumer-build" \
    -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >"$work/configure.log" 2>&1 || {
    cat "$work/configure.log" >&2
    fail "configuring the consumer failed"
}
if [ "$failures" -eq 0 ]; then
    "$cmake" --build "$work/consumer-build" >"$work/build.log" 2>&1 || {
        cat "$work/build.log" >&2
        fail "building the consumer failed"
    }
fi
if [ "$failures" -eq 0 ]; then
    "$work/consumer-build/corvane_consumer" || fail "the consumer built with CMake failed"
fi

echo "== consumer through pkg-config"
pc_dir=$(dirname "$pc_file")
pc_flags=$(PKG_CONFIG_PATH="$pc_dir" "$pkg_config" --cflags --libs corvane-util) || {
    fail "pkg-config does not know corvane-util"
    exit 1
}
case "$pc_flags" in
*"-I$prefix/include"*) ;;
*) fail "pkg-config flags do not name the prefix's include directory: $pc_flags" ;;
esac
# Word splitting of the flag variables is intended.
# shellcheck disable=SC2086
"$cxx" -std=c++20 $cxxflags "$source_dir/examples/consumer/main.cpp" $pc_flags $ldflags \
    -o "$work/consumer-pc" || fail "compiling the consumer with pkg-config flags failed"
if [ -x "$work/consumer-pc" ]; then
    "$work/consumer-pc" || fail "the consumer built with pkg-config failed"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "== all install checks passed"
