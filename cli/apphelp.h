// zemctl's help texts and the command-line pieces its subcommands share.
#pragma once

#include <string>

namespace CLI {
class App;
class Validator;
}
namespace zem {
struct Command;
}

namespace zemctl {

// The program's own help after its options: fields, the shell, exit status, examples.
std::string appFooter();
// --rate: a false-fail rate strictly between 0 and 1, said back as written.
const CLI::Validator &falseFailRate();
std::string commandDescription(const zem::Command &c);
// The device command that argv names, if any, so only its subcommand is built.
const zem::Command *commandNamedIn(int argc, char **argv);
std::string commandPath(const CLI::App &app);
// Gives every subcommand below app its help texts.
void finishSubcommands(CLI::App &app);

} // namespace zemctl
