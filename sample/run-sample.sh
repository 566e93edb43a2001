#!/bin/sh
# Runs pelorin on a fresh copy of the sample outbound (the repository's own
# files are never touched): packets to net 2:5020 get the new origin
# 2:5020/2000, the packet to 2:463/68 is left alone. Shows the outbound, the
# run and the status log.
#   sample/run-sample.sh [path/to/pelorin]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
program=${1:-build/pelorin}
pelorin=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-sample.XXXXXX")
cp -R "$here/outbound" "$work/outbound"
cd "$work"
echo "\$ ls outbound        # sizes in bytes"
for packet in outbound/*; do
  printf '%8d  %s\n' "$(wc -c < "$packet")" "${packet#outbound/}"
done
echo
echo "\$ pelorin -ooutbound -lpelorin.log 2:5020/2000 2:5020/All"
status=0
"$pelorin" -ooutbound -lpelorin.log 2:5020/2000 2:5020/All || status=$?
echo "(exit status $status)"
echo
echo "\$ cat pelorin.log"
cat pelorin.log
echo "The changed copy is in $work" >&2
exit "$status"
