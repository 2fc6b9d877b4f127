"""LD_PRELOAD shims for tests that need the C library to misbehave.

A shim is `tests/shims/<name>.c`, built once per test session into a temporary directory. Tests
then run Python code in a child interpreter with the shim preloaded, so that the real extension
module meets the faked C library calls while the test process itself stays untouched.
"""
import atexit
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

SHIM_SOURCES = Path(__file__).resolve().parent.parent / "shims"

_built = {}
_build_dir = None


def build_shim(name):
    """Path of the shared object built from `tests/shims/<name>.c` (compiled once per session)."""
    global _build_dir
    if not sys.platform.startswith("linux"):
        pytest.skip("LD_PRELOAD shims need the Linux dynamic loader")
    if name in _built:
        return _built[name]
    if _build_dir is None:
        _build_dir = tempfile.mkdtemp(prefix="vantor-shims-")
        atexit.register(shutil.rmtree, _build_dir, True)
    source = SHIM_SOURCES / f"{name}.c"
    output = os.path.join(_build_dir, f"{name}.so")
    result = subprocess.run(
        ["cc", "-shared", "-fPIC", "-O2", "-o", output, str(source), "-ldl", "-lpthread"],
        capture_output=True,
        text=True,
    )
    # A shim that does not compile is a broken test, never a reason to skip.
    assert result.returncode == 0, f"building {source} failed:\n{result.stderr}"
    _built[name] = output
    return output


def run_with_shim(shim_paths, code, env=None):
    """Runs `code` in a child interpreter with the shims preloaded; returns the CompletedProcess."""
    if isinstance(shim_paths, (str, os.PathLike)):
        shim_paths = [shim_paths]
    child_env = dict(os.environ)
    child_env.update(env or {})
    preload = [os.fspath(p) for p in shim_paths]
    if child_env.get("LD_PRELOAD"):
        preload.append(child_env["LD_PRELOAD"])
    child_env["LD_PRELOAD"] = " ".join(preload)
    return subprocess.run(
        [sys.executable, "-c", code],
        env=child_env,
        capture_output=True,
        text=True,
        timeout=60,
    )
