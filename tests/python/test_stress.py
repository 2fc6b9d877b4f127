"""The generators under load: many threads at once, forked worker processes, and threads that
come and go while others keep generating. Every value must be distinct and each thread's
version-7 values must keep increasing."""
import collections
import multiprocessing
import os
import sys
import threading

import pytest

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
