"""Random UUIDs: uuid4, _uuid4_int, uuid8, reseed, and their per-thread and per-process streams."""
import ctypes
import operator
import os
import threading
import uuid as std_uuid

import hypothesis.strategies as st
import pytest
from hypothesis import given

from conftest import MAX_INT, Index, on_both_sides_of_fork, raises_exactly
from vantor import RFC_4122, UUID, _uuid4_int, reseed, uuid4, uuid8

U64 = (1 << 64) - 1
VERSION_MASK = 0xF << 76
VARIANT_MASK = 0b11 << 62
RANDOM_V4_BITS = MAX_INT & ~VERSION_MASK & ~VARIANT_MASK
V4_FIXED = 4 << 76 | 0b10 << 62


def spread(values):
    """(bits set in some value, bits set in every value)."""
    some, every = 0, MAX_INT
    for value in values:
        some |= value
        every &= value
    return some, every


def noargs_message(func, *args, **kwargs):
    """The interpreter's own complaint when a no-argument builtin gets arguments, for `func`."""
    reference = os.getpid
    with pytest.raises(TypeError) as excinfo:
        reference(*args, **kwargs)
    return str(excinfo.value).replace(
        f"{reference.__module__}.{reference.__name__}", f"{func.__module__}.{func.__name__}"
    )


# ---- uuid4 and _uuid4_int ------------------------------------------------------------------


def test_uuid4_is_a_version_4_rfc_4122_uuid():
    for _ in range(200):
        u = uuid4()
        assert type(u) is UUID
        assert u.version == 4
        assert u.variant == RFC_4122
        text = str(u)
        assert text[14] == "4"
        assert text[19] in "89ab"


def test_uuid4_returns_a_new_object_each_time():
    assert uuid4() is not uuid4()


def test_uuid4_int_is_an_int_in_range():
    value = _uuid4_int()
    assert type(value) is int
    assert 0 <= value <= MAX_INT


@pytest.mark.parametrize(
    "draw", [pytest.param(lambda: uuid4().int, id="uuid4"), pytest.param(_uuid4_int, id="_uuid4_int")]
)
def test_only_version_and_variant_bits_are_fixed(draw):
    # Over 1000 draws each of the 122 random bits is seen both set and clear (a bit stuck at
    # one value would show up with probability 1 - 2**-999), while the 6 fixed bits never move.
    some, every = spread(draw() for _ in range(1000))
    assert some == RANDOM_V4_BITS | V4_FIXED
    assert every == V4_FIXED


def test_large_samples_have_no_repeats():
    # uuid4 and _uuid4_int read the same per-thread stream, so neither repeats the other either
    from_uuid4 = {uuid4().int for _ in range(100_000)}
    from_int = {_uuid4_int() for _ in range(100_000)}
    assert len(from_uuid4) == 100_000
    assert len(from_int) == 100_000
    assert from_uuid4.isdisjoint(from_int)


@pytest.mark.parametrize("func", [uuid4, _uuid4_int, reseed])
@pytest.mark.parametrize(
    ("args", "kwargs"), [((1,), {}), ((None,), {}), ((), {"x": 1})], ids=["positional", "none", "keyword"]
)
def test_no_arguments_accepted(func, args, kwargs):
    with pytest.raises(TypeError) as excinfo:
        func(*args, **kwargs)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == noargs_message(func, *args, **kwargs)


# ---- uuid8 -----------------------------------------------------------------------------------


def uuid8_reference(a, b, c):
    return (a & (1 << 48) - 1) << 80 | 8 << 76 | (b & 0xFFF) << 64 | 0b10 << 62 | (c & (1 << 62) - 1)


@pytest.mark.parametrize(
    ("args", "expected"),
    [
        ((0, 0, 0), "00000000-0000-8000-8000-000000000000"),
        ((U64, U64, U64), "ffffffff-ffff-8fff-bfff-ffffffffffff"),
        ((0x123456789ABC, 0xDEF, 0x0123456789ABCDEF), "12345678-9abc-8def-8123-456789abcdef"),
        # bits above each field's width are dropped, not carried into the neighbouring field
        ((2**48 + 1, 0x1234, 2**63 + 5), "00000000-0001-8234-8000-000000000005"),
    ],
)
def test_uuid8_known_values(args, expected):
    result = uuid8(*args)
    assert type(result) is UUID
    assert str(result) == expected
    assert uuid8(a=args[0], b=args[1], c=args[2]) == result


@given(a=st.integers(0, U64), b=st.integers(0, U64), c=st.integers(0, U64))
def test_uuid8_places_the_fields(a, b, c):
    result = uuid8(a, b, c)
    assert result.int == uuid8_reference(a, b, c)
    assert result.version == 8
    assert result.variant == RFC_4122
    if hasattr(std_uuid, "uuid8"):
        assert result.int == std_uuid.uuid8(a, b, c).int


A_BITS = ((1 << 48) - 1) << 80
B_BITS = 0xFFF << 64
C_BITS = (1 << 62) - 1


@pytest.mark.parametrize(
    ("args", "expected", "drawn"),
    [
        # None is a missing field: b is drawn
        ((True, None, 7), uuid8_reference(1, 0, 7), B_BITS),
        ((Index(0x123456789ABC), Index(0xDEF), Index(5)), uuid8_reference(0x123456789ABC, 0xDEF, 5), 0),
        ((False, Index(U64), 0), uuid8_reference(0, 0xFFF, 0), 0),
    ],
    ids=["bool", "index", "mixed"],
)
def test_uuid8_accepts_bools_and_index_objects(args, expected, drawn):
    assert uuid8(*args).int & ~drawn == expected


@pytest.mark.parametrize(
    "given_fields",
    [{}, {"a": 0x123456789ABC}, {"b": 5}, {"c": 77}, {"a": 1, "c": 2}, {"b": 0, "c": U64}],
    ids=lambda f: "+".join(f) or "none",
)
def test_uuid8_draws_the_missing_fields(given_fields):
    masks = {"a": A_BITS, "b": B_BITS, "c": C_BITS}
    fixed = uuid8_reference(given_fields.get("a", 0), given_fields.get("b", 0), given_fields.get("c", 0))
    random_bits = sum(masks[name] for name in masks if name not in given_fields)
    some, every = spread(uuid8(**given_fields).int for _ in range(1000))
    # given fields are exactly what was passed; every bit of a missing field takes both values
    assert some == fixed | random_bits
    assert every == fixed


def interpreter_u64_error(value):
    """The exception the interpreter's own conversion of `value` to an unsigned 64-bit int raises."""
    as_u64 = ctypes.PYFUNCTYPE(ctypes.c_ulonglong, ctypes.py_object)(("PyLong_AsUnsignedLongLong", ctypes.pythonapi))
    try:
        as_u64(operator.index(value))
    except (TypeError, OverflowError) as error:
        return error
    raise AssertionError(f"{value!r} converts")


@pytest.mark.parametrize(
    ("kwargs", "error", "culprit"),
    [
        ({"a": -1}, OverflowError, "a"),
        ({"b": 2**64}, OverflowError, "b"),
        ({"c": 1.5}, TypeError, "c"),
        ({"a": "1"}, TypeError, "a"),
        ({"c": Index(-1)}, OverflowError, "c"),
        ({"a": 2**200, "b": 1}, OverflowError, "a"),
        # fields are converted in order; the first bad one is reported
        ({"a": -1, "c": 1.5}, OverflowError, "a"),
        ({"b": 1.5, "c": -1}, TypeError, "b"),
    ],
)
def test_uuid8_conversion_errors(kwargs, error, culprit):
    expected = interpreter_u64_error(kwargs[culprit])
    assert type(expected) is error
    with raises_exactly(error, str(expected), culprit):
        uuid8(**kwargs)


# ---- reseed ----------------------------------------------------------------------------------


def check_generation_works():
    values = {uuid4().int for _ in range(100)} | {_uuid4_int() for _ in range(100)}
    assert len(values) == 200
    assert all(v & (VERSION_MASK | VARIANT_MASK) == V4_FIXED for v in values)
    assert uuid8().version == 8


def test_reseed_returns_none_and_generation_continues():
    before = {uuid4().int for _ in range(50)}
    assert reseed() is None
    assert reseed() is None
    after = {uuid4().int for _ in range(50)}
    assert before.isdisjoint(after)
    check_generation_works()


def run_in_thread(target):
    errors = []

    def body():
        try:
            target()
        except BaseException as error:  # reported to the test thread below
            errors.append(error)

    thread = threading.Thread(target=body)
    thread.start()
    thread.join()
    if errors:
        raise errors[0]


def test_reseed_as_the_first_call_of_a_new_thread():
    def body():
        assert reseed() is None
        check_generation_works()

    run_in_thread(body)


# ---- threads ---------------------------------------------------------------------------------


def test_concurrent_threads_never_repeat_a_value():
    threads_count, per_thread = 8, 20_000
    start = threading.Barrier(threads_count)
    results = [None] * threads_count

    def body(index):
        start.wait()
        results[index] = [uuid4().int for _ in range(per_thread)]

    threads = [threading.Thread(target=body, args=(i,)) for i in range(threads_count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    values = {v for result in results for v in result} | {uuid4().int for _ in range(per_thread)}
    assert len(values) == (threads_count + 1) * per_thread


# ---- fork ------------------------------------------------------------------------------------

DRAWS = [
    pytest.param(lambda: uuid4().int, id="uuid4"),
    pytest.param(_uuid4_int, id="_uuid4_int"),
    pytest.param(lambda: uuid8().int, id="uuid8"),
]


def draw_on_both_sides_of_fork(draw, count=1000):
    """`count` values drawn by the forking thread after fork(), in the parent and in the child."""
    return on_both_sides_of_fork(lambda: [draw() for _ in range(count)])


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
@pytest.mark.parametrize("draw", DRAWS)
@pytest.mark.parametrize("warm_up", [1, 5, 300], ids=lambda n: f"after-{n}")
def test_forked_child_does_not_repeat_the_parent_stream(draw, warm_up):
    # The parent's generator exists and is part-way through its buffered keystream at the fork.
    for _ in range(warm_up):
        draw()
    parent, child = draw_on_both_sides_of_fork(draw)
    assert len(set(child)) == len(child)
    assert set(parent).isdisjoint(child)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_fork_from_another_thread_fences_that_threads_stream():
    # The child continues in the forking thread, so that thread's generator is the one to fence.
    outcome = {}

    def body():
        for _ in range(3):
            uuid4()
        outcome["parent"], outcome["child"] = draw_on_both_sides_of_fork(_uuid4_int)

    uuid4()  # the main thread has a generator too, which the child does not run on
    run_in_thread(body)
    assert set(outcome["parent"]).isdisjoint(outcome["child"])
