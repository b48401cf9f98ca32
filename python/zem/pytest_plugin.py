"""pytest plugin: ``pytest -p zem.pytest_plugin`` (or ``pytest_plugins =
["zem.pytest_plugin"]`` in a conftest.py).

The ``zem_device`` fixture opens the instrument at ``--zem-url``, else
``$ZEM_URL``, else a virtual 1 kΩ resistor, and closes it after the test, or
after the module or the whole run with ``--zem-scope module|session``. A test
that fails gets the library calls made while it ran attached to its report as
a "zem calls" section, one decoded call a line; with ``-v`` each line carries
the bytes too.
"""

import os

import pytest

import zem

DEFAULT_URL = "virtual://resistor"
SCOPES = ("function", "module", "session")

_recording = pytest.StashKey()  # on the config: the latest zem_device's recording
_start = pytest.StashKey()  # on an item: (recording, its calls before the test)


def pytest_addoption(parser):
    group = parser.getgroup("zem")
    group.addoption(
        "--zem-url", default=None,
        help=f"instrument the zem_device fixture opens (else $ZEM_URL, else {DEFAULT_URL})")
    group.addoption(
        "--zem-scope", default="function", choices=SCOPES,
        help="how long one zem_device stays open: a test (the default), a module or the run")


def _scope(fixture_name, config):
    return config.getoption("zem_scope")


@pytest.fixture(scope=_scope)
def zem_url(request):
    """The URL zem_device opens."""
    return request.config.getoption("zem_url") or os.environ.get("ZEM_URL") or DEFAULT_URL


@pytest.fixture(scope=_scope)
def zem_device(request, zem_url):
    """An open zem.Device, closed at the end of its scope (--zem-scope)."""
    with zem.record() as recording:
        request.config.stash[_recording] = recording
        with zem.open(zem_url) as device:
            yield device


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_setup(item):
    # A device kept open from an earlier test has calls that are not this one's.
    recording = item.config.stash.get(_recording, None)
    item.stash[_start] = (recording, len(recording) if recording is not None else 0)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    recording, start = item.stash.get(_start, (None, 0))
    latest = item.config.stash.get(_recording, None)
    if latest is not recording:  # opened while this test was set up
        recording, start = latest, 0
        item.stash[_start] = (recording, start)
    if report.failed and recording is not None:
        lines = recording.text_lines(start, hex=item.config.getoption("verbose") > 0)
        if lines:
            report.sections.append(("zem calls", "\n".join(lines)))
    if report.when == "teardown":
        if _start in item.stash:
            del item.stash[_start]  # items live as long as the session
