#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR as the README shows, checks that
# every file is in its place and that the installed program runs, lints the
# manual pages as man shows them on an 80-column terminal, and checks the
# Debian package with lintian (and the Windows zip and its line ends, when a
# Windows build directory is given).
#   install_check.sh <build dir> [<windows build dir>]
set -euo pipefail
export MAN_DISABLE_SECCOMP=1  # man sandboxes its helpers, which some containers refuse
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1" ]; then
  echo "usage: $0 <build dir> [<windows build dir>]" >&2
  echo "  e.g. $0 build build-win64" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
windows_build=${2:-}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$scratch/dest" cmake --install "$build" --prefix /usr/local >/dev/null
doc=usr/local/share/doc/pelorin
for file in usr/local/bin/pelorin usr/local/share/man/man1/pelorin.1.gz \
            usr/local/share/man/ru/man1/pelorin.1.gz $doc/Pelorin.Cfg.example $doc/README.md \
            $doc/README.ru.md $doc/copyright $doc/changelog.gz; do
  [ -f "$scratch/dest/$file" ] || fail "$file is not installed"
done
[ -x "$scratch/dest/usr/local/bin/pelorin" ] || fail "the installed program is not executable"
# The installed README is the sysop's: how to run the program, not how to build it.
for readme in README.md README.ru.md; do
  ! grep -q 'cmake\|](' "$scratch/dest/$doc/$readme" ||
    fail "the installed $readme speaks of building, or links to files not installed"
done

# Each manual page: clean for groff and mandoc, and at 80 columns, as man
# renders it, without a warning and no line wider than the terminal.
for man in usr/local/share/man/man1/pelorin.1.gz usr/local/share/man/ru/man1/pelorin.1.gz; do
  page=$scratch/page.1
  gzip -dc "$scratch/dest/$man" >"$page"
  warnings=$(groff -man -ww -z -K utf8 -Tutf8 "$page" 2>&1) || fail "groff on $man: $warnings"
  [ -z "$warnings" ] || fail "groff warns on $man: $warnings"
  if command -v mandoc >/dev/null; then
    mandoc -T lint -W warning "$page" || fail "mandoc lint on $man"
  fi
  warnings=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man at 80 columns warns on $man: $warnings"
  widest=$(MANWIDTH=80 man -l "$page" 2>/dev/null | col -bx | wc -L)
  [ "$widest" -le 80 ] || fail "$man runs to $widest columns at 80"
done

mkdir "$scratch/run"
cp -R "$root/sample/outbound" "$scratch/run/outbound"
cp "$scratch/dest/$doc/Pelorin.Cfg.example" "$scratch/run/Pelorin.Cfg"
sed -i -e 's|^OutSq .*|OutSq outbound|' -e 's|^StatusLog .*|StatusLog pelorin.log|' "$scratch/run/Pelorin.Cfg"
(cd "$scratch/run" && "$scratch/dest/usr/local/bin/pelorin" 2:5020/2000 2:5020/All >console.txt) ||
  fail "the installed program failed"
grep -q "Changed Messages: 3" "$scratch/run/console.txt" || fail "the installed program did no work"
grep -q "End, Pelorin 1.10" "$scratch/run/pelorin.log" || fail "the installed program wrote no log"

(cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
deb=$(echo "$scratch"/deb/pelorin_*.deb)
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/pelorin ./usr/share/man/man1/pelorin.1.gz ./usr/share/man/ru/man1/pelorin.1.gz \
            ./usr/share/doc/pelorin/Pelorin.Cfg.example ./usr/share/doc/pelorin/copyright \
            ./usr/share/doc/pelorin/changelog.gz; do
  grep -q " $file\$" <<<"$contents" || fail "the Debian package lacks $file"
done
if command -v lintian >/dev/null; then
  # Errors fail the check; the warnings and notes that stay are shown.
  lintian --fail-on error --allow-root "$deb" || fail "lintian finds errors in the Debian package"
fi

if [ -n "$windows_build" ]; then
  (cd "$windows_build" && cpack -G ZIP -B "$scratch/zip" >/dev/null)
  mkdir "$scratch/unzipped"
  (cd "$scratch/unzipped" && cmake -E tar xf "$scratch"/zip/pelorin-*-win*.zip)
  for file in pelorin.exe README.txt README.ru.txt LICENSE.txt Pelorin.Cfg.example pelorin.txt \
              pelorin.ru.txt; do
    [ -f "$scratch/unzipped/$file" ] || fail "the Windows zip lacks $file"
  done
  # The Russian texts are marked as UTF-8 for the Notepad of older Windows.
  for file in README.ru.txt pelorin.ru.txt; do
    [ "$(head -c 3 "$scratch/unzipped/$file" | od -An -tx1 | tr -d ' ')" = efbbbf ] ||
      fail "$file in the Windows zip has no UTF-8 byte-order mark"
  done
  grep -q 'ПАРАМЕТРЫ' "$scratch/unzipped/pelorin.ru.txt" || fail "pelorin.ru.txt is not the Russian page"
  # Every line of the text files ends in CR LF: an older Notepad shows a
  # file with bare LF as one line.
  for file in README.txt README.ru.txt LICENSE.txt Pelorin.Cfg.example pelorin.txt pelorin.ru.txt; do
    bare=$(grep -c $'[^\r]$\|^$' "$scratch/unzipped/$file" || true)
    [ "$bare" -eq 0 ] || fail "$file in the Windows zip has $bare lines without CR LF"
  done
fi
echo "install check passed: files in place, program runs, manual pages clean at 80 columns," \
     "packages complete"
