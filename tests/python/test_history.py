"""Runs that Signature.test records read back through zem.History, as pandas
DataFrames (when pandas is installed) and as NumPy columns."""

import numpy as np
import pytest

import zem
import zem._history

PINS = "virtual://open?noise=0&pins="


@pytest.fixture(scope="module")
def recorded(tmp_path_factory):
    path = tmp_path_factory.mktemp("history") / "runs.sqlite"
    sig = zem.Signature("ctl", ["R1", "R2", "R3"])
    runs = []
    with zem.open(PINS + "resistor:1000,resistor:2200,resistor:4700") as good:
        if not good.has_virtual_probe:
            pytest.skip("this libzem cannot place the virtual probe on a pin")
        sig.learn(good)
        with pytest.raises(ValueError, match="history"):  # said before anything is probed
            sig.test(good, history=path.parent, serial="X")
        runs.append(sig.test(good, serial="G1", operator="ann", history=path))
        runs.append(sig.test(good, serial="G2", history=f"sqlite:{path}"))
    with zem.open(PINS + "resistor:1000,diode,resistor:4700") as bad:
        runs.append(sig.test(bad, serial="B1", history=str(path)))
    assert [r.verdict for r in runs] == ["pass", "pass", "fail"]
    assert runs[0].summary["operator"] == "ann" and runs[1].summary["operator"] == ""
    return path, [r.summary["run"] for r in runs]


@pytest.mark.parametrize("kind", ["pandas", "numpy"])
def test_recorded_runs_read_back(recorded, kind, monkeypatch):
    if kind == "pandas":
        pytest.importorskip("pandas")
    else:
        monkeypatch.setattr(zem._history, "as_frame", False)
    path, ids = recorded
    with zem.History(path) as history:
        runs = history.runs(board="ctl")
        assert isinstance(runs, dict) == (kind == "numpy")
        assert list(runs["run"]) == ids[::-1]  # newest first
        assert list(zip(runs["serial"], runs["verdict"], runs["failed"], runs["operator"])) == [
            ("B1", "fail", 1, ""), ("G2", "pass", 0, ""), ("G1", "pass", 0, "ann")]
        started = np.asarray(runs["started"], dtype="datetime64[ms]")
        assert list(history.runs(until=started[0])["run"]) == ids[1::-1]
        assert list(history.runs(verdict="different", limit=5)["serial"]) == ["B1"]
        assert len(history.runs(since="2999-01-01")["run"]) == 0

        points = history.points("ctl", serial="B1")
        assert list(zip(points["point"], points["verdict"])) == [
            ("R1", "pass"), ("R2", "different"), ("R3", "pass")]
        assert points["cause"][0] is None and points["cause"][1] == "shape_changed"
        assert points["score"][1] > points["tolerance"][1]
        assert not any(points["info"])

        pareto = history.pareto("ctl")
        assert (pareto["point"][0], pareto["tested"][0], pareto["failed"][0]) == ("R2", 3, 1)

        scores = history.scores("ctl", "R2")
        assert list(scores["verdict"]) == ["pass", "pass", "different"]  # oldest first
        assert list(np.asarray(scores["started"], dtype="datetime64[ms]")) == list(started[::-1])

        for bad in (lambda: history.runs(verdict="lost"), lambda: history.runs(since="soon"),
                    lambda: history.scores("", "R2")):
            with pytest.raises(ValueError):
                bad()
    with pytest.raises(ValueError, match="closed"):
        history.pareto("ctl")
