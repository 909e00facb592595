#!/usr/bin/env bash
# Builds the two Debian packages from a configured build directory (the
# release one by default), checks their control fields and contents, unpacks
# them into a scratch root, checks the tool's hardening (when the build has
# CORVANE_HARDENING) and runs the tool from there on a demo database, then
# has lintian check both packages (when it is installed) and fails on any
# error or warning. Installs nothing on the system.
#
#   packaging/check-deb.sh [--lintian] [BUILD_DIR]     (default: build/release)
#
# --lintian: lintian must be there (CI). Configure first: cmake --preset release
set -euo pipefail
cd "$(dirname "$0")/.."
need_lintian=0
if [[ ${1-} == --lintian ]]; then
    need_lintian=1
    shift
fi
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
# The SQLite the tool needs, as CMakeLists.txt says it.
sqlite_minimum=$(sed -n 's/^set(CORVANE_SQLITE_MINIMUM \([0-9.]*\))$/\1/p' CMakeLists.txt)
[[ -n $sqlite_minimum && $depends =~ (^|, )"libsqlite3-0 (>= $sqlite_minimum)"(,|$) ]] ||
    fail "corvane-userdb does not depend on libsqlite3-0 (>= ${sqlite_minimum:-?})"

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
contains "$runtime" bin/corvane-userdb share/man/man1/corvane-userdb.1.gz \
    share/bash-completion/completions/corvane-userdb
for deb in "$runtime" "$dev"; do
    package=$(field "$deb" Package)
    contains "$deb" "share/doc/$package/copyright" "share/doc/$package/changelog.gz"
done
lacks "$runtime" '^\./usr/include/'
lacks "$runtime" '\.a$'

libdir=$(grep -o '^\./usr/lib.*/libcorvane_util\.a$' "$scratch/${dev##*/}.files" | head -n1 || true)
libdir=${libdir#./usr/}
libdir=${libdir%/libcorvane_util.a}
[[ -n $libdir ]] || fail "corvane-util-dev lacks libcorvane_util.a"
if command -v dpkg-architecture >/dev/null; then
    multiarch=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
    [[ $libdir == "$multiarch" ]] || fail "corvane-util-dev installs into /usr/$libdir, not /usr/$multiarch"
fi
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

gzip -dc "$root/usr/share/man/man1/corvane-userdb.1.gz" | cmp -s - packaging/corvane-userdb.1 ||
    fail "the packaged man page is not packaging/corvane-userdb.1"

tool=$root/usr/bin/corvane-userdb
if grep -qx 'CORVANE_HARDENING:BOOL=ON' "$build/CMakeCache.txt"; then
    echo "== hardening of the packaged tool"
    readelf -h "$tool" | grep -q 'Type: *DYN' || fail "the tool is not position-independent"
    readelf -lW "$tool" | grep -q GNU_RELRO || fail "the tool has no RELRO segment"
    readelf -d "$tool" | grep -q 'FLAGS.*BIND_NOW' || fail "the tool is not bound at start-up (BIND_NOW)"
    symbols=$(readelf --dyn-syms -W "$tool")
    grep -q '__[a-z]*_chk@' <<<"$symbols" || fail "the tool calls no fortified function (_FORTIFY_SOURCE)"
    grep -q '__stack_chk_fail@' <<<"$symbols" || fail "the tool has no stack protector"
fi
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

if command -v lintian >/dev/null; then
    echo "== lintian"
    lintian_status=0
    lintian_output=$(lintian --fail-on error,warning --display-info "$runtime" "$dev" 2>&1) || lintian_status=$?
    # Its warning about running as root (as CI does) is no finding.
    grep -v '^running with root privileges is not recommended!$' <<<"$lintian_output" || true
    ((lintian_status == 0)) || fail "lintian reports errors or warnings (status $lintian_status)"
elif ((need_lintian)); then
    fail "lintian not found (apt-get install lintian)"
else
    echo "== lintian not found: skipped"
fi

if ((failures > 0)); then
    echo "check-deb: $failures check(s) failed"
    exit 1
fi
echo "check-deb: both packages are complete and clean, and the packaged tool works"
