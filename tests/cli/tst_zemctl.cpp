// zemctl as its users run it: whole processes against the virtual
// instrument, checked by exit code, standard output and error, and files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "exitcodes.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace zemctl; // the exit statuses

namespace {

const std::string kUrl = "virtual://resistor?ohms=1000&noise=0";
const std::string kPins = "virtual://open?pins=resistor:47000,resistor:1000,resistor:47";

struct Outcome
{
    int exitCode = -1;
    std::string out, err;
};

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// How a run is set up beyond its arguments.
struct Setting
{
    std::string input = {}; // standard input
    std::string stdoutPath = {}; // e.g. "/dev/full"; else the file "stdout", appended to
    rlim_t fileSize = RLIM_INFINITY; // a full disk: no file grows past this
    std::string stdoutBefore = {}; // what that file holds before the run
    // The folder and the files made before the run read-only; run as nobody
    // when root, whom permission bits do not stop.
    bool readOnly = false;
};

class Zemctl : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "tst_zemctl_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs zemctl (or another program) in dir with args, without ZEM_URL.
    Outcome run(std::vector<std::string> args, const Setting &setting = {},
        const char *program = ZEMCTL_PATH)
    {
        std::ofstream(dir / "stdin") << setting.input;
        std::ofstream(dir / "stdout") << setting.stdoutBefore;
        std::ofstream(dir / "stderr").flush();
        constexpr fs::perms writable
            = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        for (const auto &file : fs::directory_iterator(dir))
            if (setting.readOnly && file.path().filename().string().rfind("std", 0) != 0)
                fs::permissions(file, writable | fs::perms::owner_exec, fs::perm_options::remove);
        if (setting.readOnly)
            fs::permissions(dir, fs::perms::all & ~writable);
        args.insert(args.begin(), program);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char *> env;
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "ZEM_URL=", 8) != 0)
                env.push_back(*e);
        env.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const rlimit limit { setting.fileSize, setting.fileSize };
            const std::string out = setting.stdoutPath.empty() ? "stdout" : setting.stdoutPath;
            if (chdir(dir.c_str()) != 0 || !freopen("stdin", "r", stdin)
                || !freopen(out.c_str(), "a", stdout) || !freopen("stderr", "w", stderr)
                || signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0
                || (setting.readOnly && getuid() == 0
                    && (setgid(65534) != 0 || setuid(65534) != 0)))
                _exit(126);
            execve(program, argv.data(), env.data());
            _exit(127);
        }
        Outcome o;
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            o.exitCode = WEXITSTATUS(status);
        fs::permissions(dir, fs::perms::owner_all);
        o.out = readFile(dir / "stdout");
        o.err = readFile(dir / "stderr");
        fs::remove(dir / "stdout");
        return o;
    }

    fs::path dir;
};

struct Case
{
    std::vector<std::string> args;
    int exitCode;
    const char *out; // a part of standard output, or ""
    const char *err; // a part of standard error, or ""
    Setting setting = {};
    // Files made before the run: a name and its content, or the arguments of
    // a zemctl (or, after RECORD_RUNS, a record_runs) run that makes it. Each
    // must be as it was after the run.
    std::vector<std::pair<std::string, std::vector<std::string>>> kept = {};
};

class Invocation : public Zemctl, public ::testing::WithParamInterface<Case>
{
};

TEST_P(Invocation, ExitsAndPrintsAsDocumented)
{
    const Case &c = GetParam();
    std::vector<std::string> before;
    for (const auto &[name, made] : c.kept) {
        if (made.size() == 1)
            std::ofstream(dir / name) << made[0];
        else if (made[0] == RECORD_RUNS)
            ASSERT_EQ(run({ made.begin() + 1, made.end() }, {}, RECORD_RUNS).exitCode, 0) << name;
        else
            ASSERT_EQ(run(made).exitCode, 0) << name;
        before.push_back(readFile(dir / name));
    }
    const bool journal = fs::exists("/dev/null-journal");
    const Outcome o = run(c.args, c.setting);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find('\x1b'), std::string::npos) << "escapes reach the terminal raw";
    for (std::size_t k = 0; k < c.kept.size(); ++k)
        EXPECT_EQ(readFile(dir / c.kept[k].first), before[k]) << c.kept[k].first;
    EXPECT_EQ(fs::status("/dev/null").type(), fs::file_type::character);
    EXPECT_EQ(fs::exists("/dev/null-journal"), journal) << "a journal next to /dev/null";
    EXPECT_EQ(o.err.find("QCoreApplication"), std::string::npos) << "Qt warned";
    // Whatever the run recorded is whole lines.
    for (const std::string &line : lines(readFile(dir / "calls.jsonl")))
        EXPECT_FALSE(Json::parse(line, nullptr, false).is_discarded()) << line;
}

std::string failing(const std::string &operation, const std::string &code)
{
    return kUrl + "&fail=" + operation + ":" + code;
}

const std::vector<std::string> kLearned { "-u", kUrl, "learn", "s.json", "--points", "R1,R2" };
// A board whose first place is no number, as older programs wrote it.
const std::string kNullPlace = R"({"format":"zem-signature","version":1,"board":"A",
"settings":{"SamplingRate":10000,"ProbeSignalFrequency":100,"NumberPoints":100,
"NumberChargePoints":0,"MaxVoltage":5,"CurrentSensorMode":2,"OutputMode":0},
"points":[{"name":"R1","at":[null,5.0]},{"name":"R2","at":[1,2]}]})";
// A PNG's header that says 10000 x 10000 pixels.
const std::string kHugePng("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0'\x10\0\0'\x10\x08\x02\0\0\0", 29);
const std::vector<std::pair<std::string, std::vector<std::string>>> kHistory {
    { "s.json", kLearned }, { "h.sqlite", { "-u", kUrl, "test", "s.json", "--db", "h.sqlite" } }
};

// Three runs whose UUIDs tests can name; SN-abcd was tested twice.
const std::vector<std::pair<std::string, std::vector<std::string>>> kNamedRuns { { "r.sqlite",
    { RECORD_RUNS, "r.sqlite", "3", "2", "0", "abcd0000-0000-4000-8000-000000000001",
        "abcd1111-0000-4000-8000-000000000002", "ef010000-0000-4000-8000-000000000003" } } };

INSTANTIATE_TEST_SUITE_P(ExitCodes, Invocation,
    ::testing::Values(Case { { "-u", kUrl, "get_status" }, 0,
                          R"({"Status":{"value":0,"name":"STATUS_OK"},"Temperature":)", "" },
        Case { { "-u", kUrl, "--format", "text", "get_measurement_settings" }, 0,
            "\nCurrentSensorMode    = 2 (CURRENT_SENSE_MODE_I_MID)\n", "" },
        Case { { "-u", kUrl, "--hex", "get_measurement_raw", "Frame=0x0" }, 2, R"("hex":"00 00 )",
            "get_measurement_raw returned result_value_error (-3)" },
        Case { { "get_status" }, kExitUsage, "", "use -u URL or set ZEM_URL" },
        Case { { "-u", "virtual://nothing", "get_status" }, kExitDevice, "",
            "cannot open device virtual://nothing: unknown load 'nothing'" },
        Case { { "-u", "virtual://resistor?noise=0,5", "get_status" }, kExitDevice, "",
            "bad value '0,5' for 'noise'" },
        Case { { "-u", "virtual://resistor?nois=1", "get_status" }, kExitDevice, "",
            "unknown option 'nois'" },
        Case { { "-u", kUrl, "set_measurement_settings", "NumberPoints=5000000000" }, kExitUsage,
            "", "NumberPoints: 5000000000 is out of range; allowed: 0..4294967295" },
        Case { { "-u", kUrl, "set_measurement_settings", "Reserved0=1,2" }, kExitUsage, "",
            "Reserved0: 2 numbers given; allowed: 4 numbers 0..255" },
        Case {
            { "-u", kUrl, "reset_events", "IOEventsRst=IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED|NO" },
            kExitUsage, "",
            "IOEventsRst: unknown flag \"NO\"; allowed: 0..65535, or flags IOEVENTSRST_" },
        Case { { "-u", kUrl, "set_measurement_settings", "Samplingrate=1" }, kExitUsage, "",
            "unknown field \"Samplingrate\" in measurement_settings; fields: SamplingRate," },
        Case { { "-u", kUrl, "set_measurement_settings", "NumberPoints=5", "MaxVoltage=20" }, 2, "",
            "(-3): NumberPoints 5: the device takes 10..1000; MaxVoltage 20.0: the device "
            "takes 0..12 V" },
        Case { { "-u", kUrl, "describe", "set_measurement_settings" }, 0,
            "MaxVoltage             float        V   -3.40282e+38..3.40282e+38; the device takes "
            "0..12 V",
            "" },
        Case { { "-u", kUrl, "describe", "\x1b[2Jx" }, kExitUsage, "",
            "unknown command \"\\x1b[2Jx\"" },
        Case { { "-u", failing("get_status", "-1"), "get_status" }, 2, "",
            "get_status returned device_undefined (-1)" },
        Case { { "-u", failing("get_status", "1"), "get_status" }, kExitDevice, "",
            "get_status returned unknown (1)" },
        Case { { "-u", failing("get_status", "1@2"), "watch", "get_status", "--period", "1",
                   "--count", "3" },
            kExitDevice, R"x("result_name":"unknown (1)")x", "" },
        Case { { "-u", failing("set_measurement_settings", "-1"), "set_measurement_settings",
                   "NumberPoints=100" },
            2, "", "set_measurement_settings returned device_undefined (-1)" },
        Case { { "-u", failing("get_profile", "-1"), "profile", "get", "-o", "p.json" }, 2, "",
            "p.json is unchanged", {}, { { "p.json", { "good" } } } },
        Case { { "-u", failing("get_profile", "-3"), "profile", "get", "-o", "p.json" }, 2, "",
            "result_value_error (-3); p.json is unchanged", {}, { { "p.json", { "good" } } } },
        Case { { "-u", failing("set_profile", "-1"), "profile", "set", "p.json" }, 2, "",
            "set_profile returned device_undefined (-1)", {},
            { { "p.json", { "-u", kUrl, "profile", "get", "-o", "p.json" } } } },
        Case { { "-u", failing("get_status", "-1@2"), "watch", "get_status", "--period", "1" }, 2,
            // The tick is the time's, not the call's: a loaded machine skips some.
            R"x("result":-1,"result_name":"device_undefined (-1)")x", "watch ends" },
        Case { { "-u", kUrl, "watch", "set_measurement_settings", "SamplingRate=10000", "--count",
                   "1" },
            0, R"("result":0)", "" },
        Case { { "-u", kUrl, "--no-fill", "watch", "set_measurement_settings", "SamplingRate=10000",
                   "--count", "1" },
            2, R"("result":-3)", "" },
        Case { { "-u", failing("get_status", "-1") }, 2, R"("result":-1)", "", { "get_status\n" } },
        Case { { "-u", kUrl }, kExitUsage, R"("result":0)", "", { "\xff\x1b[2J\nget_status\n" } },
        Case { { "-u", kUrl, "measure", "NumberPoints=10", "--format", "text" }, 0,
            "\nslope   = 1.00 kΩ (R² 1.0000)\n", "" },
        Case { { "-u", kUrl, "measure", "NumberPoints=10" }, 0, R"("voltage": [)",
            "10 points · slope 1.00 kΩ (R² 1.0000) · peak 1.34 mA" },
        Case { { "-u", kUrl, "--format", "text", "test", "s.json" }, 0,
            "R2  pass             0.00 %  tolerance 10 %  resistor, 1.00 kΩ\n", "", {},
            { { "s.json", kLearned } } },
        // The run puts the virtual probe on each point's pin, for every capture.
        Case { { "-u", kPins, "--format", "text", "test", "a.json", "--repeat", "3" }, 0,
            "C  pass ", "", {},
            { { "a.json",
                { "-u", kPins, "learn", "a.json", "--points", "A,B,C", "--auto-settings" } } } },
        Case { { "-u", kUrl, "test", "s.json", "--report", "./s.json" }, kExitFailed, "",
            "would be written over the signature", {}, { { "s.json", kLearned } } },
        Case { { "board", "s.json", "--place", "R1=nan,5" }, kExitUsage, "",
            "--place R1=nan,5: X and Y must be finite numbers", {}, { { "s.json", kLearned } } },
        Case { { "board", "s.json", "--place", "R1=1,2", "--place", "R2=5,-inf" }, kExitUsage, "",
            "--place R2=5,-inf: X and Y must be finite numbers", {}, { { "s.json", kLearned } } },
        Case { { "board", "n.json" }, 0, R"("placed":1,"unplaced":["R1"])",
            "n.json: point \"R1\".at: [null,5.0] is not a place on the picture", {},
            { { "n.json", { kNullPlace } } } },
        Case { { "board", "s.json", "--fiducial", "F1=5,5,100,900", "--fiducial",
                   "F2=95,5,1000,900", "--fiducial", "F3=50,5,550,900" },
            kExitUsage, "",
            "cannot register the picture: fiducials F1, F2, F3 lie on one line on the photo", {},
            { { "s.json", kLearned } } },
        Case { { "board", "s.json", "--fiducial", "A=1,1", "--fiducial", "B=2,1", "--fiducial",
                   "C=1,2", "--fiducial", "D=3,3" },
            kExitUsage, "", "--fiducial D=3,3: a board has at most 3 fiducials (A, B, C)", {},
            { { "s.json", kLearned } } },
        Case { { "board", "s.json", "--mm", "R9=1,2" }, kExitUsage, "",
            "--mm R9=1,2: no point named R9", {}, { { "s.json", kLearned } } },
        // A glob that cannot match is refused once, not warned about a point.
        Case { { "board", "s.json", "--import", "p.pos", "--refdes", "R1,[U" }, kExitUsage, "",
            "--refdes: '[U' is not a valid glob", {}, { { "s.json", kLearned } } },
        Case { { "board", "s.json", "--fiducial", "F1=1,inf" }, kExitUsage, "",
            "--fiducial F1=1,inf: X and Y must be finite numbers", {}, { { "s.json", kLearned } } },
        Case { { "board", "s.json", "--image", "big.png" }, kExitInput, "",
            "big.png: 10000 x 10000 is larger than 67108864 pixels", {},
            { { "s.json", kLearned }, { "big.png", { kHugePng } } } },
        Case { { "-u", kUrl, "test", "s.json", "--db", "h.sqlite", "--report", "h.sqlite" },
            kExitFailed, "", "the report h.sqlite would be written over the history h.sqlite", {},
            kHistory },
        Case { { "history", "--db", "h.sqlite", "export", "--csv", "h.sqlite" }, kExitFailed, "",
            "the CSV file h.sqlite would be written over the history", {}, kHistory },
        Case { { "history", "--db", "h.sqlite", "export", "--csv", "./h.sqlite-journal" },
            kExitFailed, "", "would be written over the history", {}, kHistory },
        Case { { "-u", kUrl, "test", "s.json", "--db", "h.sqlite", "--serial", "SN\xe9" },
            kExitUsage, "", "--serial SN\\xe9 is not UTF-8", {}, kHistory },
        Case { { "-u", kUrl, "test", "s.json", "--db", "h.sqlite", "--require-serial", "--serial",
                   " " },
            kExitUsage, "", "--require-serial: give the board's serial", {}, kHistory },
        Case { { "history", "--db", "sqlite:/dev/null", "runs" }, kExitInput, "",
            "/dev/null is not a regular file" },
        Case { { "history", "--db", "h.sqlite", "runs" }, 0, R"("points":2,"failed":0)", "",
            { "", "", RLIM_INFINITY, "", true }, kHistory },
        Case { { "history", "--db", "r.sqlite", "show", "ABCD0" }, 0,
            R"("run":"abcd0000-0000-4000-8000-000000000001")", "", {}, kNamedRuns },
        Case { { "history", "--db", "r.sqlite", "show", "abcd" }, kExitUsage, "",
            "run abcd is ambiguous: 2 runs start with it", {}, kNamedRuns },
        Case { { "history", "--db", "r.sqlite", "show", "abcd2" }, kExitUsage, "", "no run abcd2",
            {}, kNamedRuns },
        Case { { "history", "--db", "r.sqlite", "show", "--serial", "SN-abcd" }, 0,
            R"("run":"abcd1111-0000-4000-8000-000000000002")", "", {}, kNamedRuns },
        Case { { "history", "--db", "r.sqlite", "show", "--serial", "SN-none" }, kExitUsage, "",
            "no run of serial SN-none", {}, kNamedRuns },
        Case { { "history", "--db", "r.sqlite", "runs", "--format", "text" }, 0,
            "  helper  SN-ef01  pass          0       2  test ", "", {}, kNamedRuns },
        Case { { "--format", "text", "history", "--db", "r.sqlite", "points", "--board", "helper" },
            0, "point  tested  failed   rate\nP0          3       0  0.0 %\n", "", {}, kNamedRuns },
        Case { { "-u", kUrl, "profile", "get" }, kExitFailed, "",
            "cannot write to standard output: No space", { "", "/dev/full" } },
        Case {
            { "list" }, kExitFailed, "", "cannot write to standard output", { "", "/dev/full" } },
        Case { { "-u", kUrl, "describe", "get_status" }, kExitFailed, "",
            "cannot write to standard output", { "", "/dev/full" } },
        Case { { "-u", kUrl, "watch", "get_status" }, kExitFailed, "",
            "cannot write to standard output", { "", "/dev/full" } },
        Case { { "-u", kUrl }, kExitFailed, "", "cannot write to standard output",
            { "get_status\nget_status\n", "/dev/full" } }));

// What a writer leaves when it cannot finish: the old file, a message that
// names it, exit 1. Targets that are no regular files are written as they are.
INSTANTIATE_TEST_SUITE_P(Writer, Invocation,
    ::testing::Values(Case { { "-u", kUrl, "measure", "-o", "m.csv" }, kExitFailed, "",
                          "cannot write m.csv", { "", "", 1024 }, { { "m.csv", { "old" } } } },
        Case { { "-u", kUrl, "learn", "s.json", "--points", "R3" }, kExitFailed, "",
            "cannot write s.json", { "", "", 1024 }, { { "s.json", kLearned } } },
        Case { { "-u", kUrl, "test", "s.json", "--report", "r.html" }, kExitFailed, "", "r.html",
            { "", "", 1024 }, { { "s.json", kLearned }, { "r.html", { "old" } } } },
        Case { { "-u", kUrl, "profile", "get", "-o", "p.json" }, kExitFailed, "",
            "cannot write p.json", { "", "", 100 }, { { "p.json", { "old" } } } },
        Case { { "-u", kUrl, "--record", "calls.jsonl", "watch", "get_status", "--period", "1" }, 1,
            "", "cannot write to calls.jsonl: File too large; recording stops", { "", "", 2000 } },
        Case { { "-u", kUrl, "profile", "get", "-o", "/dev/stdout" }, 0, "already here\n{", "",
            { "", "", RLIM_INFINITY, "already here\n" } },
        Case { { "-u", kUrl, "measure", "-o", "/dev/null" }, 0, "", "" }));

// Every reader stops at its limit while it reads, whatever the file is.
INSTANTIATE_TEST_SUITE_P(Readers, Invocation,
    ::testing::Values(Case { { "-u", kUrl, "profile", "set", "/dev/zero" }, kExitInput, "",
                          "/dev/zero: larger than 64 MiB, the limit for a profile" },
        Case { { "-u", kUrl, "compare", "/dev/zero", "--point", "R1" }, kExitInput, "",
            "/dev/zero: larger than 256 MiB, the limit for a signature file" },
        Case { { "-u", kUrl, "replay", "/dev/zero" }, kExitInput, "",
            "/dev/zero: larger than 256 MiB, the limit for a call file" },
        Case { { "board", "s.json", "--image", "/dev/zero" }, kExitInput, "",
            "/dev/zero: not a regular file, as a board picture must be", {},
            { { "s.json", kLearned } } },
        Case { { "-u", kUrl }, kExitInput, R"({"command":"get_status","result":0)", "",
            { std::string(3 << 20, 'x') + "\nget_status\n" } },
        Case { { "-u", kUrl, "compare", "v.json", "--point", "R1" }, kExitInput, "",
            "version 4294967297 is not supported", {},
            { { "v.json", { R"({"format":"zem-signature","version":4294967297})" } } } }));

// A call file names its device: replay opens it unless -u names another.
// Calls an hour apart are sent at once with --no-pauses (a replay that kept
// the pauses, 60 s each at most, would outlast the test's timeout), and a
// long file says how far it got.
std::string callLine(const std::string &hour, const std::string &operation, const std::string &rest)
{
    return R"({"version":1,"time":"2026-12-08T)" + hour + R"(:00:00.000Z","duration_us":1,)"
        + R"("operation":"zem_)" + operation + R"(","origin":"page",)" + rest + "}\n";
}
const std::string kHoursApart = callLine("10", "start_measurement", R"("handle":1,"result":0)")
    + callLine("11", "start_measurement", R"("handle":1,"result":0)")
    + callLine("12", "start_measurement", R"("handle":1,"result":0)");
const std::string kOpened = callLine("10", "open_device",
    R"("handle":-1,"handle_after":1,"result":0,"request":{"text":")" + kUrl + R"("})");

INSTANTIATE_TEST_SUITE_P(Replay, Invocation,
    ::testing::Values(
        Case { { "replay", "h.jsonl", "--no-pauses" }, 0, "", "replay: 3 calls, 0 differ", {},
            { { "h.jsonl", { kOpened + kHoursApart } } } },
        Case { { "replay", "n.jsonl" }, kExitUsage, "", "n.jsonl opened no device: use -u URL", {},
            { { "n.jsonl", { kHoursApart } } } },
        Case { { "replay", "l.jsonl" }, 0, "", "replay: 21/201 calls", {},
            { { "l.jsonl",
                { "-u", kUrl, "--record", "l.jsonl", "watch", "get_identity_information",
                    "--period", "1", "--count", "201" } } } }));

// One device for many commands: a setter fills what it is not given from its
// getter, --no-fill sends zeros, and each line answers one JSON object.
TEST_F(Zemctl, ShellFromAPipeSharesOneDevice)
{
    const Outcome o = run({ "-u", kUrl },
        { "set_measurement_settings NumberPoints=200 OutputMode=OUT_MODE_GROUNDED_CONTINUOUS\n"
          "get_measurement_settings\n"
          "set_measurement_settings --no-fill NumberPoints=300\n"
          "nonsense\n"
          "help\n"
          "measure NumberPoints=10 OutputMode=0 -o m.csv\n"
          "quit\n"
          "get_status\n" });
    const std::vector<std::string> out = lines(o.out);
    ASSERT_EQ(out.size(), 6u) << o.out;
    EXPECT_EQ(Json::parse(out[0])["result"], 0);
    const Json settings = Json::parse(out[1])["response"];
    EXPECT_EQ(settings["NumberPoints"], 200);
    EXPECT_EQ(settings["OutputMode"]["name"], "OUT_MODE_GROUNDED_CONTINUOUS");
    EXPECT_EQ(settings["SamplingRate"], 10000.0) << "fill kept the device's own value";
    EXPECT_EQ(Json::parse(out[2])["result_name"], "result_value_error (-3)");
    EXPECT_NE(Json::parse(out[3])["error"].get<std::string>().find("nonsense"), std::string::npos);
    EXPECT_EQ(Json::parse(out[4])["commands"].size(), 12u);
    EXPECT_EQ(Json::parse(out[5])["figures"]["slope_ohms"], 1000.0) << out[5];
    EXPECT_EQ(lines(readFile(dir / "m.csv")).back().rfind("9,", 0), 0u);
    EXPECT_EQ(o.exitCode, kExitUsage) << "the worst line decides";
}

// Fiducials register the picture: a point placed on it gets its mm too.
TEST_F(Zemctl, BoardRegisteredByFiducials)
{
    ASSERT_EQ(run(kLearned).exitCode, 0);
    const Outcome o = run({ "board", "s.json", "--fiducial", "F1=5,5,100,900", "--fiducial",
        "F2=95,5,1000,900", "--fiducial", "F3=5,65,100,300", "--place", "R1=550,600", "--mm",
        "R2=1.5,2", "--side", "R2=bottom" });
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.out.find(R"("registration":{"fiducials":3,"rms_mm":0.0,"max_mm":0.0})"),
        std::string::npos)
        << o.out;
    // R2 has its mm but no pixel: it is drawn from its mm, which is no failure.
    EXPECT_NE(
        o.out.find(R"("placed":1,"unplaced":["R2"],"with_mm":2,"without_mm":[],"drawn_from_mm":1)"),
        std::string::npos)
        << o.out;
    EXPECT_NE(
        o.err.find("2 with a position on the board in mm; on the picture 1 placed at a pixel, 1 "
                   "drawn from their mm"),
        std::string::npos)
        << o.err;
    const Json points = Json::parse(readFile(dir / "s.json"))["points"];
    EXPECT_EQ(points[0]["mm"], Json::array({ 50.0, 35.0 }));
    EXPECT_EQ(points[1]["mm"], Json::array({ 1.5, 2.0 }));
    EXPECT_EQ(points[1]["side"], "bottom");
}

TEST_F(Zemctl, MeasureWritesEveryPointInBothForms)
{
    ASSERT_EQ(run({ "-u", kUrl, "measure", "NumberPoints=100", "-o", (dir / "c.json").string() })
                  .exitCode,
        0);
    const Json curve = Json::parse(readFile(dir / "c.json"));
    EXPECT_EQ(curve["voltage"].size(), 100u);
    EXPECT_EQ(curve["current"].size(), 100u);
    EXPECT_EQ(curve["current_units"], "mA");

    ASSERT_EQ(
        run({ "-u", kUrl, "measure", "NumberPoints=100", "-o", (dir / "c.csv").string() }).exitCode,
        0);
    const std::vector<std::string> csv = lines(readFile(dir / "c.csv"));
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv.back().rfind("99,", 0), 0u);

    const Outcome refused = run({ "-u", kUrl, "measure", "NumberPoints=x", "-o", "c2.csv" });
    EXPECT_EQ(refused.exitCode, kExitUsage);
    EXPECT_FALSE(fs::exists(dir / "c2.csv"));
}

// Ctrl+C during a measurement that never completes: once the call file shows
// it started, the interrupt ends it with its own status and nothing written.
TEST_F(Zemctl, InterruptedMeasurementExits130)
{
    const fs::path calls = dir / "calls.jsonl";
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(126);
        execl(ZEMCTL_PATH, ZEMCTL_PATH, "-u", "virtual://resistor?never_complete=1", "--record",
            calls.c_str(), "measure", "SamplingRate=10", "ProbeSignalFrequency=1", "-o",
            (dir / "m.csv").c_str(), nullptr);
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (readFile(calls).find("zem_start_measurement") == std::string::npos
        && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kExitInterrupted);
    EXPECT_FALSE(fs::exists(dir / "m.csv"));
}

// Calls that take 30 ms at a 10 ms period: the ticks they overran are
// skipped, not sent late.
TEST_F(Zemctl, WatchSkipsTicksASlowDeviceMissed)
{
    const Outcome o = run({ "-u", kUrl + "&delay_ms=30", "watch", "get_status", "--period", "10",
        "--count", "5", "--field", "Temperature" });
    ASSERT_EQ(o.exitCode, 0) << o.err;
    const std::vector<std::string> out = lines(o.out);
    ASSERT_EQ(out.size(), 5u);
    long long previous = -3; // the first tick is 0
    for (const std::string &line : out) {
        const Json j = Json::parse(line);
        EXPECT_EQ(j["response"].size(), 1u);
        EXPECT_GE(j["tick"].get<long long>(), previous + 3) << line;
        previous = j["tick"];
        EXPECT_EQ(j["time"].get<std::string>().size(), 24u);
    }
    EXPECT_NE(o.err.find("5 calls, "), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find(" 0 ticks missed"), std::string::npos) << o.err;
}

// A firmware regression test in two commands.
TEST_F(Zemctl, RecordedSessionReplaysAndADifferentLoadDiffers)
{
    const std::string calls = (dir / "calls.jsonl").string();
    ASSERT_EQ(run({ "-u", kUrl, "--record", calls, "get_identity_information" }).exitCode, 0);
    ASSERT_EQ(run({ "-u", kUrl, "--record", calls, "measure", "NumberPoints=50", "-o",
                      (dir / "c.json").string() })
                  .exitCode,
        0);
    const std::vector<std::string> recorded = lines(readFile(calls));
    ASSERT_GE(recorded.size(), 7u);
    const Json first = Json::parse(recorded[0]);
    EXPECT_EQ(first["version"], 1);
    EXPECT_EQ(first["operation"], "zem_open_device");
    EXPECT_EQ(first["origin"], "cli");
    EXPECT_EQ(Json::parse(recorded[1])["response"]["decoded"]["ProductName"]["text"], "ZEM");

    // Whether a status poll came before the end of the measurement is a
    // matter of microseconds; with every call stamped at the same instant
    // the replay has to wait for the measurement as the recording did.
    {
        std::ofstream squeezed(calls, std::ios::trunc);
        for (const std::string &line : recorded) {
            Json j = Json::parse(line);
            j["time"] = first["time"];
            squeezed << j.dump() << '\n';
        }
    }
    const Outcome same = run({ "-u", kUrl, "replay", calls, "--ignore", "ReadyStatus" });
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
    const Outcome other = run({ "-u", "virtual://resistor?ohms=2000&noise=0", "replay", calls });
    EXPECT_EQ(other.exitCode, 4);
    EXPECT_NE(other.out.find("get_measurement: Voltage["), std::string::npos) << other.out;
    const Outcome gone = run({ "-u", kUrl + "&fail=get_measurement:-1", "replay", calls });
    EXPECT_EQ(gone.exitCode, 4);
    EXPECT_NE(gone.out.find("recorded result_ok 0, now device_undefined (-1)"), std::string::npos);

    // The default noise is within a tolerance, and only there.
    const std::string noisy = "virtual://resistor?ohms=1000";
    EXPECT_EQ(run({ "-u", noisy, "replay", calls }).exitCode, 4);
    EXPECT_EQ(run({ "-u", noisy, "replay", calls, "--tolerance", "0.01,0.01" }).exitCode, 0);

    // A line cut short by a full disk or a kill ends the file: left out, and said.
    fs::copy_file(calls, dir / "cut.jsonl");
    std::ofstream(dir / "cut.jsonl", std::ios::app) << R"({"version":1,"ti)";
    const Outcome cut = run({ "-u", kUrl, "replay", "cut.jsonl" });
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_NE(cut.err.find("the last line is unfinished (16 bytes"), std::string::npos) << cut.err;

    std::ofstream(calls, std::ios::app) << "{\"version\":2}\n";
    const Outcome invalid = run({ "-u", kUrl, "replay", calls });
    EXPECT_EQ(invalid.exitCode, kExitInput);
    EXPECT_NE(invalid.err.find(":" + std::to_string(recorded.size() + 1) + ": version 2"),
        std::string::npos)
        << invalid.err;
    EXPECT_EQ(invalid.out, "") << "nothing is sent before the whole file is valid";
}

// --help lists every exit status of the one table, and nothing else.
TEST_F(Zemctl, HelpListsEveryExitStatus)
{
    const Outcome help = run({ "--help" });
    const std::string listed = help.out.substr(help.out.find("Exit status:\n"));
    std::size_t statuses = 0;
    for (const std::string &line : lines(listed.substr(0, listed.find("\n\n"))))
        statuses += line.size() > 2 && line[0] == ' ' && line[2] != ' ';
    EXPECT_EQ(statuses, std::size(kExitStatuses)) << listed;
    for (const ExitStatus &s : kExitStatuses)
        EXPECT_NE(listed.find("\n  " + std::to_string(int(s.code)) + " "), std::string::npos)
            << s.name;
}

// The installed completion, asked as bash asks it, against what each
// subcommand's --help says it takes: every option of the subcommand and of the
// commands above it (they are accepted after it too), every subcommand below.
TEST_F(Zemctl, CompletionOffersWhatEverySubcommandTakes)
{
    std::vector<std::string> queries;
    std::vector<std::set<std::string>> wanted;
    std::vector<std::pair<std::vector<std::string>, std::set<std::string>>> paths { { {}, {} } };
    for (std::size_t p = 0; p < paths.size(); ++p) {
        const auto [path, above] = paths[p];
        std::vector<std::string> args = path;
        args.push_back("--help");
        const Outcome help = run(args);
        ASSERT_EQ(help.exitCode, 0) << help.err;
        EXPECT_EQ(help.out.find("Exit status:") != std::string::npos, path.empty())
            << "only the program's help has the program's footer: " << help.out;
        std::set<std::string> options = above, subcommands;
        std::string section;
        bool body = false; // after the usage line, before the footer
        for (const std::string &line : lines(help.out)) {
            if (line.rfind("Usage:", 0) == 0 || line.empty()) {
                body = body || !line.empty();
            } else if (line[0] != ' ') {
                body = body && line.back() == ':';
                section = line;
            } else if (body && section == "Options:") {
                std::istringstream names(line.substr(0, line.find(' ', 2)));
                for (std::string name; std::getline(names >> std::ws, name, ',');)
                    options.insert(name);
            } else if (body && section != "Positionals:") {
                subcommands.insert(line.substr(2, line.find(' ', 2) - 2));
            }
        }
        std::string line = ZEMCTL_PATH;
        for (const std::string &word : path)
            line += ' ' + word;
        queries.insert(queries.end(), { line + " -", line + ' ' });
        wanted.insert(wanted.end(), { options, subcommands });
        for (const std::string &name : subcommands) {
            paths.push_back({ path, options });
            paths.back().first.push_back(name);
        }
    }
    EXPECT_GT(paths.size(), 30u) << "the walk found the subcommands";
    const std::pair<const char *, std::set<std::string>> examples[] = {
        { " hi", { "history" } },
        { " test --r", { "--repeat", "--report", "--record", "--require-serial" } },
        { " history r", { "runs" } },
        { " describe get_s", { "get_status" } },
        { " --format ", { "json", "text" } },
        { " measure Num", { "NumberPoints=", "NumberChargePoints=" } },
        { " watch set_measurement_settings CurrentSensorMode=CURRENT_SENSE_MODE_I_L",
            { "CurrentSensorMode=CURRENT_SENSE_MODE_I_LOW" } },
    };
    for (const auto &[line, words] : examples) {
        queries.push_back(ZEMCTL_PATH + std::string(line));
        wanted.push_back(words);
    }

    std::ofstream(dir / "queries") << [&] {
        std::string text;
        for (const std::string &q : queries)
            text += q + '\n';
        return text;
    }();
    std::ofstream(dir / "ask.sh") << "source " ZEMCTL_COMPLETION R"(
while IFS= read -r COMP_LINE; do
    COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _zemctl 2>/dev/null
    echo "${COMPREPLY[*]}"
done <queries >answers)";
    ASSERT_EQ(std::system(("cd '" + dir.string() + "' && bash ask.sh").c_str()), 0);
    const std::vector<std::string> answers = lines(readFile(dir / "answers"));
    ASSERT_EQ(answers.size(), queries.size());
    for (std::size_t q = 0; q < queries.size(); ++q) {
        std::set<std::string> offered;
        std::istringstream words(answers[q]);
        for (std::string word; words >> word;)
            offered.insert(word);
        const bool exact = q >= queries.size() - std::size(examples);
        for (const std::string &w : wanted[q])
            EXPECT_TRUE(offered.count(w)) << queries[q] << " lacks " << w;
        EXPECT_TRUE(!exact || offered == wanted[q]) << queries[q] << " offers " << answers[q];
    }

    // A parent's option after its subcommand.
    const Outcome runs = run({ "history", "runs", "--db", (dir / "h.sqlite").string() });
    EXPECT_EQ(runs.exitCode, 0) << runs.err;
}

} // namespace

// Pads of one net read alike, a resistor near its value in the bill of
// materials: checked on a board learned broken (V3's trace open), and on one
// never learned. Each point has one line, the last of a net's once it is done.
TEST_F(Zemctl, NetsDisagreeAndResistorsFarFromTheirValueGetANote)
{
    std::ofstream(dir / "n.json") << R"({"format":"zem-signature","version":1,"board":"N",
"settings":{"SamplingRate":10000,"ProbeSignalFrequency":100,"NumberPoints":100,
"NumberChargePoints":0,"MaxVoltage":5,"CurrentSensorMode":2,"OutputMode":0},
"points":[{"name":"V1","net":"VCC"},{"name":"S1","net":"SDA"},{"name":"V2","net":"VCC"},
{"name":"V3","net":"VCC"},{"name":"S2","net":"SDA"},{"name":"R1","expect":{"ohms":4700}},
{"name":"X1"}]})";
    fs::copy_file(dir / "n.json", dir / "u.json");
    const std::string url = "virtual://open?noise=0&pins=resistor:1000,resistor:47000,"
                            "resistor:1000,open,resistor:1000,resistor:1000,diode";
    ASSERT_EQ(run({ "-u", url, "learn", "n.json" }).exitCode, 0);
    const Json flagged = { { "V3", { "V1", "V2" } }, { "S1", { "S2" } }, { "S2", { "S1" } } };
    const std::string note = "reads 1.00 kΩ, BOM says 4.70 kΩ";
    struct Row
    {
        std::vector<std::string> args;
        int exitCode;
        // By point (test) or net (nets): the fields its line must have.
        Json want;
        std::string url = ""; // else the board learned
    };
    const std::vector<Row> rows {
        { { "test", "n.json", "--db", "h.sqlite" }, 5,
            { { "V1", { { "verdict", "pass" }, { "net", "VCC" } } },
                { "V2", { { "verdict", "pass" } } },
                { "V3",
                    { { "verdict", "net_disagrees" }, { "net", "VCC" },
                        { "net_points", flagged["V3"] } } },
                { "S1", { { "verdict", "net_disagrees" }, { "net_points", flagged["S1"] } } },
                { "S2", { { "verdict", "net_disagrees" }, { "net_points", flagged["S2"] } } },
                { "R1", { { "verdict", "pass" }, { "note", note } } },
                { "X1", { { "verdict", "pass" } } },
                { "", { { "verdict", "fail" }, { "net_disagrees", 3 }, { "passed", 4 } } } } },
        { { "test", "n.json", "--no-history", "--bom-factor", "5" }, 5,
            { { "R1", { { "verdict", "pass" } } }, { "V3", { { "verdict", "net_disagrees" } } } } },
        // Never learned: the nets are judged all the same.
        { { "test", "u.json", "--no-history" }, 5,
            { { "V1", { { "verdict", "not_learned" } } },
                { "V3", { { "verdict", "net_disagrees" }, { "net_points", flagged["V3"] } } },
                { "", { { "not_learned", 4 }, { "net_disagrees", 3 } } } } },
        { { "nets", "u.json" }, 5,
            { { "VCC",
                  { { "points", { "V1", "V2", "V3" } }, { "agree", false },
                      { "disagreeing", { "V3" } } } },
                { "SDA", { { "agree", false }, { "disagreeing", { "S1", "S2" } } } } } },
        { { "test", "n.json", "--bom-factor", "0.5" }, kExitUsage, Json::object() },
        // S2 open: no majority on a net of two, but S2 fails its own reference
        // and S1, which passes its own, stands.
        { { "test", "n.json", "--no-history" }, 5,
            { { "S1", { { "verdict", "pass" } } }, { "S2", { { "verdict", "different" } } } },
            "virtual://open?noise=0&pins=resistor:1000,resistor:47000,resistor:1000,open,open,"
            "resistor:1000,diode" },
    };
    for (const Row &row : rows) {
        std::vector<std::string> args { "-u", row.url.empty() ? url : row.url };
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Outcome o = run(args);
        SCOPED_TRACE(row.args[0] + " " + row.args[1] + " " + row.args.back());
        EXPECT_EQ(o.exitCode, row.exitCode) << o.err;
        std::map<std::string, Json> seen;
        for (const std::string &line : lines(o.out)) {
            const Json j = Json::parse(line);
            const std::string key = j.contains("net") && j.contains("agree") ? j["net"]
                : j.contains("point")                                        ? j["point"]
                                                                             : "";
            EXPECT_TRUE(seen.emplace(key, j).second) << "two lines for " << key;
        }
        for (const auto &[key, fields] : row.want.items())
            for (const auto &[field, value] : fields.items())
                EXPECT_EQ(seen[key][field], value) << key << "." << field << " in " << o.out;
        if (row.args[0] == "test" && row.exitCode == 5) {
            EXPECT_EQ(seen.size(), 8u) << "a line a point and the summary";
        }
    }
    // The history keeps the verdict and counts the run failed.
    const Outcome shown
        = run({ "history", "--db", "h.sqlite", "runs", "--verdict", "net_disagrees" });
    EXPECT_NE(shown.out.find(R"("verdict":"fail")"), std::string::npos) << shown.out << shown.err;
    EXPECT_NE(shown.out.find(R"("failed":3)"), std::string::npos) << shown.out;
}

// A second source's U3 fails the board until it is learned as a variant; a
// point for information that differs never fails it; a skipped one is not
// probed. Learning a variant of an
// unlearned point writes nothing.
TEST_F(Zemctl, VariantsPassASecondSourceAndMaskedPointsNeverFail)
{
    std::ofstream(dir / "v.json") << R"({"format":"zem-signature","version":1,"board":"V",
"settings":{"SamplingRate":10000,"ProbeSignalFrequency":100,"NumberPoints":100,
"NumberChargePoints":0,"MaxVoltage":5,"CurrentSensorMode":2,"OutputMode":0},
"points":[{"name":"R1"},{"name":"J1","check":"skip"},{"name":"U3"},{"name":"P1","check":"info"}]})";
    fs::copy_file(dir / "v.json", dir / "u.json");
    const std::string unlearned = readFile(dir / "u.json");
    // The virtual board's pins are the points, J1's never probed.
    const std::string pins = "virtual://open?noise=0&pins=resistor:1000,short,";
    const std::string makerA = pins + "diode,resistor:1000";
    const std::string makerB = pins + "resistor:4700,resistor:1000";
    const std::string turned = pins + "diode,resistor:47000";
    struct Row
    {
        std::vector<std::string> args;
        int exitCode;
        Json want; // by point, "" for the summary: the fields its line must have
    };
    const std::vector<Row> rows {
        { { "-u", makerA, "learn", "v.json" }, 0, Json::object() },
        { { "-u", makerB, "test", "v.json", "--no-history" }, 5,
            { { "U3", { { "verdict", "different" } } }, { "J1", { { "verdict", "skipped" } } },
                { "", { { "verdict", "fail" }, { "points", 3 } } } } },
        { { "-u", makerB, "learn", "v.json", "--variant", "maker B" }, 0, Json::object() },
        { { "-u", makerB, "test", "v.json", "--no-history" }, 0,
            { { "U3", { { "verdict", "pass" }, { "variant", "maker B" } } },
                { "R1", { { "verdict", "pass" } } }, { "", { { "verdict", "pass" } } } } },
        { { "-u", turned, "test", "v.json", "--no-history" }, 0,
            { { "U3", { { "verdict", "pass" } } },
                { "P1", { { "verdict", "different" }, { "check", "info" } } },
                { "", { { "verdict", "pass" }, { "info", 1 }, { "different", 0 } } } } },
        { { "-u", makerB, "learn", "u.json", "--variant", "maker B" }, kExitUsage, Json::object() },
    };
    for (const Row &row : rows) {
        const Outcome o = run(row.args);
        SCOPED_TRACE(row.args[1] + " " + row.args[2] + " " + row.args[3]);
        EXPECT_EQ(o.exitCode, row.exitCode) << o.err;
        std::map<std::string, Json> seen;
        for (const std::string &line : lines(o.out)) {
            const Json j = Json::parse(line);
            seen[j.contains("point") ? j["point"].get<std::string>() : ""] = j;
        }
        for (const auto &[key, fields] : row.want.items())
            for (const auto &[field, value] : fields.items())
                EXPECT_EQ(seen[key][field], value) << key << "." << field << " in " << o.out;
        EXPECT_FALSE(seen["R1"].contains("variant")) << "its own references come first";
    }
    EXPECT_NE(readFile(dir / "v.json").find("\"version\": 3"), std::string::npos);
    EXPECT_EQ(readFile(dir / "u.json"), unlearned) << "a refused variant writes nothing";
}
