// What the long-running subcommands share: Ctrl+C, and the modules that hold
// the parts needing Qt Core, loaded only when such a subcommand runs.
#pragma once

#include <csignal>
#include <string>

namespace zemctl {

// Set once SIGINT or SIGTERM arrived after catchInterrupts().
extern volatile std::sig_atomic_t interrupted;

// Routes SIGINT and SIGTERM to `interrupted`, without SA_RESTART, so that a
// sleep ends at once; releaseInterrupts() restores what was there before.
// They nest: a measurement in the shell leaves the shell's own catching.
void catchInterrupts();
void releaseInterrupts();

// The function `name` of the module `name`.so: beside the program in the
// build tree, in the package's private folder once installed. Null, with the
// reason in error, when it cannot be loaded.
void *loadModuleFunction(const std::string &name, std::string &error);
// The function `function` of the module `module`.so.
void *loadModuleFunction(
    const std::string &module, const std::string &function, std::string &error);

} // namespace zemctl
