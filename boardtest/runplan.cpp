#include "runplan.h"

#include <QCoreApplication>

#include <algorithm>

namespace sig {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::RunPlan", text);
}

} // namespace

Session::Mode sessionMode(RunPlan::Kind kind)
{
    return kind == RunPlan::Kind::Test ? Session::Mode::Test : Session::Mode::Learn;
}

std::optional<std::vector<int>> plannedOrder(const RunPlan &plan, QString *error)
{
    const Signature &board = plan.signature;
    if (board.points.empty()) {
        *error = tr("%1 has no points to probe: add them first").arg(board.board);
        return std::nullopt;
    }
    std::vector<int> order = plan.points;
    for (int k : order)
        if (k < 0 || std::size_t(k) >= board.points.size()) {
            *error = tr("point %1 is not on the board").arg(k);
            return std::nullopt;
        }
    // Pins compared with each other are measured whatever their check says.
    if (plan.kind != RunPlan::Kind::Measure)
        order = order.empty() ? board.probedPoints() : board.withoutSkipped(std::move(order));
    else if (order.empty())
        for (std::size_t k = 0; k < board.points.size(); ++k)
            order.push_back(int(k));
    if (order.empty()) {
        *error = tr("Every point is marked to skip: nothing to probe.");
        return std::nullopt;
    }
    if (plan.likelyFirst) {
        const QStringList &likely = *plan.likelyFirst;
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const auto rank = [&](int k) {
                const qsizetype at = likely.indexOf(board.points[std::size_t(k)].name);
                return at < 0 ? likely.size() : at;
            };
            return rank(a) < rank(b);
        });
    }
    return order;
}

} // namespace sig
