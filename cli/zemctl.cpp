#include "zemctl.h"

#include "boardjob.h"
#include "signaturejob.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace zemctl {

void printError(const std::string &message)
{
    std::fflush(stdout); // what was printed before comes first
    std::fprintf(stderr, "zemctl: %s\n", message.c_str());
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
        return false;
    }
    if (device.open(options.url) == -1) {
        printError("cannot open device " + options.url);
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

namespace {

const char *const kFooter
    = R"(Commands take Field=value arguments for their request. Arrays are comma
lists (Reserved0=1,2,3,4), flag words are names joined by '|' or a number,
fields with named values take the name or a number. A setter's fields left
out are read from its getter first, unless --no-fill is given.

Without a command, zemctl opens a shell on the device: a prompt with line
editing, history and completion on a terminal, otherwise one command a line
from standard input and one JSON object a line on standard output; it exits
with the highest status of its lines.

Environment:
  ZEM_URL   the device URL when -u is not given

Exit status:
  0  the command succeeded (result 0)
  1  usage error, bad input, a file or the device could not be opened
  2  the device answered another result; its name is printed on stderr
  4  replay found responses that differ from the recorded ones
  5  compare or test found a point that differs from its signature (or has none)

Examples:
  zemctl -u 'virtual://resistor?ohms=1000' get_status
  zemctl -u URL --format text get_identity_information
  zemctl -u URL set_measurement_settings NumberPoints=200 CurrentSensorMode=CURRENT_SENSE_MODE_I_LOW
  zemctl -u URL watch get_status --period 100 --count 50 --field Temperature
  zemctl -u URL measure NumberPoints=100 -o curve.csv
  zemctl -u URL --record calls.jsonl measure && zemctl -u URL replay calls.jsonl
  zemctl -u URL learn board.json --points R1,R2,U1.3 --button
  zemctl -u URL test board.json --report board.html
  zemctl board board.json --image board.jpg --place R1=812,440 --place D1=1020,455
)";

std::string commandDescription(const zem::Command &c)
{
    std::string text = "Calls " + std::string(c.operation);
    if (c.getter)
        text += std::string("; fields not given are read with ") + c.getter;
    else if (c.request)
        for (const zem::Field &f : c.request->fields)
            text += std::string(&f == c.request->fields.begin() ? "; fields: " : ", ") + f.name;
    return text;
}

// The device command an invocation names, when it surely does: the first
// word that is neither an option nor an option's value, and no --help.
const zem::Command *commandNamedIn(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "-h" || word == "--help")
            return nullptr;
        if (word == "-u" || word == "--url" || word == "--record" || word == "--format") {
            ++i;
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        const zem::Command *c = findCommand(word);
        if (!c)
            return nullptr;
        for (int k = i + 1; k < argc; ++k)
            if (std::string_view(argv[k]) == "-h" || std::string_view(argv[k]) == "--help")
                return nullptr;
        return c;
    }
    return nullptr;
}

} // namespace

int run(int argc, char **argv)
{
    CLI::App app { "Command-line access to a zem instrument: every command, JSON in and out, "
                   "polling, measurements, call recording and replay.",
        "zemctl" };
    app.set_version_flag("--version", std::string(ZEMCTL_VERSION));
    app.footer(kFooter);
    app.require_subcommand(0, 1);

    Context context;
    Options &o = context.options;
    app.add_option("-u,--url", o.url, "Device URL, passed to the library as it is")
        ->envname("ZEM_URL");
    app.add_option("--record", o.recordFile, "Append every library call to FILE (JSON Lines)")
        ->type_name("FILE");
    app.add_option("--format", o.format, "Output: json (default for commands) or text")
        ->check(CLI::IsMember({ "json", "text" }));
    app.add_flag("--hex", o.hex, "Add the raw record bytes to the output");
    app.add_flag("--no-fill", o.noFill, "Do not read a setter's missing fields from its getter");

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
        sub->fallthrough();
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
    measure->add_option("-o,--output", file,
        "Write the curve to FILE: CSV for *.csv, else the results.json layout (default: stdout)");

    CLI::App *profile = app.add_subcommand("profile", "Device profiles");
    profile->require_subcommand(1);
    CLI::App *profileGet = profile->add_subcommand("get", "Read the device's profile");
    profileGet->add_option("-o,--output", file, "Write it to FILE (default: stdout)");
    CLI::App *profileSet = profile->add_subcommand("set", "Hand FILE to the device as its profile");
    profileSet->add_option("FILE", file, "The profile")->required();

    std::string ignore;
    CLI::App *replay = app.add_subcommand(
        "replay", "Send each recorded request again and compare the responses");
    replay->add_option("FILE", file, "A call file written with --record")->required();
    replay->add_option("--ignore", ignore, "Fields not to compare, e.g. Temperature,IOEvents")
        ->type_name("Field,...");

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
    for (CLI::App *sub : { learn, test })
        sub->add_flag("--button", job.button, "Wait for the probe's button before each point");

    BoardJob boardJob;
    CLI::App *board = app.add_subcommand(
        "board", "Embed a picture of the board and place points on it; JSON summary out");
    board->add_option("FILE", boardJob.file, "The signature file")->required();
    board->add_option("--image", boardJob.image, "A PNG or JPEG of the board to embed")
        ->type_name("PHOTO");
    board->add_option("--place", boardJob.places, "Place a point at pixel X,Y of the picture")
        ->type_name("NAME=X,Y");

    for (CLI::App *sub : { list, describe, watch, measure, profile, profileGet, profileSet, replay,
             learn, compare, test, board })
        sub->fallthrough()->group("Tools");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }

    if (list->parsed())
        return listMain(context);
    if (board->parsed())
        return boardMain(boardJob);
    if (describe->parsed())
        return describeMain(context, name, fieldNamesOnly);
    if (!context.startRecording())
        return kExitUsage;
    if (chosen)
        return commandMain(context, *chosen, assignments);
    if (watch->parsed())
        return watchMain(context, name, assignments, periodMs, count, fields);
    if (measure->parsed())
        return measureMain(context, assignments, file);
    if (profileGet->parsed())
        return profileGetMain(context, file);
    if (profileSet->parsed())
        return profileSetMain(context, file);
    if (replay->parsed())
        return replayMain(context, file, ignore);
    if (learn->parsed() || compare->parsed() || test->parsed()) {
        job.mode = learn->parsed() ? SignatureJob::Mode::Learn
            : compare->parsed()    ? SignatureJob::Mode::Compare
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
}

} // namespace zemctl
