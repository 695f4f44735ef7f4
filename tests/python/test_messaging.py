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


def test_self_describing_events_come_back_typed(server, unique):
    box = ostrel.EventBox(unique("box"), codes=[73], server=server)  # no type: self-describing events
    ostrel.declare(73, ostrel.Record("PumpState", mode=-2, speed={"unit": "rpm"}), self_describing=True, server=server)
    got = box.receive(timeout=2)
    assert got.type == "PumpState" and got["mode"] == -2 and got["speed.unit"] == "rpm"


def test_box_holds_a_thousand_events_by_default(unique):
    box = ostrel.EventBox(unique("box"), type="AnalogPoint")
    for i in range(1000):
        box.send(ostrel.Record("AnalogPoint", value=float(i)))
    with pytest.raises(ostrel.Error) as full:
        box.send(ostrel.Record("AnalogPoint"))
    assert full.value.code == 2019 and box.count() == 1000


def test_realms_channels_and_connections(server, unique):
    realm = unique("realm")
    ostrel.create_realm(realm, server=server)
    box = ostrel.EventBox(unique("box"), type="AnalogPoint", server=server, realm=realm)
    port = ostrel.Port(unique("port"), type="AnalogPoint", server=server, realm=realm)
    assert realm in ostrel.realms(server=server)
    assert sorted(ostrel.channels(server=server, realm=realm)) == sorted([box.name, port.name])
    assert box.receive(timeout=0) is None  # opens the box's receive connection
    rows = [c for c in ostrel.connections(server=server, realm=realm) if c["channel"] == box.name]
    assert len(rows) == 1 and rows[0]["direction"] == "receive" and ":" in rows[0]["process"]
    box.close()
    assert not [c for c in ostrel.connections(server=server, realm=realm) if c["channel"] == box.name]
    with pytest.raises(ostrel.Error) as caught:
        ostrel.delete_realm(realm, server=server)
    assert caught.value.code == 2023  # a realm that still holds channels stays


def test_awaitable_waits_leave_the_loop_free(server, unique):
    import asyncio

    name = unique("box")
    box = ostrel.EventBox(name, type="AnalogPoint", server=server)
    port = ostrel.Port(unique("port"), type="AnalogPoint", server=server)

    async def main():
        ticks = 0

        async def ticker():
            nonlocal ticks
            while True:
                await asyncio.sleep(0.01)
                ticks += 1

        clock = asyncio.create_task(ticker())
        # a cancelled wait loses nothing: the event sent after it is the next one received
        waiting = asyncio.create_task(box.receive_async())
        await asyncio.sleep(0.3)
        waiting.cancel()
        ostrel.EventBox(name, server=server).send(ostrel.Record("AnalogPoint", value=1.0))
        assert (await box.receive_async(timeout=2))["value"] == 1.0
        assert await box.receive_async(timeout=0.1) is None
        for v in (2.0, 3.0):
            ostrel.EventBox(name, server=server).send(ostrel.Record("AnalogPoint", value=v))
        got = []
        async for event in box:
            got.append(event["value"])
            if len(got) == 2:
                break

        async def double(rec):
            return ostrel.Record("AnalogPoint", value=rec["value"] * 2)

        serving = asyncio.create_task(port.serve_async(double, timeout=2, count=1))
        reply = await ostrel.Port(port.name, server=server).request_async(ostrel.Record("AnalogPoint", value=4.0), timeout=2)
        assert await serving == 1
        clock.cancel()
        return got, reply["value"], ticks

    got, reply, ticks = asyncio.run(main())
    assert got == [2.0, 3.0] and reply == 8.0
    assert ticks > 20, "the event loop stood still while the waits ran"


def test_awaitable_receives_share_a_box_and_errors_do_not_stick(unique):
    import asyncio

    box = ostrel.EventBox(unique("box"), type="PumpState")

    async def main():
        both = [asyncio.create_task(box.receive_async(timeout=2)) for _ in range(2)]
        await asyncio.sleep(0.05)
        for mode in (1, 2):
            box.send(ostrel.Record("PumpState", mode=mode))
        modes = sorted(r["mode"] for r in await asyncio.gather(*both))  # each event once
        box.send(ostrel.Record("AnalogPoint"))  # another type's size
        with pytest.raises(ostrel.Error) as caught:
            await box.receive_async(timeout=1)
        assert box.count() == 1  # the misfit stays queued, and the next receive sees it again
        with pytest.raises(ostrel.Error):
            await box.receive_async(timeout=1)
        box.clear()
        box.send(ostrel.Record("PumpState", mode=3))
        return modes, caught.value.code, (await box.receive_async(timeout=1))["mode"]

    assert asyncio.run(main()) == ([1, 2], 2012, 3)
