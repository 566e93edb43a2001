#!/bin/sh
# Runs pelorin on a fresh copy of the sample outbound (the repository's own
# files are never touched): packets to net 2:5020 get the new origin
# 2:5020/2000, the packet to 2:463/68 is left alone.
#   sample/run-sample.sh [path/to/pelorin]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
pelorin=$(cd "$(dirname "${1:-build/pelorin}")" && pwd)/$(basename "${1:-build/pelorin}")
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-sample.XXXXXX")
cp -R "$here/outbound" "$work/outbound"
cd "$work"
echo "\$ pelorin -ooutbound -lpelorin.log 2:5020/2000 2:5020/All"
status=0
"$pelorin" -ooutbound -lpelorin.log 2:5020/2000 2:5020/All || status=$?
echo "(exit status $status)"
echo
echo "\$ cat pelorin.log"
cat pelorin.log
echo
echo "The changed copy is in $work"
exit "$status"
