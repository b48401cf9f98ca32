"""The zem package against the virtual instrument: commands, results, measure,
signatures, and a recording that zemctl replays."""

import ast
import json
import os
import pathlib
import signal
import socket
import subprocess
import sys
import time

import numpy as np
import pytest

import zem

URL = "virtual://resistor?ohms=1000&noise=0"


@pytest.fixture
def dev():
    with zem.open(URL) as device:
        yield device


def test_open_closes_on_leaving_and_refuses_bad_urls():
    with zem.open(URL) as device:
        assert device.is_open
    assert not device.is_open and device.state == "closed"
    with pytest.raises(zem.DeviceError) as refused:
        zem.open("virtual://no_such_load")
    assert refused.value.code == -1


def test_getter_names_values(dev):
    settings = dev.get_measurement_settings()
    assert settings.CurrentSensorMode.name == "CURRENT_SENSE_MODE_I_MID"
    assert settings["CurrentSensorMode"] == 2 and dict(settings)["NumberPoints"] == 100
    assert json.loads(settings.to_json())["OutputMode"]["name"] == "OUT_MODE_PROBE_SIGNAL_CONTINUOUS"


def test_setter_is_filled_from_its_getter_and_checked_before_any_call(dev):
    dev.set_measurement_settings(NumberPoints=200)
    dev.set_measurement_settings(MaxVoltage=3, CurrentSensorMode="CURRENT_SENSE_MODE_I_LOW")
    settings = dev.get_measurement_settings()
    assert (settings.NumberPoints, settings.MaxVoltage, settings.CurrentSensorMode) == (200, 3, 1)
    with zem.record() as calls:
        with pytest.raises(ValueError, match="NumberPoints"):
            dev.set_measurement_settings(NumberPoints=-1)
        with pytest.raises(TypeError, match="Nonsense"):
            dev.set_measurement_settings(Nonsense=1)
    assert len(calls) == 0
    # Without fill the fields not given are 0, which the device refuses.
    with pytest.raises(zem.DeviceError) as refused:
        dev.set_measurement_settings(fill=False, NumberPoints=100)
    assert (refused.value.code, refused.value.name) == (-3, "result_value_error")
    assert dev.get_measurement_settings().NumberPoints == 200


def test_minus_one_closes_the_device():
    device = zem.open("virtual://resistor?fail=get_status:-1@2")
    device.get_status()
    with pytest.raises(zem.DeviceError) as failed:
        device.get_status()
    assert (failed.value.code, device.is_open) == (-1, False)
    with zem.record() as calls, pytest.raises(zem.DeviceError, match="closed"):
        device.get_status()
    assert len(calls) == 0


def test_minus_three_returns_the_frame_with_a_warning():
    with zem.open("virtual://resistor?never_complete=1") as device:
        device.start_measurement()
        with pytest.warns(zem.ResultWarning, match="result_value_error"):
            frame = device.get_measurement(FrameNumber=0)
        assert frame.Voltage.shape == (25,) and frame.Current.dtype == np.float32


def test_measure_gives_numpy_arrays_and_the_window_files(dev, tmp_path):
    curve = dev.measure(NumberPoints=1000)
    assert curve.voltage.shape == curve.current.shape == (1000,)
    assert curve.complete and curve.settings.NumberPoints == 1000
    np.testing.assert_allclose(curve.current, curve.voltage, atol=1e-4)  # 1 kΩ: mA = V
    assert curve.figures.slope_resistance == pytest.approx(1000, rel=1e-3)
    assert curve.voltage.max() == pytest.approx(2.5, abs=1e-3)  # 5 V over the range's 1 kΩ and 1 kΩ
    curve.to_csv(tmp_path / "c.csv")
    curve.to_json(tmp_path / "c.json")
    table = np.loadtxt(tmp_path / "c.csv", delimiter=",", comments=("#", "index"))
    np.testing.assert_allclose(table[:, 2:], np.c_[curve.voltage, curve.current], atol=1e-6)
    assert len(json.loads((tmp_path / "c.json").read_text())["current"]) == 1000


def test_compare_with_a_signature(dev, tmp_path):
    board = zem.Signature("board", ["R1"])
    board.learn("R1", dev.measure(**board.settings_for("R1")))
    with pytest.raises(ValueError, match="control character"):
        board.learn("R\x002", dev.measure(**board.settings_for("R1")))
    with pytest.raises(ValueError, match="control character"):
        zem.Signature("board", ["R\n1"])
    board.save(tmp_path / "board.json")
    board = zem.Signature.load(tmp_path / "board.json")
    assert board.compare(dev.measure(), point="R1").passed
    assert board.learn(dev, add=True) == ["R1"]
    assert [(c.verdict, c.boards) for c in board.test(dev, repeat=3)] == [("pass", 2)]
    with zem.open("virtual://resistor?ohms=1200&noise=0") as other:
        result = board.compare(other.measure(**board.settings_for("R1")), point="R1")
        with pytest.raises(ValueError, match="NumberPoints"):
            board.compare(other.measure(NumberPoints=200), point="R1")
        assert board.test(other, points=["R1"])[0].cause.kind == "resistance_higher"
    assert (result.verdict, result.cause.kind) == ("different", "resistance_higher")
    with pytest.raises(zem.DeviceError, match="not connected"):
        board.test(other)
    with zem.open("virtual://resistor?fail=get_measurement:-5@1") as failing:
        with pytest.raises(zem.DeviceError, match="R1: Not measured") as failed:
            board.learn(failing)
    assert failed.value.code == -5 and board.compare(dev.measure(), point="R1").boards == 2
    assert result.score > board.tolerance


def test_a_board_learned_and_tested_point_by_point():
    with zem.open("virtual://open?pins=resistor:47000,resistor:1000,resistor:47") as board:
        if not board.has_virtual_probe:
            pytest.skip("this libzem cannot place the virtual probe on a pin")
        sig = zem.Signature("board", ["R1", "R2", "R3"])
        assert sig.learn(board, auto_settings=True) == ["R1", "R2", "R3"]
        assert [sig.settings_for(p).CurrentSensorMode.name for p in sig.points] == [
            "CURRENT_SENSE_MODE_I_LOW", "CURRENT_SENSE_MODE_I_MID", "CURRENT_SENSE_MODE_I_HIGH"]
        results = sig.test(board, repeat=3)
    assert [(r.point, r.verdict, r.boards) for r in results] == [
        ("R1", "pass", 1), ("R2", "pass", 1), ("R3", "pass", 1)]


DEMO = pathlib.Path(__file__).resolve().parents[2] / "example" / "demo"


def test_predict_refuses_then_predicts_and_names_likely_faults(tmp_path):
    board = json.loads((DEMO / "demo.json").read_text())
    for point in board["points"]:
        point["measurements"] = [{}]
    (tmp_path / "b.json").write_text(json.dumps(board))
    sig = zem.Signature.load(tmp_path / "b.json")
    for call, error in [(lambda: zem.Signature("bare", ["A"]).predict(), ValueError),
                        (lambda: sig.predict(points=["R1.1", "nowhere"]), KeyError),
                        (lambda: sig.predict(models=tmp_path / "none.json"), OSError),
                        (lambda: sig.predict(tolerance=101), ValueError)]:
        with pytest.raises(error):
            call()
    assert not any(sig.learned(p) for p in sig.points)
    summary = sig.predict(points=["R2.1"])
    assert (summary["predicted"], summary["points"], summary["results"][0]["point"]) == (
        1, 1, "R2.1")
    assert [p for p in sig.points if sig.learned(p)] == ["R2.1"]
    summary = sig.predict(tolerance=30, choose_settings=True)
    assert (summary["predicted"], summary["kept"], summary["not_predicted"]) == (9, 0, 0)
    assert summary["settings_chosen"]["faults"] == 15 and summary["settings_chosen"]["hidden"] == []
    with zem.open((DEMO / "faulty.url").read_text().strip()) as faulty:
        if not faulty.has_virtual_probe:
            pytest.skip("this libzem cannot place the virtual probe on a pin")
        results = sig.test(faulty, points=["R1.1", "R2.1"])
    assert [(c.verdict, c.predicted) for c in results] == [("pass", True), ("different", True)]
    assert results[0].likely_faults == [] and results[1].likely_faults[0][:2] == ("R2", "value x2")


def test_recording_replays_with_zemctl(dev, tmp_path):
    path = tmp_path / "calls.jsonl"
    with zem.record(path) as calls:
        dev.get_identity_information()
        dev.set_measurement_settings(NumberPoints=100)
        dev.measure()
    lines = path.read_text().splitlines()
    assert len(lines) == len(calls) and {json.loads(l)["origin"] for l in lines} == {"python"}
    def replay(url):
        return subprocess.run([os.environ["ZEMCTL"], "-u", url, "replay", str(path), "--ignore",
                               "ReadyStatus"], capture_output=True, text=True).returncode
    assert replay(URL) == 0
    assert replay("virtual://resistor?ohms=1200&noise=0") == 4  # the frames differ


def test_threads_ctrl_c_and_bytes_paths(dev, tmp_path, monkeypatch):
    def child(code, before=""):  # a fresh interpreter: NumPy's C API is looked up once a process
        return subprocess.Popen([sys.executable, "-c", before + "import threading, time, zem\n" + code],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    two_readers = ("d = zem.open('virtual://resistor'); a, b = d.measure(), d.measure(); seen = []\n"
                   "def read(c):\n try: seen.append(len(c.voltage))\n"
                   " except ImportError as e: seen.append(str(e))\n"
                   "t = threading.Thread(target=read, args=(a,)); t.start(); read(b); t.join()\n"
                   "print(seen)")
    first_arrays = child(two_readers)
    # Where NumPy is missing, both are told so, and neither waits for the other.
    no_numpy = child(two_readers, before="import sys; sys.modules['numpy'] = None\n")
    # Told once the device measures (set, start: 4 calls), for 31 s at these settings.
    measuring = child("r = zem.record().__enter__()\ndef told():\n while len(r) < 4: time.sleep(0.01)\n"
                      " print('measuring', flush=True)\nthreading.Thread(target=told).start()\n"
                      "zem.open('virtual://resistor?never_complete=1').measure(SamplingRate=10, "
                      "ProbeSignalFrequency=1)")
    try:
        assert first_arrays.wait(timeout=30) == 0, first_arrays.stderr.read()
        assert first_arrays.stdout.read().strip() == "[100, 100]"
        out, errors = no_numpy.communicate(timeout=30)
        assert no_numpy.returncode == 0 and out.count("needs NumPy") == 2, errors
        assert measuring.stdout.readline() == "measuring\n"
        start = time.monotonic()
        measuring.send_signal(signal.SIGINT)
        _, errors = measuring.communicate(timeout=20)
    finally:
        first_arrays.kill(), no_numpy.kill(), measuring.kill()
    assert time.monotonic() - start < 10 and "KeyboardInterrupt" in errors
    monkeypatch.chdir(tmp_path)
    for path in (b"calls.jsonl", tmp_path / "p.jsonl"):
        with zem.record(path) as calls:
            dev.get_status()
        assert calls.path == os.fsdecode(path)
    assert sorted(os.listdir()) == ["calls.jsonl", "p.jsonl"]


def test_stubs_list_every_command():
    stub = ast.parse((pathlib.Path(zem.__file__).parent / "__init__.pyi").read_text())
    device = next(c for c in stub.body if isinstance(c, ast.ClassDef) and c.name == "Device")
    stubbed = {f.name for f in device.body if isinstance(f, ast.FunctionDef)}
    assert stubbed >= {name for name in dir(zem.Device) if not name.startswith("_")}


def test_a_machine_run_is_refused_before_it_moves(dev):
    with pytest.raises(ValueError, match="safe"):
        zem.Prober.open("grbl-tcp://127.0.0.1:1?safe=high")
    with pytest.raises(ValueError, match="needs a machine"):
        zem.Signature("board", ["R1"]).test(dev, order="path")
    with pytest.raises(ValueError, match="fiducial"):
        zem.Signature("board", ["R1"]).learn(dev, prober=zem.Prober.open("grbl-tcp://127.0.0.1:1"))


@pytest.mark.skipif("ZEM_GANTRY_SIM" not in os.environ, reason="no virtual gantry built")
def test_a_machine_learns_and_tests_a_board(tmp_path):
    path = tmp_path / "board.json"
    zem.Signature("board", ["R0", "R1", "R2", "TP1"]).save(path)
    data = json.loads(path.read_text())
    for point, mm in zip(data["points"], ([10, 5], [2, 2], [6, 12])):  # not the shortest path
        point["mm"] = mm
    # The virtual gantry holds the board at machine X 20, Y 20: taught so.
    data["fiducials"] = [{"name": "F1", "mm": [0, 0], "machine": [20, 20]},
                         {"name": "F2", "mm": [40, 0], "machine": [60, 20]}]
    path.write_text(json.dumps(data))
    sig = zem.Signature.load(path)
    with zem.open("virtual://open") as dev, pytest.raises(ValueError, match="TP1"):
        sig.test(dev, prober=zem.Prober.open("grbl-tcp://127.0.0.1:1"))  # TP1 has no mm
    sim = subprocess.Popen([os.environ["ZEM_GANTRY_SIM"], "--tcp", "127.0.0.1:0", "--points",
                            str(path), "--feed", "100", "--time-scale", "20"],
                           stdout=subprocess.PIPE, text=True)
    try:
        port = sim.stdout.readline().strip().rpartition(":")[2]
        with socket.create_connection(("127.0.0.1", int(port)), timeout=10) as grbl:
            grbl.sendall(b"$120=5000\n$121=5000\n$122=5000\n")  # a stiff machine: a short test
            oks = 0
            for line in grbl.makefile("rb"):  # its greeting, then an ok a line
                oks += line.strip() == b"ok"
                if oks == 3:
                    break
            grbl.shutdown(socket.SHUT_WR)  # it serves one GRBL client: let it see this one leave
            grbl.makefile("rb").read()
        machine = zem.Prober.open(
            f"grbl-tcp://127.0.0.1:{port}?safe=-35&surface=-40&feed=100&contact_feed=50")
        pins = ["resistor:1000", "resistor:2200", "resistor:4700"]
        url = f"virtual://open?gantry=127.0.0.1:{port}&noise=0&pins="
        with zem.open(url + ",".join(pins)) as good:
            assert sig.learn(good, prober=machine, points=sig.points[:3]) == sig.points[:3]
        pins[0] = "diode"
        with zem.open(url + ",".join(pins)) as bad:
            results = sig.test(bad, prober=machine, points=sig.points[:3], order="path", serial="B7")
    finally:
        sim.kill(), sim.wait()
    assert [(r.point, r.verdict) for r in results] == [
        ("R1", "pass"), ("R0", "different"), ("R2", "pass")]
    assert results.summary.pop("drift_mm") <= 0.1  # F1 probed again where it was taught
    assert results.summary.pop("started") <= results.summary.pop("finished")
    assert results.summary == {"board": "board", "serial": "B7", "verdict": "fail", "points": 4,
                               "passed": 2, "different": 1, "unstable": 0, "no_contact": 0,
                               "not_learned": 0, "net_disagrees": 0, "info": 0,
                               "operator": "", "coverage": "partial", "untested": [p for p in sig.points[3:]]}
