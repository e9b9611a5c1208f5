"""Parser and model of the ASN.1 subset the protocol modules are written in.

The subset is X.680 with AUTOMATIC TAGS, with one liberty: identifiers and
type references may contain underscores, because the protocol's own names
have them and value notation prints them. Anything outside the subset is an
error with the file and line, never a silent guess.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from typing import Optional


class SchemaError(Exception):
    pass


# ---------------------------------------------------------------------------
# Model

@dataclass
class Range:
    lb: int
    ub: int
    extensible: bool = False


@dataclass
class Ref:
    module: str          # module the referenced type is defined in
    name: str


@dataclass
class Type:
    """A type as written: a reference to a named type or a builtin."""
    kind: str                              # 'REF' or a builtin name
    ref: Optional[Ref] = None
    value_range: Optional[Range] = None    # INTEGER (lb..ub)
    size: Optional[Range] = None           # strings, SEQUENCE OF
    named_numbers: list = field(default_factory=list)   # INTEGER {a(1)}
    components: list = field(default_factory=list)     # SEQUENCE
    alternatives: list = field(default_factory=list)   # CHOICE
    enumerators: list = field(default_factory=list)    # ENUMERATED
    extensible: bool = False               # SEQUENCE, CHOICE, ENUMERATED
    element: Optional["Type"] = None       # SEQUENCE OF / SET OF


@dataclass
class Component:
    name: str
    type: Type
    optional: bool = False
    default: Optional[object] = None
    extension: bool = False                # stands after the extension marker
    line: int = 0


@dataclass
class Alternative:
    name: str
    type: Type
    extension: bool = False
    line: int = 0


@dataclass
class Enumerator:
    name: str
    value: int
    line: int = 0


@dataclass
class TypeDef:
    module: str
    name: str
    type: Type
    line: int


@dataclass
class Module:
    name: str
    path: str
    imports: dict = field(default_factory=dict)    # type name -> module
    types: dict = field(default_factory=dict)      # name -> TypeDef, in order


STRING_KINDS = ("IA5String", "NumericString", "PrintableString",
                "VisibleString", "GeneralString", "BMPString")
SIMPLE_KINDS = ("NULL", "BOOLEAN", "INTEGER", "OCTET STRING") + STRING_KINDS
CONSTRUCTED_KINDS = ("SEQUENCE", "CHOICE", "ENUMERATED")
LIST_KINDS = ("SEQUENCE OF", "SET OF")


# ---------------------------------------------------------------------------
# Lexer

_TOKEN = re.compile(r"""
    (?P<ws>[ \t\r\f\v]+)
  | (?P<nl>\n)
  | (?P<block>/\*.*?\*/)
  | (?P<comment>--)
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<dot>\.)
  | (?P<number>-?[0-9]+)
  | (?P<word>[A-Za-z](?:[A-Za-z0-9_]|-(?!-))*)
  | (?P<punct>\[\[|\]\]|[{}(),;\[\]|])
""", re.VERBOSE | re.DOTALL)


@dataclass
class Token:
    kind: str
    text: str
    line: int


def tokenize(text: str, path: str) -> list:
    tokens = []
    pos, line = 0, 1
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        if not m:
            raise SchemaError(f"{path}:{line}: unexpected character {text[pos]!r}")
        kind = m.lastgroup
        if kind == "comment":
            # X.680 12.6.3: a comment ends at the next "--" or the end of the line.
            end = pos + 2
            while end < len(text) and text[end] != "\n" and not text.startswith("--", end):
                end += 1
            pos = end + 2 if text.startswith("--", end) else end
            continue
        if kind == "nl":
            line += 1
        elif kind == "block":
            line += m.group().count("\n")
        elif kind != "ws":
            word = m.group()
            if kind == "word" and word.endswith("-"):
                raise SchemaError(f"{path}:{line}: name {word!r} ends with a hyphen")
            tokens.append(Token(kind, word, line))
        pos = m.end()
    tokens.append(Token("eof", "", line))
    return tokens


# ---------------------------------------------------------------------------
# Parser

RESERVED = {
    "ABSENT", "ABSTRACT-SYNTAX", "ALL", "APPLICATION", "AUTOMATIC", "BEGIN",
    "BIT", "BMPString", "BOOLEAN", "BY", "CHARACTER", "CHOICE", "CLASS",
    "COMPONENT", "COMPONENTS", "CONSTRAINED", "CONTAINING", "DEFAULT",
    "DEFINITIONS", "EMBEDDED", "ENCODED", "END", "ENUMERATED", "EXCEPT",
    "EXPLICIT", "EXPORTS", "EXTENSIBILITY", "EXTERNAL", "FALSE", "FROM",
    "GeneralizedTime", "GeneralString", "IA5String", "IDENTIFIER", "IMPLICIT",
    "IMPLIED", "IMPORTS", "INCLUDES", "INSTANCE", "INTEGER", "INTERSECTION",
    "MAX", "MIN", "MINUS-INFINITY", "NULL", "NumericString", "OBJECT",
    "OCTET", "OF", "OPTIONAL", "PATTERN", "PDV", "PLUS-INFINITY", "PRESENT",
    "PrintableString", "PRIVATE", "REAL", "RELATIVE-OID", "SEQUENCE", "SET",
    "SIZE", "STRING", "SYNTAX", "TAGS", "TRUE", "TYPE-IDENTIFIER", "UNION",
    "UNIQUE", "UNIVERSAL", "UTCTime", "UTF8String", "VisibleString", "WITH",
}


class Parser:
    def __init__(self, text: str, path: str):
        self.path = path
        self.toks = tokenize(text, path)
        self.i = 0
        self.module: Optional[Module] = None

    # -- token helpers
    def peek(self, k: int = 0) -> Token:
        return self.toks[min(self.i + k, len(self.toks) - 1)]

    def error(self, msg: str, tok: Optional[Token] = None):
        tok = tok or self.peek()
        raise SchemaError(f"{self.path}:{tok.line}: {msg} (at {tok.text!r})")

    def next(self) -> Token:
        tok = self.peek()
        self.i += 1
        return tok

    def at(self, text: str) -> bool:
        return self.peek().text == text and self.peek().kind != "eof"

    def accept(self, text: str) -> bool:
        if self.at(text):
            self.i += 1
            return True
        return False

    def expect(self, text: str) -> Token:
        if not self.at(text):
            self.error(f"expected {text!r}")
        return self.next()

    def typereference(self) -> Token:
        tok = self.peek()
        if tok.kind != "word" or not tok.text[0].isupper() or tok.text in RESERVED:
            self.error("expected a type reference")
        return self.next()

    def identifier(self) -> Token:
        tok = self.peek()
        if tok.kind != "word" or not tok.text[0].islower():
            self.error("expected an identifier")
        return self.next()

    def number(self) -> int:
        tok = self.peek()
        if tok.kind != "number":
            self.error("expected a number")
        self.next()
        return int(tok.text)

    # -- module
    def parse_module(self) -> Module:
        name = self.typereference().text
        self.module = Module(name, self.path)
        self.expect("DEFINITIONS")
        if not (self.accept("AUTOMATIC") and self.accept("TAGS")):
            self.error("only AUTOMATIC TAGS modules are supported")
        self.expect("::=")
        self.expect("BEGIN")
        if self.at("EXPORTS"):
            self.error("EXPORTS is not supported; every type is visible")
        if self.accept("IMPORTS"):
            self.parse_imports()
        while not self.at("END"):
            self.parse_assignment()
        self.expect("END")
        if self.peek().kind != "eof":
            self.error("text after END")
        return self.module

    def parse_imports(self):
        while not self.accept(";"):
            names = [self.typereference()]
            while self.accept(","):
                names.append(self.typereference())
            self.expect("FROM")
            source = self.typereference().text
            for tok in names:
                if tok.text in self.module.imports:
                    self.error(f"{tok.text} imported twice", tok)
                self.module.imports[tok.text] = source

    def parse_assignment(self):
        tok = self.typereference()
        self.expect("::=")
        if tok.text in self.module.types:
            self.error(f"type {tok.text} defined twice", tok)
        if tok.text in self.module.imports:
            self.error(f"type {tok.text} is both imported and defined", tok)
        t = self.parse_type(top=True)
        self.module.types[tok.text] = TypeDef(self.module.name, tok.text, t, tok.line)

    # -- types
    def parse_type(self, top: bool) -> Type:
        tok = self.peek()
        w = tok.text
        if tok.kind != "word":
            self.error("expected a type")
        if w == "NULL" or w == "BOOLEAN":
            self.next()
            t = Type(w)
        elif w == "INTEGER":
            self.next()
            t = Type("INTEGER")
            if self.accept("{"):
                t.named_numbers = self.parse_named_numbers()
        elif w == "OCTET":
            self.next()
            self.expect("STRING")
            t = Type("OCTET STRING")
        elif w in STRING_KINDS:
            self.next()
            t = Type(w)
        elif w == "ENUMERATED":
            if not top:
                self.error("an ENUMERATED must be a named type")
            self.next()
            t = self.parse_enumerated()
        elif w == "CHOICE":
            if not top:
                self.error("a CHOICE must be a named type")
            self.next()
            t = self.parse_choice()
        elif w in ("SEQUENCE", "SET"):
            self.next()
            size = None
            if self.at("SIZE") or (self.at("(") and self.peek(1).text == "SIZE"):
                size = self.parse_size_constraint()
            if self.accept("OF"):
                if self.at("SEQUENCE") and self.peek(1).text == "{" or self.at("CHOICE") \
                        or self.at("ENUMERATED"):
                    self.error("the element of a SEQUENCE OF must be a named type")
                if self.peek().kind == "word" and self.peek(1).kind == "word" \
                        and self.peek().text[0].islower():
                    self.error("named elements of SEQUENCE OF are not supported")
                elem = self.parse_type(top=False)
                return Type(w + " OF", element=elem, size=size)
            if size is not None:
                self.error("SIZE before a SEQUENCE body")
            if w == "SET":
                self.error("SET is not supported")
            if not top:
                self.error("a SEQUENCE must be a named type")
            t = self.parse_sequence()
        elif w in RESERVED:
            self.error(f"{w} is not supported")
        elif w[0].isupper():
            self.next()
            if self.accept("."):
                t = Type("REF", ref=Ref(w, self.typereference().text))
            else:
                t = Type("REF", ref=Ref("", w))
        else:
            self.error("expected a type")
        while self.at("("):
            self.parse_constraint(t)
        return t

    def parse_named_numbers(self) -> list:
        out = []
        while True:
            name = self.identifier()
            self.expect("(")
            out.append(Enumerator(name.text, self.number(), name.line))
            self.expect(")")
            if self.accept("}"):
                return out
            self.expect(",")

    def parse_enumerated(self) -> Type:
        t = Type("ENUMERATED")
        self.expect("{")
        while True:
            if self.accept("..."):
                if t.extensible:
                    self.error("second extension marker")
                t.extensible = True
                if self.at(","):
                    self.error("enumerated extension additions are not supported")
            else:
                if t.extensible:
                    self.error("enumerated extension additions are not supported")
                name = self.identifier()
                if not self.accept("("):
                    self.error("every enumerator needs an explicit number", name)
                t.enumerators.append(Enumerator(name.text, self.number(), name.line))
                self.expect(")")
            if self.accept("}"):
                break
            self.expect(",")
        if not t.enumerators:
            self.error("empty ENUMERATED")
        return t

    def parse_choice(self) -> Type:
        t = Type("CHOICE")
        self.expect("{")
        while True:
            if self.accept("..."):
                if t.extensible:
                    self.error("a second extension marker is not supported")
                t.extensible = True
            elif self.at("[["):
                self.error("version brackets are not supported")
            else:
                name = self.identifier()
                alt_type = self.parse_type(top=False)
                t.alternatives.append(Alternative(name.text, alt_type, t.extensible, name.line))
            if self.accept("}"):
                break
            self.expect(",")
        if not t.alternatives:
            self.error("CHOICE without alternatives")
        return t

    def parse_sequence(self) -> Type:
        t = Type("SEQUENCE")
        self.expect("{")
        if self.accept("}"):
            return t
        while True:
            if self.accept("..."):
                if t.extensible:
                    self.error("a second extension marker is not supported")
                t.extensible = True
            elif self.at("[["):
                self.error("version brackets are not supported")
            elif self.at("COMPONENTS"):
                self.error("COMPONENTS OF is not supported")
            else:
                name = self.identifier()
                comp = Component(name.text, self.parse_type(top=False),
                                 extension=t.extensible, line=name.line)
                if self.accept("OPTIONAL"):
                    comp.optional = True
                elif self.accept("DEFAULT"):
                    comp.default = self.parse_value()
                t.components.append(comp)
            if self.accept("}"):
                break
            self.expect(",")
        return t

    def parse_value(self):
        tok = self.next()
        if tok.kind == "number":
            return int(tok.text)
        if tok.text in ("TRUE", "FALSE"):
            return tok.text == "TRUE"
        if tok.kind == "word" and tok.text[0].islower():
            return tok.text
        self.error("unsupported DEFAULT value", tok)

    def parse_range(self) -> Range:
        lb = self.number()
        ub = self.number() if self.accept("..") else lb
        r = Range(lb, ub)
        if self.accept(","):
            self.expect("...")
            r.extensible = True
        if lb > ub:
            self.error(f"empty range {lb}..{ub}")
        return r

    def parse_size_constraint(self) -> Range:
        paren = self.accept("(")
        self.expect("SIZE")
        self.expect("(")
        r = self.parse_range()
        self.expect(")")
        if paren:
            self.expect(")")
        if r.lb < 0:
            self.error("negative size")
        return r

    def parse_constraint(self, t: Type):
        if self.peek(1).text == "SIZE":
            if t.kind not in ("OCTET STRING",) + STRING_KINDS:
                self.error(f"SIZE constraint on {t.kind}")
            if t.size is not None:
                self.error("second SIZE constraint")
            t.size = self.parse_size_constraint()
            return
        self.expect("(")
        if t.kind != "INTEGER":
            self.error(f"value constraint on {t.kind} is not supported")
        if t.value_range is not None:
            self.error("second value constraint")
        t.value_range = self.parse_range()
        self.expect(")")


def parse_file(path: str) -> Module:
    with open(path, encoding="utf-8") as f:
        return Parser(f.read(), path).parse_module()


# ---------------------------------------------------------------------------
# Module set: resolution and checks

CPP_KEYWORDS = {
    "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor",
    "bool", "break", "case", "catch", "char", "char8_t", "char16_t",
    "char32_t", "class", "compl", "concept", "const", "consteval",
    "constexpr", "constinit", "const_cast", "continue", "co_await",
    "co_return", "co_yield", "decltype", "default", "delete", "do", "double",
    "dynamic_cast", "else", "enum", "explicit", "export", "extern", "false",
    "float", "for", "friend", "goto", "if", "inline", "int", "long",
    "mutable", "namespace", "new", "noexcept", "not", "not_eq", "nullptr",
    "operator", "or", "or_eq", "private", "protected", "public", "register",
    "reinterpret_cast", "requires", "return", "short", "signed", "sizeof",
    "static", "static_assert", "static_cast", "struct", "switch", "template",
    "this", "thread_local", "throw", "true", "try", "typedef", "typeid",
    "typename", "union", "unsigned", "using", "virtual", "void", "volatile",
    "wchar_t", "while", "xor", "xor_eq",
    # Macros of the C library that a generated name would collide with.
    "NULL", "EOF", "errno", "assert",
}


def cpp_name(name: str) -> str:
    return name.replace("-", "_")


def erlang_name(name: str) -> str:
    return name.replace("_", "-")


class ModuleSet:
    def __init__(self, modules: list):
        self.modules = {}
        for m in modules:
            if m.name in self.modules:
                raise SchemaError(f"{m.path}: module {m.name} defined twice "
                                  f"(also in {self.modules[m.name].path})")
            self.modules[m.name] = m
        self._resolve()
        self._check_names()
        self._check_semantics()
        self.import_order()

    # -- resolution
    def lookup(self, ref: Ref) -> TypeDef:
        return self.modules[ref.module].types[ref.name]

    def _resolve(self):
        for m in self.modules.values():
            for name, source in m.imports.items():
                if source not in self.modules:
                    raise SchemaError(f"{m.path}: {name} imported from unknown module {source}")
                if name not in self.modules[source].types:
                    raise SchemaError(f"{m.path}: {source} defines no type {name}")
            for td in m.types.values():
                for t in self.walk(td.type):
                    if t.kind != "REF":
                        continue
                    r = t.ref
                    if r.module == "":
                        if r.name in m.types:
                            r.module = m.name
                        elif r.name in m.imports:
                            r.module = m.imports[r.name]
                        else:
                            raise SchemaError(f"{m.path}:{td.line}: {td.name} refers to "
                                              f"undefined type {r.name}")
                    elif r.module not in self.modules or r.name not in self.modules[r.module].types:
                        raise SchemaError(f"{m.path}:{td.line}: {td.name} refers to "
                                          f"undefined type {r.module}.{r.name}")

    @staticmethod
    def walk(t: Type):
        """The type and every type written inside it (not through references)."""
        yield t
        for c in t.components:
            yield from ModuleSet.walk(c.type)
        for a in t.alternatives:
            yield from ModuleSet.walk(a.type)
        if t.element is not None:
            yield from ModuleSet.walk(t.element)

    # -- names
    def _check_names(self):
        for m in self.modules.values():
            self._scope(m.path, f"module {m.name}", [(m.name, 0)])
            self._scope(m.path, f"types of {m.name}",
                        [(n, td.line) for n, td in m.types.items()] +
                        [(n, 0) for n in m.imports])
            for td in m.types.values():
                t = td.type
                where = f"{m.name}.{td.name}"
                self._scope(m.path, f"fields of {where}", [(c.name, c.line) for c in t.components])
                self._scope(m.path, f"alternatives of {where}",
                            [(a.name, a.line) for a in t.alternatives])
                self._scope(m.path, f"enumerators of {where}",
                            [(e.name, e.line) for e in t.enumerators])
                self._scope(m.path, f"named numbers of {where}",
                            [(e.name, e.line) for e in t.named_numbers])

    @staticmethod
    def _scope(path: str, what: str, names: list):
        seen_cpp, seen_erl = {}, {}
        for name, line in names:
            c = cpp_name(name)
            if c in CPP_KEYWORDS:
                raise SchemaError(f"{path}:{line}: {name} in {what} is a C++ keyword as {c}")
            if "__" in c or c.startswith("_"):
                raise SchemaError(f"{path}:{line}: {name} in {what} is a reserved C++ name as {c}")
            if c in seen_cpp and seen_cpp[c] != name:
                raise SchemaError(f"{path}:{line}: {name} and {seen_cpp[c]} in {what} "
                                  f"are both {c} in C++")
            if c in seen_cpp:
                raise SchemaError(f"{path}:{line}: {name} appears twice in {what}")
            seen_cpp[c] = name
            e = erlang_name(name)
            if "--" in e:
                raise SchemaError(f"{path}:{line}: {name} in {what} has no X.680 spelling")
            if e in seen_erl:
                raise SchemaError(f"{path}:{line}: {name} and {seen_erl[e]} in {what} "
                                  f"are both {e} in the Erlang variant")
            seen_erl[e] = name

    # -- semantics
    def _check_semantics(self):
        for m in self.modules.values():
            for td in m.types.values():
                t = td.type
                where = f"{m.path}:{td.line}: {m.name}.{td.name}"
                if t.kind == "ENUMERATED":
                    # A number may repeat: some tables give an alias name
                    # (min, max) to a number already named. Every name is
                    # kept in source order; decoding picks the first.
                    values = [e.value for e in t.enumerators]
                    if max(values) < 0:
                        raise SchemaError(f"{where}: no enumerator inside a wire range 0..max")
                for x in self.walk(t):
                    for r in (x.value_range, x.size):
                        if r is not None and (r.lb < -2**31 or r.ub > 2**32 - 1):
                            raise SchemaError(f"{where}: bound outside 32 bits")
                    if x.value_range is not None and x.value_range.lb < 0 \
                            and x.value_range.ub > 2**31 - 1:
                        raise SchemaError(f"{where}: signed range wider than 32 bits")
                for c in t.components:
                    if c.default is not None:
                        raise SchemaError(f"{where}: DEFAULT on {c.name} is not supported "
                                          f"by the runtime's descriptors")

    # -- queries
    def reachable(self, roots: list) -> list:
        """Named types reachable from the roots, as (module, name), in a
        stable breadth-first order."""
        seen, order, queue = set(), [], list(roots)
        for r in roots:
            if r[0] not in self.modules or r[1] not in self.modules[r[0]].types:
                raise SchemaError(f"root type {r[0]}.{r[1]} is not defined")
        while queue:
            key = queue.pop(0)
            if key in seen:
                continue
            seen.add(key)
            order.append(key)
            td = self.modules[key[0]].types[key[1]]
            for t in self.walk(td.type):
                if t.kind == "REF":
                    queue.append((t.ref.module, t.ref.name))
        return order

    def import_order(self) -> list:
        """Modules so that each comes after the modules it imports from."""
        out, state = [], {}

        def visit(name, chain):
            if state.get(name) == 2:
                return
            if state.get(name) == 1:
                raise SchemaError("modules import each other: " + " -> ".join(chain + [name]))
            state[name] = 1
            for src in sorted(set(self.modules[name].imports.values())):
                visit(src, chain + [name])
            state[name] = 2
            out.append(name)

        for name in sorted(self.modules):
            visit(name, [])
        return out


def enum_is_dense(t: Type) -> bool:
    """True when the numbers are exactly 0..n-1, so that the X.691 index of an
    enumerator equals its number."""
    return sorted(e.value for e in t.enumerators) == list(range(len(t.enumerators)))


def enum_max(t: Type) -> int:
    return max(e.value for e in t.enumerators)


def enum_names(t: Type) -> list:
    """The names array of the descriptor: a name carries "=number" unless
    its number is the previous one plus one (the first: 0)."""
    out, expect = [], 0
    for e in t.enumerators:
        out.append(e.name if e.value == expect else f"{e.name}={e.value}")
        expect = e.value + 1
    return out


def presence_ids(t: Type) -> list:
    """The presence id of each component as the runtime's descriptor holds it:
    optional root components 0, 1, ..., mandatory ones -1, additions 0."""
    ids, k = [], 0
    for c in t.components:
        if c.extension:
            ids.append(0)
        elif c.optional:
            ids.append(k)
            k += 1
        else:
            ids.append(-1)
    return ids
