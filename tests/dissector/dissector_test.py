#!/usr/bin/env python3
"""The generated Wireshark dissector under tshark must agree with drtool decode --json on every
field of every record: the sample protocol's records and random records of random descriptions,
over UDP and over TCP (one record across three segments, three records in one segment). Cut
and damaged records must show expert info, and no Lua error may appear.

Exit status 77 when tshark is not installed (the test is then skipped)."""
import argparse
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SAMPLES = ["login", "chat", "ping", "roster"]


# ---- captures ----------------------------------------------------------------------------

def checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    s = (s >> 16) + (s & 0xFFFF)
    s += s >> 16
    return ~s & 0xFFFF


def ipv4(proto, payload):
    head = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), 1, 0, 64, proto, 0,
                       bytes([10, 0, 0, 1]), bytes([10, 0, 0, 2]))
    head = head[:10] + struct.pack("!H", checksum(head)) + head[12:]
    return b"\0" * 12 + b"\x08\x00" + head + payload


def udp(payload, port):
    return ipv4(17, struct.pack("!HHHH", 40000, port, 8 + len(payload), 0) + payload)


class TcpFlow:
    """Segments of one TCP connection, sequence numbers counted from a handshake."""

    def __init__(self, port):
        self.port, self.seq = port, 1000

    def segment(self, payload, flags=0x18):
        head = struct.pack("!HHIIBBHHH", 40001, self.port, self.seq, 1, 5 << 4, flags, 65535, 0, 0)
        self.seq += len(payload) + (1 if flags & 0x02 else 0)
        return ipv4(6, head + payload)


def write_pcap(path, frames):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
        for i, frame in enumerate(frames):
            f.write(struct.pack("<IIII", i, 0, len(frame), len(frame)))
            f.write(frame)


# ---- the description, as the generated dissector holds it --------------------------------

TYPE_LINE = re.compile(r'^  \{ name = "([^"]*)", struct = (true|false),')
MEMBER_LINE = re.compile(r'^    \{ n = "([^"]*)", kind = "(\w+)", .* meta = (nil|\d+), union = (true|false) \},')


def read_types(lua_path):
    types = []
    with open(lua_path) as f:
        for line in f:
            if m := TYPE_LINE.match(line):
                types.append({"name": m.group(1), "members": []})
            elif m := MEMBER_LINE.match(line):
                meta = None if m.group(3) == "nil" else int(m.group(3)) - 1
                types[-1]["members"].append({"n": m.group(1), "kind": m.group(2), "meta": meta})
    return types


# ---- comparing one record ----------------------------------------------------------------

class Mismatch(Exception):
    pass


def as_list(v):
    return v if isinstance(v, list) else [v]


def number(text):
    t = str(text).strip().lower()
    if t in ("nan", "-nan"):
        return math.nan
    if t in ("inf", "infinity"):
        return math.inf
    if t in ("-inf", "-infinity"):
        return -math.inf
    if t.startswith("nan("):
        return math.nan
    return float(t)


def same_number(kind, shown, expected):
    if kind in ("float", "double"):
        a, b = number(shown), number(expected)
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        if math.isinf(a) or math.isinf(b):
            return a == b
        if kind == "float":  # tshark shows a float with 6 digits
            return abs(a - b) <= 1e-5 * max(abs(b), 1e-30) or struct.pack("<f", a) == struct.pack("<f", b)
        return abs(a - b) <= 1e-14 * max(abs(b), 1e-300)
    return int(str(shown), 0) == int(str(expected))


def text_bytes(s):
    return s.encode("utf-8", "surrogateescape") if isinstance(s, str) else bytes(x & 0xFF for x in s)


class Comparer:
    def __init__(self, proto, types):
        self.proto, self.types, self.fields = proto, types, 0

    def record(self, type_index, value, tree):
        t = self.types[type_index]
        keys = set()
        for m in t["members"]:
            key = "%s.%s.%s" % (self.proto, t["name"], m["n"])
            if m["n"] not in value:
                if key in tree:
                    raise Mismatch("%s is shown but not decoded" % key)
                continue
            keys.add(key)
            v = value[m["n"]]
            if m["meta"] is not None:
                elements = as_list(v)
                if not elements:
                    if key in tree:
                        raise Mismatch("%s: no element decoded, some shown" % key)
                    continue
                subtrees = as_list(tree.get(key, []))
                if len(subtrees) != len(elements):
                    raise Mismatch("%s: %d elements decoded, %d shown" % (key, len(elements), len(subtrees)))
                for e, sub in zip(elements, subtrees):
                    self.record(m["meta"], e, sub)
                continue
            if key not in tree:
                if m["kind"] == "bytes" or (isinstance(v, list) and not v):
                    expected = text_bytes(v)
                    if not expected.strip(b"\0"):
                        self.fields += 1
                        continue
                raise Mismatch("%s is decoded but not shown" % key)
            shown = tree[key]
            self.fields += 1
            if m["kind"] == "bytes":
                got = bytes.fromhex(str(shown).replace(":", ""))
                expected = text_bytes(v)
                if got[:len(expected)] != expected or got[len(expected):].strip(b"\0"):
                    raise Mismatch("%s: shown %r, decoded %r" % (key, got, expected))
            elif m["kind"] == "string":
                # tshark shows what is not UTF-8 as U+FFFD, as Python's decoder does.
                if shown != text_bytes(v).decode("utf-8", "replace"):
                    raise Mismatch("%s: shown %r, decoded %r" % (key, shown, v))
            else:
                got, expected = as_list(shown), as_list(v)
                if len(got) != len(expected) or not all(
                        same_number(m["kind"], a, b) for a, b in zip(got, expected)):
                    raise Mismatch("%s: shown %r, decoded %r" % (key, shown, v))
        extra = {k for k in tree if k not in keys and k not in (self.proto + ".length", "_ws.expert")}
        if extra:
            raise Mismatch("shown beyond the decoded record: %s" % sorted(extra))


# ---- running the tools -------------------------------------------------------------------

def run(cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, **kw)
    if r.returncode != 0:
        raise SystemExit("FAILED: %s\n%s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
    return r.stdout


def tshark(pcap, scripts, *extra):
    cmd = ["tshark", "-n", "-r", pcap]
    for s in scripts:
        cmd += ["-X", "lua_script:" + s]
    return run(cmd + list(extra), env=dict(os.environ, HOME=os.path.dirname(pcap))).decode()


def tshark_json(pcap, scripts, *extra):
    return json.loads(tshark(pcap, scripts, "-T", "json", "--no-duplicate-keys", *extra))


def decode_stream(drtool, lib, type_name, path):
    out = run([drtool, "decode", "--stream", "--json", lib, type_name, path]).decode()
    return [json.loads(line) for line in out.splitlines()]


def layers(packet):
    return packet["_source"]["layers"]


def expert_texts(node, out):
    """Every expert info message in a packet's tree."""
    if isinstance(node, dict):
        for k, v in node.items():
            if k == "_ws.expert.message":
                out.extend(as_list(v))
            expert_texts(v, out)
    elif isinstance(node, list):
        for v in node:
            expert_texts(v, out)
    return out


def check(cond, what):
    if not cond:
        raise SystemExit("FAILED: " + what)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--drtool", required=True)
    ap.add_argument("--cases", required=True)
    ap.add_argument("--examples", required=True)
    ap.add_argument("--descriptions", type=int, default=40)
    ap.add_argument("--records", type=int, default=9)
    args = ap.parse_args()
    if shutil.which("tshark") is None:
        print("tshark is not installed: the dissector test is skipped")
        return 77
    work = tempfile.mkdtemp(prefix="dissector-")
    try:
        records, fields = random_descriptions(args, work)
        sample_records, sample_fields = sample_protocol(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("agreement: %d random records (%d fields) and %d sample records (%d fields)"
          % (records, fields, sample_records, sample_fields))
    return 0


def random_descriptions(args, work):
    """One capture, one tshark run: every description a protocol of its own on its own port."""
    run([args.cases, work, str(args.descriptions), str(args.records)])
    scripts, frames, expected = [], [], []
    for n in range(1, args.descriptions + 1):
        lib, lua, name = "%s/lib%d.tlb" % (work, n), "%s/rand%d.lua" % (work, n), "rand%d" % n
        run([args.drtool, "dissector", lib, "Top", "--name", name, "--udp", str(20000 + n), "-o", lua])
        scripts.append(lua)
        data = open("%s/rec%d.bin" % (work, n), "rb").read()
        lengths = [int(x) for x in open("%s/rec%d.len" % (work, n)).read().split()]
        decoded = decode_stream(args.drtool, lib, "Top", "%s/rec%d.bin" % (work, n))
        check(len(decoded) == len(lengths), "%s: drtool decoded %d of %d records" % (name, len(decoded), len(lengths)))
        at = 0
        types = read_types(lua)
        for length, value in zip(lengths, decoded):
            frames.append(udp(data[at:at + length], 20000 + n))
            expected.append((name, types, value))
            at += length
    pcap = work + "/random.pcap"
    write_pcap(pcap, frames)
    packets = tshark_json(pcap, scripts)
    check(len(packets) == len(frames), "tshark shows %d of %d frames" % (len(packets), len(frames)))
    fields = 0
    for i, (packet, (name, types, value)) in enumerate(zip(packets, expected)):
        tree = layers(packet).get(name)
        check(isinstance(tree, dict), "frame %d: no %s record shown" % (i + 1, name))
        # A selector that chooses no member is sound, and worth a note.
        notes = [t for t in expert_texts(tree, []) if "chooses no member" not in t]
        check(not notes, "frame %d: expert info on a sound record: %s" % (i + 1, notes))
        c = Comparer(name, types)
        try:
            c.record(0, value, tree)
        except Mismatch as e:
            raise SystemExit("FAILED: frame %d (%s): %s" % (i + 1, name, e))
        fields += c.fields
    check(len(expected) >= 300, "only %d random records" % len(expected))
    no_lua_errors(pcap, scripts, "rand1")
    return len(expected), fields


def lua_versions(path):
    """The dissector parses under the oldest and newest Lua that Wireshark builds use."""
    for luac in ("luac5.1", "luac5.4"):
        if shutil.which(luac) is None:
            print("%s is not installed: the dissector is not parsed as its Lua" % luac)
            continue
        run([luac, "-p", path])


def sample_protocol(args, work):
    ex = args.examples
    lib = ex + "/proto.tlb"
    lua = work + "/lobby.lua"
    run([args.drtool, "dissector", lib, "Message", "--tcp", "7000", "--udp", "7000", "-o", lua])
    lua_versions(lua)
    jsonl = work + "/sample.jsonl"
    with open(jsonl, "w") as f:
        for s in SAMPLES:
            f.write(json.dumps(json.load(open("%s/%s.json" % (ex, s)))) + "\n")
    stream = run([args.drtool, "encode", "--stream", lib, "Message", jsonl])
    stream_path = work + "/sample.bin"
    open(stream_path, "wb").write(stream)
    decoded = decode_stream(args.drtool, lib, "Message", stream_path)
    recs, at = [], 0
    for _ in decoded:  # each record's length from its own head: 10 bytes and bodyLen
        n = 10 + struct.unpack("!H", stream[at + 2:at + 4])[0]
        recs.append(stream[at:at + n])
        at += n
    check(at == len(stream), "the sample stream is not %d whole records" % len(decoded))

    frames, expect = [], []  # expect: frame index -> decoded records shown there
    for r, value in zip(recs, decoded):  # each record alone over UDP
        frames.append(udp(r, 7000))
        expect.append([value])
    flow = TcpFlow(7000)
    frames.append(flow.segment(b"", 0x02))  # SYN
    expect.append([])
    big = recs[3]
    for piece in (big[:7], big[7:40], big[40:]):  # one record in three segments
        frames.append(flow.segment(piece))
        expect.append([])
    expect[-1] = [decoded[3]]
    frames.append(flow.segment(recs[0] + recs[1] + recs[2]))  # three records in one segment
    expect.append(decoded[:3])
    other = TcpFlow(7100)  # a port given only by Decode As
    frames.append(other.segment(b"", 0x02))
    expect.append([])
    frames.append(other.segment(recs[2]))
    expect.append([decoded[2]])
    # Damaged records over UDP: each shows expert info and nothing else breaks.
    chat = bytearray(recs[1] if decoded[1]["cmd"] == 3 else recs[0])
    roster = bytearray(recs[3])
    damaged = []
    damaged.append(("cut", bytes(recs[0][:len(recs[0]) - 3])))
    bad_len = bytearray(chat)  # the chat text's 4-byte length, far over its capacity
    text_at = 10 + 4 + 4 + 1 + 4 + 4
    bad_len[text_at:text_at + 4] = struct.pack("!I", 5000)
    damaged.append(("bad", bytes(bad_len)))
    over = bytearray(roster)  # playerCount 9, over MAX_PLAYERS
    over[12:14] = struct.pack("!H", 9)
    damaged.append(("bad", bytes(over)))
    short = bytearray(roster)  # the first player's length field says 3 bytes fewer
    plen = struct.unpack("!H", short[14:16])[0]
    short[14:16] = struct.pack("!H", plen - 3)
    damaged.append(("length_disagrees", bytes(short)))
    first_damaged = len(frames)
    for _, payload in damaged:
        frames.append(udp(payload, 7000))
        expect.append(None)
    pcap = work + "/sample.pcap"
    write_pcap(pcap, frames)
    packets = tshark_json(pcap, [lua], "-d", "tcp.port==7100,lobby")
    check(len(packets) == len(frames), "tshark shows %d of %d frames" % (len(packets), len(frames)))
    types = read_types(lua)
    records = fields = 0
    for i, (packet, values) in enumerate(zip(packets, expect)):
        if values is None:
            continue
        shown = as_list(layers(packet).get("lobby", []))
        check(len(shown) == len(values), "frame %d: %d records shown, %d expected" % (i + 1, len(shown), len(values)))
        for tree, value in zip(shown, values):
            c = Comparer("lobby", types)
            try:
                c.record(0, value, tree)
            except Mismatch as e:
                raise SystemExit("FAILED: sample frame %d: %s" % (i + 1, e))
            records += 1
            fields += c.fields
    for (kind, _), packet in zip(damaged, packets[first_damaged:]):
        experts = json.dumps(layers(packet))
        check('"lobby.%s"' % kind in experts, "%s record: no lobby.%s expert info in %s" % (kind, kind, experts[:400]))
    wanted = sum(len(v) for v in expect if v is not None)
    check(records == wanted, "%d of %d sample records compared" % (records, wanted))
    # The Info column names the type and the chosen member.
    info = tshark(pcap, [lua], "-T", "fields", "-e", "_ws.col.Info", "-Y", "frame.number == %d" % (first_damaged - 2))
    check("Message (login)" in info and "Message (chat)" in info, "Info column: %r" % info)
    no_lua_errors(pcap, [lua], "lobby.LoginReq.uin == 10001")
    readme_examples(args, work, lua, frames[1], stream_path)
    return records, fields


def readme_block(text, heading, opening):
    """The first block that opens with `opening` after `heading` in the README."""
    at = text.index(opening, text.index(heading)) + len(opening)
    return text[at:text.index("```" if opening.startswith("```") else "\n\n", at)]


def readme_examples(args, work, lua, chat_frame, stream_path):
    """The README's tshark -V excerpt and its stream example are what the tools give."""
    readme = open(os.path.join(args.examples, "..", "README.md")).read()
    shown = readme_block(readme, "## Seeing the protocol in Wireshark", "```text\n")
    pcap = work + "/lobby.pcap"
    write_pcap(pcap, [chat_frame])
    out = tshark(pcap, [lua], "-V")
    check(shown in out, "the README's tshark -V excerpt is not what tshark shows:\n" + out)
    example = readme_block(readme, "### Records in a stream", "    $ drtool encode --stream")
    lines = [line[4:] for line in example.splitlines()[2:]]
    with open(work + "/records.jsonl", "w") as f:
        for name in ("chat", "ping"):
            f.write(json.dumps(json.load(open("%s/%s.json" % (args.examples, name)))) + "\n")
    net = run([args.drtool, "encode", "--stream", args.examples + "/proto.tlb", "Message", work + "/records.jsonl"])
    open(work + "/records.net", "wb").write(net)
    got = run([args.drtool, "decode", "--stream", "--json", args.examples + "/proto.tlb", "Message",
               work + "/records.net"]).decode().splitlines()
    check(got == lines, "the README's stream example gives %s, not %s" % (got, lines))


def no_lua_errors(pcap, scripts, known):
    """A display filter on _ws.lua.error finds nothing, while the same run finds `known`."""
    out = tshark(pcap, scripts, "-Y", "_ws.lua.error || " + known, "-T", "fields", "-e", "frame.number",
                 "-e", "_ws.lua.error")
    rows = [line.split("\t") for line in out.splitlines() if line.strip()]
    check(rows, "the filter %r found nothing" % known)
    errors = [r for r in rows if len(r) > 1 and r[1].strip()]
    check(not errors, "Lua errors: %s" % errors)


if __name__ == "__main__":
    sys.exit(main())
