"""Times the module dr beside hand-written struct code and protobuf, for the small and
medium records of bench/ (bench/records.xml, their values those of bench/records.cc,
bench/peers.proto for protobuf).

Each codec encodes a dict into bytes and decodes bytes back into the same dict; the struct
code writes exactly the module's bytes and protobuf builds the same dict (both checked
before timing). Prints a Markdown table; --write puts it in docs/benchmarks.md as the last
section.

    python3 python/bench.py [--write]
"""
import os
import pathlib
import platform
import shutil
import struct
import subprocess
import sys
import tempfile
import timeit

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
# The installed module, not the sources beside this script.
sys.path = [p for p in sys.path if pathlib.Path(p or ".").resolve() != HERE]
import dr  # noqa: E402


def sample_small():
    return {"ver": 3, "cmd": 2, "seq": 123456789, "uin": 4000000001, "flags": 0x5A, "lvl": 42, "hp": -1234,
            "time": 1700000000, "ratio": 0.75, "total": 98765.4321, "big": -1234567890123,
            "name": "a player name", "n": 5, "scores": [k * 1000 - 7 for k in range(1, 6)],
            "pos": {"x": -300, "y": 4500}, "body": {"move": [10, -20, 30]}, "crc": 0xDEADBEEF, "tail": ord("z")}


def sample_medium():
    items = [{"id": 100000 + k, "owner": 4000000000 - k, "kind": k % 7, "slot": k, "qty": k * 3 - 20,
              "price": 199 * k, "weight": 0.5 * k, "stamp": 1700000000 + k, "label": "item-%02d" % k}
             for k in range(50)]
    return {"ver": 3, "cmd": 7, "seq": 987654321, "uin": 3000000003, "time": 1700000123, "zone": "eu-west-3",
            "n": 50, "flags": 0x0101, "items": items}


# ---- hand-written struct code for the same network bytes --------------------------------
# 2- and 4-byte values big-endian, 8-byte values as the host holds them, a string as a
# 4-byte length (its NUL included) and its bytes, an element behind an inline length.

SMALL_HEAD = struct.Struct(">HHIIBBhif")
HOST8 = struct.Struct("<dq")
U32 = struct.Struct(">I")
U8 = struct.Struct(">B")
POS = struct.Struct(">Hii")
MOVE = struct.Struct(">Biii")
SMALL_TAIL = struct.Struct(">Ib")


def struct_small_encode(d):
    name = d["name"].encode() + b"\0"
    body = d["body"]
    if "move" in body:
        tail = MOVE.pack(12, *body["move"])
    else:
        tail = U8.pack(16) + bytes(body["raw"])
    scores = d["scores"]
    return b"".join((
        SMALL_HEAD.pack(d["ver"], d["cmd"], d["seq"], d["uin"], d["flags"], d["lvl"], d["hp"], d["time"], d["ratio"]),
        HOST8.pack(d["total"], d["big"]), U32.pack(len(name)), name, U8.pack(d["n"]),
        struct.pack(">%di" % len(scores), *scores), POS.pack(8, d["pos"]["x"], d["pos"]["y"]), tail,
        SMALL_TAIL.pack(d["crc"], d["tail"])))


def struct_small_decode(b):
    ver, cmd, seq, uin, flags, lvl, hp, time, ratio = SMALL_HEAD.unpack_from(b, 0)
    off = SMALL_HEAD.size
    total, big = HOST8.unpack_from(b, off)
    off += 16
    (length,) = U32.unpack_from(b, off)
    name = b[off + 4:off + 3 + length].decode()
    off += 4 + length
    n = b[off]
    scores = list(struct.unpack_from(">%di" % n, b, off + 1))
    off += 1 + 4 * n
    _, x, y = POS.unpack_from(b, off)
    off += POS.size
    if cmd == 2:
        body = {"move": list(MOVE.unpack_from(b, off)[1:])}
        off += MOVE.size
    else:
        body = {"raw": list(b[off + 1:off + 17])}
        off += 17
    crc, tail = SMALL_TAIL.unpack_from(b, off)
    return {"ver": ver, "cmd": cmd, "seq": seq, "uin": uin, "flags": flags, "lvl": lvl, "hp": hp, "time": time,
            "ratio": ratio, "total": total, "big": big, "name": name, "n": n, "scores": scores,
            "pos": {"x": x, "y": y}, "body": body, "crc": crc, "tail": tail}


MEDIUM_HEAD = struct.Struct(">HHIIi")
MEDIUM_MID = struct.Struct(">HH")
ITEM = struct.Struct(">HIIHHiifi")


def struct_medium_encode(d):
    zone = d["zone"].encode() + b"\0"
    parts = [MEDIUM_HEAD.pack(d["ver"], d["cmd"], d["seq"], d["uin"], d["time"]), U32.pack(len(zone)), zone,
             MEDIUM_MID.pack(d["n"], d["flags"])]
    for it in d["items"]:
        label = it["label"].encode() + b"\0"
        parts.append(ITEM.pack(32 + len(label), it["id"], it["owner"],
                               it["kind"], it["slot"], it["qty"], it["price"], it["weight"], it["stamp"]))
        parts.append(U32.pack(len(label)))
        parts.append(label)
    return b"".join(parts)


def struct_medium_decode(b):
    ver, cmd, seq, uin, time = MEDIUM_HEAD.unpack_from(b, 0)
    off = MEDIUM_HEAD.size
    (length,) = U32.unpack_from(b, off)
    zone = b[off + 4:off + 3 + length].decode()
    off += 4 + length
    n, flags = MEDIUM_MID.unpack_from(b, off)
    off += 4
    items = []
    for _ in range(n):
        size, iid, owner, kind, slot, qty, price, weight, stamp = ITEM.unpack_from(b, off)
        (length,) = U32.unpack_from(b, off + ITEM.size)
        start = off + ITEM.size + 4
        items.append({"id": iid, "owner": owner, "kind": kind, "slot": slot, "qty": qty, "price": price,
                      "weight": weight, "stamp": stamp, "label": b[start:start + length - 1].decode()})
        off += 2 + size
    return {"ver": ver, "cmd": cmd, "seq": seq, "uin": uin, "time": time, "zone": zone, "n": n, "flags": flags,
            "items": items}


# ---- protobuf: the messages of bench/peers.proto, built from and into the same dicts ---------

def load_protobuf():
    """The generated module of bench/peers.proto, or None (with the reason) when it cannot be had."""
    protoc = shutil.which("protoc")
    if protoc is None:
        return None, "protoc is not installed"
    try:
        from google.protobuf.internal import api_implementation
    except ImportError:
        return None, "python3-protobuf is not installed"
    out = tempfile.mkdtemp(prefix="drbench-")
    subprocess.run([protoc, "-I", str(ROOT / "bench"), "--python_out", out, str(ROOT / "bench" / "peers.proto")],
                   check=True)
    sys.path.insert(0, out)
    import peers_pb2
    return peers_pb2, api_implementation.Type()


def proto_codecs(pb):
    def small_encode(d):
        m = pb.Small(ver=d["ver"], cmd=d["cmd"], seq=d["seq"], uin=d["uin"], flags=d["flags"], lvl=d["lvl"],
                     hp=d["hp"], time=d["time"], ratio=d["ratio"], total=d["total"], big=d["big"], name=d["name"],
                     scores=d["scores"], crc=d["crc"], tail=d["tail"])
        m.pos.x = d["pos"]["x"]
        m.pos.y = d["pos"]["y"]
        body = d["body"]
        if "move" in body:
            m.move.v.extend(body["move"])
        else:
            m.raw = bytes(body["raw"])
        return m.SerializeToString()

    def small_decode(b):
        m = pb.Small()
        m.ParseFromString(b)
        body = {"move": list(m.move.v)} if m.WhichOneof("body") == "move" else {"raw": list(m.raw)}
        scores = list(m.scores)
        return {"ver": m.ver, "cmd": m.cmd, "seq": m.seq, "uin": m.uin, "flags": m.flags, "lvl": m.lvl, "hp": m.hp,
                "time": m.time, "ratio": m.ratio, "total": m.total, "big": m.big, "name": m.name, "n": len(scores),
                "scores": scores, "pos": {"x": m.pos.x, "y": m.pos.y}, "body": body, "crc": m.crc, "tail": m.tail}

    def medium_encode(d):
        m = pb.Medium(ver=d["ver"], cmd=d["cmd"], seq=d["seq"], uin=d["uin"], time=d["time"], zone=d["zone"],
                      flags=d["flags"])
        add = m.items.add
        for it in d["items"]:
            add(id=it["id"], owner=it["owner"], kind=it["kind"], slot=it["slot"], qty=it["qty"], price=it["price"],
                weight=it["weight"], stamp=it["stamp"], label=it["label"])
        return m.SerializeToString()

    def medium_decode(b):
        m = pb.Medium()
        m.ParseFromString(b)
        items = [{"id": it.id, "owner": it.owner, "kind": it.kind, "slot": it.slot, "qty": it.qty, "price": it.price,
                  "weight": it.weight, "stamp": it.stamp, "label": it.label} for it in m.items]
        return {"ver": m.ver, "cmd": m.cmd, "seq": m.seq, "uin": m.uin, "time": m.time, "zone": m.zone,
                "n": len(items), "flags": m.flags, "items": items}

    return {"small": (small_encode, small_decode), "medium": (medium_encode, medium_decode)}


def best_us(fn, arg):
    """The best of 5 repetitions, in microseconds per call."""
    timer = timeit.Timer(lambda: fn(arg))
    number, _ = timer.autorange()
    return min(timer.repeat(5, number)) / number * 1e6


def main():
    lib = dr.compile(str(ROOT / "bench" / "records.xml"))
    samples = {"small": sample_small(), "medium": sample_medium()}
    codecs = {
        "dr": {name: (lib[t].encode, lib[t].decode) for name, t in (("small", "Small"), ("medium", "Medium"))},
        "struct": {"small": (struct_small_encode, struct_small_decode),
                   "medium": (struct_medium_encode, struct_medium_decode)},
    }
    pb, backend = load_protobuf()
    if pb is not None:
        codecs["protobuf"] = proto_codecs(pb)

    rows = []
    for name, record in samples.items():
        data = codecs["dr"][name][0](record)
        assert codecs["dr"][name][1](data) == record, name
        assert codecs["struct"][name][0](record) == data, name + ": struct bytes differ"
        assert codecs["struct"][name][1](data) == record, name + ": struct decode differs"
        if pb is not None:
            proto = codecs["protobuf"][name][0](record)
            assert codecs["protobuf"][name][1](proto) == record, name + ": protobuf dict differs"
        for op, k in (("encode", 0), ("decode", 1)):
            times = {}
            for codec, table in codecs.items():
                encode = table[name][0]
                arg = record if k == 0 else encode(record)
                times[codec] = best_us(table[name][k], arg)
            rows.append((name, op, times))

    names = list(codecs)
    lines = ["## From Python: the module dr beside struct and protobuf", "",
             "`python3 python/bench.py` (Debian's Python %s on %s, protobuf backend: `%s`): microseconds per call,"
             " the best of 5 repetitions; encode takes a dict to bytes, decode bytes to the same dict." % (
                 platform.python_version(), platform.machine(), backend if pb else "none: " + backend), "",
             "| record | op | " + " | ".join(names) + " | dr / struct | dr / protobuf |",
             "|---|---|" + "---:|" * (len(names) + 2)]
    for name, op, times in rows:
        ratio_pb = "%.2f" % (times["dr"] / times["protobuf"]) if "protobuf" in times else "-"
        lines.append("| %s | %s | %s | %.2f | %s |" % (
            name, op, " | ".join("%.2f" % times[c] for c in names), times["dr"] / times["struct"], ratio_pb))
    lines += ["", "The module walks a type's description in C++ straight between the dict and a host record"
              " (no JSON text between them) and hands the host record to the library's codec; the"
              " struct code is what a careful hand would write for these two layouts, and protobuf"
              " builds its message from the dict and the dict from its message. Run on a machine"
              " shared with other builds: compare the columns of one run, not runs."]
    table = "\n".join(lines) + "\n"
    print(table)
    if "--write" in sys.argv[1:]:
        path = ROOT / "docs" / "benchmarks.md"
        text = path.read_text()
        keep = text.split("## From Python")[0].rstrip("\n")
        path.write_text(keep + "\n\n" + table)
        print("== wrote", path)


if __name__ == "__main__":
    os.environ.setdefault("PYTHONHASHSEED", "0")
    main()
