// The options of zemctl's history subcommand, into the job that carries them
// to the history module.
#pragma once

namespace CLI {
class App;
}

namespace zemctl {

struct HistoryJob;

// Each of history's subcommands sets its action in job when it is parsed.
CLI::App *addHistoryCommand(CLI::App &app, HistoryJob &job);

} // namespace zemctl
