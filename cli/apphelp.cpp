// zemctl's help texts and the pieces of its command line that every
// subcommand shares: the commands' descriptions, the rate check, the help
// each subcommand gets.
#include "apphelp.h"

#include "exitcodes.h"
#include "records.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>

namespace zemctl {

namespace {

// What every subcommand that takes Field=value arguments shows in its help.
const char *const kFieldsHelpText
    = R"(Commands take Field=value arguments for their request. Arrays are comma
lists (Reserved0=1,2,3,4), flag words are names joined by '|' or a number,
fields with named values take the name or a number. A setter's fields left
out are read from its getter first, unless --no-fill is given.
)";

// A rate is said back as the user wrote it: a number too small for a double
// would otherwise read as 0 and be reported as "0.000000".
const CLI::Validator kFalseFailRateCheck(
    [](std::string &text) -> std::string {
        errno = 0;
        char *end = nullptr;
        const double rate = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0')
            return text + " is not a number";
        if (errno == ERANGE || !(rate > 0 && rate < 1))
            return text + " is out of range: a false-fail rate is between 0 and 1, e.g. 0.001";
        return {};
    },
    "RATE");

const char *const kFooter = R"(
Without a command, zemctl opens a shell on the device: a prompt with line
editing, history and completion on a terminal (Ctrl+C clears the line),
otherwise one command a line from standard input and one JSON object a line
on standard output; measure works there too. It exits with the highest
status of its lines.

Environment:
  ZEM_URL         the device URL when -u is not given
  ZEM_PROBER      the probing machine when prober's --prober is not given
  ZEM_DB          the test history when --db is not given (sqlite:PATH,
                  PATH.sqlite or postgresql://user@host/database)
  XDG_DATA_HOME   where the default history lives (zem-tools/history.sqlite,
                  else under ~/.local/share)
  HOME            the shell's history, ~/.zemctl_history

)";

const char *const kExamples = R"(
Examples:
  zemctl -u 'virtual://resistor?ohms=1000' get_status
  zemctl -u URL --format text get_identity_information
  zemctl -u URL set_measurement_settings NumberPoints=200 CurrentSensorMode=CURRENT_SENSE_MODE_I_LOW
  zemctl -u URL watch get_status --period 100 --count 50 --field Temperature
  zemctl -u URL measure NumberPoints=100 -o curve.csv
  zemctl -u URL --format text measure NumberPoints=10
  zemctl -u URL --record calls.jsonl measure && zemctl replay calls.jsonl
  zemctl -u URL replay calls.jsonl --tolerance 0.01,0.01 --no-pauses
  zemctl -u URL learn board.json --points R1,R2,U1.3 --button
  zemctl -u URL test board.json --report board.html
  zemctl -u URL learn board.json --add          # one more good board
  zemctl -u URL symmetry --points D0,D1,D2,D3   # no good board: the odd one out
  zemctl -u URL nets board.json                 # no good board: pads of a net alike
  zemctl board board.json --image board.jpg --place R1=812,440 --place D1=1020,455
  zemctl board board.json --fiducial F1=5,5,210,1880 --fiducial F2=95,5,3610,1890 --mm R1=40.5,22
  zemctl board board.json --import board.d356 --side top --refdes 'U*,R*' --bom bom.csv
)";

} // namespace

std::string appFooter()
{
    return std::string(kFieldsHelpText) + kFooter + exitStatusHelp() + kExamples;
}

const CLI::Validator &falseFailRate()
{
    return kFalseFailRateCheck;
}

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

std::string commandPath(const CLI::App &app)
{
    return app.get_parent() ? commandPath(*app.get_parent()) + ' ' + app.get_name()
                            : app.get_name();
}

// Every subcommand takes the options of the commands above it after it as
// well as before it. Its help says which, and explains Field=value where it
// takes them; the program's footer stays with the program's help.
void finishSubcommands(CLI::App &app)
{
    for (CLI::App *sub : app.get_subcommands([](CLI::App *) { return true; })) {
        sub->fallthrough();
        std::string footer
            = sub->get_option_no_throw("Field=value") ? std::string(kFieldsHelpText) + '\n' : "";
        for (const CLI::App *above = &app; above; above = above->get_parent()) {
            std::string names;
            for (const CLI::Option *o : above->get_options())
                if (o->nonpositional() && !o->get_group().empty() && o != above->get_help_ptr()
                    && o != above->get_version_ptr())
                    names += ' ' + o->get_name();
            if (!names.empty())
                footer += "Options of " + commandPath(*above) + " apply here too:" + names + '\n';
        }
        sub->footer(footer);
        finishSubcommands(*sub);
    }
}


} // namespace zemctl
