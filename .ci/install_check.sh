#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR as the README shows, checks that
# every file is in its place and that the installed program runs, lints the
# manual page, and checks the Debian package (and the Windows zip, when a
# Windows build directory is given).
#   install_check.sh <build dir> [<windows build dir>]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
windows_build=${2:-}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$scratch/dest" cmake --install "$build" --prefix /usr/local >/dev/null
for file in usr/local/bin/pelorin usr/local/share/man/man1/pelorin.1 \
            usr/local/share/doc/pelorin/Pelorin.Cfg.example usr/local/share/doc/pelorin/README.md; do
  [ -f "$scratch/dest/$file" ] || fail "$file is not installed"
done
[ -x "$scratch/dest/usr/local/bin/pelorin" ] || fail "the installed program is not executable"

man=$scratch/dest/usr/local/share/man/man1/pelorin.1
warnings=$(groff -t -man -ww -z "$man" 2>&1) || fail "groff: $warnings"
[ -z "$warnings" ] || fail "groff warns: $warnings"
if command -v mandoc >/dev/null; then
  mandoc -T lint -W warning "$man" || fail "mandoc lint"
fi

mkdir "$scratch/run"
cp -R "$root/sample/outbound" "$scratch/run/outbound"
cp "$scratch/dest/usr/local/share/doc/pelorin/Pelorin.Cfg.example" "$scratch/run/Pelorin.Cfg"
sed -i -e 's|^OutSq .*|OutSq outbound|' -e 's|^StatusLog .*|StatusLog pelorin.log|' "$scratch/run/Pelorin.Cfg"
(cd "$scratch/run" && "$scratch/dest/usr/local/bin/pelorin" 2:5020/2000 2:5020/All >console.txt) ||
  fail "the installed program failed"
grep -q "Changed Messages: 3" "$scratch/run/console.txt" || fail "the installed program did no work"
grep -q "End, Pelorin 1.10" "$scratch/run/pelorin.log" || fail "the installed program wrote no log"

(cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
contents=$(dpkg-deb -c "$scratch"/deb/pelorin_*.deb)
for file in ./usr/bin/pelorin ./usr/share/man/man1/pelorin.1 ./usr/share/doc/pelorin/Pelorin.Cfg.example; do
  grep -q " $file\$" <<<"$contents" || fail "the Debian package lacks $file"
done

if [ -n "$windows_build" ]; then
  (cd "$windows_build" && cpack -G ZIP -B "$scratch/zip" >/dev/null)
  listing=$(cd "$scratch/zip" && cmake -E tar tf pelorin-*-win*.zip)
  for file in pelorin.exe Pelorin.Cfg.example; do
    grep -qx "$file" <<<"$listing" || fail "the Windows zip lacks $file"
  done
fi
echo "install check passed: files in place, program runs, manual page clean, packages complete"
