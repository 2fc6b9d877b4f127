"""The README's Spark recipe: a uuid7 column added through mapInArrow, in local mode.

pyspark is not among the test requirements (a ~400 MB download that would lengthen every CI
run by minutes); this runs where it is installed, with a Java runtime."""
import os
import shutil
import sys

import pytest

pa = pytest.importorskip("pyarrow", reason="pyarrow has no wheel for this Python")
pyspark_sql = pytest.importorskip("pyspark.sql", reason="pyspark is not installed")
pytestmark = pytest.mark.skipif(shutil.which("java") is None, reason="Spark needs a Java runtime")


def add_ids(batches):
    # Runs in Spark's Python workers: the README's recipe.
    import pyarrow as pa

    from vantor import bulk

    for batch in batches:
        ids = bulk.uuid7(batch.num_rows, format="arrow")
        # Spark has no uuid type: the column travels as 16-byte binary values.
        yield batch.append_column("id", ids.storage.cast(pa.binary()))


def test_uuid7_column_through_map_in_arrow(monkeypatch):
    # The workers are started with this interpreter and find vantor where this process does.
    monkeypatch.setenv("PYSPARK_PYTHON", sys.executable)
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(p for p in sys.path if p))
    spark = (
        pyspark_sql.SparkSession.builder.master("local[2]")
        .config("spark.ui.enabled", "false")
        .config("spark.sql.execution.arrow.maxRecordsPerBatch", "50000")
        .getOrCreate()
    )
    try:
        rows = spark.range(0, 400_000, numPartitions=4).withColumnRenamed("id", "row")
        table = rows.mapInArrow(add_ids, "row long, id binary").toArrow()
    finally:
        spark.stop()
    assert table.num_rows == 400_000
    ids = table.column("id").to_pylist()
    assert all(len(value) == 16 and value[6] >> 4 == 7 for value in ids)
    assert len(set(ids)) == len(ids)
    # Within a partition, batch after batch, the values increase.
    by_row = dict(zip(table.column("row").to_pylist(), ids))
    for partition in range(4):
        values = [by_row[r] for r in range(partition * 100_000, (partition + 1) * 100_000)]
        assert all(a < b for a, b in zip(values, values[1:]))
