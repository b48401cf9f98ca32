// Shell completion answered by zemctl's own parser: the words follow every
// subcommand, option and choice as they are defined, and the commands and
// fields of the record description, so the completion cannot fall behind.
#pragma once

#include <string>

namespace CLI {
class App;
} // namespace CLI

namespace zemctl {

// The bash completion script (`zemctl --completion bash`): its function asks
// `zemctl __complete LINE TOKEN` for the words.
extern const char *const kBashCompletion;

// What may complete `line`, the command line up to the cursor (the program
// first). The first line says how to use the candidates: "words", "nospace"
// (a Field= that a value follows) or "files"; then one candidate a line.
// `token`, when given, is the word being completed as the shell cut it (bash
// cuts at '=' and ':' too): the candidates are cut to replace just that.
std::string completions(const CLI::App &app, const std::string &line, const char *token);

} // namespace zemctl
