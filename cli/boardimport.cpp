#include "boardimport.h"

#include "cadimport.h"
#include "zemctl.h"

#include <QFileInfo>

namespace zemctl {
namespace {

bool fail(BoardJob &job, const QString &message, int code = kExitUsage)
{
    job.exitCode = code;
    job.message = message.toStdString();
    return false;
}

QStringList list(const std::string &text)
{
    return sig::splitNames(QString::fromStdString(text));
}

nlohmann::ordered_json names(const QStringList &list)
{
    auto out = nlohmann::ordered_json::array();
    for (const QString &n : list)
        out.push_back(n.toStdString());
    return out;
}

} // namespace

bool takeImportSide(BoardJob &job, std::optional<sig::Side> &side)
{
    std::vector<std::string> named;
    for (const std::string &s : job.sides) {
        if (s == "top" || s == "bottom") {
            if (job.import.empty())
                return fail(job,
                    QStringLiteral("--side %1 takes one side of an --import; a point's side is "
                                   "NAME=%1")
                        .arg(QString::fromStdString(s)));
            side = s == "top" ? sig::Side::Top : sig::Side::Bottom;
        } else {
            named.push_back(s);
        }
    }
    job.sides = std::move(named);
    if (job.import.empty() && (!job.nets.empty() || !job.refdes.empty() || !job.units.empty()))
        return fail(job, QStringLiteral("--nets, --refdes and --units choose what --import takes"));
    for (const auto &[option, globs] :
        { std::pair { "--nets", &job.nets }, std::pair { "--refdes", &job.refdes } })
        if (const QString why = sig::globError(list(*globs)); !why.isEmpty())
            return fail(job, QStringLiteral("%1: %2").arg(QLatin1String(option), why));
    return true;
}

std::optional<sig::Signature> loadOrCreate(BoardJob &job)
{
    const QString path = QString::fromStdString(job.file);
    if (!job.import.empty() && !QFileInfo::exists(path)) {
        sig::Signature board;
        board.board = QFileInfo(QString::fromStdString(job.import)).completeBaseName();
        board.settings = sig::defaultSettings();
        return board;
    }
    QString error;
    auto loaded = sig::load(path, &error);
    if (!loaded)
        fail(job, error, kExitInput);
    return loaded;
}

bool importCad(BoardJob &job, std::optional<sig::Side> side, sig::Signature &board,
    nlohmann::ordered_json &summary)
{
    QString error;
    sig::Signature changed = board;
    if (!job.import.empty()) {
        const QString path = QString::fromStdString(job.import);
        const auto units = job.units.empty()
            ? std::nullopt
            : cad::unitNamed(QString::fromStdString(job.units));
        const sig::CadFilter filter { side, list(job.nets), list(job.refdes) };
        const auto result = sig::importCadFile(changed, path, filter, units, &error);
        if (!result)
            return fail(job, error, kExitInput);
        summary["added"] = result->added.size();
        summary["updated"] = result->updated.size();
        summary["vanished"] = names(result->vanished);
    }
    if (!job.bom.empty()) {
        const auto bom = cad::readBomFile(QString::fromStdString(job.bom), &error);
        if (!bom)
            return fail(job, error, kExitInput);
        summary["expected"] = names(sig::applyBom(changed, *bom));
    }
    board = std::move(changed);
    return true;
}

} // namespace zemctl
