"""A tarnd (TARND_PATH) for the session as "plant" beside the embedded "local"; it is started and
the settings are written before ostrel is imported, which reads them once."""
import atexit
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import pytest

_dir = tempfile.mkdtemp(prefix="ostrel-py-")


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _start_tarnd():
    """tarnd as "plant" on a free port: the process and its port. Another test may take the port
    between the pick and tarnd's bind (ctest runs tests side by side); tarnd then exits and
    another port is tried, so that the tests never talk to someone else's server."""
    for _ in range(5):
        port = _free_port()
        proc = subprocess.Popen([os.environ["TARND_PATH"], "--port", str(port), "--name", "plant"],
                                stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and proc.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            except OSError:
                time.sleep(0.05)
                continue
            time.sleep(0.2)  # one that lost the port to another listener has exited by now
            if proc.poll() is None:
                return proc, port
        proc.kill()
        proc.wait()
    raise RuntimeError("tarnd did not come up")


_proc, PORT = _start_tarnd()
atexit.register(lambda: _proc.poll() is None and (_proc.send_signal(signal.SIGCONT), _proc.kill()))
with open(os.path.join(_dir, "settings.xml"), "w") as f:
    f.write(f'<tarn><server name="local" position="own" embedded="true"/>'
            f'<server name="plant" position="others" first="127.0.0.1:{PORT}"/></tarn>')
os.environ["TARN_SETTINGS"] = f.name
os.environ.setdefault("TARN_CALL_TIMEOUT_MS", "1500")
os.environ.setdefault("TARN_PING_MS", "200")

import ostrel  # noqa: E402  (after the settings)


class Tarnd:
    def __init__(self):
        self.port = PORT
        self.proc = _proc

    def pause(self):
        self.proc.send_signal(signal.SIGSTOP)

    def resume(self):
        self.proc.send_signal(signal.SIGCONT)

    def stop(self):
        self.resume()
        self.proc.terminate()
        self.proc.wait(10)


@pytest.fixture(scope="session")
def tarnd():
    server = Tarnd()
    ostrel.connect("plant")
    yield server
    server.stop()
    shutil.rmtree(_dir, ignore_errors=True)


@pytest.fixture(params=[None, "plant"], ids=["embedded", "tarnd"])
def server(request, tarnd):
    """Each data point test runs against the embedded server and against tarnd."""
    ostrel.connect(request.param)
    return request.param


_count = 0


@pytest.fixture
def unique():
    """A fresh data point name on every call, so tests never meet each other's points."""
    def make(prefix="p"):
        global _count
        _count += 1
        return f"{prefix}{os.getpid()}_{_count}"
    return make
