// The board and prober subcommands: the signature module does the work.
#include "boardjob.h"
#include "module.h"
#include "proberjob.h"
#include "zemctl.h"

#include <cstdio>

#include <unistd.h>

namespace zemctl {

namespace {

// Runs a job in the signature module, then says what it says: its error on
// stderr, its summary line on stdout.
template <class Job> int runInModule(Job &job, const char *function)
{
    std::string why;
    const auto run = reinterpret_cast<void (*)(Job *)>(
        loadModuleFunction("zemctl_signature", function, why));
    if (!run) {
        printError("signatures are not available: " + why);
        return kExitDevice;
    }
    run(&job);
    if (!job.message.empty())
        printError(job.message);
    if (!job.summary.empty())
        std::printf("%s\n", job.summary.c_str());
    return job.exitCode;
}

} // namespace

int boardMain(BoardJob &job)
{
    const int status = runInModule(job, "zemctl_board");
    if (!job.note.empty())
        printError(job.note);
    return status;
}

int proberMain(ProberJob &job)
{
    job.stop = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
    return runInModule(job, "zemctl_prober");
}

} // namespace zemctl
