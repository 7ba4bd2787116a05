"""Device tests of the sample device of examples/device.rst.

Against the simulated device, no hardware needed (the module's build folder
is build/python):

    PYTHONPATH=build/python /usr/bin/python3 -m pytest examples/pytest --mkp-sim examples/device.rst

Against the device itself:

    python3 -m pytest examples/pytest --mkp-port /dev/ttyUSB0 --mkp-device examples/device.rst

Add --junitxml=report.xml for the CI server: a failing test's traffic goes
into its <system-out>.
"""

import pytest

import mkp

# The registers, as the description names them.
COUNTER = "Счётчик импульсов"
TEMPERATURE = "Температура, °C"
NAME = "Имя устройства"
MODE = "Режим работы"


def test_values_come_with_their_python_types(mkp_device):
    values = mkp_device.read_all()
    assert isinstance(values[COUNTER], int)
    assert isinstance(values[TEMPERATURE], float)
    assert isinstance(values[NAME], str) and values[NAME]
    assert isinstance(values[MODE], int)


def test_a_written_mode_reads_back(mkp_device):
    before = mkp_device.read(MODE)
    wanted = 3 if before != 3 else 4
    mkp_device.write({MODE: wanted})
    try:
        assert mkp_device.read(MODE) == wanted
    finally:
        mkp_device.write({MODE: before})


def test_a_read_is_answered_within_50_ms(mkp_device):
    mkp_device.read(COUNTER)
    counter = mkp_device.stats[0]  # the description's first request reads the counter
    assert counter.answered >= 1
    assert counter.last_ms < 50


def test_a_raw_exchange_is_answered(mkp_port):
    # A read of register 1 as WORD, from the master 0A.0B.0C to the device 01.02.03.
    request = mkp.Packet(dst="010203", src="0A0B0C", command=6, data_type=5, data=b"\x01")
    answer = mkp_port.exchange(request, timeout_ms=1000)
    assert answer is not None, "no answer"
    assert answer.good
    assert answer.packet.command == 7  # ANSW
    assert answer.packet.data[:1] == b"\x01"
    assert "ANSW" in answer.decode


def test_the_counter_drifts_between_two_reads(description):
    with mkp.VirtualBus() as bus:
        bus.simulate(description, values={COUNTER: 100}, drift={COUNTER: 1})
        with mkp.open_port(bus.port) as port:
            device = mkp.Device(description, port)
            first = device.read(COUNTER)
            second = device.read(COUNTER)
    assert second == first + 1


def test_a_corrupted_answer_is_caught(description):
    with mkp.VirtualBus() as bus:
        bus.simulate(description, values={COUNTER: 100}, corrupt_every=2)
        with mkp.open_port(bus.port) as port:
            device = mkp.Device(description, port)
            device.read(COUNTER)  # the first answer is sound
            with pytest.raises(mkp.DeviceError) as caught:
                device.read(COUNTER)
    answer = caught.value.answer
    assert answer is not None and not answer.good
    assert "checksum" in answer.error
    assert device.stats[0].bad_frame == 1
