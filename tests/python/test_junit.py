"""zemctl test --junit on a virtual board, read back by a JUnit consumer
(junitparser) and as plain XML; files that cannot be written."""

import json
import os
import resource
import signal
import subprocess
import xml.etree.ElementTree as ET

import pytest
from junitparser import Error, Failure, JUnitXml, Skipped

BOARD = "virtual://open?noise=0&pins=resistor:1000,diode,resistor:47000"


def zemctl(cwd, *args, **kwargs):
    return subprocess.run([os.environ["ZEMCTL"], *args], cwd=cwd, capture_output=True, text=True, **kwargs)


@pytest.fixture
def learned(tmp_path):
    assert zemctl(tmp_path, "-u", BOARD, "learn", "b.json", "--points", "R1,D1,R2").returncode == 0
    return tmp_path


@pytest.mark.parametrize("url, code, flagged", [
    (BOARD, 0, {}),
    # The diode replaced by a resistor: one failure, carrying its cause.
    (BOARD.replace("diode", "resistor:1000"), 5, {"D1": "different"}),
    # A pin that will not hold still fails too: it must be retested.
    (BOARD + "&unstable=2", 6, {"D1": "unstable"}),
], ids=["pass", "different", "unstable"])
def test_each_point_is_a_testcase_and_each_failure_says_why(learned, url, code, flagged):
    run = zemctl(learned, "-u", url, "test", "b.json", "--repeat", "3", "--no-history",
                 "--serial", "SN-7", "--operator", "ann", "--junit", "out.xml")
    assert run.returncode == code, run.stderr
    lines = {j["point"]: j for j in map(json.loads, run.stdout.splitlines()) if "point" in j}
    (suite,) = JUnitXml.fromfile(str(learned / "out.xml"))
    assert (suite.name, suite.tests, suite.failures, suite.skipped, suite.errors) == (
        "b SN-7", 3, len(flagged), 0, 0)
    assert [case.name for case in suite] == ["R1", "D1", "R2"]
    for case in suite:
        assert case.classname == "b" and case.time >= 0
        assert case.is_passed == (case.name not in flagged)
        if case.name in flagged:
            (failure,) = case.result
            line = lines[case.name]
            why = line.get("cause", {}).get("text") or line["reading"]
            assert isinstance(failure, Failure) and failure.type == flagged[case.name]
            assert failure.message == f"{failure.type}: {why}"
            assert f"tolerance {line['tolerance']:g} %" in failure.text

    root = ET.parse(learned / "out.xml").getroot()
    assert root.tag == "testsuites" and root.get("tests") == "3"
    element = root.find("testsuite")
    assert element.get("hostname") and element.get("timestamp")
    assert float(element.get("time")) >= sum(float(c.get("time")) for c in element.iter("testcase")) - 0.01
    properties = {p.get("name"): p.get("value") for p in element.find("properties")}
    assert (properties["serial"], properties["operator"], properties["board_type"]) == ("SN-7", "ann", "b")
    assert properties["device_url"] == url and properties["station"]
    assert properties["instrument_serial"].isdigit()


def test_a_point_without_reference_is_skipped(learned):
    board = json.loads((learned / "b.json").read_text())
    board["points"][2] = {"name": "R2"}
    (learned / "b.json").write_text(json.dumps(board))
    assert zemctl(learned, "-u", BOARD, "test", "b.json", "--no-history", "--junit", "out.xml").returncode == 5
    (suite,) = JUnitXml.fromfile(str(learned / "out.xml"))
    (skip,) = [r for case in suite for r in case.result]
    assert isinstance(skip, Skipped) and skip.message.startswith("not_learned")
    assert (suite.skipped, suite.failures) == (1, 0)


def test_a_run_the_device_stopped_keeps_its_points_the_one_it_stopped_at_an_error(learned):
    run = zemctl(learned, "-u", BOARD + "&fail=start_measurement:-2@3", "test", "b.json",
                 "--no-history", "--junit", "out.xml")
    assert run.returncode == 2 and "--from D1" in run.stderr
    (suite,) = JUnitXml.fromfile(str(learned / "out.xml"))
    assert (suite.tests, suite.failures, suite.errors, suite.skipped) == (3, 0, 1, 1)
    assert [[type(r) for r in case.result] for case in suite] == [[], [Error], [Skipped]]
    assert "start_measurement" in list(suite)[1].result[0].message


def full_disk():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (64, 64))


@pytest.mark.parametrize("target", ["folder", "/dev/full", "old.xml", "b.json"],
                         ids=["a folder", "a full device", "a full disk", "the signature itself"])
def test_a_file_that_cannot_be_written_fails_clearly_and_keeps_what_was_there(learned, target):
    (learned / "folder").mkdir()
    (learned / "old.xml").write_text("old")
    before = (learned / "b.json").read_bytes()
    run = zemctl(learned, "-u", BOARD, "test", "b.json", "--no-history", "--junit", target,
                 preexec_fn=full_disk if target == "old.xml" else None)
    assert run.returncode == 1 and "zemctl: " in run.stderr and target in run.stderr
    assert (learned / "b.json").read_bytes() == before
    assert (learned / "old.xml").read_text() == "old"
    assert sorted(p.name for p in learned.iterdir()) == ["b.json", "folder", "old.xml"]
