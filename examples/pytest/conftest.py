"""The sample device's suite: what the simulated device starts with when the
suite runs with --mkp-sim, and the description the tests with a virtual bus
of their own play."""

import pathlib

import pytest

SAMPLE_DESCRIPTION = pathlib.Path(__file__).resolve().parent.parent / "device.rst"


@pytest.fixture(scope="session")
def mkp_sim_values():
    # Registers by number or by name: counter, temperature, name, mode.
    return {1: 1000, 2: 21.5, 3: "MKP-1", 4: 5}


@pytest.fixture(scope="session")
def mkp_sim_drift():
    return {1: 1, 2: 0.25}


@pytest.fixture
def description(request):
    """The device description: --mkp-sim's or --mkp-device's, else the sample."""
    given = request.config.getoption("mkp_sim", None) or request.config.getoption("mkp_device", None)
    return given or str(SAMPLE_DESCRIPTION)
