// The virtual instrument behind a virtual:// handle: settings, calibration,
// measurements that take real time (or a test's time), probe buttons and
// profiles.
#pragma once

#include "gantrylink.h"
#include "options.h"
#include "physics.h"
#include "records.h"
#include "stimulus.h"
#include "zem.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zemsim {

// Limits of the instrument beyond the named ones of the records; the first
// three are the record description's, which everyone who sets them reads.
inline constexpr double kMaxAmplitude = zem::kMaxVoltageLimit; // V
inline constexpr double kMinSamplingRate = zem::kMinSamplingRate; // Hz
inline constexpr double kMaxSamplingRate = zem::kMaxSamplingRate; // Hz
inline constexpr std::uint32_t kMaxChargePoints = 100000;
using zem::kVoltageFullScale;
inline constexpr std::size_t kMaxProfileLength = 1 << 20;
inline constexpr int kProfileVersion = 1;

using zem::SenseRange;
using zem::senseRange;

measurement_settings defaultMeasurementSettings();
calibration_settings factoryCalibration();
bool validMeasurementSettings(const measurement_settings &s);
bool validCalibration(const calibration_settings &c);

class Instrument
{
public:
    explicit Instrument(const Options &options);

    std::int32_t getMeasurement(const get_measurement_request &rq, get_measurement_response &rs);
    std::int32_t getIdentity(get_identity_information_response &rs) const;
    std::int32_t startAutocalibration(start_autocalibration_response &rs);
    std::int32_t getStatus(get_status_response &rs);
    std::int32_t getMeasurementSettings(measurement_settings &rs) const;
    std::int32_t setMeasurementSettings(const measurement_settings &rq);
    std::int32_t startMeasurement();
    std::int32_t checkMeasurementStatus(check_measurement_status_response &rs) const;
    std::int32_t getCalibration(calibration_settings &rs) const;
    std::int32_t setCalibration(const calibration_settings &rq);
    std::int32_t getMeasurementRaw(
        const get_measurement_raw_request &rq, get_measurement_raw_response &rs) const;
    std::int32_t resetEvents(const reset_events_request &rq, reset_events_response &rs);
    std::int32_t getDeviceRank(device_rank &rs) const;
    std::string profile() const;
    std::int32_t setProfile(const std::string &text);
    // Puts the probe on pin % (number of pins) until the next call, whatever
    // the button or per_pin would do; -3 for a negative pin.
    std::int32_t placeProbe(std::int32_t pin);
    // From now on the gantry's tip decides which pin the probe touches.
    void attachGantry(std::unique_ptr<GantryLink> gantry) { gantry_ = std::move(gantry); }
    // Takes the clock off real time: it stands still from now on, moved on
    // only by these calls (ms later than it stood); -3 for a negative ms.
    std::int32_t advanceClock(std::int32_t ms);

private:
    using Clock = std::chrono::steady_clock;

    Clock::time_point now() const { return heldNow_ ? *heldNow_ : Clock::now(); }

    bool measurementReady() const;
    bool frameSpan(std::uint16_t frame, std::size_t &first, std::size_t &count) const;
    void updateButtons();
    std::size_t probedPin() const;

    Options options_;
    // The pins (or the one load) with this board's values, and which of them
    // change at every measurement.
    std::vector<Load> pins_;
    std::vector<bool> unstable_;
    measurement_settings settings_;
    calibration_settings calibration_;
    // Every capture's random draws follow from these and the capture's
    // number on its pin, so the same URL repeats its curves.
    std::uint64_t seed_;
    std::vector<std::uint64_t> captures_; // measurements started on each pin

    // The measurement last started: its samples and the sensing range it used.
    std::vector<Sample> samples_;
    std::uint32_t measuredMode_ = CURRENT_SENSE_MODE_I_MID;
    bool started_ = false;
    Clock::time_point readyAt_;

    std::optional<Clock::time_point> heldNow_; // once a test has taken the clock
    Clock::time_point openedAt_ = Clock::now();
    std::uint16_t ioEvents_;
    long long buttonPhase_ = 0; // half-periods of the generator button seen so far
    std::uint64_t measurements_ = 0; // started so far
    std::optional<std::size_t> placedPin_; // by zem_virtual_probe_pin
    std::unique_ptr<GantryLink> gantry_;
};

} // namespace zemsim
