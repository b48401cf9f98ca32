// Several commands on one open device: a prompt with line editing, history
// and completion on a terminal, one JSON object a line for a pipe.
#include "zemctl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <editline/readline.h>
#include <unistd.h>

namespace zemctl {

using zem::codec::Json;

namespace {

const char *const kShellWords[] = { "help", "quit", "list", "describe" };

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

std::string helpText()
{
    std::string text = "Commands (Field=value arguments; --no-fill and --hex as on the "
                       "command line):\n";
    for (const zem::Command &c : zem::kCommands)
        text += std::string("  ") + c.name + '\n';
    text += "Also: list, describe COMMAND, help, quit. Tab completes commands and fields.\n";
    return text;
}

// Completion: the command as the first word, its request fields after it.
std::vector<std::string> candidates;

char *nextCandidate(const char *text, int state)
{
    static std::size_t index;
    if (state == 0)
        index = 0;
    const std::size_t length = std::strlen(text);
    while (index < candidates.size()) {
        const std::string &c = candidates[index++];
        if (c.compare(0, length, text) == 0)
            return strdup(c.c_str());
    }
    return nullptr;
}

char **complete(const char *text, int start, int)
{
    candidates.clear();
    std::string error;
    const std::vector<std::string> words
        = splitWords(std::string(rl_line_buffer, std::size_t(start)), error);
    if (words.empty()) {
        for (const zem::Command &c : zem::kCommands)
            candidates.push_back(c.name);
        candidates.insert(candidates.end(), std::begin(kShellWords), std::end(kShellWords));
        rl_completion_append_character = ' ';
    } else if (words[0] == "describe") {
        for (const zem::Command &c : zem::kCommands)
            candidates.push_back(c.name);
        rl_completion_append_character = ' ';
    } else if (const zem::Command *c = findCommand(words[0]); c && c->request) {
        for (const zem::Field &f : c->request->fields)
            candidates.push_back(std::string(f.name) + "=");
        candidates.push_back("--no-fill");
        rl_completion_append_character = '\0';
    }
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, &nextCandidate);
}

std::string historyFile()
{
    const char *home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.zemctl_history" : std::string();
}

class Shell
{
public:
    Shell(Context &context, bool interactive)
        : context(context)
        , interactive(interactive)
    {
    }

    // Runs one line; false on quit.
    bool execute(const std::string &line);
    int exitCode() const { return worst; }

private:
    void fail(const std::string &message, int code, Json reply = Json::object());
    void reply(const Json &object) { std::puts(object.dump().c_str()); }

    Context &context;
    bool interactive;
    int worst = kExitOk;
};

void Shell::fail(const std::string &message, int code, Json object)
{
    worst = std::max(worst, code);
    if (interactive) {
        printError(message);
        return;
    }
    object["error"] = message;
    reply(object);
}

bool Shell::execute(const std::string &line)
{
    std::string error;
    std::vector<std::string> words = splitWords(line, error);
    if (!error.empty()) {
        fail(error, kExitUsage);
        return true;
    }
    if (words.empty() || words[0][0] == '#')
        return true;
    const std::string name = words[0];
    if (name == "quit" || name == "exit")
        return false;
    if (name == "help" || name == "list") {
        if (interactive) {
            std::fputs(name == "help" ? helpText().c_str() : "", stdout);
            if (name == "list")
                listMain(context);
        } else {
            Json names = Json::array();
            for (const zem::Command &c : zem::kCommands)
                names.push_back(c.name);
            reply({ { "commands", names } });
        }
        return true;
    }
    if (name == "describe") {
        if (words.size() != 2 || !findCommand(words[1])) {
            fail("usage: describe COMMAND (see list)", kExitUsage);
            return true;
        }
        const std::string saved = context.options.format;
        if (!interactive)
            context.options.format = "json";
        describeMain(context, words[1], false);
        context.options.format = saved;
        return true;
    }
    const zem::Command *c = findCommand(name);
    if (!c) {
        fail("unknown command \"" + name + "\"; type help", kExitUsage);
        return true;
    }
    bool fill = !context.options.noFill, hex = context.options.hex;
    std::vector<std::string> assignments;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "--no-fill")
            fill = false;
        else if (words[i] == "--hex")
            hex = true;
        else
            assignments.push_back(words[i]);
    }
    const CommandRun run = runCommand(context, *c, assignments, fill);
    const bool shows = run.called && (run.result == 0 || run.result == -3);
    if (interactive) {
        if (shows) {
            const std::string out = context.format(Format::Text) == Format::Text
                ? textOutput(run, hex)
                : jsonOutput(run, hex) + '\n';
            std::fputs(out.c_str(), stdout);
        }
        if (!run.error.empty())
            fail(run.error, run.exitCode);
        else
            worst = std::max(worst, run.exitCode);
        std::fflush(stdout);
        return true;
    }
    Json object { { "command", c->name } };
    if (run.called || run.exitCode == kExitResult) {
        object["result"] = run.result;
        object["result_name"] = resultName(run.result);
    }
    if (shows) {
        object["response"] = Json::parse(jsonOutput(run, false));
        if (hex)
            object["hex"] = zem::codec::toHex(run.response.data(), run.response.size());
    }
    if (run.exitCode != kExitOk)
        fail(run.error.empty() ? "cannot open device " + context.options.url : run.error,
            run.exitCode, std::move(object));
    else
        reply(object);
    std::fflush(stdout);
    return true;
}

} // namespace

int shellMain(Context &context)
{
    if (!context.openDevice())
        return kExitUsage;
    const bool interactive = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    Shell shell(context, interactive);
    if (!interactive) {
        std::string line;
        int c;
        for (;;) {
            line.clear();
            while ((c = std::getchar()) != EOF && c != '\n')
                line += char(c);
            if (c == EOF && line.empty())
                break;
            if (!shell.execute(line) || c == EOF)
                break;
        }
        return shell.exitCode();
    }
    const std::string history = historyFile();
    rl_readline_name = "zemctl";
    rl_attempted_completion_function = &complete;
    using_history();
    if (!history.empty())
        read_history(history.c_str());
    std::printf("zemctl on %s; help lists the commands, quit ends.\n", context.options.url.c_str());
    for (;;) {
        char *raw = readline("zem> ");
        if (!raw) {
            std::putchar('\n');
            break;
        }
        const std::string line(raw);
        std::free(raw);
        if (line.find_first_not_of(" \t") != std::string::npos)
            add_history(line.c_str());
        if (!shell.execute(line))
            break;
    }
    if (!history.empty())
        write_history(history.c_str());
    return shell.exitCode();
}

} // namespace zemctl
