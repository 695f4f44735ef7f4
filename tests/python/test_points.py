"""Data points against the embedded server and against tarnd: round trips in realms, many-point
reads, queries, errors with their codes, and a process that stays flat over many rounds."""
import pytest

import ostrel


def test_round_trip(server, unique):
    name = unique()
    ostrel.create(name, ostrel.Record("PumpState", mode=-3, speed={"value": 1.5, "unit": "rpm"}), server=server)
    got = ostrel.get(name, server=server)
    assert got.type == "PumpState" and got.name == name
    assert got["mode"] == -3 and got["speed.unit"] == "rpm"
    got["starts"] = 9
    ostrel.put(name, got, server=server)
    ostrel.put_fields(name, {"pressure.value": 4.0}, running=1, speed={"value": 2.5}, server=server)
    after = ostrel.get(name, server=server).to_dict()
    assert (after["starts"], after["running"], after["speed"]["value"], after["speed"]["unit"]) == (9, 1, 2.5, "rpm")
    assert after["pressure"]["value"] == 4.0 and after["mode"] == -3
    assert name in ostrel.points("PumpState", server=server) and name in ostrel.points(server=server)
    ostrel.delete(name, server=server)
    ostrel.create(name, "DigitalPoint", server=server, realm="east")  # the realm reaches the call
    assert ostrel.get(name, server=server, realm="east").type == "DigitalPoint"


def test_many_points_and_query(server, unique):
    names = [unique("many") for _ in range(200)]
    for i, name in enumerate(names):
        ostrel.create(name, ostrel.Record("AnalogPoint", value=float(i), quality=i % 3, unit=name), server=server)
    got = ostrel.get_many(names, server=server)
    assert list(got) == names
    assert [r["value"] for r in got.values()] == [float(i) for i in range(200)]
    assert all(r["unit"] == n for n, r in got.items())
    hits = ostrel.query("AnalogPoint", quality=2, unit=names[5], server=server)
    assert [(r.name, r["unit"]) for r in hits] == [(names[5], names[5])]  # named, as the tool names them
    assert [r.name for r in ostrel.query("AnalogPoint", {"unit": names[8]}, server=server)] == [names[8]]
    twins = [unique("twin") for _ in range(2)]
    tag = -float(twins[0].rsplit("_", 1)[1])  # equal values: each record still gets a name of its own
    for name in twins:
        ostrel.create(name, ostrel.Record("AnalogPoint", value=tag, unit="twin"), server=server)
    assert sorted(r.name for r in ostrel.query("AnalogPoint", value=tag, unit="twin", server=server)) == sorted(twins)


@pytest.mark.parametrize("call, error, code", [
    (lambda s, n: ostrel.get(n, server=s), ostrel.NotFound, 2003),
    (lambda s, n: ostrel.get_many(["x" + n], server=s), ostrel.NotFound, 2003),
    (lambda s, n: ostrel.put_fields(n, value=1.0, server=s), ostrel.NotFound, 2003),
    (lambda s, n: ostrel.delete(n, server=s), ostrel.NotFound, 2003),
    (lambda s, n: ostrel.create(n, "NoSuchType", server=s), ostrel.Error, 2007),
    (lambda s, n: [ostrel.create(n, "AnalogPoint", server=s) for _ in range(2)], ostrel.Error, 2005),
    (lambda s, n: ostrel.get_many([n, n + "\0x"], server=s), ValueError, None),
])
def test_errors_carry_their_codes(server, unique, call, error, code):
    with pytest.raises(error) as caught:
        call(server, unique())
    if code is not None:
        assert caught.value.code == code and caught.value.text == ostrel.error_text(code)


def test_get_many_names_the_missing_point(server, unique):
    there, gone = unique(), unique("gone")
    ostrel.create(there, "AnalogPoint", server=server)
    with pytest.raises(ostrel.NotFound) as caught:
        ostrel.get_many([there, gone], server=server)
    assert caught.value.code == 2003 and f"no point {gone}" in str(caught.value) and there not in str(caught.value)


@pytest.mark.parametrize("period", [0, -1, 0.001, float("nan")])
def test_watch_refuses_a_period_that_would_spin(period):
    with pytest.raises(ValueError):
        ostrel.watch(["x"], period)  # at once, before the first read


def test_not_connected(tarnd, unique):
    ostrel.disconnect("plant")
    try:
        with pytest.raises(ostrel.Unreachable) as caught:
            ostrel.get(unique(), server="plant")
        assert caught.value.code == 2015
    finally:
        ostrel.connect("plant")


def _resident_kib():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def test_get_put_rounds_keep_memory_flat(unique):
    ostrel.connect()
    name = unique()
    ostrel.create(name, ostrel.Record("Station", name="s"))
    def rounds(n):
        for i in range(n):
            rec = ostrel.get(name)
            rec["levels[1]"] = float(i)
            ostrel.put(name, rec)
            ostrel.get_many([name])
    rounds(2000)  # allocators and caches settle
    before = _resident_kib()
    rounds(10000)
    assert _resident_kib() - before < 2048, "resident size grew by more than 2 MiB over 10,000 rounds"


def test_nulls_lists_points_never_written(server, unique):
    blank, written = unique(), unique()
    ostrel.create(blank, "AnalogPoint", server=server)
    ostrel.create(written, "AnalogPoint", server=server)
    ostrel.put_fields(written, value=1.0, server=server)
    nulls = ostrel.nulls(server=server)
    assert blank in nulls and written not in nulls


def test_watch_yields_every_change(server, unique):
    a, b, gone = unique(), unique(), unique()
    for name in (a, b):
        ostrel.create(name, ostrel.Record("AnalogPoint", value=1.0), server=server)
    changes = ostrel.watch([a, b, gone], period=0.05, server=server)
    first = [next(changes) for _ in range(2)]
    assert [(n, r["value"]) for n, r in first] == [(a, 1.0), (b, 1.0)]
    ostrel.put_fields(b, value=2.0, server=server)
    name, record = next(changes)
    assert (name, record["value"]) == (b, 2.0)
    ostrel.delete(a, server=server)
    assert next(changes) == (a, None)
    ostrel.create(gone, ostrel.Record("AnalogPoint", value=3.0), server=server)
    name, record = next(changes)
    assert (name, record["value"]) == (gone, 3.0)


def test_get_many_costs_little_more_than_the_same_call_in_cxx(unique):
    """The records change hands instead of being copied (they were copied once: 3.4x)."""
    cxx = pytest.importorskip("ostrel._ostrel_baseline")
    import time
    ostrel.connect()
    names = [unique("cost") for _ in range(1000)]
    for name in names:
        ostrel.create(name, ostrel.Record("AnalogPoint", value=1.0))

    def once(call):
        start = time.perf_counter()
        for _ in range(10):
            call()
        return (time.perf_counter() - start) / 10

    def ratio():
        py_s = cxx_s = 1e9
        for _ in range(15):  # interleaved, so that a busy spell of the machine falls on both sides
            py_s = min(py_s, once(lambda: ostrel.get_many(names)))
            cxx_s = min(cxx_s, cxx.get_many(names, 10, 1))
        return py_s / cxx_s

    # A busy machine only makes the ratio worse, so the best of three tries is the fair one.
    best = min(ratio() for _ in range(3))
    assert best < 2.5, f"get_many costs {best:.2f}x the library call"
