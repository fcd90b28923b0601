#!/usr/bin/python3
"""The page against messages no server of the game sends: a tiny stand-in server (standard
library only, loopback) serves the page and answers its WebSocket with one frame and a wait,
then one bad message. The page must stop reading, say "The server sent something this page
cannot read.", offer a new game, and throw no error.

    web/tests/messages.py

Exit status: 0 passed, 1 failed, 77 skipped (as web/tests/browser.py).
"""

import base64
import hashlib
import http.server
import os
import struct
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402

SHEET = os.path.join(rig.REPO_ROOT, "assets", "Slate_curses_12x12.bmp")
FILES = {
    "/": ("web/index.html", "text/html"),
    "/vesperdeep.js": ("web/vesperdeep.js", "text/javascript"),
    "/vesperdeep.css": ("web/vesperdeep.css", "text/css"),
    "/font.bmp": ("assets/Slate_curses_12x12.bmp", "image/bmp"),
}
# A 2 x 1 console: one run of two '@' in white on black.
FRAME = b"F\x02\x01" + struct.pack("<HB", 0, 2) + b"\xff\xff\xff\x00\x00\x00@@"
BAD = {  # what the stand-in sends after the frame and 'W', by case
    "a run past the last cell": b"D" + struct.pack("<HB", 1, 2) + bytes(6) + b"##",
    "a run cut short": b"D" + struct.pack("<HB", 0, 2) + bytes(6) + b"#",
    "a run of no cells": b"D" + struct.pack("<HB", 0, 0) + bytes(6),
    "an unknown message": b"X",
    "an empty message": b"",
    "a full frame without its size": b"F",
    "a text message without its kind": b"M",
    "text instead of binary": None,
}


class StandIn(http.server.BaseHTTPRequestHandler):
    case = None

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path == "/play":
            return self.play()
        if self.path not in FILES:
            return self.send_error(404)
        name, kind = FILES[self.path]
        with open(os.path.join(rig.REPO_ROOT, name), "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def send_frame(self, opcode, data):
        assert len(data) < 126
        self.wfile.write(bytes([0x80 | opcode, len(data)]) + data)

    def play(self):
        key = self.headers["Sec-WebSocket-Key"] + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
        self.send_response(101)
        self.send_header("Upgrade", "websocket")
        self.send_header("Connection", "Upgrade")
        accept = base64.b64encode(hashlib.sha1(key.encode()).digest()).decode()
        self.send_header("Sec-WebSocket-Accept", accept)
        self.end_headers()
        self.send_frame(2, FRAME)
        self.send_frame(2, b"W")
        bad = BAD[StandIn.case]
        self.send_frame(1, b"@@") if bad is None else self.send_frame(2, bad)
        self.send_frame(2, b"D" + struct.pack("<HB", 0, 2) + bytes(6) + b"!!")  # not to be read
        self.wfile.flush()
        self.rfile.read(2)  # until the page closes (or the test ends)
        self.close_connection = True


def main():
    r = rig.Rig(None)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), StandIn)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with r:
        browser = r.start_browser(f"http://127.0.0.1:{server.server_address[1]}/", settle=False)
        for case in BAD:
            StandIn.case = case
            browser.driver.get(browser.url)
            r.expect(browser.wait_for_end() == "ended", f"{case}: the page read on")
            notice = browser.ended_notice()
            r.expect(
                notice == ["The server sent something this page cannot read.", True],
                f"{case}: the page shows {notice}",
            )
            glyphs = browser.screen()["glyphs"]
            r.expect(glyphs == [64, 64], f"{case}: the screen became {glyphs}")
            errors = [e for e in browser.driver.get_log("browser") if e["level"] == "SEVERE"]
            r.expect(not errors, f"{case}: the page threw {errors}")
        print(f"browser: {len(BAD)} kinds of bad message: the page stops and says so: ok")
    server.shutdown()
    return r.status()


if __name__ == "__main__":
    sys.exit(main())
