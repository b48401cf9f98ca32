// The measure subcommand: settings overrides first, then the measurement
// sequence from its module.
#include "measurejob.h"
#include "module.h"
#include "zemctl.h"

#include <unistd.h>

namespace zemctl {

namespace {

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

int measureMain(
    Context &context, const std::vector<std::string> &assignments, const std::string &fileName)
{
    static const zem::Command &setter = *findCommand("set_measurement_settings");
    std::vector<std::uint8_t> request(setter.request->size, 0);
    if (const std::string error = parseAssignments(setter, assignments, request); !error.empty()) {
        printError(error);
        return kExitUsage;
    }
    std::string why;
    const auto measure
        = reinterpret_cast<ZemctlMeasureFunction>(loadModuleFunction("zemctl_measure", why));
    if (!measure) {
        printError("measure is not available: " + why);
        return kExitUsage;
    }
    if (!context.openDevice())
        return kExitUsage;
    if (!assignments.empty()) {
        const CommandRun run = runCommand(context, setter, assignments, true);
        if (run.exitCode != kExitOk) {
            printError(run.error + "; nothing was measured");
            return run.exitCode;
        }
    }

    catchInterrupts();

    MeasureJob job;
    job.device = &context.device;
    job.fileName = fileName == "-" ? std::string() : fileName;
    job.csv = endsWith(fileName, ".csv") || endsWith(fileName, ".CSV");
    job.progress = isatty(STDERR_FILENO);
    job.interrupted = &interrupted;
    measure(&job);
    releaseInterrupts();
    if (job.exitCode != kExitOk)
        printError(job.message);
    return job.exitCode;
}

} // namespace zemctl
