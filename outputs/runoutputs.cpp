#include "runoutputs.h"

#include "qatomicfile.h"
#include "report.h"

#include <QCoreApplication>

#include <functional>

namespace sig {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::RunOutputs", text);
}

bool write(const QString &path, const QString &what, const std::vector<KeptFile> &kept,
    const std::function<QByteArray()> &bytes, QString *error)
{
    if (const QString refused = refusal(path, what, kept); !refused.isEmpty()) {
        *error = refused;
        return false;
    }
    if (const QString failure = zem::files::writeFile(path, bytes()); !failure.isEmpty()) {
        *error = tr("cannot write %1: %2").arg(path, failure);
        return false;
    }
    return true;
}

} // namespace

QString checkOutputs(const RunPlan &plan)
{
    if (QString r
        = refusal(plan.outputs.report, tr("the report"), keptFiles(plan, RunOutput::Report));
        !r.isEmpty())
        return r;
    return refusal(plan.outputs.junit, tr("the JUnit file"), keptFiles(plan, RunOutput::JUnit));
}

bool writeOutputs(const RunRecord &record, const RunPlan &plan, QString *error)
{
    if (!plan.outputs.report.isEmpty()
        && !writeReport(record, plan.outputs.report, keptFiles(plan, RunOutput::Report), error))
        return false;
    return plan.outputs.junit.isEmpty()
        || writeJUnit(
            { junitSuite(record) }, plan.outputs.junit, keptFiles(plan, RunOutput::JUnit), error);
}

bool writeReport(
    const RunRecord &record, const QString &path, const std::vector<KeptFile> &kept, QString *error)
{
    return write(
        path, tr("the report"), kept, [&] { return htmlReport(record); }, error);
}

bool writeJUnit(const std::vector<JUnitSuite> &suites, const QString &path,
    const std::vector<KeptFile> &kept, QString *error)
{
    return write(
        path, tr("the JUnit file"), kept, [&] { return junitXml(suites); }, error);
}

bool writeSignature(
    const Signature &board, const QString &path, const std::vector<KeptFile> &kept, QString *error)
{
    if (const QString refused = refusal(path, tr("the board"), kept); !refused.isEmpty()) {
        *error = refused;
        return false;
    }
    return save(board, path, error);
}

} // namespace sig
