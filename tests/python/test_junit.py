"""zemctl test --junit on a virtual board, read back by a JUnit consumer
(junitparser) and by plain XML: what each verdict becomes, and files that
cannot be written."""

import json
import os
import resource
import signal
import subprocess
import xml.etree.ElementTree as ET

import pytest
from junitparser import Failure, JUnitXml, Skipped

ZEMCTL = os.environ["ZEMCTL"]
PINS = "resistor:1000,diode,resistor:47000"
BOARD = "virtual://open?noise=0&pins=" + PINS


def zemctl(cwd, *args, **kwargs):
    return subprocess.run([ZEMCTL, *args], cwd=cwd, capture_output=True, text=True, **kwargs)


@pytest.fixture
def learned(tmp_path):
    done = zemctl(tmp_path, "-u", BOARD, "learn", "b.json", "--points", "R1,D1,R2")
    assert done.returncode == 0, done.stderr
    return tmp_path


@pytest.mark.parametrize(
    "url, code, flagged",
    [
        (BOARD, 0, {}),
        # The diode replaced by a resistor: one failure, carrying its cause.
        ("virtual://open?noise=0&pins=resistor:1000,resistor:1000,resistor:47000", 5,
         {"D1": ("different", Failure)}),
        # A pin that will not hold still fails too: it must be retested.
        (BOARD + "&unstable=2", 6, {"D1": ("unstable", Failure)}),
    ],
    ids=["pass", "different", "unstable"],
)
def test_each_point_is_a_testcase_and_each_flagged_verdict_says_why(learned, url, code, flagged):
    run = zemctl(learned, "-u", url, "test", "b.json", "--repeat", "3", "--no-history",
                 "--serial", "SN-7", "--operator", "ann", "--junit", "out.xml")
    assert run.returncode == code, run.stderr
    lines = {j["point"]: j for j in map(json.loads, run.stdout.splitlines()) if "point" in j}

    suites = list(JUnitXml.fromfile(str(learned / "out.xml")))
    assert len(suites) == 1
    suite = suites[0]
    assert (suite.name, suite.tests, suite.failures, suite.skipped, suite.errors) == (
        "b SN-7", 3, len(flagged), 0, 0)
    cases = {case.name: case for case in suite}
    assert list(cases) == ["R1", "D1", "R2"]
    for name, case in cases.items():
        assert case.classname == "b" and case.time >= 0
        if name not in flagged:
            assert case.is_passed, name
            continue
        verdict, kind = flagged[name]
        (result,) = case.result
        assert isinstance(result, kind)
        assert result.type == verdict
        why = lines[name].get("cause", {}).get("text") or lines[name]["reading"]
        assert result.message == f"{verdict}: {why}"
        assert f"tolerance {lines[name]['tolerance']:g} %" in result.text

    root = ET.parse(learned / "out.xml").getroot()
    assert root.tag == "testsuites" and root.get("tests") == "3"
    element = root.find("testsuite")
    assert element.get("hostname") and element.get("timestamp")
    assert float(element.get("time")) >= sum(float(c.get("time")) for c in element.iter("testcase")) - 0.01
    properties = {p.get("name"): p.get("value") for p in element.find("properties")}
    assert properties["serial"] == "SN-7" and properties["operator"] == "ann"
    assert properties["board_type"] == "b" and properties["device_url"] == url
    assert properties["instrument_serial"].isdigit() and properties["station"]


def test_a_point_without_reference_is_skipped(learned):
    board = json.loads((learned / "b.json").read_text())
    learned_point = next(p for p in board["points"] if p["name"] == "R2")
    for key in [k for k in learned_point if k not in ("name", "tolerance", "group", "net")]:
        del learned_point[key]
    (learned / "b.json").write_text(json.dumps(board))
    run = zemctl(learned, "-u", BOARD, "test", "b.json", "--no-history", "--junit", "out.xml")
    assert run.returncode == 5, run.stderr
    (suite,) = JUnitXml.fromfile(str(learned / "out.xml"))
    (skip,) = [r for case in suite for r in case.result]
    assert isinstance(skip, Skipped) and skip.message.startswith("not_learned")
    assert (suite.skipped, suite.failures) == (1, 0)


def limit_file_size():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (64, 64))


@pytest.mark.parametrize(
    "target, setup",
    [("folder", lambda d: (d / "folder").mkdir()), ("/dev/full", None),
     ("old.xml", lambda d: (d / "old.xml").write_text("old")), ("b.json", None)],
    ids=["a folder", "a full device", "a full disk", "the signature itself"],
)
def test_a_file_that_cannot_be_written_fails_clearly_and_keeps_what_was_there(learned, target, setup):
    if setup:
        setup(learned)
    before = (learned / "b.json").read_bytes()
    full = target == "old.xml"
    run = zemctl(learned, "-u", BOARD, "test", "b.json", "--no-history", "--junit", target,
                 preexec_fn=limit_file_size if full else None)
    assert run.returncode == 1
    assert target in run.stderr and "zemctl:" in run.stderr
    assert (learned / "b.json").read_bytes() == before
    if full:
        assert (learned / "old.xml").read_text() == "old"
    assert not [p for p in learned.iterdir() if p.name.startswith((".", "old.xml."))]
