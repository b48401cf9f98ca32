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

namespace {

int catching = 0; // catchInterrupts() not yet released
struct sigaction savedInt, savedTerm;

} // namespace

void catchInterrupts()
{
    if (catching++ > 0)
        return;
    struct sigaction action
    {
    };
    action.sa_handler = &onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedInt);
    sigaction(SIGTERM, &action, &savedTerm);
}

void releaseInterrupts()
{
    if (catching == 0 || --catching > 0)
        return;
    sigaction(SIGINT, &savedInt, nullptr);
    sigaction(SIGTERM, &savedTerm, nullptr);
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
