"""Command line: `python -m vantor`, or the `vantor` command, with the options of the standard
library's `python -m uuid`.

    python -m vantor                          one random (version 4) UUID
    python -m vantor -u uuid7 -C 1000         a thousand time-ordered UUIDs, one per line
    python -m vantor -u uuid5 -n @dns -N example.org
    vantor --version

A reader that leaves early (`| head -1`) ends it as it ends `yes` or `seq`: silently, by SIGPIPE.
"""
from __future__ import annotations

import argparse
import os
import signal
import sys
from collections.abc import Callable, Iterator, Sequence
from itertools import repeat

from vantor import (
    NAMESPACE_DNS,
    NAMESPACE_OID,
    NAMESPACE_URL,
    NAMESPACE_X500,
    UUID,
    __version__,
    uuid1,
    uuid3,
    uuid4,
    uuid5,
    uuid6,
    uuid7,
    uuid8,
)

GENERATORS: dict[str, Callable[[], UUID]] = {
    "uuid1": uuid1,
    "uuid4": uuid4,
    "uuid6": uuid6,
    "uuid7": uuid7,
    "uuid8": uuid8,
}
BULK_VERSIONS = {"uuid4": 4, "uuid7": 7}
NAME_BASED: dict[str, Callable[[UUID, bytes], UUID]] = {"uuid3": uuid3, "uuid5": uuid5}
NAMESPACES = {
    "@dns": NAMESPACE_DNS,
    "@url": NAMESPACE_URL,
    "@oid": NAMESPACE_OID,
    "@x500": NAMESPACE_X500,
}
CHOICES = ["uuid1", "uuid3", "uuid4", "uuid5", "uuid6", "uuid7", "uuid8"]

# Lines are written in chunks of this many: large enough that the cost of each write and of
# each join is spread thin, small enough (about 600 KB of text) to stay cheap in memory.
BATCH = 16384


def build_parser(prog: str = "python -m vantor") -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Generate a UUID using the selected UUID function.",
    )
    parser.add_argument(
        "-u", "--uuid", choices=CHOICES, default="uuid4", help="function to generate the UUID (default: %(default)s)"
    )
    parser.add_argument(
        "-n",
        "--namespace",
        metavar="NAMESPACE",
        help="uuid3/uuid5 only: a UUID, or a well-known predefined UUID addressed by "
        "namespace name: " + ", ".join(NAMESPACES),
    )
    parser.add_argument(
        "-N", "--name", help="uuid3/uuid5 only: name used as part of generating the UUID"
    )
    parser.add_argument(
        "-C", "--count", metavar="NUM", type=int, default=1, help="generate NUM fresh UUIDs, one per line (default: %(default)s)"
    )
    parser.add_argument("--version", action="version", version=f"vantor {__version__}")
    return parser


def _name_octets(name: str) -> bytes:
    try:
        return name.encode("utf-8")
    except UnicodeEncodeError:
        # An argument that is not valid in the locale's encoding reaches Python with its
        # undecodable bytes kept as lone surrogates; hash the bytes that were actually typed.
        return os.fsencode(name)


def _repeated_chunks(line: str, count: int) -> Iterator[str]:
    # A name-based UUID is the same on every line: format it once and repeat the text.
    full, rest = divmod(count, BATCH)
    if full:
        chunk = line * BATCH
        for _ in range(full):
            yield chunk
    if rest:
        yield line * rest


def _generated_chunks(generate: Callable[[], UUID], count: int) -> Iterator[str]:
    to_text = UUID.__str__
    while count > 0:
        n = min(count, BATCH)
        count -= n
        # The list is built first so that the generator runs in one tight loop; joining a
        # list is also faster than joining an iterator of unknown length.
        yield "\n".join(map(to_text, [generate() for _ in repeat(None, n)])) + "\n"


def _bulk_chunks(version: int, count: int) -> Iterator[str]:
    # The native module formats a whole chunk of lines, in one str.
    from vantor import _native

    lines = _native.bulk_lines
    while count > 0:
        n = min(count, BATCH)
        count -= n
        yield lines(version, n)


def main(argv: Sequence[str] | None = None, prog: str = "python -m vantor") -> None:
    parser = build_parser(prog)
    args = parser.parse_args(argv)
    count: int = args.count
    if count < 0:
        parser.error(f"argument -C/--count: must not be negative: {count}")

    if args.uuid in NAME_BASED:
        if not args.namespace or not args.name:
            parser.error(
                "Incorrect number of arguments. "
                f"{args.uuid} requires a namespace and a name. "
                f"Run '{prog} -h' for more information."
            )
        namespace = NAMESPACES.get(args.namespace)
        if namespace is None:
            try:
                namespace = UUID(args.namespace)
            except ValueError:
                parser.error(
                    f"argument -n/--namespace: not a UUID nor one of "
                    f"{', '.join(NAMESPACES)}: {args.namespace!r}"
                )
        value = NAME_BASED[args.uuid](namespace, _name_octets(args.name))
        chunks = _repeated_chunks(f"{value}\n", count)
    elif args.uuid in BULK_VERSIONS:
        chunks = _bulk_chunks(BULK_VERSIONS[args.uuid], count)
    else:
        chunks = _generated_chunks(GENERATORS[args.uuid], count)

    out = sys.stdout
    if out is None:
        # Started with standard output closed (`>&-`): there is nowhere to write, and nothing
        # to report, just as for `python -m uuid`.
        return
    write = out.write
    for chunk in chunks:
        write(chunk)
    out.flush()


def _report(message: str) -> None:
    """One line on standard error, if there is one."""
    if sys.stderr is not None:
        try:
            print(message, file=sys.stderr, flush=True)
        except OSError:
            pass


def _silence_stdout() -> None:
    # The interpreter flushes standard output once more at exit; with the failed data still
    # buffered that would fail again and print a second report.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, AttributeError, ValueError):
        pass


class _NativeReports:
    """Holds what is written to file descriptor 2 while the command runs.

    An internal failure of the extension writes a report (source location and message) there
    before it is raised. The command line replaces that report with its own single line; any
    other text is passed on unchanged when the command ends.
    """

    def __init__(self) -> None:
        self._saved = -1
        self._held = -1
        try:
            held = os.memfd_create("vantor-stderr")
        except (AttributeError, OSError):
            return  # no holding: the report stays on standard error
        try:
            self._saved = os.dup(2)
            os.dup2(held, 2)
        except OSError:
            os.close(held)
            if self._saved >= 0:
                os.close(self._saved)
                self._saved = -1
            return
        self._held = held

    def release(self, *, keep: bool) -> None:
        if self._held < 0:
            return
        try:
            if sys.stderr is not None:
                sys.stderr.flush()
        except (OSError, ValueError):
            pass
        os.dup2(self._saved, 2)
        os.close(self._saved)
        if keep:
            os.lseek(self._held, 0, os.SEEK_SET)
            while block := os.read(self._held, 65536):
                try:
                    os.write(2, block)
                except OSError:
                    break
        os.close(self._held)
        self._held = -1


def _end_as_a_closed_pipe_does() -> None:
    # Default action of SIGPIPE, as for `yes | head -1`: no message, and a status that says
    # how the command ended (128 + 13 in a shell), which `set -o pipefail` sees as it sees
    # that of `yes`. Python ignores SIGPIPE so that a write raises instead; Windows has no
    # SIGPIPE, and there the command ends with status 1, still silently.
    _silence_stdout()
    if hasattr(signal, "SIGPIPE"):
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
        os.kill(os.getpid(), signal.SIGPIPE)
    sys.exit(1)


def run(prog: str = "python -m vantor") -> None:
    reports = _NativeReports()
    keep = True
    try:
        main(prog=prog)
    except BrokenPipeError:
        # The reader went away (`| head -1`): a normal end for a writer of lines.
        reports.release(keep=True)
        _end_as_a_closed_pipe_does()
    except OSError as error:
        # The output cannot be written (`>/dev/full`): one line, as the last line of
        # `python -m uuid`'s report, and no traceback.
        reports.release(keep=True)
        _report(f"{type(error).__name__}: {error}")
        _silence_stdout()
        sys.exit(1)
    except KeyboardInterrupt:
        reports.release(keep=True)
        sys.exit(130)
    except BaseException as error:
        # An internal failure of the extension (for instance a clock set before 1970). Its
        # class lies outside Exception, so it is recognised by name.
        if type(error).__name__ != "PanicException":
            raise
        keep = False
        reports.release(keep=False)
        _report(f"{prog}: internal failure: {error}")
        sys.exit(1)
    finally:
        reports.release(keep=keep)


def command() -> None:
    """The `vantor` command that installing the package puts on PATH."""
    run(prog="vantor")


if __name__ == "__main__":
    run()
