// The learn, compare and test subcommands: the signature module does the work.
#include "module.h"
#include "signaturejob.h"
#include "zemctl.h"

#include <unistd.h>

namespace zemctl {

int signatureMain(Context &context, SignatureJob &job)
{
    std::string why;
    const auto run
        = reinterpret_cast<ZemctlSignatureFunction>(loadModuleFunction("zemctl_signature", why));
    if (!run) {
        printError("signatures are not available: " + why);
        return kExitUsage;
    }
    if (!context.openDevice())
        return kExitUsage;

    catchInterrupts();

    job.device = &context.device;
    job.prompt = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
    job.interrupted = &interrupted;
    run(&job);
    releaseInterrupts();
    if (!job.message.empty())
        printError(job.message);
    return job.exitCode;
}

} // namespace zemctl
