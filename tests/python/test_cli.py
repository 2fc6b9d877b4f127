"""`python -m vantor`, run as a separate process the way a shell would run it."""
import subprocess
import sys
import uuid

import pytest

import vantor

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


def test_closed_pipe_ends_quietly():
    # Like `python -m vantor -C 1000000 | head -n 1`: the reader leaves long before the end.
    with subprocess.Popen(
        [sys.executable, "-m", "vantor", "-C", "1000000"],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    ) as process:
        first = process.stdout.readline()
        process.stdout.close()
        stderr = process.stderr.read()
        returncode = process.wait()
    assert vantor.UUID(first.decode().strip()).version == 4
    assert stderr == b""
    assert returncode == 1
