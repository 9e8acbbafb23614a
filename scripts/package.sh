#!/usr/bin/env bash
# Builds the release preset and makes the packages: with CPack the Debian
# package build/package/lapse_VERSION-1_amd64.deb, and from the Windows
# builds (made by scripts/test-windows.sh where they are missing) the zips
# build/package/lapse-VERSION-win64.zip and -win32.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_GUI_PACKAGES[@]}" \
  "${LAPSE_PACKAGE_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
mkdir -p build/package
(cd build/release && cpack -G DEB)
ls build/package/lapse_"$version"-1_*.deb

for target in windows64 windows; do
  [ -f "build/$target/src/win32/lapse.exe" ] || scripts/test-windows.sh
done
for pair in "windows64 win64" "windows win32"; do
  read -r preset name <<<"$pair"
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
  # What the zip holds runs, where this machine can run it.
  loader=/usr/lib/wine/wine64 prefix=$root/build/wine64
  if [ "$name" = win32 ]; then
    loader=/usr/lib/wine/wine prefix=$root/build/wine
  fi
  if "$loader" --version >/dev/null 2>&1; then
    check=$(mktemp -d)
    (cd "$check" && cmake -E tar xf "$root/build/package/lapse-$version-$name.zip")
    said=$(WINEPREFIX=$prefix WINEDEBUG=-all \
             "$loader" "$check/lapse-$version-$name/lapse-cli.exe" --version | tr -d '\r')
    rm -rf "$check"
    [ "$said" = "lapse-cli $version" ] || { echo "package: the $name zip's lapse-cli says: $said" >&2; exit 1; }
    echo "build/package/lapse-$version-$name.zip (lapse-cli.exe runs under wine)"
  else
    echo "build/package/lapse-$version-$name.zip (not run: this machine runs no such program)"
  fi
done
