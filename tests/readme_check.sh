#!/usr/bin/env bash
# Checks that the examples of README.md are what the program does: the sample
# run, a run with a bundle (made with Info-ZIP's zip) and the preview on
# copies of the sample outbound, output compared with
# the README's blocks (time stamps aside), the run over a whole binkley-style
# outbound and the runs for each domain on trees made of the sample's
# packets; and that the Russian README shows the same examples.
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

# A link's flow file naming a bundle of one packet, beside its raw packet.
mkdir -p "$scratch/bundle/outbound" "$scratch/bundle/pkt"
cp "$sample/139c0001.out" "$scratch/bundle/outbound/"
cp "$sample/139c0001.out" "$scratch/bundle/pkt/1a2b3c4d.pkt"
(cd "$scratch/bundle/pkt" && zip -q ../outbound/00000001.mo0 1a2b3c4d.pkt)
printf '^outbound/00000001.mo0\n' >"$scratch/bundle/outbound/139c0001.flo"
block bundle-run >"$scratch/shown-bundle"
{
  echo "\$ cat outbound/139c0001.flo"
  cat "$scratch/bundle/outbound/139c0001.flo"
  echo "\$ pelorin -b -ooutbound 2:5020/2000 2:5020/All"
  (cd "$scratch/bundle" && "$pelorin" -b -ooutbound 2:5020/2000 2:5020/All)
} >"$scratch/actual-bundle"
diff -u "$scratch/shown-bundle" "$scratch/actual-bundle"
unzip -p "$scratch/bundle/outbound/00000001.mo0" 1a2b3c4d.pkt | cmp "$expected/139c0001.out" -
echo "README bundle run matches"

block preview-run >"$scratch/shown-preview"
cp -R "$sample" "$scratch/outbound"
{
  echo "\$ pelorin -n -ooutbound 2:5020/2000 52 463/68"
  (cd "$scratch" && "$pelorin" -n -ooutbound 2:5020/2000 52 463/68)
} >"$scratch/actual-preview"
diff -u "$scratch/shown-preview" "$scratch/actual-preview"
diff -r "$sample" "$scratch/outbound"
echo "README preview matches, and wrote nothing"

# A tree made of the sample's packets: the outbound, a point's directory,
# and another zone's outbound holding a copy of a packet readdressed to
# 1:1/1 (destination zone, net and node at header offsets 48, 22 and 2).
make_tree() {
  mkdir -p "$1/outbound/139c0309.pnt" "$1/outbound.001"
  cp "$sample/139c0001.out" "$1/outbound/"
  cp "$sample/139c0309.hut" "$1/outbound/139c0309.pnt/00000001.hut"
  cp "$sample/01cf0044.dut" "$1/outbound.001/00010001.dut"
  for offset in 48 22 2; do
    printf '\001\000' | dd of="$1/outbound.001/00010001.dut" bs=1 seek=$offset conv=notrunc 2>/dev/null
  done
}

make_tree "$scratch/tree"
block tree-run >"$scratch/shown-tree"
{
  echo "\$ pelorin -r -ooutbound 2:5020/2000 World"
  (cd "$scratch/tree" && "$pelorin" -r -ooutbound 2:5020/2000 World)
} >"$scratch/actual-tree"
diff -u "$scratch/shown-tree" "$scratch/actual-tree"
cmp "$expected/139c0001.out" "$scratch/tree/outbound/139c0001.out"
cmp "$expected/139c0309.hut" "$scratch/tree/outbound/139c0309.pnt/00000001.hut"
echo "README tree run matches"

# The runs for each domain, on two trees: each domain's run takes its own.
mkdir -p "$scratch/bin" "$scratch/ftn"
make_tree "$scratch/ftn"
make_tree "$scratch/other" && mv "$scratch/other/outbound" "$scratch/ftn/othernet"
ln -s "$pelorin" "$scratch/bin/pelorin"
block domain-runs >"$scratch/domains.sh"
PATH=$scratch/bin:$PATH sh "$scratch/domains.sh" "$scratch/ftn" >"$scratch/domain-run"
grep '^Working in' "$scratch/domain-run" >"$scratch/domain-dirs"
diff -u - "$scratch/domain-dirs" <<DIRS
Working in "$scratch/ftn/outbound", From: 2:5020/2000.0
Working in "$scratch/ftn/othernet", From: 21:1/2000.0
DIRS
cmp "$expected/139c0309.hut" "$scratch/ftn/outbound/139c0309.pnt/00000001.hut"
cmp "$sample/139c0309.hut" "$scratch/ftn/othernet/139c0309.pnt/00000001.hut"
echo "README runs for each domain take each tree"

# Code blocks, fences included, in order.
code_blocks() { awk '/^ *```/ { inside = !inside; print; next } inside' "$1"; }
diff -u <(code_blocks "$root/README.md") <(code_blocks "$root/README.ru.md")
echo "README.ru.md shows the same examples"
