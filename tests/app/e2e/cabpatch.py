#!/usr/bin/env python3
"""Patches a cabinet that gcab made, or makes one, for the end-to-end tests.

  cabpatch.py attribs CABINET NAME VALUE   sets the attribute bits of the file
                                           stored as NAME ("/" or "\\" alike)
  cabpatch.py spoil CABINET BLOCK          flips a byte in the middle of the data
                                           of CFDATA block BLOCK (0-based) of the
                                           first folder, so its checksum fails
  cabpatch.py zeros CABINET NAME:SIZE...   writes a cabinet of files that hold
                                           only zero bytes, in one MSZIP folder:
                                           hundreds of megabytes take a second
                                           to make and a while to extract

Cabinet layout used here: CFHEADER (36 bytes without reserve; cFolders at 26,
cFiles at 28, coffFiles at 16), CFFOLDER entries of 8 bytes (coffCabStart
first), CFFILE entries (cbFile, uoffFolderStart, iFolder, date, time, attribs,
then the zero-terminated name), CFDATA blocks (csum, cbData, cbUncomp, data).
"""

import struct
import sys
import zlib


def file_entries(cab):
    """(offset of the attribs field, stored name) of every CFFILE entry."""
    files = struct.unpack_from("<H", cab, 28)[0]
    at = struct.unpack_from("<I", cab, 16)[0]
    for _ in range(files):
        end = cab.index(b"\0", at + 16)
        yield at + 14, cab[at + 16:end].decode("latin-1")
        at = end + 1


def set_attribs(cab, name, value):
    wanted = name.replace("/", "\\")
    for field, stored in file_entries(cab):
        if stored.replace("/", "\\") == wanted:
            struct.pack_into("<H", cab, field, value)
            return
    sys.exit(f"cabpatch: no file {name!r}")


def spoil_block(cab, index):
    block = struct.unpack_from("<I", cab, 36)[0]
    for _ in range(index):
        block += 8 + struct.unpack_from("<H", cab, block + 4)[0]
    size = struct.unpack_from("<H", cab, block + 4)[0]
    cab[block + 8 + size // 2] ^= 0x55


def make_zeros(path, files):
    """A cabinet of the files (name, size), all zero bytes, one MSZIP folder."""
    total = sum(size for _, size in files)
    blocks = []
    deflated = {}
    for start in range(0, total, 32768):
        size = min(32768, total - start)
        if size not in deflated:
            packer = zlib.compressobj(9, zlib.DEFLATED, -15)
            deflated[size] = b"CK" + packer.compress(bytes(size)) + packer.flush()
        # No checksum (0): the bytes are the same in every block anyway.
        blocks.append(struct.pack("<IHH", 0, len(deflated[size]), size) + deflated[size])
    entries = bytearray()
    offset = 0
    for name, size in files:
        # 2020-01-02 03:04:06, archive bit.
        entries += struct.pack("<IIHHHH", size, offset, 0, (40 << 9) | (1 << 5) | 2, (3 << 11) | (4 << 5) | 3, 0x20)
        entries += name.encode("ascii") + b"\0"
        offset += size
    files_at = 36 + 8
    data_at = files_at + len(entries)
    cabinet_size = data_at + sum(len(block) for block in blocks)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, cabinet_size, 0, files_at, 0, 3, 1, 1, len(files), 0, 0, 0)
    folder = struct.pack("<IHH", data_at, len(blocks), 1)
    with open(path, "wb") as f:
        f.write(header + folder + entries)
        for block in blocks:
            f.write(block)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    command, path = sys.argv[1], sys.argv[2]
    if command == "zeros":
        make_zeros(path, [(arg.rsplit(":", 1)[0], int(arg.rsplit(":", 1)[1])) for arg in sys.argv[3:]])
        return
    with open(path, "rb") as f:
        cab = bytearray(f.read())
    if command == "attribs" and len(sys.argv) == 5:
        set_attribs(cab, sys.argv[3], int(sys.argv[4], 0))
    elif command == "spoil":
        spoil_block(cab, int(sys.argv[3]))
    else:
        sys.exit(__doc__)
    with open(path, "wb") as f:
        f.write(cab)


if __name__ == "__main__":
    main()
