#!/usr/bin/env bash
# Cross-builds the core, lapse-cli and the core's tests for 32-bit Windows and
# runs them under wine in a wine prefix of their own (build/wine).
# Installs what it needs on Debian 12; a second run reuses everything.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/packages.sh

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
# wine32 comes from the i386 half of the archive.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
lapse_install_packages cmake ninja-build g++-mingw-w64-i686-posix googletest libcli11-dev \
  wine wine64 wine32:i386

# The same settings as the "windows" preset, for the wine calls made here.
export WINEPREFIX=$root/build/wine WINEARCH=win32 WINEDEBUG=-all
# Keeps wine from offering to install Mono and Gecko, which nothing here needs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# The libraries for MinGW, in a prefix of their own that the "windows" preset
# names: GoogleTest built once from Debian's source package, and CLI11's
# headers, which must not be reached through the host's /usr/include.
deps=$root/build/windows-deps
if [ ! -f "$deps/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "Cross-building GoogleTest from /usr/src/googletest"
  cmake -S /usr/src/googletest -B "$root/build/windows-gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" >/dev/null
  cmake --build "$root/build/windows-gtest-build" -j2
  cmake --install "$root/build/windows-gtest-build" >/dev/null
fi
mkdir -p "$deps/include" "$deps/share/cmake"
# Copies keep their times, so that a second run rebuilds nothing.
cp -a /usr/include/CLI "$deps/include/"
cp -a /usr/share/cmake/CLI11 "$deps/share/cmake/"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the wine prefix $WINEPREFIX"
  timeout 300 wine wineboot --init
  # Its server lingers for a few seconds; the persistent one comes next.
  timeout 60 wineserver --wait || true
fi
# One wine server for every program of the run: starting one per test
# program costs seconds each. Ended on every way out of the script, unless
# it was already running for this prefix before.
if wineserver --persistent 2>/dev/null; then
  trap 'wineserver --kill || true' EXIT
else
  echo "test-windows: a wine server already runs for $WINEPREFIX; the tests will be slow" >&2
fi

cmake --preset windows
cmake --build --preset windows -j2

# A program that needs a DLL that is not there fails to start under wine in
# ways that are easy to miss; every one must link its runtime statically.
build=$root/build/windows
mapfile -t programs < <(find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' | sort)
if [ ${#programs[@]} -eq 0 ]; then
  echo "test-windows: the build made no programs" >&2
  exit 1
fi
for program in "${programs[@]}"; do
  if i686-w64-mingw32-objdump -p "$program" | grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)'; then
    echo "test-windows: $program needs a MinGW DLL" >&2
    exit 1
  fi
done

# Each test program must list its tests under wine, and ctest must run them
# all: a count of zero is a failure, not a pass.
listed=0
for program in "$build"/tests/*_test.exe; do
  count=$(wine "$program" --gtest_list_tests | grep -c '^  ' || true)
  if [ "$count" -eq 0 ]; then
    echo "test-windows: $(basename "$program") lists no test under wine" >&2
    exit 1
  fi
  listed=$((listed + count))
done

log=$root/build/windows-ctest.log
ctest --preset windows | tee "$log"
ran=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
if [ -z "$ran" ] || [ "$ran" -ne "$listed" ]; then
  echo "test-windows: ctest ran ${ran:-no} tests, the programs list $listed" >&2
  exit 1
fi

# lapse-cli.exe itself: a real run and replace over a folder and a file named
# outside ASCII, given as a Windows path ending in a backslash, checked byte
# for byte. Every tag date below lapsed long ago in any date order.
# Its console output ends lines in CR LF, as on Windows.
lapse_cli() { wine "$build/src/cli/lapse-cli.exe" "$@" | tr -d '\r'; }
fail() {
  echo "test-windows: lapse-cli: $*" >&2
  exit 1
}
expect_file() {
  [ "$(od -An -c "$1")" = "$(printf '%b' "$2" | od -An -c)" ] || fail "$1 holds $(od -An -c "$1")"
}
site="$root/build/windows-cli-site/Ünïcödé 目录"
rm -rf "$root/build/windows-cli-site"
mkdir -p "$site"
printf 'keep\n<!--LAPSE 01/01/20\nlapsed\n<!--ENDL\n<!--LNEW 01/01/20\nnew\nrest\n' >"$site/Grüße.htm"
printf 'as it was\n' >"$site/UPPER.HTM"
printf 'notes\n' >"$site/notes.txt"
windows_site="$(winepath --windows "$site")\\"

out=$(lapse_cli run "$windows_site") || fail "run exited with $?"
[ "$out" = "Processed 3 files." ] || fail "run said: $out"
expect_file "$site/New/Grüße.htm" 'keep\r\nrest\r\n'
expect_file "$site/New/Log.txt" \
  '\r\nGrüße.htm\r\n<!--LAPSE 01/01/20\r\nlapsed\r\n<!--ENDL\r\n\r\nGrüße.htm\r\n<!--LNEW 01/01/20\r\nnew\r\n'
expect_file "$site/Grüße.htm" 'keep\n<!--LAPSE 01/01/20\nlapsed\n<!--ENDL\n<!--LNEW 01/01/20\nnew\nrest\n'

out=$(lapse_cli replace "$windows_site") || fail "replace exited with $?"
[ "$out" = "$(printf 'Replaced Grüße.htm\nMoved Log.txt')" ] || fail "replace said: $out"
[ ! -e "$site/New" ] || fail "replace left the folder New"
expect_file "$site/Grüße.htm" 'keep\r\nrest\r\n'
expect_file "$site/UPPER.HTM" 'as it was\n'
expect_file "$site/notes.txt" 'notes\n'
[ -f "$site/Log.txt" ] || fail "replace did not move the log up"
echo "test-windows: lapse-cli.exe ran and replaced under wine"

skipped=$(grep -c '\*\*\*Skipped' "$log" || true)
echo "Wine: $((ran - skipped)) passed, 0 failed, $skipped skipped"
