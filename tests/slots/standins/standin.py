"""What every stand-in program does: log how it was started, then behave as
STANDIN_MODE says.

Log: one JSON line appended to STANDIN_LOG (when set) once the signal
dispositions are in place, so that a test that has seen the line may signal
the program:
  {"argv": [...], "pid": N, "fds": [what descriptors 0, 1 and 2 are], "mode": M}
then one line for each signal that ends it, {"pid": N, "signal": S}, and for
the T.38 program one line for each read of its standard input,
{"pid": N, "input": "hex"}.

Modes:
  hup-exit    (default) runs until SIGHUP (or SIGTERM), then exits 0
  ignore-hup  ignores SIGHUP; runs until killed
  exit:N      exits at once with status N
  signal:N    kills itself at once with signal N
  auth        pppd's authentication program: connects to 127.0.0.1:52000,
              sends a type-1 record for the session of its device argument
              ("/dev/mdmN" gives N, "hdlcK" 0xFFFFFFFF) with STANDIN_USER and
              STANDIN_PASSWORD, appends the hex bytes of each record it
              receives to STANDIN_AUTH_LOG (one line each), and once it has
              the ip record sends a type-4 record with the five words of
              STANDIN_ACCT ("octetsOut,octetsIn,packetsOut,packetsIn,time";
              the first four as 64-bit counters); it goes on logging until
              SIGHUP or the server closes the connection, then behaves as
              hup-exit.
              Words in the native order, or STANDIN_AUTH_ORDER (">" for a
              big-endian server)

The T.38 program (t38()): with "--child" as above, and meanwhile reads its
standard input (the MCC channel), logs each read and writes it back. With
"--num-of-instances" it prints STANDIN_INSTANCES as it is (unset: nothing)
and exits 0, or, when that is "hang", keeps its output open until killed.

A stand-in never outlives STANDIN_LIFE seconds (default 60), so that a test
that dies cannot leave one behind for long.
"""

import json
import os
import re
import select
import signal
import socket
import struct
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


def session_of(argv):
    for arg in argv[1:]:
        m = re.search(r"/mdm(\d+)$", arg)
        if m:
            return int(m.group(1))
        if re.fullmatch(r"hdlc\d+", arg):
            return 0xFFFFFFFF
    return 0xFFFFFFFF


def field(text):
    raw = os.fsencode(text)[:64]
    return raw + b"\0" * (64 - len(raw))


def authenticate(deadline):
    session = session_of(sys.argv)
    # The server's byte order: a board build under emulation is big-endian.
    order = os.environ.get("STANDIN_AUTH_ORDER", "=")
    conn = None
    # The server listens from its start; a test may still be setting up.
    while conn is None and time.monotonic() < deadline:
        try:
            conn = socket.create_connection(("127.0.0.1", 52000), timeout=1)
        except OSError:
            time.sleep(0.05)
    if conn is None:
        return
    conn.settimeout(None)
    request = struct.pack(order + "III", 140, 1, session)
    request += field(os.environ.get("STANDIN_USER", "")) + field(os.environ.get("STANDIN_PASSWORD", ""))
    conn.sendall(request)
    data = b""
    sent_acct = False
    # Read and logged as long as the call lives: pppd's program does.
    while time.monotonic() < deadline:
        try:
            chunk = conn.recv(512)
        except OSError:
            return
        if not chunk:
            return
        data += chunk
        while len(data) >= 4:
            length = struct.unpack(order + "I", data[:4])[0]
            if length < 12 or len(data) < length:
                break
            record, data = data[:length], data[length:]
            path = os.environ.get("STANDIN_AUTH_LOG")
            if path:
                fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
                try:
                    os.write(fd, (record.hex() + "\n").encode())
                finally:
                    os.close(fd)
            if struct.unpack(order + "I", record[4:8])[0] == 3 and not sent_acct:
                sent_acct = True
                words = [int(w) for w in os.environ.get("STANDIN_ACCT", "0,0,0,0,0").split(",")]
                acct = struct.pack(order + "III", 64, 4, session) + b"\0" * 12
                for w in words[:4]:
                    acct += struct.pack(order + "II", (w >> 32) & 0xFFFFFFFF, w & 0xFFFFFFFF)
                acct += struct.pack(order + "II", words[4] & 0xFFFFFFFF, 0)
                conn.sendall(acct)


def ended_by(signum, _frame):
    log({"pid": os.getpid(), "signal": signum})
    os._exit(0)


def start():
    """Signal dispositions, the start's log line and the modes that end at
    once; returns the mode and the deadline."""
    mode = os.environ.get("STANDIN_MODE", "hup-exit")
    if mode == "ignore-hup":
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
    else:
        signal.signal(signal.SIGHUP, ended_by)
    signal.signal(signal.SIGTERM, ended_by)
    log({"argv": sys.argv, "pid": os.getpid(), "fds": [describe(fd) for fd in range(3)], "mode": mode})
    if mode.startswith("exit:"):
        sys.stdout.flush()
        os._exit(int(mode[5:]))
    if mode.startswith("signal:"):
        signum = int(mode[7:])
        if signum not in (signal.SIGKILL, signal.SIGSTOP):
            signal.signal(signum, signal.SIG_DFL)
        os.kill(os.getpid(), signum)
    return mode, time.monotonic() + float(os.environ.get("STANDIN_LIFE", "60"))


def main():
    mode, deadline = start()
    if mode == "auth":
        authenticate(deadline)
    while time.monotonic() < deadline:
        time.sleep(0.05)
    os._exit(0)


def t38():
    if "--num-of-instances" in sys.argv[1:]:
        log({"argv": sys.argv, "pid": os.getpid(), "fds": [describe(fd) for fd in range(3)], "mode": "query"})
        text = os.environ.get("STANDIN_INSTANCES", "")
        if text == "hang":
            deadline = time.monotonic() + float(os.environ.get("STANDIN_LIFE", "60"))
            while time.monotonic() < deadline:
                time.sleep(0.05)
        else:
            os.write(1, text.encode())
        os._exit(0)
    _, deadline = start()
    reading = True
    while time.monotonic() < deadline:
        if not reading:
            time.sleep(0.05)
            continue
        ready, _, _ = select.select([0], [], [], 0.05)
        if not ready:
            continue
        try:
            data = os.read(0, 4096)
        except OSError:
            data = b""
        if not data:
            reading = False
            continue
        log({"pid": os.getpid(), "input": data.hex()})
        try:
            os.write(0, data)
        except OSError:
            pass
    os._exit(0)
