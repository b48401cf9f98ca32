#include "historyoptions.h"

#include "apphelp.h"
#include "historyjob.h"

#include <CLI/CLI.hpp>

namespace zemctl {

CLI::App *addHistoryCommand(CLI::App &app, HistoryJob &job)
{
    CLI::App *history = app.add_subcommand(
        "history", "The history of tested boards; JSON Lines out, or --format text");
    history->require_subcommand(1);
    history->add_option("--db", job.db, "The history (as for test --db)")->type_name("URL");
    CLI::App *historyRuns = history->add_subcommand("runs", "Runs, newest first");
    CLI::App *historyExport = history->add_subcommand("export", "Runs as CSV (RFC 4180)");
    historyExport->add_option("--csv", job.csv, "The CSV file, - for standard output")
        ->type_name("FILE")
        ->required();
    for (CLI::App *sub : { historyRuns, historyExport }) {
        sub->add_option("--board", job.board, "Only this board type");
        sub->add_option("--serial", job.serial, "Only this serial number");
        sub->add_option("--since", job.since, "Only runs since YYYY-MM-DD (UTC)");
        sub->add_option("--verdict", job.verdict,
            "Only runs with this verdict (pass, fail, unstable), or with a point of this verdict "
            "(different, not_learned, no_contact, net_disagrees)");
        sub->add_option("--limit", job.limit, "At most this many");
    }
    CLI::App *historyPoints
        = history->add_subcommand("points", "A board type's points by failures, most first");
    historyPoints->add_option("--board", job.board, "The board type")->required();
    CLI::Option *cpk = historyPoints->add_flag("--cpk", job.cpk,
        "Add each point's capability over the good boards (runs that passed): n, mean, sigma, "
        "cpk and the suggested tolerance (printed only, never applied)");
    historyPoints
        ->add_option("--rate", job.rate,
            "With --cpk: the false-fail rate the suggested tolerance keeps good boards under "
            "(default 0.001)")
        ->check(falseFailRate())
        ->needs(cpk);
    CLI::App *historyShow = history->add_subcommand("show", "One run with its points and curves");
    historyShow->add_option("RUN", job.run, "The run's UUID, or as much of it as tells it apart");
    historyShow->add_option("--serial", job.serial, "The latest run of this serial number");
    CLI::App *historySync = history->add_subcommand(
        "sync", "Upload the runs waiting in the local spool to the shared server");
    using Action = HistoryJob::Action;
    for (const auto &[sub, action] : { std::pair { historyRuns, Action::Runs },
             std::pair { historyPoints, Action::Points }, std::pair { historyShow, Action::Show },
             std::pair { historyExport, Action::Export }, std::pair { historySync, Action::Sync } })
        sub->final_callback([&job, action = action] { job.action = action; });
    return history;
}

} // namespace zemctl
