// Signature.predict(): the board's references simulated from its parts, as
// zemctl learn --predict does, and its summary as a dict.
#include "boardrun.h"

#include "references.h"

#include <QFile>
#include <QFileInfo>

#include <pybind11/stl.h>

namespace zem::python {

py::dict predictSignature(Board &b, py::object models, std::optional<double> tolerance,
    std::optional<std::string> common, std::optional<std::vector<std::string>> points,
    bool chooseSettings)
{
    predict::PredictRequest request;
    if (!models.is_none())
        request.models = QFile::decodeName(QByteArray::fromStdString(pathArgument(models)));
    if (tolerance && !(*tolerance >= 0 && *tolerance <= 100))
        throw py::value_error("tolerance must be 0 to 100 (percent)");
    request.tolerance = tolerance;
    request.chooseSettings = chooseSettings;
    if (common)
        request.common = QString::fromStdString(*common);
    if (points) {
        if (points->empty())
            throw py::value_error("points: name at least one point, or give None for all");
        for (const std::string &name : *points)
            request.points << QString::fromStdString(name);
    }
    // On a copy without the GIL: another thread may read the board meanwhile.
    sig::Signature board = b.signature;
    predict::PredictReport report;
    {
        py::gil_scoped_release released;
        report = predict::predictReferences(board, request);
    }
    using Refusal = predict::PredictReport::Refusal;
    if (report.refusal == Refusal::Request)
        throw py::key_error(report.error.toStdString());
    if (!report.ok()) {
        const QFileInfo file(request.models);
        if (!request.models.isEmpty() && (!file.isFile() || !file.isReadable())) {
            PyErr_SetString(PyExc_OSError, report.error.toStdString().c_str());
            throw py::error_already_set();
        }
        throw py::value_error(report.error.toStdString());
    }
    b.signature = std::move(board);

    const auto names = [](const QStringList &list) {
        py::list out;
        for (const QString &n : list)
            out.append(n.toStdString());
        return out;
    };
    py::list results;
    for (const predict::PointPrediction &p : report.prediction.points) {
        py::dict line;
        line["point"] = p.point.toStdString();
        line["predicted"] = p.predicted;
        if (!p.message.isEmpty())
            line[p.missing() ? "error" : "note"] = p.message.toStdString();
        results.append(line);
    }
    py::dict out;
    out["predicted"] = report.predicted;
    out["kept"] = report.kept;
    out["not_predicted"] = report.missing();
    out["points"] = report.prediction.points.size();
    out["models"] = report.prediction.models.toStdString();
    out["simulations"] = report.prediction.simulations;
    out["seconds"] = report.seconds;
    out["unknown_parts"] = names(report.prediction.unknown);
    out["part_problems"] = names(report.prediction.problems);
    out["results"] = results;
    if (report.choice) {
        py::dict choice;
        choice["points_changed"] = report.choice->changed();
        choice["faults"] = report.choice->faults;
        choice["shown_before"] = report.choice->shownBefore;
        choice["shown"] = report.choice->shown;
        choice["hidden"] = names(report.choice->hidden);
        out["settings_chosen"] = choice;
    }
    return out;
}

} // namespace zem::python
