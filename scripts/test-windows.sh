#!/usr/bin/env bash
# Cross-builds the core, lapse-cli, the desktop program lapse.exe and their
# tests for 64-bit and 32-bit Windows and runs them under wine, each target in
# a wine prefix of its own (build/wine64, build/wine). The 64-bit suite runs
# on every machine, and lapse.exe is driven end to end on a virtual screen
# (scripts/e2e-windows.sh); the 32-bit suite runs only where the kernel runs
# 32-bit programs, or never with LAPSE_WINDOWS_64_ONLY=1. Fails unless at
# least one suite ran and passed.
# Installs what it needs on Debian 12; a second run reuses everything.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/packages.sh

readonly wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
only64=${LAPSE_WINDOWS_64_ONLY:-0}

packages=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
          libcli11-dev nlohmann-json3-dev libz-mingw-w64-dev wine wine64 fonts-wine xvfb xauth xdotool
          imagemagick)
if [ "$only64" != 1 ]; then
  # wine32 comes from the i386 half of the archive.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  packages+=(wine32:i386)
fi
lapse_install_packages "${packages[@]}"

export WINEDEBUG=-all
# Keeps wine from offering to install Mono and Gecko, which nothing here needs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# Some kernels run no 32-bit program at all ("Exec format error"); the
# 32-bit wine tells by starting or not.
run32=no
why32="LAPSE_WINDOWS_64_ONLY=1"
if [ "$only64" != 1 ]; then
  if "$wine32" --version >/dev/null 2>&1; then
    run32=yes
  else
    why32="this machine runs no 32-bit programs"
  fi
fi

# target: preset, MinGW triplet, wine loader, wine prefix, WINEARCH
declare -A preset=([x86_64]=windows64 [i686]=windows)
declare -A triplet=([x86_64]=x86_64-w64-mingw32 [i686]=i686-w64-mingw32)
declare -A loader=([x86_64]=$wine64 [i686]=$wine32)
declare -A prefix=([x86_64]=$root/build/wine64 [i686]=$root/build/wine)
declare -A arch=([x86_64]=win64 [i686]=win32)
declare -A outcome=()

fail() {
  echo "test-windows: $*" >&2
  exit 1
}

# The libraries for MinGW, in a prefix of their own that the preset names:
# GoogleTest built once from Debian's source package, and the headers of
# CLI11 and nlohmann-json, which must not be reached through the host's
# /usr/include.
build_deps() {
  local target=$1
  local deps=$root/build/${preset[$target]}-deps
  if [ ! -f "$deps/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "Cross-building GoogleTest for $target from /usr/src/googletest"
    cmake -S /usr/src/googletest -B "$root/build/${preset[$target]}-gtest-build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$target.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" >/dev/null
    cmake --build "$root/build/${preset[$target]}-gtest-build" -j2
    cmake --install "$root/build/${preset[$target]}-gtest-build" >/dev/null
  fi
  mkdir -p "$deps/include" "$deps/share/cmake"
  # Copies keep their times, so that a second run rebuilds nothing.
  cp -a /usr/include/CLI "$deps/include/"
  cp -a /usr/share/cmake/CLI11 "$deps/share/cmake/"
  cp -a /usr/include/nlohmann "$deps/include/"
  cp -a /usr/share/cmake/nlohmann_json "$deps/share/cmake/"
}

# A program that needs a DLL that is not there fails to start under wine in
# ways that are easy to miss; every one must link its runtime statically.
build_target() {
  local target=$1
  build_deps "$target"
  cmake --preset "${preset[$target]}"
  cmake --build --preset "${preset[$target]}" -j2
  local build=$root/build/${preset[$target]} program programs
  mapfile -t programs < <(find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' | sort)
  [ ${#programs[@]} -gt 0 ] || fail "the $target build made no programs"
  for program in "${programs[@]}"; do
    if "${triplet[$target]}-objdump" -p "$program" |
        grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread|zlib)'; then
      fail "$program needs a MinGW DLL"
    fi
  done
}

# One wine server per prefix for every program of the run: starting one per
# test program costs seconds each. Ended on every way out of the script,
# unless it was already running for that prefix before.
servers=()
stop_servers() {
  local server
  for server in "${servers[@]}"; do
    WINEPREFIX=$server wineserver --kill || true
  done
}
trap stop_servers EXIT

start_wine() {
  local target=$1
  export WINEPREFIX=${prefix[$target]} WINEARCH=${arch[$target]}
  wine=${loader[$target]}
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the wine prefix $WINEPREFIX"
    timeout 300 "$wine" wineboot --init
    # Its server lingers for a few seconds; the persistent one comes next.
    timeout 60 wineserver --wait || true
  fi
  if wineserver --persistent 2>/dev/null; then
    servers+=("$WINEPREFIX")
  else
    echo "test-windows: a wine server already runs for $WINEPREFIX; the tests will be slow" >&2
  fi
  # The windows of the test programs are made but never drawn: wine's null
  # display driver needs no X server.
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  # The first program started brings up wine's own services, which stay for
  # the server's life holding its output streams: were those ctest's pipes,
  # ctest would wait for them to close until its test discovery timed out.
  "$wine" wineboot </dev/null >/dev/null 2>&1
  # Task Scheduler's service, which schtasks needs; wine starts it only when
  # asked, and may report a timeout while it does.
  "$wine" net start schedule </dev/null >/dev/null 2>&1 || true
}

# Each test program must list its tests under wine, and ctest must run them
# all: a count of zero is a failure, not a pass.
run_suite() {
  local target=$1
  local listed=0 count program programs
  # The programs ctest knows: a test program left in the build tree by an
  # earlier checkout is no part of the suite.
  mapfile -t programs < <(ctest --preset "${preset[$target]}" --show-only=json-v1 |
                            grep -o '[^"]*_test\.exe' | sort -u)
  [ ${#programs[@]} -gt 0 ] || fail "ctest knows no $target test program"
  for program in "${programs[@]}"; do
    count=$("$wine" "$program" --gtest_list_tests | grep -c '^  ' || true)
    [ "$count" -gt 0 ] || fail "$(basename "$program") lists no test under wine ($target)"
    listed=$((listed + count))
  done
  local log=$root/build/${preset[$target]}-ctest.log ran skipped
  ctest --preset "${preset[$target]}" | tee "$log"
  ran=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
  if [ -z "$ran" ] || [ "$ran" -ne "$listed" ]; then
    fail "ctest ran ${ran:-no} $target tests, the programs list $listed"
  fi
  skipped=$(grep -c '\*\*\*Skipped' "$log" || true)
  outcome[$target]="$((ran - skipped)) passed, 0 failed, $skipped skipped"
}

expect_file() {
  [ "$(od -An -c "$1")" = "$(printf '%b' "$2" | od -An -c)" ] ||
    fail "lapse-cli: $1 holds $(od -An -c "$1")"
}

# lapse-cli.exe itself: a real run and replace over a folder and a file named
# outside ASCII, given as a Windows path ending in a backslash, checked byte
# for byte. Every tag date below lapsed long ago in any date order.
# Its console output ends lines in CR LF, as on Windows.
run_cli() {
  local target=$1
  local cli=$root/build/${preset[$target]}/src/cli/lapse-cli.exe
  lapse_cli() { "$wine" "$cli" "$@" | tr -d '\r'; }
  local site="$root/build/${preset[$target]}-cli-site/Ünïcödé 目录" out
  rm -rf "$root/build/${preset[$target]}-cli-site"
  mkdir -p "$site"
  printf 'keep\n<!--LAPSE 01/01/20\nlapsed\n<!--ENDL\n<!--LNEW 01/01/20\nnew\nrest\n' \
    >"$site/Grüße.htm"
  printf 'as it was\n' >"$site/UPPER.HTM"
  printf 'notes\n' >"$site/notes.txt"
  # Debian's winepath goes through the 32-bit loader whenever it is installed.
  local windows_site
  windows_site="$("$wine" winepath.exe --windows "$site" | tr -d '\r')\\"

  out=$(lapse_cli run "$windows_site") || fail "lapse-cli: run exited with $? ($target)"
  [ "$out" = "Processed 3 files." ] || fail "lapse-cli: run said: $out ($target)"
  expect_file "$site/New/Grüße.htm" 'keep\r\nrest\r\n'
  expect_file "$site/New/Log.txt" \
    '\r\nGrüße.htm\r\n<!--LAPSE 01/01/20\r\nlapsed\r\n<!--ENDL\r\n\r\nGrüße.htm\r\n<!--LNEW 01/01/20\r\nnew\r\n'
  expect_file "$site/Grüße.htm" 'keep\n<!--LAPSE 01/01/20\nlapsed\n<!--ENDL\n<!--LNEW 01/01/20\nnew\nrest\n'

  out=$(lapse_cli replace "$windows_site") || fail "lapse-cli: replace exited with $? ($target)"
  [ "$out" = "$(printf 'Replaced Grüße.htm\nMoved Log.txt')" ] ||
    fail "lapse-cli: replace said: $out ($target)"
  [ ! -e "$site/New" ] || fail "lapse-cli: replace left the folder New ($target)"
  expect_file "$site/Grüße.htm" 'keep\r\nrest\r\n'
  expect_file "$site/UPPER.HTM" 'as it was\n'
  expect_file "$site/notes.txt" 'notes\n'
  [ -f "$site/Log.txt" ] || fail "lapse-cli: replace did not move the log up ($target)"
  outcome[$target]+="; lapse-cli.exe ran and replaced"
}

for target in x86_64 i686; do
  build_target "$target"
done
targets=(x86_64)
[ "$run32" = yes ] && targets+=(i686)
for target in "${targets[@]}"; do
  start_wine "$target"
  run_suite "$target"
  run_cli "$target"
done
scripts/e2e-windows.sh "$root/build/windows64/src/win32/lapse.exe"
outcome[x86_64]+="; lapse.exe driven end to end"

echo "Windows suites:"
echo "  x86_64 (64-bit wine): ${outcome[x86_64]}"
if [ "$run32" = yes ]; then
  echo "  i686 (32-bit wine): ${outcome[i686]}"
else
  echo "  i686: built and checked, not run ($why32)"
fi
