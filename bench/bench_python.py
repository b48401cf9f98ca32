"""Figures of the Python package: a getter's cost over the library call it
makes, measure() against the measurement sequence's own time, and whether a
measurement leaves other Python threads running. Prints rows of the bench
table; run with PYTHONPATH=<build>/python."""

import statistics
import sys
import threading
import time

import zem

URL = "virtual://resistor?ohms=1000&noise=0"


def figure(what, value, target):
    print(f"| {what} | {value} | {target} |", flush=True)


def getter(dev):
    calls = 20000
    best = float("inf")
    for _ in range(7):
        start = time.perf_counter_ns()
        for _ in range(calls):
            dev.get_status()
        best = min(best, (time.perf_counter_ns() - start) / calls / 1000)
    # The library call alone, as the connection timed it.
    with zem.record() as recording:
        for _ in range(calls):
            dev.get_status()
    durations = [float(line.split('"duration_us":', 1)[1].split(",", 1)[0])
                 for line in recording.lines()]
    library = statistics.median(durations)
    figure("get_status from Python, best of 7 x 20,000 (the library call alone, median)",
           f"{best:.2f} µs ({library:.3f} µs; +{best - library:.2f} µs)", "< 5 µs over")
    status = dev.get_status()
    start = time.perf_counter_ns()
    for _ in range(calls):
        status.Temperature
    figure("a field read from a Record (r.Temperature)",
           f"{(time.perf_counter_ns() - start) / calls / 1000:.2f} µs", "-")


def measure(dev):
    dev.set_measurement_settings(NumberPoints=1000)
    overheads = []
    for _ in range(12):
        start = time.perf_counter_ns()
        curve = dev.measure()
        wall = (time.perf_counter_ns() - start) / 1e6
        overheads.append((wall - curve.duration * 1000, wall, curve.duration * 1000))
    overheads.sort()
    best, median = overheads[0], overheads[len(overheads) // 2]
    figure("measure() of 1,000 points at 10 kHz: wall / the sequence's own time, median of 12",
           f"{median[1]:.2f} / {median[2]:.2f} ms (+{median[0]:.3f} ms; best +{best[0]:.3f} ms)",
           "<= sequence + 1 ms")


def threads(dev):
    def count(seconds):
        n = 0
        end = time.perf_counter() + seconds
        while time.perf_counter() < end:
            n += 1
        return n

    alone = count(0.1)
    worker = threading.Thread(target=dev.measure)
    worker.start()
    time.sleep(0.001)  # let it reach the library
    during = count(0.1)
    worker.join()
    figure("a Python thread's loop while another thread runs measure() (100 ms), of its rate "
           "alone", f"{100 * during / alone:.0f} %", "GIL released: about 100 %")


def main():
    with zem.open(URL) as dev:
        getter(dev)
        measure(dev)
        threads(dev)
    return 0


if __name__ == "__main__":
    sys.exit(main())
