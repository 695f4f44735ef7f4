"""Starts a tarnd for a Python test on a port of its own, for the tests and test scripts that
write the port into a settings file."""
import socket
import subprocess
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_tarnd(tarnd, name_port):
    """tarnd (the program `tarnd`) as "plant" on a free port: the process and its port.
    `name_port(port)` is called before each start, to write the port where the test's settings
    name it. Another test may take the port between the pick and tarnd's bind (ctest runs tests
    side by side); tarnd then exits and another port is tried, so that a test never talks to
    someone else's server."""
    for _ in range(5):
        port = free_port()
        name_port(port)
        proc = subprocess.Popen([tarnd, "--port", str(port), "--name", "plant"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
