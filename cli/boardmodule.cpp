// zemctl board, in the signature module: embed a picture, place points.
#include "boardjob.h"

#include "printable.h"
#include "signature.h"
#include "zemctl.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace {

using zemctl::BoardJob;

bool fail(BoardJob &job, const QString &message)
{
    job.exitCode = zemctl::kExitUsage;
    job.message = message.toStdString();
    return false;
}

// NAME=X,Y, the name taken up to the last '=' (names may hold one).
bool place(BoardJob &job, sig::Signature &board, const std::string &text)
{
    const QString arg = QString::fromStdString(text);
    const qsizetype eq = arg.lastIndexOf(QLatin1Char('='));
    const QStringList xy = arg.mid(eq + 1).split(QLatin1Char(','));
    bool okX = false, okY = false;
    const double x = xy.value(0).trimmed().toDouble(&okX);
    const double y = xy.value(1).trimmed().toDouble(&okY);
    if (eq <= 0 || xy.size() != 2 || !okX || !okY)
        return fail(job, QStringLiteral("--place %1: expected NAME=X,Y").arg(arg));
    // "nan" and "inf" read as numbers, but no file could hold them.
    if (!sig::isPlace(QPointF(x, y)))
        return fail(job, QStringLiteral("--place %1: X and Y must be finite numbers").arg(arg));
    const QString name = arg.left(eq).trimmed();
    const int index = board.find(name);
    if (index < 0)
        return fail(job,
            QStringLiteral("--place %1: no point named %2 in %3")
                .arg(arg, name, QString::fromStdString(job.file)));
    const QSize size = board.image ? board.image->size : QSize();
    if (x < 0 || y < 0 || (board.image && (x > size.width() || y > size.height())))
        return fail(job,
            QStringLiteral("--place %1: outside the picture (%2 x %3 pixels)")
                .arg(arg)
                .arg(size.width())
                .arg(size.height()));
    board.points[std::size_t(index)].at = QPointF(x, y);
    return true;
}

void run(BoardJob &job)
{
    const QString path = QString::fromStdString(job.file);
    QString error;
    auto loaded = sig::load(path, &error);
    if (!loaded)
        return void(fail(job, error));
    sig::Signature &board = *loaded;
    for (const QString &w : board.warnings)
        std::fprintf(stderr, "zemctl: %s: %s\n", job.file.c_str(), qPrintable(w));
    if (!job.image.empty()) {
        auto picture = sig::readPicture(QString::fromStdString(job.image), &error);
        if (!picture)
            return void(fail(job, error));
        board.image = std::move(picture);
    }
    for (const std::string &p : job.places)
        if (!place(job, board, p))
            return;
    if ((!job.image.empty() || !job.places.empty()) && !sig::save(board, path, &error))
        return void(fail(job, error));

    nlohmann::ordered_json j;
    j["file"] = job.file;
    j["board"] = board.board.toStdString();
    j["image"] = board.image ? nlohmann::ordered_json { { "type", board.image->type.toStdString() },
        { "width", board.image->size.width() }, { "height", board.image->size.height() } }
                             : nlohmann::ordered_json();
    j["points"] = board.points.size();
    nlohmann::ordered_json unplaced = nlohmann::ordered_json::array();
    for (const sig::Point &p : board.points)
        if (!p.at)
            unplaced.push_back(p.name.toStdString());
    j["placed"] = board.points.size() - unplaced.size();
    j["unplaced"] = std::move(unplaced);
    job.summary = j.dump();
}

} // namespace

extern "C" __attribute__((visibility("default"))) void zemctl_board(BoardJob *job)
{
    run(*job);
}
