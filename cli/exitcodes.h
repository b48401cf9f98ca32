// zemctl's exit statuses: one table, read by every subcommand, the modules,
// --help and the tests. A status keeps its number once documented: scripts
// test for it.
#pragma once

#include <cstddef>
#include <string>

namespace zemctl {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitDevice = 2,
    kExitInput = 3,
    kExitMismatch = 4,
    kExitDifferent = 5,
    kExitUnstable = 6,
    kExitIncomplete = 7,
    kExitUsage = 64,
    kExitInterrupted = 130,
};

struct ExitStatus
{
    ExitCode code;
    const char *name; // for scripts and the tests
    const char *meaning; // one sentence for --help and the manual pages
};

inline constexpr ExitStatus kExitStatuses[] = {
    { kExitOk, "ok", "the command succeeded: every call answered result 0, every point passed" },
    { kExitFailed, "failed",
        "an output could not be written (standard output, a file, --record, the history), or "
        "was refused because it would be written over another of the run's files" },
    { kExitDevice, "device",
        "the device or its library failed: it could not be opened, answered another result "
        "(named on stderr), or a module or the machine could not be used" },
    { kExitInput, "input",
        "an input file could not be read or is malformed (a profile, a call "
        "file, a signature, a picture, a damaged history)" },
    { kExitMismatch, "mismatch", "replay found responses that differ from the recorded ones" },
    { kExitDifferent, "different",
        "compare or test found a point that differs from its signature, has none, reads unlike "
        "its net or had no contact; nets found a net whose points disagree" },
    { kExitUnstable, "unstable",
        "test found points whose own captures disagree, and nothing that fails" },
    { kExitIncomplete, "incomplete",
        "learn or test did not reach every point (Ctrl+C, the prompt, or a test over fewer "
        "points than the board has with nothing failing: partial)" },
    { kExitUsage, "usage",
        "usage error: an unknown command, option or field, or a bad value (nothing was called)" },
    { kExitInterrupted, "interrupted",
        "a measurement stopped with Ctrl+C (watch ends with Ctrl+C as it ends after --count)" },
};

// The table as --help shows it: one status a paragraph, wrapped at width.
inline std::string exitStatusHelp(std::size_t width = 78)
{
    std::string text = "Exit status:\n";
    for (const ExitStatus &s : kExitStatuses) {
        std::string line = "  " + std::to_string(int(s.code));
        line.resize(7, ' ');
        std::size_t column = line.size();
        std::string word;
        const std::string meaning = s.meaning;
        for (std::size_t k = 0; k <= meaning.size(); ++k) {
            if (k < meaning.size() && meaning[k] != ' ') {
                word += meaning[k];
                continue;
            }
            if (column + 1 + word.size() > width && column > 7) {
                line += "\n       ";
                column = 7;
            } else if (column > 7) {
                line += ' ';
                ++column;
            }
            line += word;
            column += word.size();
            word.clear();
        }
        text += line + '\n';
    }
    return text;
}

} // namespace zemctl
