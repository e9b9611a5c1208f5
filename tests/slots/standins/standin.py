"""What every stand-in program does: log how it was started, then behave as
STANDIN_MODE says.

Log: one JSON line appended to STANDIN_LOG (when set) once the signal
dispositions are in place, so that a test that has seen the line may signal
the program:
  {"argv": [...], "pid": N, "fds": [what descriptors 0, 1 and 2 are], "mode": M}

Modes:
  hup-exit    (default) runs until SIGHUP (or SIGTERM), then exits 0
  ignore-hup  ignores SIGHUP; runs until killed
  exit:N      exits at once with status N

A stand-in never outlives STANDIN_LIFE seconds (default 60), so that a test
that dies cannot leave one behind for long.
"""

import json
import os
import signal
import sys
import time


def describe(fd):
    try:
        return os.readlink("/proc/self/fd/%d" % fd)
    except OSError:
        return "closed"


def log(record):
    path = os.environ.get("STANDIN_LOG")
    if not path:
        return
    line = (json.dumps(record) + "\n").encode()
    # One write of a short line to a file opened for appending: lines of
    # stand-ins running side by side never mix.
    fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
    try:
        os.write(fd, line)
    finally:
        os.close(fd)


def main():
    mode = os.environ.get("STANDIN_MODE", "hup-exit")
    if mode == "ignore-hup":
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
    else:
        signal.signal(signal.SIGHUP, lambda *_: os._exit(0))
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    log({"argv": sys.argv, "pid": os.getpid(), "fds": [describe(fd) for fd in range(3)], "mode": mode})
    if mode.startswith("exit:"):
        sys.stdout.flush()
        os._exit(int(mode[5:]))
    deadline = time.monotonic() + float(os.environ.get("STANDIN_LIFE", "60"))
    while time.monotonic() < deadline:
        time.sleep(0.05)
    os._exit(0)
