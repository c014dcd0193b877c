#!/bin/sh
# Installs what building, testing, the demo and the benchmarks need, with
# apt-get on Debian 12, and only what is missing: quiet and quick when
# everything is there already. No recommended packages come along, so
# every package that provides a tool in use is named here:
#
#   build-essential, cmake    the native builds (gcc, g++, make, strip)
#   googletest                GoogleTest's sources (/usr/src/googletest)
#   zlib1g-dev                MSZIP compression in the Linux tool
#   g++-mingw-w64-x86-64-posix, g++-mingw-w64-i686-posix
#                             the Windows builds: the stubs, selfex.exe and
#                             the tests (with windres and objdump); the
#                             "posix" thread model the toolchain files use
#   libz-mingw-w64-dev        zlib for selfex.exe
#   wine64                    the Windows tests, the stub's end-to-end
#                             tests and the demo (wine64, wineserver)
#   fonts-wine                the fonts of the stub's dialogs under Wine
#   xvfb                      the private X server of the headless tests
#                             and the demo (Xvfb)
#   xdotool                   keys and clicks for the stub's dialogs
#   imagemagick               screenshots and their checks (import, convert)
#   x11-utils                 the demo's test for a usable display (xdpyinfo)
#   cabextract, gcab, 7zip    interop tests, end-to-end packages and the
#                             benchmarks' peers (cabextract, gcab, 7zz)
#   attr                      hidden files in the demo and the interop tests
#                             (setfattr, getfattr)
#   python3                   the end-to-end tests' cabinet patcher
#   clang, libclang-rt-14-dev the fuzzing build (libFuzzer)
#   clang-format-16           the house format (scripts/check-format.sh)
#   git                       the format check's file list; the manual
#                             page's and the .deb's date (the last commit)
#   time                      the benchmarks' timings (/usr/bin/time)
#   xz-utils                  the LZX packing benchmark's floor (xz -6)
#   dpkg-dev                  the Debian package's dependencies
#                             (dpkg-shlibdeps; dpkg-deb comes with dpkg)
#   man-db, groff-base        the manual page check (man, groff)
#   icoutils                  the stub's icon resources (wrestool, icotool)
#   mingw-w64                 the MinGW-w64 headers and runtime meta package
#   unicode-data              UnicodeData.txt for the case-fold table generator
#   osslsigncode, openssl     the signed-package test (a throw-away
#                             certificate, signing and verifying)
set -e
PACKAGES="build-essential cmake googletest zlib1g-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine64 fonts-wine xvfb xdotool imagemagick x11-utils
  cabextract gcab 7zip attr python3 clang libclang-rt-14-dev clang-format-16
  git time dpkg-dev man-db groff-base icoutils mingw-w64 unicode-data osslsigncode openssl xz-utils"

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
