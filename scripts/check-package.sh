#!/usr/bin/env bash
# Installs the Debian package that scripts/package.sh made, as a user would,
# and tries it: lapse-cli runs and replaces, the desktop program starts, the
# man page is found, the desktop entry, the metainfo and lintian find no
# error. Removes the package again on every way out.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_PACKAGE_PACKAGES[@]}"
deb=$(ls build/package/lapse_*.deb | tail -n 1)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq)
fail() {
  echo "check-package: $*" >&2
  exit 1
}
remove() { "${apt[@]}" remove lapse >/dev/null || true; }
trap remove EXIT
"${apt[@]}" install "./$deb" >/dev/null

[ "$(/usr/bin/lapse-cli --version)" = "lapse-cli $(dpkg-deb -f "$deb" Version | cut -d- -f1)" ] ||
  fail "lapse-cli --version says $(/usr/bin/lapse-cli --version)"
site=$(mktemp -d)
printf 'keep\n<!--LAPSE 01/01/20\nold\n<!--ENDL\n' >"$site/index.htm"
/usr/bin/lapse-cli run "$site" >/dev/null || fail "lapse-cli run failed"
/usr/bin/lapse-cli replace --quiet "$site" || fail "lapse-cli replace failed"
[ "$(od -An -c "$site/index.htm")" = "$(printf 'keep\n' | od -An -c)" ] ||
  fail "the page was not rewritten"
rm -rf "$site"

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
lintian --tag-display-limit 0 "$deb" | tee build/package/lintian.txt
! grep -q '^E:' build/package/lintian.txt || fail "lintian found errors"
echo "check-package: $deb installs, runs and passes lintian"
