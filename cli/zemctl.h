// zemctl: every command of the instrument from the command line, as JSON.
// The program's logic lives here so that tests and benchmarks reach it; its
// main() only calls run().
#pragma once

#include "callappender.h"
#include "codec.h"
#include "connection.h"
#include "exitcodes.h"

#include <string>
#include <vector>

namespace zemctl {

using zem::findCommand;
using zem::calls::resultName;
using zem::codec::valueText;

enum class Format { Json, Text };

struct Options
{
    std::string url;
    std::string recordFile;
    std::string format; // "", "json" or "text"
    bool hex = false;
    bool noFill = false;
};

// What every subcommand works with: the options, the one device and the call
// file that hears its calls.
class Context
{
public:
    Options options;
    CallAppender recorder; // before the device: its close is recorded too
    zem::Connection device;

    Context();

    // Opens the device of -u or ZEM_URL unless open; false after printing why,
    // with openError the exit code that says why (no URL given is usage).
    bool openDevice();
    ExitCode openError = kExitDevice;
    // Starts the call file of --record; false after printing why.
    bool startRecording();
    Format format(Format fallback) const;
};

// Prints "zemctl: message" on stderr, control characters escaped.
void printError(const std::string &message);
// Writes text to standard output at once; false, with the reason kept for
// the exit code, once a write failed (a full disk, a closed pipe).
bool writeOutput(std::string_view text);

// One command with "Field=value" assignments: validates them, fills a
// setter's request from its getter unless noFill, calls, and keeps the
// records. exitCode is kExitOk, kExitUsage (bad input, nothing called),
// kExitDevice (not opened, or another result).
struct CommandRun
{
    const zem::Command *command = nullptr;
    std::vector<std::uint8_t> request;
    std::vector<std::uint8_t> response;
    std::int32_t result = 0;
    bool called = false;
    int exitCode = kExitOk;
    std::string error; // for the user, when exitCode is not kExitOk
};

// Checks the assignments against the command's request; "" or the error.
std::string parseAssignments(const zem::Command &command,
    const std::vector<std::string> &assignments, std::vector<std::uint8_t> &request);
CommandRun runCommand(Context &context, const zem::Command &command,
    const std::vector<std::string> &assignments, bool fill);
// The fill rule: a setter's request read from its getter, then the
// assignments put back on top. The getter's result; for any but 0 the error
// says that nothing was set.
std::int32_t fillRequest(Context &context, const zem::Command &setter,
    const std::vector<std::string> &assignments, std::vector<std::uint8_t> &request,
    std::string &error);

// The response (or the request when `request`) as zemctl prints it.
std::string jsonOutput(const CommandRun &run, bool hex);
std::string textOutput(const CommandRun &run, bool hex);

// Subcommands; each returns the process's exit code.
int commandMain(
    Context &context, const zem::Command &command, const std::vector<std::string> &assignments);
int listMain(Context &context);
int describeMain(Context &context, const std::string &command, bool fieldNamesOnly);
int shellMain(Context &context);
int watchMain(Context &context, const std::string &command,
    const std::vector<std::string> &assignments, int periodMs, long long count,
    const std::vector<std::string> &fields);
int profileGetMain(Context &context, const std::string &fileName);
int profileSetMain(Context &context, const std::string &fileName);
// Replays a call file on the device of -u, else on the one the file opened;
// with pauses, each call waits as long after the one before as it did when
// recorded.
int replayMain(Context &context, const std::string &fileName, const std::string &ignore,
    const std::string &tolerance, bool pauses = true);
// A replay of more command calls than this reports its progress on stderr.
inline constexpr std::size_t kReplayProgressAbove = 200;
// The curve to fileName (CSV for *.csv, else results.json's layout) or to
// standard output, its figures on standard error; in the text format the
// figures go to the output, and a curve there as one aligned line a point.
int measureMain(Context &context, const std::vector<std::string> &assignments,
    const std::string &fileName, bool fill, Format fallback = Format::Json);
// The setter whose fields measure's Field=value arguments are.
inline constexpr const char *kMeasureSettings = "set_measurement_settings";

struct MeasureJob;
// One measurement: the settings assignments written first (with fill unless
// not `fill`), then the module's run. kExitOk with the job's results filled
// in, or the exit code with the reason in job.message (empty when the device
// could not be opened: that was printed).
int takeMeasurement(
    Context &context, const std::vector<std::string> &assignments, bool fill, MeasureJob &job);
// Writes the curve to fileName: CSV for *.csv, else results.json's layout;
// "" or why not.
std::string writeCurve(const MeasureJob &job, const std::string &fileName);
// The figures as aligned "Field = value" lines.
std::string figureLines(const MeasureJob &job);

// A line cut into words as a shell would: blanks separate them, quotes
// group them; an unterminated quote is noted in error.
std::vector<std::string> splitWords(const std::string &line, std::string &error);

// The shell's line handler: runs one line on the context's device and
// answers it, one JSON object a line on standard output unless interactive.
class Shell
{
public:
    Shell(Context &context, bool interactive);
    // Runs one line; false on quit, or once standard output or the call file
    // cannot be written.
    bool execute(const std::string &line);
    // Answers a line that could not be read as an error.
    void refuse(const std::string &message)
    {
        fail(message, kExitInput, zem::codec::Json::object());
    }
    // The highest exit status of the lines so far.
    int exitCode() const { return m_worst; }

private:
    void fail(const std::string &message, int code, zem::codec::Json reply);
    bool reply(const zem::codec::Json &object);
    bool measure(const std::vector<std::string> &words);

    Context &m_context;
    bool m_interactive;
    int m_worst = kExitOk;
    bool m_writable = true;
};

struct SignatureJob;
// learn, compare and test: a board's signature (signaturejob.h).
int signatureMain(Context &context, SignatureJob &job);
struct HistoryJob;
// history runs, points, show, export and sync (historyjob.h).
int historyMain(HistoryJob &job);

// The whole program.
int run(int argc, char **argv);

} // namespace zemctl
