#!/usr/bin/env bash
# Checks that the sample runs shown in README.md are what the program does:
# runs sample/run-sample.sh and the preview on a copy of the sample outbound,
# and compares their output with the README's blocks, time stamps aside.
#   readme_check.sh <pelorin>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pelorin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-readme.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mask='s/^  [0-3][0-9] [A-Z][a-z][a-z] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] PLRN /  <time> PLRN /'
TMPDIR=$scratch "$root/sample/run-sample.sh" "$pelorin" 2>/dev/null | sed -e "$mask" >"$scratch/actual"
sed -n '/^<!-- sample-run -->$/,/^<!-- end of sample-run -->$/p' "$root/README.md" |
  sed -e '1,2d' -e '$d' | sed -e '$d' | sed -e "$mask" >"$scratch/shown"
diff -u "$scratch/shown" "$scratch/actual"
echo "README sample run matches"

# The block of the preview: the command line, then its output.
block() { sed -n "/^<!-- $1 -->\$/,/^<!-- end of $1 -->\$/p" "$root/README.md" | sed -e '1,2d' -e '$d' | sed -e '$d'; }
block preview-run >"$scratch/shown-preview"
cp -r "$root/sample/outbound" "$scratch/outbound"
{
  echo "\$ pelorin -n -ooutbound 2:5020/2000 '2:5020/*' 463/68"
  (cd "$scratch" && "$pelorin" -n -ooutbound 2:5020/2000 '2:5020/*' 463/68)
} >"$scratch/actual-preview"
diff -u "$scratch/shown-preview" "$scratch/actual-preview"
diff -r "$root/sample/outbound" "$scratch/outbound"
echo "README preview matches, and wrote nothing"
