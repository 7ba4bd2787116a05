"""Shared by the module's tests: the sample device description, and a
virtual bus on which the sample device plays, with a port open on it."""

import os
import pathlib

import pytest

import mkp

SOURCE = pathlib.Path(os.environ.get("MKP_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
SAMPLE = str(SOURCE / "examples" / "device.rst")
SAMPLE_VALUES = {1: 1000, 2: 21.5, 3: "MKP-1", 4: 5}

# The sample device's registers, as its description names them (Windows-1251 in the file).
COUNTER = "Счётчик импульсов"
MODE = "Режим работы"


@pytest.fixture(scope="module")
def bus():
    with mkp.VirtualBus() as virtual:
        virtual.simulate(SAMPLE, values=SAMPLE_VALUES)
        yield virtual


@pytest.fixture(scope="module")
def port(bus):
    with mkp.open_port(bus.port) as opened:
        yield opened


@pytest.fixture
def clean_port(port):
    """The module's port with an empty log."""
    port.clear_log()
    return port
