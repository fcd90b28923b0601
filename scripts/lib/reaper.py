#!/usr/bin/env python3
"""Runs a command and fails when it leaves a process of its own behind.

  reaper.py [--grace SECONDS] COMMAND [ARG...]

This process becomes a child subreaper (prctl PR_SET_CHILD_SUBREAPER): whatever the command
starts, daemons that detach themselves included, stays among its descendants, and nothing
else on the machine is ever looked at. When the command has ended, its leftovers get GRACE
seconds (default 5) to end; any still running then are named on stderr, killed, and the
status is 1 (or the command's own, when that already failed).
"""
import ctypes, os, signal, sys, time

PR_SET_CHILD_SUBREAPER = 36


def descendants(root):
    """The pids of every process below `root`, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue  # ended meanwhile
        fields = stat[stat.rindex(")") + 2:].split()
        if fields[0] != "Z":  # a zombie has ended; reaping it is all that is left
            children.setdefault(int(fields[1]), []).append(int(entry))
    found, todo = [], [root]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return "?"


def leftovers(grace):
    deadline = time.monotonic() + grace
    while True:
        reap()
        left = descendants(os.getpid())
        if not left or time.monotonic() > deadline:
            return left
        time.sleep(0.1)


def main(argv):
    grace = 5.0
    if len(argv) >= 2 and argv[0] == "--grace":
        grace, argv = float(argv[1]), argv[2:]
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        print("reaper.py: cannot become a subreaper: " + os.strerror(ctypes.get_errno()),
              file=sys.stderr)
        return 1
    pid = os.fork()
    if pid == 0:
        try:
            os.execvp(argv[0], argv)
        finally:
            os._exit(127)
    while True:  # orphans the command leaves are adopted here: reap them as they end, as init would
        ended, status = os.waitpid(-1, 0)
        if ended == pid:
            break
    code = os.waitstatus_to_exitcode(status)
    code = code if code >= 0 else 128 - code
    left = leftovers(grace)
    for stray in left:
        print(f"FAILED: {' '.join(argv)} left process {stray} running: {command_line(stray)}",
              file=sys.stderr)
        try:
            os.kill(stray, signal.SIGKILL)
        except ProcessLookupError:
            pass
    leftovers(grace)
    return code if code != 0 or not left else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
