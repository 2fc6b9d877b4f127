"""vantor.asyncpg on a real PostgreSQL server: parameters of either class, results, COPY, pools."""
import asyncio
import uuid

import pytest

asyncpg = pytest.importorskip("asyncpg", reason="asyncpg is not installed")

import vantor  # noqa: E402
import vantor.asyncpg  # noqa: E402

VALUES = [vantor.uuid7(), vantor.uuid4(), vantor.NIL, vantor.MAX]


def run(postgres_dsn, body):
    """Runs `body(pool)` on a pool whose connections were set up by `register`."""

    async def main():
        pool = await asyncpg.create_pool(
            postgres_dsn, min_size=1, max_size=2, init=vantor.asyncpg.register
        )
        async with pool:
            return await body(pool)

    return asyncio.run(main())


@pytest.mark.parametrize(
    "convert",
    [lambda v: v, lambda v: uuid.UUID(str(v)), str, lambda v: v.bytes],
    ids=["vantor", "std", "text", "bytes"],
)
def test_parameters_and_results(postgres_dsn, convert):
    async def body(pool):
        async with pool.acquire() as conn:
            await conn.execute("CREATE TEMPORARY TABLE ids (n serial, id uuid)")
            await conn.execute("INSERT INTO ids (id) VALUES ($1)", convert(VALUES[0]))
            await conn.executemany(
                "INSERT INTO ids (id) VALUES ($1)", [(convert(v),) for v in VALUES[1:]]
            )
            texts = [r[0] for r in await conn.fetch("SELECT id::text FROM ids ORDER BY n")]
            values = [r[0] for r in await conn.fetch("SELECT id FROM ids ORDER BY n")]
            found = await conn.fetchval("SELECT n FROM ids WHERE id = $1", convert(VALUES[1]))
            return texts, values, found

    texts, values, found = run(postgres_dsn, body)
    assert texts == [str(v) for v in VALUES]
    assert values == VALUES and {type(v) for v in values} == {vantor.UUID}
    assert found == 2


def test_copy_records_to_table(postgres_dsn):
    async def body(pool):
        async with pool.acquire() as conn:
            await conn.execute("CREATE TEMPORARY TABLE ids (n serial, id uuid)")
            records = [(v,) for v in VALUES] + [(uuid.UUID(str(VALUES[0])),)]
            await conn.copy_records_to_table("ids", records=records, columns=["id"])
            return [r[0] for r in await conn.fetch("SELECT id FROM ids ORDER BY n")]

    assert run(postgres_dsn, body) == VALUES + VALUES[:1]


def test_bad_text_parameter_is_refused(postgres_dsn):
    async def body(pool):
        return await pool.fetchval("SELECT $1::uuid", "not a uuid")

    with pytest.raises(asyncpg.DataError, match="badly formed hexadecimal UUID string"):
        run(postgres_dsn, body)
