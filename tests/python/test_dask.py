"""A distributed pipeline: a uuid7 column added on a real Dask cluster, written to Parquet and
read back with pyarrow."""
import pytest

np = pytest.importorskip("numpy", reason="numpy has no wheel for this Python")
pa = pytest.importorskip("pyarrow", reason="pyarrow has no wheel for this Python")
pq = pytest.importorskip("pyarrow.parquet")
pd = pytest.importorskip("pandas", reason="pandas has no wheel for this Python")
dd = pytest.importorskip("dask.dataframe", reason="dask has no release for this Python")
distributed = pytest.importorskip("distributed", reason="dask.distributed has no release for this Python")

ROWS = 4_000_000
PARTITIONS = 8
PER_PARTITION = ROWS // PARTITIONS


def make_rows(partition):
    start = partition * PER_PARTITION
    return pd.DataFrame({"row": np.arange(start, start + PER_PARTITION, dtype=np.int64)})


def add_uuid7_column(frame):
    # Runs on a worker, one partition at a time: the README's recipe.
    from vantor import bulk

    ids = bulk.uuid7(len(frame), format="arrow")
    return frame.assign(id=pd.Series(pd.arrays.ArrowExtensionArray(ids), index=frame.index))


def as_pairs(column):
    """The values of a uuid column as (high, low) unsigned 64-bit pairs, big-endian numbers."""
    storage = column.storage
    raw = storage.buffers()[1]
    data = np.frombuffer(raw, dtype=">u8")[storage.offset * 2 : (storage.offset + len(storage)) * 2]
    return data.reshape(-1, 2).astype(np.uint64)


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=40
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def test_uuid7_column_through_dask_and_parquet(client, tmp_path):
    frame = dd.from_map(make_rows, range(PARTITIONS))
    meta = make_rows(0).iloc[:0].assign(id=pd.Series([], dtype=pd.ArrowDtype(pa.uuid())))
    frame.map_partitions(add_uuid7_column, meta=meta).to_parquet(tmp_path, engine="pyarrow", write_index=False)
    assert len(client.scheduler_info()["workers"]) == 2

    files = sorted(tmp_path.glob("*.parquet"))
    assert len(files) == PARTITIONS
    rows = []
    pairs = []
    for path in files:
        table = pq.read_table(path)
        column = table.column("id").combine_chunks()
        assert column.type == pa.uuid()
        assert column.type.extension_name == "arrow.uuid"
        assert column.null_count == 0
        partition = as_pairs(column)
        high, low = partition[:, 0], partition[:, 1]
        # One batch per partition: strictly increasing as 128-bit numbers.
        assert np.all((high[1:] > high[:-1]) | ((high[1:] == high[:-1]) & (low[1:] > low[:-1])))
        assert np.all((high >> 12) & 0xF == 7)
        pairs.append(partition)
        rows.append(table.column("row").to_numpy())
    assert np.array_equal(np.sort(np.concatenate(rows)), np.arange(ROWS))
    everything = np.concatenate(pairs)
    assert len(everything) == ROWS
    in_order = everything[np.lexsort((everything[:, 1], everything[:, 0]))]
    assert not np.any(np.all(in_order[1:] == in_order[:-1], axis=1)), "a value appears twice"
