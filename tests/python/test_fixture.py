"""An example of a fixture test with the zem plugin (pytest -p zem.pytest_plugin)."""


def test_resistor_reads_one_kilohm(zem_device):
    curve = zem_device.measure(NumberPoints=200)
    assert curve.reading.kind == "resistor"
    assert abs(curve.figures.slope_resistance - 1000) < 20


def test_a_failing_test_reports_its_calls(pytester):
    pytester.makepyfile("def test_it(zem_device):\n    zem_device.get_status()\n    assert 0\n")
    result = pytester.runpytest("-p", "zem.pytest_plugin", "--zem-url", "virtual://diode")
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(["*zem calls*", '*"zem_open_device"*virtual://diode*',
                                 '*"zem_get_status"*'])
