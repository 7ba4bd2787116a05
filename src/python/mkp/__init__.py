"""The MKP engine of mkpt in Python.

Packets and their frames, the packet analyser, serial ports, devices of a
device description (.rst), and a virtual bus on which the engine's simulated
device plays, for device tests that run unattended::

    >>> import mkp
    >>> p = mkp.Packet.from_frame(bytes.fromhex("0a0b0c01020307050300a06fb8a601e80323e80000"))
    >>> str(p)
    '0A0B0C.010203.07.05.0300 - 01 E8 03 '
    >>> mkp.describe(p)
    '010203>>0A0B0C ANSW type 05 : reg 01 = 1000 '

Blocking calls release the interpreter's lock and end within 100 ms of
Ctrl+C; every wait is bounded. The pytest plugin is mkp.pytest_plugin.
"""

from mkp._mkp import (
    Device,
    DeviceError,
    Error,
    Frame,
    FrameError,
    Packet,
    Port,
    PortError,
    RequestStats,
    VirtualBus,
    __version__,
    checksum,
    describe,
    open_port,
    values,
)

__all__ = [
    "Device",
    "DeviceError",
    "Error",
    "Frame",
    "FrameError",
    "Packet",
    "Port",
    "PortError",
    "RequestStats",
    "VirtualBus",
    "checksum",
    "describe",
    "open_port",
    "values",
]

# The public names belong to the package, whatever module made them.
for _name in __all__:
    try:
        globals()[_name].__module__ = __name__
    except (AttributeError, TypeError):
        pass
del _name
