// The learn, compare and test subcommands: the signature module does the work.
#include "historyjob.h"
#include "module.h"
#include "printable.h"
#include "signaturejob.h"
#include "zemctl.h"

#include <unistd.h>

namespace zemctl {

int signatureMain(Context &context, SignatureJob &job)
{
    // Bytes that are not UTF-8 would be stored as U+FFFD, so that two boards'
    // serials could read the same.
    for (const auto &[option, value] :
        { std::pair { "--serial", &job.serial }, std::pair { "--operator", &job.operatorName } })
        if (!isUtf8(*value)) {
            printError(std::string(option) + " " + *value + " is not UTF-8");
            return kExitUsage;
        }
    if (job.requireSerial && job.serial.find_first_not_of(" \t") == std::string::npos) {
        printError("--require-serial: give the board's serial with --serial");
        return kExitUsage;
    }
    job.text = context.format(Format::Json) == Format::Text;
    std::string why;
    const auto run
        = reinterpret_cast<ZemctlSignatureFunction>(loadModuleFunction("zemctl_signature", why));
    if (!run) {
        printError("signatures are not available: " + why);
        return kExitDevice;
    }
    // A prediction simulates the board: no instrument takes part.
    if (!job.predict && !context.openDevice())
        return context.openError;

    catchInterrupts();

    job.device = &context.device;
    job.url = context.options.url;
    job.prompt = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
    job.interrupted = &interrupted;
    run(&job);
    releaseInterrupts();
    if (!job.message.empty())
        printError(job.message);
    return job.exitCode;
}

int historyMain(HistoryJob &job)
{
    std::string why;
    const auto run = reinterpret_cast<ZemctlHistoryFunction>(
        loadModuleFunction("zemctl_signature", "zemctl_history", why));
    if (!run) {
        printError("the history is not available: " + why);
        return kExitDevice;
    }
    run(&job);
    if (!job.message.empty())
        printError(job.message);
    return job.exitCode;
}

} // namespace zemctl
