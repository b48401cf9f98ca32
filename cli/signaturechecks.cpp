// What a point's check and a learned variant ask of a run before it starts.
#include "signaturerunner.h"

#include "zemctl.h"

#include <nlohmann/json.hpp>


namespace zemctl::signature {

bool Runner::applyChecks(const sig::Signature &board, std::vector<int> &order)
{
    using Mode = SignatureJob::Mode;
    if (job.mode != Mode::Learn && job.mode != Mode::Test && job.mode != Mode::Nets) {
        if (!job.variant.empty())
            fail(zemctl::kExitUsage, "--variant is for learn");
        return job.variant.empty();
    }
    const std::vector<int> all = order;
    order = board.withoutSkipped(std::move(order));
    if (order.empty()) {
        fail(zemctl::kExitUsage, "no points to probe: " + job.file + " marks them all \"skip\"");
        return false;
    }
    const QString variant = QString::fromStdString(job.variant).trimmed();
    if (job.mode == Mode::Learn && !job.variant.empty()) {
        if (variant.isEmpty()) {
            fail(zemctl::kExitUsage, "--variant needs a name");
            return false;
        }
        // Checked for every point before any is measured: a variant pairs
        // with the point's own references, and nothing is written half-way.
        for (int k : order)
            if (!board.points[std::size_t(k)].learned()) {
                fail(zemctl::kExitUsage,
                    "point " + shown(board.points[std::size_t(k)].name)
                        + " is not learned: learn its own references before variant "
                        + shown(variant));
                return false;
            }
    }
    if (job.mode != Mode::Test)
        return true;
    // A skipped point has a line of its own, so that every point of the
    // file is accounted for.
    for (int k : all) {
        const sig::Point &p = board.points[std::size_t(k)];
        if (p.check != sig::Check::Skip)
            continue;
        std::string line;
        if (job.text) {
            line = shown(p.name) + "  skipped";
        } else {
            nlohmann::ordered_json j;
            j["point"] = p.name.toStdString();
            j["verdict"] = "skipped";
            line = j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        }
        if (!writeLine(std::move(line)))
            return false;
    }
    return true;
}

} // namespace zemctl::signature
