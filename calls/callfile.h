// Call files: JSON Lines, one recorded call a line, each line carrying its
// format version; unknown keys are ignored on read. Records are written both
// decoded through the record codec and as hex; on read the hex wins, and a
// record given only decoded is encoded onto zero bytes. Keys are listed in
// docs/firmware.md ("The call file").
#pragma once

#include "call.h"
#include "rfc3339.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zem::calls {

class CallRing;

inline constexpr int kCallFileVersion = 1;

// A call as one JSON object, and as one line without its newline.
nlohmann::ordered_json callJson(const Call &call);
std::string callLine(const Call &call);
// A call for people, on one line: the command, its result and each side's
// decoded fields ("get_status result_ok 0 | response: Status=0 (STATUS_OK)
// ..."), reserved fields left out; with `hex`, each side's bytes too.
std::string callText(const Call &call, bool hex);

// Reads one call from a JSON object. Returns "" or the reason it is not a
// call; `call` is then unspecified.
std::string callFromJson(const nlohmann::ordered_json &json, Call &call);

// Call files larger than this are refused; reading stops there whatever the
// file is (a pipe, a device).
inline constexpr std::size_t kMaxCallFileSize = std::size_t(256) << 20;

// Reads each line of a call file's text in turn: blank lines are skipped,
// every other line goes to onCall with its number, or its reason to onBad.
// A last line without its newline that is not even JSON, as a write cut
// short by a full disk or a killed program leaves it, is no error: it is left
// out and its length returned (0 when there is none).
std::size_t forEachCall(std::string_view text,
    const std::function<void(std::size_t line, Call &call)> &onCall,
    const std::function<void(std::size_t line, const std::string &reason)> &onBad);
// The note for an unfinished last line of that many bytes; "" for 0.
std::string unfinishedNote(std::size_t bytes);

// Reads every line before handing any call out: on the first bad line,
// returns false, leaves `calls` empty and sets error to "line N: reason".
// An unfinished last line is left out and *note (when given) says so, else
// it is set to "".
bool readCallText(std::string_view text, std::vector<Call> &calls, std::string &error,
    std::string *note = nullptr);
bool readCallFile(const std::string &path, std::vector<Call> &calls, std::string &error,
    std::string *note = nullptr);

// Writes count calls (at(0) first) to path through a temporary file in the
// same directory that replaces it only once all was written; on failure the
// old file is untouched and error says why.
bool writeCallFile(const std::string &path, std::size_t count,
    const std::function<const Call &(std::size_t)> &at, std::string &error);
bool writeCallFile(const std::string &path, const CallRing &ring, std::string &error);

} // namespace zem::calls
