"""The Ostrel client library from Python.

A thin layer over the C++ library: every function here is one or a few of its operations.
Servers default to the one at position "own"; each data point function takes ``server=`` and
``realm=`` keywords. A nonzero result code raises :class:`ostrel.Error` (or its subclasses
:class:`NotConnected`, :class:`TimedOut`, :class:`NotFound`), carrying ``code`` and ``text``.
Calls that may block release the GIL, so other Python threads run while one waits.

    import ostrel
    ostrel.connect()
    ostrel.create("flow", ostrel.Record("AnalogPoint", value=12.5, unit="m3/h"))
    print(ostrel.get("flow")["value"])
    ostrel.put_fields("flow", value=13.0)
"""
import atexit as _atexit
from typing import NamedTuple as _NamedTuple, Optional as _Optional

from ._ostrel import (  # noqa: F401
    Contention, Error, NotConnected, NotFound, Record, StatusListener, TimedOut,
    connect, contend, contenders, create, delete, disconnect, divert, error_text, get, get_many,
    is_connected, on_status, points, put, types,
    EventBox, Port, declare,
)
from . import _ostrel

__all__ = [
    "Contention", "Error", "NotConnected", "NotFound", "Record", "ServerStatus", "StatusListener",
    "TimedOut", "connect", "contend", "contenders", "create", "delete", "disconnect", "divert",
    "error_text", "get", "get_many", "is_connected", "on_status", "points", "put", "put_fields",
    "query", "status", "types",
    "EventBox", "Port", "declare",
]


class ServerStatus(_NamedTuple):
    """One server of the settings: its name, connection code (0 connected), active address."""
    server: str
    code: int
    active: _Optional[str]

    @property
    def connected(self) -> bool:
        return self.code == 0


def status():
    """Every server of the settings with its connection code and active address (None if none)."""
    return [ServerStatus(name, code, active or None) for name, code, active in _ostrel._status()]


def put_fields(name, fields=None, /, *, type=None, server=None, realm=None, **more):
    """Writes only the given fields of the data point (a partial write).

    Fields are given as keywords (``value=1.5``) or, for paths, as a dict
    (``{"speed.value": 1.5}``). The point's type is read from the server unless ``type`` names it.
    """
    return _ostrel._put_fields(name, {**(fields or {}), **more}, type, server, realm)


def query(type, fields=None, /, *, server=None, realm=None, **more):
    """The data points of ``type`` whose given fields equal the given values, as Records."""
    return _ostrel._query(type, {**(fields or {}), **more}, server, realm)


# The library's threads stop before the interpreter goes away.
_atexit.register(_ostrel._end)
