"""How UUIDs behave as Python objects: text, numbers, hashing, ordering, copying, pickling."""
import copy
import operator
import pickle
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

import vantor
from conftest import MAX_INT, notes_of, processing_note, raises_exactly, uuid_ints
from vantor import MAX, NIL, UUID

SAMPLE = "c232ab00-9414-11ec-b3c8-9f6bdeced846"


class Sub(UUID):
    pass


@pytest.fixture
def sample():
    return UUID(SAMPLE.upper())


@given(uuid_ints)
def test_str_and_repr(value):
    u = UUID(int=value)
    text = str(uuid.UUID(int=value))
    assert str(u) == text
    assert len(str(u)) == 36
    assert repr(u) == f"UUID('{text}')"
    assert len(repr(u)) == 44
    assert eval(repr(u), {"UUID": UUID}) == u


def test_subclass_repr_still_says_uuid():
    assert repr(Sub(SAMPLE)) == f"UUID('{SAMPLE}')"
    assert str(Sub(SAMPLE)) == SAMPLE


@given(uuid_ints)
def test_int_and_hash(value):
    u = UUID(int=value)
    assert int(u) == value
    assert type(int(u)) is int
    assert hash(u) == hash(value)


@pytest.mark.parametrize(
    ("u", "expected"),
    [(NIL, 0), (MAX, MAX_INT % (2**61 - 1)), (UUID(int=2**61 - 1), 0), (UUID(int=2**61), 1)],
)
def test_hash_values(u, expected):
    assert hash(u) == expected


def test_not_an_index(sample):
    with pytest.raises(TypeError):
        operator.index(sample)
    with pytest.raises(TypeError):
        hex(sample)
    with pytest.raises(TypeError):
        [0, 1][sample]


@pytest.mark.parametrize("u", [NIL, MAX])
def test_always_truthy(u):
    assert bool(u) is True


OPERATORS = [operator.eq, operator.ne, operator.lt, operator.le, operator.gt, operator.ge]


def _check_order(a, b, left_type, right_type):
    left, right = left_type(int=a), right_type(int=b)
    for op in OPERATORS:
        assert op(left, right) is op(a, b), op.__name__


@given(uuid_ints, st.one_of(uuid_ints, st.none()), st.sampled_from([UUID, Sub]),
       st.sampled_from([UUID, Sub]))
def test_comparisons_follow_the_integer_value(a, b, left_type, right_type):
    _check_order(a, a if b is None else b, left_type, right_type)


# Neighbours across the 64-bit halves and the sign bits, where a word-wise comparison can slip.
@pytest.mark.parametrize(
    ("a", "b"),
    [(0, 1), (2**63 - 1, 2**63), (2**64 - 1, 2**64), (2**127 - 1, 2**127),
     (MAX_INT - 1, MAX_INT), (2**64, 2**63), (1, 2**127)],
)
def test_comparisons_at_word_boundaries(a, b):
    _check_order(a, b, UUID, UUID)
    _check_order(b, a, UUID, UUID)
    _check_order(a, a, UUID, UUID)


@given(st.lists(uuid_ints, max_size=20))
def test_sorting(values):
    assert [u.int for u in sorted(UUID(int=v) for v in values)] == sorted(values)


@pytest.mark.parametrize(
    "other",
    [5, SAMPLE, SAMPLE.replace("-", ""), 0xC232AB00941411ECB3C89F6BDECED846, None,
     uuid.UUID(SAMPLE), object()],
    ids=["int", "str", "hex", "same-int", "None", "stdlib-uuid", "object"],
)
def test_foreign_objects_are_not_comparable(sample, other):
    assert (sample == other) is False
    assert (other == sample) is False
    assert (sample != other) is True
    assert sample.__eq__(other) is NotImplemented
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        with pytest.raises(TypeError):
            op(sample, other)
        with pytest.raises(TypeError):
            op(other, sample)


def test_standard_uuid_of_same_value_hashes_alike_but_differs(sample):
    std = uuid.UUID(SAMPLE)
    assert hash(sample) == hash(std)
    assert sample != std
    assert len({sample, std}) == 2


@pytest.mark.parametrize("version", range(1, 9))
def test_set_version_returns_a_new_uuid(sample, version):
    before = sample.int
    result = sample.set_version(version)
    assert type(result) is UUID
    assert result == UUID(int=before, version=version)
    assert result.version == version
    assert result.variant == vantor.RFC_4122
    assert sample.int == before
    assert sample.set_version(version=version) == result


def test_set_version_on_a_subclass_gives_a_plain_uuid():
    result = Sub(int=0).set_version(4)
    assert type(result) is UUID
    assert str(result) == "00000000-0000-4000-8000-000000000000"


@pytest.mark.parametrize(
    ("version", "exc", "message", "note"),
    [
        (0, ValueError, "illegal version number.", None),
        (9, ValueError, "illegal version number.", None),
        (255, ValueError, "illegal version number.", None),
        (256, OverflowError, None, "version"),
        (-1, OverflowError, None, "version"),
        (4.0, TypeError, None, "version"),
        (None, TypeError, None, "version"),
    ],
)
def test_set_version_failures(sample, version, exc, message, note):
    with raises_exactly(exc, message, note):
        sample.set_version(version)


def test_getnewargs(sample):
    assert sample.__getnewargs__() == (SAMPLE,)
    assert Sub(SAMPLE).__getnewargs__() == (SAMPLE,)


@pytest.mark.parametrize("cls", [UUID, Sub])
def test_deepcopy_gives_an_equal_plain_uuid(cls):
    original = cls(SAMPLE)
    for clone in (original.__deepcopy__({}), copy.deepcopy(original)):
        assert clone == original
        assert clone is not original
        assert type(clone) is UUID


def test_deepcopy_inside_containers(sample):
    data = {"a": [sample, sample]}
    clone = copy.deepcopy(data)
    assert clone == data
    assert clone["a"][0] is not sample


@pytest.mark.parametrize("memo", [[], None, ()])
def test_deepcopy_memo_must_be_a_dict(sample, memo):
    with pytest.raises(TypeError) as excinfo:
        sample.__deepcopy__(memo)
    if isinstance(memo, list):
        assert str(excinfo.value) == "'list' object is not an instance of 'dict'"
    assert notes_of(excinfo) == processing_note("_memo")


def test_shallow_copy(sample):
    clone = copy.copy(sample)
    assert clone == sample
    assert type(clone) is UUID


# Pickling goes through __getnewargs__, which protocols 0 and 1 do not use; the class has no
# reduction hook of its own, so those protocols refuse it.
PROTOCOLS = range(2, pickle.HIGHEST_PROTOCOL + 1)


@pytest.mark.parametrize("protocol", [0, 1])
def test_old_pickle_protocols_are_refused(protocol):
    with pytest.raises(TypeError):
        pickle.dumps(UUID(SAMPLE), protocol)


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize(
    "u",
    [NIL, MAX, vantor.NAMESPACE_DNS, UUID(SAMPLE)],
    ids=["NIL", "MAX", "DNS", "sample"],
)
def test_pickle_round_trip(u, protocol):
    clone = pickle.loads(pickle.dumps(u, protocol))
    assert type(clone) is UUID
    assert clone == u
    assert str(clone) == str(u)


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_pickle_keeps_the_subclass(protocol):
    clone = pickle.loads(pickle.dumps(Sub(SAMPLE), protocol))
    assert type(clone) is Sub
    assert clone == UUID(SAMPLE)


def test_pickles_refer_to_the_package():
    assert b"vantor" in pickle.dumps(NIL, 2)
    assert b"_vantor" not in pickle.dumps(NIL, 2)


def test_subclass_equals_and_hashes_like_uuid():
    s, u = Sub(SAMPLE), UUID(SAMPLE)
    assert s == u and u == s
    assert hash(s) == hash(u)
    assert {s: 1}[u] == 1


def test_subclass_instances_stay_immutable():
    s = Sub(SAMPLE)
    with pytest.raises(TypeError, match="^UUID objects are immutable$"):
        s.extra = 1
    with pytest.raises(TypeError, match="^UUID objects are immutable$"):
        s.int = 1


def test_subclass_may_define_its_own_setattr():
    class Tagged(UUID):
        def __setattr__(self, name, value):
            self.__dict__[name] = value

    t = Tagged(SAMPLE)
    t.tag = "x"
    assert t.tag == "x"
    assert t == UUID(SAMPLE)
