#!/usr/bin/env bash
# The Windows desktop program end to end, as a user drives it, under wine on
# a virtual X screen: starts lapse.exe in a folder with a small site, GO! by
# keyboard, Yes, reads "Processed 3 files.", Replace, Options, Schedule
# (schedules the folder with Task Scheduler, is warned that wine's never
# starts it, and stops it again), Coming up (over two pages added then: a
# sale that ends in five days, a notice shown after it, and a date that
# cannot be read), About,
# Exit; then checks the files and the registry, and takes a screenshot of
# each window into SHOTS.
#   scripts/e2e-windows.sh LAPSE_EXE [SHOTS]
# Needs wine64, Xvfb, xdotool and ImageMagick (scripts/test-windows.sh has
# them installed).
set -euo pipefail

exe=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
shots=$(realpath -m "${2:-$root/build/windows64-e2e/shots}")
work=$root/build/windows64-e2e
readonly wine=/usr/lib/wine/wine64

fail() {
  echo "e2e-windows: $*" >&2
  exit 1
}

mkdir -p "$work" "$shots"
# One run at a time in this folder: a second would clobber the first's site.
exec 9>"$work/.lock"
flock -n 9 || fail "another run uses $work"
site=$work/site
rm -rf "$site"
mkdir -p "$site"
printf 'keep\r\n<!--LAPSE 01/01/20\r\nlapsed\r\n<!--ENDL\r\nend\r\n' >"$site/index.htm"
printf '<p>plain</p>\r\n' >"$site/plain.html"
printf 'notes\r\n' >"$site/notes.txt"

# A prefix of its own, with wine's X11 driver: the test suite's prefix draws
# nothing.
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 300 "$wine" wineboot --init </dev/null >/dev/null 2>&1
  timeout 60 wineserver --wait || true
fi
# Task Scheduler's service, which the schedule dialog's schtasks needs; wine
# starts it only when asked (and may report a timeout while it does).
timeout 120 "$wine" net start schedule </dev/null >/dev/null 2>&1 || true
tasks=$WINEPREFIX/drive_c/windows/system32/tasks/Lapse

# A display of its own: Xvfb picks a free number and tells it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  wineserver --kill 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$site"
}
trap cleanup EXIT
for _ in $(seq 300); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || fail "Xvfb did not start"
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb named no display"
export DISPLAY=:$(cat "$work/display")

# A window of that exact title other than the ones given, once it is there.
window_named() {
  local title=$1 id
  shift
  for _ in $(seq 300); do
    for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null || true); do
      if [[ " $* " != *" $id "* ]]; then
        echo "$id"
        return 0
      fi
    done
    sleep 0.1
  done
  import -window root "$shots/failed.png" || true
  fail "no window \"$title\" appeared (the screen is in $shots/failed.png)"
}

press() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.3
  xdotool key "$2"
  sleep 0.5
}

# A picture of one window, frame included.
shoot() {
  sleep 0.5
  import -window "$1" "$shots/$2.png"
}

# In a wine desktop of its own, which draws the windows' frames as Windows
# does: there is no window manager here.
(cd "$site" && exec "$wine" explorer /desktop=Lapse-e2e,1024x768 "$exe" </dev/null \
  >"$work/lapse.log" 2>&1) &
program=$!
main=$(window_named Lapse)
shoot "$main" windows-main

press "$main" Return  # GO! has the focus
question=$(window_named Lapse "$main")
press "$question" Return  # Yes is the default
told=$(window_named Lapse "$main" "$question")
shoot "$told" windows-processed
[ -f "$site/New/index.htm" ] && [ -f "$site/New/plain.html" ] || fail "the run wrote no copies"
press "$told" Return
# "Processed 3 files." was the only box: nothing else asks or warns.
sleep 0.5
[ "$(xdotool search --onlyvisible --name '^Lapse$' 2>/dev/null)" = "$main" ] ||
  fail "another box followed the count"
[ "$(od -An -c "$site/New/index.htm")" = "$(printf 'keep\r\nend\r\n' | od -An -c)" ] ||
  fail "the copy holds $(od -An -c "$site/New/index.htm")"

press "$main" alt+r  # Replace old files
sleep 1
[ ! -e "$site/New" ] || fail "the replace left New"
[ "$(od -An -c "$site/index.htm")" = "$(printf 'keep\r\nend\r\n' | od -An -c)" ] ||
  fail "the replaced page holds $(od -An -c "$site/index.htm")"
[ -f "$site/Log.txt" ] || fail "the replace did not move the log up"

press "$main" alt+s
press "$main" o
options=$(window_named Options)
shoot "$options" windows-options
press "$options" Escape

press "$main" alt+s
press "$main" s
schedule=$(window_named Schedule)
# Each schtasks takes a few seconds under wine.
task_there() {
  for _ in $(seq 150); do
    if compgen -G "$tasks/Update *" >/dev/null; then [ "$1" = yes ] && return 0
    else [ "$1" = no ] && return 0; fi
    sleep 0.2
  done
  return 1
}
press "$schedule" Return  # Schedule: the time has the focus
task_there yes || fail "Task Scheduler holds no task of Lapse's"
# Wine's Task Scheduler keeps the task but never starts it: the dialog says
# so in one warning, and nothing else.
warned=$(window_named Lapse "$main")
shoot "$warned" windows-schedule-warning
press "$warned" Return
sleep 1
[ "$(xdotool search --onlyvisible --name '^Lapse$' 2>/dev/null)" = "$main" ] ||
  { import -window root "$shots/failed.png" || true; fail "scheduling showed a second message (the screen is in $shots/failed.png)"; }
shoot "$schedule" windows-schedule
press "$schedule" alt+t  # Stop
task_there no || fail "Stop left the task in Task Scheduler"
sleep 1
press "$schedule" Escape

# Pages the run above never saw, dated from today: a sale that lapsed
# yesterday and the notice shown from today (both change the page today,
# which the window looks at first), a notice that lapses in five days, and
# a date that cannot be read.
day() { date -d "$1" +%m/%d/%y; }
printf '%s\r\n' '<p>Our shop</p>' "<!--LAPSE $(day yesterday)" '<p>Winter sale: 20% off everything</p>' \
  '<!--ENDL' "<!--LSHOW $(day today)" '<p>The winter sale is over. Thank you!</p>' '-->' \
  "<!--LAPSE $(day '+4 days')" '<p>Closed for stocktaking on Friday</p>' '<!--ENDL' \
  '<p>Opening hours: 9 to 6</p>' >"$site/sale.htm"
printf '%s\r\n' '<!--LNEW 31/31/26' '<img src="new.gif" alt="New!">' >"$site/news.htm"
press "$main" alt+s
press "$main" c
coming=$(window_named "Coming up in .*")
# The date picker has the focus; the list's first row is the date that
# cannot be read, the sale comes next.
press "$coming" Tab
press "$coming" Down
shoot "$coming" windows-coming-up
press "$coming" Escape
sleep 0.5
[ -z "$(xdotool search --onlyvisible --name '^Coming up in ' 2>/dev/null)" ] ||
  fail "Escape left the Coming up window open"

press "$main" alt+h
press "$main" a
about=$(window_named "About Lapse")
shoot "$about" windows-about
press "$about" Return

press "$main" alt+f
press "$main" x
for _ in $(seq 100); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.2
done
! kill -0 "$program" 2>/dev/null || fail "Exit left the program running"
wait "$program" || fail "lapse.exe ended with status $? (its output: $work/lapse.log)"

# The options, stored at exit.
query=$(timeout 60 "$wine" reg query 'HKCU\Software\Lapse\New' </dev/null | tr -d '\r')
grep -Eq 'Days +REG_SZ +30$' <<<"$query" || fail "the registry holds: $query"
query=$(timeout 60 "$wine" reg query 'HKCU\Software\Lapse\General' </dev/null | tr -d '\r')
grep -Eq 'Log +REG_SZ +  ?1$' <<<"$query" || fail "the registry holds: $query"
echo "e2e-windows: lapse.exe ran, replaced, scheduled and stored its options; screenshots in $shots"
