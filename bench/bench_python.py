"""What the Python module costs: exchanges with the simulated device over a
pseudo-terminal pair from Python against the same exchanges in one C++ loop
of the module, in the same run; and packet work without I/O from Python.

    PYTHONPATH=build/python /usr/bin/python3 bench/bench_python.py [--exchanges N] [--packets N] [--delay MS]

Prints the figures; the targets are a Python exchange rate of at least 0.9 of
the C++ rate and at least 100,000 packets per second for each kind of packet
work.
"""

import argparse
import pathlib
import time

import mkp
import mkp._mkp

SAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "device.rst"
READ_COUNTER = mkp.Packet("010203", "0A0B0C", 6, 5, b"\x01")


def python_exchanges(port, count):
    answered = 0
    start = time.perf_counter()
    for _ in range(count):
        if port.exchange(READ_COUNTER, timeout_ms=1000) is not None:
            answered += 1
    return answered, time.perf_counter() - start


def exchanges(count, delay_ms):
    with mkp.VirtualBus() as bus:
        bus.simulate(SAMPLE, values={1: 1000, 2: 21.5, 3: "MKP-1", 4: 5}, delay_ms=delay_ms)
        with mkp.open_port(bus.port) as port:
            python_exchanges(port, 50)  # both sides warm
            # Halves in turn, so a drift of the machine's load falls on both.
            py_answered = cpp_answered = 0
            py_seconds = cpp_seconds = 0.0
            for half in (count // 2, count - count // 2):
                answered, seconds = python_exchanges(port, half)
                py_answered += answered
                py_seconds += seconds
                port.clear_log()
                answered, seconds = mkp._mkp._exchange_loop(port, READ_COUNTER, half, 1000)
                cpp_answered += answered
                cpp_seconds += seconds
                port.clear_log()
    py_rate = py_answered / py_seconds
    cpp_rate = cpp_answered / cpp_seconds
    print(f"exchanges with the simulated device (answer delay {delay_ms} ms), {count} each:")
    print(f"  Python  {py_answered:5d} answered in {py_seconds:7.3f} s: {py_rate:8.1f} exchanges/s, "
          f"{1000 * py_seconds / count:.3f} ms each")
    print(f"  C++     {cpp_answered:5d} answered in {cpp_seconds:7.3f} s: {cpp_rate:8.1f} exchanges/s, "
          f"{1000 * cpp_seconds / count:.3f} ms each")
    print(f"  Python / C++ = {py_rate / cpp_rate:.3f} (target at least 0.9)")


def packet_work(count):
    texts = [f"0A0B0C.010203.07.05.0300 - {i % 256:02X} E8 03 " for i in range(256)]
    texts += [f"010203.0A0B0C.06.0D.0100 - {i % 256:02X}" for i in range(256)]
    packets = [mkp.Packet.from_text(t) for t in texts]
    frames = [p.frame() for p in packets]
    n = len(texts)

    def rate(name, work):
        start = time.perf_counter()
        work()
        seconds = time.perf_counter() - start
        print(f"  {name:<11} {count / seconds:12,.0f} packets/s")

    print(f"packet work without I/O, {count} packets each (target at least 100,000 packets/s):")
    from_text = mkp.Packet.from_text
    from_frame = mkp.Packet.from_frame
    describe = mkp.describe
    rate("from_text", lambda: [from_text(texts[i % n]) for i in range(count)])
    rate("frame", lambda: [packets[i % n].frame() for i in range(count)])
    rate("from_frame", lambda: [from_frame(frames[i % n]) for i in range(count)])
    rate("describe", lambda: [describe(packets[i % n]) for i in range(count)])
    rate("values", lambda: [mkp.values(packets[i % n]) for i in range(count)])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exchanges", type=int, default=2000)
    parser.add_argument("--packets", type=int, default=200000)
    parser.add_argument("--delay", type=int, action="append", help="answer delay of the device, ms (default 5 and 0)")
    arguments = parser.parse_args()
    packet_work(arguments.packets)
    for delay in arguments.delay or [5, 0]:
        exchanges(arguments.exchanges, delay)


if __name__ == "__main__":
    main()
