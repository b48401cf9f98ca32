#include "module.h"

#include "zemctl.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace zemctl {

volatile std::sig_atomic_t interrupted = 0;

namespace {

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

} // namespace

void catchInterrupts()
{
    struct sigaction action
    {
    };
    action.sa_handler = &onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void releaseInterrupts()
{
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

void *loadModuleFunction(const std::string &name, std::string &error)
{
    return loadModuleFunction(name, name, error);
}

void *loadModuleFunction(const std::string &name, const std::string &function, std::string &error)
{
    const std::string dir = programDirectory();
    const std::string file = name + ".so";
    for (const std::string &path : { dir + "/" + file, dir + "/" ZEMCTL_MODULE_DIR "/" + file }) {
        if (access(path.c_str(), F_OK) != 0)
            continue;
        void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            error = dlerror();
            return nullptr;
        }
        if (void *f = dlsym(module, function.c_str()))
            return f;
        error = path + " lacks " + function;
        return nullptr;
    }
    error = file + " is not installed beside zemctl (looked in " + dir + " and " + dir
        + "/" ZEMCTL_MODULE_DIR ")";
    return nullptr;
}


} // namespace zemctl
