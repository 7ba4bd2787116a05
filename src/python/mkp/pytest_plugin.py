"""The pytest plugin of mkp: device tests against a serial port or a
simulated device, with the traffic of a failing test in its report.

Loaded by pytest wherever the mkp package is installed (its package metadata
registers it), or with ``-p mkp.pytest_plugin``.

Options:
  --mkp-port NAME           the serial port of the device under test
  --mkp-baud N              its speed (default 9600, or the settings file's)
  --mkp-settings FILE       port and settings from a settings file (mkpt.ini)
  --mkp-sim DESCRIPTION     no hardware: a VirtualBus on which the simulated
                            device of the description (.rst) plays
  --mkp-device DESCRIPTION  the description of the device under test

Fixtures:
  mkp_port        an open mkp.Port on the chosen port or the virtual bus,
                  closed after the test
  mkp_device      an mkp.Device on it, of --mkp-device (or of --mkp-sim when
                  only that is given)
  mkp_bus         the VirtualBus of --mkp-sim (None without it); one for the
                  whole session
  mkp_sim_values, mkp_sim_drift
                  the values and drift steps the simulated device starts
                  with ({register: value}); override them in a conftest.py

When a test fails, the pane lines of every port it used (both panes, with
their time) are added to its report in the terminal and to its test case's
<system-out> in the JUnit file (--junitxml).
"""

from __future__ import annotations

import xml.etree.ElementTree as ET
from typing import Iterator, List, Optional, Tuple

import pytest

import mkp

SECTION = "mkp traffic"
_lines_key = pytest.StashKey[List[Tuple[str, str, str]]]()
_config: Optional[pytest.Config] = None


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("mkp", "MKP device tests (mkp)")
    group.addoption("--mkp-port", metavar="NAME", help="serial port of the device under test (COM1, /dev/ttyUSB0, ...)")
    group.addoption("--mkp-baud", metavar="N", type=int, help="its speed in bits per second (default 9600)")
    group.addoption("--mkp-settings", metavar="FILE", help="take the port and its settings from a settings file (mkpt.ini)")
    group.addoption(
        "--mkp-sim",
        metavar="DESCRIPTION",
        help="no hardware: play the simulated device of this device description (.rst) on a virtual bus",
    )
    group.addoption("--mkp-device", metavar="DESCRIPTION", help="device description (.rst) of the device under test")


def pytest_configure(config: pytest.Config) -> None:
    global _config
    _config = config
    if config.getoption("mkp_sim") and (config.getoption("mkp_port") or config.getoption("mkp_settings")):
        raise pytest.UsageError("--mkp-sim plays a simulated device on a virtual bus: give it without --mkp-port and --mkp-settings")


def pytest_unconfigure(config: pytest.Config) -> None:
    global _config
    if _config is config:
        _config = None


# ---- Fixtures ----------------------------------------------------------------


@pytest.fixture(scope="session")
def mkp_sim_values() -> dict:
    """The values the simulated device of --mkp-sim starts with: {register: value}."""
    return {}


@pytest.fixture(scope="session")
def mkp_sim_drift() -> dict:
    """The drift steps of the simulated device of --mkp-sim: {register: step}."""
    return {}


@pytest.fixture(scope="session")
def mkp_bus(request: pytest.FixtureRequest, mkp_sim_values: dict, mkp_sim_drift: dict) -> Iterator[Optional[mkp.VirtualBus]]:
    """The VirtualBus of --mkp-sim with its simulated device playing; None without --mkp-sim."""
    description = request.config.getoption("mkp_sim")
    if not description:
        yield None
        return
    try:
        bus = mkp.VirtualBus()
        bus.simulate(description, values=mkp_sim_values, drift=mkp_sim_drift)
    except (OSError, ValueError, KeyError, TypeError, mkp.Error) as error:
        pytest.fail(f"--mkp-sim {description}: {error}", pytrace=False)
    with bus:
        yield bus


@pytest.fixture
def mkp_port(request: pytest.FixtureRequest, mkp_bus: Optional[mkp.VirtualBus]) -> Iterator[mkp.Port]:
    """An open Port on --mkp-port (or --mkp-settings) or on the virtual bus of --mkp-sim; closed after the test."""
    config = request.config
    name = config.getoption("mkp_port")
    settings = config.getoption("mkp_settings")
    if mkp_bus is not None:
        name = mkp_bus.port
    if not name and not settings:
        pytest.skip("no MKP port: give --mkp-port NAME, --mkp-settings FILE or --mkp-sim DESCRIPTION")
    try:
        port = mkp.open_port(name, baud=config.getoption("mkp_baud"), settings=settings)
    except (OSError, ValueError) as error:
        pytest.fail(f"mkp_port: {error}", pytrace=False)
    with port:
        yield port


@pytest.fixture
def mkp_device(request: pytest.FixtureRequest, mkp_port: mkp.Port) -> mkp.Device:
    """A Device of --mkp-device (or of --mkp-sim when only that is given) on mkp_port."""
    description = request.config.getoption("mkp_device") or request.config.getoption("mkp_sim")
    if not description:
        pytest.skip("no device description: give --mkp-device DESCRIPTION (or --mkp-sim)")
    try:
        return mkp.Device(description, mkp_port)
    except (OSError, ValueError) as error:
        pytest.fail(f"mkp_device: {error}", pytrace=False)


# ---- The traffic of a failing test ---------------------------------------------


def format_traffic(lines: List[Tuple[str, str, str]]) -> str:
    """The recorded lines as a report shows them: pane, then the line with its
    time; the port in front when the test used more than one."""
    several = len({port for port, _, _ in lines}) > 1
    out = []
    for port, pane, text in lines:
        out.append(f"{port} {pane:<8} {text}" if several else f"{pane:<8} {text}")
    return "\n".join(out) + "\n"


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_protocol(item: pytest.Item, nextitem: Optional[pytest.Item]):
    item.stash[_lines_key] = []
    mkp._mkp._record_traffic_start()
    try:
        yield
    finally:
        mkp._mkp._record_traffic_stop()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: pytest.Item, call: pytest.CallInfo):
    lines = item.stash.setdefault(_lines_key, [])
    lines.extend(mkp._mkp._record_traffic_take())
    excinfo = call.excinfo
    if excinfo is not None and lines and not excinfo.errisinstance(pytest.skip.Exception):
        item.add_report_section(call.when, SECTION, format_traffic(lines))
    yield


def _junit_xml(config: pytest.Config):
    """The JUnit writer of --junitxml, or None."""
    try:
        from _pytest.junitxml import xml_key

        found = config.stash.get(xml_key, None)
        if found is not None:
            return found
    except ImportError:
        pass
    for plugin in config.pluginmanager.get_plugins():
        if type(plugin).__name__ == "LogXML" and hasattr(plugin, "node_reporter"):
            return plugin
    return None


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_logreport(report: pytest.TestReport) -> None:
    # Before the JUnit writer's own hook, which closes the test case at its
    # teardown report.
    if not report.failed or _config is None:
        return
    title = f"Captured {SECTION} {report.when}"
    text = "".join(content for name, content in report.sections if name == title)
    if not text:
        return
    xml = _junit_xml(_config)
    if xml is None:
        return
    try:
        from _pytest.junitxml import bin_xml_escape
    except ImportError:  # pragma: no cover - older or newer pytest

        def bin_xml_escape(arg: object) -> str:
            return str(arg)

    node = ET.Element("system-out")
    node.text = bin_xml_escape(f"{SECTION} ({report.when})\n{text}")
    xml.node_reporter(report).append(node)
