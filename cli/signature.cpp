// The learn, compare and test subcommands: the signature module does the work.
#include "signaturejob.h"
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

std::string programDirectory()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    const std::string exe(path, std::size_t(n));
    return exe.substr(0, exe.rfind('/'));
}

// Beside the program in the build tree, in its private folder once installed.
ZemctlSignatureFunction loadModule(std::string &error)
{
    const std::string dir = programDirectory();
    for (const std::string &path :
        { dir + "/zemctl_signature.so", dir + "/" ZEMCTL_MODULE_DIR "/zemctl_signature.so" }) {
        if (access(path.c_str(), F_OK) != 0)
            continue;
        void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            error = dlerror();
            return nullptr;
        }
        if (auto *f = reinterpret_cast<ZemctlSignatureFunction>(dlsym(module, "zemctl_signature")))
            return f;
        error = path + " lacks zemctl_signature";
        return nullptr;
    }
    error = "zemctl_signature.so is not installed beside zemctl (looked in " + dir + " and " + dir
        + "/" ZEMCTL_MODULE_DIR ")";
    return nullptr;
}

void observe(void *context, const zem::calls::Call &call)
{
    static_cast<Context *>(context)->device.report(call);
}

} // namespace

int signatureMain(Context &context, SignatureJob &job)
{
    std::string why;
    const ZemctlSignatureFunction run = loadModule(why);
    if (!run) {
        printError("signatures are not available: " + why);
        return kExitUsage;
    }
    if (!context.openDevice())
        return kExitUsage;

    struct sigaction action
    {
    };
    action.sa_handler = &onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    job.handle = context.device.handle();
    job.prompt = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
    job.interrupted = &interrupted;
    job.observer = &observe;
    job.observerContext = &context;
    run(&job);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (!job.message.empty())
        printError(job.message);
    return job.exitCode;
}

} // namespace zemctl
