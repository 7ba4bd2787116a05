"""Type stub of mkp: the MKP engine of mkpt in Python."""

import datetime
import os
from typing import Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

__version__: str

_Bytes = Union[bytes, bytearray, memoryview]
_Address = Union[str, bytes, bytearray]
_Path = Union[str, "os.PathLike[str]"]
_Register = Union[str, int]
_Value = Union[int, float, str, List[int]]

class Error(Exception):
    """Base class of the errors of mkp."""

class FrameError(Error, ValueError):
    """Bytes that are not one whole MKP frame; the message says why."""

class PortError(Error, OSError):
    """A serial port could not be opened, or failed or was closed while in use."""

class DeviceError(Error):
    """A device did not answer as its description says."""

    request: Optional[Packet]
    answer: Optional[Frame]

def checksum(data: _Bytes) -> int:
    """The protocol's 32-bit checksum of the bytes."""

class Packet:
    """An MKP packet: addresses, command, data type and up to 2048 data bytes."""

    dst: str
    src: str
    command: int
    data_type: int
    data: bytes
    def __init__(self, dst: _Address, src: _Address, command: int, data_type: int, data: _Bytes = b"") -> None: ...
    @staticmethod
    def from_text(text: str) -> Packet:
        """Reads packet text (the panes' form, .smt and .rst cells); ValueError when it is not well-formed."""
    @staticmethod
    def from_frame(frame: _Bytes) -> Packet:
        """Reads one whole frame; FrameError, with the reason, for anything else."""
    def frame(self) -> bytes:
        """The frame on the wire, with both checksums."""
    def __bytes__(self) -> bytes: ...
    def __eq__(self, other: object) -> bool: ...
    def __copy__(self) -> Packet: ...
    def __deepcopy__(self, memo: object) -> Packet: ...

def describe(packet: Union[Packet, str], hex_types: Iterable[int] = (), align: bool = False) -> str:
    """The decode pane's line of a packet."""

def values(packet: Union[Packet, str]) -> List[Union[int, float, str]]:
    """The values a packet carries: int, float or str."""

class Frame:
    """A frame received, or bytes that formed none."""

    @property
    def packet(self) -> Optional[Packet]: ...
    @property
    def raw(self) -> bytes: ...
    @property
    def good(self) -> bool: ...
    @property
    def time(self) -> datetime.datetime:
        """When the first byte arrived, local time."""
    @property
    def latency_ms(self) -> Optional[float]:
        """For an exchange's answer: from the end of the write to its first byte."""
    @property
    def text(self) -> str:
        """The terminal pane's line."""
    @property
    def decode(self) -> str:
        """The decode pane's line."""
    @property
    def error(self) -> Optional[str]:
        """Why the bytes form no frame; None for a good frame."""

class Port:
    """An open serial port; a context manager that closes it."""

    @property
    def name(self) -> str: ...
    @property
    def baud(self) -> int: ...
    @property
    def parity(self) -> str: ...
    @property
    def stop(self) -> Union[int, float]: ...
    @property
    def read_interval(self) -> int: ...
    @property
    def write_interval(self) -> int: ...
    @property
    def is_open(self) -> bool: ...
    @property
    def log(self) -> List[Tuple[str, str]]:
        """(pane, line) pairs, pane "terminal" or "decode", lines with their time."""
    def send(self, packet: Packet) -> None: ...
    def send_raw(self, data: _Bytes) -> None: ...
    def receive(self, timeout_ms: Optional[float] = None) -> Optional[Frame]: ...
    def exchange(self, packet: Packet, timeout_ms: Optional[float] = None) -> Optional[Frame]: ...
    def clear_log(self) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> Port: ...
    def __exit__(self, *args: object) -> None: ...

def open_port(
    name: Optional[_Path] = None,
    baud: Optional[int] = None,
    parity: Optional[str] = None,
    stop: Optional[Union[int, float, str]] = None,
    read_interval: Optional[int] = None,
    write_interval: Optional[int] = None,
    settings: Optional[_Path] = None,
) -> Port:
    """Opens a serial port (defaults 9600 baud, parity none, 1 stop bit, read interval 1, write interval 0)."""

class RequestStats:
    """How one request of a device description fared."""

    @property
    def text(self) -> str: ...
    @property
    def sent(self) -> int: ...
    @property
    def answered(self) -> int: ...
    @property
    def no_answer(self) -> int: ...
    @property
    def bad_frame(self) -> int: ...
    @property
    def wrong_answer(self) -> int: ...
    @property
    def write_failed(self) -> int: ...
    @property
    def other_traffic(self) -> int: ...
    @property
    def last_ms(self) -> Optional[float]: ...
    @property
    def max_ms(self) -> Optional[float]: ...
    @property
    def mean_ms(self) -> Optional[float]: ...

class Device:
    """A device of a device description (.rst) on an open port."""

    timeout_ms: int
    def __init__(
        self,
        description: _Path,
        port: Port,
        address: Optional[_Address] = None,
        timeout_ms: Optional[float] = None,
    ) -> None: ...
    def read(self, register: _Register) -> Optional[_Value]: ...
    def read_all(self) -> Dict[_Register, Optional[_Value]]: ...
    def write(self, values: Mapping[_Register, Union[_Value, Sequence[int], bool]]) -> None: ...
    @property
    def stats(self) -> List[RequestStats]: ...
    @property
    def registers(self) -> Dict[int, str]: ...
    @property
    def port(self) -> Port: ...
    @property
    def description(self) -> str: ...
    @property
    def address(self) -> Optional[str]: ...

class VirtualBus:
    """A pseudo-terminal pair with the simulated device on its far end; a context manager."""

    def __init__(self) -> None: ...
    @property
    def port(self) -> str: ...
    @property
    def closed(self) -> bool: ...
    @property
    def log(self) -> List[Tuple[str, str]]: ...
    def simulate(
        self,
        description: _Path,
        values: Optional[Mapping[_Register, Union[_Value, Sequence[int], bool]]] = None,
        drift: Optional[Mapping[_Register, float]] = None,
        drop_every: int = 0,
        corrupt_every: int = 0,
        wrong_every: int = 0,
        delay_ms: int = 5,
        table: Optional[_Path] = None,
    ) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> VirtualBus: ...
    def __exit__(self, *args: object) -> None: ...
