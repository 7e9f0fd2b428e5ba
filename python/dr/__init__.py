"""Records of typelib-described types, from Python.

A typelib describes C record types; with it a record (a dict) is encoded into its network
form and decoded back, packed into the host form a C program holds, and rendered as text,
XML or JSON::

    import dr
    lib = dr.compile("examples/lobby.xml")
    msg = lib["Message"]
    data = msg.encode({"magic": 0x4C42, "seq": 1, "body": {"login": {"uin": 10001}}})
    assert msg.decode(data)["body"]["login"]["uin"] == 10001

Failures raise dr.Error: dr.TypelibError, dr.RecordError or dr.ShortBufferError.
"""

import io as _io

from ._dr import (  # noqa: F401
    STREAM_SUPPORT,
    Error,
    RecordError,
    ShortBufferError,
    Type,
    Typelib,
    TypelibError,
    compile,
    load,
)

__all__ = [
    "Error", "RecordError", "ShortBufferError", "Type", "Typelib", "TypelibError",
    "compile", "iter_decode", "load", "STREAM_SUPPORT",
]

_CHUNK = 64 * 1024


def _reader(stream):
    """A function that returns the next bytes of `stream` (b"" at its end)."""
    if isinstance(stream, (bytes, bytearray, memoryview)):
        return _io.BytesIO(bytes(stream)).read1
    if hasattr(stream, "recv"):
        return lambda n: stream.recv(n)
    read = getattr(stream, "read1", None) or getattr(stream, "read", None)
    if read is None:
        raise TypeError("iter_decode reads bytes, a binary file or a socket, not %s" % type(stream).__name__)
    return read


def iter_decode(type_, stream, version=0):
    """Yields each record (a dict) of the back-to-back network records in `stream`.

    `stream` is bytes, a binary file (anything with read) or a socket (anything with recv).
    Bytes are read as they are needed; a record cut short by the end of the stream raises
    dr.ShortBufferError, and bytes that are no record raise dr.RecordError.
    """
    read = _reader(stream)
    buf = bytearray()
    pos = 0
    ended = False
    while True:
        if pos >= len(buf) and ended:
            return
        # (0, the record's length) or (1, the least bytes from pos to have before asking again)
        state, length = type_._measure(buf, pos, version) if pos < len(buf) else (1, 1)
        if state == 0:
            yield type_.decode(memoryview(buf)[pos:pos + length], version)
            pos += length
            if pos > _CHUNK:
                del buf[:pos]
                pos = 0
            continue
        if ended:
            err = ShortBufferError(
                "the stream ends %d bytes into a record of type %s" % (len(buf) - pos, type_.name))
            err.code, err.reason, err.path = 15, "the stream ends inside a record", ""
            err.net_offset, err.host_offset = len(buf) - pos, None
            raise err
        while len(buf) - pos < length:
            chunk = read(max(_CHUNK, length - (len(buf) - pos)))
            if not chunk:
                ended = True
                break
            buf += chunk


Type.iter_decode = lambda self, stream, version=0: iter_decode(self, stream, version)
Type.iter_decode.__doc__ = iter_decode.__doc__
