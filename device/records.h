// Machine-readable description of every command record: one table from which
// pages are built, requests packed, responses unpacked and logs written.
// Every entry is checked against the C layout at compile time.
#pragma once

#include "recordtypes.h"

namespace zem {

// Limits of the measurement settings that zem.h gives no macros for.
inline constexpr float kMinSamplingRate = 1.0f; // Hz
inline constexpr float kMaxSamplingRate = 1.0e6f; // Hz
inline constexpr float kMaxVoltageLimit = 12.0f; // V, the amplitude of the probe signal

// Named values, in the order the pages offer them.
inline constexpr NamedValue kFrameNumberValues[]
    = { { "FRAME_SIZE", FRAME_SIZE, ValueKind::FrameSize } };
inline constexpr NamedValue kCalibrationResultValues[]
    = { { "CALIBRATION_OK", CALIBRATION_OK, ValueKind::Constant } };
inline constexpr NamedValue kStatusValues[] = { { "STATUS_OK", STATUS_OK, ValueKind::Constant } };
inline constexpr NamedValue kIOStateValues[] = {
    { "IOSTATE_GEN_PROBE_BUTTON_PRESSED", IOSTATE_GEN_PROBE_BUTTON_PRESSED, ValueKind::Flag },
    { "IOSTATE_RECV_PROBE_BUTTON_PRESSED", IOSTATE_RECV_PROBE_BUTTON_PRESSED, ValueKind::Flag }
};
inline constexpr NamedValue kIOEventsValues[] = {
    { "IOEVENTS_GEN_PROBE_BUTTON_PRESSED", IOEVENTS_GEN_PROBE_BUTTON_PRESSED, ValueKind::Flag },
    { "IOEVENTS_GEN_PROBE_BUTTON_RELEASED", IOEVENTS_GEN_PROBE_BUTTON_RELEASED, ValueKind::Flag },
    { "IOEVENTS_RECV_PROBE_BUTTON_PRESSED", IOEVENTS_RECV_PROBE_BUTTON_PRESSED, ValueKind::Flag },
    { "IOEVENTS_RECV_PROBE_BUTTON_RELEASED", IOEVENTS_RECV_PROBE_BUTTON_RELEASED, ValueKind::Flag }
};
inline constexpr NamedValue kNumberPointsValues[]
    = { { "MIN_NUMBER_POINTS", MIN_NUMBER_POINTS, ValueKind::Limit },
          { "MAX_NUMBER_POINTS", MAX_NUMBER_POINTS, ValueKind::Limit } };
inline constexpr NamedValue kCurrentSensorModeValues[]
    = { { "CURRENT_SENSE_MODE_ISOLATED", CURRENT_SENSE_MODE_ISOLATED, ValueKind::Constant },
          { "CURRENT_SENSE_MODE_I_LOW", CURRENT_SENSE_MODE_I_LOW, ValueKind::Constant },
          { "CURRENT_SENSE_MODE_I_MID", CURRENT_SENSE_MODE_I_MID, ValueKind::Constant },
          { "CURRENT_SENSE_MODE_I_HIGH", CURRENT_SENSE_MODE_I_HIGH, ValueKind::Constant } };
inline constexpr NamedValue kOutputModeValues[] = {
    { "OUT_MODE_PROBE_SIGNAL_CONTINUOUS", OUT_MODE_PROBE_SIGNAL_CONTINUOUS, ValueKind::Constant },
    { "OUT_MODE_GROUNDED_CONTINUOUS", OUT_MODE_GROUNDED_CONTINUOUS, ValueKind::Constant },
    { "OUT_MODE_PROBE_SIGNAL_WITH_GROUNDING", OUT_MODE_PROBE_SIGNAL_WITH_GROUNDING,
        ValueKind::Constant }
};
inline constexpr NamedValue kReadyStatusValues[]
    = { { "MEASUREMENT_NOT_COMPLETE", MEASUREMENT_NOT_COMPLETE, ValueKind::Constant },
          { "MEASUREMENT_COMPLETE", MEASUREMENT_COMPLETE, ValueKind::Constant } };
inline constexpr NamedValue kIOEventsRstValues[]
    = { { "IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED", IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED,
            ValueKind::Flag },
          { "IOEVENTSRST_GEN_PROBE_BUTTON_RELEASED", IOEVENTSRST_GEN_PROBE_BUTTON_RELEASED,
              ValueKind::Flag },
          { "IOEVENTSRST_RECV_PROBE_BUTTON_PRESSED", IOEVENTSRST_RECV_PROBE_BUTTON_PRESSED,
              ValueKind::Flag },
          { "IOEVENTSRST_RECV_PROBE_BUTTON_RELEASED", IOEVENTSRST_RECV_PROBE_BUTTON_RELEASED,
              ValueKind::Flag } };

namespace fields {
inline constexpr Field getMeasurementRequest[]
    = { ZEM_FIELD_V(get_measurement_request, FrameNumber, "uint16_t", kFrameNumberValues) };
inline constexpr Field getMeasurementResponse[]
    = { ZEM_FIELD_UNIT(get_measurement_response, Voltage, "float[25]", "V", 0, 0),
          ZEM_FIELD_UNIT(get_measurement_response, Current, "float[25]", "mA", 0, 0) };
inline constexpr Field identity[]
    = { ZEM_FIELD_TEXT(get_identity_information_response, Manufacturer, "uint8_t[16]"),
          ZEM_FIELD_TEXT(get_identity_information_response, ProductName, "uint8_t[16]"),
          ZEM_FIELD_TEXT(get_identity_information_response, ControllerName, "uint8_t[16]"),
          ZEM_FIELD(get_identity_information_response, HardwareMajor, "uint8_t"),
          ZEM_FIELD(get_identity_information_response, HardwareMinor, "uint8_t"),
          ZEM_FIELD(get_identity_information_response, HardwareBugfix, "uint16_t"),
          ZEM_FIELD(get_identity_information_response, BootloaderMajor, "uint8_t"),
          ZEM_FIELD(get_identity_information_response, BootloaderMinor, "uint8_t"),
          ZEM_FIELD(get_identity_information_response, BootloaderBugfix, "uint16_t"),
          ZEM_FIELD(get_identity_information_response, FirmwareMajor, "uint8_t"),
          ZEM_FIELD(get_identity_information_response, FirmwareMinor, "uint8_t"),
          ZEM_FIELD(get_identity_information_response, FirmwareBugfix, "uint16_t"),
          ZEM_FIELD(get_identity_information_response, SerialNumber, "uint32_t"),
          ZEM_FIELD(get_identity_information_response, Reserved, "uint8_t[8]") };
inline constexpr Field autocalibration[]
    = { ZEM_FIELD_V(start_autocalibration_response, Result, "uint8_t", kCalibrationResultValues) };
inline constexpr Field status[]
    = { ZEM_FIELD_V(get_status_response, Status, "uint32_t", kStatusValues),
          ZEM_FIELD(get_status_response, Temperature, "int16_t"),
          ZEM_FIELD(get_status_response, Reserved0, "uint8_t[2]"),
          ZEM_FIELD_V(get_status_response, IOState, "uint16_t", kIOStateValues),
          ZEM_FIELD_V(get_status_response, IOEvents, "uint16_t", kIOEventsValues),
          ZEM_FIELD(get_status_response, Reserved1, "uint8_t[42]") };
inline constexpr Field measurementSettings[] = { ZEM_FIELD_UNIT(measurement_settings, SamplingRate,
                                                     "float", "Hz", kMinSamplingRate,
                                                     kMaxSamplingRate),
    // At most half of SamplingRate: a limit no single range can say.
    ZEM_FIELD_UNIT(measurement_settings, ProbeSignalFrequency, "float", "Hz", 0, 0),
    ZEM_FIELD_V(measurement_settings, NumberPoints, "uint32_t", kNumberPointsValues),
    ZEM_FIELD(measurement_settings, NumberChargePoints, "uint32_t"),
    ZEM_FIELD_UNIT(measurement_settings, MaxVoltage, "float", "V", 0, kMaxVoltageLimit),
    ZEM_FIELD(measurement_settings, Reserved0, "uint8_t[4]"),
    ZEM_FIELD_V(measurement_settings, CurrentSensorMode, "uint32_t", kCurrentSensorModeValues),
    ZEM_FIELD_V(measurement_settings, OutputMode, "uint8_t", kOutputModeValues),
    ZEM_FIELD(measurement_settings, Reserved1, "uint8_t[19]") };
inline constexpr Field measurementStatus[]
    = { ZEM_FIELD_V(check_measurement_status_response, ReadyStatus, "uint8_t", kReadyStatusValues),
          ZEM_FIELD(check_measurement_status_response, Reserved, "uint8_t[15]") };
inline constexpr Field calibrationSettings[]
    = { ZEM_FIELD(calibration_settings, Reserved0, "uint8_t[8]"),
          ZEM_FIELD(calibration_settings, ADCMult, "float"),
          ZEM_FIELD(calibration_settings, ADCVOffset, "float"),
          ZEM_FIELD(calibration_settings, CurrentSense1Mult, "float"),
          ZEM_FIELD(calibration_settings, CurrentSense1Offset, "float"),
          ZEM_FIELD(calibration_settings, CurrentSense2Mult, "float"),
          ZEM_FIELD(calibration_settings, CurrentSense2Offset, "float"),
          ZEM_FIELD(calibration_settings, CurrentSense3Mult, "float"),
          ZEM_FIELD(calibration_settings, CurrentSense3Offset, "float"),
          ZEM_FIELD(calibration_settings, Reserved1, "uint8_t[72]") };
inline constexpr Field rawRequest[] = { ZEM_FIELD(get_measurement_raw_request, Frame, "uint16_t") };
inline constexpr Field rawResponse[]
    = { ZEM_FIELD(get_measurement_raw_response, ADCHighCode, "uint16_t[25]"),
          ZEM_FIELD(get_measurement_raw_response, ADCLowCode, "uint16_t[25]") };
inline constexpr Field resetEventsRequest[]
    = { ZEM_FIELD_V(reset_events_request, IOEventsRst, "uint16_t", kIOEventsRstValues),
          ZEM_FIELD(reset_events_request, Reserved0, "uint8_t[30]") };
inline constexpr Field resetEventsResponse[]
    = { ZEM_FIELD(reset_events_response, Reserved0, "uint8_t[16]") };
inline constexpr Field deviceRank[]
    = { ZEM_FIELD(device_rank, Rank, "int32_t"), ZEM_FIELD(device_rank, Reserved, "uint8_t[128]") };
} // namespace fields

#undef ZEM_FIELD
#undef ZEM_FIELD_TEXT
#undef ZEM_FIELD_UNIT
#undef ZEM_FIELD_V

namespace records {
#define ZEM_RECORD(Var, Type, Fields)                                                              \
    inline constexpr Record Var { #Type, std::uint16_t(sizeof(Type)), fields::Fields };            \
    static_assert(                                                                                 \
        detail::layoutMatches(Var, sizeof(Type)), #Type " description does not match its layout");

ZEM_RECORD(getMeasurementRequest, get_measurement_request, getMeasurementRequest)
ZEM_RECORD(getMeasurementResponse, get_measurement_response, getMeasurementResponse)
ZEM_RECORD(identity, get_identity_information_response, identity)
ZEM_RECORD(autocalibration, start_autocalibration_response, autocalibration)
ZEM_RECORD(status, get_status_response, status)
ZEM_RECORD(measurementSettings, measurement_settings, measurementSettings)
ZEM_RECORD(measurementStatus, check_measurement_status_response, measurementStatus)
ZEM_RECORD(calibrationSettings, calibration_settings, calibrationSettings)
ZEM_RECORD(rawRequest, get_measurement_raw_request, rawRequest)
ZEM_RECORD(rawResponse, get_measurement_raw_response, rawResponse)
ZEM_RECORD(resetEventsRequest, reset_events_request, resetEventsRequest)
ZEM_RECORD(resetEventsResponse, reset_events_response, resetEventsResponse)
ZEM_RECORD(deviceRank, device_rank, deviceRank)
#undef ZEM_RECORD
} // namespace records

// The commands, in the order the command browser lists them.
inline constexpr Command kCommands[] = {
    { "get_measurement", "zem_get_measurement", &records::getMeasurementRequest,
        &records::getMeasurementResponse, nullptr },
    { "get_identity_information", "zem_get_identity_information", nullptr, &records::identity,
        nullptr },
    { "start_autocalibration", "zem_start_autocalibration", nullptr, &records::autocalibration,
        nullptr },
    { "get_status", "zem_get_status", nullptr, &records::status, nullptr },
    { "get_measurement_settings", "zem_get_measurement_settings", nullptr,
        &records::measurementSettings, nullptr },
    { "set_measurement_settings", "zem_set_measurement_settings", &records::measurementSettings,
        nullptr, "get_measurement_settings" },
    { "start_measurement", "zem_start_measurement", nullptr, nullptr, nullptr },
    { "check_measurement_status", "zem_check_measurement_status", nullptr,
        &records::measurementStatus, nullptr },
    { "get_calibration_settings", "zem_get_calibration_settings", nullptr,
        &records::calibrationSettings, nullptr },
    { "set_calibration_settings", "zem_set_calibration_settings", &records::calibrationSettings,
        nullptr, "get_calibration_settings" },
    { "get_measurement_raw", "zem_get_measurement_raw", &records::rawRequest, &records::rawResponse,
        nullptr },
    { "reset_events", "zem_reset_events", &records::resetEventsRequest,
        &records::resetEventsResponse, nullptr },
};

inline constexpr std::size_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

// The command of that name, or null.
constexpr const Command *findCommand(std::string_view name)
{
    for (const Command &c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}
inline constexpr std::size_t kMaxRecordSize = 200; // the largest record a command exchanges

// The layouts the library and its callers rely on.
static_assert(sizeof(get_measurement_request) == 2);
static_assert(sizeof(get_measurement_response) == 200);
static_assert(sizeof(get_identity_information_response) == 72);
static_assert(sizeof(start_autocalibration_response) == 1);
static_assert(sizeof(get_status_response) == 54);
static_assert(sizeof(measurement_settings) == 48);
static_assert(sizeof(check_measurement_status_response) == 16);
static_assert(sizeof(calibration_settings) == 112);
static_assert(sizeof(get_measurement_raw_request) == 2);
static_assert(sizeof(get_measurement_raw_response) == 100);
static_assert(sizeof(reset_events_request) == 32);
static_assert(sizeof(reset_events_response) == 16);
static_assert(sizeof(device_rank) == 132);
static_assert(offsetof(measurement_settings, OutputMode) == 28);
static_assert(offsetof(measurement_settings, Reserved1) == 29);
static_assert(offsetof(get_identity_information_response, HardwareBugfix) == 50);
static_assert(offsetof(get_identity_information_response, BootloaderBugfix) == 54);
static_assert(offsetof(get_identity_information_response, FirmwareBugfix) == 58);
static_assert(offsetof(get_identity_information_response, SerialNumber) == 60);
static_assert(offsetof(get_status_response, Reserved1) == 12);
static_assert(
    offsetof(get_status_response, Reserved1) + sizeof(get_status_response::Reserved1) == 54);
static_assert(offsetof(get_measurement_response, Current) == 100);

namespace detail {
constexpr bool recordsFit()
{
    for (const Command &c : kCommands)
        if ((c.request && c.request->size > kMaxRecordSize)
            || (c.response && c.response->size > kMaxRecordSize))
            return false;
    return true;
}
} // namespace detail
static_assert(kCommandCount == 12);
static_assert(detail::recordsFit());

} // namespace zem
