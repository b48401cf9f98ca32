// zemctl: every command of the instrument from the command line, as JSON.
// The program's logic lives here so that tests and benchmarks reach it; its
// main() only calls run().
#pragma once

#include "callappender.h"
#include "codec.h"
#include "connection.h"

#include <string>
#include <vector>

namespace zemctl {

using zem::findCommand;
using zem::calls::resultName;

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1, // usage, bad input, a file or the device cannot be opened
    kExitResult = 2, // the device answered a result other than 0
    kExitMismatch = 4, // a replay found responses that differ
};

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

    // Opens the device of -u or ZEM_URL unless open; false after printing why.
    bool openDevice();
    // Starts the call file of --record; false after printing why.
    bool startRecording();
    Format format(Format fallback) const;
};

// Prints "zemctl: message" on stderr.
void printError(const std::string &message);

// One command with "Field=value" assignments: validates them, fills a
// setter's request from its getter unless noFill, calls, and keeps the
// records. exitCode is kExitOk, kExitUsage (bad input, nothing called) or
// kExitResult.
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

// The response (or the request when `request`) as zemctl prints it.
std::string jsonOutput(const CommandRun &run, bool hex);
std::string textOutput(const CommandRun &run, bool hex);
// One field's decoded value as text: numbers, "5 (A|C)", "2 (NAME)",
// comma lists, quoted text.
std::string valueText(const zem::codec::Json &value);

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
int replayMain(Context &context, const std::string &fileName, const std::string &ignore);
int measureMain(
    Context &context, const std::vector<std::string> &assignments, const std::string &fileName);

struct SignatureJob;
// learn, compare and test: a board's signature (signaturejob.h).
int signatureMain(Context &context, SignatureJob &job);

// The whole program.
int run(int argc, char **argv);

} // namespace zemctl
