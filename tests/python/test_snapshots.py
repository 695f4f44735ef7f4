"""Snapshots from Python: named snapshots put a realm back, snapshot files round trip, and a
download reports its progress and writes exactly the file's bytes."""
import pytest

import ostrel


def test_named_snapshot_puts_the_realm_back(server, unique):
    realm, name, later = unique("realm"), unique(), unique()
    ostrel.create(name, ostrel.Record("AnalogPoint", value=1.0), server=server, realm=realm)
    ostrel.create_snapshot("before", server=server, realm=realm)
    ostrel.put_fields(name, value=2.0, server=server, realm=realm)
    ostrel.create(later, "AnalogPoint", server=server, realm=realm)
    ostrel.load_snapshot("before", server=server, realm=realm)
    assert ostrel.get(name, server=server, realm=realm)["value"] == 1.0
    assert ostrel.points(server=server, realm=realm) == [name]
    ostrel.delete_snapshot("before", server=server, realm=realm)
    with pytest.raises(ostrel.NotFound) as caught:
        ostrel.load_snapshot("before", server=server, realm=realm)
    assert caught.value.code == 2013


def test_snapshot_file_and_download(tmp_path, unique):
    ostrel.connect()
    realm, name = unique("realm"), unique()
    ostrel.create(name, ostrel.Record("AnalogPoint", value=5.0), realm=realm)
    file = unique("snap") + ".tsnp"
    ostrel.make_snapshot(file, "points", realm)
    ostrel.put_fields(name, value=6.0, realm=realm)
    ostrel.load_snapshot_file(file, "points", realm)
    assert ostrel.get(name, realm=realm)["value"] == 5.0

    seen = []
    written = ostrel.download(tmp_path / "points.tsnp", progress=lambda done, total: seen.append((done, total)),
                              block=64, realm=realm)
    data = (tmp_path / "points.tsnp").read_bytes()
    assert written == len(data) > 64 and data[:4] == b"TSNP"
    assert seen[0] == (0, len(data)) and seen[-1] == (len(data), len(data))
    assert [done for done, _ in seen] == sorted(done for done, _ in seen) and len(seen) > 2


@pytest.mark.parametrize("call, error", [
    (lambda: ostrel.make_snapshot("../outside", "points"), ostrel.Error),
    (lambda: ostrel.make_snapshot("x", "everything"), ValueError),
    (lambda: ostrel.load_snapshot_file("never-made.tsnp", "points"), ostrel.Error),
    (lambda: ostrel.download("/nonexistent-dir/file", "points"), OSError),
    (lambda: ostrel.download("x", "types"), ValueError),
])
def test_snapshot_errors(call, error):
    ostrel.connect()
    with pytest.raises(error):
        call()
