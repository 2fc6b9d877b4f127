"""Reference and memory leaks of the package's native module: vantor.bulk and vantor.std on their
success and error paths, with the harness of test_refleaks.py."""
import uuid

import pytest

from test_refleaks import U, case, check, note
from vantor import bulk, std

STD_U = uuid.UUID(int=(1 << 127) + 54321)
NAMES = ["a name", b"bytes", bytearray(b"bytearray"), memoryview(b"view"), "ünïcode"]

CASES = [
    case("bulk-uuid4-bytes", bulk.uuid4, 3),
    case("bulk-uuid4-uuid", bulk.uuid4, 3, "uuid"),
    case("bulk-uuid4-std", bulk.uuid4, 3, "std"),
    case("bulk-uuid7-str", bulk.uuid7, 3, "str"),
    case("bulk-uuid7-zero", bulk.uuid7, 0, "uuid"),
    case("bulk-uuid4-negative", bulk.uuid4, -5, raises=ValueError, notes=[]),
    case("bulk-uuid7-float", bulk.uuid7, 1.5, raises=TypeError, notes=[]),
    case("bulk-uuid4-huge", bulk.uuid4, 1 << 70, raises=OverflowError, notes=[]),
    case("bulk-uuid4-format", bulk.uuid4, 3, "hex", raises=ValueError, notes=[]),
    case("bulk-fill_uuid4", bulk.fill_uuid4, bytearray(48)),
    case("bulk-fill_uuid7-memoryview", bulk.fill_uuid7, memoryview(bytearray(64))),
    case("bulk-fill-read-only", bulk.fill_uuid4, bytes(32), raises=BufferError, notes=[]),
    case("bulk-fill-size", bulk.fill_uuid7, bytearray(15), raises=ValueError, notes=[]),
    case("bulk-fill-not-a-buffer", bulk.fill_uuid4, 5, raises=TypeError, notes=[]),
    case("bulk-uuid5", bulk.uuid5, uuid.NAMESPACE_DNS, NAMES, "uuid"),
    case("bulk-uuid3-str", bulk.uuid3, U, NAMES, "str"),
    case("bulk-uuid5-bad-item", bulk.uuid5, U, ["a", 1], raises=TypeError, notes=[]),
    case("bulk-uuid5-surrogate", bulk.uuid5, U, ["a", "\ud800"], raises=UnicodeEncodeError, notes=note("names[1]")),
    case("bulk-uuid5-namespace", bulk.uuid5, "ns", ["a"], raises=TypeError, notes=note("namespace")),
    case("std-uuid4", std.uuid4),
    case("std-uuid7", std.uuid7),
    case("std-uuid7-nanoseconds", std.uuid7, nanoseconds=1_700_000_000_123_456_789),
    case("std-uuid7-bad", std.uuid7, nanoseconds=-1, raises=OverflowError, notes=note("nanoseconds")),
    case("std-uuid1", std.uuid1, 0x1234_5678_9ABC, 4321),
    case("std-uuid1-bad", std.uuid1, "node", raises=TypeError, notes=note("node")),
    case("std-uuid5-std-namespace", std.uuid5, STD_U, "name"),
    case("std-uuid3-keyword", std.uuid3, name=b"name", namespace=STD_U),
    case("std-to_std", std.to_std, U),
    case("std-to_std-bad", std.to_std, STD_U, raises=TypeError, notes=[]),
    case("std-from_std", std.from_std, STD_U),
    case("std-from_std-bad", std.from_std, U, raises=TypeError, notes=[]),
]


@pytest.mark.parametrize("c", CASES, ids=lambda c: c.id)
def test_no_leak(c):
    check(c)
