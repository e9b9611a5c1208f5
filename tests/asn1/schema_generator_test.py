#!/usr/bin/env python3
"""The schema compiler's refusals and its Erlang variant, on small modules."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from asn1gen import erlang  # noqa: E402
from asn1gen.schema import ModuleSet, Parser, SchemaError  # noqa: E402


def compile_set(*texts):
    return ModuleSet([Parser(t, f"M{i}.asn").parse_module() for i, t in enumerate(texts)])


def module(body, name="M", imports=""):
    return f"{name} DEFINITIONS AUTOMATIC TAGS ::=\nBEGIN\n{imports}\n{body}\nEND\n"


class Refusals(unittest.TestCase):
    def refused(self, *texts, says):
        with self.assertRaises(SchemaError) as cm:
            compile_set(*texts)
        self.assertIn(says, str(cm.exception))
        return str(cm.exception)

    def test_names_that_meet_after_mapping(self):
        self.refused(module("T ::= SEQUENCE { a-b INTEGER, a_b BOOLEAN }"), says="both a_b in C++")
        self.refused(module("T ::= CHOICE { x NULL, x NULL }"), says="appears twice")
        self.refused(module("A-B ::= NULL\nA_B ::= BOOLEAN"), says="both A_B in C++")

    def test_cpp_keywords_and_reserved_names(self):
        self.refused(module("T ::= CHOICE { delete NULL, ok NULL }"), says="C++ keyword")
        self.refused(module("E ::= ENUMERATED { default(0) }"), says="C++ keyword")
        self.refused(module("T ::= SEQUENCE { a__b INTEGER }"), says="reserved C++ name")

    def test_enumerations_need_numbers(self):
        self.refused(module("E ::= ENUMERATED { a, b }"), says="explicit number")

    def test_what_the_subset_lacks_fails_with_a_line(self):
        err = self.refused(module("T ::= SEQUENCE {\n  a BIT STRING\n}"), says="not supported")
        self.assertIn("M0.asn:5:", err)
        self.refused(module("T ::= SEQUENCE { a SEQUENCE { b NULL } }"), says="named type")
        self.refused(module("T ::= SEQUENCE { a INTEGER DEFAULT 3 }"), says="DEFAULT")
        self.refused(module("T ::= SEQUENCE { a INTEGER, ..., b NULL, ... }"), says="second extension")
        self.refused("M DEFINITIONS ::= BEGIN T ::= NULL END", says="AUTOMATIC TAGS")
        self.refused(module("T ::= INTEGER (5..1)"), says="empty range")
        self.refused(module("T ::= SEQUENCE { a INTEGER } x"), says="expected a type reference")

    def test_references_must_resolve(self):
        self.refused(module("T ::= SEQUENCE { a U }"), says="undefined type U")
        self.refused(module("T ::= NULL", imports="IMPORTS U FROM N;"), says="unknown module N")
        self.refused(module("T ::= NULL", imports="IMPORTS U FROM N;"),
                     module("U ::= NULL", name="N", imports="IMPORTS T FROM M;"),
                     says="import each other")


class ErlangVariant(unittest.TestCase):
    SOURCE = module("""
-- a comment -- Inline ::= NULL
Dense ::= ENUMERATED { a(0), b_c(1), ... }
Gappy ::= ENUMERATED { x(-1), y(0), z(7) }
GappyExt ::= ENUMERATED { p(1000), q(2099), ... }
Seq_x ::= SEQUENCE { f_g Dense OPTIONAL, h SEQUENCE OF Gappy, ..., i NULL }
Alt ::= CHOICE { n_1 NULL, ..., n-2 Seq_x }
""")

    def test_variant_text(self):
        ms = compile_set(self.SOURCE)
        text = erlang.module_text(ms, "M")
        self.assertIn("Dense ::= ENUMERATED {\n    a(0),\n    b-c(1),\n    ...\n}", text)
        self.assertIn("Gappy ::= INTEGER (0..7)\n", text)
        self.assertIn("GappyExt ::= INTEGER (0..2099, ...)\n", text)
        self.assertIn("Seq-x ::= SEQUENCE {\n    f-g Dense OPTIONAL,\n    h SEQUENCE OF Gappy,\n"
                      "    ...,\n    i NULL\n}", text)
        self.assertIn("Alt ::= CHOICE {\n    n-1 NULL,\n    ...,\n    n-2 Seq-x\n}", text)
        self.assertIn("Inline ::= NULL\n", text)
        self.assertNotIn("_", text.split("BEGIN")[1])

    def test_model_terms(self):
        terms = erlang.model_terms(compile_set(self.SOURCE))
        self.assertIn("{type,'M','Seq-x',{sequence,[{'f-g',true,{ref,'M','Dense'}},"
                      "{'h',false,{list,{ref,'M','Gappy'}}},{'i',false,simple}]}}.", terms)


if __name__ == "__main__":
    unittest.main(verbosity=1)
