#!/usr/bin/env python3
"""asn1gen: compiles the protocol modules' ASN.1 sources.

    asn1gen.py --out DIR SOURCE.asn...

Writes into DIR (the build tree; nothing generated is committed):
    erlang/<MODULE>.asn   the Erlang variant of each module (cross-check)
    erlang/model.eterm    the model as Erlang terms, for the escripts
    summary.json          per module and type: kind, counts, bounds, names
    reachable.txt         the types reachable from LGCP and MON Message
    <MODULE>.hpp/.cpp     the C++ module: thin classes and their descriptors
    registry.hpp/.cpp     every named type by name

Fails, with file and line, on anything it does not understand, on two names
that map to one C++ or Erlang name, and on a C++ keyword. Python 3 standard
library only.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from asn1gen import cpp, erlang, summary  # noqa: E402
from asn1gen.schema import ModuleSet, SchemaError, parse_file  # noqa: E402


def write_if_changed(path: str, text: str):
    """Keeps the time stamp of an unchanged output, so that what depends on
    it is not rebuilt."""
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", required=True, help="output directory")
    ap.add_argument("sources", nargs="+", help="ASN.1 module files")
    args = ap.parse_args(argv)
    try:
        ms = ModuleSet([parse_file(p) for p in args.sources])
        erl_dir = os.path.join(args.out, "erlang")
        os.makedirs(erl_dir, exist_ok=True)
        for name in ms.modules:
            write_if_changed(os.path.join(erl_dir, f"{name}.asn"), erlang.module_text(ms, name))
        for name in ms.modules:
            write_if_changed(os.path.join(args.out, f"{name}.hpp"), cpp.module_header(ms, name))
            write_if_changed(os.path.join(args.out, f"{name}.cpp"), cpp.module_source(ms, name))
        reach = set(ms.reachable(summary.ROOTS))
        write_if_changed(os.path.join(args.out, "registry.hpp"), cpp.registry_header())
        write_if_changed(os.path.join(args.out, "registry.cpp"), cpp.registry_source(ms, reach))
        write_if_changed(os.path.join(erl_dir, "model.eterm"), erlang.model_terms(ms))
        write_if_changed(os.path.join(erl_dir, "order.txt"), "\n".join(ms.import_order()) + "\n")
        write_if_changed(os.path.join(args.out, "reachable.txt"), summary.reachable_list(ms))
        import json
        write_if_changed(os.path.join(args.out, "summary.json"),
                         json.dumps(summary.build(ms), indent=1) + "\n")
    except SchemaError as e:
        print(f"asn1gen: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
