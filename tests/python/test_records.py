"""Records: values by path converted by the element's declared type, layouts, nested dicts."""
import math
import struct

import pytest

import ostrel

# (type, path, values that fit and read back, values refused with their error)
LIMITS = [
    ("Alarm", "code", [-2**31, 2**31 - 1], [(2**31, OverflowError), (-2**31 - 1, OverflowError), (1.5, TypeError)]),
    ("Alarm", "severity", [0, 65535], [(-1, OverflowError), (65536, OverflowError)]),
    ("Alarm", "acked", [0, 255], [(-1, OverflowError), (256, OverflowError), ("1", TypeError)]),
    ("Alarm", "text[0]", [-128, 127], [(128, OverflowError), ("ab", ValueError)]),
    ("Alarm", "wtext[0]", [0, 65535], [(-1, OverflowError)]),
    ("PumpState", "mode", [-32768, 32767], [(-32769, OverflowError), (32768, OverflowError)]),
    ("AnalogPoint", "quality", [0, 2**32 - 1], [(-1, OverflowError), (2**32, OverflowError)]),
    ("AnalogPoint", "stamp", [-2**31, 2**31 - 1], [(2**31, OverflowError)]),
    ("DigitalPoint", "stamp", [-2**63, 2**63 - 1], [(2**63, OverflowError), (-2**63 - 1, OverflowError)]),
    ("Station", "levels[7]", [3.4028234663852886e38, -math.inf, 1.401298464324817e-45, 2],
     [(1e39, OverflowError), ("1", TypeError)]),
    ("AnalogPoint", "value", [1.7976931348623157e308, -math.inf, 5e-324, -0.0], [(None, TypeError)]),
    ("Alarm", "text", ["", "x" * 64, "héllo"], [("x" * 65, ValueError), (5, TypeError)]),
    ("Alarm", "wtext", ["", "w" * 32, "wide ✓ 𝄞"], [("w" * 33, ValueError)]),
]


@pytest.mark.parametrize("type_, path, good, bad", LIMITS, ids=[f"{t}.{p}" for t, p, *_ in LIMITS])
def test_base_types_at_their_limits(type_, path, good, bad):
    rec = ostrel.Record(type_)
    for value in good:
        rec[path] = value
        assert rec[path] == value or (isinstance(value, float) and math.isclose(rec[path], value, rel_tol=1e-7))
    before = bytes(rec)
    for value, error in bad:
        with pytest.raises(error):
            rec[path] = value
        assert bytes(rec) == before, f"a refused {value!r} changed the record"


def test_exact_byte_layout_and_from_bytes():
    rec = ostrel.Record("AnalogPoint", value=1.5, quality=7, stamp=-1, unit="m3/h")
    assert bytes(rec) == struct.pack("<dIi16s", 1.5, 7, -1, b"m3/h")
    alarm = ostrel.Record("Alarm", wtext="𝄞")
    assert bytes(alarm)[80:86] == "𝄞".encode("utf-16-le") + b"\0\0"
    copy = ostrel.Record.from_bytes("AnalogPoint", bytes(rec))
    assert copy == rec and copy.type == "AnalogPoint"
    assert math.isnan(ostrel.Record("AnalogPoint", value=math.nan)["value"])
    with pytest.raises(ValueError):
        ostrel.Record.from_bytes("AnalogPoint", bytes(rec)[:-1])


def test_nested_dicts_and_lists():
    station = ostrel.Record("Station", name="north", levels=[1.0, 2.0])
    station["pumps[2]"] = {"running": 1, "speed": {"value": 3.5, "unit": "rpm"}}
    station["pumps[3].pressure"] = ostrel.Record("AnalogPoint", value=9.0)
    d = station.to_dict()
    assert list(d) == ["name", "pumps", "levels"]
    assert len(d["pumps"]) == 4 and d["levels"][:3] == [1.0, 2.0, 0.0]
    assert d["pumps"][2]["speed"] == {"value": 3.5, "quality": 0, "stamp": 0, "unit": "rpm"}
    assert d["pumps"][2]["running"] == 1 and d["pumps"][3]["pressure"]["value"] == 9.0
    station["name[0]"] = "S"  # one char of a text takes a letter too
    assert station["name[0]"] == ord("S") and station["name"] == "Sorth"
    assert station["pumps[2].speed.unit"] == "rpm"
    # a dict writes only what it names
    station["pumps[2].speed"] = {"quality": 3}
    assert station["pumps[2].speed"]["value"] == 3.5


@pytest.mark.parametrize("make, error, code", [
    (lambda: ostrel.Record("NoSuchType"), ostrel.NotFound, 4000),
    (lambda: ostrel.Record("AnalogPoint")["nope"], ostrel.NotFound, 4002),
    (lambda: ostrel.Record("Station")["pumps[4]"], ostrel.Error, 3007),
    (lambda: ostrel.Record("Station", {"pumps[0].speed": {"nope": 1}}), ostrel.NotFound, 4002),
    (lambda: ostrel.Record("Station")["pumps[x]"], ValueError, None),
    (lambda: ostrel.Record("Station", levels=[0.0] * 9), ValueError, None),
    (lambda: ostrel.Record("Station", {"pumps[0].speed": ostrel.Record("Alarm")}), TypeError, None),
    (lambda: ostrel.Record("AnalogPoint")["value\0junk"], ValueError, None),
    (lambda: ostrel.Record("AnalogPoint", {"value\0": 1.0}), ValueError, None),
    (lambda: setattr(ostrel.Record("AnalogPoint"), "name", "n" * 258), ValueError, None),
])
def test_bad_paths_and_values(make, error, code):
    with pytest.raises(error) as caught:
        make()
    if code is not None:
        assert caught.value.code == code and caught.value.text == ostrel.error_text(code)


def test_failed_dict_write_changes_nothing():
    rec = ostrel.Record("PumpState")
    before = bytes(rec)
    with pytest.raises(OverflowError):
        rec["speed"] = {"value": 2.0, "quality": -1}
    assert bytes(rec) == before
