#!/usr/bin/env python3
"""vesperdeep-server's tests, played by small clients over loopback.

usage: server_test.py BIN_DIR REPO_DIR [--sanitized] GROUP
Each GROUP starts its own servers on free ports and leaves no process behind.
"""

import glob
import json
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wsclient import Client, Closed, Screen, Server, parse_keys, write_recording  # noqa: E402

BIN, REPO = sys.argv[1], sys.argv[2]
SANITIZED = "--sanitized" in sys.argv
GROUP = sys.argv[-1]
# A hung-up game ends at once; the sanitized one also checks its memory on the way out.
GONE_WITHIN = 5.0 if SANITIZED else 1.0


STARTED = []


def server(*options, **settings):
    started = Server(BIN, *options, sanitized=SANITIZED, **settings)
    STARTED.append(started)
    return started


def clean_up():
    """After a failure: every server this test started, and its games, killed."""
    for started in STARTED:
        if started.process.poll() is None:
            games = started.games()
            started.process.kill()
            for pid in games:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            started.process.wait()


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().split(") ")[1][0] != "Z"
    except FileNotFoundError:
        return False


def exists(pid):
    """Whether `pid` is still running: a zombie has ended, whoever has yet to reap it."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return False
    return stat[stat.rindex(")") + 2] != "Z"


def wait_gone(pid, within):
    end = time.monotonic() + within
    while time.monotonic() < end:
        if not exists(pid):
            return True
        time.sleep(0.01)
    return not exists(pid)


def until_waiting(client, screen=None):
    """Reads messages up to the next 'W'; returns the notes ('M') met on the way."""
    notes = []
    while True:
        message = client.message()
        if message[:1] in (b"F", b"D") and screen is not None:
            screen.apply(message)
        elif message == b"W":
            return notes
        elif message[:1] == b"M":
            notes.append((message[1], message[2:].decode()))


def until_note(client):
    """Reads until a note of kind 1 or 2 and the close; returns (kind, text, close code)."""
    note = None
    try:
        while True:
            message = client.message()
            if message[:1] == b"M" and message[1] != 0:
                note = (message[1], message[2:].decode())
    except (Closed, ConnectionResetError, socket.timeout):
        pass
    return note, client.close_code


def start_game(srv, **options):
    client = Client(srv.port, **options)
    assert client.status == 101, client.head
    assert "permessage-deflate" not in client.head.lower(), "compression was offered"
    screen = Screen()
    until_waiting(client, screen)
    match = srv.wait_log(r"game started for 127\.0\.0\.1 \(pid (\d+), game ([a-z0-9]+-\w+),")
    srv.last_game = match.group(2)
    return client, screen, int(match.group(1))


def ends_cleanly(srv, pids=()):
    status = srv.stop()
    assert status == 0, f"the server ended with {status}"
    for pid in pids:
        assert wait_gone(pid, 2), f"game {pid} is left running"
    leftovers = [line for line in srv.process.stderr.read().decode().splitlines() if "ERROR" in line]
    assert not leftovers, leftovers


def http(port, raw, timeout=10):
    """Sends `raw` bytes and returns everything the server answered before closing."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(raw)
        answer = b""
        try:
            while True:
                got = sock.recv(65536)
                if not got:
                    break
                answer += got
        except (ConnectionResetError, socket.timeout):
            pass
    return answer


def status_of(answer):
    return int(answer.split(b" ", 2)[1]) if answer.startswith(b"HTTP/1.1 ") else None


def get(port, target, extra=""):
    return http(port, f"GET {target} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n{extra}\r\n".encode())


# ---- Groups ------------------------------------------------------------------------------------

def test_screens():
    """The full frame and the changes reproduce the driver's screen at every key of the golden
    scripts that only use keys the page sends and start no story shortcut."""
    played = 0
    for script in sorted(glob.glob(os.path.join(REPO, "tests/golden/*.keys"))):
        text = open(script).read()
        keys = parse_keys(text)
        partition = re.search(r"^# partition: (\d+)", text, re.M)
        if keys is None or re.search(r"^# kills:", text, re.M) or not partition:
            continue
        with tempfile.NamedTemporaryFile("r", suffix=".screens") as screens:
            subprocess.run([os.path.join(BIN, "vesperdeep-driver"), "--script", script,
                            "--partition", partition.group(1), "--screens", screens.name,
                            "--watchdog", "0"], check=True, stdout=subprocess.DEVNULL,
                           env=dict(os.environ, SDL_VIDEODRIVER="dummy"))
            expected = screens.read().split()
        srv = server("--partition", partition.group(1))
        client, screen, pid = start_game(srv)
        assert screen.hex() == expected[0], f"{script}: the title screen differs"
        for number, (code, shift) in enumerate(keys, 1):
            client.key(code, shift)
            until_waiting(client, screen)
            assert screen.hex() == expected[number], f"{script}: the screen after key {number} differs"
        client.close()
        ends_cleanly(srv, [pid])
        played += 1
    assert played >= 10, f"only {played} golden scripts could be played"
    print(f"{played} golden scripts reproduced key by key")


def test_http():
    """Bad HTTP gets its answer, no path leaves the fixed list, and games go on meanwhile."""
    srv = server()
    client, _, pid = start_game(srv)
    port = srv.port
    traversals = ["/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2f..%2fetc%2fpasswd",
                  "/%252e%252e/%252e%252e/etc/passwd", "/..\\..\\etc\\passwd",
                  "/%2e%2e%5c%2e%2e%5cetc%5cpasswd", "//etc/passwd", "/font.bmp/../../etc/passwd",
                  "/web/index.html", "/Slate_curses_12x12.bmp", "/vesperdeep-server",
                  "http://x/etc/passwd", "/play/../font.bmp", "*"]
    for target in traversals:
        answer = get(port, target)
        assert status_of(answer) == 404, (target, answer[:80])
        assert b"root:" not in answer
    font = open(os.path.join(REPO, "assets/Slate_curses_12x12.bmp"), "rb").read()
    answer = get(port, "/font.bmp")
    assert status_of(answer) == 200 and answer.endswith(font)
    assert b"Content-Type: image/bmp" in answer and b"nosniff" in answer
    for name, path in [("index.html", "/"), ("index.html", "/index.html"),
                       ("vesperdeep.js", "/vesperdeep.js"), ("vesperdeep.css", "/vesperdeep.css")]:
        page = os.path.join(REPO, "web", name)
        answer = get(port, path)
        if os.path.exists(page):
            assert status_of(answer) == 200 and answer.endswith(open(page, "rb").read()), path
        else:
            assert status_of(answer) == 404, path
    cases = [
        (b"GARBAGE\r\n\r\n", 400),
        (b"GET / HTTP/1.1\r\nHost: x\r\nBad Header Line\r\n\r\n", 400),
        (b"\x00\xff\x13\x37" * 64 + b"\r\n\r\n", 400),
        (b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n", 431),
        (b"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 405),
        (b"DELETE /font.bmp HTTP/1.1\r\nHost: x\r\n\r\n", 405),
        (b"GET /play HTTP/1.1\r\nHost: x\r\n\r\n", 426),
        (b"GET /play HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 400),
    ]
    for raw, expected in cases:
        answer = http(port, raw)
        assert status_of(answer) == expected, (raw[:40], answer[:80])
    # the game played throughout
    client.key("Enter")
    until_waiting(client)
    client.close()
    ends_cleanly(srv, [pid])


def test_messages():
    """A message too large closes its connection with 1009, garbage ends its connection, other
    shapes are ignored, and the other game goes on."""
    srv = server()
    other, _, other_pid = start_game(srv)
    big, _, big_pid = start_game(srv)
    # The header says 1 MB; the server may close as soon as it has read it, so only the start of
    # the payload is sent, and the answer is read before any more could meet a closed socket.
    big.send_raw(b"K" * (1 << 20), at_most=4096)
    assert until_note(big)[1] == 1009
    assert wait_gone(big_pid, GONE_WITHIN + 1), "the game of a closed connection goes on"
    srv.wait_log(r"game ended for 127\.0\.0\.1: sent a message larger than 16 bytes")
    ignored, _, ignored_pid = start_game(srv)
    for shape in [b"", b"K", b"K\x00\x00", b"Kh\x02", b"Xh\x00", b"Kh\x00\x00", b"K" * 16]:
        ignored.send_raw(shape)
    ignored.send_raw(b"Kh\x00", opcode=1)  # text
    ignored.key("Enter")
    until_waiting(ignored)  # the first thing that moves is the real key
    garbage, _, garbage_pid = start_game(srv)
    garbage.sock.sendall(bytes(range(256)) * 64)
    until_note(garbage)
    assert wait_gone(garbage_pid, GONE_WITHIN + 1), "the game of a garbage connection goes on"
    other.key("Enter")
    until_waiting(other)
    other.close()
    ignored.close()
    ends_cleanly(srv, [other_pid, ignored_pid])


def test_flood():
    """10,000 keys in a second: a bounded queue, a notice, and the other game unhurt."""
    srv = server()
    flooder, _, flood_pid = start_game(srv)
    other, _, other_pid = start_game(srv)
    other.key("Enter")
    until_waiting(other)
    frame = bytes([0x4B, ord("."), 0]) + b""
    burst = b""
    for _ in range(10000):
        mask = os.urandom(4)
        burst += bytes([0x82, 0x83]) + mask + bytes(b ^ mask[i] for i, b in enumerate(frame))
    flooder.sock.sendall(burst)
    srv.wait_log(r"refused keys from 127\.0\.0\.1: more than 32 queued")
    other.key("l")
    until_waiting(other)  # answered while the flood is queued
    notes = []
    end = time.monotonic() + 60
    while time.monotonic() < end and not notes:
        message = flooder.message()
        if message[:1] == b"M":
            notes.append((message[1], message[2:]))
    assert notes and notes[0] == (0, b"Too many keys queued; slow down."), notes
    assert alive(flood_pid)
    flooder.close()
    other.close()
    ends_cleanly(srv, [flood_pid, other_pid])


def test_slow_reader():
    """A client that never reads: what waits for it is bounded, it is dropped, its game ends
    as a hang-up, and the server goes on."""
    srv = server("--max-send-queue", "16384")
    slow, _, slow_pid = start_game(srv, receive_buffer=4096)
    slow.sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
    other, _, other_pid = start_game(srv)
    slow.key("Enter")
    dropped = None
    sent = 0
    end = time.monotonic() + 60
    while dropped is None and time.monotonic() < end:
        for key in "iz":  # the inventory opens and closes: a large change each time
            try:
                slow.key(key)
                sent += 1
            except OSError:
                pass
        line = srv.read_log(timeout=0.02) or ""
        if line:
            print(f"{60 - (end - time.monotonic()):.2f} s, {sent} keys sent: {line}")
        if re.search(r"game ended for 127\.0\.0\.1: does not read what it is sent", line):
            dropped = line
    assert dropped, f"the client that does not read was never dropped; the log: {srv.log}"
    assert wait_gone(slow_pid, GONE_WITHIN + 1)
    other.key("Enter")
    until_waiting(other)
    slow.close()
    other.close()
    ends_cleanly(srv, [other_pid])


def test_limits():
    """More games than allowed, too many connections, a foreign page, a silent client and an
    idle game are each refused or ended with their message and a log line."""
    srv = server("--max-games", "2", "--max-connections", "4", "--handshake-timeout", "1",
                 "--idle-timeout", "2")
    first, _, first_pid = start_game(srv)
    second, _, second_pid = start_game(srv)
    third = Client(srv.port)
    note, code = until_note(third)
    assert note and note[0] == 2 and "The server is full: 2 games are running" in note[1], note
    assert code == 1000
    srv.wait_log(r"refused 127\.0\.0\.1: too many games \(2\)")
    foreign = Client(srv.port, origin="http://evil.example")
    assert foreign.status == 403
    srv.wait_log(r"refused 127\.0\.0\.1: a page of another site \(http://evil\.example\)")
    third.close()
    foreign.close()
    end = time.monotonic() + 10  # until the server has seen both go
    while status_of(get(srv.port, "/font.bmp")) != 200 and time.monotonic() < end:
        time.sleep(0.05)
    # the two games hold two connections: two more are allowed, the next is refused
    silent = [socket.create_connection(("127.0.0.1", srv.port)) for _ in range(2)]
    time.sleep(0.2)
    assert status_of(get(srv.port, "/font.bmp")) == 429
    srv.wait_log(r"refused 127\.0\.0\.1: more than 4 connections")
    for sock in silent:  # the handshake timeout closes them
        sock.settimeout(10)
        got = sock.recv(100)
        assert got == b"", got
        sock.close()
    time.sleep(0.2)
    assert status_of(get(srv.port, "/font.bmp")) == 200
    # no key for the idle time: both games end
    for client, pid in [(first, first_pid), (second, second_pid)]:
        note, _ = until_note(client)
        assert note and note[0] == 2 and "No key for too long" in note[1], note
        assert wait_gone(pid, GONE_WITHIN + 1)
    ends_cleanly(srv)
    same = server()
    client = Client(same.port, origin=f"http://127.0.0.1:{same.port}")
    assert client.status == 101
    until_waiting(client)
    client.key("Esc")  # Escape on the title screen: the game ends normally
    note, code = until_note(client)
    assert note == (1, "The game has ended. Thanks for playing!") and code == 1000, (note, code)
    same.wait_log(r"game ended for 127\.0\.0\.1: the player left")
    ends_cleanly(same)


def test_crash():
    """A game killed by SIGKILL or SIGSEGV in mid-game: its player is told, the server goes on."""
    srv = server()
    other, _, other_pid = start_game(srv)
    for sig, name in [(signal.SIGKILL, "Killed"), (signal.SIGSEGV, "Segmentation fault")]:
        client, _, pid = start_game(srv)
        client.key("Enter")
        until_waiting(client)
        os.kill(pid, sig)
        told = f"killed by signal {int(sig)} ({name})"
        if SANITIZED and sig == signal.SIGSEGV:
            told = "exit status 1"  # AddressSanitizer reports the fault and exits with 1
        note, code = until_note(client)
        assert note and note[0] == 2 and told in note[1] and "crashed" in note[1], note
        srv.wait_log(rf"game ended for 127\.0\.0\.1: it crashed \(pid {pid}, {re.escape(told)}")
    other.key("Enter")
    until_waiting(other)
    other.close()
    ends_cleanly(srv, [other_pid])


def test_hangup():
    """Closing the connection ends the game within a second, reaped: no zombie."""
    srv = server()
    for keys in [[], ["Enter"], ["Enter", "i"]]:
        client, _, pid = start_game(srv)
        for key in keys:
            client.key(key)
            until_waiting(client)
        client.close()
        started = time.monotonic()
        assert wait_gone(pid, GONE_WITHIN), f"game {pid} outlived its connection"
        print(f"game gone {time.monotonic() - started:.3f} s after its connection closed")
        srv.wait_log(rf"game ended for 127\.0\.0\.1: the connection closed \(pid {pid}, exit status 0\)")
    assert srv.games() == []
    ends_cleanly(srv)


def test_sigterm():
    """SIGTERM with games running: every player is told, every game ends, the server exits 0."""
    srv = server()
    games = [start_game(srv) for _ in range(3)]
    games[1][0].key("Enter")
    until_waiting(games[1][0])
    pids = [pid for _, _, pid in games]
    assert sorted(srv.games()) == sorted(pids)
    srv.process.send_signal(signal.SIGTERM)
    for client, _, _ in games:
        note, _ = until_note(client)
        assert note == (2, "The server is shutting down; your game has ended."), note
    ends_cleanly(srv, pids)
    for pid in pids:
        assert not exists(pid)


def test_options():
    """--help, bad arguments and root."""
    program = os.path.join(BIN, "vesperdeep-server")
    shown = subprocess.run([program, "--help"], capture_output=True, text=True)
    assert shown.returncode == 0 and "--max-games" in shown.stdout
    for bad in [["--bogus"], ["--listen", "nowhere"], ["--listen", "1.2.3.4:99999"],
                ["--max-games", "0"], ["--max-games"], ["--idle-timeout", "-1"],
                ["--data", "/nonexistent/vesperdeep"], ["--data", "/dev/null"], ["--data", ""],
                ["--instance", ""], ["--instance", "B"], ["--instance", "a-b"],
                ["--instance", "../a"], ["--instance", "a" * 17], ["--trust-proxy", "nginx"],
                ["--trust-proxy", "127.0.0.0/8"]]:
        refused = subprocess.run([program] + bad, capture_output=True, text=True)
        assert refused.returncode == 64, bad
        assert len(refused.stderr.splitlines()) == 1, refused.stderr
    if os.geteuid() == 0:
        refused = subprocess.run([program, "--listen", "127.0.0.1:0"], capture_output=True,
                                 text=True, timeout=10)
        assert refused.returncode == 1 and "root" in refused.stderr
    v6 = subprocess.Popen([program, "--listen", "[::1]:0"] + (["--allow-root"] if os.geteuid() == 0 else []),
                          stderr=subprocess.PIPE, text=True)
    line = v6.stderr.readline()
    v6.terminate()
    assert v6.wait(10) == 0
    assert re.search(r"listening on http://\[::1\]:\d+/", line) or "cannot listen" in line, line


def status_page(port, extra=""):
    answer = get(port, "/status", extra)
    return status_of(answer), answer.split(b"\r\n\r\n", 1)[-1].decode()


def counted(page, name):
    """The count on the status page's line for the refusal `name`."""
    match = re.search(rf"^  {re.escape(name)}: (\d+)$", page, re.M)
    assert match, f"no line for {name!r} in:\n{page}"
    return int(match.group(1))


def test_status():
    """The status page shows the games running, their watchers, their memory and each limit's
    refusals, to this machine only (never through a proxy); --status prints it; the log keeps a
    hostile Origin to one printable line."""
    srv = server("--max-games", "1", "--handshake-timeout", "1")
    player, _, pid = start_game(srv)  # kept open: its game runs on
    full = Client(srv.port)
    assert until_note(full)[0][0] == 2
    foreign = Client(srv.port, origin="http://\u00e9vil.example\tx")
    assert foreign.status == 403
    srv.wait_log(r"refused 127\.0\.0\.1: a page of another site \(http://\?\?vil\.example\?x\)$")
    silent = socket.create_connection(("127.0.0.1", srv.port))
    silent.settimeout(10)
    assert silent.recv(100) == b""  # closed by the handshake timeout
    silent.close()
    watching = watcher(srv, srv.last_game)
    assert watching.status == 101 and watching.message()[:1] == b"F"
    nobody = watcher(srv, "nosuchgame234")
    assert until_note(nobody)[0][0] == 2
    code, page = status_page(srv.port)
    assert code == 200, page
    assert "games running: 1 of 1" in page, page
    game = re.search(rf"^  pid {pid}  127\.0\.0\.1  game {srv.last_game}  \d+ s  1 watching  (\d+) KiB$",
                     page, re.M)
    assert game and int(game.group(1)) > 0, page
    server_kib = int(re.search(r"^  server: (\d+) KiB$", page, re.M).group(1))
    games_kib = int(re.search(r"^  games: (\d+) KiB$", page, re.M).group(1))
    assert server_kib > 0 and games_kib == int(game.group(1)) and "\nwatchers: 1\n" in page, page
    for name, expected in [("games (--max-games)", 1), ("pages of another site (--allow-origin)", 1),
                           ("handshakes too slow (--handshake-timeout)", 1),
                           ("watchers (--max-watchers, or no such game)", 1),
                           ("key floods (--max-queued-keys)", 0), ("idle games (--idle-timeout)", 0)]:
        assert counted(page, name) == expected, (name, page)
    for proxied in ["X-Forwarded-For: 192.0.2.1\r\n", "Forwarded: for=192.0.2.1\r\n",
                    "X-Real-IP: 192.0.2.1\r\n"]:
        assert status_page(srv.port, proxied)[0] == 404, proxied
    program = os.path.join(BIN, "vesperdeep-server")
    asked = subprocess.run([program, "--status", f"127.0.0.1:{srv.port}"], capture_output=True,
                           text=True, timeout=10)
    assert asked.returncode == 0 and f"  pid {pid}  127.0.0.1  " in asked.stdout, asked
    player.close()
    watching.close()
    ends_cleanly(srv, [pid])
    for target, status in [(f"127.0.0.1:{srv.port}", 1), ("nowhere", 64)]:
        refused = subprocess.run([program, "--status", target], capture_output=True, text=True,
                                 timeout=10)
        assert refused.returncode == status and len(refused.stderr.splitlines()) == 1, refused


def replay(recording, *options):
    """vesperdeep-driver --recording: (status, stdout, stderr)."""
    done = subprocess.run([os.path.join(BIN, "vesperdeep-driver"), "--recording", recording,
                           "--watchdog", "0", "--no-flush"] + list(options), capture_output=True,
                          text=True, env=dict(os.environ, SDL_VIDEODRIVER="dummy"), cwd=BIN)
    return done.returncode, done.stdout, done.stderr


def last_screen(recording):
    with tempfile.NamedTemporaryFile("r", suffix=".screens") as screens:
        status, _, errors = replay(recording, "--screens", screens.name)
        assert status == 0, errors
        return screens.read().split()[-1]


def play_recorded(data, script, *options):
    """Plays the golden `script` through a server recording in `data`; returns the live screen."""
    text = open(script).read()
    partition = re.search(r"^# partition: (\d+)", text, re.M).group(1)
    srv = server("--data", data, "--partition", partition, *options)
    client, screen, pid = start_game(srv)
    for code, shift in parse_keys(text):
        client.key(code, shift)
        until_waiting(client, screen)
    client.close()
    srv.wait_log(r"game ended for")
    ends_cleanly(srv, [pid])
    return screen.hex()


def test_recording():
    """A game played through the server leaves a recording, named after the server's instance,
    that replays in the driver to the live game's last screen and the golden state hash; a
    server killed mid-game leaves a recording that still replays, ended abnormally."""
    name = "05-bat-fight"
    script = os.path.join(REPO, "tests/golden", name + ".keys")
    with tempfile.TemporaryDirectory() as data:
        live = play_recorded(data, script, "--instance", "b7")
        made = glob.glob(os.path.join(data, "*"))
        assert len(made) == 1 and made[0].endswith(".vdrec"), made
        assert os.path.basename(made[0]).startswith("b7-"), "the name leaves out the instance"
        assert last_screen(made[0]) == live, "the replay ends on another screen"
        with tempfile.NamedTemporaryFile("r", suffix=".hashes") as hashes:
            status, out, errors = replay(made[0], "--hashes", hashes.name)
            assert status == 0, errors
            assert "the recording says hang-up" in out, out
            golden = open(os.path.join(REPO, "tests/golden", name + ".hashes")).read()
            assert hashes.read() == golden, "the replay's state hashes differ from the golden ones"
        keys = len(parse_keys(open(script).read())) + 1
        print(f"{os.path.getsize(made[0])} bytes for {keys} keys")
        srv = server("--data", data)
        client, screen, pid = start_game(srv)
        for code in "<Enter>", "l", "l", "j":
            client.key(code.strip("<>") if code.startswith("<") else code)
            until_waiting(client, screen)
        srv.process.kill()
        srv.process.wait()
        assert wait_gone(pid, 5), "the game outlived its server"
        parts = glob.glob(os.path.join(data, "*.part"))
        assert len(parts) == 1, parts
        assert last_screen(parts[0]) == screen.hex(), "the killed game's recording lost keys"


def watcher(srv, game, **options):
    return Client(srv.port, path=f"/watch?game={game}", **options)


def messages_to_waiting(client):
    """The messages up to and with the next 'W'."""
    got = []
    while not got or got[-1] != b"W":
        got.append(client.message())
    return got


def refused_watchers(srv, game):
    """A full audience (2) and an unknown game each refuse a watcher with their words."""
    third = watcher(srv, game)
    assert until_note(third) == ((2, "This game has 2 watchers already. Try again in a while."),
                                 1000)
    unknown = watcher(srv, "nosuchgame")
    assert until_note(unknown)[0][0] == 2


def oversized_watcher(srv):
    """A watcher's 1 MB message closes it (1009) and its game goes on; returns the game's pid."""
    other, _, other_pid = start_game(srv)
    big = watcher(srv, srv.last_game)
    big.message()
    big.send_raw(b"x" * (1 << 20), at_most=4096)
    assert until_note(big)[1] == 1009, "an oversized message from a watcher left it open"
    other.key("Enter")
    until_waiting(other)
    other.close()
    return other_pid


def test_watch():
    """Watchers who join at key 0 and at key 50 get the screen as it is, then the player's very
    messages; what they send is ignored; the player's end closes them with its message; an
    unknown game, a full audience and an oversized message are refused."""
    script = open(os.path.join(REPO, "tests/golden/08-milestones-and-hunger.keys")).read()
    keys = parse_keys(script) + [("l", False), ("h", False)] * 5
    partition = re.search(r"^# partition: (\d+)", script, re.M).group(1)
    srv = server("--partition", partition, "--max-watchers", "2")
    player, screen, pid = start_game(srv)
    game = srv.last_game
    watchers = {}
    for index, (code, shift) in enumerate(keys):
        if index in (0, 50):
            joined = watcher(srv, game)
            assert joined.status == 101, joined.head
            first, own = joined.message(), Screen()
            assert first[:1] == b"F", first[:1]
            own.apply(first)
            assert own.hex() == screen.hex(), f"a watcher joining at key {index} sees another screen"
            watchers[index] = (joined, own)
        if index == 1:
            watchers[0][0].key("l")  # a watcher's key reaches no game
            watchers[0][0].send_raw(b"garbage")
        player.key(code, shift)
        sent = messages_to_waiting(player)
        for message in sent:
            if message[:1] in (b"F", b"D"):
                screen.apply(message)
        for at, (joined, own) in watchers.items():
            got = messages_to_waiting(joined)
            assert got == sent, f"the watcher from key {at} got other messages at key {index}"
            for message in got:
                if message[:1] in (b"F", b"D"):
                    own.apply(message)
            assert own.hex() == screen.hex()
    player.sock.settimeout(0.5)
    try:
        stray = player.message()
    except socket.timeout:
        stray = None
    assert stray is None, f"a watcher's key moved the game: {stray[:1]!r}"
    refused_watchers(srv, game)
    player.close()
    for joined, _ in watchers.values():
        assert until_note(joined) == ((1, "The player has left; the game has ended."), 1000)
    srv.wait_log(r"game ended for")
    assert wait_gone(pid, GONE_WITHIN + 1)
    other_pid = oversized_watcher(srv)
    ends_cleanly(srv, [pid, other_pid])


def test_watch_stalled():
    """50 watchers of one game, one of which never reads: that one is dropped, the player and
    the 49 others go on with every message."""
    srv = server("--max-watchers", "50", "--max-connections", "60", "--max-send-queue", "16384")
    player, screen, pid = start_game(srv)
    game = srv.last_game
    stalled = watcher(srv, game, receive_buffer=4096)
    readers = [watcher(srv, game) for _ in range(49)]
    for reader in readers:
        assert reader.message()[:1] == b"F"
    dropped = None
    for index in range(400):
        player.key("Enter" if index == 0 else "iz"[index % 2])
        sent = messages_to_waiting(player)
        for reader in readers:
            assert messages_to_waiting(reader) == sent, f"a watcher lost messages at key {index}"
        line = srv.read_log(timeout=0) if dropped is None else None
        dropped_line = r"dropped a watcher of game [a-z0-9]+-\w+ from 127\.0\.0\.1: does not read"
        if line and re.search(dropped_line, line):
            dropped = index
            print(f"{index + 1} keys: {line}")
            break
    assert dropped is not None, f"the watcher that does not read was never dropped: {srv.log}"
    player.key("Esc")
    sent = messages_to_waiting(player)
    for reader in readers:
        assert messages_to_waiting(reader) == sent
    player.close()
    for reader in readers:
        assert until_note(reader)[0] == (1, "The player has left; the game has ended.")
    stalled.close()
    ends_cleanly(srv, [pid])


def play_keeping_screens(data, script):
    """Plays the golden `script` through a server recording in `data`: the player's screen
    before the first key and after every key, and the recording's path."""
    text = open(script).read()
    partition = re.search(r"^# partition: (\d+)", text, re.M).group(1)
    srv = server("--data", data, "--partition", partition)
    client, screen, pid = start_game(srv)
    screens = [screen.hex()]
    for code, shift in parse_keys(text):
        client.key(code, shift)
        until_waiting(client, screen)
        screens.append(screen.hex())
    client.close()
    srv.wait_log(r"game ended for")
    ends_cleanly(srv, [pid])
    return screens, glob.glob(os.path.join(data, "*.vdrec"))[0]


def control(client, operation, argument=0):
    client.send_raw(operation.encode() + struct.pack("<I", argument))


def position(client, screen):
    """Applies frames up to the next 'P'; returns (keys replayed, keys, turns, kills, speed,
    paused)."""
    while True:
        message = client.message()
        if message[:1] in (b"F", b"D"):
            screen.apply(message)
        elif message[:1] == b"P":
            assert len(message) == 19, message
            return struct.unpack("<IIIIBB", message[1:])
        else:
            raise AssertionError(f"a replay sent {message[:20]!r}")


def test_replay():
    """A finished game replayed on /replay shows the player's own screens: at every key
    stepped, after seeks forward and back, and at its end played as fast as it goes; bad
    controls are ignored, an oversized one closes, and the page's going ends the child."""
    with tempfile.TemporaryDirectory() as data:
        live, recorded = play_keeping_screens(data, os.path.join(REPO, "tests/golden/05-bat-fight.keys"))
        name = os.path.basename(recorded)
        srv = server("--data", data)
        for bad in ("../" + name, "x.vdrec", name + ".part", "%2e%2e%2fetc%2fpasswd"):
            assert Client(srv.port, path="/replay?rec=" + bad).status == 404, bad
        client = Client(srv.port, path="/replay?rec=" + name)
        assert client.status == 101, client.head
        pid = int(srv.wait_log(r"replay started for 127\.0\.0\.1 \(pid (\d+)").group(1))
        screen = Screen()
        control(client, "H")
        at = position(client, screen)
        while at[5] == 0:  # the first key may have been played before the pause came
            at = position(client, screen)
        assert screen.hex() == live[at[0]] and at[1] == len(live) - 1, at
        while at[0] < at[1]:
            control(client, "N")
            at = position(client, screen)
            assert screen.hex() == live[at[0]], f"the screen after key {at[0]} differs"
        for target in 5, 2, 0, 9, 10_000:
            control(client, "G", target)
            at = position(client, screen)
            assert at[0] == min(target, len(live) - 1), at
            assert screen.hex() == live[at[0]], f"the screen after a seek to {target} differs"
        for bad in b"X\0\0\0\0", b"P\3\0\0\0", b"H\1\0\0\0", b"G\0\0\0", b"K\x02\0":
            client.send_raw(bad)
        control(client, "G", 1)
        at = position(client, screen)
        assert at[0] == 1 and screen.hex() == live[1], "a bad control was obeyed"
        control(client, "P", 0)
        while at[0] < at[1] or at[5] == 0:
            at = position(client, screen)
        assert screen.hex() == live[-1] and at[2:4] == (12, 1), at
        client.send_raw(b"G" * 17)
        note, code = until_note(client)
        assert code == 1009, code
        assert wait_gone(pid, GONE_WITHIN), "the replay outlived its page"
        ends_cleanly(srv, [pid])


def test_lobby():
    """The lobby lists the finished games and refuses each damaged recording with one line,
    once; a listed recording downloads as text to save, nothing else does; today's cave is the
    date's partition, and a today's game that does not replay to its end screen is not listed."""
    with tempfile.TemporaryDirectory() as data:
        _, good = play_keeping_screens(data, os.path.join(REPO, "tests/golden/05-bat-fight.keys"))
        text = open(good, "rb").read()
        damaged = {
            "flipped.vdrec": text.replace(b"\nl\n", b"\nh\n", 1),
            "truncated.vdrec": text[:text.rindex(b"\n", 0, -1) + 3],
            "version.vdrec": text.replace(b"# version 0.1", b"# version 9.9", 1),
        }
        for name, body in damaged.items():
            open(os.path.join(data, name), "wb").write(body)
        with open(os.path.join(data, "huge.vdrec"), "wb") as huge:
            huge.truncate(100 << 20)
        today = int(time.strftime("%Y%m%d", time.gmtime()))
        write_recording(os.path.join(data, "cheat.vdrec"), today, ["<Enter>", "l"], ("end-screen", 1, 0))
        played_at = os.path.getmtime(good) - 10  # older than the cheat, even within one second
        os.utime(good, (played_at, played_at))
        srv = server("--data", data)
        listed = json.loads(get(srv.port, "/games.json").split(b"\r\n\r\n", 1)[1])
        names = [game["name"] for game in listed["finished"]]
        assert names == ["cheat.vdrec", os.path.basename(good)], names  # newest first
        assert listed["today"]["partition"] == today and listed["today"]["results"] == [], listed
        for name in list(damaged) + ["huge.vdrec"]:
            srv.wait_log(r"not listed: .*" + re.escape(name))
        srv.wait_log(r"not listed for today's cave: .*cheat\.vdrec", timeout=60)
        again = json.loads(get(srv.port, "/games.json").split(b"\r\n\r\n", 1)[1])
        assert again["today"]["results"] == [] and len(again["finished"]) == 2, again
        while srv.read_log(1) is not None:
            pass
        assert not [line for line in srv.log if "not listed" in line], srv.log
        answer = get(srv.port, "/recordings/" + os.path.basename(good))
        head, body = answer.split(b"\r\n\r\n", 1)
        assert status_of(answer) == 200 and body == text, head
        assert b"Content-Disposition: attachment; filename=" in head, head
        assert b"Content-Type: text/plain; charset=utf-8" in head, head
        for bad in ("flipped.vdrec", "huge.vdrec", "..%2f..%2fetc%2fpasswd", "../" + os.path.basename(good)):
            assert status_of(get(srv.port, "/recordings/" + bad)) == 404, bad
        os.remove(os.path.join(data, "cheat.vdrec"))
        listed = json.loads(get(srv.port, "/games.json").split(b"\r\n\r\n", 1)[1])
        assert [game["name"] for game in listed["finished"]] == [os.path.basename(good)], listed
        client = Client(srv.port, path="/play?cave=today")
        until_waiting(client)
        client.key("Enter")
        until_waiting(client)
        client.close()
        srv.wait_log(r"game ended for")
        ends_cleanly(srv)
        played = [path for path in glob.glob(os.path.join(data, "*.vdrec")) if path != good
                  and re.match(r"[a-z0-9]+-\d{8}-", os.path.basename(path))]  # the server's
        assert len(played) == 1 and f"# partition {today}\n" in open(played[0]).read(), played


def held(port, forwarded_for):
    """A kept-alive connection that has asked one page as `forwarded_for`: (socket, status)."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    sock.sendall(f"GET /none HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: {forwarded_for}\r\n\r\n".encode())
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += sock.recv(4096)
    head, body = answer.split(b"\r\n\r\n", 1)
    length = int(re.search(rb"Content-Length: (\d+)", head).group(1))
    while len(body) < length:
        body += sock.recv(4096)
    return sock, status_of(answer)


def test_proxy():
    """Behind a --trust-proxy front end each forwarded client (X-Forwarded-For's last entry) has
    its own connections, log lines and status row; a header naming no address is refused with
    one line; from any other peer, or without the option, the header is ignored."""
    srv = server("--trust-proxy", "127.0.0.1", "--trust-proxy", "::1")
    first = [held(srv.port, "203.0.113.9, 192.0.2.1") for _ in range(16)]
    second = held(srv.port, "2001:DB8::1")  # a 17th connection from the proxy, another client's
    assert [status for _, status in first + [second]] == [404] * 17
    assert held(srv.port, "192.0.2.1")[1] == 429
    srv.wait_log(r"refused 192\.0\.2\.1: more than 16 connections$")
    player = Client(srv.port, headers=["X-Forwarded-For: 2001:db8::1"])
    until_waiting(player)
    srv.wait_log(r"game started for 2001:db8::1 \(pid (\d+)")
    assert "  2001:db8::1  game " in status_page(srv.port)[1]  # the front end's machine asks
    assert status_page(srv.port, "X-Forwarded-For: 192.0.2.7\r\n")[0] == 404
    for bad in ["nonsense", "192.0.2.1, ", "[2001:db8::1]", "192.0.2.1:443"]:
        assert status_of(get(srv.port, "/", f"X-Forwarded-For: {bad}\r\n")) == 400, bad
        entry = bad.rsplit(",", 1)[-1].strip()
        srv.wait_log(r"refused 127\.0\.0\.1: X-Forwarded-For names no address \(" + re.escape(entry) + r"\)$")
    for sock, _ in first + [second]:
        sock.close()
    player.close()
    ends_cleanly(srv)
    plain = server()
    kept = [held(plain.port, f"192.0.2.{n}") for n in range(16)]
    assert held(plain.port, "192.0.2.99")[1] == 429 and all(status == 404 for _, status in kept)
    plain.wait_log(r"refused 127\.0\.0\.1: more than 16 connections$")
    assert status_of(get(plain.port, "/", "X-Forwarded-For: nonsense\r\n")) == 429  # not read
    for sock, _ in kept:
        sock.close()
    ends_cleanly(plain)


# The day today's cave test plays on, and the game's own clock set to it: the server's date is
# fixed by libfaketime (Debian's faketime), so the cave is one the bot is known to win.
FIXED_DAY = "2026-12-08"


def fixed_day_environment():
    """The tests' environment with libfaketime preloaded, its clock at noon on FIXED_DAY."""
    found = glob.glob("/usr/lib/*/faketime/libfaketime.so.1")
    assert found, "libfaketime is missing: install Debian's faketime (scripts/lib/packages.sh)"
    env = dict(os.environ, LD_PRELOAD=found[0], FAKETIME=f"@{FIXED_DAY} 12:00:00",
               FAKETIME_DONT_FAKE_MONOTONIC="1")
    if SANITIZED:  # the preloaded library comes before the sanitizers' runtime
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    return env


def todays_results(srv, count, within=30):
    """/games.json once today's part lists `count` results, or the last one seen."""
    end = time.monotonic() + within
    while True:
        listed = json.loads(get(srv.port, "/games.json").split(b"\r\n\r\n", 1)[1])
        if len(listed["today"]["results"]) >= count or time.monotonic() > end:
            return listed
        time.sleep(0.2)


def play_through(srv, data, keys, path):
    """Plays `keys` on `path` to the last one, the Escape that leaves the title screen and ends
    the game; returns the name of the recording it left in `data`."""
    before = set(os.listdir(data))
    client = Client(srv.port, path=path)
    until_waiting(client)
    for code, shift in keys[:-1]:
        client.key(code, shift)
        until_waiting(client)
    client.key(*keys[-1])
    until_note(client)
    srv.wait_log(r"game ended for")
    made = [name for name in set(os.listdir(data)) - before if name.endswith(".vdrec")]
    assert len(made) == 1, made
    return made[0]


def test_todays_cave():
    """Real games that reached the end screen on today's cave, played through /play?cave=today
    with the autoplayer's keys, are confirmed by their replays and listed among today's results
    with their turns and kills, fewest turns first whatever order they were played in."""
    partition = int(FIXED_DAY.replace("-", ""))
    with tempfile.TemporaryDirectory() as data, tempfile.TemporaryDirectory() as work:
        botted = os.path.join(work, "bot.vdrec")
        bot = subprocess.run([os.path.join(BIN, "vesperdeep-bot"), "--record", botted,
                              "--partitions", str(partition)], capture_output=True, text=True,
                             env=dict(os.environ, SDL_VIDEODRIVER="dummy"), cwd=BIN, timeout=120)
        assert bot.returncode == 0, (bot.stdout, bot.stderr)
        text = open(botted).read()
        turns, kills = map(int, re.search(r"^# end end-screen turns (\d+) kills (\d+)", text,
                                          re.M).groups())
        keys = parse_keys(text)
        assert keys, "the bot pressed a key the protocol cannot send"
        # The same game with one turn waited on the last walk to the note, when no creature
        # is left to act on it: still the end screen, a turn later.
        waited = keys[:-20] + [(".", False)] + keys[-20:]
        srv = server("--data", data, env=fixed_day_environment())
        longer = play_through(srv, data, waited, "/play?cave=today")
        shorter = play_through(srv, data, keys, "/play?cave=today")
        listed = todays_results(srv, 2)
        today = listed["today"]
        assert today["date"] == FIXED_DAY and today["partition"] == partition, today
        found = [(game["name"], game["ending"], game["turns"], game["kills"], game["partition"],
                  game["keys"]) for game in today["results"]]
        assert found == [(shorter, "end-screen", turns, kills, partition, len(keys)),
                         (longer, "end-screen", turns + 1, kills, partition, len(keys) + 1)], found
        assert [game["name"] for game in listed["finished"]] == [shorter, longer], listed
        while srv.read_log(1) is not None:
            pass
        assert not [line for line in srv.log if "not listed" in line or "cannot confirm" in line], \
            srv.log
        ends_cleanly(srv)


if __name__ == "__main__":
    try:
        globals()["test_" + GROUP.replace("-", "_")]()
    finally:
        clean_up()
    print(f"server {GROUP}: passed")
