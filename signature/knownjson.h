// Reading a signature file's JSON: only what the file format knows is built,
// and the rest is skipped as it is read, so an unknown key costs no memory
// however large its value.
#pragma once

#include <QByteArray>

#include <nlohmann/json.hpp>

namespace sig {

// False when the text is not JSON.
bool readKnownJson(const QByteArray &data, nlohmann::ordered_json &out);

} // namespace sig
