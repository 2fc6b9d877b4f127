"""uuid3 and uuid5: the name-based UUIDs (MD5 and SHA-1 of namespace and name)."""
import array
import sys
import threading
import time
import uuid as std_uuid

import hypothesis.strategies as st
import pytest
from hypothesis import given

from conftest import MAX_INT, notes_of, processing_note, raises_exactly
import std_reference
from shims import run_child
from vantor import MAX, NAMESPACE_DNS, NAMESPACE_OID, NAMESPACE_URL, NAMESPACE_X500, NIL, RFC_4122, UUID, uuid3, uuid5

GENERATORS = [
    pytest.param(uuid3, std_reference.uuid3, 3, id="uuid3"),
    pytest.param(uuid5, std_reference.uuid5, 5, id="uuid5"),
]


@pytest.mark.parametrize(
    ("generate", "namespace", "name", "expected"),
    [
        (uuid3, NAMESPACE_DNS, "abc", "5bd670ce-29c8-3369-a8a1-10ce44c7259e"),
        (uuid5, NAMESPACE_DNS, "abc", "6cb8e707-0fc5-5f55-88d4-d4fed43e64a8"),
        # an empty name hashes the namespace bytes alone
        (uuid3, NAMESPACE_DNS, "", "c87ee674-4ddc-3efe-a74e-dfe25da5d7b3"),
        (uuid5, NAMESPACE_DNS, b"", "4ebd0208-8328-5d69-8c44-ec50939c0967"),
        (uuid5, NIL, "", "e129f27c-5103-5c5c-844b-cdf0a15e160d"),
        (uuid3, NIL, "", "4ae71336-e44b-39bf-b9d2-752e234818a5"),
        # text is hashed as UTF-8 (two bytes here), not as Latin-1 or code points
        (uuid3, NAMESPACE_DNS, "é", "3a356d77-46a8-3ec1-8205-b80596740632"),
    ],
)
def test_known_values(generate, namespace, name, expected):
    result = generate(namespace, name)
    assert type(result) is UUID
    assert str(result) == expected


@pytest.mark.parametrize(("generate", "reference", "version"), GENERATORS)
@given(
    namespace_int=st.integers(min_value=0, max_value=MAX_INT),
    name=st.one_of(st.text(), st.binary()),
)
def test_matches_the_standard_library(generate, reference, version, namespace_int, name):
    result = generate(UUID(int=namespace_int), name)
    expected = reference(std_uuid.UUID(int=namespace_int), name)
    assert result.int == expected.int
    assert str(result) == str(expected)
    assert result.version == version
    assert result.variant == RFC_4122


@pytest.mark.parametrize(("generate", "reference", "version"), GENERATORS)
@pytest.mark.parametrize("namespace", [NAMESPACE_DNS, NAMESPACE_URL, NAMESPACE_OID, NAMESPACE_X500, NIL, MAX])
def test_predefined_namespaces_match_the_standard_library(generate, reference, version, namespace):
    expected = reference(std_uuid.UUID(str(namespace)), "www.example.com")
    assert generate(namespace, "www.example.com").int == expected.int


class Bytes:
    """A sequence of small ints that is none of the built-in containers."""

    def __init__(self, data):
        self.data = list(data)

    def __len__(self):
        return len(self.data)

    def __getitem__(self, index):
        return self.data[index]


@pytest.mark.parametrize("generate", [uuid3, uuid5])
@pytest.mark.parametrize(
    "name",
    [
        b"abc",
        bytearray(b"abc"),
        [97, 98, 99],
        (97, 98, 99),
        memoryview(b"abc"),
        array.array("B", b"abc"),
        range(97, 100),
        Bytes(b"abc"),
    ],
    ids=lambda name: type(name).__name__,
)
def test_byte_sequences_hash_like_the_same_text(generate, name):
    assert generate(NAMESPACE_DNS, name) == generate(NAMESPACE_DNS, "abc")


@pytest.mark.parametrize("generate", [uuid3, uuid5])
def test_results_are_deterministic_and_depend_on_both_inputs(generate):
    first = generate(NAMESPACE_URL, "a")
    assert generate(NAMESPACE_URL, "a") == first
    assert generate(NAMESPACE_URL, "a") is not first
    assert generate(NAMESPACE_DNS, "a") != first
    assert generate(NAMESPACE_URL, "b") != first


@pytest.mark.parametrize("generate", [uuid3, uuid5])
def test_keyword_arguments_and_namespace_subclass(generate):
    class Sub(UUID):
        pass

    namespace = Sub(int=NAMESPACE_DNS.int)
    expected = generate(NAMESPACE_DNS, "abc")
    assert generate(namespace, "abc") == expected
    assert generate(name="abc", namespace=namespace) == expected
    # the result is the library's class, whatever the namespace's class
    assert type(generate(namespace, "abc")) is UUID


@pytest.mark.parametrize("generate", [uuid3, uuid5])
@pytest.mark.parametrize(
    ("namespace", "message"),
    [
        ("x", "'str' object is not an instance of 'UUID'"),
        (None, "'None' is not an instance of 'UUID'"),
        (NAMESPACE_DNS.int, "'int' object is not an instance of 'UUID'"),
        # the standard library's class is a different type, not accepted in its place
        (std_uuid.NAMESPACE_DNS, "'UUID' object is not an instance of 'UUID'"),
    ],
)
@pytest.mark.parametrize("name", ["abc", 5], ids=["good-name", "bad-name"])
def test_namespace_must_be_our_uuid(generate, namespace, message, name):
    # the name is not examined once the namespace failed: a bad name does not change the report
    with raises_exactly(TypeError, message, "namespace"):
        generate(namespace, name)


def enum_failure(string_cause, bytes_cause):
    return (
        "failed to extract enum StringOrBytes ('str | bytes')\n"
        f"- variant String (str): TypeError: failed to extract field StringOrBytes::String.0, caused by {string_cause}\n"
        f"- variant Bytes (bytes): TypeError: failed to extract field StringOrBytes::Bytes.0, caused by {bytes_cause}"
    )


class FailingSequence:
    """A sequence whose iteration breaks after the first item."""

    def __len__(self):
        return 3

    def __getitem__(self, index):
        raise AssertionError("the name is read by iteration")

    def __iter__(self):
        yield 97
        raise KeyError("broken iterator")


NOT_A_STR_LIST = "TypeError: 'list' object is not an instance of 'str'"

BAD_NAMES = [
    pytest.param(
        5,
        enum_failure("TypeError: 'int' object is not an instance of 'str'", "TypeError: 'int' object is not an instance of 'Sequence'"),
        id="int",
    ),
    pytest.param(
        "\udc80",
        enum_failure(
            "UnicodeEncodeError: 'utf-8' codec can't encode character '\\udc80' in position 0: surrogates not allowed",
            "TypeError: Can't extract `str` to `Vec`",
        ),
        id="lone-surrogate",
    ),
    pytest.param(
        [1, 256],
        enum_failure(NOT_A_STR_LIST, "OverflowError: out of range integral type conversion attempted"),
        id="item-above-255",
    ),
    pytest.param(
        [1, -1],
        enum_failure(NOT_A_STR_LIST, "OverflowError: out of range integral type conversion attempted"),
        id="negative-item",
    ),
    # items are converted as C longs: the interpreter's own errors for a non-int and a huge int
    pytest.param(
        ["a"],
        enum_failure(NOT_A_STR_LIST, "TypeError: 'str' object cannot be interpreted as an integer"),
        id="str-item",
    ),
    pytest.param(
        [2**70],
        enum_failure(NOT_A_STR_LIST, "OverflowError: Python int too large to convert to C long"),
        id="huge-item",
    ),
    pytest.param(
        FailingSequence(),
        enum_failure("TypeError: 'FailingSequence' object is not an instance of 'str'", "KeyError: 'broken iterator'"),
        id="iterator-raises",
    ),
    pytest.param(
        {97: 1},
        enum_failure("TypeError: 'dict' object is not an instance of 'str'", "TypeError: 'dict' object is not an instance of 'Sequence'"),
        id="mapping",
    ),
]


@pytest.mark.parametrize("generate", [uuid3, uuid5])
@pytest.mark.parametrize(("name", "message"), BAD_NAMES)
def test_bad_name_reports_both_readings(generate, name, message):
    with raises_exactly(TypeError, message, "name") as excinfo:
        generate(NAMESPACE_DNS, name)
    # both readings are folded into the message; none of them is chained
    assert excinfo.value.__cause__ is None


# ---- hostile names: lying lengths, interrupts, fatal errors ----------------------------------


class Items:
    """A sequence whose length is `length` and whose items are `items`; a callable item or
    length is called instead, so that it can raise."""

    def __init__(self, items, length=None):
        self.items = items
        self.length = len(items) if length is None else length

    def __len__(self):
        return self.length() if callable(self.length) else self.length

    def __getitem__(self, index):
        if index >= len(self.items):
            raise IndexError(index)
        item = self.items[index]
        return item() if callable(item) else item


class IterRaises:
    def __init__(self, error):
        self.error = error

    def __len__(self):
        return 1

    def __getitem__(self, index):
        return 97

    def __iter__(self):
        raise self.error


class NextRaises(IterRaises):
    def __iter__(self):
        yield 97
        raise self.error


class IndexRaises:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def raiser(error):
    def hook():
        raise error

    return hook


def outcome(call, *args):
    try:
        return ("value", call(*args).int)
    except BaseException as error:  # noqa: BLE001 - the outcome is compared, not handled
        return ("raised", type(error), str(error))


# A length is only a size hint. Lies in either direction, or a length far beyond memory, give
# what the same items give from a truthful sequence.
@pytest.mark.parametrize("generate", [uuid3, uuid5])
@pytest.mark.parametrize(
    ("lying", "truthful"),
    [
        (range(10**12), range(257)),  # the 257th item is out of range
        (range(sys.maxsize), range(257)),
        (Items([1, 2, 3], length=10**12), [1, 2, 3]),
        (Items([1, 2, 3], length=0), [1, 2, 3]),
        (Items([7] * 100_000, length=1), [7] * 100_000),
        (Items([1, 256], length=10**12), Items([1, 256])),
    ],
    ids=["range-1e12", "range-maxsize", "long", "short", "many-items", "long-bad-item"],
)
def test_length_is_only_a_hint(generate, lying, truthful):
    assert outcome(generate, NAMESPACE_DNS, lying) == outcome(generate, NAMESPACE_DNS, truthful)


# What the ordinary failure of each hook turns into: a dropped size hint, or the report of
# both readings of the name.
NAME_HOOKS = {
    "__len__": (lambda error: Items([97], length=raiser(error)), "value"),
    "__getitem__": (lambda error: Items([97, raiser(error)]), "report"),
    "__iter__": (lambda error: IterRaises(error), "report"),
    "__next__": (lambda error: NextRaises(error), "report"),
    "__index__": (lambda error: [97, IndexRaises(error)], "report"),
}


@pytest.mark.parametrize("generate", [uuid3, uuid5])
@pytest.mark.parametrize("hook", NAME_HOOKS)
@pytest.mark.parametrize("fatal", [KeyboardInterrupt, SystemExit, MemoryError])
def test_interrupts_and_fatal_errors_from_a_name_propagate_unchanged(generate, hook, fatal):
    make, _ = NAME_HOOKS[hook]
    error = fatal("from " + hook)
    with pytest.raises(fatal) as info:
        generate(NAMESPACE_DNS, make(error))
    assert info.value is error
    assert notes_of(info) == processing_note("name")


@pytest.mark.parametrize("generate", [uuid3, uuid5])
@pytest.mark.parametrize("hook", NAME_HOOKS)
@pytest.mark.parametrize("ordinary", [ValueError, RuntimeError, KeyError])
def test_ordinary_failures_from_a_name_are_dropped_or_reported(generate, hook, ordinary):
    make, fate = NAME_HOOKS[hook]
    name = make(ordinary("from " + hook))
    if fate == "value":
        assert generate(NAMESPACE_DNS, name) == generate(NAMESPACE_DNS, b"a")
    else:
        with pytest.raises(TypeError, match=r"^failed to extract enum StringOrBytes") as info:
            generate(NAMESPACE_DNS, name)
        assert f"{ordinary.__name__}: " in str(info.value)


SLOW_LENGTH = r'''
import os, signal, threading, time
import vantor

signal.signal(signal.SIGINT, signal.default_int_handler)


class SlowLength:
    def __len__(self):
        threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
        time.sleep(30)
        return 1

    def __getitem__(self, index):
        if index:
            raise IndexError(index)
        return 97


start = time.monotonic()
try:
    vantor.GENERATE(vantor.NAMESPACE_DNS, SlowLength())
except KeyboardInterrupt:
    print("interrupted after", round(time.monotonic() - start), "s")
else:
    print("the interrupt was lost")
'''


@pytest.mark.skipif(sys.platform == "win32", reason="os.kill(pid, SIGINT) terminates the process on Windows")
@pytest.mark.parametrize("generate", ["uuid3", "uuid5"])
def test_sigint_during_a_slow_length_interrupts_the_call(generate):
    result = run_child(SLOW_LENGTH.replace("GENERATE", generate), timeout=60)
    assert (result.returncode, result.stdout, result.stderr) == (0, "interrupted after 0 s\n", "")


# ---- large names ---------------------------------------------------------------------------

LARGE = 64 << 20


@pytest.mark.parametrize(("generate", "reference", "version"), GENERATORS)
@pytest.mark.parametrize(
    "make_name",
    [lambda: bytes(LARGE), lambda: bytearray(LARGE), lambda: "é" * (LARGE // 2)],
    ids=["bytes", "bytearray", "non-ascii-str"],
)
def test_other_threads_run_during_a_large_hash(generate, reference, version, make_name):
    name = make_name()
    stamps = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            stamps.append(time.monotonic())
            time.sleep(0)  # hands the lock back at once

    # With a switch interval longer than the test, this thread is never forced to give up the
    # lock: the worker can stamp between `start` and `end` only if the hash released it.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(60)
    worker = threading.Thread(target=count)
    try:
        worker.start()
        start = time.monotonic()
        result = generate(NAMESPACE_DNS, name)
        end = time.monotonic()
    finally:
        stop.set()
        worker.join()
        sys.setswitchinterval(interval)
    assert any(start < t < end for t in stamps)
    assert result.int == reference(std_uuid.UUID(str(NAMESPACE_DNS)), name).int


@pytest.mark.parametrize(("generate", "reference", "version"), GENERATORS)
@pytest.mark.parametrize("length", [1, 16 * 1024, 16 * 1024 + 1, 1 << 20])
def test_non_ascii_names_hash_as_utf8_and_large_ones_leave_no_cached_copy(generate, reference, version, length):
    name = "é" * (length - 1) + "😀"
    size = sys.getsizeof(name)
    assert generate(NAMESPACE_DNS, name).int == reference(std_uuid.NAMESPACE_DNS, name).int
    if length >= 1 << 20:
        # A cached UTF-8 copy would stay with the string as long as it lives.
        assert sys.getsizeof(name) == size
