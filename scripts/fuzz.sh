#!/usr/bin/env bash
# Builds the fuzzers (the `fuzz` preset: clang 14, libFuzzer, ASan, UBSan) and
# runs each for a bounded time, starting from the seed corpus under fuzz/.
# Any crash, sanitizer report, broken property, slow input or leak fails.
# Usage: scripts/fuzz.sh [seconds per fuzzer, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_FUZZ_PACKAGES[@]}"

seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 --target date_parser_fuzz rewriter_fuzz page_format_fuzz run_record_fuzz

build=build/fuzz
mkdir -p "$build/findings" "$build/logs"
export UBSAN_OPTIONS=print_stacktrace=1

# name, then its longest input: the date parser reads a locale byte and up to
# 16 bytes of text; the record reader takes what a site's owner may write.
fuzzers=("date_parser 17" "rewriter 4096" "page_format 4096" "run_record 4096")
status=0
for entry in "${fuzzers[@]}"; do
  read -r name max_len <<<"$entry"
  # New inputs go to a working corpus in the build tree; the seeds stay as
  # they are.
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  log="$build/logs/$name.log"
  echo "== ${name}_fuzz for ${seconds} s"
  if "$build/fuzz/${name}_fuzz" "$corpus" "fuzz/corpus/$name" \
      -dict=fuzz/lapse.dict -max_len="$max_len" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -artifact_prefix="$build/findings/${name}-" -print_final_stats=1 \
      >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
    echo "corpus: $(find "$corpus" -type f | wc -l) inputs in $corpus"
  else
    status=1
    echo "FINDING in ${name}_fuzz; the input that shows it is under $build/findings:"
    grep -vE '^(#[0-9]|\s*"|.*Uses: )' "$log" | tail -n 60
  fi
done
exit "$status"
