"""Shared helpers for the Python tests of the UUID class.

The test modules import the strategies and helpers below with `from conftest import ...`.
"""
import contextlib
import os

import hypothesis.strategies as st
import pytest
from hypothesis import HealthCheck, settings

# Wall-clock limits would make the property tests depend on machine load, not on behaviour.
settings.register_profile(
    "vantor", deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.load_profile("vantor")

MAX_INT = (1 << 128) - 1
# 100 ns ticks between the Gregorian reform (1582-10-15) and the Unix epoch.
GREGORIAN_TO_UNIX_TICKS = 0x01B21DD213814000


def with_version_and_variant(value, nibble, variant_bits=0b10):
    """`value` with its version nibble and its two top variant bits replaced."""
    value &= ~(0xF << 76)
    value |= nibble << 76
    value &= ~(0b11 << 62)
    value |= variant_bits << 62
    return value


# Plain random values rarely hit the RFC 4122 variant together with an interesting version
# nibble, so half of the draws force the variant and pick the nibble explicitly.
uuid_ints = st.one_of(
    st.integers(min_value=0, max_value=MAX_INT),
    st.builds(
        with_version_and_variant,
        st.integers(min_value=0, max_value=MAX_INT),
        st.integers(min_value=0, max_value=15),
        st.integers(min_value=0, max_value=3),
    ),
    st.sampled_from([0, MAX_INT, 1, MAX_INT - 1, 1 << 127, (1 << 127) - 1]),
)


def notes_of(excinfo):
    """The notes attached to the exception captured by `pytest.raises`."""
    return list(getattr(excinfo.value, "__notes__", []))


def processing_note(param):
    return [f"while processing '{param}'"]


@contextlib.contextmanager
def raises_exactly(error, message, note=None):
    """Expects the block to raise exactly `error` (not a subclass) with `message` (any message
    when None), carrying the note "while processing '{note}'" when `note` is given and no note
    otherwise."""
    with pytest.raises(error) as excinfo:
        yield excinfo
    assert type(excinfo.value) is error
    if message is not None:
        assert str(excinfo.value) == message
    assert notes_of(excinfo) == (processing_note(note) if note else [])


class Index:
    """An object that is not an int but converts to one through `__index__`."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def on_both_sides_of_fork(draw_all):
    """The ints `draw_all()` returns when called by the forking thread after fork(), in the parent
    and in the child (which must never return into pytest)."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        status = 1
        try:
            os.close(read_end)
            payload = "\n".join(format(v, "x") for v in draw_all()).encode()
            with os.fdopen(write_end, "wb") as out:
                out.write(payload)
            status = 0
        finally:
            os._exit(status)
    os.close(write_end)
    parent = draw_all()
    with os.fdopen(read_end, "rb") as pipe:
        payload = pipe.read()
    _, wait_status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(wait_status) == 0
    child = [int(line, 16) for line in payload.decode().split("\n")]
    assert len(child) == len(parent)
    return parent, child


# ---- Platforms ---------------------------------------------------------------------------------
# Tests that cannot hold on the platform the suite runs on skip there, with the reason; nowhere
# else. Each entry: whether it applies here, the reason, and the tests (file::function) it covers.
# VANTOR_TEST_EMULATOR names the emulator the interpreter runs under (scripts/wheel/*.sh set it).
EMULATOR = os.environ.get("VANTOR_TEST_EMULATOR", "")
PLATFORM_SKIPS = [
    (
        EMULATOR != "",
        f"under {EMULATOR}, the child's leak checks take longer than the test's time limit",
        ["test_refleaks.py::test_no_leak_on_internal_failures"],
    ),
    (
        EMULATOR != "",
        f"under {EMULATOR}, an address-space limit applies to the emulator, not to the program",
        ["test_bulk.py::test_every_format_reports_memory_exhaustion_as_memory_error"],
    ),
]


def pytest_collection_modifyitems(config, items):
    for item in items:
        names = {f"{item.path.name}::{item.name}", f"{item.path.name}::{getattr(item, 'originalname', item.name)}"}
        for applies, reason, tests in PLATFORM_SKIPS:
            if applies and names.intersection(tests):
                item.add_marker(pytest.mark.skip(reason=reason))
