#!/bin/sh
# Builds the Debian package of the staged build (dist/, made by `make`):
# OUTDIR/selfex_VERSION_ARCH.deb (OUTDIR: dist by default), laid out by
# scripts/install.sh with PREFIX=/usr, its programs stripped and its manual
# page compressed as Debian ships them. The same dist/ at the same commit
# gives the same bytes: every file time is SOURCE_DATE_EPOCH (default: the
# time of the last commit), and files belong to root.
#   make-deb.sh [OUTDIR]
set -eu
cd "$(dirname "$0")/.."
umask 022
OUTDIR=${1:-dist}
[ -x dist/bin/selfex ] || { echo "make-deb: dist/bin/selfex is missing; run make first" >&2; exit 1; }
VERSION=$(dist/bin/selfex --version | sed -n '1s/^selfex //p')
ARCH=$(dpkg --print-architecture)
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
WORK=build/deb
ROOT=$WORK/root

rm -rf "$WORK"
mkdir -p "$ROOT/DEBIAN" "$WORK/debian"
DESTDIR=$ROOT PREFIX=/usr scripts/install.sh >/dev/null
strip --remove-section=.comment --remove-section=.note "$ROOT/usr/bin/selfex"
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$ROOT/usr/lib/selfex/libcabinet.so"
gzip -9n "$ROOT/usr/share/man/man1/selfex.1"

# The libraries' packages that the programs need, as dpkg-shlibdeps reads
# them from the programs (it wants a control file to stand in).
printf 'Source: selfex\n\nPackage: selfex\nArchitecture: any\n' > "$WORK/debian/control"
depends=$(cd "$WORK" && dpkg-shlibdeps -O -eroot/usr/bin/selfex -eroot/usr/lib/selfex/libcabinet.so |
          sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
size=$(find "$ROOT/usr" -type f -printf '%s\n' | awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')
cat > "$ROOT/DEBIAN/control" <<CONTROL
Package: selfex
Version: $VERSION
Architecture: $ARCH
Maintainer: ${DEB_MAINTAINER:-selfex maintainers <maintainers@example.invalid>}
Installed-Size: $size
Depends: $depends
Section: utils
Priority: optional
Description: make and inspect self-extracting packages for Windows
 selfex packs files and folders into a self-extracting package: a small
 Windows GUI stub followed by a Microsoft cabinet, which unpacks itself
 into a folder the user picks. It also lists, tests and extracts such
 packages and bare cabinets on Linux, reading them the way the package
 itself would.
CONTROL
(cd "$ROOT" && find usr -type f | LC_ALL=C sort | xargs md5sum) > "$ROOT/DEBIAN/md5sums"
find "$ROOT" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$OUTDIR"
DEB=$OUTDIR/selfex_${VERSION}_$ARCH.deb
rm -f "$OUTDIR"/selfex_*.deb
dpkg-deb --root-owner-group --build "$ROOT" "$DEB" >/dev/null
echo "$DEB"
