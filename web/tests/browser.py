#!/usr/bin/python3
"""The game played in a real browser: headless Chromium, driven by Selenium, on the page that
vesperdeep-server serves on a free loopback port.

  - the title screen and the first frame of a game, read back from the page's canvas at scale
    1, are pixel for pixel the picture of the game's own window on a virtual X display (Xvfb),
    on the same cave partition;
  - on a touch screen the pad's buttons act as the keys they name;
  - the page is shown at the largest whole-number scale that fits the window, at least 1;
  - keys typed into the page (real key events: letters, Shift, a digit, arrows, Home, '.',
    the inventory, Escape back, Escape to the title) give, after every key, the same screen,
    glyph for glyph and colour for colour, as the headless play driver after the same keys,
    and none of them scrolls the page;
  - a shortcut typed with Ctrl reaches the browser, not the game;
  - the game ended (Escape on the title screen) or killed: the page says so in words and its
    button starts a new game on the title screen;
  - closing the tab ends that game's process within a second.

    web/tests/browser.py BIN_DIR [--sanitized]
        BIN_DIR holds vesperdeep-server and vesperdeep-driver; --sanitized: they are built with
        the sanitizers, so the games get no address-space limit, and closing a tab may take up
        to five seconds instead of one.

Exit status: 0 passed, 1 failed, 77 skipped (a line starting "SKIPPED:" names what is missing).
"""

import os
import re
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402

# The walk through the game: each key as the play driver's key script names it, and as the
# browser types it.
WALK = [
    ("<Enter>", "ENTER"),
    ("l", "l"),
    ("j", "j"),
    ("<Left>", "ARROW_LEFT"),
    ("<Up>", "ARROW_UP"),
    ("<S-h>", "H"),
    ("5", "5"),
    (".", "."),
    ("<Home>", "HOME"),
    ("i", "i"),
    ("a", "a"),
    ("<Esc>", "ESCAPE"),
    ("y", "y"),
    ("<Esc>", "ESCAPE"),
]
PARTITION = 0


def check_window_pixels(r, browser, driver_script, what):
    """The page's canvas against the game's window after the same keys."""
    window = r.window_pixels(driver_script, PARTITION)
    page = browser.canvas_pixels()
    r.expect(page.size == window.size, f"{what}: page {page.size}, window {window.size}")
    difference = rig.first_difference(page, window)
    r.expect(difference is None, f"{what}: the page differs from the window: {difference}")


def fits_the_window(r, browser):
    """The largest whole scale that fits, never less than 1; the canvas keeps scale 1."""
    def shown():
        return browser.driver.execute_script(
            "const c = document.getElementById('screen');"
            " return [window.vesperdeep.scale, c.getBoundingClientRect().width, c.width];"
        )

    for width, height, scale in [(700, 500, 1), (1100, 800, 1), (2100, 1500, 2)]:
        browser.driver.set_window_size(width, height)
        # The browser resizes the page a moment after the window.
        r.wait_until(lambda: shown() == [scale, 960 * scale, 960], 5)
        r.expect(shown() == [scale, 960 * scale, 960], f"{width} x {height}: {shown()}")
    print("browser: whole-number scales that fit the window: ok")


def touch_pad(r, browser):
    """On a touch screen the pad shows, and its buttons are keys: a move leaves the title
    screen, 'i' opens the inventory, Esc closes it. With a mouse it stays hidden."""
    pad = browser.driver.find_element("id", "pad")
    r.expect(not pad.is_displayed(), "the touch pad shows with a mouse")
    browser.driver.execute_cdp_cmd(
        "Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 1}
    )
    browser.reload()
    script = ""
    for token, button in [("l", "l"), ("i", "i"), ("<Esc>", "Escape")]:
        script += token
        browser.press_pad(button)
        difference = rig.screen_difference(browser.screen(), r.driver_screen(script, PARTITION))
        r.expect(difference is None, f"pad, after {script}: {difference}")
    browser.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": False})
    print("browser: the touch pad's buttons act as their keys: ok")


def walk(r, browser):
    """Every key of WALK against the driver; the page is larger than the window, and no key
    scrolls it."""
    browser.driver.set_window_size(700, 500)
    scroll = "window.scrollTo(0, 10000); return window.scrollY;"
    r.wait_until(lambda: browser.driver.execute_script(scroll) > 0, 5)  # once resized
    scrolled = browser.driver.execute_script(scroll)
    r.expect(scrolled > 0, "the page does not scroll in a small window")
    script = ""
    for token, typed in WALK:
        script += token
        browser.type(typed)
        expected = r.driver_screen(script, PARTITION)
        difference = rig.screen_difference(browser.screen(), expected)
        r.expect(difference is None, f"after {script}: {difference}")
        now = browser.driver.execute_script("return window.scrollY;")
        r.expect(now == scrolled, f"{typed} scrolled the page from {scrolled} to {now}")
    browser.driver.set_window_size(1100, 800)
    print(f"browser: {len(WALK)} keys typed, every screen as the play driver's, no scrolling: ok")


def watching(r, server, browser):
    """A second tab at ?watch=ID shows the game's screen at once and every screen after a key,
    says "Watching", and sends no keys of its own."""
    with open(os.path.join(r.work, "server.log"), encoding="utf-8", errors="replace") as log:
        game = re.findall(r"game started for .*, game ([\w-]+),", log.read())[-1]
    driver = browser.driver
    shown = browser.screen()
    driver.switch_to.new_window("tab")
    watch_tab = driver.current_window_handle
    driver.get(server.url + "?watch=" + game)
    same = lambda: driver.execute_script(  # noqa: E731
        "return window.vesperdeep && window.vesperdeep.screen();") == shown
    r.expect(r.wait_until(same, rig.WAIT), "the watcher does not see the game's screen")
    status = driver.execute_script("return document.getElementById('status').textContent;")
    r.expect(status == "Watching", f"the watcher's page says {status!r}")
    browser.type("j", settle=False)
    time.sleep(0.3)  # nothing is expected to happen, so there is nothing to wait for
    r.expect(browser.page_state()["keysSent"] == 0, "the watcher's page sent a key")
    driver.switch_to.window(browser.game_tab)
    browser.type("l")
    shown = browser.screen()
    driver.switch_to.window(watch_tab)
    r.expect(r.wait_until(same, rig.WAIT), "the watcher does not follow the player's key")
    driver.close()
    driver.switch_to.window(browser.game_tab)
    browser.type("ESCAPE")  # back to the title screen the walk ended on
    print(f"browser: a watcher of game {game} sees its screens and sends no keys: ok")


def shortcuts_stay_the_browsers(r, browser):
    before = browser.page_state()
    browser.type_with_control("l")
    time.sleep(0.3)  # nothing is expected to happen, so there is nothing to wait for
    after = browser.page_state()
    r.expect(after["keysSent"] == before["keysSent"], "Ctrl+L was sent to the game")
    print("browser: Ctrl+L is left to the browser: ok")


def ended_games_offer_a_new_one(r, server, browser):
    """Escape on the title screen ends the game; a killed game process ends it with the server's
    words; either way the page says so and its button starts a new game."""
    browser.type("ESCAPE", settle=False)
    r.expect(browser.wait_for_end() == "ended", "Escape on the title screen did not end the game")
    notice = browser.ended_notice()
    r.expect(notice and notice[0] and notice[1], f"no words and button after the end: {notice}")
    browser.new_game()
    r.expect(rig.screen_difference(browser.screen(), r.driver_screen("", PARTITION)) is None,
             "the new game does not start on the title screen")
    r.wait_until(lambda: len(server.children()) == 1, 5)
    game = server.children()[0]
    os.kill(game, signal.SIGKILL)
    r.expect(browser.wait_for_end() != "playing", "the page did not notice its game was killed")
    notice = browser.ended_notice()
    r.expect(notice and notice[0] and notice[1], f"no words and button after a crash: {notice}")
    print(f"browser: after Escape and after a crash: '{notice[0]}' and a new game: ok")
    browser.new_game()


def closing_the_tab_ends_the_game(r, server, browser):
    r.wait_until(lambda: len(server.children()) == 1, 5)
    children = server.children()
    r.expect(len(children) == 1, f"one game running, not {len(children)}")
    browser.open_blank_tab()
    started = time.monotonic()
    browser.close_game_tab()
    gone = r.wait_until(lambda: not rig.process_exists(children[0]), 5)
    took = time.monotonic() - started
    limit = 5.0 if r.sanitized else 1.0  # a sanitized game checks for leaks on its way out
    r.expect(gone and took <= limit, f"the game's process was still there {took:.2f} s later")
    print(f"browser: closing the tab ended the game in {took:.2f} s: ok")


def main():
    r = rig.Rig(*rig.command_line("web/tests/browser.py"))
    with r:
        server = r.start_server(PARTITION)
        browser = r.start_browser(server.url)
        r.expect(browser.page_state()["scale"] == 1, "the page is not drawn at scale 1")
        check_window_pixels(r, browser, "", "title screen")
        browser.type("ENTER")
        check_window_pixels(r, browser, "<Enter>", "first frame")
        print("browser: title screen and first frame as the window's, pixel for pixel: ok")
        fits_the_window(r, browser)
        touch_pad(r, browser)
        browser.reload()
        walk(r, browser)
        watching(r, server, browser)
        shortcuts_stay_the_browsers(r, browser)
        ended_games_offer_a_new_one(r, server, browser)
        closing_the_tab_ends_the_game(r, server, browser)
    return r.status()


if __name__ == "__main__":
    sys.exit(main())
