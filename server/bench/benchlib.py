"""What the server's benchmarks share: their figures, the server they start, what /proc says of
its processes, and the WebSocket frames a non-blocking player reads."""

import os
import re
import signal
import struct
import subprocess
import tempfile
import time


def percentile(values, fraction):
    """The value at `fraction` of the sorted `values` (0.0 when there are none)."""
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else 0.0


def ms(seconds, places=2):
    return f"{seconds * 1000:.{places}f} ms"


def unframe(buffer):
    """The whole WebSocket frames at the start of `buffer`, as (opcode, payload, framed bytes),
    and the bytes after them (a frame cut short)."""
    frames = []
    while len(buffer) >= 2:
        opcode, size, at = buffer[0] & 0x0F, buffer[1] & 0x7F, 2
        if size == 126:
            if len(buffer) < 4:
                break
            size, at = struct.unpack(">H", buffer[2:4])[0], 4
        elif size == 127:
            if len(buffer) < 10:
                break
            size, at = struct.unpack(">Q", buffer[2:10])[0], 10
        if len(buffer) < at + size:
            break
        frames.append((opcode, buffer[at : at + size], at + size))
        buffer = buffer[at + size :]
    return frames, buffer


def smaps(pid):
    """The kB fields of /proc/PID/smaps_rollup (empty when the process has gone)."""
    fields = {}
    try:
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            for line in rollup:
                parts = line.split()
                if len(parts) == 3 and parts[2] == "kB":
                    fields[parts[0].rstrip(":")] = int(parts[1])
    except (FileNotFoundError, ProcessLookupError):
        pass
    return fields


def cpu_seconds(pids):
    """The user and system CPU seconds of the processes `pids` together (gone ones count 0)."""
    ticks = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            ticks += int(fields[11]) + int(fields[12])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return ticks / os.sysconf("SC_CLK_TCK")


class Server:
    """vesperdeep-server from BIN_DIR on a free loopback port, its log in a file: a pipe nobody
    reads fills up with hundreds of games' lines and stalls the server, SIGTERM included."""

    def __init__(self, bin_dir, *options):
        self.log = tempfile.NamedTemporaryFile(prefix="vesperdeep-bench-", suffix=".log",
                                               delete=False)
        command = [os.path.join(bin_dir, "vesperdeep-server"), "--listen", "127.0.0.1:0",
                   *options]
        if os.geteuid() == 0:
            command.append("--allow-root")
        self.process = subprocess.Popen(command, stderr=self.log)
        end = time.monotonic() + 30
        while time.monotonic() < end and self.process.poll() is None:
            found = re.search(rb"listening on http://127\.0\.0\.1:(\d+)/", self.read_log())
            if found:
                self.port = int(found.group(1))
                return
            time.sleep(0.05)
        self.stop()
        raise SystemExit("the server did not start: " + self.read_log().decode(errors="replace"))

    def read_log(self):
        """The whole log so far."""
        with open(self.log.name, "rb") as log:
            return log.read()

    def games(self):
        """The pids of the server's children."""
        with open(f"/proc/{self.process.pid}/task/{self.process.pid}/children") as children:
            return [int(pid) for pid in children.read().split()]

    def stop(self):
        """SIGTERM, then SIGKILL after 30 s; returns the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()
