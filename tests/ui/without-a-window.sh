#!/usr/bin/env bash
# lapse --version and --help answer on stdout with exit 0, with or without a
# display; without one, lapse says so and ends with exit 2; with a display
# that cannot be reached, it ends with exit 2 too, never with an abort.
set -u
lapse=$1
failed=0
expect() {
  local want_status=$1 want_text=$2 stream=$3
  shift 3
  local out err status
  out=$(mktemp) err=$(mktemp)
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$out" 2>"$err"
  status=$?
  local said
  said=$(cat "$([ "$stream" = out ] && echo "$out" || echo "$err")")
  if [ "$status" -ne "$want_status" ] || ! grep -qF -- "$want_text" <<<"$said"; then
    echo "FAIL: $* -> exit $status, stdout: $(cat "$out"), stderr: $(cat "$err")"
    failed=1
  fi
  rm -f "$out" "$err"
}
expect 0 "lapse " out "$lapse" --version
expect 0 "Usage: lapse" out "$lapse" --help
expect 0 "Usage: lapse" out "$lapse" -h
expect 2 "no display" err "$lapse"
expect 2 "cannot be opened" err DISPLAY=:9999 QT_QPA_PLATFORM=xcb "$lapse"
exit "$failed"
