// The options of zemctl's board and prober subcommands, into the jobs that
// carry them to the signature module.
#pragma once

namespace CLI {
class App;
}

namespace zemctl {

struct BoardJob;
struct ProberJob;

CLI::App *addBoardCommand(CLI::App &app, BoardJob &job);
// Each of the prober's subcommands sets its action in job when it is parsed.
CLI::App *addProberCommand(CLI::App &app, ProberJob &job);

} // namespace zemctl
