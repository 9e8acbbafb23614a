# Sourced by the scripts: installs the Debian packages that are missing.
# Works on a fresh Debian 12 machine as root (or with sudo).

lapse_install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # Another apt-get or an unattended upgrade may hold the package manager's
  # lock; wait for it rather than fail.
  local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600
    -o Acquire::Retries=3)
  # A mirror in the middle of a sync serves index files of the wrong size
  # for a minute or two: try the update again before giving up. An update
  # that still fails leaves the lists it had, and the install says whether
  # they were enough.
  local attempt
  for attempt in 1 2 3; do
    "${apt[@]}" update -qq && break
    [ "$attempt" -lt 3 ] || break
    echo "apt-get update failed (attempt $attempt of 3); trying again in 20 s" >&2
    sleep 20
  done
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

# What building the project and its tests needs (patch applies the diffs of
# lapse-cli diff in its test).
LAPSE_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libcli11-dev zlib1g-dev
                      libacl1-dev libattr1-dev libxxhash-dev nlohmann-json3-dev libutfcpp-dev
                      groff-base patch)

# What the schedule's tests check the written entries against: systemd's
# systemd-analyze and systemd-escape (no manager needs to run), and cron's
# crontab command.
LAPSE_SCHEDULE_TEST_PACKAGES=(systemd cron)

# What the desktop program, its headless tests and the screenshots need: Qt 6
# Widgets, a font, the desktop's file opener, and a virtual X server with the
# tools that drive it.
LAPSE_GUI_PACKAGES=(qt6-base-dev qt6-svg-dev fonts-dejavu-core xdg-utils xvfb xauth x11-utils xdotool
                    imagemagick)

# What the benchmarks under bench/ need on top of the build (strace counts the
# pages a quiet day's update opens).
LAPSE_BENCH_PACKAGES=(libbenchmark-dev time strace)

# What the fuzzers and the static checks need besides the build packages:
# clang 14 with its sanitizer and libFuzzer runtimes, and clang-tidy.
LAPSE_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
LAPSE_TIDY_PACKAGES=(clang-tidy-14)

# What making and checking the packages needs: dpkg-shlibdeps, lintian, the
# validators of the desktop entry and the metainfo, and man.
LAPSE_PACKAGE_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream man-db)

# What makes and reads the Windows installers (scripts/make-msi.sh): wixl,
# and msitools for msiinfo, msibuild and msiextract.
LAPSE_MSI_PACKAGES=(wixl msitools)
