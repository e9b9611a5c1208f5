#!/usr/bin/env python3
"""The schema compiler's refusals and its Erlang variant, on small modules."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from asn1gen import cpp, erlang  # noqa: E402
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


class CppModules(unittest.TestCase):
    # Named types are SEQUENCE, CHOICE or ENUMERATED in the C++ modules.
    SOURCE = ErlangVariant.SOURCE.replace("-- a comment -- Inline ::= NULL", "")

    def test_sequence_accessors_and_presence_ids(self):
        ms = compile_set(self.SOURCE)
        h = cpp.module_header(ms, "M")
        # Optional root field: presence id 0; the extension addition comes
        # after the optional root fields (id 1) and is field 2.
        self.assertIn("bool has_f_g() const { return hasOptionalField(0); }", h)
        self.assertIn("void include_f_g() { includeOptionalField(0, 0); }", h)
        self.assertIn("bool has_i() const { return hasOptionalField(1); }", h)
        self.assertIn("void include_i() { includeOptionalField(1, 2); }", h)
        self.assertIn("using h_type = ASN1::SEQUENCE_OF<M::Gappy>;", h)
        self.assertIn("void set_f_g(M::Dense::NamedNumber v) { fieldForWrite<M::Dense>(0).setValue(v); }", h)
        src = cpp.module_source(ms, "M")
        self.assertIn("constinit const int Seq_x_fieldIds[] = { 0, -1, 0 };", src)
        self.assertIn("    true, Seq_x_fieldInfos, Seq_x_fieldIds,\n    2, 1, 1,", src)
        self.assertIn('"f_g",', src)  # names keep the schema's spelling

    def test_choice_and_enumerations(self):
        ms = compile_set(self.SOURCE)
        h = cpp.module_header(ms, "M")
        self.assertIn("enum class Alt : int { n_1 = 0, n_2 = 1 };", h)
        self.assertIn("M::Seq_x& select_n_2() { return selectAs<M::Seq_x>(1); }", h)
        self.assertIn("    enum NamedNumber {\n        x = -1,\n        y = 0,\n        z = 7,\n    };", h)
        src = cpp.module_source(ms, "M")
        self.assertIn('constinit const char* const Gappy_names[] = {\n    "x=-1",\n    "y",\n    "z=7",\n};', src)
        self.assertIn("    false, 7, Gappy_names, 3 };", src)
        self.assertIn("    true, Alt_selectionInfos,\n    1, 2,", src)

    def test_classes_follow_what_they_use(self):
        ms = compile_set(module("A ::= SEQUENCE { b B, n IA5String (SIZE (1..8)) }\n"
                                "B ::= CHOICE { x INTEGER (-5..5), y OCTET STRING }"))
        h = cpp.module_header(ms, "M")
        self.assertLess(h.index("class B : public ASN1::CHOICE"), h.index("class A : public ASN1::SEQUENCE"))
        self.assertIn("class value_type : public ASN1::IA5String {", h)
        self.assertIn("void set_x(int v) { select_x().setValue(v); }", h)
        src = cpp.module_source(ms, "M")
        self.assertIn("{ ASN1::type_header<M::A::n::value_type>(ASN1::tag::IA5String), "
                      "ASN1::RangeConstraint, 1, 8u }, ASN1::IA5StringSet, 128, 7, 7, 8 };", src)

    def refused(self, text, says):
        ms = compile_set(text)
        with self.assertRaises(SchemaError) as cm:
            cpp.module_header(ms, "M")
            cpp.module_source(ms, "M")
        self.assertIn(says, str(cm.exception))

    def test_refusals(self):
        self.refused(module("E ::= ENUMERATED { info(0), other(1) }"), says="would hide")
        self.refused(module("S ::= SEQUENCE { a SEQUENCE OF INTEGER, a_type BOOLEAN }"),
                     says="both a field and a field's type")
        self.refused(module("T ::= INTEGER (0..7)"), says="not supported in the C++ modules")
        self.refused(module("S ::= SEQUENCE { a SEQUENCE OF IA5String (SIZE (1..4)) }"),
                     says="needs a named type")


if __name__ == "__main__":
    unittest.main(verbosity=1)
