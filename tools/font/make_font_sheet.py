#!/usr/bin/python3
"""Generate assets/Slate_curses_12x12.bmp, the game's code page 437 font sheet.

The sheet is 16 x 16 cells of 12 x 12 pixels, white glyphs on black, with the
glyph for character code i at column i % 16, row i // 16 (libtcod's
ASCII-in-row layout). Letters, digits, symbols and the pictographs come from
Terminus Font Bold at its 8 x 14 size (Debian package fonts-terminus-otb).
The two faces (codes 1 and 2) and the box-drawing, shade and block
characters (codes 176 to 223) are drawn here, the latter so that
neighbouring cells join into unbroken lines.

Usage:
    tools/font/make_font_sheet.py [--out PATH] [--sample PNG]

Needs only Debian packages: python3-pil and fonts-terminus-otb. The generated
sheet is committed, so building the game never runs this script.
"""

import argparse
import os
import sys
import unicodedata

try:
    from PIL import Image, ImageDraw, ImageFont
except ImportError:
    sys.exit("make_font_sheet: Pillow is missing (apt-get install python3-pil)")

CELL = 12  # pixel width and height of one glyph cell
GRID = 16  # cells per row and per column
FONT_PATH = "/usr/share/fonts/opentype/terminus/terminus-bold.otb"
FONT_SIZE = 14  # Terminus 8 x 14 strike
# Terminus 8 x 14 draws capitals from raster row 2 to the baseline at row 12
# and descenders down to row 13; rows 0 and 1 only hold accents above
# capitals. The 12-row window keeps rows 2 to 13 so that every ASCII letter
# keeps its full shape.
WINDOW_TOP = 2

# Code page 437 below 32 and at 127 are pictographs, not control codes.
CP437_LOW = (
    "\u0000\u263a\u263b\u2665\u2666\u2663\u2660\u2022"
    "\u25d8\u25cb\u25d9\u2642\u2640\u266a\u266b\u263c"
    "\u25ba\u25c4\u2195\u203c\u00b6\u00a7\u25ac\u21a8"
    "\u2191\u2193\u2192\u2190\u221f\u2194\u25b2\u25bc"
)


def cp437_char(code):
    """The Unicode character shown for a code page 437 code."""
    if code < 32:
        return CP437_LOW[code]
    if code == 127:
        return "\u2302"
    return bytes([code]).decode("cp437")


# ---------------------------------------------------------------------------
# Box drawing
#
# Each box character is four arms (left, right, up, down), each none (0),
# single (1) or double (2). A single line is a 2-pixel band through the cell
# centre; a double line is two 2-pixel bands with a 2-pixel gap, placed
# symmetrically about the centre. Every arm runs from its cell edge to the
# centre, so a line leaving one cell continues on exactly the same pixel rows
# (or columns) in the next cell.

C = CELL // 2
SINGLE = (C - 1, C + 1)            # rows 5..6 (or columns)
DOUBLE = ((C - 3, C - 1), (C + 1, C + 3))  # rows 3..4 and 7..8

# How far an arm reaches into the cell, measured from its own edge.
REACH_NEAR_DOUBLE = C - 1   # stops on the near line of a crossing double
REACH_FAR_DOUBLE = C + 3    # runs on to the far line of a double corner
REACH_THROUGH_SINGLE = C + 1  # covers a single perpendicular line
REACH_CENTRE = C

ARM_WORDS = {"LEFT": (0,), "RIGHT": (1,), "UP": (2,), "DOWN": (3,),
             "HORIZONTAL": (0, 1), "VERTICAL": (2, 3)}
WEIGHT_WORDS = {"LIGHT": 1, "SINGLE": 1, "DOUBLE": 2}


def box_arms(char):
    """(left, right, up, down) styles of a box-drawing character, read from
    its Unicode name ("BOX DRAWINGS DOWN SINGLE AND LEFT DOUBLE" is left
    double, down single), or None if it is not one."""
    name = unicodedata.name(char, "")
    if not name.startswith("BOX DRAWINGS "):
        return None
    words = name[len("BOX DRAWINGS "):].split()
    overall = None
    if words[0] in ("LIGHT", "DOUBLE"):  # one weight for every arm
        overall = WEIGHT_WORDS[words.pop(0)]
    arms = [0, 0, 0, 0]
    pending = []
    for word in words + ["AND"]:
        if word in ARM_WORDS:
            pending += ARM_WORDS[word]
        elif word in WEIGHT_WORDS or word == "AND":
            for arm in pending:
                arms[arm] = WEIGHT_WORDS.get(word, overall)
            pending = []
        else:
            raise ValueError("unexpected box-drawing name: " + name)
    if arms == [0, 0, 0, 0]:
        raise ValueError("no arms in box-drawing name: " + name)
    return tuple(arms)


def arm_reach(style, near_side, far_side, perpendicular, opposite):
    """How far one band of an arm reaches into the cell from its edge.

    style: the arm's own style (1 single, 2 double).
    near_side / far_side: styles of the two perpendicular arms; for a band of
    a double arm, near_side is the perpendicular arm on the band's own side
    (the upper band of a horizontal arm looks at the up arm). For a single
    arm the two are interchangeable.
    perpendicular: the larger of the two perpendicular styles.
    opposite: style of the arm on the other side of the centre.
    """
    if style == 2:
        if near_side == 2:
            return REACH_NEAR_DOUBLE     # inner corner: leave the gap open
        if far_side == 2:
            return REACH_FAR_DOUBLE      # outer corner: wrap round the gap
        if perpendicular == 1:
            return REACH_THROUGH_SINGLE
        return REACH_CENTRE
    # single arm
    if near_side == 2 and far_side == 2:
        # A single line meeting a double line ends on it, unless it crosses.
        return REACH_THROUGH_SINGLE if opposite else REACH_NEAR_DOUBLE
    if near_side == 2 or far_side == 2:
        return REACH_FAR_DOUBLE
    if perpendicular == 1:
        return REACH_THROUGH_SINGLE
    return REACH_CENTRE


def draw_box(pixels, arms):
    """Set the lit pixels of one box character into a CELL x CELL grid."""
    left, right, up, down = arms

    def fill(x0, x1, y0, y1):
        for y in range(y0, y1):
            for x in range(x0, x1):
                pixels[y][x] = 255

    def bands(style, side_a, side_b):
        # Each band with the perpendicular arms on its own side and the other.
        if style == 1:
            return [(SINGLE, side_a, side_b)]
        return [(DOUBLE[0], side_a, side_b), (DOUBLE[1], side_b, side_a)]

    # Each arm: its style, whether it starts at the cell's left or top edge,
    # the arm opposite it, the two arms across it, and whether it lies flat.
    for style, from_start, opposite, side_a, side_b, flat in (
            (left, True, right, up, down, True),
            (right, False, left, up, down, True),
            (up, True, down, left, right, False),
            (down, False, up, left, right, False)):
        if not style:
            continue
        for (b0, b1), near, far in bands(style, side_a, side_b):
            reach = arm_reach(style, near, far, max(side_a, side_b), opposite)
            a0, a1 = (0, reach) if from_start else (CELL - reach, CELL)
            if flat:
                fill(a0, a1, b0, b1)
            else:
                fill(b0, b1, a0, a1)


def draw_shade_or_block(pixels, code):
    """Shades 176-178 and blocks 219-223; patterns tile across cells."""
    for y in range(CELL):
        for x in range(CELL):
            light = (x % 2 == 0 and y % 4 == 0) or (x % 2 == 1 and y % 4 == 2)
            lit = {
                176: light,
                177: (x + y) % 2 == 0,
                178: not light,
                219: True,
                220: y >= C,
                221: x < C,
                222: x >= C,
                223: y < C,
            }[code]
            if lit:
                pixels[y][x] = 255


# Terminus draws the two faces as tall rounded boxes; at 12 pixels a round
# face reads better. Drawn 10 x 10, centred.
FACES = {
    1: ("..######..",
        ".#......#.",
        "#........#",
        "#.##..##.#",
        "#.##..##.#",
        "#........#",
        "#.#....#.#",
        "#..####..#",
        ".#......#.",
        "..######.."),
    2: ("..######..",
        ".########.",
        "##########",
        "##..##..##",
        "##..##..##",
        "##########",
        "##.####.##",
        "###....###",
        ".########.",
        "..######.."),
}


def procedural_glyph(code):
    """A CELL x CELL glyph drawn here (faces, codes 176-223), else None."""
    if code not in FACES and not 176 <= code <= 223:
        return None
    arms = box_arms(cp437_char(code))
    pixels = [[0] * CELL for _ in range(CELL)]
    if code in FACES:
        art = FACES[code]
        top = (CELL - len(art)) // 2
        for y, row in enumerate(art):
            left = (CELL - len(row)) // 2
            for x, mark in enumerate(row):
                if mark == "#":
                    pixels[top + y][left + x] = 255
    elif arms:
        draw_box(pixels, arms)
    else:
        draw_shade_or_block(pixels, code)
    image = Image.new("L", (CELL, CELL), 0)
    image.putdata([v for row in pixels for v in row])
    return image


# ---------------------------------------------------------------------------
# Font glyphs

def font_glyph(font, char):
    """Render one character of the bitmap font into a CELL x CELL cell.

    The 8-pixel-wide glyph is centred horizontally. Vertically the fixed
    window keeps all letters on one baseline; a glyph drawn above the window
    (a backquote, an accented capital) is moved down just enough to fit.
    """
    canvas = Image.new("L", (CELL + 8, FONT_SIZE + 8), 0)
    draw = ImageDraw.Draw(canvas)
    draw.fontmode = "1"  # the strike is a bitmap: no smoothing
    draw.text((0, 0), char, fill=255, font=font)
    box = canvas.getbbox()
    cell = Image.new("L", (CELL, CELL), 0)
    if box is None:
        return cell
    left, top, right, bottom = box
    width = font.getbbox("M")[2]
    x_offset = (CELL - width) // 2
    window = WINDOW_TOP
    if top < window:
        window = max(top, bottom - CELL)
    if right > width:  # never in Terminus; keep wide glyphs inside the cell
        x_offset = max(0, (CELL - right) // 2)
    cell.paste(canvas.crop((0, window, CELL, window + CELL)), (x_offset, 0))
    return cell


def build_sheet(font):
    sheet = Image.new("L", (CELL * GRID, CELL * GRID), 0)
    for code in range(GRID * GRID):
        glyph = procedural_glyph(code)
        if glyph is None:
            char = cp437_char(code)
            glyph = (Image.new("L", (CELL, CELL), 0)
                     if char in ("\u0000", "\u00a0", " ")
                     else font_glyph(font, char))
        sheet.paste(glyph, ((code % GRID) * CELL, (code // GRID) * CELL))
    return sheet


def render_sample(sheet, path):
    """A 40 x 30 cell double-line frame with text, built from the sheet's tiles."""
    cols, rows = 40, 30
    text = {
        2: "Vesperdeep",
        4: "You wake alone in a cave.",
        5: "The bat bites you for 2 damage!",
        7: "@ k b s B  % ! ) [ . \" # \x07 \x0f \x01 \xf7",
        9: "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
        10: "abcdefghijklmnopqrstuvwxyz",
        11: "0123456789 !\"#$%&'()*+,-./:;",
        12: "<=>?@[\\]^_`{|}~",
    }
    grid = [[32] * cols for _ in range(rows)]
    for x in range(cols):
        grid[0][x] = grid[rows - 1][x] = 205
    for y in range(rows):
        grid[y][0] = grid[y][cols - 1] = 186
    for x, y in ((0, 0), (cols - 1, 0), (0, rows - 1), (cols - 1, rows - 1)):
        grid[y][x] = 206
    for x in range(1, cols - 1):  # an inner divider meeting the sides at 206
        grid[16][x] = 205
    grid[16][0] = grid[16][cols - 1] = 206
    for y in range(17, rows - 1):  # and a column divider under it
        grid[y][20] = 186
    grid[16][20] = 206
    grid[rows - 1][20] = 206
    for y, line in text.items():
        for i, ch in enumerate(line):
            grid[y][2 + i] = ord(ch)
    out = Image.new("L", (cols * CELL, rows * CELL), 0)
    for y in range(rows):
        for x in range(cols):
            code = grid[y][x]
            tile = sheet.crop(((code % GRID) * CELL, (code // GRID) * CELL,
                               (code % GRID + 1) * CELL,
                               (code // GRID + 1) * CELL))
            out.paste(tile, (x * CELL, y * CELL))
    out.convert("RGB").save(path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.normpath(
        os.path.join(here, "..", "..", "assets", "Slate_curses_12x12.bmp"))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=default_out,
                        help="where to write the sheet (default: %(default)s)")
    parser.add_argument("--sample", metavar="PNG",
                        help="also write a framed text sample built from the sheet")
    args = parser.parse_args()
    if not os.path.exists(FONT_PATH):
        sys.exit("make_font_sheet: %s not found (apt-get install fonts-terminus-otb)"
                 % FONT_PATH)
    font = ImageFont.truetype(FONT_PATH, FONT_SIZE)
    sheet = build_sheet(font)
    # 24-bit uncompressed BMP, as SDL_LoadBMP reads it.
    sheet.convert("RGB").save(args.out, format="BMP")
    print("make_font_sheet: wrote %s" % args.out)
    if args.sample:
        render_sample(sheet, args.sample)
        print("make_font_sheet: wrote %s" % args.sample)


if __name__ == "__main__":
    main()
