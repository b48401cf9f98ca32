// Call files: JSON Lines, one recorded call a line, each line carrying its
// format version; unknown keys are ignored on read. Records are written both
// decoded through the record codec and as hex; on read the hex wins, and a
// record given only decoded is encoded onto zero bytes. Keys are listed in
// the README ("The call file").
#pragma once

#include "call.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace zem::calls {

class CallRing;

inline constexpr int kCallFileVersion = 1;

// A call as one JSON object, and as one line without its newline.
nlohmann::ordered_json callJson(const Call &call);
std::string callLine(const Call &call);

// Reads one call from a JSON object. Returns "" or the reason it is not a
// call; `call` is then unspecified.
std::string callFromJson(const nlohmann::ordered_json &json, Call &call);

// "2026-12-07T16:20:01.123Z", and back (any RFC 3339 time with an offset;
// fractions past milliseconds are dropped). fromRfc3339 returns false on
// anything else.
std::string toRfc3339(std::int64_t wallMs);
bool fromRfc3339(std::string_view text, std::int64_t &wallMs);

// Reads every line before handing any call out: on the first bad line,
// returns false, leaves `calls` empty and sets error to "line N: reason".
// Blank lines are skipped.
bool readCalls(std::istream &in, std::vector<Call> &calls, std::string &error);
bool readCallText(std::string_view text, std::vector<Call> &calls, std::string &error);
bool readCallFile(const std::string &path, std::vector<Call> &calls, std::string &error);

// Writes count calls (at(0) first) to path through a temporary file in the
// same directory that replaces it only once all was written; on failure the
// old file is untouched and error says why.
bool writeCallFile(const std::string &path, std::size_t count,
    const std::function<const Call &(std::size_t)> &at, std::string &error);
bool writeCallFile(const std::string &path, const CallRing &ring, std::string &error);

} // namespace zem::calls
