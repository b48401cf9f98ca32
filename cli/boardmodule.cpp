// zemctl board, in the signature module: embed a picture, place points on it
// and on the board, register the one to the other with fiducials.
#include "boardjob.h"

#include "boardimport.h"
#include "printable.h"
#include "registration.h"
#include "signature.h"
#include "zemctl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace {

using zemctl::BoardJob;
using Json = nlohmann::ordered_json;

bool fail(BoardJob &job, const QString &message, int code = zemctl::kExitUsage)
{
    job.exitCode = code;
    job.message = message.toStdString();
    return false;
}

// NAME=N1,N2,... with as many finite numbers as one of `counts`, the name
// taken up to the last '=' (names may hold one).
bool assignment(BoardJob &job, const char *option, const std::string &text,
    std::initializer_list<qsizetype> counts, const char *form, QString &name,
    std::vector<double> &values)
{
    const QString arg = QString::fromStdString(text);
    const qsizetype eq = arg.lastIndexOf(QLatin1Char('='));
    const QStringList parts = arg.mid(eq + 1).split(QLatin1Char(','));
    values.clear();
    bool ok = eq > 0 && std::find(counts.begin(), counts.end(), parts.size()) != counts.end();
    for (const QString &part : parts) {
        bool number = false;
        values.push_back(part.trimmed().toDouble(&number));
        ok = ok && number;
    }
    if (!ok)
        return fail(job, QStringLiteral("%1 %2: expected %3").arg(option, arg, form));
    // "nan" and "inf" read as numbers, but no file could hold them.
    for (const double v : values)
        if (!std::isfinite(v))
            return fail(job,
                QStringLiteral("%1 %2: %3 must be finite numbers")
                    .arg(option, arg,
                        values.size() == 2 ? QStringLiteral("X and Y")
                                           : QStringLiteral("X, Y, PX and PY")));
    name = arg.left(eq).trimmed();
    return true;
}

int pointNamed(BoardJob &job, const sig::Signature &board, const char *option,
    const std::string &text, const QString &name)
{
    const int index = board.find(name);
    if (index < 0)
        fail(job,
            QStringLiteral("%1 %2: no point named %3 in %4")
                .arg(option, QString::fromStdString(text), name, QString::fromStdString(job.file)));
    return index;
}

bool onPicture(BoardJob &job, const sig::Signature &board, const char *option,
    const std::string &text, QPointF at)
{
    const QSize size = board.image ? board.image->size : QSize();
    if (at.x() < 0 || at.y() < 0
        || (board.image && (at.x() > size.width() || at.y() > size.height())))
        return fail(job,
            QStringLiteral("%1 %2: outside the picture (%3 x %4 pixels)")
                .arg(option, QString::fromStdString(text))
                .arg(size.width())
                .arg(size.height()));
    return true;
}

// A fiducial given again takes the new position, and keeps its place on the
// picture unless a new one is given.
bool fiducial(BoardJob &job, sig::Signature &board, const std::string &text)
{
    QString name;
    std::vector<double> v;
    if (!assignment(job, "--fiducial", text, { 2, 4 }, "NAME=X,Y or NAME=X,Y,PX,PY", name, v))
        return false;
    if (v.size() == 4 && !onPicture(job, board, "--fiducial", text, QPointF(v[2], v[3])))
        return false;
    int index = board.findFiducial(name);
    if (index < 0) {
        if (board.fiducials.size() >= sig::kMaxFiducials) {
            QStringList names;
            for (const sig::Fiducial &f : board.fiducials)
                names << f.name;
            return fail(job,
                QStringLiteral("--fiducial %1: a board has at most %2 fiducials (%3)")
                    .arg(QString::fromStdString(text))
                    .arg(sig::kMaxFiducials)
                    .arg(names.join(QStringLiteral(", "))));
        }
        board.fiducials.push_back({ name, {}, {}, {} });
        index = int(board.fiducials.size()) - 1;
    }
    sig::Fiducial &f = board.fiducials[std::size_t(index)];
    f.mm = QPointF(v[0], v[1]);
    if (v.size() == 4)
        f.px = QPointF(v[2], v[3]);
    return true;
}

// A place on a registered picture gives the point's position on the board too.
bool place(BoardJob &job, sig::Signature &board, const std::string &text,
    const std::optional<sig::Registration> &registered)
{
    QString name;
    std::vector<double> xy;
    if (!assignment(job, "--place", text, { 2 }, "NAME=X,Y", name, xy))
        return false;
    const int index = pointNamed(job, board, "--place", text, name);
    const QPointF at(xy[0], xy[1]);
    if (index < 0 || !onPicture(job, board, "--place", text, at))
        return false;
    sig::Point &p = board.points[std::size_t(index)];
    p.at = at;
    if (registered)
        p.mm = registered->toMm.map(at);
    return true;
}

bool position(BoardJob &job, sig::Signature &board, const std::string &text)
{
    QString name;
    std::vector<double> xy;
    if (!assignment(job, "--mm", text, { 2 }, "NAME=X,Y", name, xy))
        return false;
    const int index = pointNamed(job, board, "--mm", text, name);
    if (index < 0)
        return false;
    board.points[std::size_t(index)].mm = QPointF(xy[0], xy[1]);
    return true;
}

bool side(BoardJob &job, sig::Signature &board, const std::string &text)
{
    const QString arg = QString::fromStdString(text);
    const qsizetype eq = arg.lastIndexOf(QLatin1Char('='));
    const QString which = arg.mid(eq + 1).trimmed();
    if (eq <= 0 || (which != QLatin1String("top") && which != QLatin1String("bottom")))
        return fail(job, QStringLiteral("--side %1: expected NAME=top or NAME=bottom").arg(arg));
    const int index = pointNamed(job, board, "--side", text, arg.left(eq).trimmed());
    if (index < 0)
        return false;
    board.points[std::size_t(index)].side
        = which == QLatin1String("top") ? sig::Side::Top : sig::Side::Bottom;
    return true;
}

Json pair(const QPointF &p)
{
    return Json::array({ p.x(), p.y() });
}

// To a tenth of a micrometre: the fit's rounding is no residual.
double micrometres(double mm)
{
    return std::round(mm * 1e4) / 1e4;
}

void run(BoardJob &job)
{
    const QString path = QString::fromStdString(job.file);
    QString error;
    std::optional<sig::Side> importSide;
    if (!zemctl::takeImportSide(job, importSide))
        return;
    auto loaded = zemctl::loadOrCreate(job);
    if (!loaded)
        return;
    sig::Signature &board = *loaded;
    for (const QString &w : board.warnings)
        std::fprintf(stderr, "zemctl: %s: %s\n", job.file.c_str(), qPrintable(w));
    // Imported first, so that the options below can place the new points.
    Json imported = Json::object();
    if (!zemctl::importCad(job, importSide, board, imported))
        return;
    if (!job.image.empty()) {
        auto picture = sig::readPicture(QString::fromStdString(job.image), &error);
        if (!picture)
            return void(fail(job, error, zemctl::kExitInput));
        board.image = std::move(picture);
    }
    for (const std::string &f : job.fiducials)
        if (!fiducial(job, board, f))
            return;
    // Registered once two fiducials have a place on the picture; fiducials
    // that cannot fix a map are refused rather than saved.
    std::size_t clicked = 0;
    for (const sig::Fiducial &f : board.fiducials)
        clicked += f.px ? 1 : 0;
    std::optional<sig::Registration> registered;
    if (clicked >= 2) {
        registered = sig::registration(board, &error);
        if (!registered)
            return void(
                fail(job, QStringLiteral("%1: cannot register the picture: %2").arg(path, error)));
    }
    for (const std::string &p : job.places)
        if (!place(job, board, p, registered))
            return;
    for (const std::string &m : job.mms)
        if (!position(job, board, m))
            return;
    for (const std::string &s : job.sides)
        if (!side(job, board, s))
            return;
    const bool changed = !job.image.empty() || !job.places.empty() || !job.fiducials.empty()
        || !job.mms.empty() || !job.sides.empty() || !job.import.empty() || !job.bom.empty();
    if (changed && !sig::save(board, path, &error))
        return void(fail(job, error, zemctl::kExitFailed));

    Json j;
    j["file"] = job.file;
    j["board"] = board.board.toStdString();
    j["image"] = board.image ? Json { { "type", board.image->type.toStdString() },
        { "width", board.image->size.width() }, { "height", board.image->size.height() } }
                             : Json();
    j["points"] = board.points.size();
    // Two questions apart: where a point is on the board (mm, from the CAD or
    // a machine) and where on the picture (pixels, from a click or --place).
    // "placed" keeps meaning the picture's pixels, as callers read it.
    Json withoutMm = Json::array(), unplaced = Json::array();
    std::size_t drawnFromMm = 0;
    for (const sig::Point &p : board.points) {
        if (!p.mm)
            withoutMm.push_back(p.name.toStdString());
        if (!p.at)
            unplaced.push_back(p.name.toStdString());
        drawnFromMm += !p.at && p.mm && registered ? 1 : 0;
    }
    const std::size_t withMm = board.points.size() - withoutMm.size();
    const std::size_t placed = board.points.size() - unplaced.size();
    j["placed"] = placed;
    j["unplaced"] = std::move(unplaced);
    j["with_mm"] = withMm;
    j["without_mm"] = std::move(withoutMm);
    if (registered)
        j["drawn_from_mm"] = drawnFromMm;
    QString words = QStringLiteral("%1: %2 points, %3 with a position on the board in mm; ")
                        .arg(path)
                        .arg(board.points.size())
                        .arg(withMm);
    if (registered)
        words += QStringLiteral(
            "on the picture %1 placed at a pixel, %2 drawn from their mm by the fiducials")
                     .arg(placed)
                     .arg(drawnFromMm);
    else if (!board.image)
        words += QStringLiteral("no picture");
    else
        words += QStringLiteral(
            "on the picture %1 placed at a pixel (none drawn from mm: fewer than two "
            "fiducials have a pixel)")
                     .arg(placed);
    job.note = words.toStdString();
    Json fiducials = Json::array();
    for (const sig::Fiducial &f : board.fiducials) {
        Json o { { "name", f.name.toStdString() }, { "mm", pair(f.mm) } };
        if (f.px)
            o["px"] = pair(*f.px);
        fiducials.push_back(std::move(o));
    }
    j["fiducials"] = std::move(fiducials);
    if (registered)
        j["registration"] = Json { { "fiducials", registered->fiducials },
            { "rms_mm", micrometres(registered->rmsMm) },
            { "max_mm", micrometres(registered->maxMm) } };
    j.update(imported);
    job.summary = j.dump();
}

} // namespace

extern "C" __attribute__((visibility("default"))) void zemctl_board(BoardJob *job)
{
    run(*job);
}
