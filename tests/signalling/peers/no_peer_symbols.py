#!/usr/bin/env python3
"""Fails when a product file (the server, a subsystem library) holds any
symbol, defined or referenced, that one of the test-only peer libraries
defines. The control files (the peers' own adapter library and archives)
must show such symbols, or the check would be blind."""

import argparse
import subprocess
import sys


def symbols(nm, path, defined_only):
    """Global symbol names of an archive, object, executable or shared
    library (its dynamic table too)."""
    names = set()
    tables = [[]]
    if path.endswith(".so") or ".so." in path:
        tables = [["-D"]]
    elif not path.endswith(".a"):
        tables = [[], ["-D"]]
    for extra in tables:
        args = [nm, "-g", "--no-sort"] + extra
        if defined_only:
            args.append("--defined-only")
        run = subprocess.run(args + [path], capture_output=True, text=True)
        # An executable without a dynamic table (or a stripped one) makes nm
        # say "no symbols": not an error here.
        if run.returncode != 0 and "no symbols" not in run.stderr:
            sys.exit(f"{' '.join(args + [path])} failed: {run.stderr.strip()}")
        for line in run.stdout.splitlines():
            fields = line.split()
            if len(fields) < 2 or line.endswith(":"):
                continue
            names.add(fields[-1].split("@")[0])
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--nm", default="nm")
    ap.add_argument("--peer", nargs="+", required=True)
    ap.add_argument("--control", nargs="+", required=True)
    ap.add_argument("--product", nargs="+", required=True)
    a = ap.parse_args()

    peer = set()
    for p in a.peer:
        found = symbols(a.nm, p, True)
        if not found:
            sys.exit(f"{p}: no symbols read, the check would be blind")
        peer |= found
    # The peers' clock, renamed into the archives, is theirs too.
    peer |= {"gw_peer_gettimeofday", "gw_peer_time"}

    for c in a.control:
        if not symbols(a.nm, c, False) & peer:
            sys.exit(f"{c}: no peer symbol seen in a file that must hold some, the check is blind")

    bad = 0
    for f in a.product:
        hits = sorted(symbols(a.nm, f, False) & peer)
        if hits:
            bad += 1
            print(f"{f}: {len(hits)} symbol(s) of the test-only peers: {' '.join(hits[:20])}")
    if bad:
        return 1
    print(f"{len(a.product)} product file(s) free of {len(peer)} peer symbols")
    return 0


if __name__ == "__main__":
    sys.exit(main())
