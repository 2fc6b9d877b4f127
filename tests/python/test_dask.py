"""A distributed pipeline: a uuid7 column added on a real Dask cluster, written to Parquet and
read back as users read it, with `dd.read_parquet` and `pd.read_parquet`."""
import pytest

np = pytest.importorskip("numpy", reason="numpy has no wheel for this Python")
pa = pytest.importorskip("pyarrow", reason="pyarrow has no wheel for this Python")
pd = pytest.importorskip("pandas", reason="pandas has no wheel for this Python")
dd = pytest.importorskip("dask.dataframe", reason="dask has no release for this Python")
distributed = pytest.importorskip("distributed", reason="dask.distributed has no release for this Python")

import vantor  # noqa: E402

ROWS = 800_000
PARTITIONS = 8
PER_PARTITION = ROWS // PARTITIONS


def make_rows(partition):
    start = partition * PER_PARTITION
    return pd.DataFrame({"row": np.arange(start, start + PER_PARTITION, dtype=np.int64)})


def add_ids(frame):
    # Runs on a worker, one partition at a time: the README's recipe.
    from vantor import bulk

    return frame.assign(id=bulk.uuid7(len(frame), format="str"))


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=40
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def test_uuid7_column_through_dask_and_parquet(client, tmp_path):
    frame = dd.from_map(make_rows, range(PARTITIONS))
    frame.map_partitions(add_ids).to_parquet(tmp_path, write_index=False)
    assert len(client.scheduler_info()["workers"]) == 2
    assert len(list(tmp_path.glob("*.parquet"))) == PARTITIONS

    back = dd.read_parquet(tmp_path)
    assert back.npartitions == PARTITIONS
    for index in range(PARTITIONS):
        ids = back.get_partition(index)["id"].compute()
        assert ids.is_monotonic_increasing and ids.is_unique, "one batch per partition, in order"
    everything = back.compute()
    assert np.array_equal(np.sort(everything["row"].to_numpy()), np.arange(ROWS))
    assert everything["id"].is_unique
    assert (everything["id"].str[14] == "7").all() and (everything["id"].str.len() == 36).all()
    # What dask computes on: a merge by the key finds every row once.
    sample = everything.sample(1000, random_state=1)
    assert len(back.merge(dd.from_pandas(sample, npartitions=1), on="id").compute()) == 1000

    # The same files, one of them with pandas alone, every key exactly as vantor reads it.
    one = pd.read_parquet(sorted(tmp_path.glob("*.parquet"))[0])
    assert len(one) == PER_PARTITION
    assert [str(vantor.UUID(text)) for text in one["id"][:100]] == list(one["id"][:100])
