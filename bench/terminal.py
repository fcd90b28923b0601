#!/usr/bin/env python3
"""What vesperdeep-term sends to a terminal, and how fast it answers a key.

  bench/terminal.py BIN_DIR [TERM ...]     (default TERMs: tmux-256color tmux-direct)

For each TERM, in a pseudo-terminal of 80 x 50 read by this script:
  - bytes of the first game frame, and of ordinary frames (the median over 200 moves);
  - the whole fade (the test probe's story shortcut: Escape on the note), read at full speed
    and then through a link of 1 MB/s (the reader takes at most 1,000,000 bytes a second):
    bytes from the Escape until the end screen stands, the frames, and the time.
Then, under tmux (control mode, a socket of its own), the key-to-screen time: from send-keys
until the pane's output for the frame has reached tmux, median and 90th percentile over 300
moves (those that change the screen: a step into a wall sends nothing).
"""
import os, pty, select, signal, statistics, struct, subprocess, sys, termios, fcntl, time

BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release/bin")
TERMS = sys.argv[2:] or ["tmux-256color", "tmux-direct"]
QUIET = 0.15  # seconds without output: the frame is complete
MOVES = "hjkl" * 50


class Pty:
    def __init__(self, argv, term, rate=None):
        self.rate = rate  # bytes a second the reader takes, or None for all it can
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(BIN)
            env = dict(os.environ, TERM=term, LANG="C.UTF-8", LC_ALL="C.UTF-8")
            os.execve(argv[0], argv, env)
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 80, 0, 0))
        os.kill(pid, signal.SIGWINCH)
        self.pid, self.fd, self.data = pid, fd, bytearray()

    def read_until_quiet(self, quiet=QUIET, until=None, limit=120):
        """Reads until `until` (bytes) has been seen and then `quiet` seconds pass without
        output; returns (bytes read, seconds to the last byte)."""
        start = last = time.monotonic()
        got = 0
        seen = until is None
        while time.monotonic() - start < limit:
            wait = quiet if seen else 1.0
            ready, _, _ = select.select([self.fd], [], [], wait)
            if not ready:
                if seen:
                    break
                continue
            chunk = os.read(self.fd, 4096 if self.rate else 65536)
            if not chunk:
                break
            got += len(chunk)
            self.data += chunk
            last = time.monotonic()
            if not seen and until in self.data[-len(chunk) - len(until):]:
                seen = True
            if self.rate:  # hold the reader to `rate` bytes a second since `start`
                ahead = got / self.rate - (time.monotonic() - start)
                if ahead > 0:
                    time.sleep(ahead)
        return got, last - start

    def key(self, text):
        os.write(self.fd, text.encode())

    def close(self):
        os.kill(self.pid, signal.SIGTERM)
        os.waitpid(self.pid, 0)
        os.close(self.fd)


def frames(term):
    p = Pty([os.path.join(BIN, "vesperdeep-term"), "--partition", "0"], term)
    title, _ = p.read_until_quiet(until=b"new game.")
    p.key("\r")
    first, _ = p.read_until_quiet(until=b"20/20")
    sizes = []
    for move in MOVES:
        p.key(move)
        size, _ = p.read_until_quiet(quiet=0.05)
        sizes.append(size)
    p.close()
    changed = [size for size in sizes if size > 0]  # a step into a wall changes nothing
    print(f"{term}: title {title} bytes, first game frame {first} bytes; "
          f"{len(sizes)} moves, {len(changed)} changed the screen: median {statistics.median(changed):.0f} "
          f"bytes a frame, largest {max(changed)}, total {sum(sizes)}")


def fade(term, rate):
    probe = os.path.join(BIN, "vesperdeep-term-probe")
    p = Pty([probe, "--partition", "0", "--kills", "31"], term)
    p.read_until_quiet(until=b"new game.")
    p.key("\r")
    p.read_until_quiet(until=b"20/20")
    for _ in range(35):
        p.key(".")
        p.read_until_quiet(quiet=0.03)
    p.key("i")
    p.read_until_quiet()
    p.key("b")
    p.read_until_quiet()
    p.rate = rate
    start = len(p.data)
    p.key("\x1b")
    size, seconds = p.read_until_quiet(quiet=0.5, until=b"Thanks for Playing")
    ok = b"Thanks for Playing" in p.data[start:]
    p.close()
    link = f"{rate / 1e3:,.0f} kB/s link" if rate else "full speed"
    print(f"{term}: the fade ({link}): {size} bytes, over after {seconds:.2f} s"
          f"{', ends on the end screen' if ok else ', END SCREEN MISSING'}")


def latency(term):
    socket = f"vesperdeep-bench-{os.getpid()}"
    tmux = subprocess.Popen(
        ["tmux", "-L", socket, "-f", "/dev/null", "-C", "new-session", "-x", "80", "-y", "50",
         f"cd {BIN} && TERM={term} LANG=C.UTF-8 ./vesperdeep-term --partition 0"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
    out = tmux.stdout.fileno()
    buffered = b""

    def lines(timeout):
        nonlocal buffered
        ready, _, _ = select.select([out], [], [], timeout)
        if not ready:
            return None
        buffered += os.read(out, 65536)
        *complete, buffered = buffered.split(b"\n")
        return complete

    def until_quiet(quiet):
        last = None
        while True:
            got = lines(quiet)
            if got is None:
                return last
            if any(line.startswith(b"%output") for line in got):
                last = time.monotonic()

    def send(keys):
        tmux.stdin.write(f"send-keys {keys}\n".encode())

    until_quiet(1.0)
    send("Enter")
    until_quiet(0.5)
    times = []
    for move in (MOVES * 2)[:300]:
        sent = time.monotonic()
        send(move)
        last = until_quiet(0.05)
        if last is not None:
            times.append((last - sent) * 1000)
    tmux.stdin.write(b"kill-server\n")
    tmux.wait(5)
    times.sort()
    print(f"{term}: key to screen under tmux, {len(times)} of 300 moves changed the screen: median {statistics.median(times):.1f} ms, "
          f"90th percentile {times[len(times) * 9 // 10]:.1f} ms, slowest {times[-1]:.1f} ms")


for term in TERMS:
    frames(term)
    fade(term, None)
    fade(term, 1_000_000)
latency(TERMS[0])
