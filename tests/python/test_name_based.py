"""uuid3 and uuid5: the name-based UUIDs (MD5 and SHA-1 of namespace and name)."""
import array
import uuid as std_uuid

import hypothesis.strategies as st
import pytest
from hypothesis import given

from conftest import MAX_INT, notes_of, processing_note
from vantor import MAX, NAMESPACE_DNS, NAMESPACE_OID, NAMESPACE_URL, NAMESPACE_X500, NIL, RFC_4122, UUID, uuid3, uuid5

GENERATORS = [
    pytest.param(uuid3, std_uuid.uuid3, 3, id="uuid3"),
    pytest.param(uuid5, std_uuid.uuid5, 5, id="uuid5"),
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
    with pytest.raises(TypeError) as excinfo:
        generate(namespace, name)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == message
    assert notes_of(excinfo) == processing_note("namespace")


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
    with pytest.raises(TypeError) as excinfo:
        generate(NAMESPACE_DNS, name)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == message
    assert notes_of(excinfo) == processing_note("name")
    # both readings are folded into the message; none of them is chained
    assert excinfo.value.__cause__ is None


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        ((), {}, "{f}() missing 2 required positional arguments: 'namespace' and 'name'"),
        ((NAMESPACE_DNS,), {}, "{f}() missing 1 required positional argument: 'name'"),
        ((), {"name": "a"}, "{f}() missing 1 required positional argument: 'namespace'"),
        ((NAMESPACE_DNS, "a", "b"), {}, "{f}() takes 2 positional arguments but 3 were given"),
        ((NAMESPACE_DNS, "a"), {"x": 1}, "{f}() got an unexpected keyword argument 'x'"),
        ((NAMESPACE_DNS, "a"), {"namespace": NAMESPACE_DNS}, "{f}() got multiple values for argument 'namespace'"),
        # binding is checked before any argument is converted
        (("bad", 5, 6), {}, "{f}() takes 2 positional arguments but 3 were given"),
    ],
)
@pytest.mark.parametrize("generate", [uuid3, uuid5])
def test_binding_failures(generate, args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        generate(*args, **kwargs)
    assert str(excinfo.value) == message.format(f=generate.__name__)
    assert notes_of(excinfo) == []
