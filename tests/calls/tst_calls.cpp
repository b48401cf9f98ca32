// The call ring at its capacity, and call files written and read back,
// including lines that must be refused.
#include "callfile.h"
#include "callring.h"
#include "records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace zem::calls;

Call makeCall(Operation op, const char *command, std::vector<std::uint8_t> request,
    std::vector<std::uint8_t> response, bool hasRequest, bool hasResponse, std::int32_t result)
{
    Call c;
    c.wallMs = 1796660401123 + result;
    c.durationNs = 12345 + std::int64_t(request.size());
    c.operation = op;
    c.command = command ? commandByName(command) : kNoCommand;
    c.handle = 3;
    c.handleAfter = op == Operation::Close ? -1 : 3;
    c.result = result;
    c.origin = Origin(std::size_t(op) % 7);
    c.setBytes(hasRequest ? request.data() : nullptr, request.size(),
        hasResponse ? response.data() : nullptr, response.size());
    c.hasRequest = hasRequest;
    c.hasResponse = hasResponse;
    return c;
}

void expectSame(const Call &a, const Call &b)
{
    EXPECT_EQ(a.wallMs, b.wallMs);
    EXPECT_EQ(a.durationNs, b.durationNs);
    EXPECT_EQ(a.operation, b.operation);
    EXPECT_EQ(a.command, b.command);
    EXPECT_EQ(a.handle, b.handle);
    EXPECT_EQ(a.handleAfter, b.handleAfter);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.origin, b.origin);
    EXPECT_EQ(a.hasRequest, b.hasRequest);
    EXPECT_EQ(a.hasResponse, b.hasResponse);
    EXPECT_EQ(a.requestSize, b.requestSize);
    EXPECT_EQ(a.bytes, b.bytes);
}

std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t first)
{
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = std::uint8_t(first + i);
    return b;
}

// One call of every kind: records on both sides, a command without records,
// open, close, and both profile calls (one text not UTF-8).
std::vector<Call> everyKind()
{
    return {
        makeCall(
            Operation::Command, "get_measurement_raw", bytes(2, 1), bytes(100, 7), true, true, 0),
        makeCall(Operation::Command, "start_measurement", {}, {}, false, false, -4),
        makeCall(
            Operation::Command, "set_measurement_settings", bytes(48, 200), {}, true, false, -3),
        makeCall(Operation::Open, nullptr, { 'v', ':', '/' }, {}, true, false, 0),
        makeCall(Operation::Close, nullptr, {}, {}, false, false, -1),
        makeCall(Operation::GetProfile, nullptr, {}, { '{', 0xff, '}' }, false, true, 0),
        makeCall(Operation::SetProfile, nullptr, {}, {}, true, false, 7),
    };
}

TEST(CallRing, KeepsTheNewestAtCapacityAndCountsTheDropped)
{
    CallRing ring(3);
    const std::vector<Call> calls = everyKind();
    for (const Call &c : calls)
        ring.append(c);
    ASSERT_EQ(ring.size(), 3u);
    EXPECT_TRUE(ring.full());
    EXPECT_EQ(ring.dropped(), calls.size() - 3);
    EXPECT_EQ(ring.total(), calls.size());
    EXPECT_EQ(ring.failures(), 4u);
    // Slots were reused with bytes of other sizes; each keeps exactly its own.
    for (std::size_t i = 0; i < 3; ++i)
        expectSame(ring.at(i), calls[calls.size() - 3 + i]);

    ring.clear();
    EXPECT_EQ(ring.size(), 0u);
    ring.append(calls[0]);
    expectSame(ring.newest(), calls[0]);
    EXPECT_EQ(ring.dropped(), 0u);
}

TEST(CallFile, ReadsBackWhatItWrote)
{
    CallRing ring(16);
    for (const Call &c : everyKind())
        ring.append(c);
    char dir[] = "/tmp/tst_callsXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string path = std::string(dir) + "/calls.jsonl";
    std::string error;
    ASSERT_TRUE(writeCallFile(path, ring, error)) << error;

    // A later version of the writer may add keys; this one ignores them.
    {
        std::ofstream out(path, std::ios::app);
        Call extra = everyKind()[0];
        auto j = callJson(extra);
        j["added_later"] = { 1, 2 };
        out << "\n" << j.dump() << "\n";
    }
    // A last line cut short while it was written is left out, and said so.
    std::ofstream(path, std::ios::app) << callLine(everyKind()[1]).substr(0, 30);
    std::vector<Call> read;
    std::string note;
    ASSERT_TRUE(readCallFile(path, read, error, &note)) << error;
    EXPECT_NE(note.find("unfinished (30 bytes"), std::string::npos) << note;
    ASSERT_EQ(read.size(), ring.size() + 1);
    for (std::size_t i = 0; i < ring.size(); ++i)
        expectSame(read[i], ring.at(i));
    // A code the library does not define says so, with its exact value.
    EXPECT_EQ(callJson(everyKind()[6])["result_name"], "unknown (7)");

    // Writing over a directory fails and leaves no temporary file behind.
    EXPECT_FALSE(writeCallFile(dir, ring, error));
    EXPECT_NE(error.find(dir), std::string::npos);
    std::remove(path.c_str());
    EXPECT_EQ(rmdir(dir), 0); // empty: nothing left over
}

struct BadLine
{
    const char *name;
    std::string line;
    const char *reason;
};

class CallFileRefuses : public testing::TestWithParam<BadLine>
{
};

TEST_P(CallFileRefuses, ALineAndNamesIt)
{
    const std::string good = callLine(everyKind()[0]);
    std::vector<Call> calls = everyKind();
    std::string error;
    ASSERT_FALSE(readCallText(good + "\n\n" + GetParam().line + "\n" + good, calls, error));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

std::string edited(const char *key, const std::string &value)
{
    auto j = callJson(everyKind()[0]);
    j[key] = nlohmann::ordered_json::parse(value);
    return j.dump();
}

INSTANTIATE_TEST_SUITE_P(Lines, CallFileRefuses,
    testing::Values(
        BadLine { "CutShort", callLine(everyKind()[0]).substr(0, 40), "not valid JSON" },
        BadLine { "RecordTooShort", edited("response", R"({"hex": "00 01"})"),
            "holds 2 bytes, get_measurement_raw_response has 100" },
        BadLine { "UnknownOrigin", edited("origin", R"("somebody")"), "'origin'" },
        BadLine { "BadTime", edited("time", R"("2026-02-30T10:00:00Z")"), "'time'" },
        BadLine { "NewerVersion", edited("version", "2"), "version 2 is not supported" },
        BadLine { "VersionPast32Bits", edited("version", "4294967297"),
            "version 4294967297 is not supported" }),
    [](const testing::TestParamInfo<BadLine> &info) { return std::string(info.param.name); });

} // namespace
