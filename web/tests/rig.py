"""What the browser tests stand on: the server on a free loopback port, headless Chromium under
Selenium, the game's window on a virtual X display of its own, and the headless play driver's
screens. Every process started here is ended when the rig closes, and nothing else is touched.
"""

import base64
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO_ROOT = os.path.dirname(os.path.dirname(HERE))
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
TOOLS = {  # what the tests run, and the Debian package that has it
    CHROMIUM: "chromium",
    CHROMEDRIVER: "chromium-driver",
    "Xvfb": "xvfb",
    "xdotool": "xdotool",
    "import": "imagemagick",
}
# What the server needs beside itself.
SERVED_FROM_BIN = ["vesperdeep-server", "vesperdeep-pipe", "Slate_curses_12x12.bmp"]
WAIT = float(os.environ.get("VESPERDEEP_BROWSER_TIMEOUT", "30"))  # longest wait for one screen


class Failure(Exception):
    """A check that did not hold; ends the run."""


def skip(what):
    print(f"SKIPPED: browser tests: {what} (scripts/test installs it, run as root)")
    raise SystemExit(77)


# ---- The game's own view of a screen ------------------------------------------------------------


def code_page_437():
    """Glyph code -> character, from the game's own table (source/Cp437.cpp)."""
    with open(os.path.join(REPO_ROOT, "source", "Cp437.cpp"), encoding="utf-8") as f:
        text = f.read()
    table = text.split("kCodePage437", 1)[1].split("};", 1)[0]
    points = [int(h, 16) for h in re.findall(r"0x([0-9A-Fa-f]{4,6})", table)]
    if len(points) != 256:
        raise Failure(f"source/Cp437.cpp: {len(points)} glyphs in kCodePage437, not 256")
    return [chr(p) for p in points]


def parse_colours(text):
    """The play driver's colours file: per cell (fg, bg) as "rrggbb"."""
    cells = []
    for line in text.splitlines():
        for item in line.split():
            count, _, pair = item.rpartition("*")
            fg, bg = pair.lower().split("/")
            cells += [(fg, bg)] * (int(count) if count else 1)
    return cells


def screen_difference(page, expected, limit=5):
    """None when the page's cells (glyph codes, colours) are the driver's screen, else why not."""
    glyphs, colours = expected
    if len(page["glyphs"]) != len(glyphs):
        return f"the page has {len(page['glyphs'])} cells, the driver's screen {len(glyphs)}"
    table = code_page_437()
    wrong = []
    for i, (code, cell) in enumerate(zip(page["glyphs"], page["colours"])):
        shown = table[code]
        if shown != glyphs[i] or tuple(cell) != colours[i]:
            wrong.append(
                f"({i % page['cols']},{i // page['cols']}): page {shown!r} {cell[0]}/{cell[1]},"
                f" driver {glyphs[i]!r} {colours[i][0]}/{colours[i][1]}"
            )
    if not wrong:
        return None
    return f"{len(wrong)} cells differ, first " + "; ".join(wrong[:limit])


def first_difference(page, window):
    """None when two pictures (width, height, RGB bytes) are equal, else the first pixel apart."""
    (width, _), a, b = page.size, page.rgb, window.rgb
    if a == b:
        return None
    count = sum(1 for i in range(0, min(len(a), len(b)), 3) if a[i : i + 3] != b[i : i + 3])
    i = next(i for i in range(0, min(len(a), len(b)), 3) if a[i : i + 3] != b[i : i + 3])
    x, y = (i // 3) % width, (i // 3) // width
    return (
        f"{count} pixels, first at ({x},{y}) in cell ({x // 12},{y // 12}): "
        f"page {tuple(a[i : i + 3])}, window {tuple(b[i : i + 3])}"
    )


class Picture:
    def __init__(self, width, height, rgb):
        self.size = (width, height)
        self.rgb = rgb


# ---- Processes ------------------------------------------------------------------------------------


def command_line(program):
    """A browser test's BIN_DIR [--sanitized] from sys.argv, as Rig takes them; the usage of
    `program` and status 1 when they are not that."""
    arguments = sys.argv[1:]
    sanitized = "--sanitized" in arguments
    if sanitized:
        arguments.remove("--sanitized")
    if len(arguments) != 1:
        sys.exit(f"usage: {program} BIN_DIR [--sanitized]")
    return os.path.abspath(arguments[0]), sanitized


def process_exists(pid):
    """True while `pid` runs or is a zombie nobody has reaped yet."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return bool(f.read())
    except (FileNotFoundError, ProcessLookupError):
        return False


def children_of(pid):
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                found += [int(p) for p in f.read().split()]
    except FileNotFoundError:
        pass
    return found


class Server:
    def __init__(self, process, url):
        self.process = process
        self.url = url

    def children(self):
        return children_of(self.process.pid)


class Browser:
    """Headless Chromium with the game's page in one tab."""

    def __init__(self, rig, url, settle=True, arguments=()):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        self.profile = tempfile.mkdtemp(prefix="vesperdeep-chromium-", dir=rig.work)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in [
            "--headless=new",
            "--no-sandbox",  # as root, Chromium's sandbox refuses to start
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--disable-extensions",
            "--window-size=1100,800",  # room for the 960 x 600 canvas at scale 1
            "--user-data-dir=" + self.profile,
            *arguments,
        ]:
            options.add_argument(argument)
        service = Service(CHROMEDRIVER, log_path=os.path.join(rig.work, "chromedriver.log"))
        self.driver = webdriver.Chrome(service=service, options=options)
        self.driver.set_script_timeout(WAIT)
        self.url = url
        if settle:
            self.open()

    def open(self):
        self.driver.get(self.url)
        self.settle()
        self.game_tab = self.driver.current_window_handle

    def reload(self):
        self.open()

    def settle(self):
        """Waits until the game has answered every key typed and waits for the next one."""
        state = self.outcome()
        if state != "playing":
            raise Failure(f"the page is '{state}': {self.status_text()}")

    def outcome(self):
        """The page's state once the game has answered every key or the connection has ended."""
        from selenium.common.exceptions import TimeoutException

        try:
            return self.wait_in_page()
        except TimeoutException:
            raise Failure(f"the game did not answer within {WAIT:.0f} s: {self.page_state()}")

    def wait_in_page(self):
        return self.driver.execute_async_script(
            """const done = arguments[arguments.length - 1];
            (function wait() {
              if (window.vesperdeep) window.vesperdeep.settled().then(done);
              else setTimeout(wait, 10);
            })();"""
        )

    def status_text(self):
        return self.driver.execute_script(
            "return [document.getElementById('status').textContent,"
            " document.getElementById('ended-text').textContent].join(' ')"
        )

    def type(self, typed, settle=True):
        """Types one key into the page (a Keys name such as ENTER, or a character)."""
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys

        ActionChains(self.driver).send_keys(getattr(Keys, typed, typed)).perform()
        if settle:
            self.settle()

    def wait_for_end(self):
        """The page's state once its connection has ended, or "playing" after WAIT seconds."""
        ended = lambda: self.page_state()["state"] in ("ended", "lost")  # noqa: E731
        Rig.wait_until(ended, WAIT)
        return self.page_state()["state"]

    def press_pad(self, key):
        button = self.driver.find_element("css selector", f'#pad button[data-key="{key}"]')
        if not button.is_displayed():
            raise Failure(f"the pad's {key} button is not shown")
        button.click()
        self.settle()

    def ended_notice(self):
        """The words over the screen and whether the new game button shows, or None."""
        return self.driver.execute_script(
            """const box = document.getElementById('ended');
            const button = document.getElementById('new-game');
            if (box.hidden) return null;
            return [document.getElementById('ended-text').textContent, button.offsetParent !== null];"""
        )

    def new_game(self):
        self.driver.find_element("id", "new-game").click()
        self.settle()

    def type_with_control(self, letter):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys

        chain = ActionChains(self.driver).key_down(Keys.CONTROL).send_keys(letter)
        chain.key_up(Keys.CONTROL).perform()

    def page_state(self):
        return self.driver.execute_script(
            "const v = window.vesperdeep;"
            " return {state: v.state, keysSent: v.keysSent, waits: v.waits, scale: v.scale};"
        )

    def screen(self):
        return self.driver.execute_script("return window.vesperdeep.screen();")

    def canvas_pixels(self):
        data = self.driver.execute_script(
            """const canvas = document.getElementById('screen');
            const rgba = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
            let text = '';
            for (let i = 0; i < rgba.length; i += 4) {
              if (rgba[i + 3] !== 255) return null;  // every pixel is painted, opaque
              text += String.fromCharCode(rgba[i], rgba[i + 1], rgba[i + 2]);
            }
            return [canvas.width, canvas.height, btoa(text)];"""
        )
        if data is None:
            raise Failure("the canvas has pixels that were never painted")
        return Picture(data[0], data[1], base64.b64decode(data[2]))

    def open_blank_tab(self):
        """Opens a blank tab beside the game's, so that closing the game's leaves the browser
        running; the game's tab stays the current one."""
        self.driver.switch_to.new_window("tab")
        self.blank_tab = self.driver.current_window_handle
        self.driver.switch_to.window(self.game_tab)

    def close_game_tab(self):
        self.driver.close()
        self.driver.switch_to.window(self.blank_tab)

    def quit(self):
        self.driver.quit()


# ---- The rig ---------------------------------------------------------------------------------------


class Rig:
    def __init__(self, bin_dir, sanitized=False):
        self.bin = bin_dir
        self.sanitized = sanitized  # the programs are built with the sanitizers: slower
        self.failures = 0
        self.processes = []
        self.browser = None
        self.display = None
        self.work = None
        self.check_tools()

    def check_tools(self):
        missing = [
            f"{tool} ({package})"
            for tool, package in TOOLS.items()
            if shutil.which(tool) is None
        ]
        try:
            import selenium  # noqa: F401
        except ImportError:
            missing.append("selenium for Python 3 (python3-selenium)")
        if missing:
            skip(", ".join(missing) + " not found")
        for program in ["vesperdeep-server", "vesperdeep-driver"] if self.bin else []:
            if not os.access(os.path.join(self.bin, program), os.X_OK):
                raise SystemExit(f"FAILED: browser tests: no {program} in {self.bin}")

    def __enter__(self):
        self.work = tempfile.mkdtemp(prefix="vesperdeep-browser-")
        return self

    def __exit__(self, kind, error, trace):
        if isinstance(error, Failure):
            self.fail(str(error))
        elif error is not None and not isinstance(error, SystemExit):
            self.fail(f"{kind.__name__}: {error}")
        self.close()
        return isinstance(error, Failure) or (error is not None and not isinstance(error, SystemExit))

    def expect(self, holds, why):
        if not holds:
            raise Failure(why)

    def fail(self, why):
        print(f"FAILED: browser tests: {why}", flush=True)
        self.failures += 1

    def status(self):
        return 1 if self.failures else 0

    @staticmethod
    def wait_until(test, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if test():
                return True
            time.sleep(0.01)
        return test()

    def start(self, command, **options):
        process = subprocess.Popen(command, **options)
        self.processes.append(process)
        return process

    # -- The server and the browser --

    def unprivileged(self):
        """The command prefix that runs a program as the user nobody when we are root (the
        server refuses to run as root), and the directory it may then run from."""
        if os.geteuid() != 0:
            return [], self.bin
        prefix = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
        os.chmod(self.work, 0o755)
        server = os.path.join(self.bin, "vesperdeep-server")
        if subprocess.run(prefix + ["test", "-x", server]).returncode == 0:
            return prefix, self.bin
        # The build is out of nobody's reach (a clone under /root): a copy of what serving needs.
        copy = os.path.join(self.work, "bin")
        os.mkdir(copy)
        for name in SERVED_FROM_BIN:
            shutil.copy2(os.path.join(self.bin, name), copy)
        return prefix, copy

    def start_server(self, partition, *options):
        """The server on a port the system picks, every game on cave `partition`, with more
        command-line `options`."""
        log_name = os.path.join(self.work, "server.log")
        prefix, bin_dir = self.unprivileged()
        command = [os.path.join(bin_dir, "vesperdeep-server"), "--listen", "127.0.0.1:0"]
        command += ["--partition", str(partition), *options]
        if self.sanitized:
            # The sanitizers reserve far more address space than a game's limit allows.
            command += ["--game-memory", "0"]
            for name in ["ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"]:
                command += ["--pass-env", name]
        with open(log_name, "wb") as log:
            process = self.start(prefix + command, stdout=log, stderr=subprocess.STDOUT)
        found = []

        def listening():
            if process.poll() is not None:
                raise Failure(f"the server ended at start with status {process.returncode}")
            with open(log_name, encoding="utf-8", errors="replace") as f:
                found[:] = re.findall(r"listening on (http://127\.0\.0\.1:\d+/)", f.read())
            return bool(found)

        self.expect(self.wait_until(listening, WAIT), "the server never said where it listens")
        self.server = Server(process, found[0])
        return self.server

    def start_browser(self, url, settle=True):
        self.browser = Browser(self, url, settle)
        return self.browser

    # -- The game's window and the driver's screens --

    def driver_command(self, script, partition, *options):
        keys = os.path.join(self.work, "walk.keys")
        with open(keys, "w", encoding="utf-8") as f:
            f.write(script + "\n")
        return [
            os.path.join(self.bin, "vesperdeep-driver"),
            "--script",
            keys,
            "--partition",
            str(partition),
            "--watchdog",
            "0",
            *options,
        ]

    def driver_screen(self, script, partition):
        """The driver's screen after `script`: characters and (fg, bg) per cell."""
        screen = os.path.join(self.work, "driver.screen")
        colours = os.path.join(self.work, "driver.colours")
        command = self.driver_command(script, partition, "--screen", screen, "--colours", colours)
        env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
        subprocess.run(command, env=env, cwd=self.bin, stdout=subprocess.DEVNULL, check=True)
        with open(screen, encoding="utf-8") as f:
            glyphs = [c for line in f.read().split("\n") for c in line]
        with open(colours, encoding="utf-8") as f:
            return glyphs, parse_colours(f.read())

    def start_display(self):
        """A virtual X display of our own (Xvfb picks a free number)."""
        if self.display is not None:
            return self.display
        read, write = os.pipe()
        self.start(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        self.expect(number.isdigit(), "Xvfb did not start")
        self.display = ":" + number
        return self.display

    def window_pixels(self, script, partition):
        """The game's window after `script`, as the X server shows it (the play driver in a real
        window on our own display, waiting for the keyboard)."""
        env = dict(os.environ, DISPLAY=self.start_display(), SDL_VIDEODRIVER="x11")
        env["SDL_AUDIODRIVER"] = "dummy"
        env.pop("WAYLAND_DISPLAY", None)
        game = self.start(
            self.driver_command(script, partition, "--then-keyboard"),
            env=env,
            cwd=self.bin,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
        )
        try:
            # The driver says so once the last key's frame is drawn and it waits for more.
            self.expect(
                self.wait_for_line(game.stdout, "waiting for the keyboard"),
                "the play driver in a window never finished its keys",
            )
            window = subprocess.run(
                ["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Vesperdeep$"],
                env=env,
                capture_output=True,
                text=True,
                timeout=WAIT,
            ).stdout.split()
            self.expect(window, "the game's window never showed")
            return self.steady_picture(window[0], env)
        finally:
            game.terminate()
            game.wait(10)
            game.stdout.close()

    @staticmethod
    def wait_for_line(stream, words):
        """Reads `stream` until a line holds `words`; False at its end or after WAIT seconds."""
        deadline = time.monotonic() + WAIT
        seen = b""
        while words.encode() not in seen:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([stream], [], [], left)[0]:
                return False
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                return False
            seen += chunk
        return True

    def steady_picture(self, window, env):
        """The window's picture once two shots in a row agree."""
        last = None
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            shot = subprocess.run(
                ["import", "-window", window, "-depth", "8", "rgb:-"],
                env=env,
                capture_output=True,
                timeout=WAIT,
            ).stdout
            if shot and shot == last:
                size = subprocess.run(
                    ["xdotool", "getwindowgeometry", window], env=env, capture_output=True, text=True
                ).stdout
                width, height = map(int, re.search(r"Geometry: (\d+)x(\d+)", size).groups())
                return Picture(width, height, shot)
            last = shot
            time.sleep(0.1)
        raise Failure("the game's window never held still")

    # -- The end --

    def close(self):
        if self.browser is not None:
            try:
                self.browser.quit()
            except Exception as error:  # the browser may be gone already
                self.fail(f"the browser did not quit cleanly: {error}")
        server = getattr(self, "server", None)
        if server is not None and server.process.poll() is None:
            games = server.children()
            server.process.send_signal(signal.SIGTERM)
            try:
                status = server.process.wait(10)
                if status != 0:
                    self.fail(f"the server ended with status {status} on SIGTERM")
            except subprocess.TimeoutExpired:
                self.fail("the server was still running 10 s after SIGTERM")
            left = [pid for pid in games if process_exists(pid)]
            if left:
                self.fail(f"games left running after the server: {left}")
                for pid in left:
                    os.kill(pid, signal.SIGKILL)
        for process in reversed(self.processes):  # Xvfb cleans its lock and socket on SIGTERM
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.kill_leftover_browsers()
        if self.failures:
            print(f"  the server's log and the browser's profile are in {self.work}")
        else:
            shutil.rmtree(self.work, ignore_errors=True)

    def kill_leftover_browsers(self):
        """Chromium's helpers that outlived quit() (they name our profile on their command line)."""
        if self.browser is None:
            return
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if self.browser.profile.encode() in f.read():
                        os.kill(int(pid), signal.SIGKILL)
                        self.fail(f"a browser process ({pid}) outlived the browser")
            except (FileNotFoundError, ProcessLookupError, PermissionError):
                pass
