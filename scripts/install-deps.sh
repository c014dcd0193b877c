#!/bin/sh
# Installs what building and testing selfex needs, with apt-get, and only
# what is missing: quiet and quick when everything is there already.
set -e
PACKAGES="build-essential cmake googletest zlib1g-dev
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine64 fonts-wine xvfb xauth xdotool imagemagick x11-utils
  cabextract gcab 7zip clang libclang-rt-14-dev attr python3 clang-format-16"

missing=""
for p in $PACKAGES; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "selfex needs these Debian packages:$missing" >&2
  echo "run 'make deps' as root, or install them with apt-get" >&2
  exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
