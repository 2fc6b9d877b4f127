"""Uses every public function, constructor, factory and property of vantor once, plus some error
paths, so that scripts/valgrind.sh sees each code path of the extension run at least once.

It is also a plain script (`python tests/smoke/smoke.py`) that exits non-zero on a wrong answer.
It ends by checking that it touched every public name of the module and of the UUID class, so a
name added later without a line here fails loudly instead of escaping the memory checker.
"""
import copy
import io
import os
import pickle
import sys
import threading
import uuid as std_uuid
import weakref
from contextlib import redirect_stdout

import vantor
import vantor.std
from vantor import __main__ as cli

touched = set()


def use(name, value=None):
    touched.add(name)
    return value


def raises(exception, function, *args, **kwargs):
    try:
        function(*args, **kwargs)
    except exception as error:
        return error
    raise AssertionError(f"{function!r}{args}{kwargs} did not raise {exception.__name__}")


DNS_TEXT = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"

# ---- module constants ----------------------------------------------------------------------
use("__version__")
assert isinstance(vantor.__version__, str)
assert str(use("NAMESPACE_DNS", vantor.NAMESPACE_DNS)) == DNS_TEXT
assert str(use("NAMESPACE_URL", vantor.NAMESPACE_URL)) == "6ba7b811-9dad-11d1-80b4-00c04fd430c8"
assert str(use("NAMESPACE_OID", vantor.NAMESPACE_OID)) == "6ba7b812-9dad-11d1-80b4-00c04fd430c8"
assert str(use("NAMESPACE_X500", vantor.NAMESPACE_X500)) == "6ba7b814-9dad-11d1-80b4-00c04fd430c8"
assert use("RESERVED_NCS", vantor.RESERVED_NCS) == std_uuid.RESERVED_NCS
assert use("RFC_4122", vantor.RFC_4122) == std_uuid.RFC_4122
assert use("RESERVED_MICROSOFT", vantor.RESERVED_MICROSOFT) == std_uuid.RESERVED_MICROSOFT
assert use("RESERVED_FUTURE", vantor.RESERVED_FUTURE) == std_uuid.RESERVED_FUTURE
assert use("NIL", vantor.NIL).int == 0
assert use("MAX", vantor.MAX).int == (1 << 128) - 1

# ---- constructors and factories ------------------------------------------------------------
UUID = use("UUID", vantor.UUID)
ref = std_uuid.UUID(DNS_TEXT)
forms = [
    UUID(DNS_TEXT),
    UUID(ref.hex),
    UUID("{" + DNS_TEXT + "}"),
    UUID(ref.urn),
    UUID(DNS_TEXT.upper()),
    UUID(hex=DNS_TEXT),
    UUID(bytes=ref.bytes),
    UUID(bytes_le=ref.bytes_le),
    UUID(fields=ref.fields),
    UUID(int=ref.int),
    use("from_hex", UUID.from_hex(DNS_TEXT)),
    use("from_int", UUID.from_int(ref.int)),
    use("from_bytes", UUID.from_bytes(ref.bytes)),
    use("from_bytes_le", UUID.from_bytes_le(ref.bytes_le)),
    use("from_fields", UUID.from_fields(ref.fields)),
]
for form in forms:
    assert form == vantor.NAMESPACE_DNS, form
forced = UUID(int=ref.int, version=4)
assert forced.int == std_uuid.UUID(int=ref.int, version=4).int
assert use("set_version", vantor.NAMESPACE_DNS.set_version(8)).version == 8


class Sub(UUID):
    pass


assert type(Sub(DNS_TEXT)) is Sub and Sub(DNS_TEXT) == vantor.NAMESPACE_DNS

# ---- properties, against the standard library ----------------------------------------------
PROPERTIES = [
    "hex", "bytes", "bytes_le", "int", "urn", "version", "variant", "node", "time_low", "time_mid",
    "time_hi_version", "clock_seq_hi_variant", "clock_seq_low", "clock_seq", "time", "fields",
]
for value in [vantor.NAMESPACE_DNS, vantor.uuid4(), vantor.uuid6(), vantor.uuid7(), vantor.MAX]:
    std_value = std_uuid.UUID(int=value.int)
    for name in PROPERTIES:
        if name == "time" and value.version in (6, 7) and sys.version_info < (3, 14):
            getattr(value, name)  # older standard libraries read every version as version 1
            continue
        use(name)
        assert getattr(value, name) == getattr(std_value, name), (value, name)
assert use("is_safe", vantor.uuid4().is_safe) == std_uuid.SafeUUID.unknown
assert vantor.NAMESPACE_DNS.timestamp == (ref.time - 0x01B21DD213814000) // 10000
use("timestamp")
raises(ValueError, lambda: vantor.uuid4().timestamp)
use("_safe_uuid_unknown", UUID._safe_uuid_unknown)

# ---- protocol ------------------------------------------------------------------------------
a, b = vantor.NIL, vantor.MAX
assert a < b and a <= b and b > a and b >= a and a != b and a == UUID(int=0)
use("__lt__"), use("__le__"), use("__gt__"), use("__ge__"), use("__eq__"), use("__ne__")
assert hash(vantor.NAMESPACE_DNS) == hash(ref)
use("__hash__")
assert int(vantor.NAMESPACE_DNS) == ref.int
use("__int__")
assert str(vantor.NAMESPACE_DNS) == DNS_TEXT
assert repr(vantor.NAMESPACE_DNS) == f"UUID('{DNS_TEXT}')"
assert use("__getnewargs__", vantor.NAMESPACE_DNS.__getnewargs__()) == (DNS_TEXT,)
for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
    assert pickle.loads(pickle.dumps(vantor.NAMESPACE_DNS, protocol)) == vantor.NAMESPACE_DNS
assert copy.copy(vantor.NAMESPACE_DNS) == vantor.NAMESPACE_DNS
assert use("__deepcopy__", copy.deepcopy(vantor.NAMESPACE_DNS)) == vantor.NAMESPACE_DNS
assert f"{vantor.NAMESPACE_DNS}" == DNS_TEXT
raises(TypeError, setattr, vantor.uuid4(), "hex", "0" * 32)
raises(TypeError, lambda: vantor.NIL < 0)
assert (vantor.NIL == 0) is False
raises(TypeError, weakref.ref, vantor.NIL)  # the class has no weak reference slot
assert sys.getsizeof(vantor.NIL) > 0
assert len({vantor.uuid4() for _ in range(100)}) == 100

# ---- generators ----------------------------------------------------------------------------
assert use("uuid1", vantor.uuid1()).version == 1
assert vantor.uuid1(node=0x123456789ABC, clock_seq=0x1234).node == 0x123456789ABC
assert vantor.uuid1(node=0x123456789ABC, clock_seq=0x1234).clock_seq == 0x1234
assert use("uuid3", vantor.uuid3(vantor.NAMESPACE_DNS, "example.org")).int == std_uuid.uuid3(ref, "example.org").int
for name in [b"example.org", bytearray(b"example.org"), memoryview(b"example.org"), list(b"example.org")]:
    assert vantor.uuid3(vantor.NAMESPACE_DNS, name) == vantor.uuid3(vantor.NAMESPACE_DNS, "example.org")
assert use("uuid4", vantor.uuid4()).version == 4
assert use("_uuid4_int", vantor._uuid4_int()) >> 76 & 0xF == 4
assert use("uuid5", vantor.uuid5(vantor.NAMESPACE_URL, "x" * 1000)).int == std_uuid.uuid5(
    std_uuid.NAMESPACE_URL, "x" * 1000
).int
assert vantor.uuid5(vantor.NAMESPACE_DNS, "€uro").int == std_uuid.uuid5(ref, "€uro").int
assert use("uuid6", vantor.uuid6()).version == 6
assert vantor.uuid6(node=1, clock_seq=2).node == 1
first = use("uuid7", vantor.uuid7())
assert first < vantor.uuid7() and first.version == 7
assert vantor.uuid7(nanoseconds=1_700_000_000_123_456_789).timestamp == 1_700_000_000_123
assert use("_uuid7_int", vantor._uuid7_int()) >> 76 & 0xF == 7
assert vantor._uuid7_int(nanoseconds=0) >> 80 == 0
assert use("uuid8", vantor.uuid8()).version == 8
assert vantor.uuid8(1, 2, 3) == UUID("00000000-0001-8002-8000-000000000003")
node = use("getnode", vantor.getnode())
assert 0 <= node < 1 << 48 and vantor.getnode() == node
assert use("reseed", vantor.reseed()) is None

# ---- error paths ---------------------------------------------------------------------------
for bad in ["", "0" * 31, "0" * 33, DNS_TEXT[:-1] + "g", " " + DNS_TEXT, "URN:UUID:" + DNS_TEXT,
            DNS_TEXT.replace("-", "+"), "{" + DNS_TEXT + ")", "\u00e9" * 32]:
    raises(ValueError, UUID, bad)
raises(TypeError, UUID)
raises(TypeError, UUID, DNS_TEXT, int=1)
raises(TypeError, UUID, 12)
raises(ValueError, UUID, bytes=b"\x00" * 15)
raises(TypeError, UUID, bytes=bytearray(16))
raises(ValueError, UUID, bytes_le=b"\x00" * 17)
raises(ValueError, UUID, fields=(0, 0, 0, 0, 0))
raises(ValueError, UUID, fields=(0, 0, 0, 0, 0, 1 << 48))
raises(OverflowError, UUID, int=1 << 128)
raises(OverflowError, UUID, int=-1)
raises(TypeError, UUID, int=1.5)
raises(ValueError, UUID, int=0, version=9)
raises(ValueError, vantor.NIL.set_version, 0)
raises(OverflowError, vantor.uuid1, node=-1)
raises(OverflowError, vantor.uuid6, clock_seq=1 << 64)
raises(OverflowError, vantor.uuid7, nanoseconds=-1)
raises(OverflowError, vantor.uuid8, -1)
raises(TypeError, vantor.uuid3, DNS_TEXT, "name")
raises(TypeError, vantor.uuid5, vantor.NAMESPACE_DNS, [256])
raises(TypeError, vantor.uuid5, vantor.NAMESPACE_DNS, 5)
raises(TypeError, vantor.uuid4, 1)

# ---- threads and fork: per-thread generators are created and destroyed ---------------------
results = []
threads = [threading.Thread(target=lambda: results.append((vantor.uuid4(), vantor.uuid7()))) for _ in range(4)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
assert len({u for pair in results for u in pair}) == 8
reader, writer = os.pipe()
pid = os.fork()
if pid == 0:
    os.close(reader)
    os.write(writer, vantor.uuid4().bytes + vantor.uuid7().bytes + vantor.uuid1().bytes)
    os._exit(0)
os.close(writer)
child = b""
while chunk := os.read(reader, 64):
    child += chunk
os.close(reader)
_, status = os.waitpid(pid, 0)
assert os.waitstatus_to_exitcode(status) == 0 and len(child) == 48

# ---- vantor.std and the command line -------------------------------------------------------
std = vantor.std
assert isinstance(use("std.uuid1", std.uuid1()), std_uuid.UUID)
assert use("std.uuid3", std.uuid3(std_uuid.NAMESPACE_DNS, "example.org")) == std_uuid.uuid3(ref, "example.org")
assert use("std.uuid4", std.uuid4()).version == 4
assert use("std.uuid5", std.uuid5(vantor.NAMESPACE_DNS, "example.org")) == std_uuid.uuid5(ref, "example.org")
assert use("std.uuid6", std.uuid6()).version == 6
assert use("std.uuid7", std.uuid7()).version == 7
assert use("std.uuid8", std.uuid8(1, 2, 3)).int == vantor.uuid8(1, 2, 3).int
assert use("std.to_std", std.to_std(vantor.NAMESPACE_DNS)) == ref
assert use("std.from_std", std.from_std(ref)) == vantor.NAMESPACE_DNS
for argv in [[], ["-u", "uuid7", "-C", "3"], ["-u", "uuid5", "-n", "@dns", "-N", "example.org"]]:
    out = io.StringIO()
    with redirect_stdout(out):
        cli.main(argv)
    assert out.getvalue().count("\n") == (3 if "-C" in argv else 1), argv
assert out.getvalue().strip() == str(std_uuid.uuid5(ref, "example.org"))

# ---- every public name was used ------------------------------------------------------------
public = set(vantor.__all__)
public |= {name for name in vars(UUID) if not name.startswith("__") or name in (
    "__lt__", "__le__", "__gt__", "__ge__", "__eq__", "__ne__", "__hash__", "__int__",
    "__getnewargs__", "__deepcopy__")}
public |= {"std." + name for name in vantor.std.__all__}
missing = public - touched
assert not missing, f"tests/smoke/smoke.py does not use: {sorted(missing)}"
print("smoke: every public name of vantor used")
