"""The Ostrel client library from Python.

A thin layer over the C++ library: every function here is one or a few of its operations.
Servers default to the one at position "own"; each data point function takes ``server=`` and
``realm=`` keywords. A nonzero result code raises :class:`ostrel.Error` or the one narrower
class its code has (:class:`Unreachable`, :class:`TimedOut`, :class:`NotFound`,
:class:`NotPermitted`; the documentation has the table), carrying ``code`` and ``text``. A server
whose settings entry says ``tls="true"`` is reached over TLS with the files that TARN_TLS_CERT,
TARN_TLS_KEY and TARN_TLS_CA name, read once by the first call.
Calls that may block release the GIL, so other Python threads run while one waits, and Ctrl-C
ends any wait within about 0.2 s (KeyboardInterrupt); a message is then still queued. The
waiting calls have awaitable forms for asyncio (``EventBox.receive_async``, ``async for``).

    import ostrel
    ostrel.connect()
    ostrel.create("flow", ostrel.Record("AnalogPoint", value=12.5, unit="m3/h"))
    print(ostrel.get("flow")["value"])
    ostrel.put_fields("flow", value=13.0)
"""
import asyncio as _asyncio
import atexit as _atexit
import os as _os
import time as _time
from typing import NamedTuple as _NamedTuple, Optional as _Optional

from ._ostrel import (  # noqa: F401
    Contention, Error, NotConnected, NotFound, NotPermitted, Record, StatusListener, TimedOut, Unreachable,
    addresses, connect, contend, contenders, create, delete, disconnect, divert, error_text, get,
    get_many, is_connected, nulls, on_status, own_server, ping, points, put, servers,
    set_own_server, types,
    declare,
    channels, connections, create_realm, delete_realm, realms,
    create_snapshot, delete_snapshot, load_snapshot, load_snapshot_file, make_snapshot,
)
from . import _ostrel

__version__ = "0.1.0"  # the package's version (pyproject.toml), the library's and the tool's

__all__ = [
    "Contention", "Error", "NotConnected", "NotFound", "NotPermitted", "Record", "ServerStatus", "StatusListener",
    "TimedOut", "Unreachable", "addresses", "connect", "contend", "contenders", "create", "delete", "disconnect",
    "divert", "error_text", "get", "get_many", "is_connected", "nulls", "on_status", "own_server",
    "ping", "points", "put", "put_fields", "query", "servers", "set_own_server", "status", "types",
    "watch",
    "EventBox", "Port", "declare",
    "channels", "connections", "create_realm", "delete_realm", "realms",
    "create_snapshot", "delete_snapshot", "download", "load_snapshot", "load_snapshot_file",
    "make_snapshot",
]

# How long one slice of an awaitable wait runs on an executor thread.
_SLICE = 0.2


async def _receive_async(channel, timeout):
    """One receive of `channel` in slices on the loop's executor. A slice left running by a
    cancelled await stays on the channel for the next awaitable receive, so a message is never
    taken and dropped; awaiters of one channel share its slice, and the first to resume takes
    its result while the others wait on."""
    loop = _asyncio.get_running_loop()
    deadline = None if timeout is None else loop.time() + max(0.0, timeout)
    while True:
        pending = getattr(channel, "_pending", None)
        if pending is None:
            left = _SLICE if deadline is None else max(0.0, min(_SLICE, deadline - loop.time()))
            pending = channel._pending = loop.run_in_executor(None, channel.receive, left)
        try:
            got = await _asyncio.shield(pending)
        except _asyncio.CancelledError:
            # Kept while it runs or when it holds a message; dropped when it holds nothing.
            if channel._pending is pending and pending.done() and (
                    pending.cancelled() or pending.exception() is not None or pending.result() is None):
                channel._pending = None
            raise
        except BaseException:
            if channel._pending is not pending:
                continue  # another awaiter took this failure
            channel._pending = None
            raise
        if channel._pending is not pending:
            continue  # another awaiter took this result
        channel._pending = None
        if got is not None or (deadline is not None and loop.time() >= deadline):
            return got


class EventBox(_ostrel.EventBox):
    __doc__ = _ostrel.EventBox.__doc__

    async def receive_async(self, timeout=None):
        """The awaitable receive(): the next event as a Record, or None after `timeout` seconds.

        The wait runs on the event loop's executor in short slices and never blocks the loop.
        Cancelling it leaves nothing lost: an event a running slice took is returned by the next
        receive_async. Raises what receive() raises.
        """
        return await _receive_async(self, timeout)

    def __aiter__(self):
        return self

    async def __anext__(self):
        """Waits for the next event (``async for event in box``; never ends by itself)."""
        return await _receive_async(self, None)


class Port(_ostrel.Port):
    __doc__ = _ostrel.Port.__doc__

    async def receive_async(self, timeout=None):
        """The awaitable receive(): (Record, reply handle), or None after `timeout` seconds.

        Runs like EventBox.receive_async. Raises what receive() raises.
        """
        return await _receive_async(self, timeout)

    async def request_async(self, record, timeout=None, reply_type=None):
        """The awaitable request(): sends the Record and returns the reply.

        The wait runs on the event loop's executor. A cancelled request's reply is dropped.
        Raises what request() raises.
        """
        loop = _asyncio.get_running_loop()
        return await loop.run_in_executor(None, self.request, record, timeout, reply_type)

    async def serve_async(self, handler, timeout=None, count=None):
        """The awaitable serve(): `handler` may be a function or a coroutine function.

        Returns the number answered. Raises what serve() raises.
        """
        loop = _asyncio.get_running_loop()
        served = 0
        while count is None or served < count:
            got = await self.receive_async(timeout)
            if got is None:
                break
            answer = handler(got[0])
            if _asyncio.iscoroutine(answer):
                answer = await answer
            if answer is None:
                break
            await loop.run_in_executor(None, self.reply, got[1], answer)
            served += 1
        return served


class ServerStatus(_NamedTuple):
    """One server of the settings: its name, connection code (0 connected), active address."""
    server: str
    code: int
    active: _Optional[str]

    @property
    def connected(self) -> bool:
        return self.code == 0


def status():
    """Every server of the settings with its connection code and active address (None if none).

    Raises nothing: a server that is down shows its code.
    """
    return [ServerStatus(name, code, active or None) for name, code, active in _ostrel._status()]


def put_fields(name, fields=None, /, *, type=None, server=None, realm=None, **more):
    """Writes only the given fields of the data point (a partial write).

    Fields are given as keywords (``value=1.5``) or, for paths, as a dict
    (``{"speed.value": 1.5}``). The point's type is read from the server unless ``type`` names it.

    Raises ostrel.NotFound (2003) for no such point, or 4002 for no such field, TypeError,
    OverflowError or ValueError for a value the field cannot hold (nothing is sent then), and
    what any call to a server raises: ostrel.Unreachable, ostrel.Error, KeyboardInterrupt on
    Ctrl-C.
    """
    return _ostrel._put_fields(name, {**(fields or {}), **more}, type, server, realm)


def query(type, fields=None, /, *, server=None, realm=None, **more):
    """The data points of ``type`` whose given fields equal the given values, as Records named
    after their points (a point whose value changed while it was being answered stays unnamed).

    Raises ostrel.NotFound for an unknown type or field, TypeError, OverflowError or ValueError
    for a value the field cannot hold, and what any call to a server raises.
    """
    return _ostrel._query(type, {**(fields or {}), **more}, server, realm)


def download(path, what="points", *, progress=None, block=1 << 20, server=None, realm=None):
    """Copies the server's current 'points' or 'ports' snapshot file to the local file `path`.

    ``progress(done, total)`` (bytes) is called before the first block and after each one, on
    this thread. Returns the number of bytes written. Raises ValueError for another `what`,
    ostrel.NotFound (2013) when the server gives no file, ostrel.Error 123 when a read fails,
    OSError when `path` cannot be written, and what any call to a server raises.
    """
    return _ostrel._download(_os.fspath(path), what, progress, block, server, realm)


# The shortest period of watch(): a shorter one would only spin the process and the server.
_SHORTEST_PERIOD = 0.01


def watch(names, period=1.0, *, server=None, realm=None):
    """Yields ``(name, record)`` for every change of the named data points, read every `period`
    seconds (at least 0.01) with one get_many.

    The first round yields every point that exists; afterwards a point whose type or bytes
    changed yields its new Record, one deleted yields ``(name, None)`` once, one created yields
    its Record. Changes between two reads that cancel out are not seen. Runs until the caller
    stops iterating (or Ctrl-C). Raises ValueError at once for a period below 0.01 s, then what
    get_many raises, except NotFound.
    """
    if not period >= _SHORTEST_PERIOD:  # NaN too
        raise ValueError(f"watch: the period is at least {_SHORTEST_PERIOD} s, not {period!r}")
    return _watching(list(names), period, server, realm)


def _watching(names, period, server, realm):
    seen = {}
    while True:
        try:
            now = get_many(names, server=server, realm=realm)
        except NotFound:  # one or more are gone: read the rest one by one
            now = {}
            for name in names:
                try:
                    now[name] = get(name, server=server, realm=realm)
                except NotFound:
                    pass
        for name in names:
            record = now.get(name)
            state = None if record is None else (record.type, bytes(record))
            if name in seen and seen[name] == state:
                continue
            if record is not None or seen.get(name) is not None:
                yield name, record
            seen[name] = state
        _time.sleep(period)


# The library's threads stop before the interpreter goes away.
_atexit.register(_ostrel._end)
