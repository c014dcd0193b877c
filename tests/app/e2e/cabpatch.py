#!/usr/bin/env python3
"""Patches a cabinet that gcab made, for the end-to-end tests.

  cabpatch.py attribs CABINET NAME VALUE   sets the attribute bits of the file
                                           stored as NAME ("/" or "\\" alike)
  cabpatch.py spoil CABINET BLOCK          flips a byte in the middle of the data
                                           of CFDATA block BLOCK (0-based) of the
                                           first folder, so its checksum fails

Cabinet layout used here: CFHEADER (36 bytes without reserve; cFolders at 26,
cFiles at 28, coffFiles at 16), CFFOLDER entries of 8 bytes (coffCabStart
first), CFFILE entries (cbFile, uoffFolderStart, iFolder, date, time, attribs,
then the zero-terminated name), CFDATA blocks (csum, cbData, cbUncomp, data).
"""

import struct
import sys


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


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    command, path = sys.argv[1], sys.argv[2]
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
