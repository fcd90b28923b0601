#!/usr/bin/env python3
"""vesperdeep-server under load (a benchmark, not a test): run from a release build.

usage: load_test.py BIN_DIR [--games 100,200,300,500,700] [--seconds 30] [--idle 2000]
                    [--clients 2] [--ramp 20] [--keep-going]

For each number of games N in turn, N players each play the golden key scripts
(tests/golden/*.keys, one after another from a different one each, over again) with a key
every 200 ms against one server; a key still unanswered when the next is due is skipped, and a
game that ends is opened again. The players start one after another over --ramp seconds, and
the keys from 5 s after the last one started, for --seconds, are timed. It prints the
key-to-frame times (to the first 'D' and to the 'W' after it: median and 99th percentile), the
memory of the server and its games (RSS and PSS summed), the CPU they used and the load
average; it stops raising N once the 99th percentile to the first 'D' passes 50 ms or the
memory passes 8 GB (with --keep-going it plays every N given). Then it holds --idle WebSocket
connections open without a key for --seconds, and prints the same memory and CPU figures.
The players are shared among --clients processes, so that the client is not what is measured.
"""

import glob
import heapq
import json
import os
import random
import resource
import select
import selectors
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from wsclient import Client, Closed, parse_keys  # noqa: E402

import benchlib  # noqa: E402
from benchlib import Server, cpu_seconds, percentile, smaps, unframe  # noqa: E402

PERIOD = 0.2  # seconds between two keys of one player
WARM_UP = 5.0  # seconds after the last player came whose keys are not timed
P99_LIMIT = 0.050
MEMORY_LIMIT_KB = 8 * 1024 * 1024


def option(name, default):
    if name in sys.argv:
        return sys.argv[sys.argv.index(name) + 1]
    return default


BIN = sys.argv[1]
GAMES = [int(n) for n in option("--games", "100,200,300,500,700").split(",")]
SECONDS = float(option("--seconds", "30"))
IDLE = int(option("--idle", "2000"))
CLIENTS = int(option("--clients", "2"))
RAMP = float(option("--ramp", "20"))
KEEP_GOING = "--keep-going" in sys.argv  # every N even past the limits


def median(values):
    return statistics.median(values) if values else 0.0


def ms(seconds):
    return benchlib.ms(seconds, places=1)


def golden_keys():
    """Every golden script's keys that the protocol can send, one list per script."""
    scripts = []
    for path in sorted(glob.glob(os.path.join(REPO, "tests", "golden", "*.keys"))):
        keys = parse_keys(open(path, encoding="utf-8").read())
        if keys:
            scripts.append(keys)
    return scripts


# ---- One client process: its share of the players ----------------------------------------------


class Player:
    """One game: its socket, where it is in the scripts, and the key it waits on."""

    def __init__(self, port, keys, start):
        self.port = port
        self.keys = keys
        self.at = start
        self.sent_at = None
        self.first_frame = None
        self.connect()

    def connect(self):
        self.client = Client(self.port)
        self.client.sock.setblocking(False)
        self.buffer = self.client.buffer
        self.sent_at = None

    def next_key(self):
        key = self.keys[self.at % len(self.keys)]
        self.at += 1
        return key

    def messages(self):
        """The whole WebSocket messages received so far; Closed when the server has closed."""
        try:
            got = self.client.sock.recv(1 << 20)
            if not got:
                raise Closed()
        except BlockingIOError:
            got = b""
        frames, self.buffer = unframe(self.buffer + got)
        for opcode, payload, _ in frames:
            if opcode == 8:
                raise Closed()
            if opcode == 9:  # the server's ping: a player that never answers is dropped
                self.client.send_raw(payload, opcode=10)
                continue
            yield payload


def first_key(start, player, total):
    """When player number `player` of `total` sends its first key: when it comes in the ramp,
    put off to its own phase in the period. The phases are drawn, not spaced by the order of
    coming: spaced by it, RAMP / total could be a whole fraction of PERIOD (30 s over 300 players
    is half of it), and every other player would then press in the same instant."""
    arrives = start + RAMP * player / total
    phase = random.Random(player).random() * PERIOD
    return arrives + (phase - (arrives - start)) % PERIOD


def drain(selector):
    """Reads what has come for every player, answering pings, before any key is timed."""
    for key, _ in selector.select(timeout=0):
        try:
            for _ in key.data.messages():
                pass
        except (Closed, ConnectionError):
            raise SystemExit("a game ended while its player sent no key")


def play_share(port, count, offset, total, go_read, out):
    """A client process: `count` players, numbered from `offset` of `total`, play until told."""
    scripts = golden_keys()
    players = []
    selector = selectors.DefaultSelector()
    for i in range(offset, offset + count):
        drain(selector)  # connecting hundreds of games takes long: pings are answered meanwhile
        # Each player starts on another script and goes on through the others after it.
        order = scripts[i % len(scripts) :] + scripts[: i % len(scripts)]
        players.append(Player(port, [key for script in order for key in script], 0))
        selector.register(players[-1].client.sock, selectors.EVENT_READ, players[-1])
    os.write(out, b"ready\n")
    while not select.select([go_read], [], [], 0.05)[0]:
        drain(selector)
    start, end = map(float, os.read(go_read, 64).split())
    # The players come in one after another over RAMP seconds, as players of a real server do,
    # rather than all making their caves in the same instant, and each then keeps a phase of its
    # own within the period, as people who do not hear one another do.
    due = [(first_key(start, offset + k, total), k) for k in range(count)]  # a heap
    timed_from = start + RAMP + WARM_UP
    to_frame, to_wait, skipped, reopened = [], [], 0, 0
    cpu_at_start = time.process_time()
    while time.monotonic() < end:
        while due[0][0] <= time.monotonic():
            when, k = due[0]
            heapq.heapreplace(due, (when + PERIOD, k))
            player = players[k]
            if player.sent_at is not None:
                skipped += 1
                continue
            code, shift = player.next_key()
            player.client.key(code, shift)
            player.sent_at, player.first_frame = time.monotonic(), None
        wait = max(0.0, min(due[0][0] - time.monotonic(), end - time.monotonic()))
        for key, _ in selector.select(timeout=wait):
            player = key.data
            try:
                for payload in player.messages():
                    arrived = time.monotonic()
                    if player.sent_at is None:
                        continue
                    if payload[:1] == b"D" and player.first_frame is None:
                        player.first_frame = arrived - player.sent_at
                    if payload == b"W" and player.sent_at >= timed_from:
                        to_wait.append(arrived - player.sent_at)
                        if player.first_frame is not None:
                            to_frame.append(player.first_frame)
                    if payload == b"W":
                        player.sent_at = None
            except (Closed, ConnectionError):
                # The game ended (its script quit): the player opens another.
                selector.unregister(player.client.sock)
                player.client.sock.close()
                player.connect()
                selector.register(player.client.sock, selectors.EVENT_READ, player)
                reopened += 1
    result = {"to_frame": to_frame, "to_wait": to_wait, "skipped": skipped, "reopened": reopened,
              "cpu": (time.process_time() - cpu_at_start) / max(end - start, 0.001)}
    data = json.dumps(result).encode()
    view = memoryview(data)
    while view:
        view = view[os.write(out, view) :]
    os._exit(0)


# ---- The measuring process -----------------------------------------------------------------------


def memory(srv):
    """(RSS, PSS) in kB of the server and all its games together."""
    pids = [srv.process.pid] + srv.games()
    rollups = [smaps(pid) for pid in pids]
    return sum(r.get("Rss", 0) for r in rollups), sum(r.get("Pss", 0) for r in rollups)


def describe_memory(srv):
    rss, pss = memory(srv)
    games = len(srv.games())
    return (f"{games} games: server and games RSS {rss / 1024:.0f} MB, PSS {pss / 1024:.0f} MB "
            f"({pss / max(games, 1):.0f} kB PSS a game)"), pss


def collect(reader):
    data = b""
    while True:
        got = os.read(reader, 1 << 20)
        if not got:
            return json.loads(data)
        data += got


def run_round(srv, games):
    """N players for SECONDS; returns True when the limits still hold."""
    shares = [games // CLIENTS + (1 if k < games % CLIENTS else 0) for k in range(CLIENTS)]
    workers = []
    offset = 0
    for share in shares:
        go_read, go_write = os.pipe()
        out_read, out_write = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(go_write)
            os.close(out_read)
            try:
                play_share(srv.port, share, offset, games, go_read, out_write)
            finally:
                os._exit(1)
        os.close(go_read)
        os.close(out_write)
        workers.append((pid, go_write, out_read))
        offset += share
    for _, _, out_read in workers:
        line = b""
        while not line.endswith(b"\n"):
            got = os.read(out_read, 1)
            if not got:
                raise SystemExit("a client process ended before its players were connected")
            line += got
    start = time.monotonic() + 0.5
    timed_from = start + RAMP + WARM_UP
    for _, go_write, _ in workers:
        os.write(go_write, f"{start} {timed_from + SECONDS}".encode())
        os.close(go_write)
    time.sleep(max(0.0, timed_from + SECONDS / 2 - time.monotonic()))
    games_pids = srv.games()
    server_before, games_before = cpu_seconds([srv.process.pid]), cpu_seconds(games_pids)
    middle = time.monotonic()
    time.sleep(SECONDS / 4)
    span = time.monotonic() - middle
    server_cpu = (cpu_seconds([srv.process.pid]) - server_before) / span
    games_cpu = (cpu_seconds(games_pids) - games_before) / span
    load = os.getloadavg()
    memory_line, pss = describe_memory(srv)
    results = [collect(out_read) for _, _, out_read in workers]
    for pid, _, out_read in workers:
        os.close(out_read)
        os.waitpid(pid, 0)
    to_frame = [t for r in results for t in r["to_frame"]]
    to_wait = [t for r in results for t in r["to_wait"]]
    p99 = percentile(to_frame, 0.99)
    print(f"N = {games}: {len(to_wait)} keys in {SECONDS:.0f} s "
          f"({sum(r['skipped'] for r in results)} skipped as the key before was unanswered, "
          f"{sum(r['reopened'] for r in results)} games ended and opened again)")
    print(f"  key -> first 'D': median {ms(median(to_frame))}, 99th percentile "
          f"{ms(p99)}; key -> 'W': median {ms(median(to_wait))}, 99th percentile "
          f"{ms(percentile(to_wait, 0.99))}")
    print(f"  {memory_line}")
    clients_cpu = sum(r["cpu"] for r in results)
    print(f"  CPU: server {server_cpu:.2f}, games {games_cpu:.2f}, these clients "
          f"{clients_cpu:.2f} of {os.cpu_count()} cores; load average "
          f"{load[0]:.1f} {load[1]:.1f} {load[2]:.1f}", flush=True)
    return p99 <= P99_LIMIT and pss <= MEMORY_LIMIT_KB


def wait_for_games(srv, count, seconds=60):
    end = time.monotonic() + seconds
    while time.monotonic() < end and len(srv.games()) != count:
        time.sleep(0.2)
    return len(srv.games())


def hold_idle(srv, count):
    """`count` WebSockets open, each with its game at the title screen, sending no key (they
    answer the server's pings, as a browser left open does)."""
    players, selector = [], selectors.DefaultSelector()
    started = time.monotonic()
    for _ in range(count):
        drain(selector)
        players.append(Player(srv.port, [], 0))
        selector.register(players[-1].client.sock, selectors.EVENT_READ, players[-1])
    opened = time.monotonic() - started
    games = wait_for_games(srv, count)
    pids = [srv.process.pid] + srv.games()
    cpu_before, end = cpu_seconds(pids), time.monotonic() + SECONDS
    while time.monotonic() < end:
        drain(selector)
        time.sleep(0.05)
    cpu = cpu_seconds(pids) - cpu_before
    memory_line, _ = describe_memory(srv)
    print(f"idle: {count} WebSockets opened in {opened:.1f} s, {games} games, all open "
          f"{SECONDS:.0f} s later; CPU of server and games {cpu:.2f} s over {SECONDS:.0f} s; "
          f"load average {os.getloadavg()[0]:.1f}")
    print(f"  {memory_line}", flush=True)
    for player in players:
        player.client.sock.close()


def main():
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))  # the server inherits it
    most = max(GAMES + [IDLE]) + 100
    srv = Server(BIN, "--max-games", str(most), "--max-connections", str(2 * most))
    print(f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f} at the start, "
          f"descriptors {hard}", flush=True)
    try:
        for games in GAMES:
            holds = run_round(srv, games)
            if wait_for_games(srv, 0) != 0:
                print(f"  {len(srv.games())} games still running after the players left")
            if not holds:
                print(f"  the limit (99th percentile 50 ms, 8 GB) passed at N = {games}")
                if not KEEP_GOING:
                    break
        if IDLE:
            hold_idle(srv, IDLE)
    finally:
        print(f"server stopped with status {srv.stop()}; its log is {srv.log.name}")


main()
