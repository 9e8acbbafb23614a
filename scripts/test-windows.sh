#!/usr/bin/env bash
# Cross-builds the core, lapse-cli, the desktop program lapse.exe and their
# tests for 64-bit and 32-bit Windows and runs them under wine, each target in
# a wine prefix of its own (build/wine64, build/wine). The 64-bit suite runs
# on every machine, and lapse.exe is driven end to end on a virtual screen
# (scripts/e2e-windows.sh); the 32-bit suite runs only where the kernel runs
# 32-bit programs, or never with LAPSE_WINDOWS_64_ONLY=1. Then both installers
# are made (scripts/make-msi.sh) and read, and installed, upgraded and
# uninstalled under wine: the x64 one always, the x86 one where the 32-bit
# suite runs. Fails unless at least one suite ran and passed.
# LAPSE_WINDOWS_INSTALLERS_ONLY=1 builds only what the x64 installer packs
# and tests that installer alone: no suite, no clang-tidy, no end-to-end run.
# Installs what it needs on Debian 12; a second run reuses everything.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/packages.sh

readonly wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
only64=${LAPSE_WINDOWS_64_ONLY:-0}
installers_only=${LAPSE_WINDOWS_INSTALLERS_ONLY:-0}
[ "$installers_only" = 1 ] && only64=1

packages=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
          libcli11-dev libxxhash-dev nlohmann-json3-dev libutfcpp-dev libz-mingw-w64-dev wine wine64 fonts-wine xvfb xauth xdotool
          imagemagick "${LAPSE_MSI_PACKAGES[@]}" "${LAPSE_TIDY_PACKAGES[@]}")
lapse_install_packages "${packages[@]}"

# wine32 comes from the i386 half of the archive. The 32-bit suite needs it,
# the 64-bit one does not: when the i386 half cannot be had (a mirror that
# serves broken i386 lists), the 64-bit suite still runs and the 32-bit one
# is said not to.
install_wine32() {
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  local added=no
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
    added=yes
  fi
  if (lapse_install_packages wine32:i386); then
    return 0
  fi
  # Without an i386 package installed, the architecture goes again, so that
  # later updates do not stumble on the same lists.
  if [ "$added" = yes ]; then
    "${sudo[@]}" dpkg --remove-architecture i386 || true
  fi
  return 1
}
wine32_missing=no
if [ "$only64" != 1 ] && ! install_wine32; then
  wine32_missing=yes
fi

export WINEDEBUG=-all
# Keeps wine from offering to install Mono and Gecko, which nothing here needs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# Some kernels run no 32-bit program at all ("Exec format error"); the
# 32-bit wine tells by starting or not.
run32=no
why32="LAPSE_WINDOWS_64_ONLY=1"
if [ "$only64" != 1 ]; then
  if [ "$wine32_missing" = yes ]; then
    why32="the 32-bit wine could not be installed"
  elif "$wine32" --version >/dev/null 2>&1; then
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
# GoogleTest built once from Debian's source package, and the header-only
# libraries (CLI11, nlohmann's JSON, xxHash, utfcpp), which must not be reached
# through the host's /usr/include.
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
  cp -a /usr/include/CLI /usr/include/nlohmann /usr/include/xxhash.h /usr/include/utf8cpp \
    "$deps/include/"
  cp -a /usr/share/cmake/CLI11 /usr/share/cmake/nlohmann_json "$deps/share/cmake/"
}

# A program that needs a DLL that is not there fails to start under wine in
# ways that are easy to miss; every one must link its runtime statically.
build_target() {
  local target=$1
  build_deps "$target"
  cmake --preset "${preset[$target]}"
  if [ "$installers_only" = 1 ]; then
    cmake --build --preset "${preset[$target]}" -j2 --target lapse lapse-cli win32_help
  else
    cmake --build --preset "${preset[$target]}" -j2
  fi
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
    count=$("$root/cmake/wine-start.sh" "$wine" "$program" --gtest_list_tests | grep -c '^  ' || true)
    [ "$count" -gt 0 ] || fail "$(basename "$program") lists no test under wine ($target)"
    listed=$((listed + count))
  done
  local log=$root/build/${preset[$target]}-ctest.log ran skipped
  # A test that timed out runs once more: wine's own services (Task
  # Scheduler's, started in a fresh prefix) have hung a test that passes in
  # seconds. One that fails, or hangs again, fails the suite.
  ctest --preset "${preset[$target]}" --repeat after-timeout:2 | tee "$log"
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
  expect_file "$site/New/Grüße.htm" 'keep\nrest\n'
  expect_file "$site/New/Log.txt" \
    '\r\nGrüße.htm\r\n<!--LAPSE 01/01/20\r\nlapsed\r\n<!--ENDL\r\n\r\nGrüße.htm\r\n<!--LNEW 01/01/20\r\nnew\r\n'
  expect_file "$site/Grüße.htm" 'keep\n<!--LAPSE 01/01/20\nlapsed\n<!--ENDL\n<!--LNEW 01/01/20\nnew\nrest\n'

  # --verbose names each page: the names must reach the console as UTF-8.
  out=$(lapse_cli replace --verbose "$windows_site") ||
    fail "lapse-cli: replace exited with $? ($target)"
  [ "$out" = "$(printf 'Replaced Grüße.htm\nMoved Log.txt\nReplaced 1 page and moved Log.txt.')" ] ||
    fail "lapse-cli: replace said: $out ($target)"
  [ ! -e "$site/New" ] || fail "lapse-cli: replace left the folder New ($target)"
  expect_file "$site/Grüße.htm" 'keep\nrest\n'
  expect_file "$site/UPPER.HTM" 'as it was\n'
  expect_file "$site/notes.txt" 'notes\n'
  [ -f "$site/Log.txt" ] || fail "lapse-cli: replace did not move the log up ($target)"
  outcome[$target]+="; lapse-cli.exe ran and replaced"
}

# The Windows installers (scripts/make-msi.sh). Both are made and their
# tables read; the x64 one is installed, upgraded and uninstalled under the
# 64-bit wine, and the x86 one too where 32-bit programs run, in a wine
# prefix made anew for them (build/wine64-msi), so that nothing an earlier
# run left there can pass for what an install did or an uninstall left.
readonly msi_dir=$root/build/msi
# Every Lapse package ever made has this UpgradeCode: with another, a new
# package would install beside the Lapse it should replace.
readonly upgrade_code="{6D1FDB8B-B6D7-4E02-AA99-136FC7D562A4}"
# Installed programs: the x86 package's entry is in the 32-bit view.
readonly uninstall_keys=('HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
                         'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall')
readonly products_key='HKLM\Software\Classes\Installer\Products'
readonly tab=$'\t'
declare -A package_name=([x86_64]=win64 [i686]=win32)
declare -A template=([x86_64]="x64;1033" [i686]="Intel;1033")
declare -A program_files=([x86_64]="Program Files" [i686]="Program Files (x86)")
declare -A program_files_id=([x86_64]=ProgramFiles64Folder [i686]=ProgramFilesFolder)
# The components of the x64 package are 64-bit ones (msidbComponentAttributes64bit).
declare -A component_bits=([x86_64]=256 [i686]=0)

project_version() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/${preset[$1]}/CMakeCache.txt"
}

# The files the program's folder must hold, relative to it, sorted.
expected_files() {
  local help=$root/build/${preset[$1]}/src/win32/help
  [ -n "$(ls -A "$help")" ] || fail "no help pages in $help"
  { printf '%s\n' lapse.exe lapse-cli.exe LICENSE.txt
    (cd "$help/.." && find help -type f); } | sort
}

# The rows of a table of an installer, without its three lines of heading.
# Its binary fields go into files in build/msi/TABLE/.
msi_rows() {
  (cd "$msi_dir" && msiinfo export "$1" "$2") | tr -d '\r' | tail -n +4
}

check_msi_tables() {
  local target=$1 msi=$2 version=$3
  local name tables row
  name=$(basename "$msi")
  msiinfo suminfo "$msi" | tr -d '\r' | grep -qxF "Template: ${template[$target]}" ||
    fail "$name is not a ${template[$target]} package"
  for row in "ProductName${tab}Lapse" "ProductVersion${tab}$version" \
             "Manufacturer${tab}The Lapse developers" "UpgradeCode${tab}$upgrade_code" \
             "ALLUSERS${tab}1" "ARPPRODUCTICON${tab}lapse.ico"; do
    msi_rows "$msi" Property | grep -qxF "$row" || fail "$name: no property ${row/$tab/ = }"
  done
  msi_rows "$msi" Directory | grep -qxF "INSTALLDIR$tab${program_files_id[$target]}${tab}Lapse" ||
    fail "$name does not install into ${program_files[$target]}\\Lapse"

  # Each file with its folder below the program's: File to Component to Directory.
  tables=$msi_dir/tables
  rm -rf "$tables"
  mkdir -p "$tables"
  for row in File Component Directory; do
    msi_rows "$msi" "$row" >"$tables/$row"
  done
  diff <(expected_files "$target") <(awk -F '\t' '
      function long(name) { sub(/.*\|/, "", name); return name }
      FILENAME ~ /Directory$/ { parent[$1] = $2; folder[$1] = long($3); next }
      FILENAME ~ /Component$/ { directory[$1] = $3; next }
      {
        path = long($3)
        for (d = directory[$2]; d != "INSTALLDIR"; d = parent[d]) {
          if (d == "") { path = "(outside the program folder) " path; break }
          path = folder[d] "/" path
        }
        print path
      }' "$tables/Directory" "$tables/Component" "$tables/File" | sort) ||
    fail "$name holds other files than the build (< build, > package)"
  awk -F '\t' -v bits="${component_bits[$target]}" 'int($4 / 256) % 2 != bits / 256 { exit 1 }' \
    "$tables/Component" || fail "$name has components of the wrong word size"
  rm -rf "$tables"

  # A plain shortcut to lapse.exe in the Start menu, with the program's icon,
  # that starts in the user's documents.
  msi_rows "$msi" Shortcut | awk -F '\t' '$2 == "ProgramMenuFolder" && $3 == "Lapse" &&
      $4 == "lapse.exe" && $5 == "[#lapse.exe]" && $9 == "lapse.ico" &&
      $12 == "PersonalFolder" { found = 1 } END { exit !found }' ||
    fail "$name has no Start-menu shortcut to lapse.exe that starts in the documents folder"
  rm -rf "$msi_dir/Icon"
  msi_rows "$msi" Icon | grep -q "^lapse\.ico$tab" &&
    cmp -s "$msi_dir/Icon/Icon.lapse.ico" "$root/packaging/windows/lapse.ico" ||
    fail "$name does not carry the program's icon"
  # A major upgrade: every Lapse up to this version, this one included, is
  # removed before the files are installed; a newer one stops the install.
  msi_rows "$msi" Upgrade | awk -F '\t' -v code="$upgrade_code" -v version="$version" '
      $1 == code && $2 == "" && $3 == version && int($5 / 512) % 2 == 1 &&
        $7 == "WIX_UPGRADE_DETECTED" { older = 1 }
      $1 == code && $2 == version && $3 == "" && int($5 / 2) % 2 == 1 &&
        $7 == "WIX_DOWNGRADE_DETECTED" { newer = 1 }
      END { exit !(older && newer) }' || fail "$name does not upgrade Lapse $version and older"
  msi_rows "$msi" LaunchCondition | grep -q "^NOT WIX_DOWNGRADE_DETECTED$tab" ||
    fail "$name installs over a newer Lapse"
  msi_rows "$msi" InstallExecuteSequence | awk -F '\t' '{ at[$1] = $3 }
      END { exit !(at["InstallValidate"] < at["RemoveExistingProducts"] &&
                   at["RemoveExistingProducts"] < at["InstallInitialize"]) }' ||
    fail "$name does not remove the older Lapse first"
  # An uninstall, not an upgrade, has the installed lapse-cli.exe stop the
  # uninstalling user's daily updates before the files go: an EXE of the
  # package (18) in the script (msidbCustomActionTypeInScript, 1024) as that
  # user (no msidbCustomActionTypeNoImpersonate), whose exit status is
  # ignored (msidbCustomActionTypeContinue, 64).
  msi_rows "$msi" CustomAction | grep -qxF "UnscheduleAll${tab}1106${tab}lapse_cli.exe${tab}unschedule --all$tab" ||
    fail "$name has no action that runs lapse-cli.exe unschedule --all, deferred, as the user"
  msi_rows "$msi" InstallExecuteSequence | awk -F '\t' '{ at[$1] = $3; when[$1] = $2 }
      END { exit !(when["UnscheduleAll"] == "REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE" &&
                   at["InstallInitialize"] < at["UnscheduleAll"] &&
                   at["UnscheduleAll"] < at["RemoveFiles"] &&
                   at["RemoveFiles"] < at["InstallFinalize"]) }' ||
    fail "$name does not unschedule on an uninstall alone, in the script before RemoveFiles"
}

msiexec() {
  "$wine64" msiexec "$@" </dev/null
}

# The entries named Lapse under installed programs, as lapse_keys gives them.
lapse_entries() {
  local key
  for key in "${uninstall_keys[@]}"; do
    lapse_keys "$key" DisplayName "$@"
  done
}

# The registry keys below KEY whose value NAMED is Lapse, one line each: the
# key, then the values asked for, tab-separated.
lapse_keys() {
  local key=$1 named=$2
  shift 2
  "$wine64" reg query "$key" /s </dev/null | tr -d '\r' | awk -v named="$named" -v asked="$*" '
    function flush(  line, i) {
      if (value[named] == "Lapse") {
        line = key
        for (i = 1; i <= count; i++) line = line "\t" value[want[i]]
        print line
      }
      split("", value)
    }
    BEGIN { count = split(asked, want, " ") }
    /^HKEY/ { flush(); key = $0; next }
    { split($0, field, /    /); if (field[2] != "") value[field[2]] = field[4] }
    END { flush() }'
}

# Lapse as one package of VERSION installed it: the files as built, the
# Start-menu shortcut, lapse-cli.exe that runs, and one entry under installed
# programs with the version, the publisher and the icon. Sets product_code.
check_installed() {
  local target=$1 version=$2
  local folder="$WINEPREFIX/drive_c/${program_files[$target]}/Lapse" build=$root/build/${preset[$target]}
  local file entries entry shown publisher uninstall shortcuts said icons icon
  [ -d "$folder" ] || fail "no C:\\${program_files[$target]}\\Lapse after installing Lapse $version"
  diff <(expected_files "$target") <(cd "$folder" && find . -type f | sed 's|^\./||' | sort) ||
    fail "C:\\${program_files[$target]}\\Lapse holds other files than the build (< build, > installed)"
  while read -r file; do
    case $file in
      lapse-cli.exe) cmp -s "$build/src/cli/lapse-cli.exe" "$folder/$file" ;;
      LICENSE.txt) sed 's/$/\r/' "$root/LICENSE" | cmp -s - "$folder/$file" ;;
      *) cmp -s "$build/src/win32/$file" "$folder/$file" ;;
    esac || fail "the installed $file differs from the build"
  done < <(expected_files "$target")

  mapfile -t shortcuts < <(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Lapse.lnk')
  [ ${#shortcuts[@]} -eq 1 ] || fail "${#shortcuts[@]} Start-menu shortcuts named Lapse: ${shortcuts[*]}"
  tr -d '\0' <"${shortcuts[0]}" | grep -aqF "C:\\${program_files[$target]}\\Lapse\\lapse.exe" ||
    fail "the Start-menu shortcut does not start C:\\${program_files[$target]}\\Lapse\\lapse.exe"

  said=$("${loader[$target]}" "C:\\${program_files[$target]}\\Lapse\\lapse-cli.exe" --version </dev/null |
           tr -d '\r')
  [ "$said" = "lapse-cli $(project_version "$target")" ] || fail "the installed lapse-cli.exe says: $said"

  mapfile -t entries < <(lapse_entries DisplayVersion Publisher UninstallString)
  [ ${#entries[@]} -eq 1 ] || fail "${#entries[@]} entries for Lapse under installed programs"
  IFS=$tab read -r entry shown publisher uninstall <<<"${entries[0]}"
  product_code=${entry##*\\}
  [ "$shown" = "$version" ] || fail "the entry for Lapse says version $shown, not $version"
  [ "$publisher" = "The Lapse developers" ] || fail "the entry for Lapse names the publisher $publisher"
  [ "$uninstall" = "MsiExec.exe /X$product_code" ] || fail "the entry for Lapse uninstalls with: $uninstall"
  # Installed programs show the icon that Windows Installer keeps for the product.
  mapfile -t icons < <(lapse_keys "$products_key" ProductName ProductIcon)
  [ ${#icons[@]} -eq 1 ] || fail "Windows Installer records ${#icons[@]} products named Lapse"
  icon=$("$wine64" winepath.exe --unix "${icons[0]#*$tab}" </dev/null | tr -d '\r')
  cmp -s "$icon" "$root/packaging/windows/lapse.ico" || fail "the icon of the entry for Lapse is not lapse.ico"
}

check_nothing_left() {
  local target=$1 after=$2 left
  [ ! -e "$WINEPREFIX/drive_c/${program_files[$target]}/Lapse" ] ||
    fail "$after, C:\\${program_files[$target]}\\Lapse is left"
  # The shortcut, and the icon kept for the entry under installed programs.
  left=$(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Lapse.lnk' -o \
              -path '*/windows/Installer/*' -name lapse.ico)
  [ -z "$left" ] || fail "$after, these are left: $left"
  [ -z "$(lapse_entries)" ] || fail "$after, an entry for Lapse is left"
  [ -z "$(lapse_keys "$products_key" ProductName)" ] || fail "$after, Windows Installer still knows Lapse"
}

# The daily update of a folder that the installed lapse-cli.exe schedules.
# wine's Task Scheduler keeps the task without ever starting it (lapse-cli
# says so and exits with 1), as a file in C:\windows\system32\tasks\Lapse;
# lapse-cli keeps its record in the user's state folder. The file is all
# wine shows of a task: its schtasks /Query exits with 0 for any name. What
# wine cannot show: that the task would start, and what a Windows uninstall
# run from an administrator's prompt gives the action (wine has one user and
# no UAC).
readonly task_site='C:\lapse-site'
schedule_task() {
  local target=$1 said status=0
  mkdir -p "$WINEPREFIX/drive_c/lapse-site"
  said=$("${loader[$target]}" "C:\\${program_files[$target]}\\Lapse\\lapse-cli.exe" schedule \
           "$task_site" </dev/null 2>&1 | tr -d '\r') || status=$?
  [ "$status" -le 1 ] || fail "the installed lapse-cli.exe did not schedule $task_site: $said"
  check_task_kept "after scheduling $task_site"
}

# The tasks in wine's task folder Lapse, one path a line.
wine_tasks() {
  find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname tasks -type d -print0 |
    xargs -0 -I '{}' find '{}/Lapse' -type f 2>/dev/null || true
}
# lapse-cli's records of the tasks, in the user's state folder.
task_records() {
  find "$WINEPREFIX"/drive_c/users/*/AppData/Local/Lapse/tasks -name '*.json' 2>/dev/null || true
}

check_task_kept() {
  local after=$1 count
  count=$(wine_tasks | grep -c . || true)
  [ "$count" -eq 1 ] || fail "$after, wine's Task Scheduler holds $count tasks of Lapse"
  count=$(task_records | grep -c . || true)
  [ "$count" -eq 1 ] || fail "$after, lapse-cli keeps $count records of tasks"
}

# The uninstall removed the task and its record, and left the state folder.
check_task_removed() {
  local after=$1 left
  left=$(wine_tasks; task_records)
  [ -z "$left" ] || fail "$after, the task of $task_site is left: $left"
  compgen -G "$WINEPREFIX/drive_c/users/*/AppData/Local/Lapse" >/dev/null ||
    fail "$after, the user's state folder is gone"
}

# Install, uninstall, then an upgrade in place to a higher version, over it a
# second package of that version (another ProductCode), a refused downgrade,
# and the uninstall of the lot. A task scheduled by the installed lapse-cli
# goes with each uninstall, and stays when Lapse is removed for an upgrade.
# Windows Installer removes the older Lapse of an upgrade with
# UPGRADINGPRODUCTCODE set to the new one's ProductCode; wine's
# RemoveExistingProducts does not set it, so that under wine an upgrade
# removes the tasks too. The removal an upgrade makes on Windows is made here
# by hand: msiexec /x with the property given.
test_installer() {
  local target=$1 version=$2 package=$3
  local higher rebuild major minor first upgraded msi
  IFS=. read -r major minor _ <<<"$version"
  higher=$msi_dir/lapse-$major.$((minor + 1))-${package_name[$target]}.msi
  rebuild=$msi_dir/lapse-$major.$((minor + 1))-${package_name[$target]}-rebuild.msi
  scripts/make-msi.sh "${preset[$target]}" "$higher" "$major.$((minor + 1))" >/dev/null
  scripts/make-msi.sh "${preset[$target]}" "$rebuild" "$major.$((minor + 1))" >/dev/null
  local -A windows=()
  for msi in "$package" "$higher" "$rebuild"; do
    windows[$msi]=$("$wine64" winepath.exe --windows "$msi" </dev/null | tr -d '\r')
  done

  msiexec /i "${windows[$package]}" /qn || fail "msiexec /i $(basename "$package") exited with $?"
  check_installed "$target" "$version"
  first=$product_code
  schedule_task "$target"
  msiexec /x "${windows[$package]}" /qn UPGRADINGPRODUCTCODE="{00000000-0000-0000-0000-000000000001}" ||
    fail "msiexec /x $(basename "$package") UPGRADINGPRODUCTCODE=... exited with $?"
  check_nothing_left "$target" "after the removal of Lapse $version for an upgrade"
  check_task_kept "after the removal of Lapse $version for an upgrade"
  msiexec /i "${windows[$package]}" /qn || fail "msiexec /i $(basename "$package") exited with $?"
  check_installed "$target" "$version"
  msiexec /x "${windows[$package]}" /qn || fail "msiexec /x $(basename "$package") exited with $?"
  check_nothing_left "$target" "after the uninstall of Lapse $version"
  check_task_removed "after the uninstall of Lapse $version"

  msiexec /i "${windows[$package]}" /qn || fail "msiexec /i $(basename "$package") exited with $?"
  msiexec /i "${windows[$higher]}" /qn || fail "msiexec /i $(basename "$higher") exited with $?"
  check_installed "$target" "$major.$((minor + 1))"
  upgraded=$product_code
  [ "$upgraded" != "$first" ] || fail "the upgrade kept the ProductCode of Lapse $version"
  msiexec /i "${windows[$rebuild]}" /qn || fail "msiexec /i $(basename "$rebuild") exited with $?"
  check_installed "$target" "$major.$((minor + 1))"
  [ "$product_code" != "$upgraded" ] || fail "the second package of one version was not installed"
  if msiexec /i "${windows[$package]}" /qn; then
    fail "Lapse $version installed over Lapse $major.$((minor + 1))"
  fi
  check_installed "$target" "$major.$((minor + 1))"
  schedule_task "$target"
  msiexec /x "${windows[$rebuild]}" /qn || fail "msiexec /x $(basename "$rebuild") exited with $?"
  check_nothing_left "$target" "after the uninstall of the upgrade"
  check_task_removed "after the uninstall of the upgrade"
}

test_installers() {
  local target version started=$SECONDS
  local -A installers=()
  for target in "${built[@]}"; do
    version=$(project_version "$target")
    installers[$target]=$msi_dir/lapse-$version-${package_name[$target]}.msi
    scripts/make-msi.sh "${preset[$target]}" "${installers[$target]}"
    check_msi_tables "$target" "${installers[$target]}" "$version"
    outcome[$target]+="; installer tables checked"
  done
  # winemenubuilder would copy the Start-menu shortcut into this machine's
  # own desktop menu.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  loader[msi]=$wine64 prefix[msi]=$root/build/wine64-msi arch[msi]=win64
  WINEPREFIX=${prefix[msi]} wineserver --kill 2>/dev/null || true
  rm -rf "${prefix[msi]}"
  start_wine msi
  for target in "${targets[@]}"; do
    test_installer "$target" "$(project_version "$target")" "${installers[$target]}"
    outcome[$target]+=", installed, upgraded in place and uninstalled (a scheduled task goes with each uninstall, and stays through a removal for an upgrade)"
  done
  echo "test-windows: the installers took $((SECONDS - started)) s"
}

# clang-tidy over the code only Windows builds (the native windows, the
# Windows disk, the Windows halves of the clock, the file handles and
# lapse-cli's main), with the checks of the root .clang-tidy and the 64-bit
# build's compile database; clang is told MinGW's target and C++ library.
tidy_windows() {
  local gcc=/usr/lib/gcc/x86_64-w64-mingw32/12-posix
  run-clang-tidy-14 -quiet -j 2 -p "$root/build/windows64" \
    -extra-arg=--target=x86_64-w64-mingw32 -extra-arg=-nostdinc++ \
    "-extra-arg=-isystem$gcc/include/c++" "-extra-arg=-isystem$gcc/include/c++/x86_64-w64-mingw32" \
    "-extra-arg=-isystem$gcc/include/c++/backward" \
    "$root/src/(win32/.*|platform/(windows_disk|clock|file_handle)|cli/main)\.cpp$" ||
    fail "clang-tidy found something in the Windows code"
}

built=(x86_64 i686)
if [ "$installers_only" = 1 ]; then
  built=(x86_64)
  build_target x86_64
  targets=(x86_64)
  test_installers
  echo "Windows installer, x64 under the 64-bit wine:${outcome[x86_64]#;}"
  echo "No suite, no clang-tidy, no end-to-end run (LAPSE_WINDOWS_INSTALLERS_ONLY=1)"
  exit 0
fi
for target in "${built[@]}"; do
  build_target "$target"
done
tidy_windows
targets=(x86_64)
[ "$run32" = yes ] && targets+=(i686)
for target in "${targets[@]}"; do
  start_wine "$target"
  run_suite "$target"
  run_cli "$target"
done
scripts/e2e-windows.sh "$root/build/windows64/src/win32/lapse.exe"
outcome[x86_64]+="; lapse.exe driven end to end"
test_installers

echo "Windows code: clang-tidy found nothing"
echo "Windows suites:"
echo "  x86_64 (64-bit wine): ${outcome[x86_64]}"
if [ "$run32" = yes ]; then
  echo "  i686 (32-bit wine): ${outcome[i686]}"
else
  echo "  i686: built and checked${outcome[i686]:-}; not run ($why32)"
fi
