#!/usr/bin/env bash
# Whole-process benchmarks of lapse-cli next to cp, sed and mv over the same
# files. Builds the release preset, generates the corpora under a temporary
# folder on disk, times each command several times and prints a Markdown
# table of medians (with min and max), ratios and peak memory.
#
# Usage: bench/run.sh            (RUNS=5 by default; at least 5 for the table)
#
# The replaces keep the pages they replace in a state folder inside the
# temporary folder (XDG_STATE_HOME), on the volume of the pages, as a user's
# state folder in the home of the site's volume would be.
# Environment: RUNS=N            runs of each command
#              BENCH_DIR=PATH    where the temporary folder goes (/var/tmp)
#              LAPSE_CLI=PATH    a lapse-cli to measure instead of building one
#              LAPSE_BENCH_TREE=DIR  a folder tree of real pages to copy and
#                                time (default: the installed documentation,
#                                when it holds enough pages)
#              QUIET_SECONDS=N   wait after deleting many files (31)
#
# Output is cleared between runs by moving it into a trash folder, not by
# deleting it: ext4 without a journal (as on the machines here) skips inodes
# freed in the last 30 seconds when it allocates new ones, which charges the
# next command that creates many files with the cost of the deletion. The
# trash is emptied between rounds, followed by a quiet wait.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_BENCH_PACKAGES[@]}"

runs=${RUNS:-5}
cmake --preset release -DLAPSE_BUILD_BENCH=ON >/dev/null
cmake --build --preset release -j2 >/dev/null
lapse=${LAPSE_CLI:-$PWD/build/release/src/cli/lapse-cli}
# The floor: a plain read-and-write copy of the same pages (bench/copy_floor.cpp).
floor=$PWD/build/release/bench/copy_floor
# The same replace without keeping the replaced pages (bench/replace_unkept.cpp).
unkept=$PWD/build/release/bench/replace_unkept
# A fixed day, so that the same blocks lapse in every run.
today=2026-12-08

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/lapse-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
results=$work/results.tsv
: >"$results"
export trash=$work/trash
mkdir -p "$trash"
export XDG_STATE_HOME=$work/state

# Moves what a run wrote out of the way, so the next run starts afresh.
retire() {
  local path
  for path in "$@"; do
    if [ -e "$path" ]; then
      mv "$path" "$(mktemp -u "$trash/retired.XXXXXX")"
    fi
  done
}
export -f retire

# Writes once to most of the free memory and frees it again. A virtual
# machine whose host takes back the guest's free memory makes the first write
# to each page slow, which charges whichever command first fills the page
# cache with new pages; touched once, the pages cost every command the same.
# Filling the memory drops the corpora from the cache, so they are read back:
# every command then reads its sources from memory, not only the second.
warm_memory() {
  local size
  size=$(awk '/MemAvailable/ { print int($2 / 1024) - 2048 }' /proc/meminfo)
  if [ -d /dev/shm ] && [ "$size" -gt 0 ]; then
    dd if=/dev/zero of=/dev/shm/lapse-bench-warm bs=1M count="$size" status=none 2>/dev/null || true
    rm -f /dev/shm/lapse-bench-warm
  fi
  find "$work" -path "$trash" -prune -o -type f -print0 | xargs -0 -r cat >/dev/null
}

# Deletes the trash and waits until the freed inodes no longer slow down the
# creation of new files.
empty_trash() {
  rm -rf "$trash"
  mkdir -p "$trash"
  sync
  sleep "${QUIET_SECONDS:-31}"
  warm_memory
}

# Empties the trash when it holds more than about 1.5 GiB.
empty_full_trash() {
  if [ "$(du -sm "$trash" | cut -f1)" -gt 1400 ]; then
    echo "  emptying the trash (and waiting ${QUIET_SECONDS:-31} s)" >&2
    empty_trash
  fi
}

# Writes COUNT files of about SIZE bytes named PREFIX<n>.html into DIR: CR LF
# lines of about 100 bytes, a dated block every ~200 lines, half of them
# lapsed on $today, and a new-content tag now and then.
generate_pages() {
  local dir=$1 count=$2 size=$3 prefix=$4
  mkdir -p "$dir"
  awk -v dir="$dir" -v count="$count" -v size="$size" -v prefix="$prefix" 'BEGIN {
    text = "<p class=\"copy\">Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.</p>"
    for (variant = 0; variant < 4; variant++) {
      page = "<!DOCTYPE html>\r\n<html><head><title>Page</title></head><body>\r\n"
      line = 0
      while (length(page) < size - 200) {
        line++
        if ((line + variant * 50) % 200 == 0) {
          year = (int(line / 200) + variant) % 2 == 0 ? "2020" : "2099"
          page = page "<!--LAPSE 12/31/" year " -->\r\n"
          for (k = 0; k < 4; k++) page = page text "\r\n"
          page = page "<!--ENDL-->\r\n"
        } else if ((line + variant * 70) % 450 == 0) {
          page = page "<!--LNEW 01/15/" (int(line / 450) % 2 == 0 ? "2021" : "2099") " -->\r\n"
        } else {
          page = page text "\r\n"
        }
      }
      pages[variant] = page "</body></html>\r\n"
    }
    for (n = 0; n < count; n++) {
      file = dir "/" prefix n ".html"
      printf "%s", pages[n % 4] > file
      close(file)
    }
  }'
}

# Writes a file of about 1 GiB made of the page in TEMPLATE, repeated.
repeat_to_gibibyte() {
  local template=$1 out=$2
  local chunk=$work/chunk
  : >"$chunk"
  while [ "$(stat -c %s "$chunk")" -lt $((1024 * 1024)) ]; do cat "$template" >>"$chunk"; done
  head -c $((1024 * 1024)) "$chunk" >"$chunk.1m"
  local i
  for ((i = 0; i < 1024; i++)); do cat "$chunk.1m"; done >"$out"
  rm -f "$chunk" "$chunk.1m"
}

# Times one command: CLEAR runs first, outside the timing, then the command
# under /usr/bin/time -v. Appends "label seconds peak-KiB" to the results.
measure() {
  local label=$1 clear=$2
  shift 2
  bash -c "$clear" >/dev/null
  sync
  # The load of another process, left unwritten, when the caller names one.
  if [ -n "${load:-}" ]; then
    bash -c "$load"
  fi
  local start end
  start=$EPOCHREALTIME
  if ! /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt"; then
    echo "failed: $*" >&2
    cat "$work/stderr.txt" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  local peak
  peak=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  printf '%s\t%s\t%s\n' "$label" "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }')" \
    "$peak" >>"$results"
}

# Runs the commands (functions) in turn, starting with a different one each
# round, so that none is always the first after the trash was emptied or
# always the one after the slowest.
in_turn() {
  local run=$1
  shift
  local commands=("$@") i
  for ((i = 0; i < ${#commands[@]}; i++)); do
    "${commands[(run + i) % ${#commands[@]}]}"
  done
}

# The median, min and max seconds and the highest peak of a label.
summary() {
  awk -F'\t' -v label="$1" '$1 == label { print $2 "\t" $3 }' "$results" | sort -n |
    awk -F'\t' '{ t[NR] = $1; if ($2 > peak) peak = $2 }
      END {
        median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        printf "%.3f\t%.3f\t%.3f\t%.1f\n", median, t[1], t[NR], peak / 1024
      }'
}

median_of() { summary "$1" | cut -f1; }

min_of() { summary "$1" | cut -f2; }

divide() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

row() {  # corpus, command, label, label of the reference or "", target
  local stats ratio="–" min_ratio="–"
  stats=$(summary "$3")
  if [ -n "$4" ]; then
    ratio=$(divide "$(median_of "$3")" "$(median_of "$4")")
    min_ratio=$(divide "$(min_of "$3")" "$(min_of "$4")")
  fi
  IFS=$'\t' read -r median min max peak <<<"$stats"
  printf '| %s | %s | %s | %s – %s | %s | %s | %s | %s |\n' "$1" "$2" "$median" "$min" "$max" \
    "$ratio" "$min_ratio" "$peak" "$5"
}

echo "Generating the corpora in $work ..." >&2
c1=$work/c1
generate_pages "$c1" 1024 $((256 * 1024)) page

warm_memory
echo "Corpus 1: 1,024 files of 256 KiB ($runs runs)" >&2
sed_loop='for f in "$1"/*.html; do sed "/^<!--LAPSE/,/^<!--ENDL/d" "$f" >"$2/${f##*/}"; done'
c1_lapse() { measure c1-lapse "retire '$c1/New'" "$lapse" run --today "$today" --log "$c1"; }
c1_cp() { measure c1-cp "retire '$c1/New' '$work/c1-cp'" cp -r "$c1" "$work/c1-cp"; }
c1_floor() { measure c1-floor "retire '$work/c1-floor'" "$floor" "$c1" "$work/c1-floor"; }
c1_sed() {
  measure c1-sed "retire '$work/c1-sed'; mkdir '$work/c1-sed'" bash -c "$sed_loop" sed "$c1" \
    "$work/c1-sed"
}
for ((run = 0; run < runs; run++)); do
  empty_full_trash
  in_turn "$run" c1_lapse c1_floor c1_cp c1_sed
done
# Replace and mv only rename files, so what is deleted here costs them nothing.
rm -rf "$c1/New" "$work/c1-cp" "$work/c1-sed" "$work/c1-floor" "$trash"
mkdir -p "$trash"

echo "Corpus 4: replace of the 1,024 files ($runs runs)" >&2
c4=$work/c4
prepare_replace="rm -rf '$c4' && cp -r '$c1' '$c4' && '$lapse' run --today $today --log '$c4'"
c4_replace() { measure c4-replace "$prepare_replace" "$lapse" replace "$c4"; }
# The same moves by hand; the run's record of its sources is no page.
move_up='rm -f "$1"/New/.lapse-sources && mv -f "$1"/New/* "$1"/ && rmdir "$1"/New'
c4_mv() { measure c4-mv "$prepare_replace" bash -c "$move_up" mv "$c4"; }
# A durable replace writes the copies to the disk first: the fair comparison
# is mv followed by one sync.
c4_mv_sync() { measure c4-mv-sync "$prepare_replace" bash -c "$move_up && sync" mv "$c4"; }
c4_unkept() { measure c4-unkept "$prepare_replace" "$unkept" "$c4"; }
for ((run = 0; run < runs; run++)); do
  in_turn "$run" c4_replace c4_unkept c4_mv_sync c4_mv
done
rm -rf "$c4" "$c1" "$XDG_STATE_HOME"

# Corpus 6: the replace of 2,000 small pages, on a quiet volume and while
# another process has 3 GiB written to the same volume that is not on the
# disk yet. A replace syncs its own copies, so the others' data should not
# hold it up.
echo "Corpus 6: replace of 2,000 files of 2 KiB, quiet and under load ($runs runs)" >&2
c6=$work/c6
generate_pages "$work/c6-pages" 2000 2048 small
prepare_c6="rm -f '$work/load' && rm -rf '$c6' && cp -r '$work/c6-pages' '$c6' && '$lapse' run --today $today --log '$c6'"
unwritten_load="dd if=/dev/zero of='$work/load' bs=1M count=3072 status=none"
c6_replace() { measure c6-replace "$prepare_c6" "$lapse" replace "$c6"; }
c6_mv_sync() { measure c6-mv-sync "$prepare_c6" bash -c "$move_up && sync" mv "$c6"; }
c6_replace_loaded() {
  load=$unwritten_load measure c6-replace-loaded "$prepare_c6" "$lapse" replace "$c6"
}
c6_mv_sync_loaded() {
  load=$unwritten_load measure c6-mv-sync-loaded "$prepare_c6" bash -c "$move_up && sync" mv "$c6"
}
for ((run = 0; run < runs; run++)); do
  in_turn "$run" c6_replace c6_replace_loaded c6_mv_sync c6_mv_sync_loaded
done
rm -rf "$c6" "$work/c6-pages" "$work/load" "$XDG_STATE_HOME"

echo "Corpus 2: 20,000 files of 2 KiB ($runs runs)" >&2
c2=$work/c2
generate_pages "$c2" 20000 2048 small
empty_trash
c2_lapse() { measure c2-lapse "retire '$c2/New'" "$lapse" run --today "$today" --log "$c2"; }
c2_cp() { measure c2-cp "retire '$c2/New' '$work/c2-cp'" cp -r "$c2" "$work/c2-cp"; }
c2_floor() { measure c2-floor "retire '$work/c2-floor'" "$floor" "$c2" "$work/c2-floor"; }
# A day on which nothing lapses (no tag of the corpus lapses before 2020):
# the update reads only what changed since the last one, which the first
# update, outside the timing, remembers.
quiet_day=2019-06-01
"$lapse" update --quiet --today "$quiet_day" "$c2"
c2_quiet() { measure c2-quiet "true" "$lapse" update --quiet --today "$quiet_day" "$c2"; }
for ((run = 0; run < runs; run++)); do
  in_turn "$run" c2_lapse c2_floor c2_cp c2_quiet
done
# How many of the pages a quiet day's update opens. It opens a page by its
# name within the folder (openat of the folder's descriptor), so the name is
# matched with or without a folder before it; each page counts once.
strace -f -e trace=openat,open -o "$work/quiet.strace" "$lapse" update --quiet --today "$quiet_day" "$c2"
quiet_opens=$({ grep -oE '"([^"]*/)?small[0-9]+\.html"' "$work/quiet.strace" || true; } | sort -u | wc -l)
# Deleting 200,000 small files takes minutes here (the volume discards every
# freed block); corpus 3 measures memory, so it need not wait for that.
mv "$c2" "$trash/c2"
mv "$trash" "$work/deleting"
rm -rf "$work/deleting" &
mkdir -p "$trash"

echo "Corpus 3: one 1 GiB file, single line and short lines ($runs runs)" >&2
c3=$work/c3
mkdir -p "$c3/empty"
generate_pages "$work/template" 1 $((256 * 1024)) page
mkdir -p "$c3/one-line"
awk 'BEGIN { text = "<div class=\"card\"><p>Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p></div>"
  for (i = 0; i < 2048; i++) printf "%s", text }' >"$work/minified"
repeat_to_gibibyte "$work/minified" "$c3/one-line/minified.html"
for ((run = 0; run < runs; run++)); do
  measure c3-empty "rm -rf '$c3/empty/New'" "$lapse" run --today "$today" --log "$c3/empty"
  measure c3-one-line "rm -rf '$c3/one-line/New'" "$lapse" run --today "$today" --log \
    "$c3/one-line"
  measure c3-one-line-floor "rm -rf '$work/c3-floor'" "$floor" "$c3/one-line" "$work/c3-floor"
done
rm -rf "$c3/one-line"
mkdir -p "$c3/lines"
repeat_to_gibibyte "$work/template/page0.html" "$c3/lines/lines.html"
for ((run = 0; run < runs; run++)); do
  measure c3-lines "rm -rf '$c3/lines/New'" "$lapse" run --today "$today" --log "$c3/lines"
  measure c3-lines-floor "rm -rf '$work/c3-floor'" "$floor" "$c3/lines" "$work/c3-floor"
done
rm -rf "$c3" "$work/template" "$work/minified" "$work/c3-floor"

# Corpus 5: a tree of real pages, as a site is.
tree=${LAPSE_BENCH_TREE:-}
tree_pages=0
if [ -z "$tree" ] && [ -d /usr/share/doc ]; then
  tree_pages=$(find /usr/share/doc -type f -name '*.htm*' | wc -l)
  [ "$tree_pages" -ge 1000 ] && tree=/usr/share/doc
fi
if [ -n "$tree" ]; then
  c5=$work/c5
  cp -r "$tree" "$c5"
  tree_pages=$(find "$c5" -type f -name '*.htm*' | wc -l)
  echo "Corpus 5: the tree $tree, $tree_pages pages ($runs runs)" >&2
  c5_lapse() {
    measure c5-lapse "retire '$c5/New'" "$lapse" run --recursive --today "$today" --log "$c5"
  }
  c5_floor() { measure c5-floor "retire '$work/c5-floor'" "$floor" -r "$c5" "$work/c5-floor"; }
  c5_cp() { measure c5-cp "retire '$c5/New' '$work/c5-cp'" cp -r "$c5" "$work/c5-cp"; }
  for ((run = 0; run < runs; run++)); do
    in_turn "$run" c5_lapse c5_floor c5_cp
  done
else
  echo "Corpus 5: skipped; /usr/share/doc holds $tree_pages pages (LAPSE_BENCH_TREE=DIR names a tree)" >&2
fi
echo "Cleaning up ..." >&2
wait

empty_peak=$(summary c3-empty | cut -f4)
one_line_peak=$(summary c3-one-line | cut -f4)
lines_peak=$(summary c3-lines | cut -f4)
grow=$(awk -v a="$one_line_peak" -v b="$empty_peak" 'BEGIN { printf "%+.1f MiB", a - b }')
grow_lines=$(awk -v a="$lines_peak" -v b="$empty_peak" 'BEGIN { printf "%+.1f MiB", a - b }')

echo
echo "$(nproc) cores, $(uname -sr), $runs runs each; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo '| corpus | command | median s | min – max s | ratio | ratio of mins | peak MiB | target |'
echo '| --- | --- | ---: | ---: | ---: | ---: | ---: | --- |'
row "1: 1,024 × 256 KiB" "lapse-cli run --log" c1-lapse c1-floor "≤ 1.15 × floor"
row "" "read-and-write copy (floor)" c1-floor "" ""
row "" "lapse-cli vs cp -r" c1-lapse c1-cp ""
row "" "cp -r" c1-cp "" ""
row "" "sed loop" c1-sed c1-cp ""
row "" "lapse-cli vs sed loop" c1-lapse c1-sed "several times faster"
row "2: 20,000 × 2 KiB" "lapse-cli run --log" c2-lapse c2-floor "≤ 1.0 × floor"
row "" "read-and-write copy (floor)" c2-floor "" ""
row "" "lapse-cli vs cp -r" c2-lapse c2-cp "moonshot ≤ 1.0"
row "" "cp -r" c2-cp "" ""
row "" "lapse-cli update, a day on which nothing lapses (opens $quiet_opens of 20,000 pages)" c2-quiet c2-floor "≤ 0.10 × floor, ≤ 1 % opened"
row "3: empty folder" "lapse-cli run --log" c3-empty "" ""
row "3: 1 GiB, one line" "lapse-cli run --log" c3-one-line c3-one-line-floor "≤ 1.15 × floor, peak $grow (≤ +2 MiB)"
row "" "read-and-write copy (floor)" c3-one-line-floor "" ""
row "3: 1 GiB, short lines" "lapse-cli run --log" c3-lines c3-lines-floor "≤ 1.15 × floor, peak $grow_lines"
row "" "read-and-write copy (floor)" c3-lines-floor "" ""
row "4: replace 1,024 files" "lapse-cli replace" c4-replace c4-mv-sync "≤ 1.2 × mv + sync"
row "" "mv + sync" c4-mv-sync "" ""
row "" "lapse-cli replace vs plain mv" c4-replace c4-mv ""
row "" "mv" c4-mv "" ""
row "" "lapse-cli replace vs replace without keeping" c4-replace c4-unkept "≤ 1.5 ×"
row "" "replace without keeping" c4-unkept "" ""
row "6: replace 2,000 × 2 KiB" "lapse-cli replace" c6-replace c6-mv-sync "≤ 1.5 × mv + sync"
row "" "mv + sync" c6-mv-sync "" ""
row "" "lapse-cli replace, 3 GiB unwritten elsewhere" c6-replace-loaded c6-replace "≤ 2 × quiet"
row "" "mv + sync, 3 GiB unwritten elsewhere" c6-mv-sync-loaded c6-mv-sync ""
if [ -n "$tree" ]; then
  row "5: $tree_pages real pages in a tree" "lapse-cli run --recursive --log" c5-lapse c5-floor "≤ 1.0 × floor"
  row "" "read-and-write copy (floor)" c5-floor "" ""
  row "" "lapse-cli vs cp -r" c5-lapse c5-cp "moonshot ≤ 1.0"
  row "" "cp -r" c5-cp "" ""
else
  echo "| 5: real tree | skipped: /usr/share/doc holds $tree_pages pages; LAPSE_BENCH_TREE=DIR names a tree | | | | | | |"
fi
echo
echo "Ratios are of medians (and of minimums) to the row's reference: the floor (a plain"
echo "read-and-write copy of the same pages), cp -r, mv + sync, mv, the replace without"
echo "keeping, the quiet replace, or the sed loop for \"lapse-cli vs sed loop\". Output is cleared and synced before each run,"
echo "outside the timing; commands take turns, each round starting with another, so load from"
echo "elsewhere spreads over all of them."
