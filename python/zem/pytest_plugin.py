"""pytest plugin: ``pytest -p zem.pytest_plugin`` (or ``pytest_plugins =
["zem.pytest_plugin"]`` in a conftest.py).

The ``zem_device`` fixture opens the instrument at ``--zem-url``, else
``$ZEM_URL``, else a virtual 1 kΩ resistor, and closes it after the test. A
test that fails gets the library calls it made attached to its report, one
call-file line each, as a "zem calls" section.
"""

import os

import pytest

import zem

DEFAULT_URL = "virtual://resistor"

_recording = pytest.StashKey()


def pytest_addoption(parser):
    parser.getgroup("zem").addoption(
        "--zem-url", default=None,
        help=f"instrument the zem_device fixture opens (else $ZEM_URL, else {DEFAULT_URL})")


@pytest.fixture
def zem_url(request):
    """The URL zem_device opens."""
    return request.config.getoption("zem_url") or os.environ.get("ZEM_URL") or DEFAULT_URL


@pytest.fixture
def zem_device(request, zem_url):
    """An open zem.Device, closed after the test."""
    with zem.record() as recording:
        request.node.stash[_recording] = recording
        with zem.open(zem_url) as device:
            yield device


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    recording = item.stash.get(_recording, None)
    if report.failed and recording is not None:
        report.sections.append(("zem calls", "\n".join(recording.lines())))
    if report.when == "teardown" and recording is not None:
        del item.stash[_recording]  # items live as long as the session
