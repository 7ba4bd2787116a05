"""Ports, devices and the virtual bus through the bindings: frames and pane
lines as Python objects, errors as exceptions, the interpreter's lock released
while a call waits, and Ctrl+C."""

import datetime
import re
import signal
import threading
import time

import pytest

import mkp
from conftest import COUNTER, MODE, SAMPLE

READ_COUNTER = mkp.Packet("010203", "0A0B0C", 6, 5, b"\x01")
TIMED = re.compile(r"^\d\d:\d\d:\d\d\.\d{3} \+\d+\.\d{3} ")


def test_an_exchange_gives_the_answer_with_its_time_and_pane_lines(clean_port):
    before = datetime.datetime.now()
    frame = clean_port.exchange(READ_COUNTER, timeout_ms=1000)
    assert frame.good and frame.error is None
    assert frame.packet == mkp.Packet("0A0B0C", "010203", 7, 5, b"\x01\xe8\x03")
    assert frame.raw == frame.packet.frame()
    assert before - datetime.timedelta(seconds=1) <= frame.time <= datetime.datetime.now()
    assert 0 < frame.latency_ms < 1000
    assert frame.text == "<- 0A0B0C.010203.07.05.0300 - 01 E8 03 "
    assert frame.decode == "<- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 "
    log = clean_port.log
    assert [pane for pane, _ in log] == ["terminal", "decode", "terminal", "decode"]
    assert all(TIMED.match(line) for _, line in log)
    assert log[0][1].endswith("-> 010203.0A0B0C.06.05.0100 - 01 ")
    assert log[3][1].endswith(" (answer after %.1f ms)" % frame.latency_ms)
    clean_port.clear_log()
    assert clean_port.log == []


def test_silence_and_unanswered_requests_give_none(clean_port):
    start = time.monotonic()
    assert clean_port.receive(timeout_ms=100) is None
    # Another station's address: the device keeps quiet.
    assert clean_port.exchange(mkp.Packet("010209", "0A0B0C", 6, 5, b"\x01"), timeout_ms=100) is None
    assert time.monotonic() - start < 5
    with pytest.raises(ValueError):
        clean_port.receive(timeout_ms=-1)
    # Raw bytes go out as they are: a broken frame, which the device takes for no packet.
    broken = bytearray(READ_COUNTER.frame())
    broken[-1] ^= 1
    clean_port.send_raw(broken)
    assert clean_port.receive(timeout_ms=200) is None
    assert clean_port.log[-2][1].endswith("-> 01 02 03 0A 0B 0C 06 05 01 00 A0 F1 89 11 - 01 01 00 00 01 ")
    assert clean_port.log[-1][1].endswith("-> 0A0B0C>>010203 RD type 05 : reg 01")


def test_port_errors(tmp_path):
    bus = mkp.VirtualBus()
    with pytest.raises(mkp.PortError, match="cannot open /dev/no-such-mkp-port") as caught:
        mkp.open_port("/dev/no-such-mkp-port")
    assert isinstance(caught.value, OSError)
    with pytest.raises(ValueError, match="parity"):
        mkp.open_port(bus.port, parity="sometimes")
    with pytest.raises(FileNotFoundError):
        mkp.open_port(settings=tmp_path / "missing.ini")

    settings = tmp_path / "mkpt.ini"
    settings.write_bytes(f"PortNumber={bus.port}\r\nTransferRate=19200\r\nStopBits=2\r\nParity=Even\r\n"
                         "ReadIntervalTimeout=3\r\nWriteIntervalTimeout=0\r\n".encode())
    port = mkp.open_port(settings=settings, baud=38400)
    assert (port.name, port.baud, port.parity, port.stop, port.read_interval) == (bus.port, 38400, "even", 2, 3)
    port.close()
    port.close()
    assert not port.is_open
    with pytest.raises(mkp.PortError, match="closed"):
        port.send(READ_COUNTER)
    with pytest.raises(mkp.PortError, match="closed"):
        port.receive(timeout_ms=10)
    with mkp.open_port(bus.port), pytest.raises(mkp.PortError, match="in use"):
        mkp.open_port(bus.port)
    bus.close()


def test_the_interpreter_runs_on_while_a_receive_waits(clean_port):
    counted = []
    done = threading.Event()

    def count():
        while not done.is_set():
            counted.append(1)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        start = len(counted)
        assert clean_port.receive(timeout_ms=500) is None
        during = len(counted) - start
    finally:
        done.set()
        counter.join()
    assert during > 1000


def interrupted_after(delay, call):
    """Runs call, sending SIGINT to this (the main) thread delay seconds after
    it started; how long after the signal the KeyboardInterrupt came."""
    started = threading.Event()
    sent = []

    def interrupt():
        started.wait(10)
        time.sleep(delay)  # let the call block
        sent.append(time.monotonic())
        signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

    sender = threading.Thread(target=interrupt)
    sender.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            started.set()
            call()
            time.sleep(10)  # a call that returned before the signal: it comes here
        return time.monotonic() - sent[0]
    finally:
        sender.join()


def test_ctrl_c_ends_a_long_receive_and_an_open(clean_port):
    start = time.monotonic()
    assert interrupted_after(0.3, lambda: clean_port.receive(timeout_ms=20000)) < 1.0
    assert time.monotonic() - start < 10
    # The wait of an open that drops what arrives: the port closes again.
    with mkp.VirtualBus() as bus:
        assert interrupted_after(0.05, lambda: mkp.open_port(bus.port)) < 1.0
        mkp.open_port(bus.port).close()


def test_device_reads_and_writes_by_windows_1251_names(port):
    device = mkp.Device(SAMPLE, port)
    assert device.registers[1] == COUNTER
    assert device.read(COUNTER) == 1000 and device.read(1) == 1000
    values = device.read_all()
    assert values == {COUNTER: 1000, "Температура, °C": 21.5, "Имя устройства": "MKP-1", MODE: 5}
    device.write({MODE: 7, "Имя устройства": "Прибор"})
    assert device.read(MODE) == 7 and device.read(3) == "Прибор"
    device.write({MODE: 5})
    stats = device.stats
    assert [s.answered for s in stats] == [3, 1, 2, 2]
    assert stats[0].text == "010203.0A0B0C.06.05.0100 - 01" and stats[0].last_ms > 0
    with pytest.raises(KeyError, match="Счётчик импульсов"):
        device.read("Счетчик")
    with pytest.raises(ValueError, match="no request"):
        device.read(9)
    with pytest.raises(TypeError):
        device.write({MODE: object()})


def test_device_errors_carry_the_exchange(port, tmp_path):
    with pytest.raises(FileNotFoundError):
        mkp.Device(tmp_path / "missing.rst", port)
    (tmp_path / "empty.rst").write_text("nothing here\n")
    with pytest.raises(ValueError, match="no requests or registers found"):
        mkp.Device(tmp_path / "empty.rst", port)
    with pytest.raises(ValueError, match="address"):
        mkp.Device(SAMPLE, port, address="1.2")
    elsewhere = mkp.Device(SAMPLE, port, address="1.2.9", timeout_ms=100)
    assert elsewhere.address == "010209"
    with pytest.raises(mkp.DeviceError, match="no answer") as caught:
        elsewhere.read(COUNTER)
    assert caught.value.request.dst == "010209" and caught.value.answer is None
    assert elsewhere.stats[0].no_answer == 1


def test_a_wrong_answer_is_a_device_error():
    with mkp.VirtualBus() as bus:
        bus.simulate(SAMPLE, values={COUNTER: 1}, wrong_every=1, delay_ms=0)
        with mkp.open_port(bus.port) as port:
            device = mkp.Device(SAMPLE, port)
            with pytest.raises(mkp.DeviceError, match="does not belong") as caught:
                device.read(COUNTER)
        assert bus.log[0][1].endswith("<- 010203.0A0B0C.06.05.0100 - 01 ")
    assert caught.value.answer.good and caught.value.answer.packet.data_type != 5
    assert device.stats[0].wrong_answer == 1
    with pytest.raises(mkp.PortError):
        bus.simulate(SAMPLE)
    with pytest.raises(KeyError):
        mkp.VirtualBus().simulate(SAMPLE, values={"no such register": 1})
