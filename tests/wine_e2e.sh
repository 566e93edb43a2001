#!/usr/bin/env bash
# Runs the whole end-to-end suite against the Windows build of pelorin under
# Wine; cases that do not apply to Windows skip themselves.
#   wine_e2e.sh <pelorin_e2e_tests> <windows build directory>
# Reports itself skipped (exit 77) when Wine or the Windows build is missing.
set -u
tests=$1
windows_build=$2
# Debian installs the 64-bit loader as /usr/lib/wine/wine64, off PATH; a
# plain `wine` there is the 32-bit one, which cannot start a 64-bit program.
wine=$(command -v wine64 || true)
[ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
[ -n "$wine" ] || wine=$(command -v wine || true)
if [ -z "$wine" ]; then
  echo "SKIPPED: Wine is not installed (Debian: apt-get install wine64)"
  exit 77
fi
if [ ! -f "$windows_build/pelorin.exe" ] || [ ! -f "$windows_build/tests/pelorin_hold_file.exe" ] ||
   [ ! -f "$windows_build/tests/pelorin_test_packer.exe" ]; then
  echo "SKIPPED: no Windows build in $windows_build (see the README, section Windows)"
  exit 77
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
echo "Wine loader: $wine; server: $wineserver"
windows_build=$(cd "$windows_build" && pwd)
export WINEPREFIX=${PELORIN_WINEPREFIX:-$windows_build/wineprefix}
export WINEDEBUG=-all
# The first start of a new prefix prints its own messages; get it over with.
"$wine" wineboot --init >/dev/null 2>&1
# A wine server ends a few seconds after its last program; a program started
# in that moment loses its connection ("wine client error: recvmsg:
# Connection reset by peer") and ends with status 1 and no output. So one
# server, started once the prefix is ready, serves the whole suite.
"$wineserver" -w
"$wineserver" -p
export PELORIN_TEST_RUNNER=$wine
export PELORIN_TEST_EXE=$windows_build/pelorin.exe
export PELORIN_TEST_HOLD_EXE=$windows_build/tests/pelorin_hold_file.exe
export PELORIN_TEST_PACKER_EXE=$windows_build/tests/pelorin_test_packer.exe
export PELORIN_TEST_WINDOWS=1
"$tests"
status=$?
"$wineserver" -k
exit $status
