#!/usr/bin/env bash
# Puts zlib's headers and static library for each Debian architecture named
# into the cross compiler's sysroot (/usr/<triplet>/include and lib), where
# the cross toolchain files look. The packages are downloaded and unpacked
# rather than installed: a foreign architecture's zlib1g-dev may not be
# installable beside the host's (the security archive may lack the same
# version), and the build needs nothing of it but zlib.h, zconf.h and libz.a.
#   cross_zlib.sh armhf s390x
set -euo pipefail
# The cross compilers' triplet for each Debian architecture we build for.
triplet_of() {
  case "$1" in
    armhf) echo arm-linux-gnueabihf ;;
    s390x) echo s390x-linux-gnu ;;
    *) echo "cross_zlib.sh: no cross build for $1" >&2; exit 2 ;;
  esac
}
missing=()
for arch in "$@"; do
  triplet=$(triplet_of "$arch")
  [ -f "/usr/$triplet/lib/libz.a" ] || missing+=("$arch")
done
[ ${#missing[@]} -gt 0 ] || exit 0
for arch in "${missing[@]}"; do dpkg --add-architecture "$arch"; done
apt-get update
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for arch in "${missing[@]}"; do
  triplet=$(triplet_of "$arch")
  (cd "$work" && apt-get download "zlib1g-dev:$arch")
  dpkg-deb -x "$work"/zlib1g-dev_*_"$arch".deb "$work/$arch"
  mkdir -p "/usr/$triplet/include" "/usr/$triplet/lib"
  cp "$work/$arch"/usr/include/zlib.h "$work/$arch"/usr/include/zconf.h "/usr/$triplet/include/"
  cp "$work/$arch/usr/lib/$triplet/libz.a" "/usr/$triplet/lib/"
done
