#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the install layout
# file by file, that the installed tool runs, that the .pc file names the
# prefix, and that a separate project finds and links the library both with
# find_package(corvane CONFIG) and with pkg-config.
#   install_test.sh CMAKE BUILD_DIR LIBDIR CONSUMER_DIR CXX CXXFLAGS LDFLAGS
set -euo pipefail
cmake=$1 build=$2 libdir=$3 consumer=$4 cxx=$5 cxxflags=$6 ldflags=$7
source_dir=$(cd "$consumer/../../.." && pwd)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
unset DESTDIR
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

expected=(
    bin/corvane-userdb
    "$libdir/libcorvane_util.a"
    "$libdir/cmake/corvane/corvaneConfig.cmake"
    "$libdir/cmake/corvane/corvaneConfigVersion.cmake"
    "$libdir/cmake/corvane/corvaneTargets.cmake"
    "$libdir/pkgconfig/corvane-util.pc"
    share/man/man1/corvane-userdb.1
    share/bash-completion/completions/corvane-userdb
)
for header in "$source_dir"/util/include/corvane/*.hpp; do
    expected+=("include/corvane/${header##*/}")
done
for file in "${expected[@]}"; do
    [[ -f $prefix/$file ]] || fail "not installed: $file"
done
[[ -x $prefix/bin/corvane-userdb ]] || fail "the tool is not executable"
cmp -s "$source_dir/packaging/corvane-userdb.1" "$prefix/share/man/man1/corvane-userdb.1" ||
    fail "installed man page differs from packaging/corvane-userdb.1"
cmp -s "$source_dir/packaging/corvane-userdb.bash-completion" \
    "$prefix/share/bash-completion/completions/corvane-userdb" ||
    fail "installed completion differs from packaging/corvane-userdb.bash-completion"

# The installed tool runs: a demo database with one account.
tool=$prefix/bin/corvane-userdb
db=$scratch/demo.db
if "$tool" "$db" create && "$tool" "$db" add alice wonderland admin; then
    listing=$("$tool" "$db" list) || fail "installed tool: list failed"
    [[ $listing == $'admin\talice' ]] || fail "installed tool listed: $listing"
else
    fail "installed tool: create or add failed"
fi

# The .pc file names the prefix given to --install, not the configured one.
pc=$prefix/$libdir/pkgconfig/corvane-util.pc
grep -qx "prefix=$prefix" "$pc" || fail ".pc prefix is not $prefix: $(grep '^prefix=' "$pc")"
grep -qx "includedir=$prefix/include" "$pc" || fail ".pc includedir: $(grep '^includedir=' "$pc")"
grep -qx "libdir=$prefix/$libdir" "$pc" || fail ".pc libdir: $(grep '^libdir=' "$pc")"

# A separate project: find_package(corvane CONFIG), corvane::util.
if "$cmake" -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" \
        -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >"$scratch/consumer.log" 2>&1 &&
    "$cmake" --build "$scratch/consumer" >>"$scratch/consumer.log" 2>&1; then
    "$scratch/consumer/consumer" || fail "find_package consumer ran and failed"
else
    cat "$scratch/consumer.log"
    fail "find_package consumer did not configure or build"
fi

# The same with pkg-config, when it is there.
if command -v pkg-config >/dev/null 2>&1; then
    read -r -a pc_flags <<<"$(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --cflags --libs corvane-util)"
    read -r -a extra_cxx <<<"$cxxflags"
    read -r -a extra_ld <<<"$ldflags"
    if "$cxx" -std=c++20 "${extra_cxx[@]}" "$consumer/main.cpp" "${pc_flags[@]}" "${extra_ld[@]}" \
            -o "$scratch/pc-consumer"; then
        "$scratch/pc-consumer" || fail "pkg-config consumer ran and failed"
    else
        fail "pkg-config consumer did not build"
    fi
else
    echo "pkg-config not installed: pkg-config consumer not tried"
fi

((failures == 0)) || exit 1
echo "install layout, installed tool, CMake package and pkg-config file all work"
