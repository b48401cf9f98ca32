#include "boardverdict.h"

#include <QCoreApplication>

namespace sig {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::BoardVerdict", text);
}

} // namespace

int BoardVerdict::flagged() const
{
    switch (kind) {
    case Kind::Pass:
        return passed;
    case Kind::Fail:
        return different + notLearned + noContact + netDisagrees;
    case Kind::Unstable:
        return unstable;
    case Kind::NoContact:
        return noContact;
    case Kind::Partial:
        break;
    }
    return points - notTested;
}

BoardVerdict boardVerdict(const std::vector<PointResult> &results, const std::vector<int> &order)
{
    BoardVerdict b;
    b.points = int(order.size());
    for (int k : order) {
        const PointResult *r
            = k >= 0 && std::size_t(k) < results.size() ? &results[std::size_t(k)] : nullptr;
        const Verdict v = r ? r->verdict : Verdict::NotTested;
        if (r && r->info && v != Verdict::Pass && v != Verdict::NotTested) {
            ++b.info;
            continue;
        }
        b.passed += v == Verdict::Pass;
        b.different += v == Verdict::Different;
        b.unstable += v == Verdict::Unstable;
        b.noContact += v == Verdict::NoContact;
        b.notLearned += v == Verdict::NotLearned;
        b.notTested += v == Verdict::NotTested;
        b.netDisagrees += v == Verdict::NetDisagrees;
    }
    if (b.different + b.notLearned + b.netDisagrees > 0)
        b.kind = BoardVerdict::Kind::Fail;
    else if (b.notTested > 0 || b.points == 0)
        b.kind = BoardVerdict::Kind::Partial;
    else if (b.noContact > 0)
        b.kind = BoardVerdict::Kind::NoContact;
    else if (b.unstable > 0)
        b.kind = BoardVerdict::Kind::Unstable;
    else
        b.kind = BoardVerdict::Kind::Pass;
    return b;
}

BoardVerdict boardVerdict(const std::vector<PointResult> &results, int points)
{
    std::vector<int> all(std::size_t(std::max(points, 0)));
    for (int k = 0; k < points; ++k)
        all[std::size_t(k)] = k;
    return boardVerdict(results, all);
}

std::vector<std::pair<const char *, int>> boardVerdictCounts(const BoardVerdict &b)
{
    return { { "points", b.points }, { "passed", b.passed }, { "different", b.different },
        { "unstable", b.unstable }, { "no_contact", b.noContact }, { "not_learned", b.notLearned },
        { "net_disagrees", b.netDisagrees }, { "info", b.info } };
}

QString boardVerdictDetail(const BoardVerdict &b)
{
    const QString of = tr("%1 of %2 points").arg(b.flagged()).arg(b.points);
    switch (b.kind) {
    case BoardVerdict::Kind::Pass:
        return b.info ? tr("%1 pass, %2 for information only").arg(of).arg(b.info)
                      : tr("%1 pass").arg(of);
    case BoardVerdict::Kind::Fail: {
        QStringList why;
        if (b.different)
            why << tr("%1 different").arg(b.different);
        if (b.netDisagrees)
            why << tr("%1 unlike their net").arg(b.netDisagrees);
        if (b.notLearned)
            why << tr("%1 not learned").arg(b.notLearned);
        if (b.noContact)
            why << tr("%1 no contact").arg(b.noContact);
        return tr("%1 fail: %2").arg(of, why.join(QStringLiteral(", ")));
    }
    case BoardVerdict::Kind::Unstable:
        return tr("%1 unstable: retest").arg(of);
    case BoardVerdict::Kind::NoContact:
        return tr("%1 open or no contact: check by hand").arg(of);
    case BoardVerdict::Kind::Partial:
        break;
    }
    return tr("%1 tested").arg(of);
}

QString boardVerdictHeadline(const BoardVerdict &b)
{
    return boardVerdictWord(b.kind) + QStringLiteral(": ") + boardVerdictDetail(b);
}

} // namespace sig
