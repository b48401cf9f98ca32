#include "lineeditor.h"

#include "measurejob.h"
#include "module.h"
#include "zemctl.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include <dlfcn.h>
#include <editline/readline.h>

namespace zemctl {
namespace {

const char *const kShellWords[] = { "help", "quit", "list", "describe", "measure" };

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
    } else if (words[0] == "measure") {
        for (const zem::Field &f : findCommand(kMeasureSettings)->request->fields)
            candidates.push_back(std::string(f.name) + "=");
        candidates.insert(candidates.end(), { "-o ", "--no-fill" });
        *editing.completionAppendCharacter = '\0';
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

} // namespace

bool LineEditor::start()
{
    if (!editing.load())
        return false;
    *editing.readlineName = "zemctl";
    *editing.attemptedCompletionFunction = &complete;
    editing.usingHistory();
    m_history = historyFile();
    if (!m_history.empty())
        editing.readHistory(m_history.c_str());
    return true;
}

bool LineEditor::readLine(const char *prompt, std::string &line)
{
    char *raw = editing.readline(prompt);
    line = raw ? raw : "";
    std::free(raw);
    return raw != nullptr;
}

void LineEditor::remember(const std::string &line)
{
    if (line.find_first_not_of(" \t") != std::string::npos)
        editing.addHistory(line.c_str());
}

void LineEditor::finish()
{
    if (!m_history.empty())
        editing.writeHistory(m_history.c_str());
}

} // namespace zemctl
