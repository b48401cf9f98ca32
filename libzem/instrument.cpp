#include "instrument.h"

#include "codec.h"
#include "draws.h"
#include "records.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace zemsim {
namespace {

void copyText(std::uint8_t (&field)[16], const char *text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text, std::min(std::strlen(text), sizeof field - 1));
}

std::uint16_t toCode(double value, float mult, float offset)
{
    const double code = std::nearbyint((value - offset) / mult);
    return static_cast<std::uint16_t>(std::clamp(code, 0.0, 65535.0));
}

// The calibration's eight floats lie back to back from ADCMult on; they are
// reached by index so the three current channels can share code.
constexpr std::size_t kCalibrationFloats = 8;

float calibrationValue(const calibration_settings &c, std::size_t i)
{
    float v;
    std::memcpy(&v,
        reinterpret_cast<const char *>(&c) + offsetof(calibration_settings, ADCMult) + 4 * i, 4);
    return v;
}

void setCalibrationValue(calibration_settings &c, std::size_t i, float v)
{
    std::memcpy(
        reinterpret_cast<char *>(&c) + offsetof(calibration_settings, ADCMult) + 4 * i, &v, 4);
}

} // namespace

measurement_settings defaultMeasurementSettings()
{
    measurement_settings s {};
    s.SamplingRate = 10000.0f;
    s.ProbeSignalFrequency = 100.0f;
    s.NumberPoints = 100;
    s.NumberChargePoints = 0;
    s.MaxVoltage = 5.0f;
    s.CurrentSensorMode = CURRENT_SENSE_MODE_I_MID;
    s.OutputMode = OUT_MODE_PROBE_SIGNAL_CONTINUOUS;
    return s;
}

calibration_settings factoryCalibration()
{
    // 16-bit converters spanning each channel's full scale in both directions.
    calibration_settings c {};
    c.ADCMult = float(2 * kVoltageFullScale / 65536);
    c.ADCVOffset = float(-kVoltageFullScale);
    const std::uint32_t modes[]
        = { CURRENT_SENSE_MODE_I_LOW, CURRENT_SENSE_MODE_I_MID, CURRENT_SENSE_MODE_I_HIGH };
    for (std::size_t i = 0; i < 3; ++i) {
        const double fs = senseRange(modes[i]).fullScaleMilliamps;
        setCalibrationValue(c, 2 + 2 * i, float(2 * fs / 65536));
        setCalibrationValue(c, 3 + 2 * i, float(-fs));
    }
    return c;
}

bool validMeasurementSettings(const measurement_settings &s)
{
    const double rate = s.SamplingRate;
    const double freq = s.ProbeSignalFrequency;
    const double volts = s.MaxVoltage;
    return std::isfinite(rate) && rate >= kMinSamplingRate && rate <= kMaxSamplingRate
        && std::isfinite(freq) && freq > 0 && freq <= rate / 2
        && s.NumberPoints >= MIN_NUMBER_POINTS && s.NumberPoints <= MAX_NUMBER_POINTS
        && s.NumberChargePoints <= kMaxChargePoints && std::isfinite(volts) && volts >= 0
        && volts <= kMaxAmplitude && s.CurrentSensorMode <= CURRENT_SENSE_MODE_I_HIGH
        && s.OutputMode <= OUT_MODE_PROBE_SIGNAL_WITH_GROUNDING;
}

bool validCalibration(const calibration_settings &c)
{
    for (std::size_t i = 0; i < kCalibrationFloats; ++i) {
        const float v = calibrationValue(c, i);
        if (!std::isfinite(v) || (i % 2 == 0 && v == 0.0f))
            return false; // a zero multiplier maps every code to one value
    }
    return true;
}

Instrument::Instrument(const Options &options)
    : options_(options)
    , settings_(defaultMeasurementSettings())
    , calibration_(factoryCalibration())
    , seed_(options.seed ? *options.seed : kDefaultSeed)
    , ioEvents_(options.ioEvents)
{
    const std::vector<Load> nominal
        = options.pins.empty() ? std::vector<Load> { options.load } : options.pins;
    for (std::size_t k = 0; k < nominal.size(); ++k)
        pins_.push_back(boardLoad(nominal[k], options.board, k, options.spread));
    unstable_.assign(pins_.size(), false);
    for (std::size_t position : options.unstable)
        if (position < unstable_.size())
            unstable_[position] = true;
    captures_.assign(pins_.size() + 1, 0);
}

bool Instrument::measurementReady() const
{
    return started_ && !options_.faults.neverComplete && now() >= readyAt_;
}

// The points a frame of the finished measurement holds; none before it is
// finished or beyond its last point.
bool Instrument::frameSpan(std::uint16_t frame, std::size_t &first, std::size_t &count) const
{
    first = std::size_t(frame) * FRAME_SIZE;
    if (!measurementReady() || first >= samples_.size())
        return false;
    count = std::min<std::size_t>(FRAME_SIZE, samples_.size() - first);
    return true;
}

std::int32_t Instrument::getMeasurement(
    const get_measurement_request &rq, get_measurement_response &rs)
{
    std::memset(&rs, 0, sizeof rs);
    std::size_t first = 0, n = 0;
    if (!frameSpan(rq.FrameNumber, first, n))
        return ZEM_RESULT_VALUE_ERROR;
    for (std::size_t i = 0; i < n; ++i) {
        rs.Voltage[i] = float(samples_[first + i].volts);
        rs.Current[i] = float(samples_[first + i].milliamps);
    }
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::getMeasurementRaw(
    const get_measurement_raw_request &rq, get_measurement_raw_response &rs) const
{
    std::memset(&rs, 0, sizeof rs);
    std::size_t first = 0, n = 0;
    if (!frameSpan(rq.Frame, first, n))
        return ZEM_RESULT_VALUE_ERROR;
    const std::size_t channel = measuredMode_ == CURRENT_SENSE_MODE_ISOLATED ? 1 : measuredMode_;
    const float imult = calibrationValue(calibration_, 2 * channel);
    const float ioffset = calibrationValue(calibration_, 2 * channel + 1);
    for (std::size_t i = 0; i < n; ++i) {
        const Sample &s = samples_[first + i];
        rs.ADCHighCode[i] = toCode(float(s.volts), calibration_.ADCMult, calibration_.ADCVOffset);
        // With the sensing path isolated there is no current converter reading.
        rs.ADCLowCode[i] = measuredMode_ == CURRENT_SENSE_MODE_ISOLATED
            ? 0
            : toCode(float(s.milliamps), imult, ioffset);
    }
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::getIdentity(get_identity_information_response &rs) const
{
    std::memset(&rs, 0, sizeof rs);
    copyText(rs.Manufacturer, "Virtual Lab");
    copyText(rs.ProductName, "ZEM");
    copyText(rs.ControllerName, "zem-sim");
    rs.HardwareMajor = 1;
    rs.HardwareMinor = 0;
    rs.HardwareBugfix = 2;
    rs.BootloaderMajor = 0;
    rs.BootloaderMinor = 3;
    rs.BootloaderBugfix = 7;
    rs.FirmwareMajor = 2;
    rs.FirmwareMinor = 1;
    rs.FirmwareBugfix = 300;
    rs.SerialNumber = options_.serial;
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::startAutocalibration(start_autocalibration_response &rs)
{
    std::memset(&rs, 0, sizeof rs);
    std::this_thread::sleep_for(std::chrono::milliseconds(options_.calibrationMs));
    const calibration_settings factory = factoryCalibration();
    for (std::size_t i = 0; i < kCalibrationFloats; ++i)
        setCalibrationValue(calibration_, i, calibrationValue(factory, i));
    rs.Result = CALIBRATION_OK;
    return ZEM_RESULT_OK;
}

void Instrument::updateButtons()
{
    if (options_.buttonPeriodMs == 0)
        return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now() - openedAt_);
    const long long phase = elapsed.count() / options_.buttonPeriodMs;
    // The generator button goes down at odd half-periods and up at even ones.
    if (phase - buttonPhase_ >= 2)
        ioEvents_ |= IOEVENTS_GEN_PROBE_BUTTON_PRESSED | IOEVENTS_GEN_PROBE_BUTTON_RELEASED;
    else if (phase > buttonPhase_)
        ioEvents_
            |= (phase % 2) ? IOEVENTS_GEN_PROBE_BUTTON_PRESSED : IOEVENTS_GEN_PROBE_BUTTON_RELEASED;
    buttonPhase_ = phase;
}

std::int32_t Instrument::advanceClock(std::int32_t ms)
{
    if (ms < 0)
        return ZEM_RESULT_VALUE_ERROR;
    heldNow_ = now() + std::chrono::milliseconds(ms);
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::placeProbe(std::int32_t pin)
{
    if (pin < 0)
        return ZEM_RESULT_VALUE_ERROR;
    placedPin_ = std::size_t(pin) % pins_.size();
    return ZEM_RESULT_OK;
}

// Where the program last placed the probe, if it did. Otherwise, with pins,
// the k-th press of the generator button (or, without a button, the k-th
// group of per_pin measurements) puts the probe on the k-th load, wrapping
// around.
std::size_t Instrument::probedPin() const
{
    if (placedPin_)
        return *placedPin_;
    if (options_.pins.empty())
        return 0;
    const long long presses = options_.buttonPeriodMs
        ? (buttonPhase_ + 1) / 2
        : static_cast<long long>((measurements_ + options_.perPin - 1) / options_.perPin);
    return presses == 0 ? 0 : std::size_t(presses - 1) % pins_.size();
}

std::int32_t Instrument::getStatus(get_status_response &rs)
{
    std::memset(&rs, 0, sizeof rs);
    updateButtons();
    rs.Status = STATUS_OK;
    rs.Temperature = options_.temperature;
    rs.IOState = options_.ioState;
    if (options_.buttonPeriodMs && buttonPhase_ % 2)
        rs.IOState |= IOSTATE_GEN_PROBE_BUTTON_PRESSED;
    rs.IOEvents = ioEvents_;
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::resetEvents(const reset_events_request &rq, reset_events_response &rs)
{
    std::memset(&rs, 0, sizeof rs);
    updateButtons();
    ioEvents_ &= ~(rq.IOEventsRst & 0x0F);
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::getMeasurementSettings(measurement_settings &rs) const
{
    rs = settings_;
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::setMeasurementSettings(const measurement_settings &rq)
{
    if (!validMeasurementSettings(rq))
        return ZEM_RESULT_VALUE_ERROR;
    settings_ = rq;
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::getCalibration(calibration_settings &rs) const
{
    rs = calibration_;
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::setCalibration(const calibration_settings &rq)
{
    if (!validCalibration(rq))
        return ZEM_RESULT_VALUE_ERROR;
    calibration_ = rq;
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::startMeasurement()
{
    const measurement_settings &s = settings_;
    // On a gantry the tip is where the machine put it: on a point's pin, or
    // on none (up, or between points), which leaves the probe open.
    std::optional<std::size_t> pin;
    if (gantry_) {
        const std::optional<int> point = gantry_->pointUnderTip();
        if (!point)
            return ZEM_RESULT_TIMEOUT;
        if (*point >= 0 && std::size_t(*point) < pins_.size())
            pin = std::size_t(*point);
    }
    ++measurements_;
    if (!options_.pins.empty())
        updateButtons();
    const zem::Stimulus stimulus = zem::stimulusOf(s);
    const bool isolated = stimulus.isolated;
    if (!gantry_)
        pin = probedPin();
    // The open tip draws from a capture count of its own, after the pins'.
    const std::size_t position = pin.value_or(pins_.size());
    CaptureRandom random(seed_, options_.board, position, captures_[position]++);
    // With the sensing path isolated the probe sees the bare source.
    Load load = isolated || !pin ? Load { LoadKind::Open } : pins_[*pin];
    if (!isolated && pin && unstable_[*pin]) {
        // A floating or oscillating node: this measurement sees other values.
        const double factor = 1.0 + kUnstableChange * random.symmetric();
        load.ohms *= factor;
        load.farads *= factor;
        load.emission *= factor;
    }
    samples_ = sweep(load, stimulus.amplitude, stimulus.frequency, stimulus.samplingRate,
        stimulus.points, stimulus.sourceOhms);

    const double vNoise = 1.0e-3 * options_.noise;
    const double iNoise = 5.0e-5 * stimulus.fullScaleMilliamps * options_.noise;
    for (Sample &p : samples_) {
        if (options_.noise > 0) {
            p.volts += vNoise * random.normal();
            if (!isolated)
                p.milliamps += iNoise * random.normal();
        }
        p.volts = std::clamp(p.volts, -kVoltageFullScale, kVoltageFullScale);
        p.milliamps
            = std::clamp(p.milliamps, -stimulus.fullScaleMilliamps, stimulus.fullScaleMilliamps);
    }

    measuredMode_ = s.CurrentSensorMode;
    started_ = true;
    const double seconds = double(s.NumberChargePoints + s.NumberPoints) / s.SamplingRate;
    readyAt_ = now()
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::checkMeasurementStatus(check_measurement_status_response &rs) const
{
    std::memset(&rs, 0, sizeof rs);
    rs.ReadyStatus = measurementReady() ? MEASUREMENT_COMPLETE : MEASUREMENT_NOT_COMPLETE;
    return ZEM_RESULT_OK;
}

std::int32_t Instrument::getDeviceRank(device_rank &rs) const
{
    std::memset(&rs, 0, sizeof rs);
    rs.Rank = options_.rank;
    return ZEM_RESULT_OK;
}

} // namespace zemsim
