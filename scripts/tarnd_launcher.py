#!/usr/bin/env python3
"""Starts and stops Linux tarnd processes for the Windows test programs that run under wine.

A Windows program cannot start a Linux program, so the test support's TarndProcess asks this
launcher over loopback TCP, one command per line, fields separated by tabs:

    start<TAB>arg...     ->  "pid N" (tarnd started with those arguments) or "error TEXT"
    kill<TAB>N           ->  "status S" (SIGKILL, then the exit status as a shell gives it)
    stop<TAB>N           ->  "status S" (SIGTERM, then the same)

Arguments that are Windows paths (C:\\... inside the wine prefix, Z:\\... for the Unix root) are
turned into Unix paths. Usage: tarnd_launcher.py TARND WINEPREFIX; prints its port, then serves
until killed, and kills every tarnd it started when it ends.
"""
import os
import re
import signal
import socket
import subprocess
import sys
import threading

tarnd, prefix = sys.argv[1], sys.argv[2]
children = {}
lock = threading.Lock()


def unix_path(arg):
    match = re.match(r"^([A-Za-z]):[\\/](.*)$", arg)
    if not match:
        return arg
    drive, rest = match.group(1).lower(), match.group(2).replace("\\", "/")
    if drive == "z":
        return "/" + rest
    # Other drives are the wine prefix's dosdevices links (c: -> ../drive_c).
    return os.path.join(prefix, "dosdevices", drive + ":", rest)


def status_of(process):
    code = process.wait()
    return code if code >= 0 else 128 - code


def serve(connection):
    with connection, connection.makefile("rw") as stream:
        for line in stream:
            fields = line.rstrip("\n").split("\t")
            try:
                if fields[0] == "start":
                    process = subprocess.Popen([tarnd] + [unix_path(a) for a in fields[1:]],
                                               stdout=subprocess.DEVNULL)
                    with lock:
                        children[process.pid] = process
                    reply = "pid %d" % process.pid
                elif fields[0] in ("kill", "stop"):
                    with lock:
                        process = children.pop(int(fields[1]))
                    process.send_signal(signal.SIGKILL if fields[0] == "kill" else signal.SIGTERM)
                    reply = "status %d" % status_of(process)
                else:
                    reply = "error unknown command " + fields[0]
            except Exception as error:  # the test gets the text, the launcher goes on
                reply = "error %s" % error
            stream.write(reply + "\n")
            stream.flush()


def end(*_):
    with lock:
        for process in children.values():
            process.kill()
    os._exit(0)


signal.signal(signal.SIGTERM, end)
signal.signal(signal.SIGINT, end)
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(16)
print(server.getsockname()[1], flush=True)
while True:
    connection, _ = server.accept()
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
