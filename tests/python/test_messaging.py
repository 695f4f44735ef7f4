"""Event boxes and ports: events sent and iterated, receives that time out, request and reply
between two threads, and payloads that do not fit the expected type."""
import threading
import time

import pytest

import ostrel


def test_events_sent_and_iterated(server, unique):
    box = ostrel.EventBox(unique("box"), codes=[71, 72], type="AnalogPoint", server=server)
    box.send(ostrel.Record("AnalogPoint", value=1.0))
    ostrel.declare(72, ostrel.Record("AnalogPoint", value=2.0), server=server)
    box.send(ostrel.Record("AnalogPoint", value=3.0), code=71)
    assert box.count() == 3
    got = []
    for rec in box:
        got.append(rec["value"])
        if len(got) == 3:
            break
    assert got == [1.0, 2.0, 3.0] and box.count() == 0
    box.send(ostrel.Record("AnalogPoint", value=4.0))
    box.clear()
    assert box.receive(timeout=0.05) is None
    box.delete()
    with pytest.raises(ostrel.Error):
        box.count()


def test_receive_blocks_while_other_threads_run(unique):
    box = ostrel.EventBox(unique("box"), type="AnalogPoint")
    got = []
    waiter = threading.Thread(target=lambda: got.append(box.receive(timeout=5)))
    waiter.start()
    time.sleep(0.3)  # the waiter is in its receive now; this thread runs only if it let the GIL go
    ostrel.EventBox(box.name).send(ostrel.Record("AnalogPoint", value=7.0))
    waiter.join(10)
    assert got[0]["value"] == 7.0


def test_request_and_reply_between_threads(server, unique):
    name = unique("port")
    port = ostrel.Port(name, type="AnalogPoint", server=server)
    assert port.receive(timeout=0.05) is None

    def double(rec):
        return None if rec["value"] < 0 else ostrel.Record("AnalogPoint", value=rec["value"] * 2, unit=rec["unit"])

    served = []
    server_thread = threading.Thread(target=lambda: served.append(port.serve(double, timeout=5)))
    server_thread.start()
    client = ostrel.Port(name, server=server)
    answers = [client.request(ostrel.Record("AnalogPoint", value=v, unit="x"), timeout=5) for v in (1.5, 4.0)]
    assert [(a["value"], a["unit"]) for a in answers] == [(3.0, "x"), (8.0, "x")]
    with pytest.raises(ostrel.TimedOut):
        client.request(ostrel.Record("AnalogPoint", value=-1.0), timeout=0.3)  # the handler stops: no reply
    server_thread.join(10)
    assert served == [2]


def test_payload_of_another_type_is_refused(unique):
    box = ostrel.EventBox(unique("box"), type="PumpState")
    box.send(ostrel.Record("AnalogPoint", value=1.0))
    with pytest.raises(ostrel.Error) as err:
        box.receive(timeout=1)
    assert err.value.code == 2012
    with pytest.raises(ValueError):
        ostrel.Port(unique("port")).receive(timeout=0)
