"""A small WebSocket client for the server tests (Python's standard library only)."""

import base64
import os
import re
import select
import signal
import socket
import struct
import subprocess
import time

COLS, ROWS = 80, 50
CELLS = COLS * ROWS
RUN_HEADER = 9
KEY_CODES = {"Esc": 0x01, "Enter": 0x02, "Up": 0x03, "Down": 0x04, "Left": 0x05,
             "Right": 0x06, "Home": 0x07}


class Closed(Exception):
    """The server closed the connection; `code` is its close code (or None)."""

    def __init__(self, code=None):
        super().__init__(f"closed ({code})")
        self.code = code


class Client:
    """One WebSocket to the server's /play."""

    def __init__(self, port, host="127.0.0.1", origin=None, path="/play", timeout=30,
                 receive_buffer=None, tls=None, headers=()):
        self.sock = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
        if receive_buffer:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.sock.settimeout(timeout)
        self.sock.connect((host, port))
        if tls is not None:  # an ssl.SSLContext: wss:// through a front end
            self.sock = tls.wrap_socket(self.sock, server_hostname=host)
        key = base64.b64encode(os.urandom(16)).decode()
        lines = [f"GET {path} HTTP/1.1", f"Host: {host}:{port}", "Upgrade: websocket",
                 "Connection: Upgrade", f"Sec-WebSocket-Key: {key}", "Sec-WebSocket-Version: 13",
                 "Sec-WebSocket-Extensions: permessage-deflate; client_max_window_bits"]
        if origin:
            lines.append(f"Origin: {origin}")
        lines += list(headers)
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            got = self.sock.recv(4096)
            if not got:
                raise Closed()
            self.buffer += got
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        self.status = int(head.split()[1])
        self.head = head.decode("latin-1")
        self.close_code = None

    def send_raw(self, payload, opcode=2, at_most=None):
        """Sends `payload` as one masked frame; with `at_most`, only that many bytes of the frame."""
        header = bytes([0x80 | opcode])
        size = len(payload)
        if size < 126:
            header += bytes([0x80 | size])
        elif size < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", size)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", size)
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall((header + mask + masked)[:at_most])

    def key(self, code, shift=False):
        """Sends one key: a character or a KEY_CODES name."""
        value = KEY_CODES[code] if code in KEY_CODES else ord(code)
        self.send_raw(bytes([0x4B, value, 1 if shift else 0]))

    def _read(self, count):
        while len(self.buffer) < count:
            got = self.sock.recv(65536)
            if not got:
                raise Closed(self.close_code)
            self.buffer += got
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def message(self):
        """The next data message (bytes); raises Closed at the close frame or end."""
        parts = b""
        while True:
            first, second = self._read(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack(">H", self._read(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(size)
            opcode = first & 0x0F
            if opcode == 8:
                self.close_code = struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else None
                try:
                    self.send_raw(payload[:2], opcode=8)  # the closing handshake's answer
                except OSError:
                    pass
                raise Closed(self.close_code)
            if opcode == 9:
                self.send_raw(payload, opcode=10)
                continue
            if opcode in (0, 1, 2):
                parts += payload
                if first & 0x80:
                    return parts

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


class Screen:
    """The screen a client builds from 'F' and 'D' messages: 7 bytes a cell (glyph, fg, bg)."""

    def __init__(self):
        self.cells = None

    def apply(self, message):
        kind = message[:1]
        at = 1
        if kind == b"F":
            assert message[1] == COLS and message[2] == ROWS, "a full frame of another size"
            self.cells = bytearray(7 * CELLS)
            at = 3
        else:
            assert kind == b"D" and self.cells is not None, f"not a frame: {message[:1]!r}"
        covered = set()
        while at < len(message):
            start = message[at] | message[at + 1] << 8
            count = message[at + 2]
            assert 1 <= count and start + count <= CELLS, "a run off the screen"
            colours = message[at + 3:at + 9]
            glyphs = message[at + 9:at + 9 + count]
            assert len(glyphs) == count, "a short run"
            for i in range(count):
                self.cells[7 * (start + i):7 * (start + i + 1)] = bytes([glyphs[i]]) + colours
                covered.add(start + i)
            at += RUN_HEADER + count
        if kind == b"F":
            assert len(covered) == CELLS, "a full frame that leaves cells out"

    def hex(self):
        return self.cells.hex()


def parse_keys(script):
    """The keys of a key script as (code, shift) pairs, or None when one has no protocol code."""
    keys = []
    for line in script.splitlines():
        if line.startswith("#"):
            continue
        for name, char in re.findall(r"<([^>]*)>|(.)", line):
            if char:
                keys.append((char, False))
            elif name in KEY_CODES:
                keys.append((name, False))
            elif name == "lt":
                keys.append(("<", False))
            elif name == "Space":
                keys.append((" ", False))
            elif len(name) == 3 and name.startswith("S-") and name[2].isalpha():
                keys.append((name[2].upper(), True))
            else:
                return None
    return keys


class Server:
    """vesperdeep-server on a free loopback port, for one test."""

    def __init__(self, bin_dir, *options, sanitized=False, env=None):
        """`env`: the server's whole environment (the tests' own when None)."""
        command = [os.path.join(bin_dir, "vesperdeep-server"), "--listen", "127.0.0.1:0"]
        if os.geteuid() == 0:
            command.append("--allow-root")
        if sanitized:
            # The sanitizers reserve far more address space than any limit would allow.
            command += ["--game-memory", "0", "--pass-env", "ASAN_OPTIONS",
                        "--pass-env", "LSAN_OPTIONS", "--pass-env", "UBSAN_OPTIONS"]
        self.process = subprocess.Popen(command + list(options), stderr=subprocess.PIPE, bufsize=0,
                                        env=env)
        self.log = []
        line = self.read_log()
        match = re.search(r"listening on http://127\.0\.0\.1:(\d+)/", line or "")
        assert match, f"the server did not start: {line!r}"
        self.port = int(match.group(1))

    def read_log(self, timeout=30):
        """The next line of the server's log (None when none came in `timeout` seconds)."""
        ready, _, _ = select.select([self.process.stderr], [], [], timeout)
        if not ready:
            return None
        line = self.process.stderr.readline().decode(errors="replace").rstrip("\n")
        self.log.append(line)
        return line

    def wait_log(self, pattern, timeout=30):
        """Reads the log until a line matches `pattern`; returns the match."""
        end = time.monotonic() + timeout
        for line in self.log:
            if re.search(pattern, line):
                self.log.remove(line)
                return re.search(pattern, line)
        while time.monotonic() < end:
            line = self.read_log(end - time.monotonic())
            if line is None:
                break
            if re.search(pattern, line):
                self.log.remove(line)
                return re.search(pattern, line)
        raise AssertionError(f"no log line like {pattern!r}; the log: {self.log}")

    def games(self):
        """The pids of the server's children."""
        path = f"/proc/{self.process.pid}/task/{self.process.pid}/children"
        with open(path) as children:
            return [int(pid) for pid in children.read().split()]

    def stop(self):
        """SIGTERM; returns the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
            raise AssertionError("the server did not end within 10 s of SIGTERM")
        return status


def fnv1a(data, value=2166136261):
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


def write_recording(path, partition, tokens, end=None, version="0.1", gap_ms=100):
    """A recording as the server writes it: the key-script `tokens`, one every `gap_ms`, and
    `end` (how, turns, kills) as its end line when given. Each checksum covers every byte
    before its line."""
    pieces = []
    total = [2166136261]

    def add(text):
        pieces.append(text)
        total[0] = fnv1a(text.encode(), total[0])

    def checked(line, mark):
        add(line)
        add(f"{mark}{total[0]:08x}\n")

    checked(f"# vesperdeep recording\n# version {version}\n# partition {partition}\n", "#= ")
    for number, token in enumerate(tokens):
        add(token + "\n")
        add(f"#@{number * gap_ms} {total[0]:08x}\n")
    if end:
        checked(f"# end {end[0]} turns {end[1]} kills {end[2]} length {len(tokens) * gap_ms}\n", "#= ")
    with open(path, "w") as out:
        out.write("".join(pieces))
