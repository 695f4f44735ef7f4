"""A tarnd (TARND_PATH) for the session as "plant" beside the embedded "local"; it is started and
the settings are written before ostrel is imported, which reads them once."""
import atexit
import os
import shutil
import signal
import sys
import tempfile
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from tarnd_start import start_tarnd  # noqa: E402

_dir = tempfile.mkdtemp(prefix="ostrel-py-")


_settings = os.path.join(_dir, "settings.xml")


def _name_port(port):
    with open(_settings, "w") as f:
        f.write(f'<tarn><server name="local" position="own" embedded="true"/>'
                f'<server name="plant" position="others" first="127.0.0.1:{port}"/></tarn>')


_proc, PORT = start_tarnd(os.environ["TARND_PATH"], _name_port)
atexit.register(lambda: _proc.poll() is None and (_proc.send_signal(signal.SIGCONT), _proc.kill()))
os.environ["TARN_SETTINGS"] = _settings
os.environ.setdefault("TARN_CALL_TIMEOUT_MS", "1500")
os.environ.setdefault("TARN_PING_MS", "200")

import ostrel  # noqa: E402  (after the settings)


class Tarnd:
    def __init__(self):
        self.port = PORT
        self.proc = _proc

    def pause(self):
        """Stops tarnd and returns once every thread of it is stopped: a call made after this
        cannot be answered by a thread the stop had not reached yet."""
        self.proc.send_signal(signal.SIGSTOP)
        tasks = f"/proc/{self.proc.pid}/task"
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            try:
                states = [open(f"{tasks}/{t}/stat").read().rsplit(")", 1)[1].split()[0] for t in os.listdir(tasks)]
            except OSError:
                states = []  # a thread ended while it was read
            if states and all(s in "tT" for s in states):
                return
            time.sleep(0.01)

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
