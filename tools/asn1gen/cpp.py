"""C++ emission: one header and one source per module, in the form the
runtime's asn1/descriptor.hpp lays down, plus a registry of every named type.

Header: one thin class per named type (no data members) with accessors;
classes come in dependency order so that every accessor can be defined in
the class. Source: the descriptor tables and records, all constinit, so a
message can be built before any static constructor has run.
"""

from __future__ import annotations

from .schema import (ModuleSet, SchemaError, Type, cpp_name, enum_max, enum_names, presence_ids)

# The runtime class whose PER coder operation (PERDecoder/PEREncoder::do_visit)
# a field of a builtin type is coded with, called directly.
_PER_RUNTIME = {
    "BOOLEAN": "ASN1::BOOLEAN",
    "OCTET STRING": "ASN1::OCTET_STRING",
    "IA5String": "ASN1::AbstractString",
    "NumericString": "ASN1::AbstractString",
    "PrintableString": "ASN1::AbstractString",
    "VisibleString": "ASN1::AbstractString",
    "GeneralString": "ASN1::AbstractString",
    "INTEGER": "ASN1::INTEGER",
    "SEQUENCE OF": "ASN1::SEQUENCE_OF_Base",
    "SET OF": "ASN1::SEQUENCE_OF_Base",
}

# Members of the runtime classes that a generated member of the same name
# would hide (an unscoped enumerator inside the class, for instance).
_RUNTIME_MEMBERS = {
    "create", "clone", "info", "accept", "asInt", "getValue", "setValue",
    "getMaximum", "extendable", "isStrictlyValid", "getName", "setFromName",
    "do_compare", "do_clone", "do_accept", "theInfo", "info_type",
    "runtime_class", "NamedNumber", "Alt", "perDecode", "perEncode", "perCoders",
    "createFields", "adoptField", "releaseFields",
}

# String types whose characters take 8 bits in the aligned variant.
_OCTET_CHARACTERS = ("IA5String", "PrintableString", "VisibleString", "GeneralString")

_LEAF = {
    "NULL": "ASN1::Null",
    "BOOLEAN": "ASN1::BOOLEAN",
    "OCTET STRING": "ASN1::OCTET_STRING",
    "IA5String": "ASN1::IA5String",
}

_STRING_TAG = {
    "IA5String": ("IA5String", "ASN1::IA5StringSet, 128, 7, 7, 8"),
    "NumericString": ("NumericString", "ASN1::NumericStringSet, 11, 4, 4, 4"),
    "PrintableString": ("PrintableString", "ASN1::PrintableStringSet, 74, 7, 7, 8"),
    "VisibleString": ("VisibleString", "ASN1::VisibleStringSet, 95, 7, 7, 8"),
    "GeneralString": ("GeneralString", "ASN1::GeneralStringSet, 256, 8, 8, 8"),
}


def _kind_of(r) -> str:
    return "ASN1::ExtensibleRange" if r.extensible else "ASN1::RangeConstraint"


def _upper(ub: int) -> str:
    return f"{ub}u"


# ---------------------------------------------------------------------------
# ASN.1 text for the comments: the definition as written in the source.

def asn1_text(t: Type, indent: str = "") -> str:
    def rng(r):
        s = f"{r.lb}..{r.ub}" if r.lb != r.ub else f"{r.lb}"
        return s + (", ..." if r.extensible else "")

    if t.kind == "REF":
        return t.ref.name
    if t.kind == "INTEGER":
        s = "INTEGER"
        if t.named_numbers:
            s += " { " + ", ".join(f"{n.name}({n.value})" for n in t.named_numbers) + " }"
        if t.value_range is not None:
            s += f" ({rng(t.value_range)})"
        return s
    if t.kind in ("SEQUENCE OF", "SET OF"):
        head = t.kind.split()[0]
        size = f" (SIZE ({rng(t.size)}))" if t.size is not None else ""
        return f"{head}{size} OF {asn1_text(t.element)}"
    if t.kind == "ENUMERATED":
        items = [f"{e.name}({e.value})" for e in t.enumerators]
        if t.extensible:
            items.append("...")
        return "ENUMERATED { " + ", ".join(items) + " }"
    if t.kind in ("SEQUENCE", "CHOICE"):
        members = t.components if t.kind == "SEQUENCE" else t.alternatives
        items, marked = [], False
        for c in members:
            if c.extension and not marked:
                items.append("...")
                marked = True
            s = f"{c.name} {asn1_text(c.type)}"
            if getattr(c, "optional", False):
                s += " OPTIONAL"
            items.append(s)
        if t.extensible and not marked:
            items.append("...")
        if not items:
            return t.kind + " { }"
        inner = indent + "    "
        return t.kind + " {\n" + ",\n".join(inner + i for i in items) + "\n" + indent + "}"
    s = t.kind
    if t.size is not None:
        s += f" (SIZE ({rng(t.size)}))"
    return s


def _comment(text: str) -> list:
    return ["// " + line if line else "//" for line in text.split("\n")]


# ---------------------------------------------------------------------------

class _Field:
    """One SEQUENCE component or CHOICE alternative, as the C++ side sees it."""

    def __init__(self, index, name, cls, info, setter, nested=None):
        self.index = index
        self.name = name          # C++ identifier
        self.cls = cls            # C++ class of the value
        self.info = info          # expression of its descriptor
        self.setter = setter      # (parameter list, statement using "X" for the object)
        self.nested = nested      # lines of a nested class (sized string), if any


class ModuleEmitter:
    def __init__(self, ms: ModuleSet, name: str):
        self.ms = ms
        self.m = ms.modules[name]
        self.name = name

    # -- type mapping
    def qualified(self, ref) -> str:
        return f"{ref.module}::{cpp_name(ref.name)}"

    def field_for(self, owner: str, index: int, name: str, t: Type, where: str) -> _Field:
        cname = cpp_name(name)
        if t.kind == "REF":
            td = self.ms.lookup(t.ref)
            cls = self.qualified(t.ref)
            if td.type.kind == "ENUMERATED":
                setter = (f"{cls}::NamedNumber v", "X.setValue(v);")
            else:
                setter = (f"const {cls}& v", "X = v;")
            return _Field(index, cname, cls, f"&{cls}::theInfo", setter)
        if t.named_numbers:
            raise SchemaError(f"{where}: INTEGER with named numbers needs a named type")
        if t.kind == "INTEGER":
            r = t.value_range
            if r is None:
                return _Field(index, cname, "ASN1::INTEGER", "&ASN1::INTEGER::theInfo",
                              ("int v", "X.setValue(v);"))
            cls = f"ASN1::Constrained_INTEGER<{_kind_of(r)}, {r.lb}, {_upper(r.ub)}>"
            param = "std::uint32_t v" if r.lb >= 0 else "int v"
            conv = "static_cast<int>(v)" if r.lb >= 0 else "v"
            return _Field(index, cname, cls, f"&{cls}::theInfo", (param, f"X.setValue({conv});"))
        if t.kind in ("SEQUENCE OF", "SET OF"):
            elem = self.element_class(t.element, where)
            tmpl = "ASN1::SEQUENCE_OF" if t.kind == "SEQUENCE OF" else "ASN1::SET_OF"
            if t.size is not None:
                cls = (f"{tmpl}<{elem}, ASN1::SizeConstraint<{_kind_of(t.size)}, "
                       f"{t.size.lb}, {_upper(t.size.ub)}>>")
            else:
                cls = f"{tmpl}<{elem}>"
            return _Field(index, cname, cls, f"&{cls}::theInfo", (f"const {cls}& v", "X = v;"))
        if t.kind in _LEAF and t.size is None:
            cls = _LEAF[t.kind]
            if t.kind == "NULL":
                setter = ("", "(void)X;")
            elif t.kind == "BOOLEAN":
                setter = ("bool v", "X.setValue(v);")
            else:
                setter = ("std::string_view v", "X = v;")
            return _Field(index, cname, cls, f"&{cls}::theInfo", setter)
        if t.size is not None and (t.kind == "OCTET STRING" or t.kind in _STRING_TAG):
            # A sized string written inline: a class of its own, nested in
            # the owner as <field>::value_type.
            cls = f"{owner}::{cname}::value_type"
            if t.kind == "OCTET STRING":
                base, info_t = "ASN1::OCTET_STRING", "ASN1::ConstrainedTypeInfo"
                tail, tag = "", "OCTET_STRING"
            else:
                tag, alphabet = _STRING_TAG[t.kind]
                base = "ASN1::IA5String" if t.kind == "IA5String" else "ASN1::AbstractString"
                info_t, tail = "ASN1::StringTypeInfo", ", " + alphabet
            nested = dict(base=base, info_t=info_t, tag=tag, tail=tail, size=t.size,
                          text=asn1_text(t), field=cname)
            return _Field(index, cname, cls, f"&{cls}::theInfo",
                          ("std::string_view v", "X = v;"), nested)
        raise SchemaError(f"{where}: {t.kind} is not supported in the C++ modules")

    def element_class(self, t: Type, where: str) -> str:
        if t.kind == "REF":
            return self.qualified(t.ref)
        if t.kind == "INTEGER" and t.value_range is None and not t.named_numbers:
            return "ASN1::INTEGER"
        if t.kind == "INTEGER" and t.value_range is not None and not t.named_numbers:
            r = t.value_range
            return f"ASN1::Constrained_INTEGER<{_kind_of(r)}, {r.lb}, {_upper(r.ub)}>"
        if t.kind in _LEAF and t.size is None:
            return _LEAF[t.kind]
        raise SchemaError(f"{where}: a SEQUENCE OF element of {t.kind} needs a named type")

    def fields(self, td) -> list:
        t = td.type
        owner = f"{self.name}::{cpp_name(td.name)}"
        where = f"{self.m.path}:{td.line}: {self.name}.{td.name}"
        members = t.components if t.kind == "SEQUENCE" else t.alternatives
        out = []
        for i, c in enumerate(members):
            f = self.field_for(owner, i, c.name, c.type, where)
            f.member = c
            out.append(f)
        return out

    def check_members(self, td, names):
        for n in names:
            if n in _RUNTIME_MEMBERS:
                raise SchemaError(f"{self.m.path}:{td.line}: {self.name}.{td.name}: "
                                  f"{n} would hide a member of the runtime class")

    # -- ordering: a class comes after the classes its accessors use
    def ordered_types(self) -> list:
        order, state = [], {}

        def deps(t: Type):
            for x in ModuleSet.walk(t):
                if x.kind == "REF" and x.ref.module == self.name:
                    yield x.ref.name

        def visit(name, chain):
            if state.get(name) == 2:
                return
            if state.get(name) == 1:
                raise SchemaError(f"{self.name}: types contain each other: "
                                  + " -> ".join(chain + [name]))
            state[name] = 1
            for d in deps(self.m.types[name].type):
                visit(d, chain + [name])
            state[name] = 2
            order.append(self.m.types[name])

        for name in self.m.types:
            visit(name, [])
        return order

    # -- header
    def header(self) -> str:
        out = [f"// {self.name}: generated by tools/asn1gen.py from asn1/schema/"
               f"{self.m.path.split('/')[-1]}; do not edit.",
               "//",
               "// One class per type of the module, in dependency order; the",
               "// comment above each class is its ASN.1 definition. The descriptors",
               f"// are in {self.name}.cpp. A const get_<field>() of an absent field or",
               "// of an alternative that is not selected reads the type's constant",
               "// default value; the non-const one creates an absent field's object",
               "// without making it present.",
               "#pragma once", "",
               "#include <cstdint>", "#include <string_view>", "",
               '#include "asn1/asn1.hpp"']
        for src in sorted(set(self.m.imports.values())):
            out.append(f'#include "asn1/modules/{src}.hpp"')
        out += ["", f"namespace {self.name} {{", ""]
        for td in self.m.types.values():
            out.append(f"class {cpp_name(td.name)};")
        out.append("")
        for td in self.ordered_types():
            out += self.class_lines(td)
            out.append("")
        out.append(f"}}  // namespace {self.name}")
        return "\n".join(out) + "\n"

    def class_lines(self, td) -> list:
        t = td.type
        cls = cpp_name(td.name)
        base, info_t = {
            "SEQUENCE": ("ASN1::SEQUENCE", "ASN1::SequenceTypeInfo"),
            "CHOICE": ("ASN1::CHOICE", "ASN1::ChoiceTypeInfo"),
            "ENUMERATED": ("ASN1::ENUMERATED", "ASN1::EnumeratedTypeInfo"),
        }.get(t.kind, (None, None))
        if base is None:
            raise SchemaError(f"{self.m.path}:{td.line}: {self.name}.{td.name}: a named "
                              f"{t.kind} is not supported in the C++ modules")
        if t.kind == "ENUMERATED":
            # The enumerators below are the definition, one a line.
            out = [f"// {td.name} ::= ENUMERATED{' (extensible)' if t.extensible else ''}, "
                   f"wire values 0..{enum_max(t)}"]
        else:
            out = _comment(f"{td.name} ::= {asn1_text(t)}")
        out += [f"class {cls} : public {base} {{",
                "public:",
                f"    static const {info_t} theInfo;"]
        if t.kind == "ENUMERATED":
            self.check_members(td, [cpp_name(e.name) for e in t.enumerators])
            out.append("    enum NamedNumber {")
            out += [f"        {cpp_name(e.name)} = {e.value}," for e in t.enumerators]
            out.append("    };")
        elif t.kind == "CHOICE":
            items = ", ".join(f"{cpp_name(a.name)} = {i}" for i, a in enumerate(t.alternatives))
            out.append(f"    enum class Alt : int {{ {items} }};")
        fields = self.fields(td) if t.kind != "ENUMERATED" else []
        names = {f.name for f in fields}
        for f in fields:
            if f.nested:
                out += self.nested_lines(f)
            elif f.cls.startswith(("ASN1::Constrained_INTEGER", "ASN1::SEQUENCE_OF", "ASN1::SET_OF")):
                # Long template names read better once, under the field's name.
                alias = f"{f.name}_type"
                if alias in names:
                    raise SchemaError(f"{self.m.path}:{td.line}: {self.name}.{td.name}: "
                                      f"{alias} is both a field and a field's type")
                out.append(f"    using {alias} = {f.cls};")
                f.setter = (f.setter[0].replace(f.cls, alias), f.setter[1])
                f.cls = alias
        if t.kind in ("SEQUENCE", "CHOICE"):
            out += ["    // Aligned and unaligned PER of this type (in the module's source).",
                    "    static bool perDecode(ASN1::PERDecoder& d, ASN1::AbstractData& value);",
                    "    static bool perEncode(ASN1::PEREncoder& e, const ASN1::AbstractData& value);",
                    "    static const ASN1::PerCoders perCoders;"]
        if t.kind == "SEQUENCE":
            # The mandatory root fields made here, each as its own class, not
            # through the descriptor's create hooks.
            # The counts of the record (root fields and additions, optional).
            counts = (f"Counts<{len(presence_ids(t))}, "
                      f"{sum(1 for c in t.components if c.optional and not c.extension)}>")
            out += [f"    {cls}() : {base}(&theInfo, {counts}{{}}) {{ createFields(); }}",
                    f"    explicit {cls}(const info_type* info) : {base}(info, info == &theInfo)",
                    "    {",
                    "        if (info == &theInfo)",
                    "            createFields();",
                    "    }"]
            # The field objects freed knowing their classes.
            out += [f"    ~{cls}() override {{ releaseFields<{', '.join(f.cls for f in fields)}>(); }}"]
        else:
            out += [f"    {cls}() : {base}(&theInfo) {{}}",
                    f"    explicit {cls}(const info_type* info) : {base}(info) {{}}"]
        out += [
                f"    {cls}(ASN1::CopyTag, const runtime_class& other) : "
                f"{base}(ASN1::copy_tag, other) {{}}",
                f"    using {base}::operator=;"]
        if t.kind == "SEQUENCE":
            opt_id, total_opt = 0, sum(1 for c in t.components if c.optional and not c.extension)
            ext_k = 0
            for f in fields:
                c = f.member
                out.append("")
                out.append(f"    // {c.name} {asn1_text(c.type)}" + (" OPTIONAL" if c.optional else "")
                           + (" (extension addition)" if c.extension else ""))
                i = f.index
                out.append(f"    {f.cls}& get_{f.name}() {{ return fieldAs<{f.cls}>({i}); }}")
                out.append(f"    const {f.cls}& get_{f.name}() const "
                           f"{{ return fieldAs<{f.cls}>({i}); }}")
                param, stmt = f.setter
                obj = f"fieldForWrite<{f.cls}>({i})"
                out.append(f"    void set_{f.name}({param}) {{ {stmt.replace('X', obj, 1)} }}")
                pid = None
                if c.extension:
                    pid = total_opt + ext_k
                    ext_k += 1
                elif c.optional:
                    pid = opt_id
                    opt_id += 1
                if pid is not None:
                    out.append(f"    bool has_{f.name}() const {{ return hasOptionalField({pid}); }}")
                    out.append(f"    void include_{f.name}() {{ includeOptionalField({pid}, {i}); }}")
                    out.append(f"    void remove_{f.name}() {{ removeOptionalField({pid}); }}")
            out += ["", "private:", "    void createFields()", "    {"]
            ids = presence_ids(t)
            out += [f"        adoptField({f.index}, new {f.cls}());" for f in fields
                    if not f.member.extension and ids[f.index] == -1]
            out.append("    }")
        elif t.kind == "CHOICE":
            for f in fields:
                a = f.member
                i = f.index
                out.append("")
                out.append(f"    // {a.name} {asn1_text(a.type)}"
                           + (" (extension alternative)" if a.extension else ""))
                out.append(f"    bool is_{f.name}() const {{ return currentSelection() == {i}; }}")
                out.append(f"    {f.cls}& get_{f.name}() {{ return alternativeAs<{f.cls}>(); }}")
                out.append(f"    const {f.cls}& get_{f.name}() const "
                           f"{{ return alternativeAs<{f.cls}>({i}); }}")
                out.append(f"    {f.cls}& select_{f.name}() {{ return selectAs<{f.cls}>({i}); }}")
                param, stmt = f.setter
                obj = f"select_{f.name}()"
                out.append(f"    void set_{f.name}({param}) {{ {stmt.replace('X', obj, 1)} }}")
        out.append("};")
        return out

    def nested_lines(self, f) -> list:
        n = f.nested
        return [f"    // {n['field']}: {n['text']}",
                f"    struct {n['field']} {{",
                f"        class value_type : public {n['base']} {{",
                "        public:",
                f"            static const {n['info_t']} theInfo;",
                f"            value_type() : {n['base']}(&theInfo) {{}}",
                f"            explicit value_type(const info_type* info) : {n['base']}(info) {{}}",
                f"            value_type(ASN1::CopyTag, const runtime_class& other) : "
                f"{n['base']}(ASN1::copy_tag, other) {{}}",
                f"            using {n['base']}::operator=;",
                "        };",
                "    };"]

    # -- source
    def source(self) -> str:
        out = [f"// {self.name}: generated by tools/asn1gen.py from asn1/schema/"
               f"{self.m.path.split('/')[-1]}; do not edit.",
               "// Descriptor tables and records; every one is constant-initialised.",
               "",
               f'#include "asn1/modules/{self.name}.hpp"', "",
               '#include "asn1/per.hpp"', "",
               f"namespace {self.name} {{", ""]
        for td in self.m.types.values():
            out += self.record_lines(td)
            out.append("")
        for td in self.m.types.values():
            if td.type.kind in ("SEQUENCE", "CHOICE"):
                out += self.per_lines(td)
                out.append("")
        out.append(f"}}  // namespace {self.name}")
        return "\n".join(out) + "\n"

    def record_lines(self, td) -> list:
        t = td.type
        cls = cpp_name(td.name)
        out = [f"// {td.name}"]
        if t.kind == "ENUMERATED":
            out.append(f"constinit const char* const {cls}_names[] = {{")
            out += [f'    "{n}",' for n in enum_names(t)]
            out += ["};",
                    f"constinit const ASN1::EnumeratedTypeInfo {cls}::theInfo = {{",
                    f"    ASN1::type_header<{cls}>(ASN1::tag::ENUMERATED),",
                    f"    {'true' if t.extensible else 'false'}, {enum_max(t)}, "
                    f"{cls}_names, {len(t.enumerators)} }};"]
            return out
        fields = self.fields(td)
        for f in fields:
            if f.nested:
                n = f.nested
                out += [f"constinit const {n['info_t']} {f.cls}::theInfo = {{",
                        f"    {{ ASN1::type_header<{f.cls}>(ASN1::tag::{n['tag']}), "
                        f"{_kind_of(n['size'])}, {n['size'].lb}, {_upper(n['size'].ub)} }}"
                        f"{n['tail']} }};"]
        infos = "nullptr"
        names = "nullptr"
        if fields:
            arr = "fieldInfos" if t.kind == "SEQUENCE" else "selectionInfos"
            out.append(f"constinit const ASN1::TypeInfo* const {cls}_{arr}[] = {{")
            out += [f"    {f.info}," for f in fields]
            out.append("};")
            infos = f"{cls}_{arr}"
            arr = "fieldNames" if t.kind == "SEQUENCE" else "selectionNames"
            out.append(f"constinit const char* const {cls}_{arr}[] = {{")
            out += [f'    "{f.member.name}",' for f in fields]
            out.append("};")
            names = f"{cls}_{arr}"
        ext = "true" if t.extensible else "false"
        if t.kind == "SEQUENCE":
            ids = presence_ids(t)
            root = sum(1 for c in t.components if not c.extension)
            optional = sum(1 for c in t.components if c.optional and not c.extension)
            id_arr = "nullptr"
            if ids:
                out.append(f"constinit const int {cls}_fieldIds[] = {{ "
                           + ", ".join(map(str, ids)) + " };")
                id_arr = f"{cls}_fieldIds"
            out += [f"constinit const ASN1::SequenceTypeInfo {cls}::theInfo = {{",
                    f"    ASN1::type_header<{cls}>(ASN1::tag::SEQUENCE),",
                    f"    {ext}, {infos}, {id_arr},",
                    f"    {root}, {len(ids) - root}, {optional},  // root fields, additions, optional",
                    f"    nullptr, nullptr, {names} }};"]
        else:
            root = sum(1 for a in t.alternatives if not a.extension)
            out += [f"constinit const ASN1::ChoiceTypeInfo {cls}::theInfo = {{",
                    f"    ASN1::type_header<{cls}>(0),",
                    f"    {ext}, {infos},",
                    f"    {root}, {len(fields)},  // root, root + known extension alternatives",
                    f"    nullptr, {names} }};"]
        return out


    # -- PER coders
    def per_expr(self, t: Type, obj: str, decode: bool) -> str:
        """C++ expression coding the value `obj` (an ASN1::AbstractData
        lvalue) of type `t` with the coder `d` (decode) or `e` (encode)."""
        c, const = ("d", "") if decode else ("e", "const ")
        op = "perDecode" if decode else "perEncode"
        if t.kind == "REF":
            kind = self.ms.lookup(t.ref).type.kind
            if kind in ("SEQUENCE", "CHOICE"):
                return f"{self.qualified(t.ref)}::{op}({c}, {obj})"
            if kind == "ENUMERATED":
                et = self.ms.lookup(t.ref).type
                fn = "decodeEnumerated" if decode else "encodeEnumerated"
                ext = "true" if et.extensible else "false"
                return (f"{c}.{fn}<{ext}, {enum_max(et)}u>"
                        f"(static_cast<{const}ASN1::ENUMERATED&>({obj}))")
            return f"{obj}.accept({c})"
        if t.kind == "NULL":
            # Nothing on the wire (X.691 24), but a decoded field or
            # alternative still gets its object.
            return f"(static_cast<void>({obj}), true)" if decode else "true"
        if t.kind == "INTEGER" and t.value_range is not None and not t.named_numbers:
            r = t.value_range
            fn = "decodeInteger" if decode else "encodeInteger"
            return (f"{c}.{fn}<{_kind_of(r)}, {r.lb}, {_upper(r.ub)}>"
                    f"(static_cast<{const}ASN1::INTEGER&>({obj}))")
        if t.kind == "INTEGER" and t.value_range is None and not t.named_numbers:
            fn = "decodeUnconstrained" if decode else "encodeUnconstrained"
            return f"{c}.{fn}(static_cast<{const}ASN1::INTEGER&>({obj}))"
        if t.kind in ("SEQUENCE OF", "SET OF") and t.element.kind == "REF" and \
                self.ms.lookup(t.element.ref).type.kind in ("SEQUENCE", "CHOICE"):
            fn = "decodeList" if decode else "encodeList"
            coder = "ASN1::PERDecoder" if decode else "ASN1::PEREncoder"
            elem = self.qualified(t.element.ref)
            return (f"{c}.{fn}(static_cast<{const}ASN1::SEQUENCE_OF_Base&>({obj}), "
                    f"[]({coder}& x, {const}ASN1::AbstractData& v) {{ return {elem}::{op}(x, v); }})")
        if t.kind in _PER_RUNTIME and not t.named_numbers:
            return f"{c}.do_visit(static_cast<{const}{_PER_RUNTIME[t.kind]}&>({obj}))"
        return f"{obj}.accept({c})"

    def per_inline_leaf(self, t: Type) -> bool:
        """A SEQUENCE or CHOICE of at most four members, none of them
        constructed: a type of the same module codes it inline."""
        if t.kind not in ("SEQUENCE", "CHOICE"):
            return False
        members = t.components if t.kind == "SEQUENCE" else t.alternatives
        if len(members) > 4:
            return False
        for m in members:
            kind = self.ms.lookup(m.type.ref).type.kind if m.type.kind == "REF" else m.type.kind
            if kind in ("SEQUENCE", "CHOICE", "SEQUENCE OF", "SET OF"):
                return False
        return True

    def per_encode_inline(self, name: str) -> str:
        return f"[[gnu::always_inline]] static inline bool encode{cpp_name(name)}" \
               "(ASN1::PEREncoder& e, const ASN1::AbstractData& value)"

    def per_encode_head(self, cls: str, t: Type, members: list) -> list:
        """The start of a type's encoder: declarations of the inline ones it
        calls, then its own signature (an inline one with perEncode calling
        it, for a leaf)."""
        leaves = {m.type.ref.name for m in members
                  if m.type.kind == "REF" and m.type.ref.module == self.name
                  and self.per_inline_leaf(self.ms.lookup(m.type.ref).type)}
        if self.per_inline_leaf(t):
            leaves.add(cls)
        out = [self.per_encode_inline(n) + ";" for n in sorted(leaves)]
        if out:
            out.append("")
        if self.per_inline_leaf(t):
            out += [f"bool {cls}::perEncode(ASN1::PEREncoder& e, const ASN1::AbstractData& value)",
                    "{", f"    return encode{cls}(e, value);", "}", "",
                    self.per_encode_inline(cls)]
        else:
            out.append(f"bool {cls}::perEncode(ASN1::PEREncoder& e, const ASN1::AbstractData& value)")
        return out

    def per_encode_expr(self, t: Type, obj: str) -> str:
        """As per_expr for the encoder: BOOLEAN and 8-bit character strings
        inline, a reference to a builtin type coded as that type, a small
        type of the same module by its inline encoder."""
        if t.kind == "REF":
            target = self.ms.lookup(t.ref).type
            if t.ref.module == self.name and self.per_inline_leaf(target):
                return f"encode{cpp_name(t.ref.name)}(e, {obj})"
            if target.kind in ("INTEGER", "BOOLEAN") or target.kind in _OCTET_CHARACTERS:
                return self.per_encode_expr(target, obj)
            return self.per_expr(t, obj, False)
        if t.kind == "BOOLEAN":
            return f"e.encodeBoolean(static_cast<const ASN1::BOOLEAN&>({obj}))"
        if t.kind in _OCTET_CHARACTERS and (t.size is None or (not t.size.extensible and t.size.ub > 2)):
            lb, ub = ("0u", "ASN1::UnboundedLength") if t.size is None else (f"{t.size.lb}u", _upper(t.size.ub))
            return f"e.encodeOctetCharacters<{lb}, {ub}>(static_cast<const ASN1::AbstractString&>({obj}))"
        return self.per_expr(t, obj, False)

    def per_lines(self, td) -> list:
        t = td.type
        cls = cpp_name(td.name)
        fields = self.fields(td)
        if t.kind == "SEQUENCE":
            return self.per_sequence(cls, t, fields)
        return self.per_choice(cls, t, fields)

    def per_sequence(self, cls: str, t: Type, fields: list) -> list:
        ids = presence_ids(t)
        optional = sum(1 for c in t.components if c.optional and not c.extension)
        root = [f for f in fields if not f.member.extension]
        ext = "true" if t.extensible else "false"
        # Up to 32 presence bits are held in one number; more go through the
        # value's bitmap.
        small = optional <= 32
        head = (f"X.691 19.1-19.3: {'extension bit, ' if t.extensible else ''}"
                f"presence bitmap of {optional} bit{'s' if optional != 1 else ''}")

        def present(pid):
            return f"(present & 0x{1 << (optional - 1 - pid):x}u) != 0" if small \
                else f"seq.hasOptionalField({pid})"

        out = [f"// {cls}: X.691 19 (SEQUENCE)",
               f"bool {cls}::perDecode(ASN1::PERDecoder& d, ASN1::AbstractData& value)",
               "{",
               "    auto& seq = static_cast<ASN1::SEQUENCE&>(value);",
               f"    // {head}"]
        if small:
            out += ["    std::uint32_t present = 0;",
                    f"    const int root = d.decodeSequencePreamble<{ext}, {optional}>(seq, present);"]
        else:
            out.append("    const int root = d.preVisitExtensionRoots(seq);")
        out += ["    if (root == ASN1::Visitor::fail)", "        return false;"]
        if small and optional == 0:
            out.append("    (void)present;")
        for f in root:
            i, c = f.index, f.member
            expr = self.per_expr(c.type, f"seq.fieldObjectOf<{f.cls}>({i})", True)
            if ids[i] == -1:
                out += [f"    if (!{expr})  // {c.name}", "        return false;"]
            else:
                out += [f"    if ({present(ids[i])} && !{expr})  // {c.name}",
                        "        return false;"]
        if t.extensible:
            out += ["    // X.691 19.7-19.9: the additions, known or skipped",
                    "    return root != ASN1::Visitor::goOn || d.decodeSequenceExtensions(seq);"]
        else:
            out.append("    return true;")
        out += ["}", ""] + self.per_encode_head(cls, t, t.components)
        out += ["{",
                "    const auto& seq = static_cast<const ASN1::SEQUENCE&>(value);",
                f"    // {head}"]
        if small and optional > 0:
            out.append(f"    const std::uint32_t present = e.encodeSequencePreamble<{ext}, {optional}>(seq);")
        elif small:
            out.append(f"    e.encodeSequencePreamble<{ext}, 0>(seq);")
        else:
            out.append("    e.preVisitExtensionRoots(seq);")
        if root:
            out.append("    const ASN1::AbstractData* f = nullptr;")
        for f in root:
            i, c = f.index, f.member
            expr = self.per_encode_expr(c.type, "*f")
            test = f"(f = seq.fieldAt({i})) == nullptr || !{expr}"
            if ids[i] == -1:
                out += [f"    if ({test})  // {c.name}", "        return false;"]
            else:
                out += [f"    if ({present(ids[i])} && ({test}))  // {c.name}",
                        "        return false;"]
        if t.extensible:
            out += ["    // X.691 19.7-19.8", "    return e.encodeSequenceExtensions(seq);"]
        else:
            out.append("    return true;")
        out += ["}", "",
                f"constinit const ASN1::PerCoders {cls}::perCoders = {{ &{cls}::perDecode, &{cls}::perEncode }};"]
        return out

    def per_choice(self, cls: str, t: Type, fields: list) -> list:
        root = sum(1 for a in t.alternatives if not a.extension)
        ext = "true" if t.extensible else "false"
        out = [f"// {cls}: X.691 23 (CHOICE)",
               f"bool {cls}::perDecode(ASN1::PERDecoder& d, ASN1::AbstractData& value)",
               "{",
               "    auto& choice = static_cast<ASN1::CHOICE&>(value);",
               "    // X.691 23.6-23.8: extension bit, index",
               "    ASN1::PERDecoder::memento_type memento;",
               f"    const int index = d.decodeChoiceIndex<{ext}, {root}>(memento);",
               "    if (index < 0)",
               "        return false;"]
        if t.extensible:
            out += ["    if (memento.position != nullptr)",
                    "        return d.decodeChoiceExtension(choice, index, memento);"]
        out.append("    switch (index) {")
        for f in fields:
            if f.member.extension:
                break
            obj = f"ASN1::PERDecoder::selectAs<{f.cls}>(choice, {f.index})"
            expr = self.per_expr(f.member.type, obj, True)
            out += [f"    case {f.index}:  // {f.member.name}", f"        return {expr};"]
        out += ["    default:", "        return false;", "    }", "}", ""] + \
            self.per_encode_head(cls, t, t.alternatives)
        out += ["{",
                "    const auto& choice = static_cast<const ASN1::CHOICE&>(value);",
                "    const ASN1::AbstractData* a = choice.alternative();",
                "    if (a == nullptr)",
                "        return false;",
                "    switch (choice.currentSelection()) {"]
        for i, a in enumerate(t.alternatives):
            out.append(f"    case {i}:  // {a.name}")
            if a.extension:
                out += ["        // X.691 23.8: extension bit, normally small index, open type",
                        "        e.encodeSingleBit(true);",
                        f"        e.encodeSmallUnsigned({i - root});",
                        "        return e.encodeAnyType(a);"]
                continue
            expr = self.per_encode_expr(a.type, "*a")
            if root > 1 or t.extensible:
                out.append(f"        return e.encodeChoiceIndex<{ext}, {root}>({i}) && {expr};  // X.691 23.5, 23.7")
            else:
                out.append(f"        return {expr};")
        out += ["    default:", "        return false;", "    }", "}", "",
                f"constinit const ASN1::PerCoders {cls}::perCoders = {{ &{cls}::perDecode, &{cls}::perEncode }};"]
        return out


def module_header(ms: ModuleSet, name: str) -> str:
    return ModuleEmitter(ms, name).header()


def module_source(ms: ModuleSet, name: str) -> str:
    return ModuleEmitter(ms, name).source()


def registry_header() -> str:
    return """// Generated by tools/asn1gen.py; do not edit.
// Every named type of the protocol modules, for lookups by name (tests,
// corpora, tools).
#pragma once

#include <cstddef>
#include <string_view>

#include "asn1/descriptor.hpp"

namespace ASN1Modules {

struct TypeEntry {
    const char* module;         // "LGCP"
    const char* name;           // the schema's spelling, "ProtoVezeMsgID"
    const ASN1::TypeInfo* info;
    bool reachable;             // from LGCP::Message or MON::Message
};

extern const TypeEntry allTypes[];
extern const std::size_t allTypeCount;

// "Module.Type"; null when there is no such type.
const TypeEntry* findType(std::string_view qualifiedName);

}  // namespace ASN1Modules
"""


def registry_source(ms: ModuleSet, reachable: set) -> str:
    out = ["// Generated by tools/asn1gen.py; do not edit.",
           '#include "asn1/modules/registry.hpp"', ""]
    for name in ms.modules:
        out.append(f'#include "asn1/modules/{name}.hpp"')
    out += ["", "namespace ASN1Modules {", "", "constinit const TypeEntry allTypes[] = {"]
    entries = []
    for m in ms.modules.values():
        for td in m.types.values():
            entries.append((f"{m.name}.{td.name}", m.name, td.name,
                            (m.name, td.name) in reachable))
    entries.sort()
    for _, mod, tname, r in entries:
        out.append(f'    {{ "{mod}", "{tname}", &{mod}::{cpp_name(tname)}::theInfo, '
                   f'{"true" if r else "false"} }},')
    out += ["};", f"constinit const std::size_t allTypeCount = {len(entries)};", "",
            "const TypeEntry* findType(std::string_view qualifiedName)",
            "{",
            "    // Sorted by \"Module.Type\": a binary search would do, but the",
            "    // lookups come from tests and tools, not from the wire.",
            "    for (std::size_t i = 0; i < allTypeCount; ++i) {",
            "        const TypeEntry& e = allTypes[i];",
            "        const std::string_view module(e.module);",
            "        if (qualifiedName.size() == module.size() + 1 + std::string_view(e.name).size() &&",
            "            qualifiedName.substr(0, module.size()) == module &&",
            "            qualifiedName[module.size()] == '.' &&",
            "            qualifiedName.substr(module.size() + 1) == e.name)",
            "            return &e;",
            "    }",
            "    return nullptr;",
            "}", "",
            "}  // namespace ASN1Modules"]
    return "\n".join(out) + "\n"
