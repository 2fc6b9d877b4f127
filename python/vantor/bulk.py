"""Many UUIDs per call: for DataFrame columns, Parquet files and bulk loads.

    from vantor import bulk
    bulk.uuid7(1_000_000)                  # one bytes object of 16 MB, values in network order
    bulk.uuid7(1_000_000, format="arrow")  # a pyarrow array of the arrow.uuid extension type
    bulk.uuid4(10, format="str")           # ['0c5d…', …]
    bulk.fill_uuid4(numpy_array)           # writes into any writable C-contiguous buffer
    bulk.uuid5(uuid.NAMESPACE_DNS, hosts)  # deterministic ids for a column of natural keys

Formats: "bytes" (16·n bytes; zero-copy to `numpy.frombuffer(b, dtype="V16")`, Arrow
`fixed_size_binary(16)` and PostgreSQL binary COPY), "uuid" (list of `vantor.UUID`), "std" (list
of `uuid.UUID`), "str" (list of hyphenated str) and "arrow" (needs `pip install vantor[arrow]`).

Version-7 values from one process are strictly increasing, within a batch and against every
other version-7 value made by `vantor.uuid7`, `vantor.std.uuid7` or this module, from any
thread. Large batches release the GIL while they are filled.

Long calls check for signals as they go: Ctrl-C raises KeyboardInterrupt within a few
milliseconds, and the partial result is dropped (a buffer given to `fill_uuid4`/`fill_uuid7`
keeps what was written into it before the interrupt).
"""
from __future__ import annotations

import importlib
import sys
import uuid as _uuid
from collections.abc import Sequence
from typing import Any, Literal, SupportsIndex, overload

import vantor as _vantor
from vantor import _native

if sys.version_info >= (3, 12):
    from collections.abc import Buffer
else:
    # 3.11 has no ABC for the buffer protocol; the name only annotates.
    Buffer = Any

__all__ = ["uuid3", "uuid4", "uuid5", "uuid7", "fill_uuid4", "fill_uuid7"]

_Format = Literal["bytes"] | Literal["uuid"] | Literal["std"] | Literal["str"] | Literal["arrow"]
# A pyarrow array of the arrow.uuid extension type; pyarrow is imported only when asked for.
_ArrowUUIDArray = Any
# A sequence of names (str, taken as UTF-8, or bytes-like), or a pyarrow string or binary array.
_Names = Sequence[str | Buffer] | Any
_Namespace = _vantor.UUID | _uuid.UUID


def _pyarrow() -> Any:
    try:
        # Imported by name: pyarrow is optional and ships no type information.
        pyarrow = importlib.import_module("pyarrow")
    except ImportError as error:
        raise ImportError(
            "the 'arrow' format needs pyarrow: install it with `pip install vantor[arrow]`"
        ) from error
    return pyarrow


def _arrow_array(pa: Any, data: bytes) -> _ArrowUUIDArray:
    # The bytes object becomes the array's data buffer as it is: no copy is made.
    storage = pa.FixedSizeBinaryArray.from_buffers(pa.binary(16), len(data) // 16, [None, pa.py_buffer(data)])
    return pa.ExtensionArray.from_storage(pa.uuid(), storage)


@overload
def uuid4(n: SupportsIndex, format: Literal["bytes"] = "bytes") -> bytes: ...
@overload
def uuid4(n: SupportsIndex, format: Literal["uuid"]) -> list[_vantor.UUID]: ...
@overload
def uuid4(n: SupportsIndex, format: Literal["std"]) -> list[_uuid.UUID]: ...
@overload
def uuid4(n: SupportsIndex, format: Literal["str"]) -> list[str]: ...
@overload
def uuid4(n: SupportsIndex, format: Literal["arrow"]) -> _ArrowUUIDArray: ...
def uuid4(n: SupportsIndex, format: _Format = "bytes") -> Any:
    """`n` random (version 4) UUIDs in the given format."""
    if format == "arrow":
        pa = _pyarrow()
        return _arrow_array(pa, _native.bulk_uuid4(n, format))
    return _native.bulk_uuid4(n, format)


@overload
def uuid7(n: SupportsIndex, format: Literal["bytes"] = "bytes") -> bytes: ...
@overload
def uuid7(n: SupportsIndex, format: Literal["uuid"]) -> list[_vantor.UUID]: ...
@overload
def uuid7(n: SupportsIndex, format: Literal["std"]) -> list[_uuid.UUID]: ...
@overload
def uuid7(n: SupportsIndex, format: Literal["str"]) -> list[str]: ...
@overload
def uuid7(n: SupportsIndex, format: Literal["arrow"]) -> _ArrowUUIDArray: ...
def uuid7(n: SupportsIndex, format: _Format = "bytes") -> Any:
    """`n` time-ordered (version 7) UUIDs in the given format, strictly increasing."""
    if format == "arrow":
        pa = _pyarrow()
        return _arrow_array(pa, _native.bulk_uuid7(n, format))
    return _native.bulk_uuid7(n, format)


def fill_uuid4(buffer: Buffer) -> int:
    """Fills a writable C-contiguous buffer (size a multiple of 16) with version-4 UUIDs.

    Returns how many were written. The buffer's items must be plain data (bytes, integers,
    floats); object references, pointers, bools and text raise TypeError. Nothing is written
    when the buffer is not suitable. An interrupt (KeyboardInterrupt, or any exception from a
    signal handler) during a large fill leaves the buffer partly filled.
    """
    return int(_native.bulk_fill_uuid4(buffer))


def fill_uuid7(buffer: Buffer) -> int:
    """Fills a writable C-contiguous buffer (size a multiple of 16) with version-7 UUIDs.

    Returns how many were written. As for `fill_uuid4`, an interrupt during a large fill leaves
    the buffer partly filled.
    """
    return int(_native.bulk_fill_uuid7(buffer))


_ARROW_NAME_TYPES = ("string", "binary", "large_string", "large_binary")


def _arrow_columns(names: Any) -> tuple[memoryview, Any] | None:
    """The offsets and data buffers of a pyarrow string or binary array, or None for other objects."""
    if not type(names).__module__.startswith("pyarrow"):
        return None
    pa = importlib.import_module("pyarrow")
    if isinstance(names, pa.ChunkedArray):
        names = names.combine_chunks()
    if not isinstance(names, pa.Array):
        return None
    kind = names.type
    if pa.types.is_string_view(kind) or pa.types.is_binary_view(kind):
        names = names.cast(pa.large_binary())
        kind = names.type
    if str(kind) not in _ARROW_NAME_TYPES:
        raise TypeError(f"names must be a pyarrow string or binary array, not an array of {kind}")
    if names.null_count:
        first = names.is_null().index(True).as_py()
        raise TypeError(f"names[{first}] is null")
    wide = pa.types.is_large_string(kind) or pa.types.is_large_binary(kind)
    _, offsets, data = names.buffers()
    start = names.offset
    if offsets is None:
        column = memoryview(b"\0" * (8 if wide else 4)).cast("q" if wide else "i")
    else:
        column = memoryview(offsets).cast("B").cast("q" if wide else "i")[start : start + len(names) + 1]
    return column, (b"" if data is None else data)


def _name_based(function: Any, offsets_function: Any, namespace: _Namespace, names: _Names, format: _Format) -> Any:
    pa = _pyarrow() if format == "arrow" else None
    columns = _arrow_columns(names)
    if columns is None:
        result = function(namespace, names, format)
    else:
        result = offsets_function(namespace, columns[0], columns[1], format)
    return result if pa is None else _arrow_array(pa, result)


@overload
def uuid5(namespace: _Namespace, names: _Names, format: Literal["bytes"] = "bytes") -> bytes: ...
@overload
def uuid5(namespace: _Namespace, names: _Names, format: Literal["uuid"]) -> list[_vantor.UUID]: ...
@overload
def uuid5(namespace: _Namespace, names: _Names, format: Literal["std"]) -> list[_uuid.UUID]: ...
@overload
def uuid5(namespace: _Namespace, names: _Names, format: Literal["str"]) -> list[str]: ...
@overload
def uuid5(namespace: _Namespace, names: _Names, format: Literal["arrow"]) -> _ArrowUUIDArray: ...
def uuid5(namespace: _Namespace, names: _Names, format: _Format = "bytes") -> Any:
    """The version 5 (SHA-1) UUID of each name in `namespace`, in the given format.

    `names` holds str (hashed as UTF-8) or bytes-like items, or is a pyarrow string or binary
    array; any other item raises TypeError naming its index. As for a single name, a bytes-like
    item is a sequence of single bytes (bytes, bytearray, memoryview or array of format 'B',
    'b' or 'c'); a numeric array or scalar is not a name.
    """
    return _name_based(_native.bulk_uuid5, _native.bulk_uuid5_offsets, namespace, names, format)


@overload
def uuid3(namespace: _Namespace, names: _Names, format: Literal["bytes"] = "bytes") -> bytes: ...
@overload
def uuid3(namespace: _Namespace, names: _Names, format: Literal["uuid"]) -> list[_vantor.UUID]: ...
@overload
def uuid3(namespace: _Namespace, names: _Names, format: Literal["std"]) -> list[_uuid.UUID]: ...
@overload
def uuid3(namespace: _Namespace, names: _Names, format: Literal["str"]) -> list[str]: ...
@overload
def uuid3(namespace: _Namespace, names: _Names, format: Literal["arrow"]) -> _ArrowUUIDArray: ...
def uuid3(namespace: _Namespace, names: _Names, format: _Format = "bytes") -> Any:
    """The version 3 (MD5) UUID of each name in `namespace`, in the given format.

    `names` as for `uuid5`.
    """
    return _name_based(_native.bulk_uuid3, _native.bulk_uuid3_offsets, namespace, names, format)
