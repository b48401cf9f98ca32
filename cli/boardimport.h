// zemctl board --import and --bom, in the signature module: a board's CAD
// outputs into its signature.
#pragma once

#include "boardjob.h"
#include "signature.h"

#include <optional>

#include <nlohmann/json.hpp>

namespace zemctl {

// What --side values without a point's name ask of the import: "top" or
// "bottom" are taken out of job.sides. False, with job's message and exit
// code set, when they are misused.
bool takeImportSide(BoardJob &job, std::optional<sig::Side> &side);

// The signature FILE names, or a new one named after the CAD file when FILE
// does not exist and there is something to import.
std::optional<sig::Signature> loadOrCreate(BoardJob &job);

// Reads job.import and job.bom and merges them into board; their counts go
// into summary ("added", "updated", "vanished", "expected"). False, with the
// job's message and exit code set, when a file cannot be read: board is then
// left as it was.
bool importCad(BoardJob &job, std::optional<sig::Side> side, sig::Signature &board,
    nlohmann::ordered_json &summary);

} // namespace zemctl
