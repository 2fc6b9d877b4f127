#!/usr/bin/env python3
"""Times what an application does with UUIDs, the standard `uuid.UUID` against vantor used the
way the README shows, library by library.

    python bench/bench_app.py [--quick] [--out bench/results] [--postgres DSN] [--only GROUP ...]

Each row is one task done twice in this process, once with the standard class and once with
vantor, the two taking turns on every repeat; each figure is the best of its repeats in process
CPU time, per item. For PostgreSQL that is the client's side alone: the server does the same
work for both, and on a shared machine its time is mostly other processes' noise. The server is
`--postgres`, else $VANTOR_TEST_POSTGRES, else a throwaway cluster of scripts/postgres.sh; with
none, the PostgreSQL rows are left out. A library that is not installed leaves its rows out too.

Writes app.md and app.json into the output directory. Read the ratio column (standard time /
vantor time, higher is better: 1.0x is as fast as the standard class).
"""

import argparse
import gc
import json
import os
import platform
import subprocess
import sys
import tempfile
import time
import uuid
import warnings
from pathlib import Path

import vantor
from vantor import bulk

TIMER = time.process_time
GROUPS = ["pydantic", "fastapi", "sqlite", "postgresql", "copy", "parquet", "orjson"]
ROOT = Path(__file__).resolve().parents[1]


class Task:
    """One side of a row: `run` is timed; `reset`, if given, runs untimed after it (emptying a
    table, say) so that every repeat starts from the same state."""

    def __init__(self, run, reset=None):
        self.run = run
        self.reset = reset
        self.best = float("inf")

    def time(self, count):
        gc.collect()
        start = TIMER()
        self.run()
        elapsed = TIMER() - start
        if self.reset is not None:
            self.reset()
        self.best = min(self.best, elapsed / count)


class Row:
    def __init__(self, label, count, std, vantor_, how):
        self.label, self.count, self.how = label, count, how
        self.std, self.vantor = std, vantor_

    def result(self):
        return {"row": self.label, "count": self.count, "vantor_way": self.how,
                "std_ns": self.std.best * 1e9, "vantor_ns": self.vantor.best * 1e9,
                "ratio": self.std.best / self.vantor.best}


def library(name):
    try:
        return __import__(name, fromlist=["_"])
    except ImportError:
        print(f"{name} is not installed: its rows are left out", file=sys.stderr)
        return None


# ---------------------------------------------------------------- pydantic and FastAPI

def pydantic_models():
    """Three-UUID models with `uuid.UUID` and with vantor's type: the bare `vantor.UUID` where
    pydantic takes it, else `vantor.pydantic.UUID`; and the name of the vantor way used."""
    import pydantic

    class StdOrder(pydantic.BaseModel):
        id: uuid.UUID
        customer: uuid.UUID
        product: uuid.UUID

    try:
        class VantorOrder(pydantic.BaseModel):
            id: vantor.UUID
            customer: vantor.UUID
            product: vantor.UUID

        pydantic.TypeAdapter(list[VantorOrder]).dump_json([VantorOrder(
            id=vantor.uuid4(), customer=vantor.uuid4(), product=vantor.uuid4())])
        how = "vantor.UUID"
    except Exception:  # noqa: BLE001 - a pydantic that refuses the bare class
        from vantor.pydantic import UUID

        class VantorOrder(pydantic.BaseModel):  # type: ignore[no-redef]
            id: UUID
            customer: UUID
            product: UUID

        how = "vantor.pydantic.UUID"
    return StdOrder, VantorOrder, how


def order_dicts(count, make):
    return [{"id": make(), "customer": make(), "product": make()} for _ in range(count)]


def pydantic_rows(count):
    import pydantic

    std_model, vantor_model, how = pydantic_models()
    std, van = pydantic.TypeAdapter(list[std_model]), pydantic.TypeAdapter(list[vantor_model])
    payload = json.dumps(order_dicts(count, lambda: str(uuid.uuid4()))).encode()
    std_objects, vantor_objects = std.validate_json(payload), van.validate_json(payload)
    assert std.dump_json(std_objects) == van.dump_json(vantor_objects)
    return [
        Row(f"pydantic: validate JSON, {count:,} objects of 3 UUIDs", count,
            Task(lambda: std.validate_json(payload)), Task(lambda: van.validate_json(payload)),
            f"TypeAdapter(list[Model]), fields {how}"),
        Row(f"pydantic: dump JSON, {count:,} objects of 3 UUIDs", count,
            Task(lambda: std.dump_json(std_objects)), Task(lambda: van.dump_json(vantor_objects)),
            f"TypeAdapter(list[Model]), fields {how}"),
    ]


def fastapi_rows(count, requests):
    import fastapi
    from fastapi.testclient import TestClient

    std_model, vantor_model, how = pydantic_models()
    app = fastapi.FastAPI()
    # What a list endpoint holds after its query: rows with the application's own UUID objects.
    std_rows = order_dicts(count, uuid.uuid4)
    vantor_rows = order_dicts(count, vantor.uuid7)

    @app.get("/std", response_model=list[std_model])
    def std_orders():
        return std_rows

    @app.get("/vantor", response_model=list[vantor_model])
    def vantor_orders():
        return vantor_rows

    client = TestClient(app)
    assert len(client.get("/std").json()) == len(client.get("/vantor").json()) == count

    def get(path):
        return lambda: [client.get(path) for _ in range(requests)]

    return [Row(f"FastAPI: GET a list of {count:,} objects of 3 UUIDs (response model), per request",
                requests, Task(get("/std")), Task(get("/vantor")),
                f"response_model=list[Model], fields {how}")]


# ---------------------------------------------------------------- SQLAlchemy

def sqlalchemy_rows(url, where, count):
    import sqlalchemy
    from sqlalchemy.orm import DeclarativeBase, Mapped, Session, mapped_column

    import vantor.sqlalchemy

    bases = []

    def tables(use):
        """A table of each kind, for one use: inserts empty theirs, selects read a full one."""
        suffix = f"{use}_{uuid.uuid4().hex[:8]}"

        class Base(DeclarativeBase):
            pass

        bases.append(Base)

        class StdItem(Base):
            __tablename__ = f"bench_std_{suffix}"
            id: Mapped[uuid.UUID] = mapped_column(primary_key=True, default=uuid.uuid4)
            ref: Mapped[uuid.UUID]

        class VantorItem(Base):
            __tablename__ = f"bench_vantor_{suffix}"
            id: Mapped[vantor.UUID] = mapped_column(vantor.sqlalchemy.UUID, primary_key=True,
                                                    default=vantor.uuid7)
            ref: Mapped[vantor.UUID] = mapped_column(vantor.sqlalchemy.UUID)

        return StdItem, VantorItem

    (StdItem, VantorItem), (StdRead, VantorRead) = tables("insert"), tables("select")
    engine = sqlalchemy.create_engine(url)
    for base in bases:
        base.metadata.create_all(engine)
    std_refs = [uuid.uuid4() for _ in range(count)]
    vantor_refs = [vantor.UUID(int=ref.int) for ref in std_refs]

    def insert(cls, refs):
        def run():
            with Session(engine) as session:
                session.add_all([cls(ref=ref) for ref in refs])
                session.commit()
        return run

    def empty(cls):
        def run():
            with engine.begin() as conn:
                conn.execute(sqlalchemy.delete(cls))
        return run

    def select(cls):
        def run():
            with Session(engine) as session:
                items = session.scalars(sqlalchemy.select(cls)).all()
            assert len(items) == count
        return run

    rows = [
        Row(f"SQLAlchemy ORM on {where}: insert {count:,} rows of 2 UUIDs", count,
            Task(insert(StdItem, std_refs), empty(StdItem)),
            Task(insert(VantorItem, vantor_refs), empty(VantorItem)),
            "mapped_column(vantor.sqlalchemy.UUID, default=vantor.uuid7)"),
        Row(f"SQLAlchemy ORM on {where}: select {count:,} rows of 2 UUIDs", count,
            Task(select(StdRead)), Task(select(VantorRead)),
            "mapped_column(vantor.sqlalchemy.UUID)"),
    ]
    insert(StdRead, std_refs)()
    insert(VantorRead, vantor_refs)()
    with Session(engine) as session:
        item = session.scalars(sqlalchemy.select(VantorRead)).first()
        assert type(item.id) is type(item.ref) is vantor.UUID

    def drop():
        for base in bases:
            base.metadata.drop_all(engine)
        engine.dispose()

    return rows, drop


# ---------------------------------------------------------------- COPY

def copy_rows(dsn, count):
    import psycopg

    import vantor.psycopg

    conn = psycopg.connect(dsn, autocommit=True)
    vantor.psycopg.register(conn)
    table = f"bench_copy_{uuid.uuid4().hex[:8]}"
    conn.execute(f"CREATE UNLOGGED TABLE {table} (id uuid)")

    def truncate():
        conn.execute(f"TRUNCATE {table}")

    def copy_rows_of(make, binary):
        def run():
            with conn.cursor() as cur, cur.copy(
                    f"COPY {table} (id) FROM STDIN" + (" (FORMAT BINARY)" if binary else "")) as copy:
                if binary:
                    copy.set_types(["uuid"])
                for value in make():
                    copy.write_row((value,))
        return run

    def copy_bulk():
        with conn.cursor() as cur, cur.copy(f"COPY {table} (id) FROM STDIN (FORMAT BINARY)") as copy:
            copy.write(vantor.psycopg.copy_binary(bulk.uuid7(count)))

    def std_ids():
        return [uuid.uuid4() for _ in range(count)]

    copy_bulk()
    assert conn.execute(f"SELECT count(DISTINCT id) FROM {table}").fetchone()[0] == count
    truncate()
    rows = [
        Row(f"psycopg COPY, text: make and load {count:,} keys", count,
            Task(copy_rows_of(std_ids, False), truncate),
            Task(copy_rows_of(lambda: bulk.uuid7(count, "uuid"), False), truncate),
            "register(conn); copy.write_row((u,)) over bulk.uuid7(n, 'uuid')"),
        Row(f"psycopg COPY, binary: make and load {count:,} keys", count,
            Task(copy_rows_of(std_ids, True), truncate), Task(copy_bulk, truncate),
            "copy.write(vantor.psycopg.copy_binary(bulk.uuid7(n)))"),
    ]

    def drop():
        conn.execute(f"DROP TABLE {table}")
        conn.close()

    return rows, drop


# ---------------------------------------------------------------- Parquet

def parquet_rows(count, directory):
    import pyarrow as pa
    import pyarrow.parquet as pq

    std_text, vantor_text = directory / "std_text.parquet", directory / "vantor_text.parquet"
    std_uuid, vantor_uuid = directory / "std_uuid.parquet", directory / "vantor_uuid.parquet"
    from_bytes = vantor.UUID.from_bytes

    def write_std_text():
        pq.write_table(pa.table({"id": [str(uuid.uuid4()) for _ in range(count)]}), std_text)

    def write_vantor_text():
        pq.write_table(pa.table({"id": bulk.uuid7(count, "str")}), vantor_text)

    def write_std_uuid():
        ids = pa.array([uuid.uuid4().bytes for _ in range(count)], type=pa.uuid())
        pq.write_table(pa.table({"id": ids}), std_uuid)

    def write_vantor_uuid():
        pq.write_table(pa.table({"id": bulk.uuid7(count, "arrow")}), vantor_uuid)

    def read_text(path, cls):
        return lambda: list(map(cls, pq.read_table(path).column("id").to_pylist()))

    def read_std_uuid():
        return pq.read_table(std_uuid).column("id").to_pylist()

    def read_vantor_uuid():
        column = pq.read_table(vantor_uuid).column("id").combine_chunks()
        return list(map(from_bytes, column.storage.to_pylist()))

    for write in (write_std_text, write_vantor_text, write_std_uuid, write_vantor_uuid):
        write()
    assert type(read_vantor_uuid()[0]) is vantor.UUID and type(read_std_uuid()[0]) is uuid.UUID
    return [
        Row(f"Parquet: make and write {count:,} keys as text", count,
            Task(write_std_text), Task(write_vantor_text), "bulk.uuid7(n, 'str')"),
        Row(f"Parquet: make and write {count:,} keys as arrow.uuid", count,
            Task(write_std_uuid), Task(write_vantor_uuid), "bulk.uuid7(n, 'arrow')"),
        Row(f"Parquet: read {count:,} text keys into UUID objects", count,
            Task(read_text(std_text, uuid.UUID)), Task(read_text(vantor_text, vantor.UUID)),
            "map(vantor.UUID, column.to_pylist())"),
        Row(f"Parquet: read {count:,} arrow.uuid keys into UUID objects", count,
            Task(read_std_uuid), Task(read_vantor_uuid),
            "map(vantor.UUID.from_bytes, column.storage.to_pylist())"),
    ]


# ---------------------------------------------------------------- orjson

def orjson_rows(count):
    import orjson

    incoming = orjson.dumps([{"id": str(uuid.uuid4()), "user": str(uuid.uuid4()), "n": n}
                             for n in range(count)])

    def std():
        UUID, new = uuid.UUID, uuid.uuid4
        events = [{"id": new(), "parent": UUID(e["id"]), "user": UUID(e["user"]), "n": e["n"]}
                  for e in orjson.loads(incoming)]
        return orjson.dumps(events)

    def van():
        UUID, new = vantor.UUID, vantor.uuid7
        events = [{"id": new(), "parent": UUID(e["id"]), "user": UUID(e["user"]), "n": e["n"]}
                  for e in orjson.loads(incoming)]
        return orjson.dumps(events, default=str)

    assert len(orjson.loads(van())) == count
    return [Row(f"orjson: read {count:,} events, add a key, parse 2, write them back", count,
                Task(std), Task(van), "vantor.uuid7(), vantor.UUID(text), orjson.dumps(default=str)")]


# ---------------------------------------------------------------- PostgreSQL server

def postgres(given):
    """(DSN, stop) of a server: the one given, $VANTOR_TEST_POSTGRES, or a throwaway cluster."""
    dsn = given or os.environ.get("VANTOR_TEST_POSTGRES")
    if dsn:
        return dsn, lambda: None
    script = ROOT / "scripts" / "postgres.sh"
    done = subprocess.run(["bash", str(script), "start"], capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        print(f"no PostgreSQL server: {done.stderr.strip()[-300:]}", file=sys.stderr)
        return None, lambda: None
    exported = dict(line.removeprefix("export ").split("=", 1) for line in done.stdout.splitlines())
    return exported["VANTOR_TEST_POSTGRES"], lambda: subprocess.run(
        ["bash", str(script), "stop", exported["VANTOR_POSTGRES_DIR"]], capture_output=True)


# ---------------------------------------------------------------- presentation

def fmt_ns(x):
    return f"{x:,.0f}" if x >= 100 else f"{x:.1f}"


def markdown(meta, results):
    lines = [
        "# An application's UUIDs: the standard class against vantor",
        "",
        f"Python {meta['python']} on {meta['machine']}, vantor {meta['vantor']}, {meta['date']}"
        f"{' — quick run' if meta['quick'] else ''}; load average {meta['load_average']:.1f}. "
        f"Best of {meta['repeats']} repeats in process CPU time (PostgreSQL: the client's side), "
        "the two taking turns. Ratio = standard time / vantor time: above 1.0x vantor is faster.",
        "",
        "| task | uuid.UUID ns/item | vantor ns/item | ratio | vantor used as |",
        "|---|---:|---:|---:|---|",
    ]
    for r in results:
        lines.append(f"| {r['row']} | {fmt_ns(r['std_ns'])} | {fmt_ns(r['vantor_ns'])} | "
                     f"{r['ratio']:.2f}x | `{r['vantor_way']}` |")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller batches, fewer repeats")
    parser.add_argument("--out", type=Path, default=ROOT / "bench" / "results")
    parser.add_argument("--postgres", help="a PostgreSQL DSN (default: $VANTOR_TEST_POSTGRES, "
                        "else a throwaway cluster)")
    parser.add_argument("--only", nargs="+", choices=GROUPS, help="run these groups of rows alone")
    args = parser.parse_args()
    quick = args.quick
    repeats = 2 if quick else 9
    scale = 4 if quick else 1
    started = time.perf_counter()
    # Libraries' notices about their own futures (a test client's transport, say) are not ours.
    warnings.filterwarnings("ignore", module=r"(fastapi|starlette)\.")

    rows, cleanups = [], []
    wanted = set(args.only or GROUPS)
    with tempfile.TemporaryDirectory() as directory:
        if "pydantic" in wanted and library("pydantic"):
            rows += pydantic_rows(10_000 // scale)
        if "fastapi" in wanted and library("fastapi") and library("httpx"):
            rows += fastapi_rows(1_000, 20 // scale)
        if "sqlite" in wanted and library("sqlalchemy"):
            found, drop = sqlalchemy_rows(f"sqlite:///{directory}/bench.sqlite", "SQLite", 5_000 // scale)
            rows += found
            cleanups.append(drop)
        dsn, stop_server = None, None
        if wanted & {"postgresql", "copy"} and library("psycopg"):
            dsn, stop_server = postgres(args.postgres)
            cleanups.append(stop_server)
        if dsn is not None and "postgresql" in wanted and library("sqlalchemy"):
            found, drop = sqlalchemy_rows(dsn.replace("postgresql://", "postgresql+psycopg://"),
                                          "PostgreSQL (psycopg)", 5_000 // scale)
            rows += found
            cleanups.insert(0, drop)
        if dsn is not None and "copy" in wanted:
            found, drop = copy_rows(dsn, 100_000 // scale)
            rows += found
            cleanups.insert(0, drop)
        if "parquet" in wanted and library("pyarrow") and library("pyarrow.parquet"):
            rows += parquet_rows(200_000 // scale, Path(directory))
        if "orjson" in wanted and library("orjson"):
            rows += orjson_rows(100_000 // scale)
        try:
            for r in range(repeats):
                print(f"repeat {r + 1}/{repeats}", file=sys.stderr, flush=True)
                for row in rows:
                    row.std.time(row.count)
                    row.vantor.time(row.count)
        finally:
            for cleanup in cleanups:
                cleanup()

    meta = {
        "python": platform.python_version(), "machine": f"{platform.system()} {platform.machine()}",
        "vantor": vantor.__version__, "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
        "repeats": repeats, "quick": quick, "load_average": os.getloadavg()[0], "timer": TIMER.__name__,
        "elapsed_s": round(time.perf_counter() - started, 1), "cpu_s": round(time.process_time(), 1),
    }
    results = [row.result() for row in rows]
    text = markdown(meta, results)
    print(text)
    slower = [r["row"] for r in results if r["ratio"] < 1.0]
    print(f"Rows below 1.0x: {'; '.join(slower) if slower else 'none'}")
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "app.md").write_text(text, encoding="utf-8")
    (args.out / "app.json").write_text(json.dumps({"meta": meta, "rows": results}, indent=2,
                                                  ensure_ascii=False) + "\n", encoding="utf-8")
    print(f"Wrote {args.out}/app.md and app.json in {meta['elapsed_s']} s "
          f"({meta['cpu_s']} s of this process's CPU time)")


if __name__ == "__main__":
    main()
