"""The zem instrument from Python: its commands, measurements, signatures
and call files, through the same code as zem_debugger and zemctl.

    import zem

    with zem.open("virtual://resistor?ohms=1000&noise=0") as dev:
        dev.set_measurement_settings(NumberPoints=200)   # the others kept
        curve = dev.measure()
        print(curve.figures)          # 200 points · slope 1.00 kΩ (R² 1.0000) · ...
        curve.to_csv("r1.csv")

Each command of the instrument is a method of Device named after it; a
result other than 0 raises DeviceError (a -3 that brings a record returns it
with a ResultWarning). zem.record(path) writes the calls made inside it as a
call file for zemctl replay. pytest: ``pytest -p zem.pytest_plugin`` gives
tests a ``zem_device`` fixture. zem.History(url) reads the test history
that Signature.test(..., history=url) and zemctl test record into.
"""

from collections.abc import Mapping as _Mapping

from ._history import History
from ._types import BoardResults, DeviceError, Error, MeasurementError, ResultWarning, Value
from ._zem import (Cause, Comparison, Curve, Device, Figures, Prober, Reading, Record, Recording,
                   Signature, open, record)

_Mapping.register(Record)

__version__ = "@PROJECT_VERSION@"

__all__ = [
    "BoardResults", "Cause", "Comparison", "Curve", "Device", "DeviceError", "Error", "Figures",
    "History", "MeasurementError", "Prober", "Reading", "Record", "Recording", "ResultWarning", "Signature",
    "Value",
    "open", "record",
]

# Shown as zem.DeviceError, zem.Curve, ... in tracebacks and help().
for _name in __all__:
    if isinstance(globals()[_name], type):
        globals()[_name].__module__ = __name__
del _name
