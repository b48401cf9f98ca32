// The files a run leaves, written from its record and each checked first by
// the output guard: the report, JUnit, and the board. Every program writes
// them through here, so that none writes over what the user keeps.
#pragma once

#include "junit.h"
#include "outputguard.h"
#include "runrecord.h"

namespace sig {

// Before a run: empty when every output the plan names may be written, else
// the first refusal. Nothing is touched either way.
QString checkOutputs(const RunPlan &plan);
// After it: the plan's report and JUnit from the record; false with *error
// at the first that may not or cannot be written.
bool writeOutputs(const RunRecord &record, const RunPlan &plan, QString *error);

// One file, checked against `kept`, written atomically: a refusal or a
// failure leaves what was there as it was.
bool writeReport(const RunRecord &record, const QString &path, const std::vector<KeptFile> &kept,
    QString *error);
bool writeJUnit(const std::vector<JUnitSuite> &suites, const QString &path,
    const std::vector<KeptFile> &kept, QString *error);
bool writeSignature(
    const Signature &board, const QString &path, const std::vector<KeptFile> &kept, QString *error);

} // namespace sig
