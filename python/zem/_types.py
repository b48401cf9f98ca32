"""The exceptions, the warning and the named integer that the extension raises
and returns. Plain Python, so that they pickle, subclass and print as Python
users expect."""


class Error(Exception):
    """Anything that went wrong with the instrument or a file of its tools.
    When it stopped a board test, ``results`` holds the BoardResults of the
    points measured before it (verdict "partial" unless one failed), as the
    history keeps them; else None."""

    results = None


class DeviceError(Error):
    """The library answered a result other than 0.

    ``code`` is the result code (e.g. -3), ``name`` its name
    (``"result_value_error"``). A -1 has closed the device: open it again.
    """

    def __init__(self, message, code, name):
        super().__init__(message)
        self.code = code
        self.name = name

    def __reduce__(self):
        return (type(self), (str(self), self.code, self.name))


class MeasurementError(Error):
    """A measurement ended without every frame read: it timed out, or the
    settings ask for no points. ``curve`` holds what was read, if anything."""

    def __init__(self, message, curve=None):
        super().__init__(message)
        self.curve = curve

    def __reduce__(self):
        return (type(self), (str(self), self.curve))


class ResultWarning(UserWarning):
    """A command answered -3 (a value error) and still returned its record,
    which the call returns as it is, as the window shows it."""


class Value(int):
    """An integer field that has names: it compares and computes as its number.

    ``name`` is the constant it equals (``"CURRENT_SENSE_MODE_I_MID"``), or
    for a flag word the set flags joined by ``|``; None when nothing matches.
    ``flags`` lists the set flags of a flag word (empty otherwise).
    """

    def __new__(cls, value, name=None, flags=()):
        self = super().__new__(cls, value)
        self.name = name
        self.flags = tuple(flags)
        return self

    def __repr__(self):
        return f"<{self.name}: {int(self)}>" if self.name else int.__repr__(self)

    __str__ = int.__repr__

    def __reduce__(self):
        return (type(self), (int(self), self.name, self.flags))


class BoardResults(list):
    """What Signature.test() returns: its Comparisons, one a tested point in
    probing order, as a list; ``summary`` is the board's verdict with the keys
    of zemctl's summary line (board, serial, verdict, points, passed,
    different, unstable, no_contact, not_learned, net_disagrees, info,
    coverage, and for a partial run untested and stopped), ``verdict`` its
    word ("pass", "fail", "unstable", "no_contact", "partial"). A run over
    fewer points than the board has is partial, never a pass."""

    def __init__(self, comparisons=(), summary=None):
        super().__init__(comparisons)
        self.summary = dict(summary or {})

    @property
    def verdict(self):
        return self.summary.get("verdict")

    def __reduce__(self):
        return (type(self), (list(self), self.summary))
