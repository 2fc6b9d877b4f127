"""`vantor.bulk`: many UUIDs per call, as one buffer or a list, and the fill functions."""
import array
import ctypes
import os
import sys
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

import std_reference
import vantor
from conftest import Index
from shims import child_result
from vantor import bulk

try:
    import numpy as np
except ImportError:
    np = None
try:
    import pyarrow as pa
except ImportError:
    pa = None

needs_numpy = pytest.mark.skipif(np is None, reason="numpy is not installed (no wheel for this Python)")
needs_pyarrow = pytest.mark.skipif(pa is None, reason="pyarrow is not installed (no wheel for this Python)")

GENERATORS = [pytest.param(bulk.uuid4, 4, id="uuid4"), pytest.param(bulk.uuid7, 7, id="uuid7")]
FILLS = [pytest.param(bulk.fill_uuid4, 4, id="fill_uuid4"), pytest.param(bulk.fill_uuid7, 7, id="fill_uuid7")]
# Chunk edges of the native loops (256 per chunk) and the size from which the GIL is released.
SIZES = [0, 1, 255, 256, 257, 5000]


def values_of(result, format):
    """The 128-bit values of a result in any format, in order."""
    if format == "bytes":
        return [int.from_bytes(result[i : i + 16], "big") for i in range(0, len(result), 16)]
    if format == "arrow":
        return [int.from_bytes(b, "big") for b in result.storage.to_pylist()]
    if format == "str":
        return [uuid.UUID(text).int for text in result]
    return [u.int for u in result]


def assert_version(values, version):
    for value in values:
        assert (value >> 76) & 0xF == version
        assert (value >> 62) & 0b11 == 0b10


# ---- formats -----------------------------------------------------------------------------------


@pytest.mark.parametrize("generate, version", GENERATORS)
@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize(
    "format, expected_type, item_type",
    [
        ("bytes", bytes, None),
        ("uuid", list, vantor.UUID),
        ("std", list, uuid.UUID),
        ("str", list, str),
        pytest.param("arrow", None, None, marks=needs_pyarrow),
    ],
)
def test_formats(generate, version, n, format, expected_type, item_type):
    result = generate(n, format=format)
    assert isinstance(result, expected_type or pa.ExtensionArray)
    values = values_of(result, format)
    assert len(values) == n
    assert len(set(values)) == n
    assert_version(values, version)
    if item_type is not None:
        assert all(type(item) is item_type for item in result)
    if format == "str":
        assert all(text == str(uuid.UUID(text)) for text in result)
    if format == "std":
        # Made like the standard class's own constructor would make them.
        assert all(u.is_safe is uuid.SafeUUID.unknown and u == uuid.UUID(int=u.int) for u in result)
    if format == "arrow":
        assert result.type == pa.uuid()
        assert result.null_count == 0


@needs_numpy
@needs_pyarrow
def test_bytes_go_to_numpy_and_arrow_without_copies():
    data = bulk.uuid7(1000)
    array = np.frombuffer(data, dtype="V16")
    assert array.shape == (1000,) and array[3].tobytes() == data[48:64]
    arrow = bulk.uuid7(1000, format="arrow")
    assert arrow.storage.buffers()[1].size == 16_000


def test_default_format_is_bytes_and_keywords_work():
    assert len(bulk.uuid4(3)) == 48
    assert len(bulk.uuid7(n=3, format="str")) == 3


@pytest.mark.parametrize("n", [2, 256, 257, 10_000])
@pytest.mark.parametrize("format", ["bytes", "uuid", "str", pytest.param("arrow", marks=needs_pyarrow)])
def test_uuid7_batches_increase_strictly_within_and_across_calls(n, format):
    values = []
    for _ in range(3):
        values += values_of(bulk.uuid7(n, format=format), format)
        values.append(vantor.uuid7().int)
    assert all(a < b for a, b in zip(values, values[1:]))


def test_uuid4_values_are_random():
    values = values_of(bulk.uuid4(20_000), "bytes")
    assert len(set(values)) == len(values)
    # Every one of the 122 free bits takes both values across the batch.
    ones = 0
    zeros = 0
    for value in values:
        ones |= value
        zeros |= ~value
    free = ((1 << 128) - 1) & ~(0xF << 76) & ~(0b11 << 62)
    assert ones & free == free and zeros & free == free


# ---- bad input ---------------------------------------------------------------------------------


@pytest.mark.parametrize("generate", [bulk.uuid4, bulk.uuid7])
@pytest.mark.parametrize(
    "args, error, match",
    [
        ((-1,), ValueError, "n must not be negative"),
        ((-(2**70),), ValueError, "n must not be negative"),
        ((1.0,), TypeError, "n must be an int, not float"),
        (("3",), TypeError, "n must be an int, not str"),
        ((None,), TypeError, "n must be an int, not NoneType"),
        ((True,), TypeError, "n must be an int, not bool"),
        ((2**70,), OverflowError, "n is too large"),
        ((2**60,), OverflowError, "n is too large"),
        # AddressSanitizer aborts on an allocation this size instead of failing it.
        pytest.param((2**58,), MemoryError, None, marks=pytest.mark.skipif(
            bool(os.environ.get("VANTOR_UNDER_ASAN")), reason="the sanitizer's allocator aborts")),
        ((3, "json"), ValueError, "format must be one of 'bytes', 'uuid', 'std', 'str' or 'arrow', not 'json'"),
        ((3, "BYTES"), ValueError, "format must be one of"),
        ((3, b"bytes"), TypeError, "format must be a str, not bytes"),
        ((3, None), TypeError, "format must be a str, not NoneType"),
        ((), TypeError, "missing 1 required positional argument: 'n'"),
        ((1, "bytes", 3), TypeError, "takes from 1 to 2 positional arguments"),
    ],
)
def test_bad_arguments(generate, args, error, match):
    with pytest.raises(error, match=match):
        generate(*args)


@pytest.mark.parametrize("generate", [bulk.uuid4, bulk.uuid7])
@pytest.mark.parametrize("n", [0, 5])
def test_index_objects_count(generate, n):
    assert len(generate(Index(n))) == 16 * n


@pytest.mark.parametrize("generate", [bulk.uuid4, bulk.uuid7])
def test_arrow_without_pyarrow_names_the_extra(generate, monkeypatch):
    # Whether pyarrow is installed or not: the import is made to fail.
    monkeypatch.setitem(sys.modules, "pyarrow", None)  # makes `import pyarrow` fail
    with pytest.raises(ImportError, match=r"vantor\[arrow\]"):
        generate(3, format="arrow")
    assert len(generate(3)) == 48


# ---- fill --------------------------------------------------------------------------------------


# Writable C-contiguous buffers of a given size.
BUFFERS = [
    pytest.param(bytearray, id="bytearray"),
    pytest.param(lambda size: memoryview(bytearray(size)), id="memoryview"),
    # Not 4-byte aligned: the keystream cannot be written in words.
    pytest.param(lambda size: memoryview(bytearray(size + 1))[1:], id="unaligned-memoryview"),
    pytest.param(lambda size: np.zeros(size, dtype=np.uint8), id="numpy-uint8", marks=needs_numpy),
    pytest.param(lambda size: np.zeros(size // 16, dtype="V16"), id="numpy-V16", marks=needs_numpy),
    pytest.param(lambda size: np.zeros((size // 16, 2), dtype=np.uint64), id="numpy-2d", marks=needs_numpy),
    # Any plain data: every bit pattern is a value of its items.
    pytest.param(lambda size: np.zeros(size // 8, dtype=np.float64), id="numpy-float64", marks=needs_numpy),
    pytest.param(lambda size: np.zeros(size // 16, dtype=np.complex128), id="numpy-complex", marks=needs_numpy),
    pytest.param(lambda size: np.zeros(size // 16, dtype=[("a", "<u8"), ("b", ">i4"), ("c", "f4")]),
                 id="numpy-structured", marks=needs_numpy),
    pytest.param(lambda size: (ctypes.c_uint16 * (size // 2))(), id="ctypes-uint16"),
]


@pytest.mark.parametrize("fill, version", FILLS)
@pytest.mark.parametrize("size", [16, 16 * 300, 16 * 5000])
@pytest.mark.parametrize("make", BUFFERS)
def test_fill_writes_every_value(fill, version, size, make):
    buffer = make(size)
    assert fill(buffer) == size // 16
    data = bytes(memoryview(buffer).cast("B"))
    values = values_of(data, "bytes")
    assert len(set(values)) == len(values)
    assert_version(values, version)
    if version == 7:
        assert values == sorted(values)


@pytest.mark.parametrize("fill", [bulk.fill_uuid4, bulk.fill_uuid7])
def test_fill_empty_buffer(fill):
    assert fill(bytearray()) == 0


@pytest.mark.parametrize("fill", [bulk.fill_uuid4, bulk.fill_uuid7])
@pytest.mark.parametrize(
    "make, error, match",
    [
        (lambda: bytearray(15), ValueError, "multiple of 16 bytes, not 15"),
        (lambda: bytearray(33), ValueError, "multiple of 16 bytes, not 33"),
        (lambda: bytes(32), BufferError, "read-only"),
        (lambda: memoryview(bytearray(32)).toreadonly(), BufferError, "read-only"),
        (lambda: memoryview(bytearray(64))[::2], BufferError, "C-contiguous"),
        pytest.param(lambda: np.zeros((4, 8), dtype=np.uint8).T, BufferError, "C-contiguous", marks=needs_numpy),
        (lambda: 32, TypeError, "needs a writable buffer .*, not int"),
        (lambda: [0] * 16, TypeError, "not list"),
        # Items that are not plain data: random bytes over object pointers crashed the interpreter.
        pytest.param(lambda: np.empty(4, dtype=object), TypeError, "plain data .* format 'O'", marks=needs_numpy),
        (lambda: (ctypes.py_object * 4)(), TypeError, "plain data .* format '<O'"),
        pytest.param(lambda: np.zeros(2, dtype=[("n", "<i8"), ("o", "O")]), TypeError, "plain data .* format 'T",
                     marks=needs_numpy),
        (lambda: (ctypes.c_void_p * 4)(), TypeError, "plain data .* format '<P'"),
        (lambda: (ctypes.c_bool * 16)(), TypeError, "plain data .* format '<\\?'"),
        pytest.param(lambda: np.zeros(4, dtype="U4"), TypeError, "plain data .* format '4w'", marks=needs_numpy),
    ],
)
def test_fill_rejects_unsuitable_buffers_and_writes_nothing(fill, make, error, match):
    buffer = make()
    before = bytes(memoryview(buffer).tobytes()) if not isinstance(buffer, (int, list)) else None
    with pytest.raises(error, match=match):
        fill(buffer)
    if before is not None:
        assert memoryview(buffer).tobytes() == before


def test_fill_of_object_array_leaves_the_objects_intact():
    # The reproduction: writing over the object pointers made `del` of the array crash.
    items = (ctypes.py_object * 4)(*(object() for _ in range(4)))
    with pytest.raises(TypeError):
        bulk.fill_uuid4(items)
    del items


def test_fill_holds_the_buffer_while_writing():
    # The buffer stays exported for the whole fill: a bytearray cannot be resized under it.
    buffer = bytearray(16 * 10_000)
    bulk.fill_uuid4(buffer)
    buffer.extend(b"x")  # released again afterwards
    assert len(buffer) == 16 * 10_000 + 1


# ---- name-based --------------------------------------------------------------------------------

names_strategy = st.lists(st.one_of(st.text(), st.binary()), max_size=300)
namespace_strategy = st.sampled_from(
    [uuid.NAMESPACE_DNS, uuid.NAMESPACE_URL, vantor.NAMESPACE_OID, vantor.UUID(int=0), uuid.UUID(int=2**128 - 1)]
)
NAME_BASED = [
    pytest.param(bulk.uuid3, std_reference.uuid3, id="uuid3"),
    pytest.param(bulk.uuid5, std_reference.uuid5, id="uuid5"),
]


def standard(reference, namespace, name):
    return reference(uuid.UUID(int=namespace.int), name).int


@pytest.mark.parametrize("generate, reference", NAME_BASED)
@given(namespace=namespace_strategy, names=names_strategy)
def test_name_based_matches_the_standard_module(generate, reference, namespace, names):
    expected = [standard(reference, namespace, name) for name in names]
    assert values_of(generate(namespace, names), "bytes") == expected
    assert values_of(generate(namespace, tuple(names), format="str"), "str") == expected


@pytest.mark.parametrize("generate, reference", NAME_BASED)
@pytest.mark.parametrize("format", ["bytes", "uuid", "std", "str", pytest.param("arrow", marks=needs_pyarrow)])
def test_name_based_formats_and_bytes_like_names(generate, reference, format):
    names = ["", "a", "é ü 😀", "x" * 200, b"raw", bytearray(b"ba"), memoryview(b"mv"), array.array("B", b"arr"),
             array.array("b", b"signed"), memoryview(b"chars").cast("c"), (ctypes.c_char * 3)(*b"cty")]
    expected = [standard(reference, uuid.NAMESPACE_URL, bytes(n) if not isinstance(n, str) else n) for n in names]
    assert values_of(generate(uuid.NAMESPACE_URL, names, format=format), format) == expected
    # Any iterable of names works, not only lists.
    assert values_of(generate(vantor.NAMESPACE_URL, iter(names[:3])), "bytes") == expected[:3]


@needs_pyarrow
@pytest.mark.parametrize("generate, reference", NAME_BASED)
@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda names: pa.array(names, pa.string()), id="string"),
        pytest.param(lambda names: pa.array(names, pa.large_string()), id="large_string"),
        pytest.param(lambda names: pa.array([n.encode() for n in names], pa.binary()), id="binary"),
        pytest.param(lambda names: pa.array([n.encode() for n in names], pa.large_binary()), id="large_binary"),
        pytest.param(lambda names: pa.array(names, pa.string_view()), id="string_view"),
        pytest.param(lambda names: pa.array(["skip"] + names, pa.string()).slice(1), id="sliced"),
        pytest.param(lambda names: pa.chunked_array([names[:2], names[2:]], pa.string()), id="chunked"),
    ],
)
def test_name_based_reads_arrow_columns(generate, reference, make):
    names = ["python.org", "", "ünïcode", "x" * 100]
    expected = [standard(reference, uuid.NAMESPACE_DNS, n) for n in names]
    for format in ["bytes", "arrow"]:
        assert values_of(generate(uuid.NAMESPACE_DNS, make(names), format=format), format) == expected
    assert values_of(generate(uuid.NAMESPACE_DNS, make(names)[:0]), "bytes") == []


@pytest.mark.parametrize("generate", [bulk.uuid3, bulk.uuid5])
@pytest.mark.parametrize(
    "namespace, names, error, match",
    [
        (uuid.NAMESPACE_DNS, ["a", 1], TypeError, r"names\[1\] must be str or a bytes-like object, not int"),
        (uuid.NAMESPACE_DNS, [None], TypeError, r"names\[0\] must be str or a bytes-like object, not NoneType"),
        (uuid.NAMESPACE_DNS, ["a", "b", [1, 2]], TypeError, r"names\[2\] must be str or a bytes-like object"),
        (uuid.NAMESPACE_DNS, "abc", TypeError, "names must be a sequence of names, not a single str"),
        (uuid.NAMESPACE_DNS, b"abc", TypeError, "not a single bytes"),
        (uuid.NAMESPACE_DNS, 5, TypeError, "names must be a sequence"),
        pytest.param(uuid.NAMESPACE_DNS, lambda: pa.array(["a", None, "c"]), TypeError, r"names\[1\] is null",
                     marks=needs_pyarrow),
        pytest.param(uuid.NAMESPACE_DNS, lambda: pa.array([1, 2]), TypeError,
                     "string or binary array, not an array of int64", marks=needs_pyarrow),
        ("6ba7b810-9dad-11d1-80b4-00c04fd430c8", ["a"], TypeError, "UUID"),
        (uuid.NAMESPACE_DNS, ["a"] * 3 + ["\ud800"], UnicodeEncodeError, "surrogate"),
        # Buffers whose items are not single bytes: their raw bytes (in the machine's byte order)
        # are not a name, as for a single name.
        (uuid.NAMESPACE_DNS, [array.array("H", [1, 2])], TypeError,
         r"names\[0\] must be str or a bytes-like object of single bytes, not array of format 'H'"),
        (uuid.NAMESPACE_DNS, [b"ok", array.array("d", [1.5])], TypeError, r"names\[1\] .* not array of format 'd'"),
        (uuid.NAMESPACE_DNS, [memoryview(bytes(8)).cast("q")], TypeError, r"names\[0\] .* format 'q'"),
        (uuid.NAMESPACE_DNS, [(ctypes.c_bool * 2)()], TypeError, r"names\[0\] .* format '<\?'"),
        pytest.param(uuid.NAMESPACE_DNS, lambda: np.array([1.5, float("nan")]), TypeError,
                     r"names\[0\] must be str or a bytes-like object, not float64", marks=needs_numpy),
        pytest.param(uuid.NAMESPACE_DNS, lambda: np.array([1, 2]), TypeError, r"names\[0\] .* not int64",
                     marks=needs_numpy),
        pytest.param(uuid.NAMESPACE_DNS, lambda: np.array([True]), TypeError, r"names\[0\] .* not bool",
                     marks=needs_numpy),
        # A one-byte scalar is a number, not a name of one byte.
        pytest.param(uuid.NAMESPACE_DNS, lambda: np.array([7], dtype=np.uint8), TypeError, r"names\[0\] .* not uint8",
                     marks=needs_numpy),
        # A datetime64 scalar lends its raw bytes as format 'B', but it is no sequence of bytes.
        pytest.param(uuid.NAMESPACE_DNS, lambda: np.array(["2024-01-01"], dtype="datetime64[D]"), TypeError,
                     r"names\[0\] must be str or a bytes-like object, not datetime64", marks=needs_numpy),
    ],
)
def test_name_based_bad_input(generate, namespace, names, error, match):
    if callable(names):
        names = names()
    with pytest.raises(error, match=match):
        generate(namespace, names)


@pytest.mark.parametrize("generate, reference", NAME_BASED)
def test_name_based_non_ascii_names_are_not_cached_as_utf8(generate, reference):
    # One, two and four bytes per character, each longer than the encoder's buffer of 1024
    # characters, and a mix. The str must not keep a UTF-8 copy (sys.getsizeof counts it).
    texts = ["é" * 3000, "€" * 3001, "😀" * 2999, ("aé€😀" * 700)[:-1], "x" * 2000 + "é"]
    names = [text.encode().decode() for text in texts]  # new objects, not the shared constants
    sizes = [sys.getsizeof(name) for name in names]
    expected = [standard(reference, uuid.NAMESPACE_DNS, name) for name in names]
    assert values_of(generate(uuid.NAMESPACE_DNS, names), "bytes") == expected
    assert [sys.getsizeof(name) for name in names] == sizes
    # The measure does see a cached copy.
    as_utf8 = ctypes.pythonapi.PyUnicode_AsUTF8
    as_utf8.argtypes, as_utf8.restype = [ctypes.py_object], ctypes.c_void_p
    as_utf8(names[0])
    assert sys.getsizeof(names[0]) > sizes[0]


def test_name_based_bad_item_notes_its_index():
    with pytest.raises(UnicodeEncodeError) as excinfo:
        bulk.uuid5(uuid.NAMESPACE_DNS, ["ok", "\udcff"])
    assert "while processing 'names[1]'" in excinfo.value.__notes__


def test_name_based_rejects_a_bad_format_before_hashing():
    with pytest.raises(ValueError, match="format must be one of"):
        bulk.uuid5(uuid.NAMESPACE_DNS, [1], format="hex")


@pytest.mark.skipif(sys.version_info < (3, 12), reason="a Python class exports a buffer from 3.12 on")
def test_name_based_survives_names_that_change_the_list():
    # Reading an item's buffer runs its __buffer__, which here empties the list being read.
    names = []

    class Shrinking:
        # A bytes-like name is a sequence of bytes, like bytes itself.
        def __len__(self):
            return 4

        def __getitem__(self, index):
            return b"gone"[index]

        def __buffer__(self, flags):
            names.clear()
            return memoryview(b"gone")

    names.extend(["first", Shrinking(), "third"])
    with pytest.raises(RuntimeError, match="names changed size"):
        bulk.uuid5(uuid.NAMESPACE_DNS, names)


# ---- in a child process: races, memory exhaustion, interrupts ---------------------------------

OFFSETS_RACE = r"""
import array, json, threading, time
import pyarrow as pa
import vantor
from vantor import bulk

n = 500_000
offsets = array.array("i", range(n + 1))  # names of one byte each
names = pa.Array.from_buffers(pa.binary(), n, [None, pa.py_buffer(offsets), pa.py_buffer(b"x" * n)])
done = False

def meddle():
    # Offsets far past the data for a moment, then right again, while the names are hashed
    # without the GIL: most calls find them right when they start.
    while not done:
        for k in (n // 4, n // 2, n - 1, n):
            time.sleep(0.003)
            offsets[k] = 2**31 - 1
            time.sleep(0.001)
            offsets[k] = k

thread = threading.Thread(target=meddle)
thread.start()
outcomes = set()
deadline = time.monotonic() + 1.5
while time.monotonic() < deadline:
    try:
        result = bulk.uuid5(vantor.NAMESPACE_DNS, names)
        outcomes.add("ok" if len(result) == 16 * n else f"{len(result)} bytes")
    except ValueError as error:
        outcomes.add(str(error).partition(", at index")[0])
done = True
thread.join()
print(json.dumps(sorted(outcomes)))
"""


@needs_pyarrow
def test_offsets_changed_by_another_thread_never_lead_outside_the_data():
    outcomes, _ = child_result(OFFSETS_RACE)
    assert set(outcomes) <= {"ok", "offsets out of order or outside the data"}, outcomes


OUT_OF_MEMORY = r"""
import gc, json, resource, sysconfig
from vantor import bulk

def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

# Room for the list of 20M references (160 MB), not for its objects nor for 320 MB of bytes. A
# free-threaded build's allocator has already reserved about 1 GiB of address space, which the
# limit does not count: there, five times as many values outgrow it.
N = 100_000_000 if sysconfig.get_config_var("Py_GIL_DISABLED") else 20_000_000
resource.setrlimit(resource.RLIMIT_AS, (address_space() + 256 * 2**20, resource.RLIM_INFINITY))
outcomes = {}
for generate in (bulk.uuid4, bulk.uuid7):
    for format in ("bytes", "uuid", "std", "str"):
        try:
            generate(N, format=format)
            outcome = "no error"
        except BaseException as error:
            outcome = type(error).__name__
        gc.collect()
        # Still usable afterwards.
        outcomes[f"{generate.__name__} {format}"] = [outcome, len(generate(1000, format=format))]
print(json.dumps(outcomes))
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads the address space from /proc")
@pytest.mark.skipif(bool(os.environ.get("VANTOR_UNDER_ASAN")), reason="the sanitizer's allocator aborts")
def test_every_format_reports_memory_exhaustion_as_memory_error():
    outcomes, _ = child_result(OUT_OF_MEMORY)
    assert outcomes == {
        f"{generate} {format}": ["MemoryError", 1000 if format != "bytes" else 16000]
        for generate in ("uuid4", "uuid7")
        for format in ("bytes", "uuid", "std", "str")
    }


# A SIGINT sent 10 ms into a call that takes a few hundred: the call raises KeyboardInterrupt
# within a small part of its own duration, and the module works afterwards.
INTERRUPT = r"""
import json, os, signal, threading, time
import vantor
from vantor import bulk
{setup}

def call():
    return {call}

start = time.perf_counter()
call()
whole = time.perf_counter() - start

sent, handled = [], []

def interrupt():
    time.sleep(whole / 5)  # at a fifth of the call, however fast this machine runs it
    sent.append(time.perf_counter())
    os.kill(os.getpid(), signal.SIGINT)

def handler(signum, frame):
    handled.append(time.perf_counter())
    raise KeyboardInterrupt

signal.signal(signal.SIGINT, handler)
thread = threading.Thread(target=interrupt)
try:
    thread.start()
    call()
    outcome = "returned"
except KeyboardInterrupt:
    outcome = "KeyboardInterrupt"
thread.join()
call()
print(json.dumps({{"outcome": outcome, "whole": whole, "delay": handled[0] - sent[0]}}))
"""

LONG_CALLS = {
    # Sized to take 100 ms or more on the fastest path: at 2 to 3 ns a UUID, 10 million would be
    # over before a signal's delivery could be told apart from the call's end.
    "uuid4-bytes": ("", "bulk.uuid4(40_000_000)"),
    "uuid7-bytes": ("", "bulk.uuid7(40_000_000)"),
    "uuid4-str": ("", "bulk.uuid4(2_000_000, format='str')"),
    "fill_uuid4": ("buffer = bytearray(16 * 40_000_000)", "bulk.fill_uuid4(buffer)"),
    "cli-lines": ("from vantor._native import bulk_lines as lines", "lines(4, 5_000_000)"),
    "uuid5-256MiB-name": ("name = bytes(256 * 2**20)", "vantor.uuid5(vantor.NAMESPACE_DNS, name)"),
    "uuid5-offsets": (
        "import array; offsets = memoryview(array.array('q', range(0, 64 * 2_000_001, 64))); data = bytes(64 * 2_000_000)",
        "bulk._native.bulk_uuid5_offsets(vantor.NAMESPACE_DNS, offsets, data, 'bytes')",
    ),
}


@pytest.mark.skipif(sys.platform == "win32", reason="os.kill(pid, SIGINT) terminates the process on Windows")
@pytest.mark.parametrize("name", list(LONG_CALLS))
def test_long_calls_raise_an_interrupt_early(name):
    setup, call = LONG_CALLS[name]
    result, _ = child_result(INTERRUPT.format(setup=setup, call=call))
    assert result["outcome"] == "KeyboardInterrupt"
    assert result["delay"] < result["whole"] / 3, result
