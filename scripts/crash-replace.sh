#!/usr/bin/env bash
# Kills lapse-cli with SIGKILL at random moments of a run and of a replace over
# 2,000 files, and checks that nothing was lost:
#  - after a killed run, every copy in New under a file's own name is whole,
#    and a replace right after it puts nothing but whole copies in place;
#  - after a killed replace, every page holds its old or its new content, byte
#    for byte, none is missing, and a second replace completes the job, the
#    run's log included.
# A process killed leaves the same files on any file system, so a tmpfs
# (TMPDIR=/dev/shm) serves as well as a disk and is much faster.
# Usage: scripts/crash-replace.sh LAPSE_CLI [ROUNDS]
set -euo pipefail

cli=$(realpath "$1")
rounds=${2:-10}
pages=2000
today=2026-12-08

work=$(mktemp -d "${TMPDIR:-/tmp}/lapse-crash.XXXXXX")
# The pages each replace keeps go beside the site, not into the user's own
# state folder.
export XDG_STATE_HOME=$work/state
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The site: pages of different sizes, each with a lapsed block, so that its
# copy differs from it, plus a file that is not a page.
mkdir template
for ((i = 0; i < pages; i++)); do
  {
    printf 'page %d\r\n<!--LAPSE 12/01/26\r\nold news %d\r\n<!--ENDL\r\n' "$i" "$i"
    for ((j = 0; j < i % 7; j++)); do printf 'body line %d of page %d\r\n' "$j" "$i"; done
  } >"template/page$i.htm"
done
echo "not a page" >template/notes.txt

# The expected copies and log, from one run that nobody disturbs.
cp -a template reference
"$cli" run --today "$today" reference >/dev/null
(cd template && md5sum page*.htm) >old.sums
(cd reference/New && md5sum page*.htm) >new.sums
[ "$(wc -l <new.sums)" -eq "$pages" ] || fail "the undisturbed run made $(wc -l <new.sums) copies"

# The number of pages in a folder; 0 when it does not exist.
page_count() {
  { find "$1" -maxdepth 1 -name 'page*.htm' 2>/dev/null || true; } | wc -l
}

now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# The command line of run or replace over the site.
command_line() {
  if [ "$1" = run ]; then
    echo "run --today $today site"
  else
    echo "replace site"
  fi
}

# Milliseconds that a command over a fresh site takes, start to end.
duration_of() {
  rm -rf site && cp -a template site
  if [ "$1" = replace ]; then
    "$cli" run --today "$today" site >/dev/null
  fi
  local start
  start=$(now_ms)
  # shellcheck disable=SC2046
  "$cli" $(command_line "$1") >/dev/null
  echo $(($(now_ms) - start))
}

# Starts the command and kills it after a random part of its usual duration.
kill_midway() {
  local span=$2
  local delay=$((RANDOM % (span + 1)))
  # shellcheck disable=SC2046
  "$cli" $(command_line "$1") >/dev/null 2>&1 &
  local pid=$!
  sleep "$(printf '0.%03d' "$delay")"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "$delay"
}

# Every listed name with its checksum must be one of the allowed versions.
check_sums() {
  local actual=$1 allowed=$2 what=$3
  awk -v what="$what" 'NR == FNR { ok[$0] = 1; next }
       !($0 in ok) { print "FAIL: " what ": " $2 " is neither old nor new"; bad = 1 }
       END { exit bad }' "$allowed" "$actual" >&2 || exit 1
}

run_span=$(duration_of run)
replace_span=$(duration_of replace)
echo "undisturbed: run ${run_span} ms, replace ${replace_span} ms over $pages pages"

cat old.sums new.sums >either.sums

# A killed run leaves whole copies under real names, or none, and a replace
# straight after it puts only those in place.
for ((round = 1; round <= rounds; round++)); do
  rm -rf site && cp -a template site
  delay=$(kill_midway run "$run_span")
  copies=$(page_count site/New)
  if [ "$copies" -gt 0 ]; then
    (cd site/New && md5sum page*.htm) >actual.sums
    check_sums actual.sums new.sums "copy in New after a run killed at ${delay} ms"
  fi
  (cd site && md5sum page*.htm) | cmp -s - old.sums || fail "a killed run changed a source"
  "$cli" replace site >/dev/null 2>&1 || true
  (cd site && md5sum page*.htm) >actual.sums
  [ "$(wc -l <actual.sums)" -eq "$pages" ] || fail "pages missing after a run killed at ${delay} ms"
  check_sums actual.sums either.sums "page replaced after a run killed at ${delay} ms"
  echo "run killed at ${delay} ms: $copies whole copies, no short one"
done

# A killed replace leaves every page old or new; a second replace finishes.
midway=0
for ((round = 1; round <= rounds; round++)); do
  rm -rf site && cp -a template site
  "$cli" run --today "$today" site >/dev/null
  delay=$(kill_midway replace "$replace_span")
  (cd site && md5sum page*.htm) >actual.sums
  [ "$(wc -l <actual.sums)" -eq "$pages" ] || fail "pages missing after a replace killed at ${delay} ms"
  check_sums actual.sums either.sums "page after a replace killed at ${delay} ms"
  left=$(page_count site/New)
  if [ "$left" -gt 0 ]; then
    (cd site/New && md5sum page*.htm) >actual.sums
    check_sums actual.sums new.sums "copy in New after a replace killed at ${delay} ms"
  fi
  if [ "$left" -gt 0 ] && [ "$left" -lt "$pages" ]; then
    midway=$((midway + 1))
  fi
  echo "replace killed at ${delay} ms: $((pages - left)) of $pages pages replaced"

  # A replace killed after it removed New had finished already.
  if [ -d site/New ]; then
    "$cli" replace site >/dev/null || fail "the second replace after a kill at ${delay} ms failed"
  fi
  (cd site && md5sum page*.htm) | cmp -s - new.sums || fail "the second replace left old pages"
  cmp -s site/Log.txt reference/New/Log.txt || fail "the run's log was lost (kill at ${delay} ms)"
  cmp -s site/notes.txt template/notes.txt || fail "notes.txt changed"
  [ ! -e site/New ] || fail "New is still there after the second replace"
done
echo "$midway of $rounds replaces were killed midway"
echo "PASS"
