#!/usr/bin/env bash
# Makes the Windows installer of one Windows build with wixl:
#   scripts/make-msi.sh windows64|windows OUTPUT.msi [VERSION]
# windows64 makes the x64 package, which installs into the 64-bit Program
# Files, windows the x86 one. The version is the CMake project version of the
# build unless one is given (the tests give a higher one to try an upgrade).
# Needs the build (scripts/test-windows.sh) and Debian's wixl and msitools
# (LAPSE_MSI_PACKAGES in scripts/packages.sh).
set -euo pipefail

usage() {
  echo "usage: scripts/make-msi.sh windows64|windows OUTPUT.msi [VERSION]" >&2
  exit 2
}
fail() {
  echo "make-msi: $*" >&2
  exit 1
}
[ $# -ge 2 ] && [ $# -le 3 ] || usage
preset=$1
output=$(realpath -m -- "$2")
case $preset in
  windows64) arch=x64 win64=yes ;;
  windows) arch=x86 win64=no ;;
  *) usage ;;
esac
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/$preset
[ -f "$build/src/win32/lapse.exe" ] || fail "no $build/src/win32/lapse.exe: run scripts/test-windows.sh"
version=${3:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")}
# What Windows Installer compares: major.minor.build, each a small number.
[[ $version =~ ^[0-9]{1,3}\.[0-9]{1,3}(\.[0-9]{1,5})?$ ]] || fail "not a package version: '$version'"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program as it is installed, as the zips hold it.
stage=$work/Lapse
mkdir -p "$stage"
cp "$build/src/win32/lapse.exe" "$build/src/cli/lapse-cli.exe" packaging/windows/lapse.ico "$stage/"
cp -r "$build/src/win32/help" "$stage/"
# Notepad shows text files with CR LF line ends.
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"

(cd "$work" && find Lapse/help -type f | sort |
   wixl-heat --prefix Lapse/ --directory-ref INSTALLDIR --component-group HelpPages \
     --var var.SourceDir --win64) >"$work/help.wxs"
mkdir -p "$(dirname "$output")"
# wixl finds the files it packs by paths relative to where it runs.
(cd "$work" && wixl --arch "$arch" --define Version="$version" --define Win64="$win64" \
   --define SourceDir=Lapse --output "$output" "$root/packaging/windows/lapse.wxs" help.wxs)

# MajorUpgrade in wixl finds only older versions; with the upgrade's
# maximum version inclusive (msidbUpgradeAttributesVersionMaxInclusive), a
# package of the same version is replaced too, as WiX's
# AllowSameVersionUpgrades does, rather than installed beside it.
mkdir "$work/idt"
msiinfo export "$output" Upgrade | tr -d '\r' |
  awk -F '\t' -v OFS='\t' 'NR > 3 && $7 == "WIX_UPGRADE_DETECTED" { $5 += 512 } { print }' \
    >"$work/idt/Upgrade.idt"
msibuild "$output" -i "$work/idt/Upgrade.idt"
msiinfo export "$output" Upgrade | tr -d '\r' |
  awk -F '\t' '$7 == "WIX_UPGRADE_DETECTED" && int($5 / 512) % 2 == 1 { found = 1 } END { exit !found }' ||
  fail "the upgrade row of $output does not take the same version"
echo "$output (Lapse $version, $arch)"
