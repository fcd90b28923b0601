#!/usr/bin/env python3
"""The player's key-to-frame time with and without watchers (a benchmark, not a test): run from
a release build.

usage: watch_bench.py BIN_DIR [--watchers 0,50] [--seconds 20]

For each number of watchers, one game on a fresh server (its default limits) alternates i and
Escape (the inventory opens and closes: about 4.6 kB a key, no turn spent) every 50 ms. With
watchers, one of them never reads (4 kB receive buffer) and the others are drained by a
separate process. Prints the
key -> first 'D' and key -> 'W' times (median, 99th percentile) and whether, after how many keys,
the stalled watcher was dropped.
"""

import multiprocessing
import os
import selectors
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from wsclient import Client, Server  # noqa: E402

from benchlib import ms, percentile  # noqa: E402

BIN = sys.argv[1]
WATCHERS = [0, 50]
SECONDS = 20.0
PERIOD = 0.05
for i, arg in enumerate(sys.argv):
    if arg == "--watchers":
        WATCHERS = [int(n) for n in sys.argv[i + 1].split(",")]
    if arg == "--seconds":
        SECONDS = float(sys.argv[i + 1])


def drain(port, game, count, ready, stop):
    """`count` watchers of `game` that read everything, until `stop` is set."""
    clients = [Client(port, path=f"/watch?game={game}") for _ in range(count)]
    selector = selectors.DefaultSelector()
    for client in clients:
        client.sock.setblocking(False)
        selector.register(client.sock, selectors.EVENT_READ, client)
    ready.set()
    while not stop.is_set():
        for key, _ in selector.select(timeout=0.1):
            try:
                if not key.fileobj.recv(1 << 20):
                    selector.unregister(key.fileobj)
            except (BlockingIOError, ConnectionResetError):
                pass
    for client in clients:
        client.close()


def until_waiting(client):
    """Reads up to the next 'W'; returns the time of the first 'D' (or None)."""
    first = None
    while True:
        message = client.message()
        if message[:1] == b"D" and first is None:
            first = time.perf_counter()
        if message == b"W":
            return first


def measure(watchers):
    srv = Server(BIN, "--max-connections", str(watchers + 10))
    try:
        play(srv, watchers)
    finally:
        print(f"  load average {os.getloadavg()[0]:.1f}; server stopped with status {srv.stop()}")


def play(srv, watchers):
    player = Client(srv.port)
    until_waiting(player)
    game = srv.wait_log(r"game started for .* game ([a-z0-9]+-\w+),").group(1)
    stalled, reader, stop = None, None, multiprocessing.Event()
    if watchers:
        stalled = Client(srv.port, path=f"/watch?game={game}", receive_buffer=4096)
        ready = multiprocessing.Event()
        reader = multiprocessing.Process(target=drain, args=(srv.port, game, watchers - 1, ready, stop))
        reader.start()
        assert ready.wait(30), "the watchers did not connect"
    player.key("Enter")
    until_waiting(player)
    to_frame, to_wait, dropped_at = [], [], None
    end = time.perf_counter() + SECONDS
    next_key = time.perf_counter()
    while time.perf_counter() < end:
        time.sleep(max(0.0, next_key - time.perf_counter()))
        next_key += PERIOD
        sent = time.perf_counter()
        player.key(("i", "Esc")[len(to_wait) % 2])
        first = until_waiting(player)
        to_wait.append(time.perf_counter() - sent)
        if first is not None:
            to_frame.append(first - sent)
        line = srv.read_log(timeout=0) if dropped_at is None and watchers else None
        if line and "dropped a watcher" in line:
            dropped_at = len(to_wait)
    print(f"key -> frame, 1 game, {watchers} watchers, a key every {PERIOD * 1000:.0f} ms, "
          f"{len(to_wait)} keys: first 'D' median {ms(statistics.median(to_frame))}, 99th "
          f"percentile {ms(percentile(to_frame, 0.99))}; 'W' median "
          f"{ms(statistics.median(to_wait))}, 99th percentile {ms(percentile(to_wait, 0.99))}")
    if watchers:
        print("  the stalled watcher: " +
              (f"dropped after {dropped_at} keys" if dropped_at else "not dropped"))
        stop.set()
        reader.join(10)
        stalled.close()
    player.close()


for count in WATCHERS:
    measure(count)
