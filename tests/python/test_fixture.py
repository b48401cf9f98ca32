"""An example of a fixture test with the zem plugin (pytest -p zem.pytest_plugin)."""


def test_resistor_reads_one_kilohm(zem_device):
    curve = zem_device.measure(NumberPoints=200)
    assert curve.reading.kind == "resistor"
    assert abs(curve.figures.slope_resistance - 1000) < 20


import pytest


# A device kept open across tests reports only the failing test's calls; -v
# adds the bytes.
@pytest.mark.parametrize("options, own_device", [((), True),
                                                 (("--zem-scope", "module", "-v"), False)])
def test_a_failing_test_reports_its_calls(pytester, options, own_device):
    pytester.makepyfile("def test_before(zem_device):\n    zem_device.get_identity_information()\n"
                        "def test_it(zem_device):\n    zem_device.get_status()\n    assert 0\n")
    result = pytester.runpytest("-p", "zem.pytest_plugin", "--zem-url", "virtual://diode", *options)
    result.assert_outcomes(passed=1, failed=1)
    status = "get_status result_ok 0 | response: Status=0 (STATUS_OK) Temperature=*"
    result.stdout.fnmatch_lines(["*zem calls*"] + ['open_device result_ok 0 | request: '
                                                   '"virtual://diode"'] * own_device + [status])
    result.stdout.no_fnmatch_line("get_identity_information*")
    (result.stdout.fnmatch_lines if options else result.stdout.no_fnmatch_line)(status + "[[]00 00*")
    if not own_device:
        result.stdout.no_fnmatch_line("open_device*")
