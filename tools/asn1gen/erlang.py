"""The Erlang variant of the sources, for the independent PER cross-check
with Erlang/OTP's asn1 compiler.

It is the same schema printed in strict X.680: underscores become hyphens,
and an ENUMERATED whose numbers are not 0..n-1 becomes INTEGER (0..max)
(with ", ..." where extensible). Our coder sends an enumerator's number, not
its X.691 index; for a dense enumeration the two agree, for one with gaps
only the INTEGER codes the same bits.
"""

from .schema import ModuleSet, Type, Range, erlang_name, enum_is_dense, enum_max


def _range(r: Range) -> str:
    text = f"{r.lb}..{r.ub}" if r.lb != r.ub else f"{r.lb}"
    return text + (", ..." if r.extensible else "")


def type_text(t: Type, indent: str = "") -> str:
    if t.kind == "REF":
        return erlang_name(t.ref.name)
    if t.kind == "INTEGER":
        text = "INTEGER"
        if t.named_numbers:
            text += " { " + ", ".join(f"{erlang_name(n.name)}({n.value})"
                                      for n in t.named_numbers) + " }"
        if t.value_range is not None:
            text += f" ({_range(t.value_range)})"
        return text
    if t.kind in ("SEQUENCE OF", "SET OF"):
        head = t.kind.split()[0]
        size = f" (SIZE ({_range(t.size)}))" if t.size is not None else ""
        return f"{head}{size} OF {type_text(t.element, indent)}"
    if t.kind == "ENUMERATED":
        if not enum_is_dense(t):
            return f"INTEGER (0..{enum_max(t)}{', ...' if t.extensible else ''})"
        items = [f"{erlang_name(e.name)}({e.value})" for e in t.enumerators]
        if t.extensible:
            items.append("...")
        return _block("ENUMERATED", items, indent)
    if t.kind == "CHOICE":
        items, marked = [], False
        for a in t.alternatives:
            if a.extension and not marked:
                items.append("...")
                marked = True
            items.append(f"{erlang_name(a.name)} {type_text(a.type, indent + '    ')}")
        if t.extensible and not marked:
            items.append("...")
        return _block("CHOICE", items, indent)
    if t.kind == "SEQUENCE":
        items, marked = [], False
        for c in t.components:
            if c.extension and not marked:
                items.append("...")
                marked = True
            text = f"{erlang_name(c.name)} {type_text(c.type, indent + '    ')}"
            if c.optional:
                text += " OPTIONAL"
            items.append(text)
        if t.extensible and not marked:
            items.append("...")
        return _block("SEQUENCE", items, indent)
    text = t.kind
    if t.size is not None:
        text += f" (SIZE ({_range(t.size)}))"
    return text


def _block(head: str, items: list, indent: str) -> str:
    if not items:
        return head + " { }"
    inner = indent + "    "
    return head + " {\n" + ",\n".join(inner + i for i in items) + "\n" + indent + "}"


def module_text(ms: ModuleSet, name: str) -> str:
    m = ms.modules[name]
    out = [f"-- Erlang variant of {name}, generated from {m.path.split('/')[-1]}; "
           f"do not edit.", "",
           f"{name} DEFINITIONS AUTOMATIC TAGS ::=", "BEGIN", ""]
    if m.imports:
        by_source = {}
        for tname, src in m.imports.items():
            by_source.setdefault(src, []).append(erlang_name(tname))
        out.append("IMPORTS")
        for src, names in by_source.items():
            out.append("    " + ", ".join(names) + f" FROM {src}")
        out[-1] += ";"
        out.append("")
    for td in m.types.values():
        out.append(f"{erlang_name(td.name)} ::= {type_text(td.type)}")
        out.append("")
    out.append("END")
    return "\n".join(out) + "\n"


def model_terms(ms: ModuleSet) -> str:
    """The model as Erlang terms, one per line, for the escripts:
    {type, Module, Type, Def} with Def one of
      {sequence, [{Field, Optional, TypeDesc}]}, {choice, [{Alt, TypeDesc}]},
      {enumint, [Number]} (an ENUMERATED with gaps, coded as INTEGER), simple
    and TypeDesc {ref, Module, Type} | {list, TypeDesc} | simple."""
    def desc(t: Type) -> str:
        if t.kind == "REF":
            return f"{{ref,'{t.ref.module}','{erlang_name(t.ref.name)}'}}"
        if t.kind in ("SEQUENCE OF", "SET OF"):
            return f"{{list,{desc(t.element)}}}"
        return "simple"

    lines = []
    for m in ms.modules.values():
        for td in m.types.values():
            t = td.type
            if t.kind == "SEQUENCE":
                body = ",".join(f"{{'{erlang_name(c.name)}',{str(c.optional).lower()},{desc(c.type)}}}"
                                for c in t.components)
                d = f"{{sequence,[{body}]}}"
            elif t.kind == "CHOICE":
                body = ",".join(f"{{'{erlang_name(a.name)}',{desc(a.type)}}}" for a in t.alternatives)
                d = f"{{choice,[{body}]}}"
            elif t.kind in ("SEQUENCE OF", "SET OF"):
                d = f"{{list,{desc(t.element)}}}"
            elif t.kind == "ENUMERATED" and not enum_is_dense(t):
                # Coded as INTEGER (0..max[, ...]): Erlang's random integers
                # may fall outside the root or on no enumerator, which no
                # enumeration value is. The escript draws a named number.
                numbers = sorted({e.value for e in t.enumerators if 0 <= e.value <= enum_max(t)})
                d = "{enumint,[" + ",".join(map(str, numbers)) + "]}"
            else:
                d = "simple"
            lines.append(f"{{type,'{m.name}','{erlang_name(td.name)}',{d}}}.")
    return "\n".join(lines) + "\n"
