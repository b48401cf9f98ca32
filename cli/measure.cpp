// The measure subcommand: settings overrides first, then the measurement
// sequence from its module; the curve to a file or standard output, its
// figures on standard error (or in the output, with --format text).
#include "measurejob.h"
#include "module.h"
#include "zemctl.h"

#include "atomicfile.h"

#include <unistd.h>

namespace zemctl {

namespace {

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

// The figures as aligned "Field = value" lines, as --format text prints records.
std::string figureLines(const MeasureJob &job)
{
    return "points  = " + std::to_string(job.points) + "\nslope   = " + job.slopeText
        + "\npeak    = " + job.peakText + "\nrun     = " + job.runText
        + "\nreading = " + job.reading + '\n';
}

int takeMeasurement(
    Context &context, const std::vector<std::string> &assignments, bool fill, MeasureJob &job)
{
    const auto failed = [&job](int code, const std::string &message) {
        job.exitCode = code;
        job.message = message;
        return code;
    };
    static const zem::Command &setter = *findCommand(kMeasureSettings);
    std::vector<std::uint8_t> request(setter.request->size, 0);
    if (const std::string error = parseAssignments(setter, assignments, request); !error.empty())
        return failed(kExitUsage, error);
    std::string why;
    const auto measure
        = reinterpret_cast<ZemctlMeasureFunction>(loadModuleFunction("zemctl_measure", why));
    if (!measure)
        return failed(kExitDevice, "measure is not available: " + why);
    if (!context.openDevice())
        return failed(context.openError, ""); // it said why
    if (!assignments.empty()) {
        const CommandRun run = runCommand(context, setter, assignments, fill);
        if (run.exitCode != kExitOk) {
            job.result = run.result;
            return failed(run.exitCode, run.error + "; nothing was measured");
        }
    }

    catchInterrupts();
    job.device = &context.device;
    job.progress = isatty(STDERR_FILENO);
    job.interrupted = &interrupted;
    measure(&job);
    releaseInterrupts();
    return job.exitCode;
}

std::string writeCurve(const MeasureJob &job, const std::string &fileName)
{
    return zem::files::writeFile(
        fileName, endsWith(fileName, ".csv") || endsWith(fileName, ".CSV") ? job.csv : job.json);
}

int measureMain(Context &context, const std::vector<std::string> &assignments,
    const std::string &fileName, bool fill, Format fallback)
{
    MeasureJob job;
    if (const int code = takeMeasurement(context, assignments, fill, job); code != kExitOk) {
        if (!job.message.empty())
            printError(job.message);
        return code;
    }
    const bool text = context.format(fallback) == Format::Text;
    const bool toFile = !fileName.empty() && fileName != "-";
    if (toFile) {
        if (const std::string error = writeCurve(job, fileName); !error.empty()) {
            printError(error);
            return kExitFailed;
        }
    } else {
        writeOutput(text ? figureLines(job) + '\n' + job.table : job.json);
    }
    if (text && toFile)
        writeOutput(figureLines(job));
    else if (!text)
        printError(job.figures);
    return kExitOk;
}

} // namespace zemctl
