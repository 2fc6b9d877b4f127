"""The generators under load: many threads at once, forked worker processes, and threads that
come and go while others keep generating. Every value must be distinct and each thread's
version-7 values must keep increasing. On a free-threaded build the threads run truly in
parallel (the suite runs there with the GIL off), so these tests are also its race tests."""
import collections
import json
import multiprocessing
import os
import sys
import threading
import uuid as std_uuid

import pytest
import shims

import vantor
import vantor.bulk
import vantor.std
from vantor import UUID, _uuid4_int, _uuid7_int, uuid1, uuid4, uuid6, uuid7, uuid8

THREADS = 8
PER_THREAD = 50_000
WORKERS = 8
PER_WORKER = 20_000


@pytest.fixture
def fine_switching():
    # The default 5 ms switch interval lets each thread run long stretches alone; a short one makes
    # the threads' calls into the shared clock-sequence and version-7 state interleave finely.
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(previous)


def duplicates(values):
    """A few of the values that occur more than once, for the failure message."""
    return [value for value, count in collections.Counter(values).items() if count > 1][:5]


def assert_distinct(values, what):
    values = list(values)
    assert len(set(values)) == len(values), f"{what}: repeated values, e.g. {[hex(v) for v in duplicates(values)]}"


def assert_increasing(uuids, what):
    for earlier, later in zip(uuids, uuids[1:]):
        if not earlier < later:
            pytest.fail(f"{what}: {earlier} is followed by {later}")
    ints = [u.int for u in uuids]
    assert ints == sorted(ints) and len(set(ints)) == len(ints), f"{what}: the integers disagree with the comparison"


def run_threads(targets):
    """Runs each callable in its own thread; re-raises the first exception any of them raised."""
    errors = []

    def guarded(target):
        try:
            target()
        except BaseException as error:  # noqa: BLE001 - reported in the test's own thread
            errors.append(error)

    threads = [threading.Thread(target=guarded, args=(target,)) for target in targets]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]


def test_threads_draw_distinct_values_and_keep_uuid7_increasing(fine_switching):
    start = threading.Barrier(THREADS)
    drawn = [None] * THREADS

    def worker(slot):
        v4, v1, v7 = [], [], []
        start.wait()
        # The three kinds in turn, so that every shared state is hit by all threads at once.
        for _ in range(PER_THREAD):
            v4.append(uuid4())
            v1.append(uuid1())
            v7.append(uuid7())
        drawn[slot] = (v4, v1, v7)

    run_threads([lambda slot=slot: worker(slot) for slot in range(THREADS)])

    for slot, (v4, v1, v7) in enumerate(drawn):
        assert {u.version for u in v4} == {4}
        assert {u.version for u in v1} == {1}
        assert {u.version for u in v7} == {7}
        assert_increasing(v7, f"uuid7 in thread {slot}")
    # The kinds differ in their version nibble, so one set over all of them finds any repeat.
    assert_distinct((u.int for kinds in drawn for values in kinds for u in values), "all threads")


def draw_in_worker(count):
    """Runs in a forked pool worker: `count` values of each kind, as ints, and the process id."""
    v4 = [uuid4().int if i % 2 else _uuid4_int() for i in range(count)]
    v7 = [uuid7().int if i % 2 else _uuid7_int() for i in range(count)]
    v1 = [uuid1().int for _ in range(count)]
    return os.getpid(), v4, v7, v1


def draw_in_parent(count):
    return (
        [_uuid4_int() for _ in range(count)],
        [_uuid7_int() for _ in range(count)],
        [uuid1().int for _ in range(count)],
    )


@pytest.mark.skipif("fork" not in multiprocessing.get_all_start_methods(), reason="needs the fork start method")
def test_forked_workers_do_not_repeat_each_other_or_the_parent():
    # The parent generates first, so that each worker inherits generator and clock state that is
    # in use: a child that carried on from it would hand out the parent's next values.
    before = draw_in_parent(PER_WORKER)
    last_clock_seq = UUID(int=before[2][-1]).clock_seq
    context = multiprocessing.get_context("fork")
    with context.Pool(WORKERS) as pool:
        results = pool.map(draw_in_worker, [PER_WORKER] * WORKERS, chunksize=1)
    after = draw_in_parent(PER_WORKER)

    for pid, v4, v7, v1 in results:
        assert_increasing([UUID(int=v) for v in v7], f"uuid7 in worker {pid}")
        assert_distinct(v1, f"uuid1 in worker {pid}")
    for kind, name in enumerate(["uuid4", "uuid7"]):
        everything = before[kind] + after[kind] + [v for result in results for v in result[1 + kind]]
        assert_distinct(everything, f"{name} across the parent and the workers")
    # uuid1 values of two workers are not compared with each other: the workers share the host's
    # node, so two of them reading the same 100-ns tick collide whenever their random 14-bit clock
    # sequences happen to line up (a few runs in a hundred here). The parent's values are drawn
    # at other times and must never be repeated.
    parent_v1 = before[2] + after[2]
    for pid, _, _, v1 in results:
        assert_distinct(parent_v1 + v1, f"uuid1 of the parent and worker {pid}")

    # The workers share the host's node, so their uuid1 values stay apart only through the clock
    # sequence: each child must start a fresh random one instead of continuing the parent's.
    first_sequences = [UUID(int=result[3][0]).clock_seq for result in results]
    continued = (last_clock_seq + 1) & 0x3FFF
    assert first_sequences != [continued] * len(results), "every worker continued the parent's clock sequence"
    assert len(set(first_sequences)) > 1, f"all workers started the same clock sequence {first_sequences[0]}"


def test_threads_that_come_and_go_while_others_generate(fine_switching):
    stop = threading.Event()
    long_lived = [None, None]
    short_lived = []
    lock = threading.Lock()

    def long_worker(slot):
        v7, others = [], []
        # Bounded even if the churn below were to hang.
        for _ in range(400_000):
            if stop.is_set():
                break
            v7.append(uuid7())
            others.append(uuid4().int)
            others.append(uuid1().int)
        long_lived[slot] = (v7, others)

    def short_worker():
        # A new thread's first call creates its generator; its exit destroys it while the long
        # threads are in the middle of drawing from theirs.
        values = [uuid4().int, _uuid4_int(), uuid7().int, _uuid7_int(), uuid1().int, uuid6().int, uuid8().int]
        values += [uuid4().int for _ in range(3)]
        with lock:
            short_lived.extend(values)

    errors = []

    def guarded(target, *args):
        try:
            target(*args)
        except BaseException as error:  # noqa: BLE001 - reported in the test's own thread
            errors.append(error)

    long_threads = [threading.Thread(target=guarded, args=(long_worker, slot)) for slot in range(2)]
    for thread in long_threads:
        thread.start()
    try:
        for _ in range(200 // 8):
            wave = [threading.Thread(target=guarded, args=(short_worker,)) for _ in range(8)]
            for thread in wave:
                thread.start()
            for thread in wave:
                thread.join()
    finally:
        stop.set()
        for thread in long_threads:
            thread.join()
    if errors:
        raise errors[0]

    assert len(short_lived) == 200 * 10
    everything = list(short_lived)
    for slot, (v7, others) in enumerate(long_lived):
        assert_increasing(v7, f"uuid7 in long thread {slot}")
        everything += [u.int for u in v7] + others
    assert_distinct(everything, "all threads")


# ---- every generator from many threads at once ----------------------------------------------------

TABLE_THREADS = 4
TABLE_CALLS = 5_000


def ints_of(result):
    """The 128-bit values of one call's result: a UUID, a standard UUID, an int, or a bulk batch."""
    if isinstance(result, int):
        return [result]
    if isinstance(result, (UUID, std_uuid.UUID)):
        return [result.int]
    if isinstance(result, bytes):
        return [int.from_bytes(result[i:i + 16], "big") for i in range(0, len(result), 16)]
    return [u.int for u in result]


# (id, one call, its version, whether a thread's values must increase, calls per thread)
GENERATORS = [
    ("uuid1", lambda: uuid1(), 1, False, TABLE_CALLS),
    ("uuid4", lambda: uuid4(), 4, False, TABLE_CALLS),
    ("_uuid4_int", lambda: _uuid4_int(), 4, False, TABLE_CALLS),
    ("uuid6", lambda: uuid6(), 6, False, TABLE_CALLS),
    ("uuid7", lambda: uuid7(), 7, True, TABLE_CALLS),
    ("_uuid7_int", lambda: _uuid7_int(), 7, True, TABLE_CALLS),
    ("uuid8", lambda: uuid8(), 8, False, TABLE_CALLS),
    ("std.uuid4", lambda: vantor.std.uuid4(), 4, False, TABLE_CALLS),
    ("std.uuid7", lambda: vantor.std.uuid7(), 7, True, TABLE_CALLS),
    ("bulk.uuid4", lambda: vantor.bulk.uuid4(100), 4, False, 200),
    ("bulk.uuid7", lambda: vantor.bulk.uuid7(100), 7, True, 200),
    ("bulk.uuid7-uuid", lambda: vantor.bulk.uuid7(50, format="uuid"), 7, True, 200),
    # single and bulk calls of one thread share its place in the version-7 order
    ("uuid7-and-bulk.uuid7", lambda: [uuid7(), *vantor.bulk.uuid7(3, format="uuid"), vantor.std.uuid7()], 7, True, 1_000),
]


@pytest.mark.parametrize(("generate", "version", "ordered", "calls"), [row[1:] for row in GENERATORS],
                         ids=[row[0] for row in GENERATORS])
def test_every_generator_from_many_threads(fine_switching, generate, version, ordered, calls):
    start = threading.Barrier(TABLE_THREADS)
    drawn = [None] * TABLE_THREADS

    def worker(slot):
        start.wait()
        drawn[slot] = [value for _ in range(calls) for value in ints_of(generate())]

    run_threads([lambda slot=slot: worker(slot) for slot in range(TABLE_THREADS)])
    for slot, values in enumerate(drawn):
        assert {UUID(int=value).version for value in values} == {version}
        if ordered:
            assert values == sorted(values) and len(set(values)) == len(values), f"thread {slot} out of order"
    assert_distinct((value for values in drawn for value in values), "all threads")


# ---- text, name-based and class calls on shared objects -------------------------------------------

def test_parsing_formatting_and_hashing_shared_objects_from_many_threads(fine_switching):
    # The same objects read by every thread at once: the results are the standard library's.
    texts = [str(std_uuid.uuid4()) for _ in range(64)]
    expected = [std_uuid.UUID(text) for text in texts]
    names = [f"name-{i}" for i in range(64)]
    start = threading.Barrier(TABLE_THREADS)

    def worker():
        start.wait()
        for _ in range(50):
            for text, std in zip(texts, expected):
                u = UUID(text)
                assert (str(u), u.int, u.bytes, hash(u)) == (str(std), std.int, std.bytes, hash(std))
                assert UUID(int=std.int) == u and UUID(int=u.int, version=4).hex == std.hex
            assert [vantor.uuid5(vantor.NAMESPACE_DNS, name).int for name in names] == [
                std_uuid.uuid5(std_uuid.NAMESPACE_DNS, name).int for name in names]
            assert vantor.bulk.uuid3(vantor.NAMESPACE_URL, names) == b"".join(
                std_uuid.uuid3(std_uuid.NAMESPACE_URL, name).bytes for name in names)

    run_threads([worker] * TABLE_THREADS)


# A name shared by the hashing threads, changed in place by another thread all the while: every
# hash is of some state of the name, and nothing crashes or reads freed memory.
SHARED_NAMES = [
    pytest.param("bytearray", id="uuid5-of-a-resized-bytearray"),
    pytest.param("list", id="bulk.uuid5-of-a-resized-list"),
]


@pytest.mark.parametrize("kind", SHARED_NAMES)
def test_hashing_a_name_another_thread_resizes(fine_switching, kind):
    stop = threading.Event()
    shared = bytearray(b"x" * 64) if kind == "bytearray" else [f"n{i}" for i in range(64)]

    def resize():
        grow = True
        while not stop.is_set():
            if kind == "bytearray":
                try:
                    shared[:] = b"y" * (4096 if grow else 1)
                except BufferError:
                    continue  # refused while a hashing thread holds the bytes: what keeps them valid
            else:
                shared[:] = [f"m{i}" * 50 for i in range(512 if grow else 1)]
            grow = not grow

    def hash_it():
        for _ in range(2_000):
            if kind == "bytearray":
                assert vantor.uuid5(vantor.NAMESPACE_DNS, shared).version == 5
            else:
                # A list that changes size under the batch is refused, like a dict changed while
                # iterated.
                try:
                    batch = vantor.bulk.uuid5(vantor.NAMESPACE_DNS, shared)
                except RuntimeError as error:
                    assert str(error) == "names changed size while their UUIDs were made"
                else:
                    assert len(batch) % 16 == 0

    resizer = threading.Thread(target=resize)
    resizer.start()
    try:
        run_threads([hash_it] * 2)
    finally:
        stop.set()
        resizer.join()


# ---- concurrent first use, in a fresh process ---------------------------------------------------

# Every object made on first use (the UUID class, PanicException, the interned names of the
# argument parser and the class, the int layout, the standard class's layout), first used by
# several threads at the same moment. With a clock before 1970 each time-based call fails with
# PanicException: every thread must see the very same class.
FIRST_USE_CHILD = r"""
import ctypes, json, os, sys, threading
clock = ctypes.CDLL(None).clock_shim_set
clock.argtypes = [ctypes.c_char_p]
import vantor, vantor.bulk, vantor.std
THREADS = 8
start = threading.Barrier(THREADS)
seen = [None] * THREADS

def worker(slot):
    start.wait()
    values = [vantor.UUID(hex="12345678123456781234567812345678", version=4).int,
              vantor.UUID(int=2**127 + slot).int, vantor.uuid4().is_safe.name,
              vantor.uuid5(namespace=vantor.NAMESPACE_DNS, name="a").int,
              vantor.uuid8(a=1, b=2, c=3).int, vantor.std.uuid4().version]
    try:
        vantor.uuid7()
    except BaseException as error:
        panic = error
    seen[slot] = (type(panic), values)

saved = os.dup(2)
os.dup2(os.open(os.devnull, os.O_WRONLY), 2)  # the expected failure reports
clock(b"-1500000000")
threads = [threading.Thread(target=worker, args=(slot,)) for slot in range(THREADS)]
for thread in threads: thread.start()
for thread in threads: thread.join()
clock(None)
os.dup2(saved, 2)
types = {id(kind) for kind, _ in seen}
print(json.dumps({"panic_classes": len(types), "panic_name": seen[0][0].__name__,
                  "values_agree": all(values[:1] + values[2:] == seen[0][1][:1] + seen[0][1][2:] for _, values in seen),
                  "ints": sorted(values[1] - 2**127 for _, values in seen)}))
"""


def test_first_use_of_every_shared_object_from_many_threads_at_once():
    for _ in range(3):  # each run is a fresh process: three chances for the threads to collide
        result = shims.run_child(FIRST_USE_CHILD, shims=["clock_shim"])
        assert result.returncode == 0, result.stderr[-2000:]
        value = json.loads(result.stdout.splitlines()[-1])
        assert value == {"panic_classes": 1, "panic_name": "PanicException", "values_agree": True,
                         "ints": list(range(8))}
