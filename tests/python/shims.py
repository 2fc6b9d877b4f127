"""LD_PRELOAD shims for tests that need the C library to misbehave.

A shim is `tests/shims/<name>.c`, built once per test session into a temporary directory. Tests
then run Python code in a child interpreter with the shim preloaded, so that the real extension
module meets the faked C library calls while the test process itself stays untouched. The same
child harness serves every test that needs a fresh or expendable interpreter.
"""
import atexit
import json
import os
import re
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


def run_child(code, shims=(), env=None, input=None, timeout=120):
    """Runs `code` in a child interpreter and returns the CompletedProcess (text mode).

    `shims` names sources in tests/shims, built and preloaded; `env` is added to the test's own
    environment; `input` goes to the child's stdin. The child runs with faulthandler on, so a
    crash leaves its traceback in the captured stderr.
    """
    child_env = dict(os.environ)
    child_env.update(env or {})
    preload = [build_shim(name) for name in shims]
    if child_env.get("LD_PRELOAD"):
        preload.append(child_env["LD_PRELOAD"])
    if preload:
        child_env["LD_PRELOAD"] = " ".join(preload)
    return subprocess.run(
        [sys.executable, "-X", "faulthandler", "-c", code],
        env=child_env,
        input=input,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


REPORT_HEADER = re.compile(r"vantor: internal failure at [^\n]+:\d+:\n")


def failure_reports(stderr):
    """The messages of the internal-failure reports that make up `stderr`, which must hold
    nothing else."""
    messages = []
    rest = stderr
    while rest:
        header = REPORT_HEADER.match(rest)
        assert header, f"stderr holds more than failure reports:\n{stderr}"
        message, _, rest = rest[header.end():].partition("\n")
        messages.append(message)
    return messages


def _strings(value):
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict):
        for item in value.values():
            yield from _strings(item)
    elif isinstance(value, list):
        for item in value:
            yield from _strings(item)


def child_result(code, shims=(), env=None, own_stderr=False):
    """Runs `code` like `run_child`, requires a clean exit, and returns the JSON value of the
    child's last line of output together with its stderr.

    The child's stderr may hold only the reports of internal failures that it provoked on
    purpose, each with a message that also appears in its result (the PanicException it saw),
    unless the test checks the stderr itself (`own_stderr`)."""
    result = run_child(code, shims, env)
    assert result.returncode == 0, f"exit {result.returncode}\nstdout:\n{result.stdout}\nstderr:\n{result.stderr}"
    value = json.loads(result.stdout.splitlines()[-1])
    if own_stderr:
        return value, result.stderr
    seen = set(_strings(value))
    for message in failure_reports(result.stderr):
        assert any(message in text for text in seen), f"a failure report that no result shows: {message}"
    return value, result.stderr
