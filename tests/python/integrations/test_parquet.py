"""The Parquet files of the README's pandas and Arrow recipes read back with the plain readers."""
import uuid

import pytest

pa = pytest.importorskip("pyarrow", reason="pyarrow has no wheel for this Python")
pq = pytest.importorskip("pyarrow.parquet")
pd = pytest.importorskip("pandas", reason="pandas has no wheel for this Python")

import vantor  # noqa: E402
from vantor import bulk  # noqa: E402

COUNT = 1000


def text_from_pandas(path):
    """pandas keeps the keys as text and writes them itself."""
    ids = bulk.uuid7(COUNT, format="str")
    pd.DataFrame({"id": ids, "n": range(COUNT)}).to_parquet(path)
    return ids


def arrow_uuid_from_pyarrow(path):
    """pyarrow writes the 16-byte arrow.uuid column; no pandas dtype is recorded in the file."""
    column = bulk.uuid7(COUNT, format="arrow")
    pq.write_table(pa.table({"id": column, "n": range(COUNT)}), path)
    return [str(vantor.UUID(bytes=b)) for b in column.storage.to_pylist()]


def read_with_pandas(path):
    return pd.read_parquet(path)


def read_with_dask(path):
    dd = pytest.importorskip("dask.dataframe", reason="dask has no release for this Python")
    return dd.read_parquet(path).compute()


@pytest.mark.parametrize("write", [text_from_pandas, arrow_uuid_from_pyarrow])
@pytest.mark.parametrize("read", [read_with_pandas, read_with_dask])
def test_round_trip(tmp_path, write, read):
    path = tmp_path / "orders.parquet"
    expected = write(path)
    frame = read(path)
    assert frame["n"].tolist() == list(range(COUNT))
    values = frame["id"].tolist()
    # Text stays text; pyarrow hands an arrow.uuid column to pandas as uuid.UUID objects.
    assert {type(value) for value in values} <= {str, uuid.UUID}
    assert [str(value) for value in values] == expected
    assert [vantor.UUID(str(value)) for value in values] == [vantor.UUID(text) for text in expected]
