#!/usr/bin/env bash
# Checks that the examples of README.md are what the program does: the sample
# run and the preview on copies of the sample outbound, output compared with
# the README's blocks (time stamps aside), and the loop over a whole
# binkley-style outbound on a tree made of the sample's packets; and that
# the Russian README shows the same examples.
#   readme_check.sh <pelorin>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pelorin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-readme.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
sample=$root/sample/outbound
expected=$root/sample/expected/outbound

# A block of the README between its markers, without the fence lines.
block() {
  sed -n "/^<!-- $1 -->\$/,/^<!-- end of $1 -->\$/p" "$root/README.md" |
    sed -e '1,2d' -e '$d' | sed -e '$d'
}

mask='s/^  [0-3][0-9] [A-Z][a-z][a-z] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] PLRN /  <time> PLRN /'
TMPDIR=$scratch "$root/sample/run-sample.sh" "$pelorin" 2>/dev/null | sed -e "$mask" >"$scratch/actual"
block sample-run | sed -e "$mask" >"$scratch/shown"
diff -u "$scratch/shown" "$scratch/actual"
echo "README sample run matches"

block preview-run >"$scratch/shown-preview"
cp -R "$sample" "$scratch/outbound"
{
  echo "\$ pelorin -n -ooutbound 2:5020/2000 '2:5020/*' 463/68"
  (cd "$scratch" && "$pelorin" -n -ooutbound 2:5020/2000 '2:5020/*' 463/68)
} >"$scratch/actual-preview"
diff -u "$scratch/shown-preview" "$scratch/actual-preview"
diff -r "$sample" "$scratch/outbound"
echo "README preview matches, and wrote nothing"

# A tree with packets in the outbound, a point's folder, another zone's
# outbound and a point's folder there; the loop gives each of the four a run.
tree=$scratch/tree
mkdir -p "$tree/out/139c0309.pnt" "$tree/out.001/139c0034.pnt" "$scratch/bin"
cp "$sample/139c0001.out" "$tree/out/"
cp "$sample/139c0309.hut" "$tree/out/139c0309.pnt/00000001.hut"
cp "$sample/01cf0044.dut" "$tree/out.001/"
cp "$sample/139c0034.cut" "$tree/out.001/139c0034.pnt/00000000.cut"
ln -s "$pelorin" "$scratch/bin/pelorin"
block tree-loop >"$scratch/loop.sh"
(cd "$tree" && PATH=$scratch/bin:$PATH sh "$scratch/loop.sh" out) >"$scratch/tree-run"
grep '^Working in' "$scratch/tree-run" >"$scratch/tree-dirs"
diff -u - "$scratch/tree-dirs" <<'DIRS'
Working in "out", From: 2:5020/2000.0
Working in "out.001", From: 2:5020/2000.0
Working in "out/139c0309.pnt", From: 2:5020/2000.0
Working in "out.001/139c0034.pnt", From: 2:5020/2000.0
DIRS
cmp "$expected/139c0001.out" "$tree/out/139c0001.out"
cmp "$expected/139c0309.hut" "$tree/out/139c0309.pnt/00000001.hut"
cmp "$expected/01cf0044.dut" "$tree/out.001/01cf0044.dut"
cmp "$expected/139c0034.cut" "$tree/out.001/139c0034.pnt/00000000.cut"
echo "README loop over a whole outbound runs in every folder"

# Code blocks, fences included, in order.
code_blocks() { awk '/^ *```/ { inside = !inside; print; next } inside' "$1"; }
diff -u <(code_blocks "$root/README.md") <(code_blocks "$root/README.ru.md")
echo "README.ru.md shows the same examples"
