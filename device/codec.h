// Records as JSON and back, driven by the record description: the one place
// that knows how a record reads as JSON. Plain C++, no Qt, no exceptions out.
//
// Decoded form of a record: an object with every field by name, in record
// order.
//  - scalar integer without named values, float: a number;
//  - flag word (named values of kind Flag): {"value": 5, "flags": ["A", "C"]};
//  - field with exact constants (kind Constant): {"value": 2, "name": "X"},
//    "name" left out when no constant matches;
//  - Limit and FrameSize values are the field's range, not names;
//  - array: a JSON array of numbers; a text byte array (Field::isText):
//    {"bytes": [...], "text": "..."} with the text up to the first zero byte.
// A float that is not finite has no JSON number: it decodes as "nan", "inf"
// or "-inf", and input only takes finite values.
// On input a field takes a number, a constant's name, a list of flag names,
// the decoded object form ("value" wins), an array, or for a text field a
// string or the object form ("bytes" wins).
#pragma once

#include "records.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zem::codec {

using Json = nlohmann::ordered_json;

// The decoded object of a record whose record.size bytes are at data.
Json decode(const Record &record, const void *data);
// The decoded value of one field of the record at data.
Json decodeField(const Field &field, const void *data);

// One field's decoded value as text: numbers, "5 (A|C)", "2 (NAME)",
// comma lists, quoted text.
std::string valueText(const Json &value);

// Writes the fields named in `in` (an object) into the record at data; fields
// not named keep their bytes. Returns "" on success, otherwise the first
// error, naming the field and what it allows, and data is left unchanged.
// Unknown field names are errors.
std::string encode(const Record &record, const Json &in, void *data);
// One field's value, as above.
std::string encodeField(const Field &field, const Json &value, void *data);

// One field from command-line text: a decimal or 0x number, a constant's
// name, flag names joined by '|', a comma list for arrays, plain text for a
// text field. Returns "" or the error, as encode does.
std::string encodeFieldText(const Field &field, std::string_view text, void *data);

// What a field allows, for messages and descriptions: e.g. "0..255",
// "-3.40282e+38..3.40282e+38", "16 numbers 0..255", "text of at most 16 bytes",
// and what the instrument takes ("...; the device takes 0..12 V").
std::string rangeText(const Field &field);
// What the instrument takes where the description knows it: "10..1000",
// "0..12 V"; "" for a field without such limits.
std::string deviceRangeText(const Field &field);
// The scalar fields of the record at data whose values lie outside the
// instrument's limits, as "NumberPoints 5: the device takes 10..1000",
// joined by "; "; "" when none does. Why a setter's -3 came, when it is that.
std::string outsideDeviceLimits(const Record &record, const void *data);
// rangeText and the names the field takes: "0..65535, or flags A|B" or
// "0..4294967295, or X, Y".
std::string allowedText(const Field &field);
// The error for a field name the record lacks, listing the fields it has.
std::string unknownFieldError(const Record &record, std::string_view name);

// One element of a numeric field of the record at data, as a number (NaN or
// infinite for such floats); element 0 for a scalar.
double elementValue(const Field &field, const void *data, std::size_t element = 0);

// The field of that name, or null.
const Field *findField(const Record &record, std::string_view name);

// Bytes as lower-case hex pairs separated by single spaces, and back.
// fromHex accepts the pairs with or without blanks; false on anything else.
std::string toHex(const void *data, std::size_t size);
bool fromHex(std::string_view text, std::vector<std::uint8_t> &bytes);

} // namespace zem::codec
