#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a while on a scratch copy of
# its seed corpus in fuzz/corpus. Fails on the first finding.
#   fuzz/run-fuzzers.sh [seconds per target, default 15] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(message_area node_address destination_list config_file zip_archive)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  cp fuzz/corpus/$target/* "$scratch/$target/"
  log="$scratch/$target.log"
  if ! build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$scratch/" "$scratch/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FINDING in fuzz_$target; the input that caused it:"
    ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* 2>/dev/null || true
    mkdir -p fuzz/findings && cp "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* fuzz/findings/ 2>/dev/null || true
    exit 1
  fi
  runs=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | tail -n 1)
  corpus=$(ls "$scratch/$target" | wc -l)
  echo "fuzz_$target: $runs(s), corpus $corpus inputs, no findings"
done
