"""The default node of versions 1 and 6: which hardware address is chosen, the random fallback, and
that the host's interface list is read once per process and released.

The host-dependent cases run in a child interpreter with tests/shims/ifaddrs_shim.c preloaded.
"""
import errno
import json
import threading

import pytest

import vantor
from shims import run_child

MULTICAST_BIT = 1 << 40

CHILD_CODE = """
import json, vantor
nodes = [vantor.getnode(), vantor.uuid1().node, vantor.uuid6().node, vantor.getnode(),
         vantor.uuid1(clock_seq=1).node, vantor.uuid6(node=None).node, vantor.getnode()]
print(json.dumps(nodes))
"""


def run_with_interfaces(mode, tmp_path):
    """The nodes seen by a child whose getifaddrs gives `mode`, and the shim's call counts."""
    counts_file = tmp_path / "counts"
    result = run_child(
        CHILD_CODE,
        ["ifaddrs_shim"],
        env={"IFADDRS_SHIM": mode, "IFADDRS_SHIM_COUNTS": str(counts_file)},
    )
    assert result.returncode == 0, result.stderr
    nodes = json.loads(result.stdout)
    counts = dict(item.split("=") for item in counts_file.read_text().split())
    return nodes, {key: int(value) for key, value in counts.items()}


def test_in_process_node_is_stable_and_shared():
    node = vantor.getnode()
    assert type(node) is int
    assert 0 < node < 1 << 48
    for _ in range(3):
        assert vantor.getnode() == node
        assert vantor.uuid1().node == node
        assert vantor.uuid6().node == node


def test_threads_see_one_node():
    seen = []
    barrier = threading.Barrier(4)

    def work():
        barrier.wait()
        seen.extend(vantor.getnode() for _ in range(100))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert set(seen) == {vantor.getnode()}


@pytest.mark.parametrize(
    ("addresses", "node"),
    [
        # a universally administered address wins even when listed after a local one
        ("02:00:00:00:00:01,00:00:5e:00:53:01", 0x00005E005301),
        ("00:00:5e:00:53:01,02:00:00:00:00:01", 0x00005E005301),
        ("00:00:5e:00:53:01,00:00:5e:00:53:02", 0x00005E005301),
        # with no universal one, the first locally administered address
        ("02:00:00:00:00:01,06:00:00:00:00:02", 0x020000000001),
        ("06:00:00:00:00:02", 0x060000000002),
        # a universally administered multicast address counts like any universal one
        ("02:00:00:00:00:01,01:00:5e:00:00:fb", 0x01005E0000FB),
        ("01:00:5e:00:00:fb,00:00:5e:00:53:01", 0x01005E0000FB),
        # all-zero addresses are skipped like loopback
        ("00:00:00:00:00:00,02:00:00:00:00:09", 0x020000000009),
        # addresses shorter than six octets are skipped; longer ones give their first six
        ("00:11:22:33,02:00:00:00:00:09", 0x020000000009),
        ("00:11:22:33:44:55:66:77,02:00:00:00:00:09", 0x001122334455),
    ],
)
def test_choice_among_interfaces(tmp_path, addresses, node):
    nodes, counts = run_with_interfaces("list:" + addresses, tmp_path)
    assert nodes == [node] * len(nodes)
    assert counts == {"getifaddrs": 1, "freeifaddrs": 1, "foreign": 0}


@pytest.mark.parametrize(
    "mode", ["loopback", "empty", f"fail:{errno.EACCES}", f"fail:{errno.ENOMEM}", "list:00:11:22:33"]
)
def test_random_node_without_a_usable_interface(tmp_path, mode):
    first, counts = run_with_interfaces(mode, tmp_path)
    second, _ = run_with_interfaces(mode, tmp_path)
    for nodes in (first, second):
        # stable within the process, 48 bits, multicast bit set so it cannot clash with hardware
        assert len(set(nodes)) == 1
        assert nodes[0] < 1 << 48
        assert nodes[0] & MULTICAST_BIT
    # random: another process draws another node
    assert first[0] != second[0]
    assert counts["getifaddrs"] == 1
    assert counts["foreign"] == 0
    if mode.startswith("fail:"):
        # nothing was handed out, so nothing may be released
        assert counts["freeifaddrs"] == 0
    elif mode != "empty":
        assert counts["freeifaddrs"] == 1


def test_real_host_node_agrees_in_a_fresh_process():
    # A child without shims reads the same host, so it must settle on the same address unless
    # this host has none usable (then both draw random multicast nodes).
    result = run_child(CHILD_CODE)
    assert result.returncode == 0, result.stderr
    nodes = json.loads(result.stdout)
    assert len(set(nodes)) == 1
    here = vantor.getnode()
    if nodes[0] != here:
        assert here & MULTICAST_BIT
        assert nodes[0] & MULTICAST_BIT
