"""Machine-readable summary of the model: per module its types, per type its
kind and the counts its descriptor must hold. Tests check these counts, and
the cross-check escripts take their type list from here."""

import json

from .schema import (ModuleSet, Type, cpp_name, enum_is_dense, enum_max, enum_names, erlang_name,
                     presence_ids)

ROOTS = [("LGCP", "Message"), ("MON", "Message")]


def _range(r):
    return None if r is None else {"lb": r.lb, "ub": r.ub, "extensible": r.extensible}


def type_desc(t: Type) -> dict:
    if t.kind == "REF":
        return {"ref": f"{t.ref.module}.{t.ref.name}"}
    d = {"builtin": t.kind}
    if t.value_range is not None:
        d["range"] = _range(t.value_range)
    if t.size is not None:
        d["size"] = _range(t.size)
    if t.named_numbers:
        d["named_numbers"] = {n.name: n.value for n in t.named_numbers}
    if t.element is not None:
        d["element"] = type_desc(t.element)
    return d


def type_summary(module: str, name: str, t: Type) -> dict:
    s = {"cpp": cpp_name(name), "erlang": erlang_name(name), "kind": t.kind}
    if t.kind == "SEQUENCE":
        root = [c for c in t.components if not c.extension]
        s.update(extensible=t.extensible,
                 root_fields=len(root),
                 extension_fields=len(t.components) - len(root),
                 optional=sum(1 for c in root if c.optional),
                 fields=[{"name": c.name, "cpp": cpp_name(c.name), "erlang": erlang_name(c.name),
                          "optional": c.optional, "extension": c.extension,
                          "type": type_desc(c.type)} for c in t.components])
        s["field_ids"] = presence_ids(t)
    elif t.kind == "CHOICE":
        root = [a for a in t.alternatives if not a.extension]
        s.update(extensible=t.extensible, root_alternatives=len(root),
                 total_alternatives=len(t.alternatives),
                 alternatives=[{"name": a.name, "cpp": cpp_name(a.name),
                                "erlang": erlang_name(a.name), "index": i,
                                "extension": a.extension, "type": type_desc(a.type)}
                               for i, a in enumerate(t.alternatives)])
    elif t.kind == "ENUMERATED":
        s.update(extensible=t.extensible, max=enum_max(t), dense=enum_is_dense(t),
                 names=enum_names(t),
                 enumerators=[{"name": e.name, "cpp": cpp_name(e.name), "value": e.value}
                              for e in t.enumerators])
    else:
        s.update(type_desc(t))
    return s


def inline_types(module: str, name: str, t: Type) -> list:
    """Size-constrained strings written inline as a field's type: each has a
    descriptor of its own, named <Type>::<field>::value_type."""
    out = []
    for c in t.components:
        ct = c.type
        if ct.kind not in ("REF", "INTEGER", "NULL", "BOOLEAN", "SEQUENCE OF", "SET OF") \
                and ct.size is not None:
            out.append({"name": f"{name}::{c.name}::value_type", "cpp":
                        f"{cpp_name(name)}::{cpp_name(c.name)}::value_type",
                        **type_desc(ct)})
    return out


def build(ms: ModuleSet) -> dict:
    reach = ms.reachable(ROOTS)
    reach_set = set(reach)
    mods = {}
    for m in ms.modules.values():
        types = {n: type_summary(m.name, n, td.type) for n, td in m.types.items()}
        for n in types:
            types[n]["reachable"] = (m.name, n) in reach_set
        inl = []
        for n, td in m.types.items():
            for x in inline_types(m.name, n, td.type):
                x["reachable"] = (m.name, n) in reach_set
                inl.append(x)
        kinds = {}
        for t in types.values():
            kinds[t["kind"]] = kinds.get(t["kind"], 0) + 1
        mods[m.name] = {
            "source": m.path.split("/")[-1],
            "imports": m.imports,
            "types": types,
            "inline_types": inl,
            "counts": {
                "types": len(types) + len(inl),
                "reachable": sum(1 for t in types.values() if t["reachable"]) +
                             sum(1 for x in inl if x["reachable"]),
                "kinds": kinds,
            },
        }
    return {
        "roots": [f"{m}.{n}" for m, n in ROOTS],
        "import_order": ms.import_order(),
        "reachable": [f"{m}.{n}" for m, n in reach],
        "modules": mods,
    }



def reachable_list(ms: ModuleSet) -> str:
    """One reachable type a line: schema name, Erlang module, Erlang type."""
    return "".join(f"{m}.{n} {m} {erlang_name(n)}\n" for m, n in ms.reachable(ROOTS))
