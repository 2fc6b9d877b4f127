"""What the extension module and the package offer, and the shape of the UUID class."""
import inspect
import sys
import types
import uuid
import weakref

import pytest

import _vantor
import vantor
from vantor import UUID

MODULES = [pytest.param(_vantor, id="_vantor"), pytest.param(vantor, id="vantor")]

# `__all__` without the generator functions. Those join the list as one block right after
# 'UUID' (eleven of them, for 23 names in all), so this list stays valid when they land.
NON_FUNCTION_NAMES = [
    "__version__",
    "UUID",
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


def _is_function(module, name):
    return isinstance(getattr(module, name), (types.BuiltinFunctionType, types.FunctionType))


@pytest.mark.parametrize("module", MODULES)
def test_version(module):
    assert module.__version__ == "1.0.0"


def test_extension_module_docstring_is_empty():
    assert _vantor.__doc__ == ""


@pytest.mark.parametrize("module", MODULES)
def test_all_lists_the_names_with_functions_in_one_block_after_uuid(module):
    names = list(module.__all__)
    assert [n for n in names if not _is_function(module, n)] == NON_FUNCTION_NAMES
    functions = [n for n in names if _is_function(module, n)]
    assert names[2 : 2 + len(functions)] == functions
    assert len(set(names)) == len(names)


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
    assert sys.getsizeof(u) == 32
    with pytest.raises(AttributeError):
        u.__dict__
    with pytest.raises(TypeError):
        weakref.ref(u)


def test_class_accepts_new_attributes(monkeypatch):
    # Only instances are frozen; the class itself stays open like any Python class.
    monkeypatch.setattr(UUID, "extra_attribute", 42, raising=False)
    assert UUID.extra_attribute == 42
    assert UUID(int=0).extra_attribute == 42
