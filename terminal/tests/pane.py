#!/usr/bin/env python3
"""Helpers of the terminal tests (terminal.sh).

  pane.py run DIR PROGRAM [ARG...]
      Runs in a tmux pane: writes DIR/stty.before, starts PROGRAM with SIGHUP, SIGINT and
      SIGQUIT as the default (this wrapper itself ignores them, so that it can report them), writes its pid to
      DIR/pid, and when it ends writes DIR/status ("exit N" or "signal N") and DIR/stty.after,
      prints "after-exit" and stays until the pane's terminal goes away (ten minutes at most).
  pane.py play SOCKET SESSION DEPTH TIMEOUT [KEY EXPECTED]...
      For each KEY (a tmux send-keys argument list, split at spaces, such as "Enter" or "-l h"):
      presses it in SESSION of the tmux server on SOCKET, then waits (up to TIMEOUT seconds)
      until `capture-pane -e` shows EXPECTED.screen, the play driver's screen, and its colours
      EXPECTED.colours as a terminal of DEPTH (direct, 256, 8) is sent them. Prints the first
      differences and exits 1 when the pane never shows them.
"""
import os, re, select, signal, subprocess, sys, time


def run(directory, argv):
    def stty():
        return subprocess.run(["stty", "-g"], stdin=sys.stdin, capture_output=True,
                              text=True).stdout.strip()

    with open(os.path.join(directory, "stty.before"), "w") as out:
        out.write(stty() + "\n")
    # Ctrl+C reaches the whole foreground group, and a hang-up this wrapper too: it must outlive
    # the game to report on it; the game gets the default dispositions.
    handled = (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT)
    for number in handled:
        signal.signal(number, signal.SIG_IGN)

    def defaults():
        for number in handled:
            signal.signal(number, signal.SIG_DFL)

    child = subprocess.Popen(argv, preexec_fn=defaults)
    with open(os.path.join(directory, "pid.tmp"), "w") as out:
        out.write(f"{child.pid}\n")
    os.rename(os.path.join(directory, "pid.tmp"), os.path.join(directory, "pid"))
    code = child.wait()
    status = f"exit {code}" if code >= 0 else f"signal {-code}"
    with open(os.path.join(directory, "status.tmp"), "w") as out:
        out.write(f"{status} {time.time():.3f}\n")
    os.rename(os.path.join(directory, "status.tmp"), os.path.join(directory, "status"))
    try:
        with open(os.path.join(directory, "stty.after"), "w") as out:
            out.write(stty() + "\n")
        print("after-exit", flush=True)
    except OSError:
        return  # the terminal is gone (a hang-up)
    wait_for_hangup()


def wait_for_hangup(limit=600):
    """Keeps the pane open for the test to look at, until its terminal goes away (the session
    or the tmux server killed) or `limit` seconds have passed: never longer."""
    deadline = time.monotonic() + limit
    fd = sys.stdin.fileno()
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 1)
        if not ready:
            continue
        try:
            if not os.read(fd, 4096):
                return
        except OSError:
            return


# ---- Colours ----------------------------------------------------------------------------------

CUBE = [0, 95, 135, 175, 215, 255]
ANSI = [(0, 0, 0), (205, 0, 0), (0, 205, 0), (205, 205, 0), (0, 0, 238), (205, 0, 205),
        (0, 205, 205), (229, 229, 229)]


def palette(n):
    if n >= 232:
        return (8 + 10 * (n - 232),) * 3
    if n >= 16:
        n -= 16
        return (CUBE[n // 36], CUBE[n // 6 % 6], CUBE[n % 6])
    return ANSI[n & 7]


def nearest(rgb, numbers):
    # the first of the nearest, by squared distance
    return min(numbers, key=lambda n: (sum((a - b) ** 2 for a, b in zip(rgb, palette(n))), n))


def sent(rgb, depth):
    """What the terminal is told for a colour, as ('rgb', r, g, b) or ('index', n)."""
    if depth == "direct":
        if rgb[0] == 0 and rgb[1] == 0 and rgb[2] < 8:
            return ("index", 0)  # ANSI black: 1..7 would be taken for ANSI colours
        return ("rgb",) + tuple(rgb)
    if depth == "256":
        return ("index", nearest(rgb, range(16, 256)))
    return ("index", nearest(rgb, range(8)))


def parse_capture(text):
    """Cells of `capture-pane -e` output: rows of (character, fg, bg), the colours as
    ('rgb', r, g, b), ('index', n) or ('default',)."""
    rows = []
    fg = bg = ("default",)  # capture-pane carries the attributes over from line to line
    for line in text.split("\n")[:50]:
        cells = []
        i = 0
        while i < len(line):
            if line[i] == "\x1b":
                m = re.match(r"\x1b\[([0-9;:]*)m", line[i:])
                if not m:
                    raise ValueError(f"unexpected escape {line[i:i + 12]!r}")
                params = [int(p) if p else 0 for p in re.split("[;:]", m.group(1))] or [0]
                j = 0
                while j < len(params):
                    p = params[j]
                    if p == 0:
                        fg = bg = ("default",)
                    elif 30 <= p <= 37:
                        fg = ("index", p - 30)
                    elif 40 <= p <= 47:
                        bg = ("index", p - 40)
                    elif 90 <= p <= 97:
                        fg = ("index", p - 90 + 8)
                    elif 100 <= p <= 107:
                        bg = ("index", p - 100 + 8)
                    elif p == 39:
                        fg = ("default",)
                    elif p == 49:
                        bg = ("default",)
                    elif p in (38, 48):
                        if params[j + 1] == 5:
                            value, j = ("index", params[j + 2]), j + 2
                        else:
                            value, j = ("rgb",) + tuple(params[j + 2:j + 5]), j + 4
                        if p == 38:
                            fg = value
                        else:
                            bg = value
                    j += 1
                i += len(m.group(0))
                continue
            cells.append((line[i], fg, bg))
            i += 1
        rows.append(cells)
    return rows


def parse_driver(text):
    rows = []
    for line in text.rstrip("\n").split("\n"):
        cells = []
        for item in line.split(" "):
            count, _, cell = item.rpartition("*")
            fg, bg = cell.split("/")
            value = tuple(int(fg[k:k + 2], 16) for k in (0, 2, 4)), \
                tuple(int(bg[k:k + 2], 16) for k in (0, 2, 4))
            cells += [value] * (int(count) if count else 1)
        rows.append(cells)
    return rows


def differences(got, screen, want, depth):
    """What differs between the pane's cells and the driver's screen and colours."""
    found = []
    for y, line in enumerate(screen.rstrip("\n").split("\n")):
        text = "".join(cell[0] for cell in got[y]) if y < len(got) else ""
        if text.rstrip() != line.rstrip():
            found.append(f"row {y}: text {text.rstrip()!r}, expected {line.rstrip()!r}")
    for y, row in enumerate(want):
        for x, (fg, bg) in enumerate(row):
            expected = (sent(fg, depth), sent(bg, depth))
            actual = got[y][x][1:] if y < len(got) and x < len(got[y]) else None
            if actual != expected:
                found.append(f"row {y} column {x}: colours {actual}, expected {expected}")
    return found


def play(socket, session, depth, timeout, steps):
    tmux = ["tmux", "-L", socket]
    for keys, expected in zip(steps[0::2], steps[1::2]):
        with open(expected + ".screen", encoding="utf-8") as f:
            screen = f.read()
        with open(expected + ".colours") as f:
            want = parse_driver(f.read())
        subprocess.run(tmux + ["send-keys", "-t", session] + keys.split(" "), check=True)
        deadline = time.monotonic() + timeout
        while True:
            capture = subprocess.run(tmux + ["capture-pane", "-e", "-p", "-N", "-t", session],
                                     capture_output=True, text=True, check=True).stdout
            found = differences(parse_capture(capture), screen, want, depth)
            if not found:
                break
            if time.monotonic() > deadline:
                print(f"{session}: after {keys!r}, the pane never showed {expected}.screen and "
                      f".colours ({depth}): {len(found)} differences, the first:")
                for line in found[:10]:
                    print("  " + line)
                return 1
            time.sleep(0.02)
    return 0


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "run":
        run(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) >= 6 and len(sys.argv) % 2 == 0 and sys.argv[1] == "play":
        sys.exit(play(sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5]), sys.argv[6:]))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
