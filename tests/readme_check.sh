#!/usr/bin/env bash
# Checks that the sample run shown in README.md is what the program does:
# runs sample/run-sample.sh and compares its output with the README's block,
# time stamps aside.
#   readme_check.sh <pelorin>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-readme.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mask='s/^  [0-3][0-9] [A-Z][a-z][a-z] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] PLRN /  <time> PLRN /'
TMPDIR=$scratch "$root/sample/run-sample.sh" "$1" 2>/dev/null | sed -e "$mask" >"$scratch/actual"
sed -n '/^<!-- sample-run -->$/,/^<!-- end of sample-run -->$/p' "$root/README.md" |
  sed -e '1,2d' -e '$d' | sed -e '$d' | sed -e "$mask" >"$scratch/shown"
diff -u "$scratch/shown" "$scratch/actual"
echo "README sample run matches"
