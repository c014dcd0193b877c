#!/usr/bin/env python3
"""Makes the package icon (.ico) from its source image.

Usage: make-icon.py SOURCE OUTPUT.ico

The icon holds six images, in this order: 16 x 16 and 32 x 32 at 8 bits per
pixel, then 16 x 16, 32 x 32, 48 x 48 and 256 x 256 at 32 bits per pixel.
ImageMagick's "convert" renders and scales the source (it needs its SVG coder,
Debian's libmagickcore-6.q16-6-extra); this script writes the icon file itself
so that every image gets exactly its colour depth. The build does not run it:
the icon it made is kept as app/icon/selfex-stub.ico, and the PNG image is
written without time stamps, so that remaking it changes nothing.

Icon file layout: a 6-byte header (0, type 1, image count), one 16-byte
directory entry per image, then the images. Images up to 48 pixels are
device-independent bitmaps without a file header: a BITMAPINFOHEADER whose
height counts the colour rows and the mask rows together, the palette (8 bit
only), the colour rows bottom-up, then a 1-bit AND mask, bottom-up, set where
the pixel is transparent. The 256-pixel image is stored as PNG, as Windows
Vista and later expect.
"""

import struct
import subprocess
import sys

PALETTE_IMAGES = (16, 32)            # 8 bits per pixel, binary transparency
TRUE_COLOUR_IMAGES = (16, 32, 48)    # 32 bits per pixel with alpha
PNG_IMAGE = 256                      # 32 bits per pixel, PNG-compressed

# A pixel more transparent than this is masked out in the 8-bit images.
MASK_ALPHA_THRESHOLD = 128


def render(source, size, *options):
    """The source scaled to size x size; options choose the raw output."""
    command = ["convert", "-background", "none", source, "-resize", f"{size}x{size}!"]
    command += list(options)
    return subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout


def row_bytes(bits_per_row):
    """Bytes of one bitmap row: rows are padded to 32 bits."""
    return (bits_per_row + 31) // 32 * 4


def bitmap_header(size, bits_per_pixel, image_bytes, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits_per_pixel,
                       0, image_bytes, 0, 0, colours, 0)


def and_mask(alpha, size):
    """The 1-bit mask rows, bottom-up: 1 where the pixel is transparent."""
    stride = row_bytes(size)
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if alpha[y * size + x] < MASK_ALPHA_THRESHOLD:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return bytes(mask)


def true_colour_image(source, size):
    rgba = render(source, size, "-depth", "8", "rgba:-")
    alpha = rgba[3::4]
    pixels = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = rgba[4 * (y * size + x):4 * (y * size + x) + 4]
            pixels += bytes((b, g, r, a))
    mask = and_mask(alpha, size)
    return bitmap_header(size, 32, len(pixels) + len(mask), 0) + bytes(pixels) + mask


def palette_image(source, size):
    # At most 255 colours, so that the palette always fits.
    rgb = render(source, size, "-alpha", "off", "+dither", "-colors", "255", "-depth", "8", "rgb:-")
    alpha = render(source, size, "-depth", "8", "rgba:-")[3::4]
    colours = sorted({rgb[i:i + 3] for i in range(0, len(rgb), 3)})
    index = {colour: n for n, colour in enumerate(colours)}
    palette = bytearray()
    for n in range(256):
        r, g, b = colours[n] if n < len(colours) else (0, 0, 0)
        palette += bytes((b, g, r, 0))
    stride = row_bytes(8 * size)
    pixels = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            p = 3 * (y * size + x)
            row[x] = index[rgb[p:p + 3]]
        pixels += row
    mask = and_mask(alpha, size)
    return (bitmap_header(size, 8, len(pixels) + len(mask), 256)
            + bytes(palette) + bytes(pixels) + mask)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make-icon.py SOURCE OUTPUT.ico")
    source, output = sys.argv[1], sys.argv[2]

    # (size, bits per pixel, image bytes)
    images = [(s, 8, palette_image(source, s)) for s in PALETTE_IMAGES]
    images += [(s, 32, true_colour_image(source, s)) for s in TRUE_COLOUR_IMAGES]
    images.append((PNG_IMAGE, 32, render(source, PNG_IMAGE, "-strip", "PNG32:-")))

    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    directory = bytearray()
    for size, bits, data in images:
        # Width and height 0 mean 256; a colour count of 0 means 256 or more.
        side = size % 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    with open(output, "wb") as out:
        out.write(header + bytes(directory) + b"".join(data for _, _, data in images))


if __name__ == "__main__":
    main()
