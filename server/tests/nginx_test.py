#!/usr/bin/python3
"""Two vesperdeep-servers behind Debian's nginx, run with the example site
(packaging/nginx/vesperdeep-server.conf), over https on loopback with a certificate made here.

usage: nginx_test.py BIN_DIR [--sanitized]

Headless Chromium plays a game on each server through nginx, and a watcher reaches each game
by its id through nginx's root. The servers share one data directory, where each leaves its
recordings under its own instance name, and each server's lobby lists the games of both.
Skipped (status 77) without nginx, openssl or the browser tests' tools. Everything it starts is
ended at the close.
"""

import glob
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(REPO, "web", "tests"))
from rig import Browser, Failure, Rig, process_exists  # noqa: E402
from wsclient import Client  # noqa: E402

SITE = os.path.join(REPO, "packaging", "nginx", "vesperdeep-server.conf")
NGINX = "/usr/sbin/nginx"
INSTANCES = ["a", "b"]
WAIT = 30
SANITIZED = "--sanitized" in sys.argv


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def make_certificate(work):
    """A self-signed certificate for 127.0.0.1 and localhost: (certificate, key)."""
    cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", key, "-out", cert,
         "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
        check=True, capture_output=True)
    return cert, key


def site_for_test(ports, https, http, cert, key):
    """The example site, its addresses, ports and certificate made this test's."""
    text = open(SITE, encoding="utf-8").read()
    for name, port in zip(INSTANCES, ports):
        default = {"a": 8081, "b": 8082}[name]
        text = text.replace(f"127.0.0.1:{default};", f"127.0.0.1:{port};")
    text = re.sub(r"\n\s*listen \[::\]:\d+( ssl)?;", "", text)
    text = text.replace("listen 443 ssl;", f"listen 127.0.0.1:{https} ssl;")
    text = text.replace("listen 80;", f"listen 127.0.0.1:{http};")
    text = re.sub(r"ssl_certificate\s+\S+;", f"ssl_certificate {cert};", text)
    text = re.sub(r"ssl_certificate_key\s+\S+;", f"ssl_certificate_key {key};", text)
    if any(f":{p};" not in text for p in ports) or f":{https} ssl;" not in text:
        raise Failure("the example site no longer has the addresses this test replaces")
    return text


def nginx_config(work, site):
    """A whole nginx.conf of our own around the site: prefix, pid, logs, temp paths in `work`."""
    with open(os.path.join(work, "site.conf"), "w", encoding="utf-8") as f:
        f.write(site)
    temp = "\n".join(f"    {kind}_temp_path {work}/{kind}_temp;"
                     for kind in ["client_body", "proxy", "fastcgi", "uwsgi", "scgi"])
    user = "user nobody nogroup;\n" if os.geteuid() == 0 else ""
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w", encoding="utf-8") as f:
        f.write(f"""{user}daemon off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/nginx-error.log warn;
events {{ worker_connections 256; }}
http {{
    access_log {work}/nginx-access.log;
{temp}
    include {work}/site.conf;
}}
""")
    return conf


class Hosting:
    """The two servers and nginx, started in the rig (which ends them)."""

    def __init__(self, rig):
        self.rig = rig
        self.data = os.path.join(rig.work, "data")
        os.mkdir(self.data)
        os.chmod(rig.work, 0o755)
        os.chmod(self.data, 0o777)  # the servers may run as nobody
        self.servers = [self.start_server(name) for name in INSTANCES]
        self.https, self.http = free_port(), free_port()
        cert, key = make_certificate(rig.work)
        site = site_for_test([port for _, port, _ in self.servers], self.https, self.http, cert,
                             key)
        self.tls = ssl.create_default_context(cafile=cert)
        self.nginx = self.start_nginx(nginx_config(rig.work, site))
        self.base = f"https://127.0.0.1:{self.https}"

    def start_server(self, name):
        """One instance on a free port: (name, port, process)."""
        prefix, bin_dir = self.rig.unprivileged()
        log_name = os.path.join(self.rig.work, f"server-{name}.log")
        command = [os.path.join(bin_dir, "vesperdeep-server"), "--listen", "127.0.0.1:0",
                   "--instance", name, "--data", self.data, "--max-connections", "256",
                   "--trust-proxy", "127.0.0.1"]
        if SANITIZED:  # the sanitizers reserve far more address space than a game's limit
            command += ["--game-memory", "0", "--pass-env", "ASAN_OPTIONS", "--pass-env",
                        "LSAN_OPTIONS", "--pass-env", "UBSAN_OPTIONS"]
        with open(log_name, "wb") as log:
            process = self.rig.start(prefix + command, stdout=log, stderr=subprocess.STDOUT)
        found = []

        def listening():
            if process.poll() is not None:
                raise Failure(f"server {name} ended at start with status {process.returncode}")
            found[:] = re.findall(r"listening on http://127\.0\.0\.1:(\d+)/", self.log(name))
            return bool(found)

        self.rig.expect(Rig.wait_until(listening, WAIT), f"server {name} never said where")
        return name, int(found[0]), process

    def log(self, name):
        with open(os.path.join(self.rig.work, f"server-{name}.log"), encoding="utf-8",
                  errors="replace") as f:
            return f.read()

    def start_nginx(self, conf):
        work = self.rig.work
        if os.geteuid() == 0:
            for kind in ["client_body", "proxy", "fastcgi", "uwsgi", "scgi"]:
                os.mkdir(os.path.join(work, f"{kind}_temp"), 0o700)
                shutil.chown(os.path.join(work, f"{kind}_temp"), "nobody", "nogroup")
        checked = subprocess.run([NGINX, "-t", "-p", work, "-c", conf, "-e", "stderr"],
                                 capture_output=True, text=True)
        self.rig.expect(checked.returncode == 0, f"nginx -t refused the site: {checked.stderr}")
        process = self.rig.start([NGINX, "-p", work, "-c", conf, "-e", f"{work}/nginx-error.log"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def answering():
            if process.poll() is not None:
                raise Failure(f"nginx ended at start: {open(f'{work}/nginx-error.log').read()}")
            try:
                socket.create_connection(("127.0.0.1", self.https), 1).close()
                return True
            except OSError:
                return False

        self.rig.expect(Rig.wait_until(answering, WAIT), "nginx never answered")
        return process

    def get(self, path, scheme="https"):
        """(status, headers) of GET `path` through nginx; redirects are not followed."""
        class Stay(urllib.request.HTTPRedirectHandler):
            def redirect_request(self, *args):
                return None

        port = self.https if scheme == "https" else self.http
        opener = urllib.request.build_opener(Stay, urllib.request.HTTPSHandler(context=self.tls))
        try:
            with opener.open(f"{scheme}://127.0.0.1:{port}{path}", timeout=WAIT) as answer:
                return answer.status, answer.headers
        except urllib.error.HTTPError as error:
            return error.code, error.headers

    def body(self, path):
        """The body of GET `path` through nginx over https."""
        with urllib.request.urlopen(self.base + path, context=self.tls, timeout=WAIT) as answer:
            return answer.read()

    def games_of(self, name):
        return len(re.findall(r"game started for", self.log(name)))

    def stop(self):
        """nginx, then each server on SIGTERM: every one ends cleanly, its games with it."""
        self.nginx.terminate()
        self.rig.expect(self.nginx.wait(10) == 0, "nginx did not end cleanly on SIGTERM")
        for name, _, process in self.servers:
            games = [int(p) for p in open(f"/proc/{process.pid}/task/{process.pid}/children")
                     .read().split()]
            process.send_signal(signal.SIGTERM)
            self.rig.expect(process.wait(10) == 0, f"server {name} did not end cleanly")
            left = [pid for pid in games if process_exists(pid)]
            self.rig.expect(not left, f"games of server {name} outlived it: {left}")


def check_headers(hosting):
    """The page over https carries the site's security headers, once each; http redirects;
    an unknown instance and the servers' status pages are not found."""
    status, headers = hosting.get("/")
    hosting.rig.expect(status == 200, f"GET / through nginx: {status}")
    wanted = {
        "Strict-Transport-Security": "max-age=63072000",
        "X-Content-Type-Options": "nosniff",
        "X-Frame-Options": "DENY",
        "Referrer-Policy": "no-referrer",
    }
    for name, value in wanted.items():
        hosting.rig.expect(headers.get_all(name) == [value], f"{name}: {headers.get_all(name)}")
    policy = headers.get_all("Content-Security-Policy")
    hosting.rig.expect(policy is not None and len(policy) == 1, f"the page's CSP: {policy}")
    for part in ["default-src 'none'", "connect-src 'self'", "frame-ancestors 'none'"]:
        hosting.rig.expect(part in policy[0], f"the page's CSP lacks {part}: {policy[0]}")
    status, headers = hosting.get("/", scheme="http")
    hosting.rig.expect(status == 301 and headers["Location"].startswith("https://"),
                       f"plain http: {status} {headers.get('Location')}")
    for path in ["/i/zz/", "/i/a/nothing-here", "/i/../etc/passwd", "/status", "/i/a/status",
                 "/status?game=a-1"]:
        status, _ = hosting.get(path)
        hosting.rig.expect(status in (400, 404), f"GET {path} through nginx: {status}")


def play_on_each(rig, hosting):
    """Chromium opens each server's page by its name, and its game runs on that server, over
    wss:// under the page's CSP; closing the tab ends the game and closes its recording."""
    browser = Browser(rig, hosting.base + "/i/a/", settle=False,
                      arguments=["--ignore-certificate-errors"])
    rig.browser = browser
    for name in INSTANCES:
        before = {other: hosting.games_of(other) for other in INSTANCES}
        browser.url = f"{hosting.base}/i/{name}/"
        browser.open()
        for key in ["ENTER", "l", "l", "j"]:
            browser.type(key)
        rig.expect(browser.page_state()["state"] == "playing", f"the game on {name} stopped")
        for other in INSTANCES:
            more = hosting.games_of(other) - before[other]
            rig.expect(more == (1 if other == name else 0),
                       f"opening /i/{name}/ started {more} games on server {other}")
        watch_through_nginx(hosting, name)
        browser.open_blank_tab()
        browser.close_game_tab()
        rig.expect(Rig.wait_until(lambda: "game ended for" in hosting.log(name), WAIT),
                   f"the game on server {name} did not end when its tab closed")


def watch_through_nginx(hosting, name):
    """A watcher of the game just started on server `name` reaches it by its id alone, through
    the front's root, and gets its screen."""
    ids = re.findall(r"game started for .*, game ([a-z0-9]+-[a-z2-7]+),", hosting.log(name))
    hosting.rig.expect(ids and ids[-1].startswith(f"{name}-"), f"server {name}'s game ids: {ids}")
    watcher = Client(hosting.https, path=f"/watch?game={ids[-1]}", tls=hosting.tls)
    hosting.rig.expect(watcher.status == 101, f"watching {ids[-1]} through nginx: {watcher.head}")
    hosting.rig.expect(watcher.message()[:1] == b"F", f"the watcher of {ids[-1]} got no screen")
    watcher.close()


def new_games_go_to_any(hosting):
    """/play without a server's name: two games at once go one to each server. A client's own
    X-Forwarded-For is no use: the servers trust nginx, and take the address nginx appends."""
    before = [hosting.games_of(name) for name in INSTANCES]
    clients = [Client(hosting.https, tls=hosting.tls, headers=["X-Forwarded-For: 192.0.2.1"])
               for _ in INSTANCES]
    for client in clients:
        hosting.rig.expect(client.status == 101, f"wss /play through nginx: {client.status}")
        hosting.rig.expect(client.message()[:1] in (b"F", b"D", b"W"), "no frame through nginx")
    started = [hosting.games_of(name) - b for name, b in zip(INSTANCES, before)]
    hosting.rig.expect(started == [1, 1], f"two new games went to the servers as {started}")
    for name in INSTANCES:
        named = re.findall(r"game started for (\S+) ", hosting.log(name))[-1]
        hosting.rig.expect(named == "127.0.0.1", f"server {name} names its player {named}")
    for client in clients:
        client.close()


def shared_recordings(hosting):
    """The shared directory holds each server's finished recording under its own name."""
    def finished():
        names = [os.path.basename(p) for p in glob.glob(os.path.join(hosting.data, "*.vdrec"))]
        return all(any(n.startswith(f"{name}-") for n in names) for name in INSTANCES)

    hosting.rig.expect(Rig.wait_until(finished, WAIT),
                       f"the shared directory holds {sorted(os.listdir(hosting.data))}")


def each_lobby_lists_both(rig, hosting):
    """Each server's lobby lists the finished games of both, read from the shared directory;
    the lobby page, through nginx and under its policy, shows them."""
    for name in INSTANCES:
        finished = json.loads(hosting.body(f"/i/{name}/games.json"))["finished"]
        names = [game["name"] for game in finished]
        for other in INSTANCES:
            rig.expect(any(n.startswith(f"{other}-") for n in names),
                       f"server {name}'s lobby lists {names}, none of server {other}")
    rig.browser.driver.get(hosting.base + "/lobby")
    links = lambda: rig.browser.driver.execute_script(  # noqa: E731
        "return [...document.querySelectorAll('#finished a')].map(a => a.href).join(' ')")
    rig.expect(Rig.wait_until(lambda: all(f"{n}-" in links() for n in INSTANCES), WAIT),
               f"the lobby page through nginx links to {links()}")


def main():
    bin_dir = sys.argv[1]
    for tool, package in [(NGINX, "nginx"), ("openssl", "openssl")]:
        if shutil.which(tool) is None:
            print(f"SKIPPED: nginx test: {tool} ({package}) not found (scripts/test installs it,"
                  " run as root)")
            return 77
    with Rig(bin_dir) as rig:
        hosting = Hosting(rig)
        check_headers(hosting)
        play_on_each(rig, hosting)
        new_games_go_to_any(hosting)
        shared_recordings(hosting)
        each_lobby_lists_both(rig, hosting)
        hosting.stop()
    if rig.status() == 0:
        print("nginx in front of two servers: passed")
    return rig.status()


if __name__ == "__main__":
    sys.exit(main())
