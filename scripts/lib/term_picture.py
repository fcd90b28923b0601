#!/usr/bin/env python3
"""Draws a tmux pane as a PNG picture with ImageMagick.

  term_picture.py CAPTURE OUTPUT.png

CAPTURE is `tmux capture-pane -e -p -N` output of an 80 x 50 pane. Every cell becomes a box of
its background colour with its character in its foreground colour, in DejaVu Sans Mono
(Debian: fonts-dejavu-core), so the picture shows what a terminal shows.
"""
import os, subprocess, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../terminal/tests"))
import pane  # noqa: E402  (the tests' reader of capture-pane output)

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
CELL_W, CELL_H, POINTS, BASELINE = 9, 18, 15, 14


def rgb(colour, default):
    if colour[0] == "rgb":
        return "#%02x%02x%02x" % colour[1:]
    if colour[0] == "index":
        return "#%02x%02x%02x" % pane.palette(colour[1])
    return default


def main(capture_file, output):
    with open(capture_file, encoding="utf-8") as f:
        rows = pane.parse_capture(f.read())
    draw = [f"viewbox 0 0 {80 * CELL_W} {50 * CELL_H}", "fill '#000000'",
            f"rectangle 0,0 {80 * CELL_W},{50 * CELL_H}", f"font '{FONT}'", f"font-size {POINTS}"]
    for y, row in enumerate(rows):
        for x, (char, fg, bg) in enumerate(row):
            back = rgb(bg, "#000000")
            if back != "#000000":
                draw.append(f"fill '{back}' rectangle {x * CELL_W},{y * CELL_H} "
                            f"{x * CELL_W + CELL_W - 1},{y * CELL_H + CELL_H - 1}")
            if char != " ":
                text = char.replace("\\", "\\\\").replace("'", "\\'")
                draw.append(f"fill '{rgb(fg, '#ffffff')}' text {x * CELL_W},{y * CELL_H + BASELINE} '{text}'")
    with tempfile.NamedTemporaryFile("w", suffix=".mvg", encoding="utf-8", delete=False) as mvg:
        mvg.write("\n".join(draw) + "\n")
    try:
        subprocess.run(["convert", f"mvg:{mvg.name}", output], check=True)
    finally:
        os.unlink(mvg.name)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
