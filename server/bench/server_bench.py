#!/usr/bin/env python3
"""vesperdeep-server's measurements (a benchmark, not a test): run from a release build.

usage: server_bench.py BIN_DIR [--games 1,50,200] [--seconds 20]

Prints: WebSocket connect to title frame (median, 95th percentile); key to frame with each
number of games, every game pressing a key every 200 ms (median, 99th percentile, to the first
'D' and to the 'W' after it); the bytes of a move; each game's private memory and RSS and the
server's with the most games; the server's and the games' CPU while they sit idle.
"""

import heapq
import os
import selectors
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from wsclient import Client  # noqa: E402

from benchlib import Server, cpu_seconds, ms, percentile, smaps, unframe  # noqa: E402

BIN = sys.argv[1]
GAMES = [1, 50, 200]
SECONDS = 20.0
for i, arg in enumerate(sys.argv):
    if arg == "--games":
        GAMES = [int(n) for n in sys.argv[i + 1].split(",")]
    if arg == "--seconds":
        SECONDS = float(sys.argv[i + 1])
PERIOD = 0.2


class Player:
    """One game in the event loop: non-blocking frames parsing."""

    def __init__(self, port):
        self.client = Client(port)
        self.client.sock.setblocking(False)
        self.buffer = self.client.buffer
        self.sent_at = None
        self.first_frame = None
        self.bytes = 0
        self.next_key = 0.0
        self.direction = 0

    def messages(self):
        try:
            got = self.client.sock.recv(1 << 20)
        except BlockingIOError:
            got = b""
        frames, self.buffer = unframe(self.buffer + got)
        for _, payload, framed in frames:
            yield payload, framed


def cpu_of(srv):
    """The CPU seconds of the server and of all its games so far."""
    return cpu_seconds([srv.process.pid]), cpu_seconds(srv.games())


def connect_to_title(srv, count=40):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        client = Client(srv.port)
        while True:
            message = client.message()
            if message[:1] == b"F":
                times.append(time.perf_counter() - start)
                break
        client.close()
        time.sleep(0.05)
    print(f"connect -> title frame ({count} games one after another): median "
          f"{ms(statistics.median(times))}, 95th percentile {ms(percentile(times, 0.95))}")


def play(srv, games):
    players = [Player(srv.port) for _ in range(games)]
    selector = selectors.DefaultSelector()
    for player in players:
        selector.register(player.client.sock, selectors.EVENT_READ, player)
    # everyone past the title screen and waiting in the cave
    waiting = set()
    for player in players:
        player.client.sock.setblocking(True)
        player.client.sock.sendall(b"")
    for player in players:
        player.client.sock.setblocking(False)
    started = time.perf_counter()
    for player in players:
        player.client.key("Enter")
    waits = {id(p): 0 for p in players}
    while len(waiting) < games and time.perf_counter() - started < 120:
        for key, _ in selector.select(timeout=1):
            player = key.data
            for payload, _ in player.messages():
                if payload == b"W":
                    waits[id(player)] += 1
                    if waits[id(player)] >= 2:
                        waiting.add(id(player))
    assert len(waiting) == games, f"only {len(waiting)} of {games} games started"
    now = time.perf_counter()
    for index, player in enumerate(players):
        player.next_key = now + PERIOD * index / games
    to_frame, to_wait, move_bytes = [], [], []
    schedule = [(player.next_key, index) for index, player in enumerate(players)]
    heapq.heapify(schedule)
    cpu_before = cpu_of(srv)
    client_before = time.process_time()
    end = now + SECONDS
    while time.perf_counter() < end:
        while schedule and schedule[0][0] <= time.perf_counter():
            _, index = heapq.heappop(schedule)
            player = players[index]
            player.next_key += PERIOD
            heapq.heappush(schedule, (player.next_key, index))
            if player.sent_at is not None:
                continue  # the last key is still unanswered: this one is skipped
            player.direction ^= 1
            player.client.key("l" if player.direction else "h")
            player.sent_at = time.perf_counter()
            player.first_frame = None
            player.bytes = 0
        for key, _ in selector.select(timeout=max(0.0, schedule[0][0] - time.perf_counter())):
            player = key.data
            for payload, framed in player.messages():
                arrived = time.perf_counter()
                if player.sent_at is None:
                    continue
                if payload[:1] == b"D" and player.first_frame is None:
                    player.first_frame = arrived - player.sent_at
                if payload[:1] == b"D":
                    player.bytes += framed
                if payload == b"W":
                    to_wait.append(arrived - player.sent_at)
                    if player.first_frame is not None:
                        to_frame.append(player.first_frame)
                    move_bytes.append(player.bytes)
                    player.sent_at = None
    server_cpu, games_cpu = (after - before for after, before in zip(cpu_of(srv), cpu_before))
    print(f"  CPU over {SECONDS:.0f} s: server {server_cpu:.2f} s, games {games_cpu:.2f} s, this "
          f"client {time.process_time() - client_before:.2f} s; load average "
          f"{os.getloadavg()[0]:.1f}")
    print(f"key -> frame, {games} games, a key every 200 ms each, {len(to_wait)} keys: "
          f"first 'D' median {ms(statistics.median(to_frame))}, 99th percentile "
          f"{ms(percentile(to_frame, 0.99))}; 'W' median {ms(statistics.median(to_wait))}, 99th "
          f"percentile {ms(percentile(to_wait, 0.99))}")
    print(f"  bytes of a move (WebSocket frames of its 'D' messages): median "
          f"{statistics.median(move_bytes):.0f}, 95th percentile {percentile(move_bytes, 0.95)}, "
          f"max {max(move_bytes)}")
    return players


def memory_and_idle(srv, players):
    games = srv.games()
    private = [smaps(pid).get("Private_Clean", 0) + smaps(pid).get("Private_Dirty", 0)
               for pid in games]
    rss = [smaps(pid)["Rss"] for pid in games]
    sample = smaps(games[0])
    print(f"memory, {len(games)} games: private per game median {statistics.median(private)} kB "
          f"(max {max(private)}), RSS median {statistics.median(rss)} kB; one game: "
          f"Private_Clean {sample.get('Private_Clean')} kB, Private_Dirty "
          f"{sample.get('Private_Dirty')} kB, Anonymous {sample.get('Anonymous')} kB, "
          f"Pss {sample.get('Pss')} kB")
    mine = smaps(srv.process.pid)
    print(f"server with {len(games)} games: RSS {mine['Rss']} kB, private "
          f"{mine.get('Private_Clean', 0) + mine.get('Private_Dirty', 0)} kB")
    server_before, games_before = cpu_seconds([srv.process.pid]), cpu_seconds(games)
    time.sleep(10)
    print(f"idle 10 s with {len(games)} games: server CPU "
          f"{cpu_seconds([srv.process.pid]) - server_before:.2f} s, all games together "
          f"{cpu_seconds(games) - games_before:.2f} s")


def main():
    srv = Server(BIN, "--max-games", "1000", "--max-connections", "5000")
    try:
        connect_to_title(srv)
        players = []
        for games in GAMES:
            players = play(srv, games)
            if games != GAMES[-1]:
                for player in players:
                    player.client.close()
                time.sleep(2)
        memory_and_idle(srv, players)
    finally:
        print(f"server stopped with status {srv.stop()}")


main()
