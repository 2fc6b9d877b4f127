"""`python -m vantor`, run as a separate process the way a shell would run it."""
import importlib.metadata
import os
import shlex
import shutil
import signal
import subprocess
import sys
import sysconfig
import uuid

import pytest

import _vantor
import vantor
from shims import build_shim

NAMESPACE_SHORTCUTS = [
    ("@dns", vantor.NAMESPACE_DNS),
    ("@url", vantor.NAMESPACE_URL),
    ("@oid", vantor.NAMESPACE_OID),
    ("@x500", vantor.NAMESPACE_X500),
]
GENERATED = [("uuid1", 1), ("uuid4", 4), ("uuid6", 6), ("uuid7", 7), ("uuid8", 8)]
# Larger than the number of lines the command writes at once, so that counts straddle a
# chunk boundary.
MANY = 40_003


def run(*args, check=True):
    # The environment (PYTHONPATH included) is inherited, so the child imports the same vantor.
    result = subprocess.run(
        [sys.executable, "-m", "vantor", *args], capture_output=True, text=True
    )
    if check:
        assert result.returncode == 0, result.stderr
        assert result.stderr == ""
    return result


def lines_of(stdout):
    lines = stdout.splitlines()
    # One UUID per line, each line terminated, nothing else.
    assert stdout == "".join(line + "\n" for line in lines)
    return lines


def parsed(stdout):
    return [vantor.UUID(line) for line in lines_of(stdout)]


def test_default_is_one_version_4_uuid():
    (value,) = parsed(run().stdout)
    assert value.version == 4
    assert value.variant == vantor.RFC_4122


@pytest.mark.parametrize("option", ["-u", "--uuid"])
@pytest.mark.parametrize("function, version", GENERATED)
def test_each_generator_gives_its_version(option, function, version):
    values = parsed(run(option, function, "-C", "3").stdout)
    assert [v.version for v in values] == [version] * 3
    assert all(v.variant == vantor.RFC_4122 for v in values)
    assert len(set(values)) == 3


@pytest.mark.parametrize("function, version", GENERATED)
def test_large_count_gives_distinct_lines(function, version):
    lines = lines_of(run("-u", function, "-C", str(MANY)).stdout)
    assert len(lines) == MANY
    assert len(set(lines)) == MANY
    assert {vantor.UUID(line).version for line in lines} == {version}
    if function == "uuid7":
        # Version 7 values increase within a process; batching must keep their order.
        assert lines == sorted(lines)


@pytest.mark.parametrize("count", ["0", "1", "2", str(MANY)])
@pytest.mark.parametrize("option", ["-C", "--count"])
def test_count_gives_that_many_lines(option, count):
    assert len(lines_of(run(option, count).stdout)) == int(count)


@pytest.mark.parametrize("function", ["uuid3", "uuid5"])
@pytest.mark.parametrize("shortcut, namespace", NAMESPACE_SHORTCUTS)
def test_namespace_shortcuts(function, shortcut, namespace):
    generate = getattr(vantor, function)
    out = run("-u", function, "-n", shortcut, "-N", "example.org").stdout
    assert parsed(out) == [generate(namespace, "example.org")]


NAMESPACE_TEXT = "12345678-1234-5678-9234-567812345678"


@pytest.mark.parametrize("function", ["uuid3", "uuid5"])
@pytest.mark.parametrize(
    "namespace_text, name",
    # Every accepted spelling of a namespace UUID...
    [
        (NAMESPACE_TEXT, "python.org"),
        ("{" + NAMESPACE_TEXT + "}", "python.org"),
        ("urn:uuid:" + NAMESPACE_TEXT, "python.org"),
        (NAMESPACE_TEXT.replace("-", "").upper(), "python.org"),
    ]
    # ...and names that are not plain ASCII words.
    + [(NAMESPACE_TEXT, name) for name in ["naïve café ☃", "with space", "-", "--uuid"]],
)
def test_name_based_values_match_the_library(function, namespace_text, name):
    out = run("--uuid", function, "--namespace", namespace_text, f"--name={name}").stdout
    namespace = vantor.UUID(namespace_text)
    assert parsed(out) == [getattr(vantor, function)(namespace, name)]
    # And the same as the standard library for the same input.
    std_namespace = uuid.UUID(namespace_text)
    assert out == f"{getattr(uuid, function)(std_namespace, name)}\n"


@pytest.mark.skipif(sys.platform == "win32", reason="Windows command lines are UTF-16: no argument holds undecodable bytes")
def test_undecodable_name_hashes_the_bytes_given():
    # Arguments that are not valid in the locale's encoding still name exact octets.
    result = subprocess.run(
        [sys.executable, "-m", "vantor", "-u", "uuid5", "-n", "@url", "-N", b"caf\xe9\xff"],
        capture_output=True,
        text=True,
    )
    assert result.returncode == 0, result.stderr
    assert parsed(result.stdout) == [vantor.uuid5(vantor.NAMESPACE_URL, b"caf\xe9\xff")]


@pytest.mark.parametrize("function", ["uuid3", "uuid5"])
@pytest.mark.parametrize("count", [2, MANY])
def test_name_based_count_repeats_the_value(function, count):
    out = run("-u", function, "-n", "@dns", "-N", "x", "-C", str(count)).stdout
    expected = str(getattr(vantor, function)(vantor.NAMESPACE_DNS, "x"))
    assert lines_of(out) == [expected] * count


USAGE = "usage: python -m vantor"


@pytest.mark.parametrize("function", ["uuid3", "uuid5"])
@pytest.mark.parametrize(
    "args",
    [[], ["-n", "@dns"], ["-N", "name"], ["-n", "@dns", "-N", ""], ["-n", "", "-N", "name"]],
    ids=["neither", "no-name", "no-namespace", "empty-name", "empty-namespace"],
)
def test_name_based_without_namespace_and_name_is_a_usage_error(function, args):
    result = run("-u", function, *args, check=False)
    assert result.returncode == 2
    assert result.stdout == ""
    assert USAGE in result.stderr
    assert (
        "error: Incorrect number of arguments. "
        f"{function} requires a namespace and a name. "
        "Run 'python -m vantor -h' for more information."
    ) in result.stderr


@pytest.mark.parametrize(
    "args, message",
    [
        (["-u", "uuid5", "-n", "not-a-uuid", "-N", "x"], "'not-a-uuid'"),
        (["-u", "uuid3", "-n", "@DNS", "-N", "x"], "'@DNS'"),
        (["-u", "uuid3", "-n", "12345678-1234-5678-9234-56781234567", "-N", "x"], "-n/--namespace"),
        (["-u", "uuid2"], "invalid choice: 'uuid2'"),
        (["-C", "many"], "invalid int value: 'many'"),
        (["-C", "-1"], "-C/--count"),
        (["--bogus"], "unrecognized arguments: --bogus"),
    ],
    ids=["namespace", "namespace-case", "namespace-short", "function", "count-text",
         "count-negative", "unknown-option"],
)
def test_bad_arguments_are_usage_errors(args, message):
    result = run(*args, check=False)
    assert result.returncode == 2
    assert result.stdout == ""
    assert USAGE in result.stderr
    assert message in result.stderr
    assert "Traceback" not in result.stderr


def test_help_lists_the_options():
    out = run("-h").stdout
    assert out.startswith(USAGE)
    for option in ["--uuid", "--namespace", "--name", "--count", "@dns", "@x500", "uuid8"]:
        assert option in out


# The `vantor` command that installing the package put beside this interpreter ([project.scripts]).
CONSOLE_SCRIPT = shutil.which("vantor", path=sysconfig.get_path("scripts"))


def _launchers_run():
    # Windows console scripts are small launcher programs that start the interpreter. Some
    # emulated Windows systems cannot run them at all; pip's own launcher, made the same way, tells
    # such a system from a broken `vantor` command.
    if sys.platform != "win32":
        return True
    pip = shutil.which("pip", path=sysconfig.get_path("scripts"))
    if pip is None:
        return True
    return subprocess.run([pip, "--version"], capture_output=True, timeout=60).returncode == 0


needs_console_script = pytest.mark.skipif(
    CONSOLE_SCRIPT is None, reason="vantor is not installed in this environment"
)
if CONSOLE_SCRIPT is not None and not _launchers_run():
    needs_console_script = pytest.mark.skip(
        reason="this system's console-script launchers do not start (pip's fails too)"
    )
COMMANDS = [
    pytest.param([sys.executable, "-m", "vantor"], id="python-m"),
    pytest.param([CONSOLE_SCRIPT], id="console-script", marks=needs_console_script),
]


@pytest.mark.parametrize("command", COMMANDS)
def test_version_option_prints_the_one_version(command):
    result = subprocess.run([*command, "--version"], capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stdout, result.stderr) == (0, f"vantor {vantor.__version__}\n", "")
    # pyproject.toml's version reaches the installed metadata and, through the build, the module.
    assert vantor.__version__ == _vantor.__version__ == importlib.metadata.version("vantor")


@needs_console_script
def test_console_script_is_the_command_line_under_its_own_name():
    made = subprocess.run([CONSOLE_SCRIPT, "-u", "uuid7", "-C", "3"], capture_output=True, text=True, timeout=60)
    assert made.returncode == 0, made.stderr
    assert [value.version for value in parsed(made.stdout)] == [7, 7, 7]
    refused = subprocess.run([CONSOLE_SCRIPT, "-u", "uuid5"], capture_output=True, text=True, timeout=60)
    assert refused.returncode == 2
    assert refused.stderr.startswith("usage: vantor ")
    assert "Run 'vantor -h' for more information." in refused.stderr


# A broken or closed standard output, the way a shell makes one. Where the standard library's
# `python -m uuid` prints a traceback, the command prints only its last line; where it prints
# nothing (stdout closed, so there is no sys.stdout), the command ends silently too.
@pytest.mark.skipif(sys.platform == "win32", reason="needs a POSIX shell and /dev/full")
@pytest.mark.parametrize(
    "shell, status, stderr",
    [
        ("{cmd} >&-", 0, ""),
        ("{cmd} -C 100000 >&-", 0, ""),
        ("{cmd} -u uuid5 -n @dns -N x >&-", 0, ""),
        ("{cmd} >/dev/full", 1, "OSError: [Errno 28] No space left on device\n"),
        ("{cmd} -C 100000 >/dev/full", 1, "OSError: [Errno 28] No space left on device\n"),
    ],
    ids=["closed", "closed-many", "closed-name-based", "full", "full-many"],
)
def test_unwritable_output_ends_with_at_most_one_line(shell, status, stderr):
    command = shell.format(cmd=f"{shlex.quote(sys.executable)} -m vantor")
    result = subprocess.run(["bash", "-c", command], capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stderr) == (status, stderr)


# The reader leaves long before the end, as `| head -1` does: a normal end for a writer of
# lines, which `yes | head -1` meets silently, killed by SIGPIPE (status 128 + 13 in a shell).
@pytest.mark.skipif(sys.platform == "win32", reason="needs a POSIX shell and SIGPIPE")
@pytest.mark.parametrize(
    "args",
    ["-C 1000000", "-u uuid7 -C 1000000", "-u uuid1 -C 1000000", "-u uuid5 -n @dns -N x -C 1000000"],
    ids=["bulk-lines", "bulk-lines-v7", "generated", "name-based"],
)
def test_closed_pipe_ends_silently_as_line_writers_do(args):
    command = f"{shlex.quote(sys.executable)} -m vantor {args} | head -1; exit ${{PIPESTATUS[0]}}"
    result = subprocess.run(["bash", "-c", command], capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stderr) == (128 + signal.SIGPIPE, "")
    assert len(lines_of(result.stdout)) == 1
    # The same status as the shell's own line writer, taken as the reference.
    reference = subprocess.run(["bash", "-c", "yes | head -1 >/dev/null; exit ${PIPESTATUS[0]}"], timeout=60)
    assert reference.returncode == result.returncode


@pytest.mark.parametrize("function", ["uuid1", "uuid6", "uuid7"])
def test_internal_failure_is_one_line_and_a_failing_status(function):
    # A clock before 1970 is an internal failure of the time-based generators.
    env = dict(os.environ, LD_PRELOAD=build_shim("clock_shim"), CLOCK_SHIM_NS="-1500000000")
    result = subprocess.run(
        [sys.executable, "-m", "vantor", "-u", function], capture_output=True, text=True, env=env, timeout=60
    )
    assert result.returncode == 1
    assert result.stdout == ""
    assert result.stderr == (
        "python -m vantor: internal failure: Getting elapsed time since UNIX_EPOCH. If this fails, "
        "we've somehow violated causality: SystemTimeError(1.5s)\n"
    )
