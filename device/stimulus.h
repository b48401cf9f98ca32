// What the instrument applies to a probed pin for each measurement setting:
// a sine of the setting's amplitude and frequency behind the current range's
// series resistance, sampled at the setting's rate. The virtual instrument
// measures by it and a prediction simulates by it, so that their curves
// compare sample for sample.
#pragma once

#include "zem.h"

#include <cstdint>

namespace zem {

// A current sensing range: the series resistance the source drives through
// and the current that reads full scale.
struct SenseRange
{
    double seriesOhms;
    double fullScaleMilliamps;
};

// For I_LOW, I_MID and I_HIGH; any other mode senses as I_MID.
constexpr SenseRange senseRange(std::uint32_t mode)
{
    switch (mode) {
    case CURRENT_SENSE_MODE_I_LOW:
        return { 10.0e3, 1.0 };
    case CURRENT_SENSE_MODE_I_HIGH:
        return { 100.0, 128.0 };
    default:
        return { 1.0e3, 16.0 };
    }
}

// The voltage channel reads this far either side of zero.
inline constexpr double kVoltageFullScale = 12.8; // V

struct Stimulus
{
    double amplitude = 0; // V, of the sine; 0 with the output grounded
    double frequency = 0; // Hz
    double samplingRate = 0; // Hz; sample k is taken at k / samplingRate, phase 0 at k = 0
    std::uint32_t points = 0;
    double sourceOhms = 0; // in series with the probe
    double fullScaleMilliamps = 0; // the current channel clips here, either sign
    bool isolated = false; // the sensing path is open: the probe sees the bare source
};

constexpr Stimulus stimulusOf(const measurement_settings &s)
{
    const SenseRange range = senseRange(s.CurrentSensorMode);
    Stimulus out;
    out.amplitude = s.OutputMode == OUT_MODE_GROUNDED_CONTINUOUS ? 0.0 : double(s.MaxVoltage);
    out.frequency = s.ProbeSignalFrequency;
    out.samplingRate = s.SamplingRate;
    out.points = s.NumberPoints;
    out.sourceOhms = range.seriesOhms;
    out.fullScaleMilliamps = range.fullScaleMilliamps;
    out.isolated = s.CurrentSensorMode == CURRENT_SENSE_MODE_ISOLATED;
    return out;
}

} // namespace zem
