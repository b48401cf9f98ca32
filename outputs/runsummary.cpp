#include "runsummary.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace sig {

std::string runSummaryJson(const RunRecord &record)
{
    using Json = nlohmann::ordered_json;
    const auto text = [](const QString &s) { return s.toStdString(); };
    Json j;
    j["board"] = text(record.signature.board);
    j["serial"] = text(record.header.serial);
    j["verdict"] = boardVerdictName(record.verdict.kind);
    for (const auto &[key, count] : boardVerdictCounts(record.verdict))
        j[key] = count;
    j["operator"] = text(record.header.operatorName);
    // As the report says it: local time with its offset.
    const auto local = [](const QDateTime &t) {
        const QDateTime l = t.toLocalTime();
        return l.toOffsetFromUtc(l.offsetFromUtc()).toString(Qt::ISODate).toStdString();
    };
    j["started"] = local(record.header.started);
    j["finished"] = local(record.header.finished);
    const Coverage &coverage = record.coverage;
    j["coverage"] = coverage.complete ? "complete" : "partial";
    if (!coverage.complete) {
        Json untested = Json::array();
        for (int k : coverage.untested)
            untested.push_back(text(record.signature.points[std::size_t(k)].name));
        j["untested"] = std::move(untested);
        if (!coverage.stopReason.isEmpty())
            j["stopped"] = text(coverage.stopReason);
    }
    if (record.driftMm)
        j["drift_mm"] = std::round(*record.driftMm * 1000) / 1000;
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace sig
