"""Every instruction-set path of the generators, chosen through VANTOR_ISA in child processes:
the version bits and the uniqueness of many values made on each, and the refusal of a name the
processor does not know. (Each path's stream against the portable one: tests/cpp.)"""
import platform

import pytest

from shims import child_result, run_child
from vantor import bulk

try:
    import numpy as np
except ImportError:
    np = None

MACHINE = platform.machine().lower()
if MACHINE in ("x86_64", "amd64"):
    LEVELS = ["portable", "sse2", "avx2", "avx512"]
elif MACHINE in ("aarch64", "arm64"):
    LEVELS = ["portable", "neon"]
else:
    LEVELS = ["portable"]


@pytest.fixture(scope="module")
def detected():
    """The path a process takes with no cap."""
    value, _ = child_result("import json, vantor.bulk as b; print(json.dumps(b._native.isa))", env={"VANTOR_ISA": ""})
    return value


def test_the_path_in_use_is_one_of_this_processor():
    assert bulk._native.isa in LEVELS


# 10M version-4 values as a fresh result (large pages), 4M more into a lent buffer that is already
# mapped (non-temporal stores), 10M version-7 values: version and variant bits on every one, no
# value twice. Duplicates are looked for among the first 64 bits, then confirmed on all 128.
CHECK_PATH = """
import json
import numpy as np
import vantor.bulk as bulk

def words(data):
    return np.frombuffer(data, dtype=">u8").reshape(-1, 2)

def bits_ok(w, version):
    return bool(((w[:, 0] >> 12) & 0xF == version).all() and ((w[:, 1] >> 62) == 2).all())

def duplicates(w):
    high = np.sort(w[:, 0])
    repeated = np.unique(high[1:][high[1:] == high[:-1]])
    rows = w[np.isin(w[:, 0], repeated)]
    return len(rows) - len({(int(a), int(b)) for a, b in rows})

fresh = bulk.uuid4(10_000_000)
lent = bytearray(16 * 4_000_000)
assert bulk.fill_uuid4(lent) == 4_000_000
v4 = np.concatenate([words(fresh), words(lent)])
v7 = words(bulk.uuid7(10_000_000))
print(json.dumps({
    "isa": bulk._native.isa,
    "v4_bits": bits_ok(v4, 4), "v4_duplicates": duplicates(v4),
    "v7_bits": bits_ok(v7, 7), "v7_increasing": bool(
        ((v7[1:, 0] > v7[:-1, 0]) | ((v7[1:, 0] == v7[:-1, 0]) & (v7[1:, 1] > v7[:-1, 1]))).all()),
}))
"""


@pytest.mark.skipif(np is None, reason="numpy is not installed (no wheel for this Python)")
@pytest.mark.parametrize("level", LEVELS)
def test_every_path_sets_the_bits_and_repeats_no_value(level, detected):
    # A cap above what the CPU has leaves the CPU's best.
    expected = level if LEVELS.index(level) <= LEVELS.index(detected) else detected
    result, _ = child_result(CHECK_PATH, env={"VANTOR_ISA": level})
    assert result == {"isa": expected, "v4_bits": True, "v4_duplicates": 0, "v7_bits": True, "v7_increasing": True}


@pytest.mark.parametrize("name", ["AVX2", "avx-512", "fastest", " sse2", "neon" if "sse2" in LEVELS else "avx2"])
def test_an_unknown_name_is_refused_at_import(name):
    result = run_child("import vantor", env={"VANTOR_ISA": name})
    assert result.returncode != 0
    last = result.stderr.strip().splitlines()[-1]
    names = ", ".join(f"'{level}'" for level in LEVELS)
    assert last == f"ImportError: VANTOR_ISA must be one of {names} on this processor, not '{name}'"
