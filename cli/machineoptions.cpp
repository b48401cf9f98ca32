#include "machineoptions.h"

#include "boardjob.h"
#include "proberjob.h"

#include <CLI/CLI.hpp>

namespace zemctl {

CLI::App *addBoardCommand(CLI::App &app, BoardJob &job)
{
    CLI::App *board = app.add_subcommand(
        "board", "Embed a picture of the board and place points on it; JSON summary out");
    board->add_option("FILE", job.file, "The signature file")->required();
    board->add_option("--image", job.image, "A PNG or JPEG of the board to embed")
        ->type_name("PHOTO");
    board->add_option("--place", job.places,
             "Place a point at pixel X,Y of the picture (on a registered picture, its mm too)")
        ->type_name("NAME=X,Y");
    board->add_option("--fiducial", job.fiducials,
             "Add or replace a fiducial at X,Y mm on the board, at pixel PX,PY of the picture "
             "(kept when not given); at most 3")
        ->type_name("NAME=X,Y[,PX,PY]");
    board->add_option("--mm", job.mms,
             "A point's position on the board, mm from its lower-left corner, y up")
        ->type_name("NAME=X,Y");
    board->add_option("--side", job.sides,
             "The side of the board a point is probed from; with --import, top or bottom alone "
             "takes only that side's points")
        ->type_name("NAME=top|bottom");
    board->add_option("--import", job.import,
             "Add or update points from an IPC-D-356 netlist (.d356, .ipc, .356) or a component "
             "position file (.pos, .csv); creates FILE when missing")
        ->type_name("CAD");
    board->add_option("--nets", job.nets, "With --import: only points on these nets (globs)")
        ->type_name("N1,N2*");
    board->add_option("--refdes", job.refdes, "With --import: only these parts (globs)")
        ->type_name("U1,R*");
    board->add_option("--units", job.units, "With --import: the CAD file's units when it does not say")
        ->check(CLI::IsMember({ "mm", "in", "mil" }))
        ->type_name("mm|in|mil");
    board->add_option("--bom", job.bom,
             "A BOM CSV: each two-pin part's value (4k7, 100n) as its points' expected value")
        ->type_name("CSV");
    return board;
}

CLI::App *addProberCommand(CLI::App &app, ProberJob &job)
{
    CLI::App *prober = app.add_subcommand(
        "prober", "A probing machine: status, home, unlock, jog, goto a point, teach a fiducial, a dry run; JSON out");
    prober->require_subcommand(1);
    prober->add_option("--prober", job.url,
              "The machine, as for test --prober (default ZEM_PROBER)")
        ->envname("ZEM_PROBER")
        ->type_name("URL")
        ->required();
    CLI::App *proberStatus = prober->add_subcommand("status", "Its state and machine position");
    CLI::App *proberHome = prober->add_subcommand("home", "Home it ($H), also from an alarm");
    CLI::App *proberUnlock = prober->add_subcommand("unlock", "Clear an alarm ($X)");
    CLI::App *proberJog = prober->add_subcommand("jog", "Move it by DX,DY[,DZ] mm");
    proberJog->add_option("BY", job.at, "mm in X, Y (and Z)")->required()->type_name("DX,DY[,DZ]");
    CLI::App *proberGoto = prober->add_subcommand(
        "goto", "Bring the probe down onto a point or fiducial of a board");
    CLI::App *proberTeach = prober->add_subcommand(
        "teach", "Keep where the machine stands (or --at) as a fiducial's place on it");
    CLI::App *proberDry = prober->add_subcommand("dry-run",
        "Bring the probe over every point and fiducial of a board at the safe height, never down");
    proberDry->add_option("FILE", job.file, "The signature file")->required();
    for (CLI::App *sub : { proberGoto, proberTeach }) {
        sub->add_option("FILE", job.file, "The signature file")->required();
        sub->add_option("NAME", job.name, "The point or fiducial")->required();
    }
    proberTeach->add_option("--at", job.at, "Go down onto this machine X,Y first")
        ->type_name("X,Y");
    proberTeach
        ->add_option("--max-residual", job.maxResidual,
            "Refuse the teach when a fiducial lies farther off the board's fit (mm; default 0.2)")
        ->check(CLI::Range(0.001, 100.0));
    using Action = ProberJob::Action;
    const std::pair<CLI::App *, Action> actions[] = { { proberStatus, Action::Status },
        { proberHome, Action::Home }, { proberUnlock, Action::Unlock }, { proberJog, Action::Jog },
        { proberGoto, Action::Goto }, { proberTeach, Action::Teach },
        { proberDry, Action::DryRun } };
    for (const auto &[sub, action] : actions)
        sub->final_callback([&job, action = action] { job.action = action; });
    return prober;
}

} // namespace zemctl
