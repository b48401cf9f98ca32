// zem._History: the test history read through the same Store queries as
// zemctl history, as columns of NumPy arrays; zem/_history.py makes them
// DataFrames when pandas is there. Recording a run lives here too, so that
// Signature.test() keeps runs exactly as zemctl test does.
#include "history.h"

#include "store.h"

#include <QCoreApplication>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <limits>
#include <memory>
#include <thread>

namespace zem::python {

namespace {

// Qt SQL finds its drivers as plugins, which wants an application object;
// a host that made its own (a Qt GUI in Python) keeps it.
void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "zem";
    static char *argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);
}

history::Location locationOf(const std::string &url)
{
    QString error;
    const auto where = history::parseLocation(QString::fromStdString(url), &error);
    if (!where)
        throw py::value_error("history " + url + ": " + error.toStdString());
    return *where;
}

// The columns of a table as NumPy arrays: numbers as float64 (NaN for none)
// or int64, times as datetime64[ms] UTC, text as object arrays (None for none).
class Columns
{
public:
    Columns() { requireNumpy("the history's columns"); }
    void text(const char *name, const std::vector<std::optional<QString>> &values)
    {
        py::list items;
        for (const auto &v : values)
            items.append(v ? py::object(py::str(v->toStdString())) : py::object(py::none()));
        put(name, numpy().attr("array")(items, py::arg("dtype") = "object"));
    }
    void numbers(const char *name, const std::vector<double> &values)
    {
        put(name, py::array_t<double>(py::ssize_t(values.size()), values.data()));
    }
    void flags(const char *name, const std::vector<bool> &values)
    {
        py::list items;
        for (bool v : values)
            items.append(py::bool_(v));
        put(name, numpy().attr("array")(items, py::arg("dtype") = "bool"));
    }
    void counts(const char *name, const std::vector<qint64> &values)
    {
        put(name, py::array_t<qint64>(py::ssize_t(values.size()), values.data()));
    }
    void times(const char *name, const std::vector<qint64> &ms)
    {
        put(name,
            py::array_t<qint64>(py::ssize_t(ms.size()), ms.data())
                .attr("astype")("datetime64[ms]"));
    }
    py::dict result() const { return dict; }

private:
    static py::module_ numpy() { return py::module_::import("numpy"); }
    void put(const char *name, py::object column) { dict[name] = std::move(column); }
    py::dict dict;
};

std::optional<QString> nullable(const QString &s)
{
    return s.isNull() ? std::nullopt : std::optional<QString>(s);
}

QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces);
}

double orNan(const std::optional<double> &v)
{
    return v ? *v : std::numeric_limits<double>::quiet_NaN();
}

class HistoryReader
{
public:
    explicit HistoryReader(const std::string &url)
        : where(locationOf(url))
    {
        ensureApplication();
        bool opened = false;
        {
            py::gil_scoped_release unlocked;
            opened = store->open(where, history::defaultSpoolPath(), history::Store::Access::Read);
        }
        if (!opened)
            throw py::value_error("history " + where.text().toStdString() + ": "
                + store->errorString().toStdString());
    }

    std::string url() const { return where.text().toStdString(); }
    void close() { store.reset(); }

    py::dict runs(const history::RunFilter &filter)
    {
        const auto list = query([&] { return store->runs(filter); });
        std::vector<std::optional<QString>> run, board, serial, verdict, op, station;
        std::vector<qint64> started, points, failed;
        for (const auto &s : list) {
            run.push_back(uuidText(s.run.uuid));
            started.push_back(s.run.started.toMSecsSinceEpoch());
            board.push_back(s.run.boardType);
            serial.push_back(s.run.boardSerial);
            verdict.push_back(s.run.verdict);
            points.push_back(s.pointCount);
            failed.push_back(s.failedCount);
            op.push_back(s.run.operatorName);
            station.push_back(s.run.station);
        }
        Columns c;
        c.text("run", run);
        c.times("started", started);
        c.text("board", board);
        c.text("serial", serial);
        c.text("verdict", verdict);
        c.counts("points", points);
        c.counts("failed", failed);
        c.text("operator", op);
        c.text("station", station);
        return c.result();
    }

    py::dict points(const history::RunFilter &filter)
    {
        const auto list = query([&] { return store->points(filter); });
        std::vector<std::optional<QString>> run, serial, point, verdict, cause, causeText;
        std::vector<qint64> started;
        std::vector<double> score, tolerance;
        std::vector<bool> info;
        for (const auto &p : list) {
            info.push_back(p.info);
            run.push_back(uuidText(p.run));
            started.push_back(p.started.toMSecsSinceEpoch());
            serial.push_back(p.boardSerial);
            point.push_back(p.name);
            verdict.push_back(p.verdict);
            score.push_back(orNan(p.score));
            tolerance.push_back(p.tolerance);
            cause.push_back(nullable(p.causeClass));
            causeText.push_back(nullable(p.causeText));
        }
        Columns c;
        c.text("run", run);
        c.times("started", started);
        c.text("serial", serial);
        c.text("point", point);
        c.text("verdict", verdict);
        c.numbers("score", score);
        c.numbers("tolerance", tolerance);
        c.text("cause", cause);
        c.text("cause_text", causeText);
        // A point for information only is shown, never counted as a failure.
        c.flags("info", info);
        return c.result();
    }

    py::dict pareto(const std::string &board)
    {
        const auto list = query([&] { return store->pareto(boardName(board)); });
        std::vector<std::optional<QString>> point;
        std::vector<qint64> tested, failed;
        std::vector<double> rate;
        for (const auto &p : list) {
            point.push_back(p.name);
            tested.push_back(p.tested);
            failed.push_back(p.failed);
            rate.push_back(p.rate);
        }
        Columns c;
        c.text("point", point);
        c.counts("tested", tested);
        c.counts("failed", failed);
        c.numbers("rate", rate);
        return c.result();
    }

    py::dict scores(const std::string &board, const std::string &point)
    {
        if (QString::fromStdString(point).isEmpty())
            throw py::value_error("scores: name a point");
        const auto list
            = query([&] { return store->scores(boardName(board), QString::fromStdString(point)); });
        std::vector<std::optional<QString>> run, serial, verdict;
        std::vector<qint64> started;
        std::vector<double> score, tolerance;
        for (const auto &s : list) {
            started.push_back(s.started.toMSecsSinceEpoch());
            run.push_back(uuidText(s.run));
            serial.push_back(s.boardSerial);
            score.push_back(s.score);
            tolerance.push_back(s.tolerance);
            verdict.push_back(s.verdict);
        }
        Columns c;
        c.times("started", started);
        c.numbers("score", score);
        c.numbers("tolerance", tolerance);
        c.text("verdict", verdict);
        c.text("serial", serial);
        c.text("run", run);
        return c.result();
    }

private:
    static QString boardName(const std::string &board)
    {
        if (board.empty())
            throw py::value_error("name a board type");
        return QString::fromStdString(board);
    }

    // Runs a Store query without the GIL. Qt ties a database connection to
    // the thread that opened it, so another thread is refused rather than
    // handed a connection that is not its own.
    template <typename Query> auto query(Query &&q) -> typename decltype(q())::value_type
    {
        if (!store)
            throw py::value_error("the history is closed");
        if (std::this_thread::get_id() != thread)
            throw std::runtime_error(
                "use a zem.History from the thread that opened it; open one in each thread");
        decltype(q()) found;
        {
            py::gil_scoped_release unlocked;
            found = q();
        }
        if (!found)
            throw std::runtime_error(store->errorString().toStdString());
        return std::move(*found);
    }

    history::Location where;
    std::unique_ptr<history::Store> store = std::make_unique<history::Store>();
    std::thread::id thread = std::this_thread::get_id();
};

// A time in ms since 1970 UTC, as zem/_history.py gives it.
QDateTime timeOf(const std::optional<qint64> &ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC) : QDateTime();
}

history::RunFilter filterOf(const std::optional<std::string> &board,
    const std::optional<std::string> &serial, std::optional<qint64> since,
    std::optional<qint64> until, const std::optional<std::string> &verdict,
    std::optional<int> limit)
{
    history::RunFilter f;
    f.boardType = QString::fromStdString(board.value_or(""));
    f.boardSerial = QString::fromStdString(serial.value_or(""));
    f.since = timeOf(since);
    f.until = timeOf(until);
    f.verdict = QString::fromStdString(verdict.value_or(""));
    if (!f.verdict.isEmpty() && history::verdictKind(f.verdict) == history::VerdictKind::Unknown)
        throw py::value_error("verdict '" + *verdict
            + "': a run's is pass, fail, unstable, no_contact or partial, a point's "
              "different, not_learned or net_disagrees");
    if (limit && *limit < 0)
        throw py::value_error("limit must be 0 or more, not " + std::to_string(*limit));
    f.limit = limit.value_or(-1);
    return f;
}

} // namespace

HistoryWriter openHistoryForWriting(const std::string &url)
{
    HistoryWriter w;
    w.where = locationOf(url);
    ensureApplication();
    w.store = std::make_shared<history::Store>();
    bool opened = false;
    {
        py::gil_scoped_release unlocked;
        opened = w.store->open(w.where);
    }
    if (!opened)
        throw py::value_error("history " + w.where.text().toStdString() + ": "
            + w.store->errorString().toStdString());
    return w;
}

std::string recordRun(HistoryWriter &w, const history::Run &run)
{
    history::Store::Outcome outcome;
    {
        py::gil_scoped_release unlocked;
        outcome = w.store->record(run);
    }
    const std::string id = uuidText(run.uuid).toStdString();
    switch (outcome) {
    case history::Store::Outcome::Stored:
    case history::Store::Outcome::AlreadyStored:
        break;
    case history::Store::Outcome::Spooled:
        py::module_::import("warnings")
            .attr("warn")("the history server did not take the run ("
                + w.store->errorString().toStdString() + "); run " + id
                + " waits in the local spool for zemctl history sync");
        break;
    case history::Store::Outcome::Failed:
        throw std::runtime_error(
            "the run was not recorded: " + w.store->errorString().toStdString());
    }
    return id;
}

void addHistory(py::module_ &m)
{
    py::class_<HistoryReader>(m, "_History")
        .def(py::init<const std::string &>(), py::arg("url"))
        .def_property_readonly("url", &HistoryReader::url)
        .def("close", &HistoryReader::close)
        .def(
            "runs",
            [](HistoryReader &h, std::optional<std::string> board,
                std::optional<std::string> serial, std::optional<qint64> since,
                std::optional<qint64> until, std::optional<std::string> verdict,
                std::optional<int> limit) {
                return h.runs(filterOf(board, serial, since, until, verdict, limit));
            },
            py::arg("board"), py::arg("serial"), py::arg("since"), py::arg("until"),
            py::arg("verdict"), py::arg("limit"))
        .def(
            "points",
            [](HistoryReader &h, std::optional<std::string> board,
                std::optional<std::string> serial, std::optional<qint64> since,
                std::optional<qint64> until, std::optional<std::string> verdict,
                std::optional<int> limit) {
                return h.points(filterOf(board, serial, since, until, verdict, limit));
            },
            py::arg("board"), py::arg("serial"), py::arg("since"), py::arg("until"),
            py::arg("verdict"), py::arg("limit"))
        .def("pareto", &HistoryReader::pareto, py::arg("board"))
        .def("scores", &HistoryReader::scores, py::arg("board"), py::arg("point"));
}

} // namespace zem::python
