"""The pytest plugin, run on small suites in a pytest of their own: its
options and fixtures, and a failing test's traffic in the terminal and in the
JUnit file."""

import os
import pathlib
import subprocess
import sys
import textwrap
import xml.etree.ElementTree as ET

import mkp
from conftest import SAMPLE

# The pytest run in a subprocess imports the same mkp.
ENVIRONMENT = dict(os.environ, PYTHONPATH=str(pathlib.Path(mkp.__file__).resolve().parents[1]),
                   PYTHONDONTWRITEBYTECODE="1")

SUITE = '''
import pytest

@pytest.fixture(scope="session")
def mkp_sim_values():
    return {1: 1000}

def test_port_is_open(mkp_port):
    assert mkp_port.is_open

def test_device_reads(mkp_device):
    assert mkp_device.read(1) == 1000

def test_device_fails(mkp_device):
    assert mkp_device.read(1) == 1001
'''


def run_pytest(tmp_path, *arguments, suite=SUITE):
    (tmp_path / "test_suite.py").write_text(textwrap.dedent(suite))
    return subprocess.run(
        [sys.executable, "-m", "pytest", "-p", "mkp.pytest_plugin", "-p", "no:cacheprovider", "-rA", *arguments],
        cwd=tmp_path, env=ENVIRONMENT, capture_output=True, text=True, timeout=120)


def test_a_failing_tests_traffic_goes_to_the_terminal_and_the_junit_file(tmp_path):
    run = run_pytest(tmp_path, "--mkp-sim", SAMPLE, "--junitxml=report.xml")
    assert run.returncode == 1, run.stdout + run.stderr
    assert "1 failed, 2 passed" in run.stdout
    assert "Captured mkp traffic call" in run.stdout
    cases = {case.get("name"): case for case in ET.parse(tmp_path / "report.xml").getroot().iter("testcase")}
    out = cases["test_device_fails"].find("system-out")
    assert out is not None
    lines = out.text.splitlines()
    assert any(line.startswith("terminal ") and line.endswith("-> 010203.0A0B0C.06.05.0100 - 01 ") for line in lines)
    assert any(line.startswith("decode ") and "ANSW type 05 : reg 01 = 1000" in line for line in lines)
    assert cases["test_device_fails"].find("failure") is not None
    assert cases["test_device_reads"].find("system-out") is None


def test_without_a_port_the_fixtures_skip(tmp_path):
    run = run_pytest(tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "3 skipped" in run.stdout
    assert "no MKP port: give --mkp-port NAME, --mkp-settings FILE or --mkp-sim DESCRIPTION" in run.stdout


def test_a_port_that_does_not_open_fails_with_one_line(tmp_path):
    run = run_pytest(tmp_path, "--mkp-port", "/dev/no-such-mkp-port", "--mkp-device", SAMPLE, "-k", "port_is_open")
    assert run.returncode == 1, run.stdout + run.stderr
    assert "mkp_port: cannot open /dev/no-such-mkp-port: " in run.stdout
    assert "_mkp" not in run.stdout and "Traceback" not in run.stdout


def test_the_simulated_device_excludes_a_port(tmp_path):
    run = run_pytest(tmp_path, "--mkp-sim", SAMPLE, "--mkp-port", "/dev/ttyS0")
    assert run.returncode == 4
    assert "--mkp-sim" in run.stderr
