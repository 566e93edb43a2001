#!/bin/sh
# The floor for ARJ bundles: what a sysop does by hand with the same packer,
# for every bundle the flow files of the outbound list: unpack it into a
# scratch directory, run pelorin on its packets there as raw packets, and,
# when any changed, pack them again and move the new archive over the
# bundle.
#   arj_by_hand.sh <pelorin> <outbound> <from-adr> <to-adr>...
set -eu
pelorin=$1 outbound=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for flow in "$outbound"/*.flo; do
  bundle=$(sed -n 's/^\^//p' "$flow")
  rm -rf "$scratch/work" && mkdir "$scratch/work" && cd "$scratch/work"
  arj e -y "$bundle" >/dev/null </dev/null
  for packet in *.pkt; do mv "$packet" "${packet%.pkt}.out"; done
  if "$pelorin" -o. "$@" | grep -q ' from '; then
    for packet in *.out; do mv "$packet" "${packet%.out}.pkt"; done
    arj a -y "$scratch/new.arj" ./* >/dev/null </dev/null
    mv "$scratch/new.arj" "$bundle"
  fi
  cd - >/dev/null
done
