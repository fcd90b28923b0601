#!/usr/bin/env bash
# The vesperdeep-server package, installed on this machine: its systemd unit passes
# `systemd-analyze verify` and scores an exposure of at most 2.0 with `systemd-analyze security`;
# `dpkg -L` lists the unit and the example nginx site; the installed server, started from / as
# the unprivileged user nobody under the unit's main limits (no new privileges, no capabilities,
# umask 077, a data directory of its own), serves the page on a free loopback port, plays a game
# through /usr/lib/vesperdeep-server/vesperdeep-pipe with no memory both writable and
# executable (the unit denies it), answers --status, and stops on SIGTERM with status 0; a purge
# leaves none of its files and no state directory behind.
#
#   tests/package/server.sh DEB      (as root; deb.sh calls it after the game's package test)
#
# Exit status: 0 passed, 1 failed, 77 skipped (a line starting with "SKIPPED:" says why).
set -euo pipefail

REPO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
DEB=$1
TEST_NAME="server package test"
UNIT=/usr/lib/systemd/system/vesperdeep-server.service
STATE=/var/lib/vesperdeep-server
PRIVATE_STATE=/var/lib/private/vesperdeep-server
MOST_EXPOSURE=2.0

fail() {
  echo "FAILED: $TEST_NAME: $*" >&2
  exit 1
}

for tool in systemd-analyze setpriv python3; do
  command -v "$tool" >/dev/null 2>&1 ||
    { echo "SKIPPED: $TEST_NAME: $tool not found (Debian packages: systemd util-linux python3)"; exit 77; }
done
[[ $(id -u) -eq 0 ]] || { echo "SKIPPED: $TEST_NAME: installing the package needs root"; exit 77; }
if dpkg-query -W -f='${Status}' vesperdeep-server 2>/dev/null | grep -q 'install ok installed' ||
  [[ -e $STATE || -e $PRIVATE_STATE ]]; then
  echo "SKIPPED: $TEST_NAME: vesperdeep-server or its state is already here; not replacing it"
  exit 77
fi

SCRATCH=$(mktemp -d)
SERVER_PID=
finish() {
  [[ -n $SERVER_PID ]] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
  rm -rf "$SCRATCH"
  dpkg --purge vesperdeep-server >/dev/null 2>&1 || true
}
trap finish EXIT

echo "==> Installing $DEB"
dpkg -i "$DEB" >/dev/null
listed=$(dpkg -L vesperdeep-server)
for file in "$UNIT" /usr/share/doc/vesperdeep-server/examples/vesperdeep-server.conf \
  /usr/sbin/vesperdeep-server /usr/lib/vesperdeep-server/vesperdeep-pipe \
  /usr/share/man/man8/vesperdeep-server.8.gz; do
  grep -qx "$file" <<<"$listed" || fail "dpkg -L vesperdeep-server does not list $file"
done

echo "==> systemd-analyze verify $UNIT"
man_check=()
command -v man >/dev/null 2>&1 || man_check=(--man=no)
systemd-analyze verify "${man_check[@]}" "$UNIT" || fail "systemd-analyze verify"
echo "==> systemd-analyze security --offline=true $UNIT"
security=$(systemd-analyze security --offline=true "$UNIT" 2>&1) || true
grep -E '✗' <<<"$security" || true
overall=$(sed -n 's/.*Overall exposure level for vesperdeep-server.service: \([0-9.]*\).*/\1/p' <<<"$security")
[[ -n $overall ]] || { echo "$security"; fail "no exposure level from systemd-analyze security"; }
echo "exposure: $overall (at most $MOST_EXPOSURE)"
awk -v got="$overall" -v most="$MOST_EXPOSURE" 'BEGIN { exit !(got <= most) }' ||
  fail "the unit's exposure is $overall, above $MOST_EXPOSURE"

echo "==> Starting /usr/sbin/vesperdeep-server from / as nobody"
chmod 755 "$SCRATCH"  # nobody reaches its data directory inside
install -d -o nobody -g nogroup -m 700 "$SCRATCH/data"
(cd / && umask 077 && exec setpriv --reuid=nobody --regid=nogroup --clear-groups --no-new-privs \
  --inh-caps=-all --bounding-set=-all /usr/sbin/vesperdeep-server --listen 127.0.0.1:0 \
  --data "$SCRATCH/data" 2>"$SCRATCH/log") &
SERVER_PID=$!
python3 - "$REPO_ROOT/server/tests" "$SCRATCH/log" "$SERVER_PID" <<'PYTHON' || fail "the installed server"
import os, re, socket, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
from wsclient import Client  # noqa: E402
log, server = sys.argv[2], int(sys.argv[3])
end = time.monotonic() + 10
while not (match := re.search(r"listening on http://127\.0\.0\.1:(\d+)/", open(log).read())):
    assert time.monotonic() < end, "the server did not start: " + open(log).read()
    time.sleep(0.05)
port = int(match.group(1))
with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
    sock.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
    answer = b"".join(iter(lambda: sock.recv(65536), b""))
assert answer.startswith(b"HTTP/1.1 200") and b"<canvas" in answer, answer[:200]
client = Client(port)
assert client.status == 101, client.head
while client.message() != b"W":  # the title screen, drawn by the installed game
    pass
game = re.search(r"game started for 127\.0\.0\.1 \(pid (\d+)", open(log).read())
assert game, open(log).read()
for pid in (server, int(game.group(1))):
    with open(f"/proc/{pid}/maps") as maps:
        both = [line for line in maps if line.split()[1].startswith("rwx")]
    assert not both, f"process {pid} has memory both writable and executable: {both}"
    assert os.stat(f"/proc/{pid}").st_uid != 0, f"process {pid} runs as root"
status = subprocess.run(["/usr/sbin/vesperdeep-server", "--status", f"127.0.0.1:{port}"],
                        capture_output=True, text=True, timeout=10)
assert status.returncode == 0 and "games running: 1 of 64" in status.stdout, status
client.close()
print(f"installed server on port {port}: page served, a game played, status read: ok")
PYTHON
kill -TERM "$SERVER_PID"
status=0
wait "$SERVER_PID" || status=$?
SERVER_PID=
((status == 0)) || { cat "$SCRATCH/log"; fail "the server ended with $status after SIGTERM"; }
grep -q 'vesperdeep-server: stopped' "$SCRATCH/log" || fail "no 'stopped' in the log"

echo "==> Purging, with a state directory as the service leaves it"
install -d -m 700 "$PRIVATE_STATE"
echo recording >"$PRIVATE_STATE/a.vdrec"
ln -s private/vesperdeep-server "$STATE"
dpkg --purge vesperdeep-server >/dev/null
for path in $listed "$STATE" "$PRIVATE_STATE"; do
  case $path in /. | /usr | /usr/lib | /usr/sbin | /usr/share | /usr/share/doc | /usr/share/man | \
    /usr/share/man/man8 | /usr/lib/systemd | /usr/lib/systemd/system) continue ;; esac
  [[ ! -e $path && ! -L $path ]] || fail "$path is left after the purge"
done
echo "server package test: installed, served a game as nobody, purged clean: ok"
