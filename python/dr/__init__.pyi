# Types of the dr module, for editors and type checkers.
import os
import socket
from typing import Any, BinaryIO, Dict, Iterator, List, Optional, Tuple, Union

Record = Dict[str, Any]
"""A record: a dict of member names to int, float, str, bytes, list, or nested dicts."""

Buffer = Union[bytes, bytearray, memoryview]

STREAM_SUPPORT: bool

class Error(Exception):
    """A failure of the record codec."""
    code: int
    """The library's error code (DrErrorCode)."""
    reason: str
    """Its one-line reason."""
    net_offset: Optional[int]
    """The network offset of the failure, where it has one."""
    host_offset: Optional[int]
    """The host offset of the failure, where it has one."""
    path: str
    """The member at fault, as players[1].pos.x; '' when none."""

class TypelibError(Error):
    """A typelib that cannot be loaded or compiled."""

class RecordError(Error):
    """A record that does not fit its type, or bytes that are no record."""

class ShortBufferError(Error):
    """Bytes that end before the record does."""

class Type:
    """One struct or union type of a typelib; it keeps its typelib alive."""
    @property
    def name(self) -> str: ...
    @property
    def id(self) -> int: ...
    @property
    def size(self) -> int:
        """Bytes of one host record."""
    @property
    def version(self) -> int: ...
    @property
    def is_struct(self) -> bool: ...
    @property
    def members(self) -> List[str]: ...
    def encode(self, record: Record, version: int = 0) -> bytes:
        """The network form of a record for `version` (0 = newest)."""
    def decode(self, data: Buffer, version: int = 0, exact: bool = True) -> Record:
        """The record in a network form; with exact, bytes after it are an error."""
    def pack(self, record: Record) -> bytes:
        """The host form: the bytes a C program holds."""
    def unpack(self, data: Buffer, version: int = 0) -> Record:
        """A host record as a dict."""
    def text(self, record: Record, version: int = 0) -> str:
        """The record as one line of text."""
    def xml(self, record: Record, version: int = 0) -> str:
        """The record as XML."""
    def json(self, record: Record, version: int = 0, indent: int = 0) -> str:
        """The record as JSON."""
    def iter_decode(self, stream: Union[Buffer, BinaryIO, socket.socket], version: int = 0) -> Iterator[Record]:
        """Each record of back-to-back network records."""
    def _measure(self, data: Buffer, offset: int = 0, version: int = 0) -> Tuple[int, int]: ...

class Typelib:
    """The descriptions of record types; safe to share between threads."""
    @property
    def name(self) -> str: ...
    @property
    def id(self) -> int: ...
    @property
    def version(self) -> int: ...
    @property
    def types(self) -> List[Type]: ...
    @property
    def macros(self) -> Dict[str, int]: ...
    def __getitem__(self, key: Union[str, int]) -> Type: ...
    def __contains__(self, key: object) -> bool: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Type]: ...
    def xml(self) -> str:
        """The typelib described as XML."""
    def source(self) -> str:
        """The XML source that compile() turns back into the same typelib."""
    def header(self, portable: bool = True, prefix: str = "", guard: str = "") -> str:
        """A C header declaring every macro and type."""
    def summary(self) -> str:
        """A plain-text listing of every macro, type and member."""
    def image(self) -> bytes:
        """The typelib image, as load() reads it back."""

def load(source: Union[str, os.PathLike, Buffer]) -> Typelib:
    """A typelib from an image: a path, or the image's bytes."""

def compile(source: Union[str, bytes, os.PathLike]) -> Typelib:
    """A typelib compiled from its XML source (text or a path)."""

def iter_decode(type_: Type, stream: Union[Buffer, BinaryIO, socket.socket], version: int = 0) -> Iterator[Record]:
    """Each record of back-to-back network records in bytes, a file or a socket."""
