"""Agreement with the standard library's `uuid.UUID` wherever both define a behaviour."""
import uuid

from hypothesis import given
from hypothesis import strategies as st

from conftest import uuid_ints, with_version_and_variant
from vantor import UUID

SHARED = [
    "hex", "bytes", "bytes_le", "int", "urn", "version", "variant", "node",
    "time_low", "time_mid", "time_hi_version", "clock_seq_hi_variant", "clock_seq_low",
    "clock_seq", "fields",
]


@given(uuid_ints)
def test_shared_properties_agree(value):
    ours, std = UUID(int=value), uuid.UUID(int=value)
    for name in SHARED:
        assert getattr(ours, name) == getattr(std, name), name
    assert str(ours) == str(std)
    assert repr(ours) == repr(std)
    assert hash(ours) == hash(std)
    assert int(ours) == int(std)
    assert ours.is_safe == uuid.SafeUUID.unknown
    # Newer standard libraries read v6 and v7 times in their own layouts; elsewhere all agree.
    if not (std.variant == uuid.RFC_4122 and std.version in (6, 7)):
        assert ours.time == std.time


@given(uuid_ints)
def test_reads_the_binary_forms_the_standard_library_writes(value):
    std = uuid.UUID(int=value)
    for kwargs in (
        {"bytes": std.bytes},
        {"bytes_le": std.bytes_le},
        {"fields": std.fields},
    ):
        assert UUID(**kwargs).int == value, kwargs


@given(uuid_ints, st.integers(min_value=1, max_value=5))
def test_version_argument_agrees(value, version):
    # The standard library on the oldest Python we support only takes versions 1 to 5.
    expected = uuid.UUID(int=value, version=version).int
    assert UUID(int=value, version=version).int == expected
    assert UUID(int=value).set_version(version).int == expected


@given(uuid_ints, st.integers(min_value=1, max_value=8))
def test_version_argument_sets_what_the_standard_library_reads(value, version):
    std = uuid.UUID(int=UUID(int=value, version=version).int)
    assert std.version == version
    assert std.variant == uuid.RFC_4122
    assert with_version_and_variant(value, version) == std.int
