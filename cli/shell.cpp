// Several commands on one open device: a prompt with line editing, history
// and completion on a terminal, one JSON object a line for a pipe.
#include "zemctl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include <dlfcn.h>
#include <editline/readline.h>
#include <unistd.h>

namespace zemctl {

using zem::codec::Json;

namespace {

const char *const kShellWords[] = { "help", "quit", "list", "describe" };

// Line editing is loaded only when a person types at a terminal: linked, it
// and the libraries under it would slow every start of the program.
struct LineEditing
{
    decltype(&::readline) readline = nullptr;
    decltype(&::add_history) addHistory = nullptr;
    decltype(&::read_history) readHistory = nullptr;
    decltype(&::write_history) writeHistory = nullptr;
    decltype(&::using_history) usingHistory = nullptr;
    decltype(&::rl_completion_matches) completionMatches = nullptr;
    decltype(&::rl_attempted_completion_function) attemptedCompletionFunction = nullptr;
    decltype(&::rl_attempted_completion_over) attemptedCompletionOver = nullptr;
    decltype(&::rl_completion_append_character) completionAppendCharacter = nullptr;
    decltype(&::rl_line_buffer) lineBuffer = nullptr;
    decltype(&::rl_readline_name) readlineName = nullptr;

    bool load()
    {
        void *library = dlopen(ZEMCTL_LIBEDIT, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return false;
        auto get = [library](auto &pointer, const char *name) {
            pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(
                dlsym(library, name));
            return pointer != nullptr;
        };
        return get(readline, "readline") && get(addHistory, "add_history")
            && get(readHistory, "read_history") && get(writeHistory, "write_history")
            && get(usingHistory, "using_history") && get(completionMatches, "rl_completion_matches")
            && get(attemptedCompletionFunction, "rl_attempted_completion_function")
            && get(attemptedCompletionOver, "rl_attempted_completion_over")
            && get(completionAppendCharacter, "rl_completion_append_character")
            && get(lineBuffer, "rl_line_buffer") && get(readlineName, "rl_readline_name");
    }
};

LineEditing editing;

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
        = splitWords(std::string(*editing.lineBuffer, std::size_t(start)), error);
    if (words.empty()) {
        for (const zem::Command &c : zem::kCommands)
            candidates.push_back(c.name);
        candidates.insert(candidates.end(), std::begin(kShellWords), std::end(kShellWords));
        *editing.completionAppendCharacter = ' ';
    } else if (words[0] == "describe") {
        for (const zem::Command &c : zem::kCommands)
            candidates.push_back(c.name);
        *editing.completionAppendCharacter = ' ';
    } else if (const zem::Command *c = findCommand(words[0]); c && c->request) {
        for (const zem::Field &f : c->request->fields)
            candidates.push_back(std::string(f.name) + "=");
        candidates.push_back("--no-fill");
        *editing.completionAppendCharacter = '\0';
    }
    *editing.attemptedCompletionOver = 1;
    return editing.completionMatches(text, &nextCandidate);
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
    if (!editing.load()) {
        // Still usable, without editing: one command a line, as from a pipe.
        printError(std::string("line editing is not available (") + ZEMCTL_LIBEDIT + " not found)");
        std::string line;
        for (;;) {
            std::fputs("zem> ", stdout);
            std::fflush(stdout);
            int c;
            line.clear();
            while ((c = std::getchar()) != EOF && c != '\n')
                line += char(c);
            if ((c == EOF && line.empty()) || !shell.execute(line))
                break;
        }
        return shell.exitCode();
    }
    const std::string history = historyFile();
    *editing.readlineName = "zemctl";
    *editing.attemptedCompletionFunction = &complete;
    editing.usingHistory();
    if (!history.empty())
        editing.readHistory(history.c_str());
    std::printf("zemctl on %s; help lists the commands, quit ends.\n", context.options.url.c_str());
    for (;;) {
        char *raw = editing.readline("zem> ");
        if (!raw) {
            std::putchar('\n');
            break;
        }
        const std::string line(raw);
        std::free(raw);
        if (line.find_first_not_of(" \t") != std::string::npos)
            editing.addHistory(line.c_str());
        if (!shell.execute(line))
            break;
    }
    if (!history.empty())
        editing.writeHistory(history.c_str());
    return shell.exitCode();
}

} // namespace zemctl
