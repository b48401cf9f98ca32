#include "outputguard.h"

#include "location.h"
#include "runplan.h"
#include "samefile.h"

#include <QCoreApplication>

namespace sig {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::OutputGuard", text);
}

bool matches(const QString &target, const KeptFile &kept)
{
    if (kept.kind == KeptFile::Kind::File)
        return zem::files::sameFile(target, kept.path);
    const auto where = zem::history::parseLocation(kept.path, nullptr);
    // Even a location that does not parse keeps its spool.
    return where ? zem::history::isHistoryFile(target, *where)
                 : zem::files::sameFile(target, zem::history::defaultSpoolPath());
}

} // namespace

QString refusal(const QString &target, const QString &what, const std::vector<KeptFile> &kept)
{
    if (target.isEmpty())
        return {};
    for (const KeptFile &k : kept)
        if (matches(target, k))
            return k.kind == KeptFile::Kind::History
                ? tr("%1 %2 would be written over %3 %4 (or its journal or spool); choose "
                     "another name")
                      .arg(what, target, k.what, k.path)
                : tr("%1 %2 would be written over %3 %4; choose another name")
                      .arg(what, target, k.what, k.path);
    return {};
}

std::vector<KeptFile> keptHistory(const QString &location)
{
    if (location.isEmpty())
        return {};
    return { { KeptFile::Kind::History, location, tr("the history") } };
}

std::vector<KeptFile> keptFiles(const RunPlan &plan, RunOutput writing)
{
    std::vector<KeptFile> kept = keptHistory(plan.outputs.history);
    if (!plan.signaturePath.isEmpty() && writing != RunOutput::Signature)
        kept.push_back({ KeptFile::Kind::File, plan.signaturePath, tr("the signature") });
    if (!plan.outputs.report.isEmpty() && writing != RunOutput::Report)
        kept.push_back({ KeptFile::Kind::File, plan.outputs.report, tr("the report") });
    if (!plan.outputs.junit.isEmpty() && writing != RunOutput::JUnit)
        kept.push_back({ KeptFile::Kind::File, plan.outputs.junit, tr("the JUnit file") });
    return kept;
}

} // namespace sig
