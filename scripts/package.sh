#!/usr/bin/env bash
# Makes the packages into build/package/:
#   scripts/package.sh [deb|windows|all]    (all by default)
# deb: the release preset built and packed by CPack into the Debian packages
#   lapse-cli_VERSION-2_amd64.deb (the command-line tool, no GUI library) and
#   lapse_VERSION-2_amd64.deb (the desktop program, which depends on it);
#   installs nothing for Windows.
# windows: from the Windows builds (made by scripts/test-windows.sh where
#   they are missing, brought up to date where they are not) the zips
#   lapse-VERSION-win64.zip and -win32.zip and the installers
#   lapse-VERSION-win64.msi and -win32.msi (scripts/make-msi.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/packages.sh

usage() {
  echo "usage: scripts/package.sh [deb|windows|all]" >&2
  exit 2
}
fail() {
  echo "package: $*" >&2
  exit 1
}
[ $# -le 1 ] || usage
what=${1:-all}
case $what in
  deb | windows | all) ;;
  *) usage ;;
esac

project_version() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$1/CMakeCache.txt"
}

# The Debian package revision that packaging/CMakeLists.txt gives.
debian_revision() {
  sed -n 's/^set(CPACK_DEBIAN_PACKAGE_RELEASE \([0-9]*\))$/\1/p' packaging/CMakeLists.txt
}

make_deb() {
  lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_GUI_PACKAGES[@]}" \
    "${LAPSE_PACKAGE_PACKAGES[@]}"
  cmake --preset release >/dev/null
  cmake --build --preset release -j2
  local version
  version=$(project_version release)-$(debian_revision)
  mkdir -p build/package
  (cd build/release && cpack -G DEB)
  ls build/package/lapse-cli_"$version"_*.deb build/package/lapse_"$version"_*.deb
}

# What a package holds runs, where this machine can run it: lapse-cli.exe
# from FOLDER names the version.
check_runs() {
  local name=$1 folder=$2 version=$3 package=$4
  local loader=/usr/lib/wine/wine64 prefix=$root/build/wine64
  if [ "$name" = win32 ]; then
    loader=/usr/lib/wine/wine prefix=$root/build/wine
  fi
  if "$loader" --version >/dev/null 2>&1; then
    local said
    said=$(WINEPREFIX=$prefix WINEDEBUG=-all "$loader" "$folder/lapse-cli.exe" --version | tr -d '\r')
    [ "$said" = "lapse-cli $version" ] || fail "the lapse-cli.exe of $package says: $said"
    echo "$package (lapse-cli.exe runs under wine)"
  else
    echo "$package (not run: this machine runs no such program)"
  fi
}

make_windows() {
  # cmake packs the zips; wixl and msitools make and read the installers.
  lapse_install_packages cmake "${LAPSE_MSI_PACKAGES[@]}"
  local preset name version stage check installed
  for preset in windows64 windows; do
    if [ -f "build/$preset/src/win32/lapse.exe" ]; then
      cmake --build --preset "$preset" -j2
    else
      scripts/test-windows.sh
    fi
  done
  mkdir -p build/package
  for pair in "windows64 win64" "windows win32"; do
    read -r preset name <<<"$pair"
    version=$(project_version "$preset")
    stage=$root/build/package/lapse-$version-$name
    rm -rf "$stage" "$stage.zip"
    mkdir -p "$stage"
    cp "build/$preset/src/cli/lapse-cli.exe" "build/$preset/src/win32/lapse.exe" "$stage/"
    # The help opens these pages, beside the program, in the browser.
    cp -r "build/$preset/src/win32/help" "$stage/"
    # Notepad shows text files with CR LF line ends.
    sed 's/$/\r/' README.md >"$stage/README.txt"
    sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
    (cd build/package && cmake -E tar cf "lapse-$version-$name.zip" --format=zip "lapse-$version-$name")
    rm -rf "$stage"
    scripts/make-msi.sh "$preset" "build/package/lapse-$version-$name.msi" >/dev/null

    # The installer installs what the zip holds but its README.
    check=$root/build/package-check
    rm -rf "$check"
    mkdir -p "$check"
    (cd "$check" && cmake -E tar xf "$root/build/package/lapse-$version-$name.zip" &&
       mkdir msi && msiextract -C msi "$root/build/package/lapse-$version-$name.msi" >/dev/null)
    rm "$check/lapse-$version-$name/README.txt"
    # msiextract names the 32-bit Program Files, and the 64-bit one not.
    installed=$(find "$check/msi" -type d -name Lapse)
    [ "$(basename "$installed")" = Lapse ] || fail "lapse-$version-$name.msi installs no folder Lapse"
    diff -r "$check/lapse-$version-$name" "$installed" ||
      fail "lapse-$version-$name.msi and .zip hold different programs"
    check_runs "$name" "$check/lapse-$version-$name" "$version" "build/package/lapse-$version-$name.zip"
    check_runs "$name" "$installed" "$version" "build/package/lapse-$version-$name.msi"
    rm -rf "$check"
  done
}

case $what in
  deb) make_deb ;;
  windows) make_windows ;;
  all)
    make_deb
    make_windows
    ;;
esac
