#!/usr/bin/env bash
# Starts Lapse under a virtual X server, opens each window in turn and saves a
# PNG of each into the folder given. Usage: scripts/screenshots.sh FOLDER
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 FOLDER" >&2; exit 2; }
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_GUI_PACKAGES[@]}"

mkdir -p "$1"
out=$(cd "$1" && pwd)
# The release build by default; LAPSE_SCREENSHOT_PRESET=dev takes the
# developers' build. Only the program is built.
preset=${LAPSE_SCREENSHOT_PRESET:-release}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target lapse >/dev/null
program=$PWD/build/$preset/src/app/lapse

work=$(mktemp -d -t lapse-demo.XXXXXX)
xvfb_pid=
lapse_pid=
cleanup() {
  [ -n "$lapse_pid" ] && kill "$lapse_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A small site to run over, with one lapsed block and one lapsed new tag.
site=$work/site
mkdir -p "$site/images"
printf '<html><body>\r\n<!--LAPSE 01/31/2020 -->\r\n<p>Winter sale</p>\r\n<!--ENDL-->\r\n<p>Welcome</p>\r\n</body></html>\r\n' >"$site/index.htm"
printf '<html><body>\r\n<!--LNEW 01/01/2020 -->\r\n<img src="images/new.gif">\r\n<p>News</p>\r\n</body></html>\r\n' >"$site/news.html"
printf 'Notes for the site\r\n' >"$site/notes.txt"
printf 'GIF89a' >"$site/images/new.gif"
# Tags around today for the Coming up window: a block that lapsed yesterday,
# a notice shown from today, and a sale that ends in three days.
day() { date -d "$1" +%m/%d/%Y; }
printf '<html><body>\r\n<!--LAPSE %s -->\r\n<p>Open day: come and see us on Saturday!</p>\r\n<!--ENDL-->\r\n<!--LSHOW %s\r\n<p>Thank you for coming to our open day.</p>\r\n-->\r\n<!--LAPSE %s -->\r\n<p>Spring sale: 20%% off until the weekend.</p>\r\n<!--ENDL-->\r\n<p>Opening hours: 9 to 5</p>\r\n</body></html>\r\n' \
  "$(day yesterday)" "$(day today)" "$(day '2 days')" >"$site/events.htm"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break || sleep 0.1; done 2>/dev/null || sleep 2

# A history in which the site was updated once by its schedule, for the
# schedule dialog to show.
mkdir -p "$work/state/lapse"
printf '{"time":"%s","folder":"%s","recursive":false,"status":0,"rewritten":2,"left_count":0,"left":[],"problem":""}\n' \
  "$(date -u -d 'today 00:05' +%Y-%m-%dT%H:%M:%SZ)" "$site" >"$work/state/lapse/history.jsonl"

(cd "$site" && XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=xcb exec "$program") &
lapse_pid=$!

# The window whose title is exactly $1, once it shows.
window() { xdotool search --sync --onlyvisible --name "^$1\$" | tail -1; }

# A window titled "Lapse" other than the main window: a message box.
message_box() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name '^Lapse$' | grep -v "^$main\$" | tail -1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
  echo "no message box showed" >&2
  exit 1
}

screen() {  # screen FILE: the whole screen, to see where windows open
  sleep 0.6
  import -window root "$out/$1"
  echo "saved $out/$1"
}

shoot() {  # shoot WINDOW-ID FILE
  sleep 0.6
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$2"
  echo "saved $out/$2"
}

key() {  # key WINDOW-ID KEY...
  local id=$1
  shift
  xdotool windowfocus --sync "$id"
  xdotool key --clearmodifiers "$@"
}

main=$(window Lapse)
# Without a window manager nothing activates the window; a desktop would.
xdotool windowfocus --sync "$main"
shoot "$main" main-window.png

key "$main" alt+g
question=$(message_box)
shoot "$question" run-question.png
screen screen-run-question.png
key "$question" Return
sleep 1
done_box=$(message_box)
shoot "$done_box" run-processed.png
screen screen-run-processed.png
key "$done_box" Return
shoot "$main" main-window-after-run.png

key "$main" alt+s o
options=$(window Options)
shoot "$options" options-new-tags.png
eval "$(xdotool getwindowgeometry --shell "$options")"
xdotool mousemove $((X + 30)) $((Y + 20)) click 1
shoot "$options" options-general.png
key "$options" F1
window 'Lapse Help' >/dev/null
screen screen-help-beside-options.png
key "$(window 'Lapse Help')" Escape
key "$options" Escape

key "$main" alt+s s
schedule=$(window Schedule)
shoot "$schedule" schedule-dialog.png
key "$schedule" Escape

key "$main" alt+s c
coming=$(xdotool search --sync --onlyvisible --name '^Coming up in ' | tail -1)
# The first row of events.htm: the block that goes today, beside the notice
# that appears.
key "$coming" Down Down
shoot "$coming" coming-up.png
key "$coming" Escape

key "$main" alt+h a
about=$(window 'About Lapse')
shoot "$about" about-box.png
key "$about" Return

key "$main" Tab Tab Tab
shoot "$main" main-window-list-focus.png

key "$main" F1
help=$(window 'Lapse Help')
shoot "$help" help-window.png

key "$main" alt+f x
wait "$lapse_pid" || true
lapse_pid=
