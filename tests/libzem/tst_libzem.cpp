// The virtual instrument through the library's C interface, as every client
// sees it.
#include "codec.h"
#include "connection.h"
#include "csnippet.h"
#include "zem.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// An open virtual device, closed when the test ends.
class Device
{
public:
    explicit Device(const std::string &url)
        : handle(zem_open_device(url.c_str()))
    {
    }
    ~Device() { zem_close_device(&handle); }
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    int32_t handle;
};

measurement_settings settings(
    float rate, float freq, uint32_t points, float volts, uint32_t mode = CURRENT_SENSE_MODE_I_MID)
{
    measurement_settings s {};
    s.SamplingRate = rate;
    s.ProbeSignalFrequency = freq;
    s.NumberPoints = points;
    s.MaxVoltage = volts;
    s.CurrentSensorMode = mode;
    s.OutputMode = OUT_MODE_PROBE_SIGNAL_CONTINUOUS;
    return s;
}

void waitComplete(int32_t h)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    check_measurement_status_response st {};
    do {
        ASSERT_EQ(zem_check_measurement_status(h, &st), 0);
        if (st.ReadyStatus == MEASUREMENT_COMPLETE)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (Clock::now() < deadline);
    FAIL() << "measurement did not complete";
}

struct Curve
{
    std::vector<float> v, i;
};

// Sets up, measures and reads every frame.
Curve measure(int32_t h, const measurement_settings &s)
{
    Curve c;
    EXPECT_EQ(zem_set_measurement_settings(h, &s), 0);
    EXPECT_EQ(zem_start_measurement(h), 0);
    waitComplete(h);
    for (uint16_t f = 0; f * FRAME_SIZE < int(s.NumberPoints); ++f) {
        get_measurement_request rq { f };
        get_measurement_response rs {};
        EXPECT_EQ(zem_get_measurement(h, &rq, &rs), 0) << "frame " << f;
        for (int k = 0; k < FRAME_SIZE && f * FRAME_SIZE + k < int(s.NumberPoints); ++k) {
            c.v.push_back(rs.Voltage[k]);
            c.i.push_back(rs.Current[k]);
        }
    }
    return c;
}

std::string profileOf(int32_t h)
{
    char *text = nullptr;
    EXPECT_EQ(zem_get_profile(h, &text, &malloc), 0);
    std::string s = text ? text : "";
    free(text);
    return s;
}

const measurement_settings kExample = settings(10000, 100, 100, 12);

// ---------------------------------------------------------------- physics

TEST(Physics, ResistorObeysOhmsLaw)
{
    for (double ohms : { 100.0, 1000.0, 4700.0 }) {
        Device d("virtual://resistor?noise=0&ohms=" + std::to_string(ohms));
        const Curve c = measure(d.handle, kExample);
        ASSERT_EQ(c.v.size(), 100u);
        double peak = 0;
        for (size_t k = 0; k < c.v.size(); ++k) {
            peak = std::max(peak, double(c.v[k]));
            if (std::fabs(c.v[k]) > 0.5) {
                EXPECT_NEAR(c.v[k] / c.i[k] * 1000.0, ohms, ohms * 1e-4) << "point " << k;
            }
        }
        // A divider with the 1 kOhm source resistance of the middle range.
        EXPECT_NEAR(peak, 12.0 * ohms / (ohms + 1000.0), 1e-3);
    }
}

TEST(Physics, OneMeasurementOfTheExampleIsOnePeriod)
{
    Device d("virtual://open?noise=0");
    const Curve c = measure(d.handle, kExample);
    EXPECT_NEAR(c.v[0], 0.0, 1e-6);
    EXPECT_NEAR(c.v[25], 12.0, 1e-5);
    EXPECT_NEAR(c.v[75], -12.0, 1e-5);
    for (float i : c.i)
        EXPECT_EQ(i, 0.0f);
}

TEST(Physics, DiodeConductsOneWay)
{
    Device d("virtual://diode?noise=0");
    const Curve c = measure(d.handle, kExample);
    for (size_t k = 0; k < c.v.size(); ++k) {
        if (c.i[k] > 1.0f) { // forward: clamped near a silicon junction's drop
            EXPECT_TRUE(c.v[k] > 0.5f && c.v[k] < 0.8f) << c.v[k];
        }
        if (c.v[k] < -0.1f) { // reverse: the whole source voltage, no current
            EXPECT_NEAR(c.i[k], 0.0, 1e-6);
        }
    }
    EXPECT_GT(*std::max_element(c.i.begin(), c.i.end()), 10.0f);
    EXPECT_LT(*std::min_element(c.v.begin(), c.v.end()), -11.9f);
}

TEST(Physics, ResistorParallelDiode)
{
    Device d("virtual://resistor_diode?noise=0&ohms=2000");
    const Curve c = measure(d.handle, kExample);
    for (size_t k = 0; k < c.v.size(); ++k) {
        if (c.v[k] < -1.0f) {
            EXPECT_NEAR(c.v[k] / c.i[k] * 1000.0, 2000.0, 0.5);
        }
        if (c.v[k] > 0.3f) {
            EXPECT_GT(c.i[k] * 1e-3, c.v[k] / 2000.0);
        }
    }
}

TEST(Physics, CapacitorCurrentLeadsVoltage)
{
    const double farads = 1e-6, omega = 2 * M_PI * 100, rs = 1000;
    Device d("virtual://capacitor?noise=0&farads=1e-6");
    const Curve c = measure(d.handle, kExample);
    const auto vPeak = std::max_element(c.v.begin(), c.v.end()) - c.v.begin();
    const auto iPeak = std::max_element(c.i.begin(), c.i.end()) - c.i.begin();
    EXPECT_LT(iPeak, vPeak);
    const double zc = 1 / (omega * farads);
    const double amps = 12.0 / std::hypot(rs, zc);
    EXPECT_NEAR(c.i[iPeak], 1000 * amps, 0.05);
    EXPECT_NEAR(c.v[vPeak], amps * zc, 0.05);
}

TEST(Physics, ShortAndRanges)
{
    struct Case
    {
        uint32_t mode;
        float peakV, peakMilliamps;
    } cases[] = {
        { CURRENT_SENSE_MODE_I_LOW, 0.0f, 1.0f }, // 1.2 mA clipped to full scale
        { CURRENT_SENSE_MODE_I_MID, 0.0f, 12.0f }, // 12 V through 1 kOhm
        { CURRENT_SENSE_MODE_I_HIGH, 0.0f, 120.0f } // through 100 Ohm
    };
    for (const Case &k : cases) {
        Device d("virtual://short?noise=0");
        const Curve c = measure(d.handle, settings(10000, 100, 100, 12, k.mode));
        EXPECT_NEAR(*std::max_element(c.i.begin(), c.i.end()), k.peakMilliamps, 1e-3) << k.mode;
        EXPECT_NEAR(*std::max_element(c.v.begin(), c.v.end()), k.peakV, 1e-6);
    }
    Device d("virtual://resistor?noise=0");
    const Curve c = measure(d.handle, settings(10000, 100, 100, 12, CURRENT_SENSE_MODE_ISOLATED));
    EXPECT_NEAR(*std::max_element(c.v.begin(), c.v.end()), 12.0, 1e-5);
    for (float i : c.i)
        EXPECT_EQ(i, 0.0f);
}

TEST(Physics, NoiseIsSmallAndRepeatableWithASeed)
{
    Device exact("virtual://resistor?noise=0");
    Device a("virtual://resistor?seed=7");
    Device b("virtual://resistor?seed=7");
    const Curve ce = measure(exact.handle, kExample);
    const Curve ca = measure(a.handle, kExample);
    const Curve cb = measure(b.handle, kExample);
    EXPECT_EQ(ca.v, cb.v);
    EXPECT_EQ(ca.i, cb.i);
    EXPECT_NE(ca.v, ce.v);
    for (size_t k = 0; k < ce.v.size(); ++k) {
        EXPECT_NEAR(ca.v[k], ce.v[k], 0.01);
        EXPECT_NEAR(ca.i[k], ce.i[k], 0.01);
    }
}

// A lot of boards: `options` are added to each board's URL; `spread` is the
// largest deviation from 1 kOhm in percent.
struct LotCase
{
    const char *name;
    std::string options;
    double spread;
    bool unstable;
};

// Printed by name: the bytes of the struct include padding.
void PrintTo(const LotCase &c, std::ostream *out)
{
    *out << c.name;
}

class Lot : public testing::TestWithParam<LotCase>
{
};

// Boards 1 to 12, each opened twice and measured twice: a board keeps its
// values across opens, and between measurements unless it is unstable.
TEST_P(Lot, BoardsKeepTheirValuesWithinTheSpread)
{
    const LotCase &c = GetParam();
    const measurement_settings fast = settings(1e6f, 1e4f, 100, 12);
    Device nominal("virtual://resistor?noise=0");
    const Curve exact = measure(nominal.handle, fast);
    std::set<float> seen;
    for (int board = 1; board <= 12; ++board) {
        const std::string url
            = "virtual://resistor?noise=0&board=" + std::to_string(board) + c.options;
        Device a(url), b(url);
        const Curve first = measure(a.handle, fast), again = measure(a.handle, fast);
        EXPECT_EQ(first.i == again.i, !c.unstable) << url;
        EXPECT_EQ(first.i, measure(b.handle, fast).i) << url; // an unstable pin repeats too
        if (c.spread == 0) {
            EXPECT_EQ(first.i, exact.i) << url; // bit for bit as without the options
        }
        const float peak = first.v[25] / first.i[25]; // kOhm at the sine's crest
        EXPECT_NEAR(peak, 1.0, c.spread / 100 + 1e-6) << url;
        seen.insert(peak);
    }
    EXPECT_EQ(seen.size() > 1, c.spread > 0);
}

INSTANTIATE_TEST_SUITE_P(Options, Lot,
    testing::Values(LotCase { "boardAlone", "", 0, false },
        LotCase { "noSpread", "&spread=0", 0, false }, LotCase { "spread5", "&spread=5", 5, false },
        LotCase { "unstable", "&unstable=1", 30, true }),
    [](const testing::TestParamInfo<LotCase> &p) { return std::string(p.param.name); });

// Placed by the program, the probe stays on its pin over per_pin= and the
// button (wrapping; a negative pin is refused); a crest of 0 is the diode's.
TEST(Probe, StaysOnThePlacedPin)
{
    const std::string board = "virtual://open?noise=0&pins=resistor:1000,diode,resistor:4700";
    const struct
    {
        std::string url;
        int32_t pin, result;
        double crest;
    } cases[] = { { board, 0, 0, 6.0 }, { board, 1, 0, 0 }, { board, 2, 0, 9.8947 },
        { board, 5, 0, 9.8947 }, { board, INT32_MAX, 0, 0 },
        { board + "&button_period_ms=1", 1, 0, 0 },
        { board + "&per_pin=3", -3, ZEM_RESULT_VALUE_ERROR, 6.0 },
        { "virtual://resistor?noise=0&ohms=4700", 7, 0, 9.8947 } };
    for (const auto &c : cases) {
        Device d(c.url);
        EXPECT_EQ(zem_virtual_probe_pin(d.handle, c.pin), c.result) << c.url;
        for (int k = 0; k < 3; ++k) {
            const Curve got = measure(d.handle, kExample);
            const bool diode = got.v[25] > 0.5f && got.v[25] < 0.8f && got.v[75] < -11.9f;
            EXPECT_TRUE(c.crest ? std::fabs(got.v[25] - c.crest) < 1e-3 : diode) << c.pin;
        }
    }
}

// A capture repeats whatever was measured before it: one device steps over
// the pins, the other is placed on the unstable one, then on the first.
TEST(Probe, CapturesRepeatWhateverCameBefore)
{
    const std::string url
        = "virtual://open?board=3&unstable=3&pins=resistor:1000,diode,resistor:4700";
    Device stepping(url), placed(url);
    std::vector<Curve> steps;
    for (int k = 0; k < 6; ++k)
        steps.push_back(measure(stepping.handle, kExample));
    ASSERT_EQ(zem_virtual_probe_pin(placed.handle, 2), 0);
    const Curve a = measure(placed.handle, kExample), b = measure(placed.handle, kExample);
    ASSERT_EQ(zem_virtual_probe_pin(placed.handle, 3), 0);
    EXPECT_EQ(measure(placed.handle, kExample).i, steps[0].i);
    EXPECT_EQ(a.v, steps[2].v);
    EXPECT_EQ(b.i, steps[5].i);
    EXPECT_GT(std::fabs(a.i[25] / b.i[25] - 1), 0.1); // still unstable
    zem::Connection device; // and the binding finds the call in our library
    ASSERT_NE(device.open(url), -1);
    EXPECT_EQ(device.placeVirtualProbe(1), std::optional<std::int32_t>(ZEM_RESULT_OK));
}

TEST(Physics, GroundedOutputDrivesNothing)
{
    Device d("virtual://resistor?noise=0");
    measurement_settings s = kExample;
    s.OutputMode = OUT_MODE_GROUNDED_CONTINUOUS;
    const Curve c = measure(d.handle, s);
    for (size_t k = 0; k < c.v.size(); ++k) {
        EXPECT_EQ(c.v[k], 0.0f);
        EXPECT_EQ(c.i[k], 0.0f);
    }
}

// ------------------------------------------------------------- validation

struct BadSetting
{
    const char *what;
    void (*spoil)(measurement_settings &);
};

class Validation : public testing::TestWithParam<BadSetting>
{
};

TEST_P(Validation, RefusedAndNothingChanged)
{
    Device d("virtual://open");
    const measurement_settings good = settings(5000, 50, 200, 3);
    ASSERT_EQ(zem_set_measurement_settings(d.handle, &good), 0);
    measurement_settings bad = good;
    GetParam().spoil(bad);
    EXPECT_EQ(zem_set_measurement_settings(d.handle, &bad), ZEM_RESULT_VALUE_ERROR);
    measurement_settings now {};
    ASSERT_EQ(zem_get_measurement_settings(d.handle, &now), 0);
    EXPECT_EQ(std::memcmp(&now, &good, sizeof now), 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, Validation,
    testing::Values(
        BadSetting { "points below 10", [](measurement_settings &s) { s.NumberPoints = 9; } },
        BadSetting { "points above 1000", [](measurement_settings &s) { s.NumberPoints = 1001; } },
        BadSetting { "zero rate", [](measurement_settings &s) { s.SamplingRate = 0; } },
        BadSetting { "negative rate", [](measurement_settings &s) { s.SamplingRate = -5; } },
        BadSetting { "NaN rate", [](measurement_settings &s) { s.SamplingRate = NAN; } },
        BadSetting { "infinite rate", [](measurement_settings &s) { s.SamplingRate = INFINITY; } },
        BadSetting {
            "zero frequency", [](measurement_settings &s) { s.ProbeSignalFrequency = 0; } },
        BadSetting {
            "NaN frequency", [](measurement_settings &s) { s.ProbeSignalFrequency = NAN; } },
        BadSetting { "above half the rate",
            [](measurement_settings &s) { s.ProbeSignalFrequency = 2500.5f; } },
        BadSetting { "voltage too high", [](measurement_settings &s) { s.MaxVoltage = 12.01f; } },
        BadSetting { "negative voltage", [](measurement_settings &s) { s.MaxVoltage = -1; } },
        BadSetting {
            "unknown sensor mode", [](measurement_settings &s) { s.CurrentSensorMode = 4; } },
        BadSetting { "unknown output mode", [](measurement_settings &s) { s.OutputMode = 3; } }),
    [](const testing::TestParamInfo<BadSetting> &p) {
        std::string n = p.param.what;
        for (char &c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

TEST(Validation, LimitsAndReservedBytesAreKept)
{
    Device d("virtual://open");
    measurement_settings s = settings(10000, 5000, MIN_NUMBER_POINTS, 12);
    for (size_t k = 0; k < sizeof s.Reserved1; ++k)
        s.Reserved1[k] = uint8_t(k + 1);
    s.Reserved0[3] = 0xAB;
    ASSERT_EQ(zem_set_measurement_settings(d.handle, &s), 0);
    s.NumberPoints = MAX_NUMBER_POINTS;
    ASSERT_EQ(zem_set_measurement_settings(d.handle, &s), 0);
    measurement_settings back {};
    ASSERT_EQ(zem_get_measurement_settings(d.handle, &back), 0);
    EXPECT_EQ(std::memcmp(&back, &s, sizeof s), 0);

    calibration_settings c {};
    ASSERT_EQ(zem_get_calibration_settings(d.handle, &c), 0);
    calibration_settings bad = c;
    bad.CurrentSense2Mult = 0;
    EXPECT_EQ(zem_set_calibration_settings(d.handle, &bad), ZEM_RESULT_VALUE_ERROR);
    bad.CurrentSense2Mult = NAN;
    EXPECT_EQ(zem_set_calibration_settings(d.handle, &bad), ZEM_RESULT_VALUE_ERROR);
    calibration_settings now {};
    ASSERT_EQ(zem_get_calibration_settings(d.handle, &now), 0);
    EXPECT_EQ(std::memcmp(&now, &c, sizeof c), 0);
}

// ----------------------------------------------------------------- frames

TEST(Frames, OnlyMeasuredPointsCanBeRead)
{
    Device d("virtual://resistor?noise=0");
    get_measurement_request rq { 0 };
    get_measurement_response rs {};
    EXPECT_EQ(
        zem_get_measurement(d.handle, &rq, &rs), ZEM_RESULT_VALUE_ERROR); // nothing measured yet

    const Curve c = measure(d.handle, settings(10000, 100, 110, 12));
    ASSERT_EQ(c.v.size(), 110u);
    rq.FrameNumber = 4; // points 100..109, then nothing
    ASSERT_EQ(zem_get_measurement(d.handle, &rq, &rs), 0);
    EXPECT_EQ(rs.Voltage[9], c.v[109]);
    EXPECT_EQ(rs.Voltage[10], 0.0f);
    rq.FrameNumber = 5;
    EXPECT_EQ(zem_get_measurement(d.handle, &rq, &rs), ZEM_RESULT_VALUE_ERROR);
    get_measurement_raw_request rawRq { 5 };
    get_measurement_raw_response raw {};
    EXPECT_EQ(zem_get_measurement_raw(d.handle, &rawRq, &raw), ZEM_RESULT_VALUE_ERROR);
}

TEST(Frames, RawCodesConvertBackThroughTheCalibration)
{
    Device d("virtual://resistor?seed=3");
    Curve c = measure(d.handle, kExample);
    for (int round = 0; round < 2; ++round) {
        calibration_settings cal {};
        ASSERT_EQ(zem_get_calibration_settings(d.handle, &cal), 0);
        for (uint16_t f = 0; f < 4; ++f) {
            get_measurement_raw_request rq { f };
            get_measurement_raw_response raw {};
            ASSERT_EQ(zem_get_measurement_raw(d.handle, &rq, &raw), 0);
            for (int k = 0; k < FRAME_SIZE; ++k) {
                const int p = f * FRAME_SIZE + k;
                EXPECT_NEAR(raw.ADCHighCode[k] * cal.ADCMult + cal.ADCVOffset, c.v[p], cal.ADCMult);
                EXPECT_NEAR(raw.ADCLowCode[k] * cal.CurrentSense2Mult + cal.CurrentSense2Offset,
                    c.i[p], cal.CurrentSense2Mult);
            }
        }
        // A changed calibration changes the codes, consistently (6 V stays
        // within the narrower voltage range).
        cal.ADCMult *= 0.5f;
        cal.ADCVOffset = -6.4f;
        cal.CurrentSense2Mult *= 2.0f;
        ASSERT_EQ(zem_set_calibration_settings(d.handle, &cal), 0);
        c = measure(d.handle, settings(10000, 100, 100, 6));
    }

    start_autocalibration_response ac {};
    ASSERT_EQ(zem_start_autocalibration(d.handle, &ac), 0);
    EXPECT_EQ(ac.Result, CALIBRATION_OK);
    calibration_settings restored {};
    ASSERT_EQ(zem_get_calibration_settings(d.handle, &restored), 0);
    EXPECT_FLOAT_EQ(restored.ADCVOffset, -12.8f);
}

// ----------------------------------------------------------------- timing

TEST(Timing, MeasurementCompletesAfterItsSamples)
{
    Device d("virtual://open");
    const measurement_settings s = settings(1000, 10, 100, 1); // 100 samples at 1 kHz: 100 ms
    ASSERT_EQ(zem_set_measurement_settings(d.handle, &s), 0);
    check_measurement_status_response st {};
    ASSERT_EQ(zem_check_measurement_status(d.handle, &st), 0);
    EXPECT_EQ(st.ReadyStatus, MEASUREMENT_NOT_COMPLETE);

    const auto t0 = Clock::now();
    ASSERT_EQ(zem_start_measurement(d.handle), 0);
    ASSERT_EQ(zem_check_measurement_status(d.handle, &st), 0);
    EXPECT_EQ(st.ReadyStatus, MEASUREMENT_NOT_COMPLETE);
    get_measurement_request rq { 0 };
    get_measurement_response rs {};
    EXPECT_EQ(zem_get_measurement(d.handle, &rq, &rs), ZEM_RESULT_VALUE_ERROR);
    waitComplete(d.handle);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(100));
    EXPECT_EQ(zem_get_measurement(d.handle, &rq, &rs), 0);
}

// A held clock moves only when advanced, however much real time passes.
TEST(Timing, HeldClockMovesOnlyWhenAdvanced)
{
    Device held("virtual://open"), real("virtual://open");
    const measurement_settings s = settings(1000, 10, 100, 1); // 100 ms
    ASSERT_EQ(zem_virtual_advance_clock(held.handle, 0), 0);
    for (const Device *d : { &held, &real }) {
        ASSERT_EQ(zem_set_measurement_settings(d->handle, &s), 0);
        ASSERT_EQ(zem_start_measurement(d->handle), 0);
    }
    waitComplete(real.handle);
    check_measurement_status_response st {};
    for (const auto &[ms, ready] : { std::pair(99, 0), std::pair(1, 1) }) {
        ASSERT_EQ(zem_virtual_advance_clock(held.handle, ms), 0);
        ASSERT_EQ(zem_check_measurement_status(held.handle, &st), 0);
        EXPECT_EQ(st.ReadyStatus, ready) << "after " << ms << " ms more";
    }
    EXPECT_EQ(zem_virtual_advance_clock(held.handle, -1), ZEM_RESULT_VALUE_ERROR);
}

TEST(Timing, AutocalibrationTakesItsTime)
{
    Device d("virtual://open?calibration_ms=60");
    start_autocalibration_response r {};
    const auto t0 = Clock::now();
    ASSERT_EQ(zem_start_autocalibration(d.handle, &r), 0);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(60));
}

// --------------------------------------------------------------- profiles

TEST(Profiles, RoundTrip)
{
    Device d("virtual://open");
    const measurement_settings s = settings(20000, 250, 400, 7.5f, CURRENT_SENSE_MODE_I_HIGH);
    ASSERT_EQ(zem_set_measurement_settings(d.handle, &s), 0);
    calibration_settings c {};
    ASSERT_EQ(zem_get_calibration_settings(d.handle, &c), 0);
    c.CurrentSense3Offset = -127.5f;
    ASSERT_EQ(zem_set_calibration_settings(d.handle, &c), 0);
    const std::string saved = profileOf(d.handle);
    ASSERT_TRUE(nlohmann::json::accept(saved));

    Device other("virtual://open");
    ASSERT_EQ(zem_set_profile(other.handle, saved.c_str()), 0);
    EXPECT_EQ(profileOf(other.handle), saved);
    measurement_settings back {};
    ASSERT_EQ(zem_get_measurement_settings(other.handle, &back), 0);
    EXPECT_EQ(std::memcmp(&back, &s, sizeof s), 0);
}

TEST(Profiles, MalformedProfilesChangeNothing)
{
    Device d("virtual://open");
    const std::string good = profileOf(d.handle);
    auto edited = [&](auto change) {
        nlohmann::json j = nlohmann::json::parse(good);
        change(j);
        return j.dump();
    };
    using J = nlohmann::json;
    const std::string bad[] = {
        "",
        "not json",
        good.substr(0, good.size() / 2),
        "[]",
        "{\"version\": 1}",
        std::string("{\"version\": \"\xff\xfe\"}"),
        edited([](J &j) { j["version"] = 2; }),
        edited([](J &j) { j["extra"] = 1; }),
        edited([](J &j) { j["measurement_settings"].erase("MaxVoltage"); }),
        edited([](J &j) { j["measurement_settings"]["Colour"] = 1; }),
        edited([](J &j) { j["measurement_settings"]["NumberPoints"] = 5; }),
        edited([](J &j) { j["measurement_settings"]["NumberPoints"] = 100.5; }),
        edited([](J &j) { j["measurement_settings"]["NumberPoints"] = -100; }),
        edited([](J &j) { j["measurement_settings"]["OutputMode"] = 256; }),
        edited([](J &j) { j["measurement_settings"]["SamplingRate"] = "fast"; }),
        edited([](J &j) { j["measurement_settings"]["MaxVoltage"] = 1e300; }),
        // valid settings with one bad calibration value must not half-apply
        edited([](J &j) {
            j["measurement_settings"]["NumberPoints"] = 500;
            j["calibration_settings"]["ADCMult"] = 0;
        }),
        std::string(2 << 20, ' ') + good,
    };
    for (const std::string &text : bad) {
        EXPECT_EQ(zem_set_profile(d.handle, text.c_str()), ZEM_RESULT_VALUE_ERROR)
            << text.substr(0, 80);
        EXPECT_EQ(profileOf(d.handle), good);
    }
}

TEST(Profiles, BadArgumentsAreErrors)
{
    Device d("virtual://open");
    char *text = nullptr;
    EXPECT_EQ(zem_get_profile(d.handle, &text, [](size_t) -> void * { return nullptr; }),
        ZEM_RESULT_VALUE_ERROR);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(zem_get_profile(d.handle, nullptr, &malloc), ZEM_RESULT_VALUE_ERROR);
    EXPECT_EQ(zem_get_profile(d.handle, &text, nullptr), ZEM_RESULT_VALUE_ERROR);
    EXPECT_EQ(zem_set_profile(d.handle, nullptr), ZEM_RESULT_VALUE_ERROR);
    EXPECT_EQ(zem_get_status(d.handle, nullptr), ZEM_RESULT_VALUE_ERROR);
    EXPECT_EQ(zem_get_measurement(d.handle, nullptr, nullptr), ZEM_RESULT_VALUE_ERROR);
    EXPECT_EQ(zem_close_device(nullptr), ZEM_RESULT_VALUE_ERROR);
}

// ---------------------------------------------------------------- handles

TEST(Handles, OpenCloseAndUnknownHandles)
{
    int32_t a = zem_open_device("virtual://resistor?serial=11");
    int32_t b = zem_open_device("virtual://diode?serial=22");
    ASSERT_NE(a, -1);
    ASSERT_NE(b, -1);
    ASSERT_NE(a, b);
    get_identity_information_response id {};
    ASSERT_EQ(zem_get_identity_information(b, &id), 0);
    EXPECT_EQ(id.SerialNumber, 22u);

    const int32_t stale = a;
    EXPECT_EQ(zem_close_device(&a), 0);
    EXPECT_EQ(a, -1);
    EXPECT_EQ(zem_close_device(&a), ZEM_DEVICE_UNDEFINED); // harmless on -1
    int32_t again = stale;
    EXPECT_EQ(zem_close_device(&again), ZEM_DEVICE_UNDEFINED);
    EXPECT_EQ(again, -1);
    get_status_response st {};
    EXPECT_EQ(zem_get_status(stale, &st), ZEM_DEVICE_UNDEFINED);
    EXPECT_EQ(zem_get_status(-1, &st), ZEM_DEVICE_UNDEFINED);
    EXPECT_EQ(zem_start_measurement(12345678), ZEM_DEVICE_UNDEFINED);
    EXPECT_EQ(zem_virtual_probe_pin(stale, 0), ZEM_DEVICE_UNDEFINED);
    EXPECT_EQ(zem_virtual_advance_clock(stale, 0), ZEM_DEVICE_UNDEFINED);

    int32_t c = zem_open_device("virtual://open");
    EXPECT_NE(c, stale); // handles are not reused
    EXPECT_EQ(zem_get_identity_information(b, &id), 0); // the other device is untouched
    zem_close_device(&b);
    zem_close_device(&c);
}

TEST(Handles, RefusedUrls)
{
    const std::string refused[] = {
        "",
        "com:\\\\.\\COM12",
        "com:///dev/ttyACM0",
        "vu-net://192.168.1.10/00001234",
        "virtual://",
        "virtual://resistance",
        "virtual://resistor?ohms=-5",
        "virtual://resistor?ohms=abc",
        "virtual://resistor?ohms",
        "virtual://resistor?colour=red",
        "virtual://open?fail=get_status",
        "virtual://open?fail=teleport:-2",
        "virtual://open?fail=get_status:-2@0",
        "virtual://open?serial=4294967296",
        "virtual://open?temperature=99999",
        "virtual://open?board=-1",
        "virtual://open?board=1.5",
        "virtual://open?spread=-1",
        "virtual://open?spread=51",
        "virtual://open?unstable=0",
        "virtual://open?unstable=2",
        "virtual://open?unstable=1,",
        "virtual://open?unstable=3&pins=open,short",
        "virtual://\xc3\xa9\xff\xfe",
        "virtual://open?seed=" + std::string(100000, '7'),
        "virtual://open?" + std::string(100000, '&'),
    };
    for (const std::string &url : refused) {
        EXPECT_EQ(zem_open_device(url.c_str()), -1) << url.substr(0, 60);
        EXPECT_STRNE(zem_virtual_open_error(), "") << "no reason for " << url.substr(0, 60);
    }
    EXPECT_EQ(zem_open_device(nullptr), -1);
    EXPECT_STREQ(zem_virtual_open_error(), "no URL");
    Device good("virtual://open");
    EXPECT_STREQ(zem_virtual_open_error(), "");
}

// A program that set a decimal-comma locale, as every Qt program does from
// its environment, reads URL numbers and writes C snippets and field texts
// with '.' all the same. True once such a locale is set.
bool setDecimalCommaLocale()
{
    for (const char *name : { "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8" })
        if (std::setlocale(LC_ALL, name) && *std::localeconv()->decimal_point == ',')
            return true;
    char dir[] = "/tmp/tst_libzem_locale_XXXXXX";
    if (!mkdtemp(dir))
        return false;
    const std::string made = std::string(dir) + "/de_DE.UTF-8";
    bool set = false;
    if (std::system(("localedef -i de_DE -f UTF-8 " + made + " >/dev/null 2>&1").c_str()) == 0) {
        setenv("LOCPATH", dir, 1);
        set = std::setlocale(LC_ALL, "de_DE.UTF-8") && *std::localeconv()->decimal_point == ',';
    }
    std::filesystem::remove_all(dir); // once loaded, the locale stays mapped
    return set;
}

TEST(Locale, DecimalCommaChangesNoNumberWeReadOrWrite)
{
    if (!setDecimalCommaLocale())
        GTEST_SKIP() << "no decimal-comma locale here, and localedef could not make de_DE.UTF-8";
    {
        Device d("virtual://resistor?noise=0.5&ohms=2.2e3");
        EXPECT_NE(d.handle, -1) << zem_virtual_open_error();
    }
    EXPECT_EQ(zem_open_device("virtual://resistor?noise=0,5"), -1);

    measurement_settings s = settings(10000.5f, 100, 100, 2.5f);
    zem::calls::Call call;
    call.command = zem::calls::commandByName("set_measurement_settings");
    call.setBytes(&s, sizeof s, nullptr, 0);
    const std::string snippet = zem::calls::cSnippet(call);
    EXPECT_NE(snippet.find("request.SamplingRate = 10000.5f;"), std::string::npos) << snippet;
    EXPECT_NE(snippet.find("request.MaxVoltage = 2.5f;"), std::string::npos) << snippet;

    const zem::Field &volts
        = *zem::codec::findField(zem::records::measurementSettings, "MaxVoltage");
    EXPECT_EQ(zem::codec::encodeFieldText(volts, "1.25", &s), "");
    EXPECT_EQ(s.MaxVoltage, 1.25f);
    EXPECT_EQ(zem::codec::rangeText(volts), "-3.40282e+38..3.40282e+38; the device takes 0..12 V");
    std::setlocale(LC_ALL, "C");
}

// ------------------------------------------------------------------ faults

TEST(Faults, ChosenOperationFailsFromTheChosenCall)
{
    Device d("virtual://open?fail=get_status:-5@3,start_measurement:-2");
    get_status_response st {};
    EXPECT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(zem_get_status(d.handle, &st), ZEM_RESULT_TIMEOUT);
    EXPECT_EQ(zem_get_status(d.handle, &st), ZEM_RESULT_TIMEOUT);
    EXPECT_EQ(zem_start_measurement(d.handle), ZEM_RESULT_NOT_IMPLEMENTED);
    get_identity_information_response id {};
    EXPECT_EQ(zem_get_identity_information(d.handle, &id), 0);
}

TEST(Faults, DelayOnEveryCall)
{
    Device d("virtual://open?delay_ms=30");
    get_status_response st {};
    const auto t0 = Clock::now();
    EXPECT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(zem_start_measurement(d.handle), 0);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(60));
}

TEST(Faults, LostDeviceStaysLostUntilReopened)
{
    Device d("virtual://open?lose_after=2");
    get_status_response st {};
    EXPECT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(zem_start_measurement(d.handle), 0);
    EXPECT_EQ(zem_get_status(d.handle, &st), ZEM_RESULT_NODEVICE);
    EXPECT_EQ(zem_get_status(d.handle, &st), ZEM_RESULT_NODEVICE);
    char *text = nullptr;
    EXPECT_EQ(zem_get_profile(d.handle, &text, &malloc), ZEM_RESULT_NODEVICE);
    EXPECT_EQ(text, nullptr);

    EXPECT_EQ(zem_close_device(&d.handle), 0);
    d.handle = zem_open_device("virtual://open?lose_after=2");
    EXPECT_EQ(zem_get_status(d.handle, &st), 0);
}

TEST(Faults, MeasurementThatNeverCompletes)
{
    Device d("virtual://open?never_complete=1");
    ASSERT_EQ(zem_set_measurement_settings(d.handle, &kExample), 0);
    ASSERT_EQ(zem_start_measurement(d.handle), 0);
    ASSERT_EQ(zem_virtual_advance_clock(d.handle, 30), 0); // three times its duration
    check_measurement_status_response st {};
    ASSERT_EQ(zem_check_measurement_status(d.handle, &st), 0);
    EXPECT_EQ(st.ReadyStatus, MEASUREMENT_NOT_COMPLETE);
}

// ------------------------------------------------------ identity and status

TEST(Status, IdentityTemperatureAndRank)
{
    Device d("virtual://open?serial=3000000000&temperature=-10&rank=-7");
    get_identity_information_response id {};
    ASSERT_EQ(zem_get_identity_information(d.handle, &id), 0);
    EXPECT_EQ(id.SerialNumber, 3000000000u);
    EXPECT_EQ(id.FirmwareBugfix, 300);
    EXPECT_EQ(id.ProductName[15], 0); // zero-terminated within the field
    EXPECT_STREQ(reinterpret_cast<const char *>(id.ProductName), "ZEM");
    get_status_response st {};
    ASSERT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(st.Status, uint32_t(STATUS_OK));
    EXPECT_EQ(st.Temperature, -10);
    device_rank rank {};
    ASSERT_EQ(zem_get_device_rank(d.handle, &rank), 0);
    EXPECT_EQ(rank.Rank, -7);
}

TEST(Status, ResetClearsExactlyTheSelectedEvents)
{
    Device d("virtual://open?io_state=3&io_events=15");
    get_status_response st {};
    ASSERT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(st.IOState, 3);
    EXPECT_EQ(st.IOEvents, 15);
    reset_events_request rq {};
    rq.IOEventsRst = IOEVENTSRST_GEN_PROBE_BUTTON_RELEASED | IOEVENTSRST_RECV_PROBE_BUTTON_RELEASED;
    reset_events_response rs {};
    ASSERT_EQ(zem_reset_events(d.handle, &rq, &rs), 0);
    ASSERT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(st.IOEvents, IOEVENTS_GEN_PROBE_BUTTON_PRESSED | IOEVENTS_RECV_PROBE_BUTTON_PRESSED);
    EXPECT_EQ(st.IOState, 3); // the present state is not an event
}

TEST(Status, ButtonPressesAreLatched)
{
    // The clock stands still from the advance on: no press comes after the reset.
    Device d("virtual://open?button_period_ms=100");
    get_status_response st {};
    ASSERT_EQ(zem_virtual_advance_clock(d.handle, 250), 0); // pressed at 100, released at 200
    ASSERT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(
        st.IOEvents & 3, IOEVENTS_GEN_PROBE_BUTTON_PRESSED | IOEVENTS_GEN_PROBE_BUTTON_RELEASED);
    reset_events_request rq {};
    rq.IOEventsRst = 0x0F;
    reset_events_response rs {};
    ASSERT_EQ(zem_reset_events(d.handle, &rq, &rs), 0);
    ASSERT_EQ(zem_get_status(d.handle, &st), 0);
    EXPECT_EQ(st.IOEvents, 0);
}

} // namespace
