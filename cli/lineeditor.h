// The shell's prompt for a person at a terminal: line editing, history in
// ~/.zemctl_history, and completion of commands and their request fields.
// The editing library is opened at run time, only when it is asked for.
#pragma once

#include <string>

namespace zemctl {

class LineEditor
{
public:
    // False when the editing library cannot be loaded; nothing else works then.
    bool start();
    // The line typed without its newline; false at the end of the input (Ctrl+D).
    bool readLine(const char *prompt, std::string &line);
    // A line worth keeping in the history (not a blank one).
    void remember(const std::string &line);
    // The history written back for the next session.
    void finish();

private:
    std::string m_history;
};

} // namespace zemctl
