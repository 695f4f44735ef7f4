"""Connection: status, listeners called from the library's threads, the GIL released while a
call waits, contention."""
import os
import subprocess
import sys
import threading
import time

import pytest

import ostrel


def _wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def test_status_lists_every_server(tarnd):
    ostrel.connect()
    by_name = {s.server: s for s in ostrel.status()}
    assert by_name["local"].connected and by_name["local"].active == "embedded"
    assert by_name["plant"].connected and by_name["plant"].active.startswith("127.0.0.1:")
    assert ostrel.is_connected("plant") and not ostrel.is_connected("nowhere")


def test_listener_called_on_the_connecting_thread_then_removed(tarnd):
    seen = []
    listener = ostrel.on_status(lambda server, up: seen.append((server, up, threading.get_ident())))
    ostrel.disconnect("local")
    ostrel.connect("local")
    listener.remove()
    ostrel.disconnect("local")
    ostrel.connect("local")
    ostrel.connect("plant")  # a disconnect forgets every server's state
    me = threading.get_ident()
    assert seen == [("local", False, me), ("local", True, me)]


def test_blocked_call_releases_the_gil_and_the_monitor_reports(tarnd, unique):
    """With tarnd frozen, this thread runs Python while another waits; the monitor reports the return."""
    name = unique()
    ostrel.create(name, "AnalogPoint", server="plant")
    events, waited = [], []

    raised = []

    def blocked():
        started = time.monotonic()
        try:
            ostrel.get(name, server="plant")
        except ostrel.Error as e:
            raised.append(e)
        waited.append(time.monotonic() - started)

    caller = threading.Thread(target=blocked)
    ours = {threading.get_ident()}

    def from_monitor(up):
        return any((server, state) == ("plant", up) and ident not in ours for server, state, ident in events)

    with ostrel.on_status(lambda server, up: events.append((server, up, threading.get_ident()))):
        tarnd.pause()
        try:
            last, longest_gap = time.monotonic(), 0.0
            caller.start()
            ours.add(caller.ident)
            while caller.is_alive():  # runs only while the caller has let the GIL go
                sum(range(50))
                now = time.monotonic()
                longest_gap, last = max(longest_gap, now - last), now
            caller.join()
            longest_gap = max(longest_gap, time.monotonic() - last)
            assert waited[0] > 1.0, "the call did not wait for the frozen server"
            assert longest_gap < 0.5, f"this thread stood still {longest_gap:.2f} s while the call waited"
            # the failed call or the monitor, whichever notices first
            assert _wait_for(lambda: ("plant", False) in [e[:2] for e in events], 15), events
            with pytest.raises(ostrel.Unreachable) as caught:
                ostrel.connect("plant")
            assert caught.value.code == 2002
            # Whatever stage the library is at, a frozen server raises the one class.
            for _ in range(2):
                with pytest.raises(ostrel.Error) as caught:
                    ostrel.get(name, server="plant")
                raised.append(caught.value)
            assert all(type(e) is ostrel.Unreachable for e in raised), [(type(e), e.code) for e in raised]
            assert {e.code for e in raised} <= {2002, 2015, 2016}
        finally:
            tarnd.resume()
        assert _wait_for(lambda: from_monitor(True), 30), events
    ostrel.connect("plant")
    assert ostrel.get(name, server="plant").type == "AnalogPoint"


def test_contention(server):
    with ostrel.contend("pytest-role", "tests", 1, server=server) as role:
        assert role.running
        assert _wait_for(lambda: any(c["name"] == "pytest-role" and c["active"]
                                     for c in ostrel.contenders(server=server)), 5)
    assert not role.running


@pytest.mark.parametrize("call", [
    lambda: ostrel.points(server="nosuch"),
    lambda: ostrel.get("p", server="nosuch"),  # the library only knows it is not connected
    lambda: ostrel.put("p", ostrel.Record("AnalogPoint"), server="nosuch"),
    lambda: ostrel.EventBox("b", server="nosuch"),
    lambda: ostrel.connect("nosuch"),
], ids=["points", "get", "put", "box", "connect"])
def test_a_misspelt_server_is_2001_not_a_time_out(call):
    # A name the settings do not know is 2001, as the tool says, not "does not answer".
    with pytest.raises(ostrel.NotFound) as caught:
        call()
    assert caught.value.code == 2001
    assert not isinstance(caught.value, (ostrel.TimedOut, ostrel.NotConnected))


def test_settings_and_ping(tarnd):
    assert ostrel.servers() == ["local", "plant"] and ostrel.servers("others") == ["plant"]
    assert ostrel.own_server() == "local" and ostrel.servers("child") == []
    assert ostrel.addresses("plant") == [f"127.0.0.1:{tarnd.port}"] and ostrel.addresses() == ["embedded"]
    assert 0 < ostrel.ping("plant", count=3) < 1.0
    with pytest.raises(ostrel.Error) as caught:
        ostrel.ping("nowhere")
    assert caught.value.code == 2001
    with pytest.raises(ValueError):
        ostrel.ping(count=0)


def test_set_own_server_rewrites_the_settings(tmp_path):
    """In a child interpreter with a settings file of its own: the file changes, or an error says
    it did not."""
    settings = tmp_path / "settings.xml"
    settings.write_text('<tarn><server name="main" position="own" first="127.0.0.1:1"/></tarn>')
    script = ("import ostrel\n"
              "ostrel.set_own_server('127.0.0.1:2', '127.0.0.1:3')\n"
              "print(ostrel.addresses())\n")
    env = dict(os.environ, TARN_SETTINGS=str(settings), PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert out.stdout.strip() == "['127.0.0.1:2', '127.0.0.1:3']", out.stderr
    assert "127.0.0.1:3" in settings.read_text()
    del env["TARN_SETTINGS"]  # the embedded server: no file to store anything in
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert "ostrel.Error" in out.stderr and "(2009)" in out.stderr, out.stderr
