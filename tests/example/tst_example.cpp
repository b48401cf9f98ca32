// End-to-end tests of zem_example: the program runs as a process against the virtual instrument,
// fed through its standard input, each run in a directory of its own.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kBanner = "Orvane ZEM application example\n"
                            "--------------------------------\n"
                            "Enter serial port.\n"
                            "Format for Windows: com:\\\\.\\COM29\n"
                            "Format for Linux: com:///dev/ttyACM0\n";
const std::string kPrompt = "Press any key to exit... \n";
const std::string kOpenFailure
    = "Cannot open device.\nPlease check serial port URL and try again.\n";
const std::string kSaveStep = "Save measurement results to file results.json... ";

struct Outcome
{
    std::string output;
    int exitCode = -1; // -1 unless the program exited by itself
    bool timedOut = false;
};

// Called with the output so far and the program's process id whenever output arrives.
using OutputHook = std::function<void(const std::string &, pid_t)>;

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class Example : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::signal(SIGPIPE, SIG_IGN); // a program that exits early must not kill the test
        std::string pattern = (fs::temp_directory_path() / "tst_example_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir = pattern;
    }

    void TearDown() override
    {
        if (dir.empty())
            return;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Runs the program in dir with input on its standard input (or stdinFd when given) and
    // collects its standard output; a run that outlasts the timeout is killed.
    Outcome run(const std::string &input, std::chrono::milliseconds timeout = 20s, int stdinFd = -1,
        const OutputHook &hook = {})
    {
        Outcome result;
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return result;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0 || dup2(stdinFd >= 0 ? stdinFd : in[0], 0) < 0
                || dup2(out[1], 1) < 0)
                _exit(126);
            execl(ZEM_EXAMPLE_PATH, ZEM_EXAMPLE_PATH, static_cast<char *>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
            ADD_FAILURE() << "cannot feed the program's input";
        close(in[1]);

        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable { out[0], POLLIN, 0 };
            if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) == 0) {
                result.timedOut = true;
                kill(pid, SIGKILL);
                break;
            }
            char buffer[4096];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            result.output.append(buffer, static_cast<size_t>(n));
            if (hook)
                hook(result.output, pid);
        }
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        return result;
    }

    Outcome runUrl(const std::string &url) { return run(url + "\n"); }

    fs::path results() const { return dir / "results.json"; }

    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir;
};

// Checks the exact layout of results.json and its JSON content; returns the two arrays.
void readResults(const fs::path &file, std::vector<double> &voltage, std::vector<double> &current)
{
    const std::string text = readFile(file);
    const std::vector<std::string> lines = splitLines(text);
    ASSERT_TRUE(endsWith(text, "}\n"));
    ASSERT_EQ(lines.size(), 6u) << text;
    EXPECT_EQ(lines[0], "{");
    EXPECT_EQ(lines[3], "    \"voltage_units\": \"Volts\",");
    EXPECT_EQ(lines[4], "    \"current_units\": \"mA\"");
    EXPECT_EQ(lines[5], "}");
    const std::regex number("-?[0-9]+\\.[0-9]{6}");
    for (const auto &[line, key] :
        { std::pair(lines[1], "voltage"), std::pair(lines[2], "current") }) {
        const std::string head = std::string("    \"") + key + "\": [";
        ASSERT_EQ(line.rfind(head, 0), 0u) << line;
        ASSERT_TRUE(endsWith(line, "],")) << line;
        std::string values = line.substr(head.size(), line.size() - head.size() - 2);
        std::vector<std::string> items;
        for (size_t start = 0, comma;; start = comma + 2) {
            comma = values.find(", ", start);
            items.push_back(values.substr(start, comma - start));
            if (comma == std::string::npos)
                break;
        }
        ASSERT_EQ(items.size(), 100u) << key;
        for (const std::string &item : items)
            EXPECT_TRUE(std::regex_match(item, number)) << key << ": '" << item << "'";
    }

    const auto json = nlohmann::ordered_json::parse(text);
    std::vector<std::string> keys;
    for (const auto &item : json.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys,
        (std::vector<std::string> { "voltage", "current", "voltage_units", "current_units" }));
    voltage = json["voltage"].get<std::vector<double>>();
    current = json["current"].get<std::vector<double>>();
}

// Finds "<message> in <path>:<line>" right after the failing step's text and returns the
// source line that it names.
std::string reportedSourceLine(
    const std::string &output, const std::string &step, const std::string &message)
{
    const std::string head = step + "\n" + message + " in ";
    const size_t at = output.find(head);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no '" << message << "' after '" << step << "' in:\n" << output;
        return {};
    }
    const size_t start = at + head.size();
    const std::string where = output.substr(start, output.find('\n', start) - start);
    const size_t colon = where.rfind(':');
    const std::string path = where.substr(0, colon);
    const std::string number = colon == std::string::npos ? "" : where.substr(colon + 1);
    EXPECT_TRUE(endsWith(path, "main.cpp")) << where;
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        ADD_FAILURE() << "no line number in '" << where << "'";
        return {};
    }
    const std::vector<std::string> source = splitLines(readFile(path));
    const size_t line = std::stoul(number);
    if (line < 1 || line > source.size()) {
        ADD_FAILURE() << where << " is not a line of the source";
        return {};
    }
    return source[line - 1];
}

TEST_F(Example, ResistorRunPrintsEveryStepAndSavesTheCurve)
{
    std::ofstream(results()) << "stale";
    const Outcome r = runUrl("virtual://resistor?ohms=1000&noise=0");
    EXPECT_EQ(r.exitCode, 0);

    ASSERT_EQ(r.output.rfind(kBanner, 0), 0u) << r.output;
    const std::vector<std::string> expected = {
        "Read device information\\.\\.\\. Done",
        "  -- Device information --",
        "  Product: .* .*",
        "  Hardware version: [0-9]+\\.[0-9]+\\.[0-9]+",
        "  Serial number: 1234",
        "  Device rank: -?[0-9]+",
        "  Firmware version: [0-9]+\\.[0-9]+\\.[0-9]+",
        "Run device automatic calibration\\.\\.\\. Done",
        "  Device calibrated successfully",
        "Setup device\\.\\.\\. Done",
        "Make measuremnet\\.\\.\\. Done",
        "Close device\\.\\.\\. Done",
        "Save measurement results to file results\\.json\\.\\.\\. Done",
        "Press any key to exit\\.\\.\\. ",
    };
    const std::vector<std::string> lines = splitLines(r.output.substr(kBanner.size()));
    ASSERT_EQ(lines.size(), expected.size()) << r.output;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i]))) << lines[i];
    EXPECT_TRUE(endsWith(r.output, kPrompt));

    // The old file is replaced whole, with the permissions of a plainly created file, and no
    // temporary file is left behind.
    EXPECT_EQ(files(), std::vector<std::string> { "results.json" });
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(results()).permissions()), 0666 & ~mask);

    std::vector<double> voltage, current;
    ASSERT_NO_FATAL_FAILURE(readResults(results(), voltage, current));
    int checked = 0;
    for (size_t i = 0; i < voltage.size(); ++i) {
        if (std::abs(voltage[i]) <= 1.0)
            continue;
        ++checked;
        EXPECT_NEAR(voltage[i] / current[i] * 1000.0, 1000.0, 20.0) << "point " << i;
    }
    EXPECT_GT(checked, 50);
    EXPECT_NEAR(*std::max_element(voltage.begin(), voltage.end()), 6.0, 0.1);
    EXPECT_NEAR(*std::min_element(voltage.begin(), voltage.end()), -6.0, 0.1);
}

TEST_F(Example, DiodeRunSavesAPlausibleDiodeCurve)
{
    const Outcome r = runUrl("virtual://diode");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<double> voltage, current;
    ASSERT_NO_FATAL_FAILURE(readResults(results(), voltage, current));
    int forward = 0, reverse = 0;
    for (size_t i = 0; i < voltage.size(); ++i) {
        EXPECT_LT(voltage[i], 1.0) << "point " << i << " is not clamped";
        if (voltage[i] > 0.5) {
            ++forward;
            EXPECT_GT(current[i], 0.0) << "point " << i;
        } else if (voltage[i] < 0.0) {
            ++reverse;
            EXPECT_NEAR(current[i], 0.0, 0.05) << "point " << i;
        }
    }
    EXPECT_GT(forward, 20);
    EXPECT_GT(reverse, 20);
    EXPECT_LT(*std::min_element(voltage.begin(), voltage.end()), -5.0);
}

TEST_F(Example, SerialNumberAbove2To31IsPrintedUnsigned)
{
    const Outcome r = runUrl("virtual://resistor?serial=3000000000");
    EXPECT_TRUE(contains(r.output, "\n  Serial number: 3000000000\n")) << r.output;
}

class OpenFailure : public Example, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(OpenFailure, PrintsTheTwoLinesAndWritesNothing)
{
    const Outcome r = run(GetParam());
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(endsWith(r.output, kOpenFailure + kPrompt)) << r.output;
    EXPECT_FALSE(contains(r.output, "Read device information"));
    EXPECT_TRUE(files().empty());
}

INSTANTIATE_TEST_SUITE_P(Urls, OpenFailure,
    ::testing::Values("com:///dev/ttyACM0\n", "bogus\n", "vu-net://1.2.3.4/1\n", "", " \n\t \n"));

// 44 characters, to which the serial's digits are appended.
const std::string kUrlHead = "virtual://resistor?ohms=1000&noise=0&serial=";

TEST_F(Example, UrlOf63CharactersIsUsedWhole)
{
    const std::string url = kUrlHead + std::string(19 - 4, '0') + "4321";
    ASSERT_EQ(url.size(), 63u);
    const Outcome r = run(" \n\t" + url + " trailing words\n");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "\n  Serial number: 4321\n")) << r.output;
}

TEST_F(Example, UrlOf64CharactersIsRefused)
{
    const std::string url = kUrlHead + std::string(20 - 4, '0') + "4321";
    ASSERT_EQ(url.size(), 64u);
    const Outcome r = runUrl(url);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, kBanner + "URL is too long (at most 63 characters).\n" + kPrompt);
    EXPECT_TRUE(files().empty());
}

TEST_F(Example, FailedFrameReadIsReportedAndTheRunGoesOn)
{
    const Outcome r = runUrl("virtual://resistor?noise=0&fail=get_measurement:-1@3");
    EXPECT_EQ(r.exitCode, 1);
    const std::string line = reportedSourceLine(r.output, "Make measuremnet... ", "Runtime error");
    EXPECT_TRUE(contains(line, "zem_get_measurement(")) << line;

    // The failing step closed the device, so the close step reports what the library answers.
    const std::string closeLine = reportedSourceLine(r.output, "Close device... ", "Runtime error");
    EXPECT_TRUE(contains(closeLine, "zem_close_device(")) << closeLine;
    EXPECT_TRUE(contains(r.output, kSaveStep + "Done\n" + kPrompt)) << r.output;

    std::vector<double> voltage, current;
    ASSERT_NO_FATAL_FAILURE(readResults(results(), voltage, current));
    EXPECT_NE(voltage[10], 0.0);
    EXPECT_NE(current[40], 0.0);
    for (size_t i = 50; i < 100; ++i) {
        EXPECT_EQ(voltage[i], 0.0) << "point " << i;
        EXPECT_EQ(current[i], 0.0) << "point " << i;
    }
}

struct StepFailureCase
{
    const char *operation;
    int code;
    const char *step;
    const char *message;
};

class StepFailure : public Example, public ::testing::WithParamInterface<StepFailureCase>
{
};

// Every call site reports its own line; the following steps still run.
TEST_P(StepFailure, IsReportedWithTheLineOfTheCall)
{
    const StepFailureCase &c = GetParam();
    const Outcome r = runUrl(
        "virtual://resistor?fail=" + std::string(c.operation) + ":" + std::to_string(c.code));
    EXPECT_EQ(r.exitCode, 1);
    const std::string line = reportedSourceLine(r.output, c.step, c.message);
    EXPECT_TRUE(contains(line, "zem_" + std::string(c.operation) + "(")) << line;
    EXPECT_TRUE(contains(r.output, "Close device... ")) << r.output;
    EXPECT_TRUE(contains(r.output, kSaveStep + "Done\n" + kPrompt)) << r.output;
    EXPECT_TRUE(fs::exists(results()));
}

INSTANTIATE_TEST_SUITE_P(Codes, StepFailure,
    ::testing::Values(StepFailureCase { "get_identity_information", -1,
                          "Read device information... ", "Runtime error" },
        StepFailureCase {
            "get_device_rank", -2, "Read device information... ", "Command not implemented error" },
        StepFailureCase {
            "start_autocalibration", -3, "Run device automatic calibration... ", "Value error" },
        StepFailureCase { "set_measurement_settings", -4, "Setup device... ",
            "No device (connection loss) error" },
        StepFailureCase {
            "start_measurement", -2, "Make measuremnet... ", "Command not implemented error" },
        StepFailureCase { "check_measurement_status", -4, "Make measuremnet... ",
            "No device (connection loss) error" },
        StepFailureCase { "get_measurement", -3, "Make measuremnet... ", "Value error" }),
    [](const auto &info) { return std::string(info.param.operation); });

TEST_F(Example, UnknownCodePrintsOnlyTheLineFeed)
{
    const Outcome r = runUrl("virtual://resistor?fail=set_measurement_settings:-7");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, "Setup device... \nMake measuremnet... ")) << r.output;
}

// The wait ends as the Curve dock's does; an earlier results.json is not replaced by
// points that were never read.
TEST_F(Example, MeasurementThatNeverCompletesTimesOutAndKeepsTheOldResults)
{
    std::ofstream(results()) << "old";
    const Outcome r = runUrl("virtual://resistor?never_complete=1");
    EXPECT_EQ(r.exitCode, 1);
    reportedSourceLine(r.output, "Make measuremnet... ", "Timeout error");
    EXPECT_TRUE(contains(r.output, "Close device... ")) << r.output;
    EXPECT_FALSE(contains(r.output, kSaveStep)) << r.output;
    EXPECT_EQ(readFile(results()), "old");
}

// The save fails; the message names the reason and an earlier results.json stays as it was.
void expectFailedSave(const Outcome &r, const std::string &reason)
{
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output,
        "Close device... Done\n" + kSaveStep + "\nCannot write results.json: " + reason + "\n"
            + kPrompt))
        << r.output;
}

TEST_F(Example, SaveIntoReadOnlyDirectoryFailsCleanly)
{
    std::ofstream(results()) << "old";
    fs::permissions(dir,
        fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read
            | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    if (access(dir.c_str(), W_OK) == 0)
        GTEST_SKIP() << "directory permissions are not enforced for this user";
    expectFailedSave(runUrl("virtual://resistor"), std::strerror(EACCES));
    EXPECT_EQ(readFile(results()), "old");
    EXPECT_EQ(files(), std::vector<std::string> { "results.json" });
}

TEST_F(Example, SaveOverADirectoryFailsCleanly)
{
    fs::create_directory(results());
    std::ofstream(results() / "inside") << "old";
    expectFailedSave(runUrl("virtual://resistor"), std::strerror(EISDIR));
    EXPECT_EQ(readFile(results() / "inside"), "old");
    EXPECT_EQ(files(), std::vector<std::string> { "results.json" });
}

// On a terminal the program waits for one key, taken without Enter and without echo, and
// leaves the terminal as it found it.
TEST_F(Example, TerminalKeyIsReadAtOnceWithoutEcho)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        GTEST_SKIP() << "no pseudo-terminal available";
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0) << std::strerror(errno);
    const std::string typed = "virtual://resistor\n";
    ASSERT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));

    bool waited = false;
    const auto pressKey = [&](const std::string &output, pid_t pid) {
        if (waited || !endsWith(output, kPrompt))
            return;
        // Ready once blocked reading the terminal; a program that does not wait exits instead.
        const std::string call = "/proc/" + std::to_string(pid) + "/syscall";
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        siginfo_t info {};
        for (std::string line;
             !waited && info.si_pid == 0 && std::chrono::steady_clock::now() < deadline;) {
            std::this_thread::sleep_for(1ms);
            waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
            waited = std::getline(std::ifstream(call), line)
                && line.rfind(std::to_string(SYS_read) + " 0x0 ", 0) == 0;
        }
        ASSERT_EQ(write(master, "Z", 1), 1);
    };
    const Outcome r = run("", 20s, terminal, pressKey);
    EXPECT_TRUE(waited) << "the program did not wait for a key";
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.output;

    termios after {};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_TRUE(after.c_lflag & ICANON);
    EXPECT_TRUE(after.c_lflag & ECHO);
    EXPECT_TRUE(after.c_lflag & ISIG);

    std::string echoed;
    char buffer[256];
    pollfd readable { master, POLLIN, 0 };
    while (poll(&readable, 1, 100) > 0) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        echoed.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_TRUE(contains(echoed, "virtual://resistor")) << echoed;
    EXPECT_FALSE(contains(echoed, "Z")) << "the key was echoed";
    close(terminal);
    close(master);
}

} // namespace

TEST_F(Example, AnotherLibzemOnTheLibraryPathReplacesOurs)
{
    setenv("LD_LIBRARY_PATH", ZEM_VENDOR_DIR, 1);
    const Outcome r = runUrl("com:///dev/ttyACM0"); // refused by ours, opened by the stand-in
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_TRUE(contains(r.output, "\n  Product: Stub vendor\n")) << r.output;
    EXPECT_EQ(r.exitCode, 0);
}
