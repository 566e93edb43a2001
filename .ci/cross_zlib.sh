#!/usr/bin/env bash
# Puts zlib's headers and static library for each Debian architecture named
# into the cross compiler's sysroot (/usr/<triplet>/include and lib), where
# the cross toolchain files look. The packages are downloaded and unpacked
# rather than installed: a foreign architecture's zlib1g-dev may not be
# installable beside the host's (the security archive may lack the same
# version), and the build needs nothing of it but zlib.h, zconf.h and libz.a.
#   cross_zlib.sh armhf s390x
set -euo pipefail
missing=()
for arch in "$@"; do
  triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
  [ -f "/usr/$triplet/lib/libz.a" ] || missing+=("$arch")
done
[ ${#missing[@]} -gt 0 ] || exit 0
for arch in "${missing[@]}"; do dpkg --add-architecture "$arch"; done
apt-get update
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt's sandbox user downloads into it
for arch in "${missing[@]}"; do
  triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
  (cd "$work" && apt-get download "zlib1g-dev:$arch")
  dpkg-deb -x "$work"/zlib1g-dev_*_"$arch".deb "$work/$arch"
  mkdir -p "/usr/$triplet/include" "/usr/$triplet/lib"
  cp "$work/$arch"/usr/include/zlib.h "$work/$arch"/usr/include/zconf.h "/usr/$triplet/include/"
  cp "$work/$arch/usr/lib/$triplet/libz.a" "/usr/$triplet/lib/"
done
