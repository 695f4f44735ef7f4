"""Ctrl-C: SIGINT sent to a child interpreter blocked in each waiting call raises
KeyboardInterrupt there within a moment, and what the call was waiting for is not lost."""
import os
import select
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import ostrel

# (id, server, setup, the blocking call); the child prints "ready", waits for a line, then calls.
CALLS = [
    ("box.receive", None, 'box = ostrel.EventBox(NAME, type="AnalogPoint", server=SERVER)', "box.receive()"),
    ("box.receive-timeout", "plant", 'box = ostrel.EventBox(NAME, type="AnalogPoint", server=SERVER)',
     "box.receive(timeout=4)"),
    ("box-iteration", "plant", 'box = ostrel.EventBox(NAME, type="AnalogPoint", server=SERVER)',
     "for event in box: pass"),
    ("port.serve", None, 'port = ostrel.Port(NAME, type="AnalogPoint", server=SERVER)',
     "port.serve(lambda rec: rec)"),
    ("port.request", "plant", "port = ostrel.Port(NAME, server=SERVER)",
     'port.request(ostrel.Record("AnalogPoint"))'),
    ("box.receive_async", None, 'import asyncio; box = ostrel.EventBox(NAME, type="AnalogPoint", server=SERVER)',
     "asyncio.run(box.receive_async())"),
    ("box.receive-frozen-server", "plant", 'box = ostrel.EventBox(NAME, type="AnalogPoint", server=SERVER)',
     "box.receive()"),
    ("port.request-frozen-server", "plant", "port = ostrel.Port(NAME, server=SERVER)",
     'port.request(ostrel.Record("AnalogPoint"))'),
    ("get-frozen-server", "plant", 'ostrel.create(NAME, "AnalogPoint", server=SERVER)', "ostrel.get(NAME, server=SERVER)"),
]

CHILD = """
import sys, time
import ostrel
NAME, SERVER = {name!r}, {server!r}
ostrel.connect(SERVER)
{setup}
print("ready", flush=True)
sys.stdin.readline()
try:
{call}
    print("returned", flush=True)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), flush=True)
if "box" in dir():  # what a slice left running took is the next receive's
    sys.stdin.readline()
    ostrel.EventBox(NAME, server=SERVER).send(ostrel.Record("AnalogPoint", value=7.0))
    print("after", box.receive(timeout=5)["value"], flush=True)
"""


def _child(script):
    return subprocess.Popen([sys.executable, "-c", script], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))


@pytest.mark.parametrize("name, server, setup, call", CALLS, ids=[c[0] for c in CALLS])
def test_sigint_ends_a_blocked_call(tarnd, unique, name, server, setup, call):
    child = _child(CHILD.format(name=unique("int"), server=server, setup=setup, call=textwrap.indent(call, "    ")))
    frozen = name.endswith("frozen-server")
    try:
        assert child.stdout.readline().strip() == "ready"
        if frozen:
            tarnd.pause()
        child.stdin.write("go\n")
        child.stdin.flush()
        time.sleep(0.8)  # the child is inside the call now
        assert child.poll() is None, "the call returned by itself"
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        assert select.select([child.stdout], [], [], 5)[0], "SIGINT did not end the call within 5 s"
        line = child.stdout.readline().split()
        assert line[:1] == ["interrupted"], line
        assert float(line[1]) - sent < 0.6, f"KeyboardInterrupt came {float(line[1]) - sent:.2f} s after SIGINT"
        if frozen:
            tarnd.resume()
            frozen = False
        if "box" in setup:
            child.stdin.write("on\n")
            child.stdin.flush()
            assert child.stdout.readline().split() == ["after", "7.0"]
        child.wait(30)
    finally:
        if frozen:
            tarnd.resume()
        child.kill()
        child.wait()


def test_events_survive_interrupts(server, unique):
    """Events arrive while SIGINT keeps hitting the receiving loop: each is received or still
    queued. (Iteration binds each event before Python looks at signals again; the value of a
    plain `event = box.receive()` can be lost to a KeyboardInterrupt raised as the call returns.)"""
    script = textwrap.dedent("""
        import signal, threading, time
        import ostrel
        ostrel.connect({server!r})
        box = ostrel.EventBox({name!r}, type="AnalogPoint", server={server!r})
        sender = ostrel.EventBox({name!r}, server={server!r})
        def send():
            for i in range(60):
                sender.send(ostrel.Record("AnalogPoint", value=float(i)))
                time.sleep(0.01)
            time.sleep(1.5)  # the parent's signals have ended
            sender.send(ostrel.Record("AnalogPoint", value=-1.0))
        got, interrupts, done = [], 0, False
        threading.Thread(target=send).start()
        print("ready", flush=True)  # signals come from now on
        while not done:
            try:  # the outer handler catches a signal that lands in the inner one
                try:
                    for event in box:
                        if event["value"] < 0:
                            done = True
                            # The signal window ends here, before the loop and the interpreter do;
                            # the parent stops sending once it reads this.
                            signal.signal(signal.SIGINT, signal.SIG_IGN)
                            print("last", flush=True)
                            break
                        got.append(event["value"])
                except KeyboardInterrupt:
                    interrupts += 1
            except KeyboardInterrupt:
                interrupts += 1
        print(len(got), len(set(got)), box.count(), interrupts, flush=True)
    """).format(server=server, name=unique("int"))
    child = _child(script)
    try:
        assert child.stdout.readline().strip() == "ready"
        for _ in range(30):
            time.sleep(0.03)
            if select.select([child.stdout], [], [], 0)[0]:
                break  # "last": the child's window is over
            child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=30)
        assert out.startswith("last\n"), out
        got, distinct, queued, interrupts = map(int, out.split()[1:])
        assert interrupts > 0 and got == distinct and got + queued == 60, (got, distinct, queued, interrupts)
    finally:
        child.kill()
        child.wait()
