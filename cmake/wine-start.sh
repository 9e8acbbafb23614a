#!/usr/bin/env bash
# Starts a Windows program under the wine loader given first, for ctest's test
# discovery and test runs. Now and then wine fails to start a program at all:
# it exits with status 1 having written nothing, seen when a freshly made
# prefix was still settling. A test program writes a line before it can fail
# (GoogleTest's main says it runs), so a start that wrote nothing and failed
# is tried again, up to three times. What a program writes is passed on as it
# comes, so a test that hangs still shows how far it got.
set -u
loader=$1
shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=1
for attempt in 1 2 3; do
  "$loader" "$@" | tee "$out"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] || [ -s "$out" ]; then
    break
  fi
  echo "wine-start: $(basename "${1:-?}") wrote nothing and exited with $status (start $attempt of 3)" >&2
  sleep 2
done
exit "$status"
