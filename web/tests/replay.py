#!/usr/bin/python3
"""A game's replay in a real browser (headless Chromium, Selenium): a game played in the page is
listed by the lobby once it has ended, with a replay link; the replay, paused, then moved by a
seek forward, a step and a seek back, shows after each the same screen, glyph for glyph and
colour for colour, as the headless play driver after that many keys.

    web/tests/replay.py BIN_DIR [--sanitized]

Exit status: 0 passed, 1 failed, 77 skipped (a line starting "SKIPPED:" names what is missing).
"""

import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402

PARTITION = 0
# The game played: each key as the driver's key script names it, and as the browser types it.
PLAYED = [("<Enter>", "ENTER"), ("l", "l"), ("j", "j"), ("n", "n"), ("<S-h>", "H")]


def wait_for(r, browser, test, what):
    """Waits until the JavaScript expression `test` holds in the page."""
    r.expect(
        r.wait_until(lambda: browser.driver.execute_script("return " + test), rig.WAIT),
        f"the page never came to: {what} (it says: "
        + browser.driver.execute_script(
            "return document.getElementById('status').textContent"
            " + JSON.stringify(window.vesperdeepLobby || null);"
        )
        + ")",
    )


def replay_matches(r, browser, script_of, keys, operation, argument):
    """Sends a control and checks the screen once the replay stands at `keys` keys."""
    count = browser.driver.execute_script("return window.vesperdeep.positions;")
    browser.driver.execute_script(f"window.vesperdeep.control('{operation}', {argument});")
    wait_for(
        r,
        browser,
        f"window.vesperdeep.positions > {count} && window.vesperdeep.position.at === {keys}",
        f"{operation} {argument} to key {keys}",
    )
    expected = r.driver_screen(script_of(keys), PARTITION)
    difference = rig.screen_difference(browser.screen(), expected)
    r.expect(difference is None, f"the replay after {operation} {argument}: {difference}")


def main():
    r = rig.Rig(*rig.command_line("web/tests/replay.py"))
    with r:
        data = tempfile.mkdtemp(prefix="recordings-", dir=r.work)
        os.chmod(data, 0o777)  # the server may run as nobody
        server = r.start_server(PARTITION, "--data", data)
        browser = r.start_browser(server.url)
        for _, typed in PLAYED:
            browser.type(typed)
        browser.open_blank_tab()
        browser.close_game_tab()  # the game ends as a hang-up
        browser.driver.get(server.url + "lobby")
        wait_for(
            r,
            browser,
            "window.vesperdeepLobby && window.vesperdeepLobby.finished.length === 1",
            "the lobby listing the finished game",
        )
        link = browser.driver.find_element("css selector", "#finished tbody a[href^='/?replay=']")
        link.click()
        wait_for(r, browser, "window.vesperdeep && window.vesperdeep.position !== null", "a replay")
        browser.driver.execute_script("window.vesperdeep.control('H', 0);")
        wait_for(r, browser, "window.vesperdeep.position.paused", "a paused replay")
        print("browser: the lobby lists the finished game, and its replay pauses: ok")

        def script_of(keys):
            return "".join(token for token, _ in PLAYED[:keys])

        replay_matches(r, browser, script_of, 3, "G", 3)
        replay_matches(r, browser, script_of, 4, "N", 0)
        replay_matches(r, browser, script_of, 1, "G", 1)
        replay_matches(r, browser, script_of, len(PLAYED), "G", 1000)
        print("browser: seeks forward and back and a step show the driver's screens: ok")
    return r.status()


if __name__ == "__main__":
    sys.exit(main())
