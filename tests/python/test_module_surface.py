"""What the extension module and the package offer, and the shape of the UUID class."""
import importlib.util
import inspect
import sys
import sysconfig
import types
import uuid
import weakref

import pytest

import _vantor
import vantor
from shims import child_result
from vantor import UUID

MODULES = [pytest.param(_vantor, id="_vantor"), pytest.param(vantor, id="vantor")]

ALL = [
    "__version__",
    "UUID",
    "uuid1",
    "uuid3",
    "_uuid4_int",
    "uuid4",
    "uuid5",
    "uuid6",
    "uuid7",
    "_uuid7_int",
    "uuid8",
    "getnode",
    "reseed",
    "NAMESPACE_DNS",
    "NAMESPACE_URL",
    "NAMESPACE_OID",
    "NAMESPACE_X500",
    "RESERVED_NCS",
    "RFC_4122",
    "RESERVED_MICROSOFT",
    "RESERVED_FUTURE",
    "NIL",
    "MAX",
]

FUNCTION_SIGNATURES = {
    "uuid1": "(node=None, clock_seq=None)",
    "uuid3": "(namespace, name)",
    "_uuid4_int": "()",
    "uuid4": "()",
    "uuid5": "(namespace, name)",
    "uuid6": "(node=None, clock_seq=None)",
    "uuid7": "(*, nanoseconds=None)",
    "_uuid7_int": "(*, nanoseconds=None)",
    "uuid8": "(a=None, b=None, c=None)",
    "getnode": "()",
    "reseed": "()",
}


@pytest.mark.parametrize("module", MODULES)
def test_version(module):
    assert module.__version__ == "1.0.0"


def test_extension_module_docstring_is_empty():
    assert _vantor.__doc__ == ""


@pytest.mark.parametrize("module", MODULES)
def test_all_is_exactly_the_public_names_in_order(module):
    assert type(module.__all__) is list
    assert module.__all__ == ALL


def test_module_entries_are_added_in_the_order_of_all():
    # Whatever the import machinery puts in first, the module's own entries follow in this order.
    own = [name for name in vars(_vantor) if name == "__all__" or name in ALL]
    assert own == ["__all__", *ALL]
    rest = [name for name in vars(_vantor) if name not in own]
    assert all(name.startswith("__") and name.endswith("__") for name in rest), rest


@pytest.mark.parametrize(("name", "signature"), FUNCTION_SIGNATURES.items())
def test_function_attributes(name, signature):
    function = getattr(_vantor, name)
    assert type(function) is types.BuiltinFunctionType
    assert function.__text_signature__ == signature
    assert str(inspect.signature(function)) == signature
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__doc__ is None
    assert function.__module__ == "_vantor"
    assert function.__self__ is _vantor


@pytest.mark.parametrize(
    ("name", "signature"),
    [
        ("set_version", "($self, version)"),
        ("__deepcopy__", "($self, _memo)"),
        ("__getnewargs__", "($self)"),
        ("from_hex", "(hex)"),
        ("from_int", "(int)"),
        ("from_bytes", "(bytes)"),
        ("from_bytes_le", "(bytes)"),
        ("from_fields", "(fields)"),
    ],
)
def test_method_text_signatures(name, signature):
    method = getattr(UUID, name)
    assert method.__text_signature__ == signature
    # the signature must also be one that inspect can read
    inspect.signature(method)


def test_executing_the_module_again_gives_a_fresh_module_sharing_the_class():
    second = importlib.util.module_from_spec(_vantor.__spec__)
    _vantor.__loader__.exec_module(second)
    assert second is not _vantor
    assert second.__all__ == ALL
    assert second.__all__ is not _vantor.__all__
    assert _vantor.__all__ == ALL
    assert second.UUID is _vantor.UUID
    assert second.uuid4 is not _vantor.uuid4
    assert second.uuid4.__self__ is second
    assert second.NIL == _vantor.NIL
    assert type(second.uuid7()) is UUID


def test_extension_exposes_exactly_its_all():
    public = {n for n in dir(_vantor) if not n.startswith("_")}
    assert public == {n for n in _vantor.__all__ if not n.startswith("_")}


def test_package_reexports_the_extension_objects():
    assert vantor.__all__ == _vantor.__all__
    for name in _vantor.__all__:
        assert getattr(vantor, name) is getattr(_vantor, name), name


@pytest.mark.parametrize("module", MODULES)
def test_no_safe_uuid_enum_of_its_own(module):
    assert not hasattr(module, "SafeUUID")
    assert UUID._safe_uuid_unknown is uuid.SafeUUID.unknown


NAMESPACES = [
    ("NAMESPACE_DNS", "6ba7b810-9dad-11d1-80b4-00c04fd430c8"),
    ("NAMESPACE_URL", "6ba7b811-9dad-11d1-80b4-00c04fd430c8"),
    ("NAMESPACE_OID", "6ba7b812-9dad-11d1-80b4-00c04fd430c8"),
    ("NAMESPACE_X500", "6ba7b814-9dad-11d1-80b4-00c04fd430c8"),
]


@pytest.mark.parametrize(("name", "text"), NAMESPACES)
def test_namespace_constants(name, text):
    constant = getattr(_vantor, name)
    assert type(constant) is UUID
    assert str(constant) == text
    assert constant.int == getattr(uuid, name).int
    fresh = UUID(text)
    assert constant == fresh
    assert constant is not fresh


@pytest.mark.parametrize(
    ("name", "text"),
    [
        ("RESERVED_NCS", "reserved for NCS compatibility"),
        ("RFC_4122", "specified in RFC 4122"),
        ("RESERVED_MICROSOFT", "reserved for Microsoft compatibility"),
        ("RESERVED_FUTURE", "reserved for future definition"),
    ],
)
def test_variant_constants(name, text):
    value = getattr(_vantor, name)
    assert type(value) is str
    assert value == text == getattr(uuid, name)


@pytest.mark.parametrize(
    ("name", "value"), [("NIL", 0), ("MAX", (1 << 128) - 1)]
)
def test_nil_and_max(name, value):
    constant = getattr(_vantor, name)
    assert type(constant) is UUID
    assert constant.int == value
    assert constant == UUID(int=value)


def test_class_identity():
    assert UUID.__name__ == "UUID"
    assert UUID.__qualname__ == "UUID"
    assert UUID.__module__ == "vantor"


def test_constructor_signature():
    assert UUID.__text_signature__ == (
        "(hex=None, bytes=None, bytes_le=None, fields=None, int=None, version=None)"
    )
    params = inspect.signature(UUID).parameters
    assert list(params) == ["hex", "bytes", "bytes_le", "fields", "int", "version"]
    for p in params.values():
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert p.default is None


def test_instances_are_compact_and_slot_only():
    u = UUID(int=0)
    # The object header and the 16 bytes of the value; a free-threaded build's header is 32 bytes
    # (owning thread, local and shared counts, flags) instead of 16.
    assert sys.getsizeof(u) == (48 if sysconfig.get_config_var("Py_GIL_DISABLED") else 32)
    with pytest.raises(AttributeError):
        u.__dict__
    with pytest.raises(TypeError):
        weakref.ref(u)


def test_class_accepts_new_attributes(monkeypatch):
    # Only instances are frozen; the class itself stays open like any Python class.
    monkeypatch.setattr(UUID, "extra_attribute", 42, raising=False)
    assert UUID.extra_attribute == 42
    assert UUID(int=0).extra_attribute == 42


# The module keeps process-wide objects (the UUID class, the SafeUUID member it hands out, the
# PanicException class) that belong to one interpreter, so every sub-interpreter, legacy or
# isolated, must be refused before it can replace them with objects that die with it.
SUB_INTERPRETERS = r'''
import json, os, sys, uuid

try:
    import _interpreters as interpreters  # 3.13 and later

    def create(isolated):
        return interpreters.create("isolated" if isolated else "legacy")

    def run(interpreter, code):
        failure = interpreters.exec(interpreter, code)
        assert failure is None, failure
except ImportError:
    import _xxsubinterpreters as interpreters  # 3.12

    def create(isolated):
        return interpreters.create(isolated=isolated)

    def run(interpreter, code):
        interpreters.run_string(interpreter, code)

if MAIN_FIRST:
    import vantor

outcomes = {}
for mode in ("legacy", "isolated"):
    read, write = os.pipe()
    interpreter = create(mode == "isolated")
    run(interpreter, f"""
import os
try:
    import vantor
    outcome = "imported"
except BaseException as error:
    outcome = type(error).__name__ + ": " + str(error)
os.write({write}, outcome.encode())
""")
    interpreters.destroy(interpreter)
    os.close(write)
    outcomes[mode] = os.read(read, 4096).decode()
    os.close(read)

import vantor

value = vantor.uuid4()
outcomes["is_safe"] = value.is_safe is uuid.SafeUUID.unknown
outcomes["repr"] = repr(value.is_safe)
print(json.dumps(outcomes))
'''


@pytest.mark.parametrize("main_first", [True, False], ids=["main-imports-first", "main-imports-after"])
def test_sub_interpreters_are_refused_and_the_main_one_stays_intact(main_first):
    out, _ = child_result(f"MAIN_FIRST = {main_first}\n" + SUB_INTERPRETERS)
    refused = "ImportError: module _vantor does not support loading in subinterpreters"
    assert out == {"legacy": refused, "isolated": refused, "is_safe": True, "repr": "<SafeUUID.unknown: None>"}
