// zemctl history: the test history's queries and its sync, in the signature
// module (they need Qt SQL).
#pragma once

#include <string>

namespace zemctl {

struct HistoryJob
{
    enum class Action { Runs, Points, Show, Export, Sync };

    Action action = Action::Runs;
    std::string db; // "" for ZEM_DB or the default file
    std::string board, serial, since, verdict; // filters; since is YYYY-MM-DD or ISO 8601
    std::string run; // show: the run's UUID or a prefix of it ("" with serial: its latest run)
    std::string csv; // export: the file ("-" for standard output)
    int limit = -1;
    bool text = false; // runs and points: a header and aligned lines instead of JSON Lines
    bool cpk = false; // points: each point's capability over the good boards
    double rate = 0.001; // points --cpk: the false-fail rate the suggested tolerance aims at

    // Filled in by the module.
    int exitCode = 0;
    std::string message;
};

} // namespace zemctl

extern "C" void zemctl_history(zemctl::HistoryJob *job);
using ZemctlHistoryFunction = void (*)(zemctl::HistoryJob *);
