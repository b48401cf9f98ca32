// A profile of the instrument: its measurement and calibration settings as
// JSON, every named scalar by field name, read back only when all of it is
// valid.
#include "instrument.h"

#include "codec.h"
#include "records.h"

#include <nlohmann/json.hpp>

namespace zemsim {
namespace {

using Json = nlohmann::json;

bool isReserved(const zem::Field &f)
{
    return std::string_view(f.name).rfind("Reserved", 0) == 0;
}

// A profile holds every named scalar of a settings record, by field name, as
// a plain number: the record codec's value without constant names.
Json recordToJson(const void *record, const zem::Record &desc)
{
    Json j = Json::object();
    for (const zem::Field &f : desc.fields) {
        if (isReserved(f))
            continue;
        const zem::codec::Json v = zem::codec::decodeField(f, record);
        j[f.name] = Json(v.is_object() ? v["value"] : v);
    }
    return j;
}

// Fills the record's named scalars from an object that holds exactly them,
// each a number the codec takes for the field (within its type's range, an
// integer for integer fields, finite for floats).
bool recordFromJson(const Json &j, void *record, const zem::Record &desc)
{
    if (!j.is_object())
        return false;
    std::size_t expected = 0;
    for (const zem::Field &f : desc.fields) {
        if (isReserved(f))
            continue;
        ++expected;
        const auto it = j.find(f.name);
        // Numbers only: a profile names no constants.
        if (it == j.end() || !it->is_number()
            || !zem::codec::encodeField(f, zem::codec::Json(*it), record).empty())
            return false;
    }
    return j.size() == expected;
}

} // namespace

std::string Instrument::profile() const
{
    Json j;
    j["version"] = kProfileVersion;
    j["measurement_settings"] = recordToJson(&settings_, zem::records::measurementSettings);
    j["calibration_settings"] = recordToJson(&calibration_, zem::records::calibrationSettings);
    return j.dump(4);
}

std::int32_t Instrument::setProfile(const std::string &text)
{
    const Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!j.is_object() || j.size() != 3 || !j.contains("version")
        || j["version"] != kProfileVersion)
        return ZEM_RESULT_VALUE_ERROR;

    // Build both records aside and apply them only when all of it is valid;
    // reserved bytes keep what the device holds.
    measurement_settings s = settings_;
    calibration_settings c = calibration_;
    const auto m = j.find("measurement_settings");
    const auto k = j.find("calibration_settings");
    if (m == j.end() || k == j.end() || !recordFromJson(*m, &s, zem::records::measurementSettings)
        || !recordFromJson(*k, &c, zem::records::calibrationSettings)
        || !validMeasurementSettings(s) || !validCalibration(c))
        return ZEM_RESULT_VALUE_ERROR;
    settings_ = s;
    calibration_ = c;
    return ZEM_RESULT_OK;
}

} // namespace zemsim
