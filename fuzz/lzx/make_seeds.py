#!/usr/bin/env python3
"""Turns the LZX and Quantum folders of cabinets into codec fuzz seeds.

Usage: make_seeds.py CABINET... (run from the repository root)

Each LZX folder becomes fuzz/lzx/corpus/<cabinet>-<folder>.bin and each
Quantum folder fuzz/quantum/corpus/<cabinet>-<folder>.bin, in the input
layout of fuzz/lzx/CodecFuzzer.h: a window byte, then per CFDATA block its
payload size, its output size - 1 and the payload. Only the first
MAX_BLOCKS blocks of a folder are kept, so that each seed runs quickly.
"""
import os
import struct
import sys

MAX_BLOCKS = 24


def folders(path):
    data = open(path, 'rb').read()
    if data[:4] != b'MSCF':
        return
    c_folders, _, flags = struct.unpack_from('<HHH', data, 26)
    offset, cb_folder, cb_data = 36, 0, 0
    if flags & 4:
        cb_header, cb_folder, cb_data = struct.unpack_from('<HBB', data, 36)
        offset = 40 + cb_header
    for present in (flags & 1, flags & 2):
        if present:  # a cabinet name and a disk name
            for _ in range(2):
                offset = data.index(b'\0', offset) + 1
    for index in range(c_folders):
        first, count, type_compress = struct.unpack_from('<IHH', data, offset)
        offset += 8 + cb_folder
        blocks, at = [], first
        for _ in range(min(count, MAX_BLOCKS)):
            if at + 8 > len(data):
                break
            cb, uncompressed = struct.unpack_from('<HH', data, at + 4)
            at += 8 + cb_data
            blocks.append((data[at:at + cb], uncompressed))
            at += cb
        yield index, type_compress, blocks


def seed(choice, blocks):
    out = bytearray([choice])
    for payload, uncompressed in blocks:
        out += struct.pack('<HH', len(payload), max(uncompressed, 1) - 1)
        out += payload
    return bytes(out)


def main():
    for path in sys.argv[1:]:
        name = os.path.basename(path)
        for index, type_compress, blocks in folders(path):
            method, level, bits = type_compress & 15, (type_compress >> 4) & 15, (type_compress >> 8) & 31
            if method == 3 and 15 <= bits <= 21:
                target, choice = 'lzx', bits - 15
            elif method == 2 and 10 <= bits <= 21:
                target, choice = 'quantum', (level % 8) * 12 + bits - 10
            else:
                continue
            out = os.path.join('fuzz', target, 'corpus', '%s-%d.bin' % (name, index))
            with open(out, 'wb') as f:
                f.write(seed(choice, blocks))


if __name__ == '__main__':
    main()
