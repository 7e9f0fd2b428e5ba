"""Typelib descriptions as plain data, their XML source, and Hypothesis strategies of
their records in the mapping the module uses."""
import random
import xml.etree.ElementTree as ET

from hypothesis import strategies as st

INT_RANGES = {
    "char": (-128, 127), "uchar": (0, 255), "short": (-2**15, 2**15 - 1), "ushort": (0, 2**16 - 1),
    "int": (-2**31, 2**31 - 1), "uint": (0, 2**32 - 1), "long": (-2**31, 2**31 - 1), "ulong": (0, 2**32 - 1),
    "longlong": (-2**63, 2**63 - 1), "ulonglong": (0, 2**64 - 1), "date": (-2**31, 2**31 - 1),
    "time": (-2**31, 2**31 - 1), "datetime": (-2**31, 2**31 - 1), "money": (-2**31, 2**31 - 1),
}
# The selector that chooses a default member (id -1), by the width of the selector member.
ALL_ONES = {"uchar": 255, "char": 255, "ushort": 65535, "short": 65535, "int": -1, "uint": -1}


def parse(source):
    """{type name: {"class", "items": [{name, type, count, refer, select, id, version}]}}."""
    root = ET.fromstring(source)
    macros = {m.get("name"): int(m.get("id")) for m in root.iter("macro")}
    value = lambda text, default: default if text is None else macros.get(text, None) if text in macros else int(text)
    types = {}
    for t in root.iter("type"):
        items = [dict(name=i.get("name"), type=i.get("type"), count=value(i.get("count"), 1), refer=i.get("refer"),
                      select=i.get("select"), id=value(i.get("id"), 0), version=value(i.get("version"), 0))
                 for i in t.iter("item")]
        types[t.get("name")] = {"class": t.get("class"), "items": items}
    return types


TEXT = st.text(st.characters(blacklist_categories=("Cs", "Cc")), max_size=12)
NOT_UTF8 = st.binary(min_size=1, max_size=10).filter(lambda b: b"\0" not in b).filter(
    lambda b: not _is_utf8(b))


def _is_utf8(b):
    try:
        b.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def fits(limit):
    """Texts whose UTF-8 takes at most `limit` bytes."""
    return lambda s: len(s.encode("utf-8") if isinstance(s, str) else s) <= limit


def scalar(kind):
    if kind == "float":
        return st.floats(width=32, allow_nan=False)
    if kind == "double":
        return st.floats(allow_nan=False)
    lo, hi = INT_RANGES[kind]
    return st.integers(lo, hi)


def records(types, name):
    """A strategy of canonical records of type `name`: what decode gives back unchanged."""
    t = types[name]
    if t["class"] == "union":  # a union without a selector holds its first member
        first = t["items"][0]
        return member(types, first).map(lambda v: {first["name"]: v})
    governed = {i["refer"] for i in t["items"] if i["refer"]} | {i["select"] for i in t["items"] if i["select"]}
    fields = {i["name"]: member(types, i) for i in t["items"] if i["name"] not in governed}
    by_name = {i["name"]: i for i in t["items"]}

    def settle(d):
        out = {}
        for i in t["items"]:
            if i["name"] in d:
                out[i["name"]] = d[i["name"]]
        for i in t["items"]:
            if i["refer"]:
                out[i["refer"]] = len(d[i["name"]])
            if i["select"]:
                (chosen, _), = d[i["name"]].items()
                sid = next(m["id"] for m in types[i["type"]]["items"] if m["name"] == chosen)
                out[i["select"]] = ALL_ONES[by_name[i["select"]]["type"]] if sid == -1 else sid
        return {i["name"]: out[i["name"]] for i in t["items"] if i["name"] in out}

    return st.fixed_dictionaries(fields).map(settle)


def member(types, item):
    kind, count = item["type"], item["count"]
    if kind == "string":
        return st.one_of(TEXT.filter(fits(count - 1)), NOT_UTF8.filter(fits(count - 1)))
    if kind in types:
        if types[kind]["class"] == "union" and item["select"]:
            one = st.one_of([member(types, dict(m, count=1, refer=None)).map(lambda v, n=m["name"]: {n: v})
                             for m in types[kind]["items"]])
        else:
            one = records(types, kind)
        if count == 1 and not item["refer"]:
            return one
        return st.lists(one, min_size=0 if item["refer"] else count, max_size=count)
    if count == 1 and not item["refer"]:
        return scalar(kind)
    if kind == "char" and not item["refer"]:
        return TEXT.filter(lambda s: "\t" not in s).filter(fits(count))
    return st.lists(scalar(kind), min_size=0 if item["refer"] else count, max_size=count)


BASE = ["char", "uchar", "short", "ushort", "int", "uint", "long", "ulong", "longlong", "ulonglong",
        "date", "time", "datetime", "money", "float", "double"]


def random_source(seed):
    """The XML source of a random typelib: structs of every base type, strings, arrays with
    and without count members, nested structs and a union chosen by a selector."""
    rnd = random.Random(seed)
    out = ['<typelib name="rand%d" id="%d" version="1">' % (seed, seed % 1000)]
    names = []
    for n in range(rnd.randint(2, 4)):
        name = "T%d" % n
        items, k = [], 0

        def add(**attrs):
            nonlocal k
            k += 1
            attrs.setdefault("name", "m%d" % k)
            attrs.setdefault("id", str(k))
            items.append("<item %s />" % " ".join('%s="%s"' % kv for kv in attrs.items()))
            return attrs["name"]

        add(type=rnd.choice(BASE))
        for _ in range(rnd.randint(0, 5)):
            roll = rnd.random()
            if roll < 0.5:
                kind = rnd.choice(BASE)
                add(type=kind, count=str(rnd.choice([1, 1, 1, 2, 5])))
            elif roll < 0.65:
                add(type="string", count=str(rnd.randint(1, 20)))
            elif roll < 0.8:
                counter = add(type=rnd.choice(["uchar", "ushort", "int"]))
                kind = rnd.choice([b for b in BASE if b != "char"] + names)  # a counted char array is text
                add(type=kind, count=str(rnd.randint(2, 4)), refer=counter)
            elif names:
                add(type=rnd.choice(names), count=str(rnd.choice([1, 2])))
        if len(names) >= 2 and rnd.random() < 0.7:
            union = "U%d" % n
            members = "".join('<item name="u%d" id="%d" type="%s" />' % (j, j - 1 if j == 0 and rnd.random() < 0.5 else j + 1, t)
                              for j, t in enumerate(rnd.sample(names, 2)))
            out.append('<type name="%s" id="%d" class="union" version="1">%s</type>' % (union, 100 + n, members))
            sel = add(type=rnd.choice(["uchar", "ushort", "int"]))
            add(type=union, select=sel)
        out.append('<type name="%s" id="%d" class="struct" version="1">%s</type>' % (name, 10 + n, "".join(items)))
        names.append(name)
    out.append("</typelib>")
    return "\n".join(out), names[-1]


def to_json(value):
    """A record in the JSON mapping of docs/json.md, as drtool reads it."""
    if isinstance(value, dict):
        return {k: to_json(v) for k, v in value.items()}
    if isinstance(value, list):
        return [to_json(v) for v in value]
    if isinstance(value, bytes):
        return value.decode("utf-8", "surrogateescape")  # lone surrogates: \udc80..\udcff
    if isinstance(value, float) and value != value or value in (float("inf"), float("-inf")):
        return {float("inf"): "Infinity", float("-inf"): "-Infinity"}.get(value, "NaN")
    return value
