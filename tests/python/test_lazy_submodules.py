"""`vantor.std` and `vantor.bulk`, which the package names before their code has run and loads on
first use: what the import system itself gets right for ordinary modules (forks, reloads, other
importers, re-entry, failure and retry) must hold for them too.

Each case runs in a fresh interpreter, where the submodules have not been loaded yet."""
import os
import signal
import subprocess
import sys
import textwrap

import pytest


def run(source, *flags, check=True):
    done = subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(source)], capture_output=True, text=True, timeout=120
    )
    if check:
        assert done.returncode == 0, done.stderr
    return done


# Reads one attribute of each submodule through a call, as a user would.
USE = {
    "std": "import uuid; assert isinstance(vantor.std.uuid4(), uuid.UUID)",
    "bulk": "assert len(vantor.bulk.uuid4(3)) == 48",
}


def test_import_leaves_the_submodules_unloaded_and_their_metadata_readable():
    # Tools that look at every module in sys.modules read these; none of them may run the code.
    report = run(
        """
        import sys, vantor
        loaded = {"typing", "importlib", "importlib.util"} & set(sys.modules)
        import inspect
        assert vantor.std is sys.modules["vantor.std"] and vantor.bulk is sys.modules["vantor.bulk"]
        # A code object has no module: inspect reads the __file__ of every module to find it.
        print(sorted(loaded), repr(vantor.std).startswith("<module 'vantor.std' from "),
              vantor.bulk.__name__, vantor.bulk.__spec__.name, hasattr(vantor.std, "__path__"),
              inspect.getmodule(inspect.getmodule.__code__) is inspect,
              type(vantor.std).__name__, type(vantor.bulk).__name__)
        """
    ).stdout
    assert report.split() == ["[]", "True", "vantor.bulk", "vantor.bulk", "False", "True", "_Submodule", "_Submodule"]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.parametrize("loading", ["std", "bulk"])
def test_fork_while_another_thread_runs_the_first_load(loading):
    # The other thread is stopped inside the submodule's code (so inside the load, holding its
    # lock) when the main thread forks. In the child that thread does not exist: both submodules
    # must still load there, and the one it was loading must come out whole.
    report = run(
        f"""
        import os, signal, sys, threading, types, vantor

        inside, forked = threading.Event(), threading.Event()

        def stop_inside(frame, event, arg):
            if event == "call" and frame.f_globals.get("__name__") == "vantor.{loading}":
                sys.setprofile(None)
                inside.set()
                forked.wait()

        def first_use():
            sys.setprofile(stop_inside)
            {USE[loading]}

        thread = threading.Thread(target=first_use)
        thread.start()
        assert inside.wait(60)
        pid = os.fork()
        if pid == 0:
            signal.alarm(30)  # a hang ends the child, and the parent reports it
            {USE["std"]}
            {USE["bulk"]}
            assert type(vantor.std) is type(vantor.bulk) is types.ModuleType
            os._exit(0)
        forked.set()
        thread.join()
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status))
        """,
        "-W", "ignore::DeprecationWarning",  # 3.12+ warns of forking a process with threads
    ).stdout
    assert report.split() == ["0"]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_fork_in_the_middle_of_a_load_lets_the_child_finish_it():
    # The forking thread is the loading one (a module's code may fork, or a signal handler): the
    # child goes on with the load it is in, and the submodule is whole on both sides.
    report = run(
        """
        import os, sys, types, vantor

        def fork_inside(frame, event, arg):
            global pid
            if event == "call" and frame.f_globals.get("__name__") == "vantor.bulk":
                sys.setprofile(None)
                pid = os.fork()

        sys.setprofile(fork_inside)
        assert len(vantor.bulk.uuid4(2)) == 32 and type(vantor.bulk) is types.ModuleType
        if pid == 0:
            assert len(vantor.bulk.uuid7(2)) == 32
            os._exit(0)
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status))
        """
    ).stdout
    assert report.split() == ["0"]


@pytest.mark.parametrize(
    "before, after",
    [
        ("", "importlib.reload(vantor)"),
        (USE["std"], "importlib.reload(vantor)"),
        ("importlib.reload(vantor)", "importlib.reload(vantor)"),
    ],
    ids=["before-first-use", "between-first-uses", "twice"],
)
def test_reload_keeps_the_submodules_working_and_the_same(before, after):
    run(
        f"""
        import importlib, sys, types, vantor
        std, bulk = vantor.std, vantor.bulk
        {before}
        {after}
        {USE["std"]}
        {USE["bulk"]}
        assert vantor.std is std is sys.modules["vantor.std"] and vantor.bulk is bulk
        assert type(std) is type(bulk) is types.ModuleType
        """
    )


# The package served by an importer on sys.meta_path from sources it holds in memory, with no
# file system location (`__path__` is empty), as freezers and in-memory importers do; the
# extension module itself is the installed one.
MEMORY_IMPORTER = """
import importlib.abc, importlib.util, os, sys, vantor

folder = os.path.dirname(vantor.__file__)
SOURCES = {
    name: open(os.path.join(folder, file), encoding="utf-8").read() + SUFFIX.get(name, "")
    for name, file in [("vantor", "__init__.py"), ("vantor.std", "std.py"), ("vantor.bulk", "bulk.py")]
    if name not in MISSING
}
for name in [name for name in sys.modules if name == "vantor" or name.startswith("vantor.")]:
    if name != "vantor._native":
        del sys.modules[name]


class MemoryImporter(importlib.abc.MetaPathFinder, importlib.abc.Loader):
    def find_spec(self, name, path, target=None):
        if name not in SOURCES:
            return None
        return importlib.util.spec_from_loader(name, self, is_package=name == "vantor")

    def exec_module(self, module):
        if module.__name__ == "vantor":
            module.__path__ = []
        exec(compile(SOURCES[module.__name__], f"<memory>/{module.__name__}", "exec"), module.__dict__)


sys.meta_path.insert(0, MemoryImporter())
"""


@pytest.mark.parametrize("flags", [(), ("-O",)], ids=["default", "optimized"])
def test_submodules_are_found_through_meta_path_importers(flags):
    report = run(
        "MISSING, SUFFIX = (), {}\n" + MEMORY_IMPORTER + """
import vantor, uuid
assert vantor.__path__ == [] and isinstance(vantor.__spec__.loader, MemoryImporter)
assert isinstance(vantor.std.uuid7(), uuid.UUID) and len(vantor.bulk.uuid4(2)) == 32
print(type(vantor.std.__loader__).__name__, type(vantor.bulk.__loader__).__name__)
""",
        *flags,
    ).stdout
    assert report.split() == ["MemoryImporter", "MemoryImporter"]


@pytest.mark.parametrize("flags", [(), ("-O",)], ids=["default", "optimized"])
def test_a_missing_submodule_fails_the_import_with_its_name(flags):
    done = run("MISSING, SUFFIX = ('vantor.bulk',), {}\n" + MEMORY_IMPORTER + "import vantor\n", *flags, check=False)
    assert done.returncode == 1
    assert done.stderr.splitlines()[-1] == "ModuleNotFoundError: No module named 'vantor.bulk'"


# Code that runs in the loading thread while the submodule's code runs: `trigger` is called at
# the first line of that code, and makes `use` run there, from a signal handler or a finalizer.
REENTRY = {
    "signal-handler": (
        "signal.signal(signal.SIGUSR1, lambda *_: use())",
        "signal.raise_signal(signal.SIGUSR1)",
    ),
    "finalizer": (
        "class Finalized:\n    def __del__(self): use()\nheld = [Finalized()]",
        "held.clear()",
    ),
}


@pytest.mark.skipif(sys.platform == "win32", reason="needs SIGUSR1")
@pytest.mark.parametrize("module", ["std", "bulk"])
@pytest.mark.parametrize("how", REENTRY)
def test_code_run_inside_the_first_load_sees_a_whole_module(how, module):
    arm, trigger = REENTRY[how]
    report = run(
        f"""
        import signal, sys, types, uuid, vantor
        seen = []

        def use():
            seen.append(type(vantor.{module}) is not types.ModuleType)  # still loading
            {USE[module]}
            seen.append(all(callable(getattr(vantor.{module}, name)) for name in vantor.{module}.__all__))

        {textwrap.indent(arm, "        ").strip()}

        def inside(frame, event, arg):
            if event == "call" and frame.f_globals.get("__name__") == "vantor.{module}":
                sys.setprofile(None)
                {trigger}

        sys.setprofile(inside)
        {USE[module]}
        print(seen)
        """
    ).stdout
    assert report.strip() == "[True, True]"


def test_own_code_reading_the_module_while_it_loads_is_a_clear_error():
    # A submodule whose code reads itself through its module object (not through its globals)
    # cannot be given a copy of itself: that copy's code would read it again, without end.
    done = run(
        """MISSING, SUFFIX = (), {"vantor.std": "import sys; sys.modules[__name__].__doc__\\n"}\n"""
        + MEMORY_IMPORTER
        + """
import vantor
for attempt in range(2):
    try:
        vantor.std.uuid4
    except ImportError as error:
        print(error)
""",
    )
    message = "cannot use partially initialized module 'vantor.std' from the code that loads it"
    assert done.stdout.splitlines() == [message, message]


@pytest.mark.parametrize("module, needs", [("std", "uuid"), ("bulk", "typing")])
def test_failed_first_load_leaves_the_module_inspectable_and_a_later_use_retries(module, needs):
    report = run(
        f"""
        import inspect, sys, vantor
        saved = sys.modules.pop({needs!r}, None)
        sys.modules[{needs!r}] = None  # as if it could not be imported
        for attempt in range(2):
            try:
                vantor.{module}.__all__
            except ImportError as error:
                print(error.name)
        # What looks at every module keeps working, and sees the module as before its first use.
        print(repr(vantor.{module}).startswith("<module 'vantor.{module}' from "),
              inspect.getmodule(inspect.getmodule.__code__) is inspect)
        del sys.modules[{needs!r}]
        if saved is not None:
            sys.modules[{needs!r}] = saved
        {USE[module]}
        print(type(vantor.{module}).__name__)
        """
    ).stdout
    assert report.split() == [needs, needs, "True", "True", "module"]


def test_first_load_interrupted_by_ctrl_c_is_retried():
    report = run(
        """
        import signal, sys, vantor

        def inside(frame, event, arg):
            if event == "call" and frame.f_globals.get("__name__") == "vantor.bulk":
                sys.setprofile(None)
                signal.raise_signal(signal.SIGINT)

        sys.setprofile(inside)
        try:
            vantor.bulk.uuid4
        except KeyboardInterrupt:
            print("interrupted")
        print(len(vantor.bulk.uuid4(2)))
        """
    ).stdout
    assert report.split() == ["interrupted", "32"]
