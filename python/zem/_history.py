"""zem.History: the test history as NumPy columns or pandas DataFrames."""

import datetime as _dt

from ._zem import _History

#: What History's queries return when as_frame is None: pandas DataFrames
#: when pandas can be imported, else dicts of NumPy arrays. Set it to False
#: for NumPy always, True to insist on pandas.
as_frame = None


def _ms(value, name):
    """A time given as datetime (naive meaning UTC), date (midnight UTC),
    numpy.datetime64 or ISO 8601 text, in ms since 1970 UTC."""
    if value is None:
        return None
    if isinstance(value, str):
        try:
            value = _dt.datetime.fromisoformat(value.replace("Z", "+00:00"))
        except ValueError:
            raise ValueError(f"{name}: {value!r} is no ISO 8601 date or time") from None
    if isinstance(value, _dt.datetime):
        if value.tzinfo is None:
            value = value.replace(tzinfo=_dt.timezone.utc)
        return round(value.timestamp() * 1000)
    if isinstance(value, _dt.date):
        return _ms(_dt.datetime(value.year, value.month, value.day), name)
    if type(value).__name__ == "datetime64":
        import numpy
        if numpy.isnat(value):
            raise ValueError(f"{name}: NaT is no time")
        return int(value.astype("datetime64[ms]").astype("int64"))
    raise TypeError(f"{name}: a datetime, date, numpy.datetime64 or ISO 8601 text, "
                    f"not {type(value).__name__}")


def _table(columns, wanted):
    if wanted is None:
        wanted = as_frame
    if wanted is False:
        return columns
    try:
        import pandas
    except ImportError:
        if wanted:
            raise
        return columns
    return pandas.DataFrame(columns)


class History:
    """The test history that zemctl test --history and the window record into.

    ``zem.History(url)`` opens it for reading: a SQLite file (``runs.sqlite``,
    ``sqlite:PATH``) or a PostgreSQL URL (``postgresql://user@host/db``), as
    zemctl's --history takes it; ValueError when it cannot be opened. Each
    query returns a table: a pandas DataFrame when pandas is installed, else
    a dict of column name -> NumPy array (``as_frame`` chooses, None meaning
    pandas if available; the module's ``zem._history.as_frame`` sets the
    default). Times are datetime64[ms] in UTC, a missing score NaN, text an
    object array (None where there is none). since/until take a datetime
    (naive meaning UTC), a date, a numpy.datetime64 or ISO 8601 text. A
    History is used from the thread that opened it.
    """

    def __init__(self, url):
        import os
        self._history = _History(os.fsdecode(url))

    @property
    def url(self):
        """The history's location as text."""
        return self._history.url

    def close(self):
        """Lets the database go; queries then raise ValueError."""
        self._history.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return f"<zem.History {self.url}>"

    def _filter(self, board, serial, since, until, verdict, limit):
        return dict(board=board, serial=serial, since=_ms(since, "since"),
                    until=_ms(until, "until"), verdict=verdict, limit=limit)

    def runs(self, board=None, serial=None, since=None, until=None, verdict=None, limit=None,
             *, as_frame=None):
        """The runs, newest first: run (UUID), started, board, serial, verdict,
        points, failed, operator, station. verdict is a run's ("pass", "fail",
        "unstable") or a point's ("different", "no_contact", ...: the runs with
        such a point); limit keeps the newest so many; until leaves out runs
        started at or after it."""
        return _table(self._history.runs(**self._filter(board, serial, since, until, verdict,
                                                         limit)), as_frame)

    def points(self, board, serial=None, since=None, until=None, verdict=None, limit=None,
               *, as_frame=None):
        """The points of a board type's runs (filtered as runs() filters them,
        limit counting runs), newest run first and each run's in probing
        order: run, started, serial, point, verdict, score (percent, NaN when
        nothing was compared), tolerance, cause, cause_text, info (True for a
        point for information only, which never counts as a failure)."""
        return _table(self._history.points(**self._filter(board, serial, since, until, verdict,
                                                           limit)), as_frame)

    def pareto(self, board, *, as_frame=None):
        """A board type's points by failures, most first: point, tested,
        failed, rate (failed / tested)."""
        return _table(self._history.pareto(board), as_frame)

    def scores(self, board, point, *, as_frame=None):
        """A point's stored scores over time, oldest first: started, score,
        tolerance, verdict, serial, run."""
        return _table(self._history.scores(board, point), as_frame)
