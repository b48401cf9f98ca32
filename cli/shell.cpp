// Several commands on one open device: a prompt with line editing, history
// and completion on a terminal, one JSON object a line for a pipe.
#include "lineeditor.h"
#include "measurejob.h"
#include "module.h"
#include "printable.h"
#include "zemctl.h"

#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace zemctl {

using zem::codec::Json;

namespace {

std::string helpText()
{
    std::string text = "Commands (Field=value arguments; --no-fill and --hex as on the "
                       "command line):\n";
    for (const zem::Command &c : zem::kCommands)
        text += std::string("  ") + c.name + '\n';
    text += "Also: measure [Field=value...] [-o FILE], list, describe COMMAND, help, quit.\n"
            "Tab completes commands and fields; Ctrl+C clears the line or stops a measurement.\n";
    return text;
}

} // namespace

std::vector<std::string> splitWords(const std::string &line, std::string &error)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        error = "unterminated quote";
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

Shell::Shell(Context &context, bool interactive)
    : m_context(context)
    , m_interactive(interactive)
{
}

bool Shell::reply(const Json &object)
{
    // Texts are the user's bytes and the device's, not always UTF-8.
    m_writable = m_writable
        && writeOutput(object.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n');
    return m_writable;
}

void Shell::fail(const std::string &message, int code, Json object)
{
    m_worst = std::max(m_worst, code);
    if (m_interactive) {
        printError(message);
        return;
    }
    object["error"] = printable(message);
    reply(object);
}

bool Shell::measure(const std::vector<std::string> &words)
{
    std::vector<std::string> assignments;
    std::string file;
    bool fill = !m_context.options.noFill;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if ((words[i] == "-o" || words[i] == "--output") && i + 1 < words.size())
            file = words[++i];
        else if (words[i] == "--no-fill")
            fill = false;
        else
            assignments.push_back(words[i]);
    }
    if (m_interactive) {
        m_worst = std::max(m_worst, measureMain(m_context, assignments, file, fill, Format::Text));
        return m_writable = m_writable && writeOutput({});
    }
    MeasureJob job;
    Json object { { "command", "measure" } };
    const int code = takeMeasurement(m_context, assignments, fill, job);
    if (code == kExitDevice) {
        object["result"] = job.result;
        object["result_name"] = resultName(job.result);
    }
    if (code != kExitOk) {
        fail(job.message.empty() ? "cannot open device " + m_context.options.url : job.message,
            code, std::move(object));
        return m_writable;
    }
    if (!file.empty()) {
        if (const std::string error = writeCurve(job, file); !error.empty()) {
            fail(error, kExitFailed, std::move(object));
            return m_writable;
        }
        object["file"] = file;
    }
    object["result"] = 0;
    object["figures"] = { { "points", job.points }, { "slope_ohms", job.slopeOhms },
        { "r_squared", job.rSquared }, { "peak_mA", job.peakMilliamps }, { "run_ms", job.runMs },
        { "reading", job.reading } };
    if (file.empty())
        object["response"] = Json::parse(job.json, nullptr, false);
    return reply(object);
}

bool Shell::execute(const std::string &line)
{
    std::string error;
    std::vector<std::string> words = splitWords(line, error);
    if (!error.empty()) {
        fail(error, kExitUsage, Json::object());
        return m_writable;
    }
    if (words.empty() || words[0][0] == '#')
        return true;
    const std::string name = words[0];
    if (name == "quit" || name == "exit")
        return false;
    if (name == "help" || name == "list") {
        if (m_interactive) {
            if (name == "help")
                m_writable = m_writable && writeOutput(helpText());
            else
                listMain(m_context);
        } else {
            Json names = Json::array();
            for (const zem::Command &c : zem::kCommands)
                names.push_back(c.name);
            reply({ { "commands", names } });
        }
        return m_writable = m_writable && writeOutput({});
    }
    if (name == "describe") {
        if (words.size() != 2 || !findCommand(words[1])) {
            fail("usage: describe COMMAND (see list)", kExitUsage, Json::object());
            return m_writable;
        }
        const std::string saved = m_context.options.format;
        if (!m_interactive)
            m_context.options.format = "json";
        describeMain(m_context, words[1], false);
        m_context.options.format = saved;
        return m_writable = m_writable && writeOutput({});
    }
    if (name == "measure")
        return measure(words) && !m_context.recorder.failed();
    const zem::Command *c = findCommand(name);
    if (!c) {
        fail("unknown command \"" + name + "\"; type help", kExitUsage, Json::object());
        return m_writable;
    }
    bool fill = !m_context.options.noFill, hex = m_context.options.hex;
    std::vector<std::string> assignments;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "--no-fill")
            fill = false;
        else if (words[i] == "--hex")
            hex = true;
        else
            assignments.push_back(words[i]);
    }
    const CommandRun run = runCommand(m_context, *c, assignments, fill);
    const bool shows = run.called && (run.result == 0 || run.result == -3);
    if (m_interactive) {
        if (shows)
            m_writable = m_writable
                && writeOutput(m_context.format(Format::Text) == Format::Text
                        ? textOutput(run, hex)
                        : jsonOutput(run, hex) + '\n');
        if (!run.error.empty())
            fail(run.error, run.exitCode, Json::object());
        else
            m_worst = std::max(m_worst, run.exitCode);
        return m_writable && !m_context.recorder.failed();
    }
    Json object { { "command", c->name } };
    if (run.called || run.exitCode == kExitDevice) {
        object["result"] = run.result;
        object["result_name"] = resultName(run.result);
    }
    if (shows) {
        object["response"] = Json::parse(jsonOutput(run, false));
        if (hex)
            object["hex"] = zem::codec::toHex(run.response.data(), run.response.size());
    }
    if (run.exitCode != kExitOk)
        fail(run.error.empty() ? "cannot open device " + m_context.options.url : run.error,
            run.exitCode, std::move(object));
    else
        reply(object);
    return m_writable && !m_context.recorder.failed();
}

namespace {

// Longest line the shell reads from a pipe; a longer one is answered with an
// error and skipped, so a stream without newlines cannot take all memory.
constexpr std::size_t kMaxLineLength = 1 << 20;

// Reads one line into `line` without its newline; false at the end of the
// input. A line cut at kMaxLineLength is emptied and `tooLong` set.
bool readLine(std::string &line, bool &tooLong)
{
    line.clear();
    tooLong = false;
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
        if (line.size() < kMaxLineLength)
            line += char(c);
        else
            tooLong = true;
    }
    if (tooLong)
        line.clear();
    return c != EOF || !line.empty() || tooLong;
}

} // namespace

int shellMain(Context &context)
{
    if (!context.openDevice())
        return context.openError;
    const bool interactive = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    Shell shell(context, interactive);
    std::string line;
    bool tooLong = false;
    if (!interactive) {
        while (readLine(line, tooLong)) {
            if (tooLong)
                shell.refuse("a line longer than 1 MiB; skipped");
            else if (!shell.execute(line))
                break;
        }
        return shell.exitCode();
    }

    // Ctrl+C clears the line being typed, or stops a measurement, instead
    // of ending the shell; Ctrl+D or quit ends it.
    catchInterrupts();
    LineEditor editor;
    const bool editable = editor.start();
    if (!editable)
        printError(std::string("line editing is not available (") + ZEMCTL_LIBEDIT + " not found)");
    writeOutput(
        "zemctl on " + printable(context.options.url) + "; help lists the commands, quit ends.\n");
    for (;;) {
        interrupted = 0;
        bool ended;
        if (editable) {
            ended = !editor.readLine("zem> ", line);
        } else {
            // Still usable, without editing: one command a line, as from a pipe.
            writeOutput("zem> ");
            ended = !readLine(line, tooLong);
            if (ended && interrupted)
                std::clearerr(stdin);
        }
        if (ended && interrupted) {
            writeOutput("\n");
            continue;
        }
        if (ended) {
            writeOutput("\n");
            break;
        }
        if (editable)
            editor.remember(line);
        if (!shell.execute(line))
            break;
    }
    releaseInterrupts();
    if (editable)
        editor.finish();
    return shell.exitCode();
}

} // namespace zemctl
