// The measure subcommand: settings overrides first, then the measurement
// sequence from its module.
#include "measurejob.h"
#include "zemctl.h"

#include <climits>
#include <csignal>
#include <dlfcn.h>
#include <unistd.h>

namespace zemctl {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
}

std::string executableDirectory()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    const std::string exe(path, std::size_t(n));
    return exe.substr(0, exe.rfind('/'));
}

// Beside the program in the build tree, in its private folder once installed.
ZemctlMeasureFunction loadModule(std::string &error)
{
    const std::string dir = executableDirectory();
    for (const std::string &path :
        { dir + "/zemctl_measure.so", dir + "/" ZEMCTL_MODULE_DIR "/zemctl_measure.so" }) {
        if (access(path.c_str(), F_OK) != 0)
            continue;
        void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            error = dlerror();
            return nullptr;
        }
        if (auto *f = reinterpret_cast<ZemctlMeasureFunction>(dlsym(module, "zemctl_measure")))
            return f;
        error = path + " lacks zemctl_measure";
        return nullptr;
    }
    error = "zemctl_measure.so is not installed beside zemctl (looked in " + dir + " and " + dir
        + "/" ZEMCTL_MODULE_DIR ")";
    return nullptr;
}

void observe(void *context, const zem::calls::Call &call)
{
    static_cast<Context *>(context)->device.report(call);
}

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
    const ZemctlMeasureFunction measure = loadModule(why);
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

    struct sigaction action
    {
    };
    action.sa_handler = &onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    MeasureJob job;
    job.handle = context.device.handle();
    job.fileName = fileName == "-" ? std::string() : fileName;
    job.csv = endsWith(fileName, ".csv") || endsWith(fileName, ".CSV");
    job.progress = isatty(STDERR_FILENO);
    job.interrupted = &interrupted;
    job.observer = &observe;
    job.observerContext = &context;
    measure(&job);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (job.exitCode != kExitOk)
        printError(job.message);
    return job.exitCode;
}

} // namespace zemctl
