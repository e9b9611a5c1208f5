#!/usr/bin/env python3
"""The subsystems' include order: a lower folder never includes a higher one.

    core < asn1 < control < hardware < slots < signalling < radio < monitoring

sim/ (the simulated board, a link-time backend of the driver port) includes
only its own headers and hardware/driver_port.hpp, and no product folder
includes sim/. core/main.cpp puts the program together and may include every
subsystem. tests/, bench/ and tools/ are not restricted.

Usage: layering_test.py SOURCE_DIR
"""

import os
import re
import sys
import tempfile
import unittest

ORDER = ["core", "asn1", "control", "hardware", "slots", "signalling", "radio", "monitoring"]
SIM = "sim"
SIM_MAY_INCLUDE = {"hardware/driver_port.hpp"}
UNRESTRICTED = {"core/main.cpp"}
SOURCE_SUFFIXES = (".cpp", ".hpp", ".h", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*["<]([^">]+)[">]')


def violations(root):
    """Lines "file:line: ..." for every include against the order."""
    found = []
    for folder in ORDER + [SIM]:
        top = os.path.join(root, folder)
        for dirpath, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                if rel in UNRESTRICTED:
                    continue
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if m:
                            why = refusal(folder, m.group(1))
                            if why:
                                found.append(f"{rel}:{number}: includes {m.group(1)}: {why}")
    return sorted(found)


def refusal(folder, included):
    target = included.split("/", 1)[0]
    if "/" not in included or (target not in ORDER and target != SIM):
        return None  # a system or library header
    if folder == SIM:
        if target == SIM or included in SIM_MAY_INCLUDE:
            return None
        return "sim/ includes only " + ", ".join(sorted(SIM_MAY_INCLUDE))
    if target == SIM:
        return "the simulated board is reached only through hardware/driver_port.hpp"
    if ORDER.index(target) > ORDER.index(folder):
        return f"{folder} is below {target} (" + " < ".join(ORDER) + ")"
    return None


class Layering(unittest.TestCase):
    source_dir = None

    def test_the_tree_keeps_the_order(self):
        found = violations(self.source_dir)
        if found:
            self.fail("includes against the order:\n" + "\n".join(found))

    def test_an_upward_include_is_named_with_its_file_and_line(self):
        with tempfile.TemporaryDirectory() as root:
            files = {
                "core/timer.cpp": '#include "core/timer.hpp"\n\n#include "hardware/hw_mux.hpp"\n',
                "control/x.hpp": '#pragma once\n#include "asn1/modules/LGCP.hpp"\n#include <vector>\n',
                "hardware/y.cpp": '#include "sim/board.hpp"\n',
                "sim/z.cpp": '#include "hardware/driver_port.hpp"\n#include "hardware/hw_mux.hpp"\n',
                "core/main.cpp": '#include "monitoring/agent.hpp"\n',
            }
            for rel, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
                with open(os.path.join(root, rel), "w") as f:
                    f.write(text)
            found = violations(root)
        self.assertEqual(len(found), 3, found)
        self.assertTrue(found[0].startswith("core/timer.cpp:3: includes hardware/hw_mux.hpp: core is below"))
        self.assertTrue(found[1].startswith("hardware/y.cpp:1: includes sim/board.hpp"))
        self.assertTrue(found[2].startswith("sim/z.cpp:2: includes hardware/hw_mux.hpp"))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    Layering.source_dir = sys.argv.pop(1)
    unittest.main()
