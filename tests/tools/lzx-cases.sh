# LZX interop inputs, shared by interop.sh and wine-stub.sh (sourced).
#
# lzx_make_cases DIR makes one folder per case below DIR, each to be packed
# into a cabinet of its own, and prints "NAME COMPRESSION [OPTIONS]" per case.
# Everything is made from fixed seeds or files every build machine has, so
# the cabinets are the same on every run.

lzx_make_cases() {
    lzx_dir=$1
    rm -rf "$lzx_dir" && mkdir -p "$lzx_dir" || return 1
    python3 - "$lzx_dir" <<'EOF' || return 1
import os, random, struct, sys

root = sys.argv[1]
def put(case, name, data):
    os.makedirs(os.path.join(root, case), exist_ok=True)
    with open(os.path.join(root, case, name), "wb") as f:
        f.write(data)

rng = random.Random(20240601)
text = b"".join(b"%d: the cabinet holds frames of 32768 bytes\n" % i for i in range(20000))
put("empty", "empty.bin", b"")
put("tiny", "one.txt", b"x")
put("tiny", "three.txt", b"abc")
put("noise", "noise.bin", rng.randbytes(300001))
# Folders that end one byte short of, at and one byte past frame edges.
for size in (32767, 32768, 32769, 65535, 65536, 65537):
    put("frames-%d" % size, "data.txt", text[:size])
# Matches of the longest length at the farthest offset selfex uses (a byte
# farther, which 7-Zip gets wrong, must not be used), and runs of repeats.
for bits in (15, 21):
    far = (1 << bits) - 4
    data = bytearray(far + 2000)
    a, b = rng.randbytes(600), rng.randbytes(600)
    data[10:610] = a
    data[10 + far:610 + far] = a
    data[700:1300] = b
    data[701 + far:1301 + far] = b
    put("far-%d" % bits, "far.bin", bytes(data))
# x86 calls at every edge of the call filter: operands at the bounds of
# the translated range for their position, 0xE8 bytes inside operands,
# each frame's last scanned position and the first unscanned ones, and a
# last frame of 11 bytes.
total = 5 * 32768 + 11
size = 1 << 18  # the translation size selfex announces for this folder
data = bytearray(text[:total])
def call(at, operand):
    data[at] = 0xE8
    data[at + 1:at + 5] = struct.pack("<I", operand & 0xFFFFFFFF)
for frame in range(5):
    start = frame * 32768
    end = start + 32768
    for k in range(12):
        at = start + 100 + 7 * k
        call(at, [0, 1, -1, -at, -at - 1, size - at - 1, size - at, size - 1, size,
                  0x7FFFFFFF, -0x80000000, 12345][k])
    call(start + 300, -0x18000000)
    data[start + 305:start + 309] = struct.pack("<I", 5)
    for k in range(2000):
        at = start + 400 + rng.randrange(32768 - 420)
        call(at, rng.choice([rng.randrange(-at, size - at), rng.randrange(-2**31, 2**31)]))
    call(end - 11 if frame % 2 == 0 else end - 10, 1000)
    call(end - 2, 7)
call(5 * 32768, 1)
put("calls", "calls.bin", bytes(data))
EOF
    # Real x86 code: a 32-bit and a 64-bit Windows DLL, a Linux program.
    mkdir -p "$lzx_dir/binaries"
    for f in /usr/lib/gcc/i686-w64-mingw32/12-posix/libgcc_s_dw2-1.dll \
             /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll /usr/bin/cabextract; do
        cp "$f" "$lzx_dir/binaries/" || return 1
    done
    cat <<'EOF'
empty lzx
tiny lzx
noise lzx
frames-32767 lzx
frames-32768 lzx
frames-32769 lzx:15
frames-65535 lzx:16
frames-65536 lzx --level 1
frames-65537 lzx --best
far-15 lzx:15
far-21 lzx
calls lzx
binaries lzx
binaries lzx:17 --best --folder-size 700K
EOF
}
