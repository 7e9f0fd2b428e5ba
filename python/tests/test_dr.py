"""Tests of the Python module dr: round trips over random records of the sample and of
random descriptions, the bytes against drtool's, every error class, threads, leaks."""
import functools
import gc
import io
import json
import os
import pathlib
import re
import socket
import subprocess
import sys
import tempfile
import threading
import tracemalloc

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import dr
import model

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "lobby.xml"
LIB = dr.compile(str(SAMPLE))
TYPES = model.parse(SAMPLE.read_text())
SETTINGS = settings(max_examples=30, deadline=None, suppress_health_check=list(HealthCheck))


def drtool():
    path = os.environ.get("DRTOOL")
    if not path:
        found = sorted(p for p in ROOT.glob("build/*/tools/drtool") if p.is_file())
        path = str(found[0]) if found else None
    if not path or not os.access(path, os.X_OK):
        pytest.skip("drtool is not built (set DRTOOL)")
    return path


def without_netlen(record):
    """Message's bodyLen is written by the encoder, not taken from the record."""
    return {k: v for k, v in record.items() if k != "bodyLen"}


SAMPLE_TYPES = ["Roster", "LoginReq", "LoginRes", "ChatMsg", "Ping", "Message"]


@SETTINGS
@given(st.sampled_from(SAMPLE_TYPES).flatmap(lambda n: st.tuples(st.just(n), model.records(TYPES, n))))
def test_sample_round_trips(case):
    name, record = case
    t = LIB[name]
    assert without_netlen(t.decode(t.encode(record))) == without_netlen(record)
    assert t.unpack(t.pack(record)) == record
    assert without_netlen(t.decode(t.encode(record, version=1), version=1)) == \
        without_netlen(t.unpack(t.pack(record), version=1))


@functools.lru_cache(maxsize=None)
def random_typelib(seed):
    source, top = model.random_source(seed)
    return dr.compile(source), model.parse(source), top


@SETTINGS
@given(st.integers(0, 10**6).flatmap(
    lambda seed: st.tuples(st.just(seed), model.records(random_typelib(seed)[1], random_typelib(seed)[2]))))
def test_random_descriptions_round_trip(case):
    seed, record = case
    lib, _, top = random_typelib(seed)
    t = lib[top]
    data = t.encode(record)
    assert t.decode(data) == record
    assert t.unpack(t.pack(record)) == record
    assert list(dr.iter_decode(t, data * 3)) == [record] * 3


@settings(max_examples=15, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.one_of(
    st.sampled_from(SAMPLE_TYPES).map(lambda n: (LIB, TYPES, n)),
    st.integers(0, 10**6).map(random_typelib)).flatmap(
        lambda c: st.tuples(st.just(c), model.records(c[1], c[2]))))
def test_bytes_equal_drtools(case):
    (lib, _, name), record = case
    with tempfile.TemporaryDirectory() as tmp:
        tlb, rec, out = (os.path.join(tmp, f) for f in ("lib.tlb", "rec.json", "out.bin"))
        pathlib.Path(tlb).write_bytes(lib.image())
        pathlib.Path(rec).write_text(json.dumps(model.to_json(record)))
        subprocess.run([drtool(), "encode", tlb, name, rec, "--json", "-o", out], check=True, capture_output=True)
        assert lib[name].encode(record) == pathlib.Path(out).read_bytes()


def test_typelib_interface():
    assert [t.name for t in LIB.types][:3] == ["Position", "Item", "Player"] and len(LIB) == len(LIB.types)
    assert LIB["Message"] == LIB[40] != "Message" and "Roster" in LIB and 23 in LIB and "Nope" not in LIB
    assert LIB.macros["MAX_PLAYERS"] == 8 and LIB.name == "lobby" and LIB.version == 3
    with pytest.raises(KeyError):
        LIB["Nope"]
    assert dr.compile(LIB.source()).image() == LIB.image() == dr.load(LIB.image()).image()
    assert "<typelib" in LIB.xml() and "Message" in LIB.summary()
    assert "int32_t" in LIB.header() and "int32_t" not in LIB.header(portable=False)
    with tempfile.NamedTemporaryFile(suffix=".tlb") as f:
        f.write(LIB.image())
        f.flush()
        assert dr.load(f.name)["Ping"].size == LIB["Ping"].size


def test_type_keeps_its_typelib_alive():
    t = dr.compile(SAMPLE.read_text())["Ping"]
    gc.collect()
    assert t.decode(t.encode({"clientTick": 5, "flags": 1, "rttMs": 2.5})) == {"clientTick": 5, "flags": 1, "rttMs": 2.5}


def test_renderings():
    login = {"uin": 7, "account": "bob", "password": "pw", "clientVersion": 3, "device": "d", "locale": 9}
    t = LIB["LoginReq"]
    assert json.loads(t.json(login)) == login
    assert "account" in t.xml(login) and "pw" not in t.xml(login)  # io="2" keeps it out of XML
    assert "uin=7" in t.text(login)
    assert "device" not in json.loads(t.json(login, version=1))


def error_of(call):
    with pytest.raises(dr.Error) as info:
        call()
    return info.value


def test_every_error_class():
    roster = LIB["Roster"]
    player = {"uin": 1, "name": "a", "clan": "x", "level": 1, "score": 2,
              "pos": {"x": 1.0, "y": 2.0, "heading": 3}, "items": []}
    # A bad typelib: bytes, a missing file, malformed source.
    for call in (lambda: dr.load(b"not a typelib"), lambda: dr.load("/nonexistent/x.tlb"),
                 lambda: dr.compile("<typelib name='x'><type name='T' class='struct'><item name='a' type='nope'/>"
                                    "</type></typelib>"), lambda: dr.load(LIB.image()[:-1])):
        e = error_of(call)
        assert type(e) is dr.TypelibError and e.reason and e.code > 0
    # A bad record: the member at fault by its path.
    bad = {"players": [player, dict(player, pos={"x": 1.0, "y": 2.0, "heading": 3.5})]}
    e = error_of(lambda: roster.encode(bad))
    assert type(e) is dr.RecordError and e.path == "players[1].pos.heading"
    assert str(e) == "players[1].pos.heading: 3.5 is not an integer of type short"
    for record, path, what in [
            ({"roomId": 70000}, "roomId", "out of range"), ({"roomid": 1}, "", "not a member of Roster"),
            ({"players": [player] * 9}, "players", "too many elements: 9, at most 8"),
            ({"players": [player], "playerCount": 2}, "players", "count member says 2"),
            ({"players": [dict(player, name="n" * 32)]}, "players[0].name", "does not fit"),
            ({"players": 5}, "players", "is not a list"), ([], "", "is not a dict")]:
        e = error_of(lambda: roster.encode(record))
        assert type(e) is dr.RecordError and e.path == path and what in e.reason, (record, e)
    msg = LIB["Message"]
    for body, what in [({"login": {}, "chat": {}}, "one member"), ({"zz": {}}, "not a member of union MsgBody")]:
        assert what in error_of(lambda: msg.encode({"body": body})).reason
    assert "chooses 'chat', not 'login'" in error_of(lambda: msg.encode({"cmd": 3, "body": {"login": {}}})).reason
    # A short buffer, with its network offset; then bytes that are no record.
    data = roster.encode({"roomId": 1, "players": [player, player]})
    for cut in range(len(data)):
        e = error_of(lambda: roster.decode(data[:cut]))
        assert type(e) is dr.ShortBufferError and 0 <= e.net_offset <= cut, (cut, e)
    e = error_of(lambda: roster.decode(data[:2] + b"\x00\x09" + data[4:]))  # 9 players, at most 8
    assert type(e) is dr.RecordError and e.code == 9 and e.net_offset is not None
    assert type(error_of(lambda: roster.decode(data + b"\0"))) is dr.RecordError
    assert type(error_of(lambda: roster.decode("text"))) is dr.RecordError


@settings(max_examples=200, deadline=None)
@given(st.sampled_from(SAMPLE_TYPES), st.binary(max_size=200), st.integers(0, 4))
def test_any_bytes_decode_or_raise(name, data, version):
    t = LIB[name]
    for call in (lambda: t.decode(data, version), lambda: t.unpack(data, version)):
        try:
            assert isinstance(call(), dict)
        except dr.Error as e:
            assert e.reason


def test_streams():
    t = LIB["Message"]
    records = [{"magic": 1, "seq": i, "body": {"chat": {"fromUin": i, "text": "x" * i}}} for i in range(50)]
    data = b"".join(t.encode(r) for r in records)
    decoded = [without_netlen(r) for r in t.iter_decode(data)]
    assert decoded == [without_netlen(t.decode(t.encode(r))) for r in records]

    class Trickle(io.RawIOBase):  # a file that hands out 7 bytes at a time
        def __init__(self):
            self.src = io.BytesIO(data)

        def read(self, n=-1):
            return self.src.read(min(7, n if n >= 0 else 7))

    assert [without_netlen(r) for r in dr.iter_decode(t, Trickle())] == decoded
    a, b = socket.socketpair()
    threading.Thread(target=lambda: (a.sendall(data), a.close())).start()
    assert [without_netlen(r) for r in t.iter_decode(b)] == decoded
    b.close()
    e = error_of(lambda: list(t.iter_decode(data[:-3])))
    assert type(e) is dr.ShortBufferError
    roster = LIB["Roster"]
    good = roster.encode({"roomId": 1, "players": [{"uin": 2}]})
    bad = good[:2] + b"\x00\x09" + good[4:]  # 9 players, at most 8
    e = error_of(lambda: list(roster.iter_decode(good + bad)))
    assert type(e) is dr.RecordError and e.code == 9


BIG = """<typelib name="big" id="9" version="1">
  <type name="Blob" id="1" class="struct" version="1">
    <item name="n" id="1" type="int" /><item name="data" id="2" type="int" count="8000" refer="n" />
    <item name="text" id="3" type="string" count="20000" />
  </type></typelib>"""


def test_many_threads_on_one_typelib():
    lib = dr.compile(BIG)
    blob, roster = lib["Blob"], LIB["Roster"]
    errors = []

    def work(k):
        try:
            for i in range(30):
                r = {"n": 100 * k + i, "data": list(range(k, k + 100 * k + i)), "text": "t%d" % i * 500}
                assert blob.decode(blob.encode(r)) == r
                p = {"roomId": k, "playerCount": 0, "players": []}
                assert roster.unpack(roster.pack(p)) == p
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert not errors


def test_no_leak_over_100000_calls():
    t = LIB["Message"]
    record = {"magic": 1, "seq": 2, "body": {"login": {"uin": 5, "account": "a", "password": b"\xff"}}}
    data = t.encode(record)
    bad = {"body": {"login": {"uin": -1}}}

    def calls(n):
        for _ in range(n):
            t.decode(t.encode(record))
            try:
                t.encode(bad)
            except dr.RecordError:
                pass
            try:
                t.decode(data[:5])
            except dr.ShortBufferError:
                pass
            t.unpack(t.pack(record))

    calls(2000)
    refs = sys.getrefcount(record), sys.getrefcount(data), sys.getrefcount(t)
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    calls(25000)  # 100,000 calls
    grown = tracemalloc.get_traced_memory()[0] - before
    tracemalloc.stop()
    assert (sys.getrefcount(record), sys.getrefcount(data), sys.getrefcount(t)) == refs
    assert grown < 64 * 1024, grown


def test_readme_example():
    text = (ROOT / "README.md").read_text()
    section = text[text.index("## From Python"):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    cwd = os.getcwd()
    os.chdir(ROOT)
    try:
        out = io.StringIO()
        sys.stdout, saved = out, sys.stdout
        try:
            exec(compile(code, "README.md", "exec"), {})
        finally:
            sys.stdout = saved
    finally:
        os.chdir(cwd)
    assert "10001" in out.getvalue()


def test_hostile_objects_do_not_crash():
    roster = LIB["Roster"]
    players = [{"uin": 1}, {"uin": 2}]

    class Key(str):  # a key equal to "players" whose comparison empties the list and encodes
        def __hash__(self):
            return hash("players")

        def __eq__(self, other):
            players.clear()
            assert roster.unpack(roster.pack({"roomId": 9}))["roomId"] == 9
            return str.__eq__(self, other)

    class Big(int):
        pass

    # The inner call runs while the outer record is being written, and must not write into it.
    assert roster.unpack(roster.pack({Key("players"): players})) == {"roomId": 0, "playerCount": 0, "players": []}
    loop = {"uin": 1}
    loop["pos"] = loop
    for record in ({Key("players"): players}, {"roomId": Big(2**70)}, {"roomId": 2**64}, {"players": [loop]},
                   {"players": [{"pos": {"x": "1"}}]}, {"players": [[1]]}, {"players": [{"items": [None]}]},
                   {"players": [{"name": "a\0b"}]}, {"players": [{"name": "\udcff"}]}, {b"roomId": 1},
                   {"roomId": True}, {"players": (x for x in [{"uin": 1}])}, {"players": "ab"}):
        try:
            roster.unpack(roster.pack(record))
        except dr.Error as e:
            assert e.reason
