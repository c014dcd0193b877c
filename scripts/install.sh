#!/bin/sh
# Installs the staged build (dist/, made by `make`) where a Debian tool lies:
#   PREFIX/bin/selfex
#   PREFIX/lib/selfex/libcabinet.so     the decoder, found by selfex there
#   PREFIX/share/selfex/selfex-stub-x86.exe, selfex-stub-x64.exe
#   PREFIX/share/man/man1/selfex.1
#   PREFIX/share/bash-completion/completions/selfex
# all below DESTDIR when it is set (a staging root, as for a package).
# Environment: PREFIX (absolute, default /usr/local), DESTDIR (default none).
set -eu
cd "$(dirname "$0")/.."
PREFIX=${PREFIX:-/usr/local}
case $PREFIX in
/*) ;;
*) echo "install: PREFIX must be an absolute path, not '$PREFIX'" >&2; exit 2 ;;
esac
ROOT=${DESTDIR:-}$PREFIX
for f in dist/bin/selfex dist/lib/libcabinet.so dist/man/selfex.1 \
         dist/stub/selfex-stub-x86.exe dist/stub/selfex-stub-x64.exe; do
  [ -f "$f" ] || { echo "install: $f is missing; run make first" >&2; exit 1; }
done
umask 022
install -D -m 0755 dist/bin/selfex "$ROOT/bin/selfex"
install -D -m 0644 dist/lib/libcabinet.so "$ROOT/lib/selfex/libcabinet.so"
install -D -m 0644 dist/stub/selfex-stub-x86.exe "$ROOT/share/selfex/selfex-stub-x86.exe"
install -D -m 0644 dist/stub/selfex-stub-x64.exe "$ROOT/share/selfex/selfex-stub-x64.exe"
install -D -m 0644 dist/man/selfex.1 "$ROOT/share/man/man1/selfex.1"
install -D -m 0644 packaging/bash-completion/selfex "$ROOT/share/bash-completion/completions/selfex"
echo "installed selfex $(dist/bin/selfex --version | sed -n '1s/^selfex //p') into $ROOT"
