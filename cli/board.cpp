// The board subcommand: the signature module does the work.
#include "boardjob.h"
#include "module.h"
#include "zemctl.h"

#include <cstdio>

namespace zemctl {

int boardMain(BoardJob &job)
{
    std::string why;
    const auto run = reinterpret_cast<ZemctlBoardFunction>(
        loadModuleFunction("zemctl_signature", "zemctl_board", why));
    if (!run) {
        printError("signatures are not available: " + why);
        return kExitUsage;
    }
    run(&job);
    if (!job.message.empty())
        printError(job.message);
    if (!job.summary.empty())
        std::printf("%s\n", job.summary.c_str());
    return job.exitCode;
}

} // namespace zemctl
