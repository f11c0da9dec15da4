"""Arrow string columns exported by hand through the PyCapsule interface, with ctypes:
well-formed or broken on purpose (a wrong format, lengths, offsets or bytes), to check
that kivo.batch reads the first as a producer's own and refuses the rest cleanly.

Every struct and buffer lives as long as its exporter; release callbacks count their calls.
"""

from __future__ import annotations

import ctypes
from ctypes import CFUNCTYPE, POINTER, c_char_p, c_int, c_int64, c_void_p

_SCHEMA_NAME, _ARRAY_NAME, _STREAM_NAME = b"arrow_schema", b"arrow_array", b"arrow_array_stream"
_new_capsule = ctypes.pythonapi.PyCapsule_New
_new_capsule.restype = ctypes.py_object
_new_capsule.argtypes = [c_void_p, c_char_p, c_void_p]


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


class ArrowArrayStream(ctypes.Structure):
    pass


RELEASE_SCHEMA = CFUNCTYPE(None, POINTER(ArrowSchema))
RELEASE_ARRAY = CFUNCTYPE(None, POINTER(ArrowArray))
GET_SCHEMA = CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowSchema))
GET_NEXT = CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowArray))
GET_LAST_ERROR = CFUNCTYPE(c_void_p, POINTER(ArrowArrayStream))
_LAST_ERROR = ctypes.create_string_buffer(b"a broken producer")
RELEASE_STREAM = CFUNCTYPE(None, POINTER(ArrowArrayStream))

ArrowSchema._fields_ = [
    ("format", c_char_p), ("name", c_char_p), ("metadata", c_char_p), ("flags", c_int64),
    ("n_children", c_int64), ("children", c_void_p), ("dictionary", c_void_p),
    ("release", RELEASE_SCHEMA), ("private_data", c_void_p),
]  # fmt: skip
ArrowArray._fields_ = [
    ("length", c_int64), ("null_count", c_int64), ("offset", c_int64), ("n_buffers", c_int64),
    ("n_children", c_int64), ("buffers", POINTER(c_void_p)), ("children", c_void_p),
    ("dictionary", c_void_p), ("release", RELEASE_ARRAY), ("private_data", c_void_p),
]  # fmt: skip
ArrowArrayStream._fields_ = [
    ("get_schema", GET_SCHEMA), ("get_next", GET_NEXT), ("get_last_error", GET_LAST_ERROR),
    ("release", RELEASE_STREAM), ("private_data", c_void_p),
]  # fmt: skip


class Column:
    """One array: its format, length, offset and raw buffers (bytes or None), as given."""

    def __init__(self, format, length, buffers, offset=0, null_count=-1):
        self.format, self.length, self.offset, self.null_count = format, length, offset, null_count
        self.raw = [None if b is None else ctypes.create_string_buffer(b, len(b) or 1) for b in buffers]
        self.releases = 0

    def schema(self):
        schema = ArrowSchema(format=self.format.encode(), name=b"texts")
        self._release_schema = RELEASE_SCHEMA(lambda p: setattr(p.contents, "release", RELEASE_SCHEMA()))
        schema.release = self._release_schema
        return schema

    def array(self):
        pointers = (c_void_p * max(1, len(self.raw)))(
            *[None if b is None else ctypes.addressof(b) for b in self.raw])
        self._pointers = pointers

        def release(p):
            self.releases += 1
            p.contents.release = RELEASE_ARRAY()

        self._release_array = RELEASE_ARRAY(release)
        return ArrowArray(length=self.length, null_count=self.null_count, offset=self.offset,
                          n_buffers=len(self.raw), buffers=pointers, release=self._release_array)

    def __arrow_c_array__(self, requested_schema=None):
        self._schema, self._array = self.schema(), self.array()
        return (_new_capsule(ctypes.addressof(self._schema), _SCHEMA_NAME, None),
                _new_capsule(ctypes.addressof(self._array), _ARRAY_NAME, None))


class Stream:
    """Columns handed out one by one through __arrow_c_stream__; fail_at makes get_next (or
    get_schema, with -1) fail there."""

    def __init__(self, columns, format=None, fail_at=None):
        self.columns, self.fail_at = columns, fail_at
        self.format = format or (columns[0].format if columns else "u")

    def releases(self):
        return sum(c.releases for c in self.columns)

    def __arrow_c_stream__(self, requested_schema=None):
        handed = iter(self.columns)
        schema_source = Column(self.format, 0, [None, None, None])
        count = [0]

        def get_schema(stream, out):
            if self.fail_at == -1:
                return 5
            self._schema = schema_source.schema()  # its format string lives as long
            ctypes.memmove(out, ctypes.addressof(self._schema), ctypes.sizeof(ArrowSchema))
            return 0

        def get_next(stream, out):
            if self.fail_at == count[0]:
                return 22
            count[0] += 1
            column = next(handed, None)
            array = ArrowArray() if column is None else column.array()
            ctypes.memmove(out, ctypes.addressof(array), ctypes.sizeof(ArrowArray))
            return 0

        self._callbacks = (GET_SCHEMA(get_schema), GET_NEXT(get_next),
                           GET_LAST_ERROR(lambda s: ctypes.addressof(_LAST_ERROR)),
                           RELEASE_STREAM(lambda p: setattr(p.contents, "release", RELEASE_STREAM())))
        self._stream = ArrowArrayStream(*self._callbacks)
        return _new_capsule(ctypes.addressof(self._stream), _STREAM_NAME, None)


def _validity(items, offset):
    if all(item is not None for item in items):
        return None
    bits = bytearray((offset + len(items) + 7) // 8)
    for k, item in enumerate(items):
        if item is not None:
            bits[(offset + k) // 8] |= 1 << ((offset + k) % 8)
    return bytes(bits)


def utf8(items, *, large=False, offset=0, offsets=None):
    """A utf8 (or large_utf8) column of bytes items (None for a null), `offset` unused slots
    first; offsets replaced when given (broken ones included)."""
    items = [it.encode() if isinstance(it, str) else it for it in items]
    data, ends = b"", [0] * (offset + 1)
    for item in items:
        data += item or b""
        ends.append(len(data))
    if offsets is not None:
        ends = offsets
    width = 8 if large else 4
    packed = b"".join(int(e).to_bytes(width, "little", signed=True) for e in ends)
    return Column("U" if large else "u", len(items), [_validity(items, offset), packed, data], offset)


def string_view(items, *, views=None):
    """A string_view column: strings of 12 bytes or fewer inline, longer ones in two data
    buffers; views replaced by (length, buffer, offset) triples when given."""
    items = [it.encode() if isinstance(it, str) else it for it in items]
    buffers, packed = [b"", b""], b""
    for k, item in enumerate(items):
        item = item or b""
        if len(item) <= 12:
            packed += len(item).to_bytes(4, "little") + item.ljust(12, b"\0")
        else:
            b = k % 2
            packed += (len(item).to_bytes(4, "little") + item[:4] + b.to_bytes(4, "little")
                       + len(buffers[b]).to_bytes(4, "little"))  # fmt: skip
            buffers[b] += item
    if views is not None:
        packed = b"".join(n.to_bytes(4, "little", signed=True) + b"abcd" + i.to_bytes(4, "little", signed=True)
                          + o.to_bytes(4, "little", signed=True) for n, i, o in views)  # fmt: skip
    sizes = b"".join(len(b).to_bytes(8, "little") for b in buffers)
    return Column("vu", len(items), [_validity(items, 0), packed, *buffers, sizes])
