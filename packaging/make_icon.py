#!/usr/bin/python3
"""Draws Vesperdeep's icon: the player's '@' from the game's own font sheet, enlarged without
smoothing so that it keeps its pixels, light on the dark of the cave.

    packaging/make_icon.py [--size 64] [--out packaging/vesperdeep.png]

Run it again after the font sheet changes and commit the PNG it writes.
"""

import argparse
import pathlib

from PIL import Image

REPO = pathlib.Path(__file__).resolve().parent.parent
SHEET = REPO / "assets" / "Slate_curses_12x12.bmp"
GLYPH = ord("@")
CELLS_PER_SIDE = 16
BACKGROUND = (16, 16, 24, 255)  # the unlit cave
INK = (230, 222, 200)  # a warm, lamp-lit white


def glyph_coverage(sheet: Image.Image, code: int) -> Image.Image:
    """The glyph's cell as a greyscale mask: each pixel's brightest channel, as the game reads it."""
    cell = sheet.width // CELLS_PER_SIDE
    left = (code % CELLS_PER_SIDE) * cell
    top = (code // CELLS_PER_SIDE) * cell
    rgb = sheet.convert("RGB").crop((left, top, left + cell, top + cell))
    mask = Image.new("L", rgb.size)
    mask.putdata([max(pixel) for pixel in rgb.getdata()])
    return mask


def trim(mask: Image.Image) -> Image.Image:
    """The mask cut down to the glyph's inked pixels (the whole cell when it has none)."""
    box = mask.getbbox()
    return mask.crop(box) if box else mask


def make_icon(size: int) -> Image.Image:
    mask = trim(glyph_coverage(Image.open(SHEET), GLYPH))
    margin = max(1, size // 16)
    scale = max(1, min((size - 2 * margin) // mask.width, (size - 2 * margin) // mask.height))
    mask = mask.resize((mask.width * scale, mask.height * scale), Image.NEAREST)
    icon = Image.new("RGBA", (size, size), BACKGROUND)
    ink = Image.new("RGBA", mask.size, INK + (255,))
    icon.paste(ink, ((size - mask.width) // 2, (size - mask.height) // 2), mask)
    return icon


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=64, help="width and height in pixels")
    parser.add_argument("--out", type=pathlib.Path, default=REPO / "packaging" / "vesperdeep.png")
    args = parser.parse_args()
    if args.size < 16:
        parser.error("--size must be at least 16")
    make_icon(args.size).save(args.out)
    print(f"wrote {args.out} ({args.size}x{args.size})")


if __name__ == "__main__":
    main()
