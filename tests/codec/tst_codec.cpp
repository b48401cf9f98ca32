// The record codec: every record of the description survives decode and
// encode byte for byte, and each kind of input is read or refused by name.
#include "codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using zem::codec::Json;

std::vector<const zem::Record *> allRecords()
{
    std::vector<const zem::Record *> records { &zem::records::deviceRank };
    for (const zem::Command &c : zem::kCommands)
        for (const zem::Record *r : { c.request, c.response })
            if (r && std::find(records.begin(), records.end(), r) == records.end())
                records.push_back(r);
    return records;
}

class RoundTrip : public ::testing::TestWithParam<const zem::Record *>
{
};

// Random bytes, with every float redrawn until finite: all such records are
// valid input, and JSON text must bring back exactly the same bytes.
TEST_P(RoundTrip, RandomRecordsComeBackByteForByte)
{
    const zem::Record &record = *GetParam();
    std::mt19937 random(record.size);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes(record.size);
        for (auto &b : bytes)
            b = std::uint8_t(random());
        for (const zem::Field &f : record.fields)
            for (std::size_t i = 0; f.type == zem::ElementType::Float && i < f.count; ++i) {
                float v;
                do {
                    const std::uint32_t bits = random();
                    std::memcpy(&v, &bits, sizeof v);
                } while (!std::isfinite(v));
                std::memcpy(&bytes[f.offset + i * 4], &v, sizeof v);
            }
        const std::string text = zem::codec::decode(record, bytes.data()).dump();
        std::vector<std::uint8_t> back(record.size, 0);
        ASSERT_EQ(zem::codec::encode(record, Json::parse(text), back.data()), "") << text;
        ASSERT_EQ(back, bytes) << text;

        std::vector<std::uint8_t> fromHex;
        ASSERT_TRUE(zem::codec::fromHex(zem::codec::toHex(bytes.data(), bytes.size()), fromHex));
        ASSERT_EQ(fromHex, bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRecord, RoundTrip, ::testing::ValuesIn(allRecords()),
    [](const auto &info) { return std::string(info.param->name); });

struct Case
{
    const zem::Record *record;
    const char *field;
    const char *input; // command-line text, or JSON when it starts with '@'
    const char *expected; // the decoded field as JSON, or the error's start when it starts with '!'
};

std::ostream &operator<<(std::ostream &out, const Case &c)
{
    return out << c.field << "=" << c.input;
}

class Input : public ::testing::TestWithParam<Case>
{
};

TEST_P(Input, IsReadOrRefusedByName)
{
    const Case &c = GetParam();
    std::vector<std::uint8_t> bytes(c.record->size, 0xA5);
    const std::vector<std::uint8_t> before = bytes;
    std::string error;
    if (c.input[0] == '@') {
        const Json in = Json::parse(c.input + 1);
        error = std::strcmp(c.field, "*") == 0
            ? zem::codec::encode(*c.record, in, bytes.data())
            : zem::codec::encode(*c.record, Json { { c.field, in } }, bytes.data());
    } else {
        const zem::Field *f = zem::codec::findField(*c.record, c.field);
        ASSERT_NE(f, nullptr);
        error = zem::codec::encodeFieldText(*f, c.input, bytes.data());
    }
    if (c.expected[0] == '!') {
        EXPECT_EQ(error.rfind(c.expected + 1, 0), 0u) << error;
        EXPECT_EQ(bytes, before) << "a refused value changed the record";
        return;
    }
    ASSERT_EQ(error, "");
    const zem::Field *f = zem::codec::findField(*c.record, c.field);
    EXPECT_EQ(zem::codec::decodeField(*f, bytes.data()), Json::parse(c.expected));
}

using namespace zem::records;
const Case kCases[] = {
    { &resetEventsRequest, "IOEventsRst",
        "IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED | IOEVENTSRST_RECV_PROBE_BUTTON_PRESSED",
        R"({"value":5,"flags":["IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED","IOEVENTSRST_RECV_PROBE_BUTTON_PRESSED"]})" },
    { &resetEventsRequest, "IOEventsRst", "0x12",
        R"({"value":18,"flags":["IOEVENTSRST_GEN_PROBE_BUTTON_RELEASED"]})" },
    { &resetEventsRequest, "IOEventsRst", R"(@["IOEVENTSRST_RECV_PROBE_BUTTON_RELEASED"])",
        R"({"value":8,"flags":["IOEVENTSRST_RECV_PROBE_BUTTON_RELEASED"]})" },
    { &resetEventsRequest, "IOEventsRst",
        R"(@{"value":0,"flags":["IOEVENTSRST_RECV_PROBE_BUTTON_RELEASED"]})",
        R"({"value":0,"flags":[]})" },
    { &measurementSettings, "CurrentSensorMode", "CURRENT_SENSE_MODE_I_MID",
        R"({"value":2,"name":"CURRENT_SENSE_MODE_I_MID"})" },
    { &measurementSettings, "CurrentSensorMode", "7", R"({"value":7})" },
    { &measurementSettings, "OutputMode", R"(@"OUT_MODE_GROUNDED_CONTINUOUS")",
        R"({"value":1,"name":"OUT_MODE_GROUNDED_CONTINUOUS"})" },
    { &measurementSettings, "NumberPoints", "5000", "5000" },
    { &measurementSettings, "SamplingRate", "0.1", "0.1" },
    { &measurementSettings, "SamplingRate", "@-2.0", "-2.0" },
    { &measurementSettings, "Reserved0", "1, 2,0x3,255", "[1,2,3,255]" },
    { &getMeasurementRequest, "FrameNumber", "@3.0", "3" },
    { &identity, "Manufacturer", "ACME",
        R"({"bytes":[65,67,77,69,0,0,0,0,0,0,0,0,0,0,0,0],"text":"ACME"})" },
    { &identity, "Manufacturer", R"(@{"bytes":[200,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],"text":"x"})",
        R"({"bytes":[200,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],"text":"\ufffd"})" },
    { &measurementSettings, "OutputMode", "256",
        "!OutputMode: 256 is out of range; allowed: 0..255, or OUT_MODE_" },
    { &measurementSettings, "NumberPoints", "-1",
        "!NumberPoints: -1 is out of range; allowed: 0..4294967295; the device takes 10..1000" },
    { &measurementSettings, "NumberPoints", "@4294967296",
        "!NumberPoints: 4294967296 is out of range" },
    { &measurementSettings, "NumberPoints", "12abc", "!NumberPoints: not a number: \"12abc\"" },
    { &measurementSettings, "OutputMode", "OUT_MODE_NONE",
        "!OutputMode: unknown name \"OUT_MODE_NONE\"" },
    { &resetEventsRequest, "IOEventsRst", "IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED|NOPE",
        "!IOEventsRst: unknown flag \"NOPE\"; allowed: 0..65535, or flags "
        "IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED|" },
    { &resetEventsRequest, "IOEventsRst", R"(@["NOPE"])", "!IOEventsRst: unknown flag \"NOPE\"" },
    { &measurementSettings, "Reserved0", "1,2,3",
        "!Reserved0: 3 numbers given; allowed: 4 numbers 0..255" },
    { &measurementSettings, "Reserved0", "1,2,3,256",
        "!Reserved0: element 3: \"256\" is not allowed" },
    { &measurementSettings, "SamplingRate", "1e39",
        "!SamplingRate: 1e39 is out of range; allowed: -3.40282e+38..3.40282e+38" },
    { &measurementSettings, "SamplingRate", "nan", "!SamplingRate: nan is out of range" },
    { &measurementSettings, "SamplingRate", "@true", "!SamplingRate: not a number: \"true\"" },
    { &getMeasurementRequest, "FrameNumber", "@1.5", "!FrameNumber: not a whole number: 1.5" },
    { &identity, "Manufacturer", "seventeen bytes!!",
        "!Manufacturer: text of 17 bytes; allowed: text of at most 16 bytes" },
    { &measurementSettings, "*", R"(@{"SamplingRate":5,"Bogus":1})",
        "!unknown field \"Bogus\" in measurement_settings; fields: SamplingRate, " },
    { &measurementSettings, "*", R"(@{"SamplingRate":5,"OutputMode":999})",
        "!OutputMode: 999 is out of range" },
    { &measurementSettings, "*", "@[1,2]", "!measurement_settings: not an object of fields" },
};

INSTANTIATE_TEST_SUITE_P(Cases, Input, ::testing::ValuesIn(kCases));

TEST(Decode, NamesOnlyWhatMatchesAndFloatsThatAreNotFinite)
{
    measurement_settings s {};
    s.SamplingRate = NAN;
    s.ProbeSignalFrequency = -INFINITY;
    s.NumberPoints = MAX_NUMBER_POINTS; // a limit, never a name
    const Json d = zem::codec::decode(zem::records::measurementSettings, &s);
    EXPECT_EQ(d["SamplingRate"], "nan");
    EXPECT_EQ(d["ProbeSignalFrequency"], "-inf");
    EXPECT_EQ(d["NumberPoints"], 1000);
    EXPECT_EQ(
        d["CurrentSensorMode"], Json::parse(R"({"value":0,"name":"CURRENT_SENSE_MODE_ISOLATED"})"));
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(zem::codec::fromHex("0g", bytes));
    EXPECT_FALSE(zem::codec::fromHex("012", bytes));
    EXPECT_TRUE(zem::codec::fromHex("01ff 0A", bytes));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t> { 1, 255, 10 }));
}

} // namespace
