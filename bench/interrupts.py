"""How soon long native calls give way: to Ctrl-C, and to other threads.

    python bench/interrupts.py            # the issue's sizes: up to 1.6 GB per call
    python bench/interrupts.py --small    # a tenth of them

Interrupt delay: each call is timed whole, then run again with SIGINT sent at 20% of that time;
the delay is from the signal to its handler, which raises KeyboardInterrupt out of the call.

GIL: a second thread counts in a Python loop while the main thread makes one large batch; the
longest gap between two of its steps is the longest the batch held the GIL, and its share is how
much of its own speed alone it kept during the batch.
"""
from __future__ import annotations

import argparse
import os
import signal
import threading
import time

import vantor
from vantor import _native as native, bulk


def calls(scale: float) -> dict:
    n = lambda count: max(1, int(count * scale))  # noqa: E731
    name = bytes(n(512 * 2**20))
    buffer = bytearray(16 * n(50_000_000))
    import array

    count = n(10_000_000)
    offsets = memoryview(array.array("q", range(0, 16 * (count + 1), 16)))
    data = bytes(16 * count)
    return {
        f"bulk.uuid4({n(100_000_000):_})": lambda: bulk.uuid4(n(100_000_000)),
        f"bulk.uuid7({n(100_000_000):_})": lambda: bulk.uuid7(n(100_000_000)),
        f"bulk.uuid4({n(5_000_000):_}, format='str')": lambda: bulk.uuid4(n(5_000_000), format="str"),
        f"fill_uuid4 of {len(buffer) >> 20} MiB": lambda: bulk.fill_uuid4(buffer),
        f"bulk_lines(4, {n(30_000_000):_}) (CLI)": lambda: native.bulk_lines(4, n(30_000_000)),
        f"uuid5 of a {len(name) >> 20} MiB name": lambda: vantor.uuid5(vantor.NAMESPACE_DNS, name),
        f"bulk.uuid5 of {count:_} names (Arrow path)": lambda: native.bulk_uuid5_offsets(
            vantor.NAMESPACE_DNS, offsets, data, "bytes"),
    }


def interrupt_delay(call) -> tuple[float, float]:
    start = time.perf_counter()
    call()
    whole = time.perf_counter() - start
    sent: list[float] = []
    handled: list[float] = []

    def handler(signum, frame):
        handled.append(time.perf_counter())
        raise KeyboardInterrupt

    def send():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    previous = signal.signal(signal.SIGINT, handler)
    timer = threading.Timer(0.2 * whole, send)
    try:
        timer.start()
        call()
        timer.join()
    except KeyboardInterrupt:
        pass
    finally:
        timer.join()
        signal.signal(signal.SIGINT, previous)
    return whole, handled[0] - sent[0]


def gil_hold(call) -> tuple[float, float, float]:
    """(batch seconds, longest gap of the other thread, its share of its own speed alone)."""
    stop = threading.Event()
    ticks: list[float] = []

    def tick():
        append, clock = ticks.append, time.perf_counter
        while not stop.is_set():
            append(clock())

    thread = threading.Thread(target=tick)
    thread.start()
    time.sleep(0.2)  # its speed alone
    alone = len(ticks) / (ticks[-1] - ticks[0])
    start = time.perf_counter()
    result = call()
    end = time.perf_counter()
    del result  # freeing it is not part of the batch
    stop.set()
    thread.join()
    during = [t for t in ticks if start <= t <= end]
    edges = [start, *during, end]
    gap = max(b - a for a, b in zip(edges, edges[1:]))
    return end - start, gap, len(during) / ((end - start) * alone)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--small", action="store_true", help="a tenth of the sizes")
    parser.add_argument("--gil-only", action="store_true", help="only the GIL measurements")
    args = parser.parse_args()
    scale = 0.1 if args.small else 1.0
    if not args.gil_only:
        print("| call | whole call | SIGINT at 20% raised after |")
        print("| --- | --- | --- |")
        for label, call in calls(scale).items():
            whole, delay = interrupt_delay(call)
            print(f"| {label} | {whole * 1000:.0f} ms | {delay * 1000:.1f} ms |", flush=True)
        print()
    print("| batch, another thread counting | batch | longest GIL hold | other thread's share |")
    print("| --- | --- | --- | --- |")
    for n, format in [(20_000_000, "bytes"), (1_000_000, "bytes"), (1_000_000, "str")]:
        n = max(1, int(n * scale)) if format == "bytes" and n > 1_000_000 else n
        seconds, gap, share = gil_hold(lambda: bulk.uuid4(n, format=format))
        print(f"| bulk.uuid4({n:_}, format={format!r}) | {seconds * 1000:.0f} ms | {gap * 1000:.1f} ms | {share:.0%} |",
              flush=True)


if __name__ == "__main__":
    main()
