#include "zemctl.h"

#include "apphelp.h"
#include "boardjob.h"
#include "completion.h"
#include "historyjob.h"
#include "historyoptions.h"
#include "machineoptions.h"
#include "printable.h"
#include "proberjob.h"
#include "signaturejob.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zemctl {

namespace {

int outputError = 0; // errno of the first failed write to standard output

} // namespace

void printError(const std::string &message)
{
    std::fflush(stdout); // what was printed before comes first
    std::fprintf(stderr, "zemctl: %s\n", printable(message).c_str());
}

bool writeOutput(std::string_view text)
{
    if (outputError)
        return false;
    errno = 0;
    if ((!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        || std::fflush(stdout) != 0)
        outputError = errno ? errno : EIO;
    return outputError == 0;
}

// The exit code once everything was written: a failed write to standard
// output (a full disk, /dev/full) turns success into 1 with a message; a
// reader that went away (EPIPE) ends it quietly.
static int finishOutput(int exitCode)
{
    if (!writeOutput({}) || std::ferror(stdout)) {
        if (outputError != EPIPE)
            printError(std::string("cannot write to standard output: ")
                + std::strerror(outputError ? outputError : EIO));
        return exitCode == kExitOk ? kExitFailed : exitCode;
    }
    return exitCode;
}

Context::Context()
{
    device.setDefaultOrigin(zem::calls::Origin::Cli);
}

bool Context::openDevice()
{
    if (device.isOpen())
        return true;
    if (options.url.empty()) {
        printError("no device given: use -u URL or set ZEM_URL, e.g. -u "
                   "'virtual://resistor?ohms=1000'");
        openError = kExitUsage;
        return false;
    }
    if (device.open(options.url) == -1) {
        printError(device.openFailure(options.url));
        openError = kExitDevice;
        return false;
    }
    return true;
}

bool Context::startRecording()
{
    if (options.recordFile.empty())
        return true;
    const std::string error = recorder.open(options.recordFile);
    if (!error.empty()) {
        printError(error);
        return false;
    }
    device.setSink(&recorder);
    return true;
}

Format Context::format(Format fallback) const
{
    if (options.format == "json")
        return Format::Json;
    if (options.format == "text")
        return Format::Text;
    return fallback;
}

int run(int argc, char **argv)
{
    CLI::App app { "Command-line access to a zem instrument: every command, JSON in and out, "
                   "polling, measurements, call recording and replay.",
        "zemctl" };
    app.set_version_flag("--version", std::string(ZEMCTL_VERSION));
    // A subcommand's help with its own subcommands' in full: the source of
    // the manual page of each subcommand.
    app.set_help_all_flag("--help-all", "Print this help and that of every subcommand below");
    app.footer(appFooter());
    app.require_subcommand(0, 1);

    Context context;
    Options &o = context.options;
    app.add_option("-u,--url", o.url,
           "Device URL, passed to the library as it is (replay: by default the one its file "
           "opened)")
        ->envname("ZEM_URL");
    app.add_option("--record", o.recordFile, "Append every library call to FILE (JSON Lines)")
        ->type_name("FILE");
    app.add_option("--format", o.format,
           "Output: json (default for commands, measure and test) or text (aligned lines)")
        ->check(CLI::IsMember({ "json", "text" }));
    app.add_flag("--hex", o.hex, "Add the raw record bytes to the output");
    app.add_flag("--no-fill", o.noFill, "Do not read a setter's missing fields from its getter");
    std::string completionShell;
    app.add_option("--completion", completionShell, "Print the completion script for SHELL")
        ->check(CLI::IsMember({ "bash" }))
        ->group(""); // for the package: hidden from the help

    std::vector<std::string> assignments;
    const zem::Command *chosen = nullptr;
    // A shell loop runs one device command per process: the parser is then
    // built for that command alone, which shortens every start.
    const zem::Command *only = commandNamedIn(argc, argv);
    for (const zem::Command &c : zem::kCommands) {
        if (only && only != &c)
            continue;
        CLI::App *sub = app.add_subcommand(c.name, commandDescription(c));
        sub->group("Device commands");
        sub->add_option("Field=value", assignments,
            c.request ? "Request fields" : "None: the command has no request");
        sub->final_callback([&chosen, &c] { chosen = &c; });
    }

    std::string name;
    bool fieldNamesOnly = false;
    CLI::App *list = app.add_subcommand("list", "Name the commands");
    CLI::App *describe
        = app.add_subcommand("describe", "Show each field's type, range and named values");
    describe->add_option("COMMAND", name, "The command")->required();
    describe->add_flag("--field-names", fieldNamesOnly, "Only the request's field names");

    int periodMs = 1000;
    long long count = 0;
    std::vector<std::string> fields;
    CLI::App *watch = app.add_subcommand("watch", "Call a command at a fixed rate, JSON Lines out");
    watch->add_option("COMMAND", name, "The command")->required();
    watch->add_option("Field=value", assignments, "Request fields");
    watch->add_option("--period", periodMs, "Milliseconds between calls (default 1000)")
        ->check(CLI::Range(1, 86400000));
    watch->add_option("--count", count, "Stop after N calls (default: until Ctrl+C)")
        ->check(CLI::Range(1LL, 1LL << 40));
    watch->add_option("--field", fields, "Print only these response fields")->type_name("F");

    std::string file;
    CLI::App *measure = app.add_subcommand("measure",
        "Take one complete measurement; settings overrides are written first (with fill)");
    measure->add_option("Field=value", assignments, "Measurement settings to override");
    measure
        ->add_option("-o,--output", file,
            "Write the curve to FILE: CSV for *.csv, else the results.json layout (default: "
            "stdout)")
        ->type_name("FILE");

    CLI::App *profile = app.add_subcommand("profile", "Device profiles");
    profile->require_subcommand(1);
    CLI::App *profileGet = profile->add_subcommand("get", "Read the device's profile");
    profileGet->add_option("-o,--output", file, "Write it to FILE (default: stdout)")
        ->type_name("FILE");
    CLI::App *profileSet = profile->add_subcommand("set", "Hand FILE to the device as its profile");
    profileSet->add_option("FILE", file, "The profile")->required();

    std::string ignore, tolerance;
    CLI::App *replay = app.add_subcommand(
        "replay", "Send each recorded request again and compare the responses");
    replay->add_option("FILE", file, "A call file written with --record")->required();
    replay->add_option("--ignore", ignore, "Fields not to compare, e.g. Temperature,IOEvents")
        ->type_name("Field,...");
    replay
        ->add_option("--tolerance", tolerance,
            "Float fields match within REL (relative, e.g. 0.01) or ABS (absolute); integers "
            "and flags always compare exactly")
        ->type_name("REL[,ABS]");
    bool noPauses = false;
    replay->add_flag("--no-pauses", noPauses,
        "Send each call as soon as the one before returned, not after its recorded pause");

    SignatureJob job;
    std::string pointList, pointName;
    CLI::App *learn = app.add_subcommand(
        "learn", "Measure each point of a known-good board and store it as its reference");
    learn->add_option("FILE", job.file, "The signature file (created when missing)")->required();
    learn->add_option("--points", pointList, "The points, in order (default: those of FILE)")
        ->type_name("P1,P2,...");
    CLI::App *compare = app.add_subcommand(
        "compare", "Measure one point and compare it with its reference; JSON out");
    compare->add_option("FILE", job.file, "The signature file")->required();
    compare->add_option("--point", pointName, "The point")->required();
    CLI::App *test = app.add_subcommand(
        "test", "Measure every point in order and compare each; one JSON line a point");
    test->add_option("FILE", job.file, "The signature file")->required();
    test->add_option("--report", job.report, "Write an HTML report to FILE")->type_name("FILE");
    test->add_option("--junit", job.junit,
            "Write the results as JUnit XML to FILE: a testcase per point, a failure per "
            "different, unstable or no-contact point, a skip per point not learned")
        ->type_name("FILE");
    test->add_option("--serial", job.serial, "The board's serial number, kept in the history");
    test->add_option("--operator", job.operatorName, "Who tested it, kept in the history");
    test->add_flag("--require-serial", job.requireSerial,
        "Refuse to test without a --serial (a history run without one names no board)");
    bool noHistory = false;
    test->add_flag("--no-history", noHistory, "Do not keep this run in the history");
    std::string order;
    test->add_option("--order", order,
            "history: the points most likely to fail first; path: the machine's least move time "
            "(--prober)")
        ->check(CLI::IsMember({ "file", "history", "path" }));
    learn->add_option("--order", order, "path: the machine's order of least move time (--prober)")
        ->check(CLI::IsMember({ "file", "path" }));
    for (CLI::App *sub : { learn, test })
        sub->add_option("--from", job.from,
            "Start at this point of the order: a run that stopped there goes on");
    for (CLI::App *sub : { learn, test })
        sub->add_option("--prober", job.prober,
               "A machine brings the probe: grbl:/dev/ttyUSB0?baud=115200 or "
               "grbl-tcp://host:port, with safe=, surface= (Z, mm), feed=, contact_feed= (mm/s), "
               "step=, travel= (mm)")
            ->type_name("URL");
    HistoryJob history;
    for (CLI::App *sub : { test })
        sub->add_option("--db", job.db,
               "The history: sqlite:PATH, PATH.sqlite or postgresql://user@host:port/db "
               "(default ZEM_DB, else a file in the user's data folder)")
            ->type_name("URL");
    CLI::App *historyCommand = addHistoryCommand(app, history);
    learn->add_flag("--add", job.add,
        "Add this board's curves to the references (a board of a lot) instead of replacing them");
    CLI::Option *autoSettings = learn->add_flag("--auto-settings", job.autoSettings,
        "Measure each point with every current range and keep the settings that show it best");
    learn
        ->add_option("--variant", job.variant,
            "Learn the curves as this variant's references (a second source's part, a jumper "
            "set the other way), not the points' own; each point must be learned already")
        ->type_name("NAME")
        ->excludes(autoSettings);
    CLI::Option *predict = learn->add_flag("--predict", job.predict,
        "No instrument: predict every point's references by simulating the board's parts "
        "(its netlist and BOM, imported with board --import --bom), marked predicted");
    learn
        ->add_option("--models", job.models,
            "With --predict: a models file of your own, read over the built-in one")
        ->type_name("FILE")
        ->needs(predict);
    learn
        ->add_option("--prediction-tolerance", job.predictionTolerance,
            "With --predict: the tolerance of predicted points, percent (default 25)")
        ->type_name("PERCENT")
        ->check(CLI::Range(0.0, 100.0))
        ->needs(predict);
    learn
        ->add_option("--common", job.common,
            "With --predict: the net the probe returns through (default GND)")
        ->type_name("NET")
        ->needs(predict);
    learn
        ->add_flag("--choose-settings", job.chooseSettings,
            "With --predict: first give each point the measurements (range, amplitude, "
            "frequency) that show the most of its net's single faults")
        ->needs(predict);
    predict->excludes(autoSettings);
    test->add_option("--bom-factor", job.bomFactor,
            "A resistor that reads more than F times off (or under) its \"expect\" value gets a "
            "note; never a failure")
        ->type_name("F")
        ->check(CLI::Range(1.0, 1e6))
        ->default_val(2);
    CLI::App *nets = app.add_subcommand("nets",
        "Measure the points that share a net and check each net's pads read alike; one JSON "
        "line a net");
    nets->add_option("FILE", job.file, "The signature file, its points with their \"net\"")
        ->required();
    nets->add_option("--prober", job.prober, "A machine brings the probe, as for test --prober")
        ->type_name("URL");
    for (CLI::App *sub : { compare, test, nets })
        sub->add_option("--repeat", job.repeat,
               "Captures of each point; when they disagree the point is unstable")
            ->check(CLI::Range(1, 20))
            ->default_val(2);
    CLI::App *symmetry = app.add_subcommand("symmetry",
        "Measure points that should look alike and flag the odd ones out; one JSON line a point");
    symmetry->add_option("FILE", job.file, "A signature file for settings, tolerance and groups");
    symmetry->add_option("--points", pointList, "The points, in order")->type_name("P1,P2,...");
    symmetry->add_option("--group", job.group, "The points of FILE in this group");
    for (CLI::App *sub : { learn, test, symmetry, nets })
        sub->add_flag("--button", job.button, "Wait for the probe's button before each point");
    for (CLI::App *sub : { learn, test, symmetry, nets })
        sub->add_flag("--on-contact", job.onContact,
            "Measure each point as soon as the curve under the probe holds still");

    BoardJob boardJob;
    CLI::App *board = addBoardCommand(app, boardJob);
    ProberJob proberJob;
    CLI::App *prober = addProberCommand(app, proberJob);

    for (CLI::App *sub : { list, describe, watch, measure, profile, replay, historyCommand, learn,
             compare, test, symmetry, nets, board, prober })
        sub->group("Tools");
    finishSubcommands(app);

    // The completion script asks here, with the line before the cursor and
    // the word bash completes.
    if (argc > 1 && std::string_view(argv[1]) == "__complete") {
        writeOutput(completions(app, argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : nullptr));
        return finishOutput(kExitOk);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return finishOutput(app.exit(e) == 0 ? kExitOk : kExitUsage);
    }

    const auto runParsed = [&]() -> int {
        if (!completionShell.empty())
            return writeOutput(kBashCompletion) ? kExitOk : kExitFailed;
        if (list->parsed())
            return listMain(context);
        if (describe->parsed())
            return describeMain(context, name, fieldNamesOnly);
        if (!context.startRecording())
            return kExitFailed;
        if (chosen)
            return commandMain(context, *chosen, assignments);
        if (watch->parsed())
            return watchMain(context, name, assignments, periodMs, count, fields);
        if (measure->parsed())
            return measureMain(context, assignments, file, !o.noFill);
        if (profileGet->parsed())
            return profileGetMain(context, file);
        if (profileSet->parsed())
            return profileSetMain(context, file);
        if (replay->parsed())
            return replayMain(context, file, ignore, tolerance, !noPauses);
        if (board->parsed())
            return boardMain(boardJob);
        if (prober->parsed())
            return proberMain(proberJob);
        if (historyCommand->parsed()) {
            history.text = context.format(Format::Json) == Format::Text;
            return historyMain(history);
        }
        job.history = !noHistory;
        job.historyOrder = order == "history";
        job.pathOrder = order == "path";
        if (learn->parsed() || compare->parsed() || test->parsed() || symmetry->parsed()
            || nets->parsed()) {
            job.mode = learn->parsed() ? SignatureJob::Mode::Learn
                : compare->parsed()    ? SignatureJob::Mode::Compare
                : symmetry->parsed()   ? SignatureJob::Mode::Symmetry
                : nets->parsed()       ? SignatureJob::Mode::Nets
                                       : SignatureJob::Mode::Test;
            for (std::size_t at = 0; !pointList.empty() && at != std::string::npos;) {
                const std::size_t comma = pointList.find(',', at);
                job.points.push_back(
                    pointList.substr(at, comma == std::string::npos ? comma : comma - at));
                at = comma == std::string::npos ? comma : comma + 1;
            }
            if (compare->parsed())
                job.points = { pointName };
            return signatureMain(context, job);
        }
        return shellMain(context);
    };

    const int exitCode = runParsed();
    // Closed here, so that a close the call file cannot take counts too.
    if (context.device.isOpen())
        context.device.close();
    return finishOutput(context.recorder.failed() && exitCode == kExitOk ? kExitFailed : exitCode);
}

} // namespace zemctl
