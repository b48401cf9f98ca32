// zemctl as its users run it: whole processes against the virtual
// instrument, checked by exit code, standard output and error, and files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const std::string kUrl = "virtual://resistor?ohms=1000&noise=0";

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

    // Runs zemctl with args and input on its standard input, without ZEM_URL.
    Outcome run(std::vector<std::string> args, const std::string &input = {})
    {
        std::ofstream(dir / "stdin") << input;
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, (dir / "stdin").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(
            &files, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(
            &files, 2, (dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        args.insert(args.begin(), ZEMCTL_PATH);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char *> env;
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "ZEM_URL=", 8) != 0)
                env.push_back(*e);
        env.push_back(nullptr);
        Outcome o;
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, ZEMCTL_PATH, &files, nullptr, argv.data(), env.data()) == 0
            && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            o.exitCode = WEXITSTATUS(status);
        posix_spawn_file_actions_destroy(&files);
        o.out = readFile(dir / "stdout");
        o.err = readFile(dir / "stderr");
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
};

class Invocation : public Zemctl, public ::testing::WithParamInterface<Case>
{
};

TEST_P(Invocation, ExitsAndPrintsAsDocumented)
{
    const Case &c = GetParam();
    const Outcome o = run(c.args);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Table, Invocation,
    ::testing::Values(Case { { "-u", kUrl, "get_status" }, 0,
                          R"({"Status":{"value":0,"name":"STATUS_OK"},"Temperature":)", "" },
        Case { { "-u", kUrl, "--format", "text", "get_measurement_settings" }, 0,
            "\nCurrentSensorMode    = 2 (CURRENT_SENSE_MODE_I_MID)\n", "" },
        Case { { "-u", kUrl, "--hex", "get_measurement_raw", "Frame=0x0" }, 2, R"("hex":"00 00 )",
            "get_measurement_raw returned result_value_error (-3)" },
        Case { { "get_status" }, 1, "", "use -u URL or set ZEM_URL" },
        Case { { "-u", "virtual://nothing", "get_status" }, 1, "",
            "cannot open device virtual://nothing" },
        Case { { "-u", kUrl, "set_measurement_settings", "NumberPoints=5000000000" }, 1, "",
            "NumberPoints: 5000000000 is out of range; allowed: 0..4294967295" },
        Case { { "-u", kUrl, "set_measurement_settings", "Reserved0=1,2" }, 1, "",
            "Reserved0: 2 numbers given; allowed: 4 numbers 0..255" },
        Case {
            { "-u", kUrl, "reset_events", "IOEventsRst=IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED|NO" },
            1, "", "IOEventsRst: unknown flag \"NO\"; allowed: 0..65535, or flags IOEVENTSRST_" },
        Case { { "-u", kUrl, "set_measurement_settings", "Samplingrate=1" }, 1, "",
            "unknown field \"Samplingrate\" in measurement_settings; fields: SamplingRate," },
        Case { { "-u", kUrl, "set_measurement_settings", "NumberPoints=5" }, 2, "",
            "set_measurement_settings returned result_value_error (-3)" },
        Case { { "-u", kUrl, "describe", "reset_events" }, 0,
            "IOEventsRst            uint16_t     0..65535", "" },
        Case { { "-u", kUrl, "profile", "set", "/nonexistent/profile.json" }, 1, "",
            "cannot read /nonexistent/profile.json" }));

// One device for many commands: a setter fills what it is not given from its
// getter, --no-fill sends zeros, and each line answers one JSON object.
TEST_F(Zemctl, ShellFromAPipeSharesOneDevice)
{
    const Outcome o = run({ "-u", kUrl },
        "set_measurement_settings NumberPoints=200 OutputMode=OUT_MODE_GROUNDED_CONTINUOUS\n"
        "get_measurement_settings\n"
        "set_measurement_settings --no-fill NumberPoints=300\n"
        "nonsense\n"
        "help\n"
        "quit\n"
        "get_status\n");
    const std::vector<std::string> out = lines(o.out);
    ASSERT_EQ(out.size(), 5u) << o.out;
    EXPECT_EQ(Json::parse(out[0])["result"], 0);
    const Json settings = Json::parse(out[1])["response"];
    EXPECT_EQ(settings["NumberPoints"], 200);
    EXPECT_EQ(settings["OutputMode"]["name"], "OUT_MODE_GROUNDED_CONTINUOUS");
    EXPECT_EQ(settings["SamplingRate"], 10000.0) << "fill kept the device's own value";
    EXPECT_EQ(Json::parse(out[2])["result_name"], "result_value_error (-3)");
    EXPECT_NE(Json::parse(out[3])["error"].get<std::string>().find("nonsense"), std::string::npos);
    EXPECT_EQ(Json::parse(out[4])["commands"].size(), 12u);
    EXPECT_EQ(o.exitCode, 2) << "the worst line decides";
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
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "c2.csv"));
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

    std::ofstream(calls, std::ios::app) << "{\"version\":2}\n";
    const Outcome invalid = run({ "-u", kUrl, "replay", calls });
    EXPECT_EQ(invalid.exitCode, 1);
    EXPECT_NE(invalid.err.find(":" + std::to_string(recorded.size() + 1) + ": version 2"),
        std::string::npos)
        << invalid.err;
    EXPECT_EQ(invalid.out, "") << "nothing is sent before the whole file is valid";
}

} // namespace
