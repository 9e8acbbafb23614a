#!/usr/bin/env bash
# Installs the Debian packages that scripts/package.sh made, as a user would,
# and tries them: lapse-cli alone, as on a web server, pulls in no GUI
# library, runs and replaces, and its man page is found; then lapse, the
# desktop program, starts, and its man page, desktop entry and metainfo are
# right; lintian finds no error in either. Removes both again on every way
# out.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_PACKAGE_PACKAGES[@]}"
cli_deb=$(ls build/package/lapse-cli_*.deb | tail -n 1)
deb=$(ls build/package/lapse_*.deb | tail -n 1)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq)
fail() {
  echo "check-package: $*" >&2
  exit 1
}
# Each installed one: apt-get refuses a list that names one it does not know.
remove() {
  local package
  for package in lapse lapse-cli; do
    if dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q ' installed$'; then
      "${apt[@]}" remove "$package" >/dev/null
    fi
  done
}
trap remove EXIT
remove
"${apt[@]}" install "./$cli_deb" >/dev/null
# What a server gets: no Qt, no X, no desktop program.
if dpkg-deb -f "$cli_deb" Depends | grep -Eiq 'qt|libx|libgl|wayland'; then
  fail "lapse-cli depends on a GUI library: $(dpkg-deb -f "$cli_deb" Depends)"
fi
[ ! -e /usr/bin/lapse ] || fail "lapse-cli installed the desktop program"

[ "$(/usr/bin/lapse-cli --version)" = "lapse-cli $(dpkg-deb -f "$cli_deb" Version | cut -d- -f1)" ] ||
  fail "lapse-cli --version says $(/usr/bin/lapse-cli --version)"
site=$(mktemp -d)
printf 'keep\n<!--LAPSE 01/01/20\nold\n<!--ENDL\n' >"$site/index.htm"
/usr/bin/lapse-cli run "$site" >/dev/null || fail "lapse-cli run failed"
/usr/bin/lapse-cli replace --quiet "$site" || fail "lapse-cli replace failed"
[ "$(od -An -c "$site/index.htm")" = "$(printf 'keep\n' | od -An -c)" ] ||
  fail "the page was not rewritten"
rm -rf "$site"
man -w lapse-cli >/dev/null || fail "no man page for lapse-cli"

"${apt[@]}" install "./$deb" >/dev/null
dpkg-deb -f "$deb" Depends | grep -q "lapse-cli (= $(dpkg-deb -f "$cli_deb" Version))" ||
  fail "lapse does not depend on this lapse-cli: $(dpkg-deb -f "$deb" Depends)"

# The desktop program starts and stays up until it is ended.
status=0
HOME=$(mktemp -d) QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/lapse || status=$?
[ "$status" -eq 124 ] || fail "lapse ended on its own with status $status"

for page in lapse-cli lapse; do
  man -w "$page" >/dev/null || fail "no man page for $page"
  # As a user reads it: man's own formatter, warnings on.
  warnings=$(MANWIDTH=80 man --warnings "$page" 2>&1 >/dev/null) || fail "man $page failed"
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
done
desktop-file-validate /usr/share/applications/lapse.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/io.lapse.Lapse.metainfo.xml || fail "appstreamcli"
for size in 16x16 32x32 48x48; do
  [ -f "/usr/share/icons/hicolor/$size/apps/lapse.png" ] || fail "no $size icon"
done
[ -f /usr/share/icons/hicolor/scalable/apps/lapse.svg ] || fail "no scalable icon"
# Warnings are shown; errors fail.
lintian --tag-display-limit 0 "$cli_deb" "$deb" | tee build/package/lintian.txt
! grep -q '^E:' build/package/lintian.txt || fail "lintian found errors"
# Removing the desktop program leaves the tool a server's schedule starts.
"${apt[@]}" remove lapse >/dev/null
[ -x /usr/bin/lapse-cli ] && [ ! -e /usr/bin/lapse ] || fail "removing lapse took lapse-cli along"
echo "check-package: $cli_deb and $deb install, run, remove and pass lintian"
