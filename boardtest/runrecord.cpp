#include "runrecord.h"

#include <QCoreApplication>
#include <QStringList>

namespace sig {

QString RunRecord::untestedNames() const
{
    QStringList names;
    for (int k : coverage.untested)
        names << signature.points[std::size_t(k)].name;
    return names.join(QStringLiteral(", "));
}

RunRecord boardRecord(const Signature &board)
{
    RunRecord r;
    r.kind = RunPlan::Kind::Learn;
    r.header.boardType = board.board;
    r.signature = board;
    r.results.assign(board.points.size(), PointResult());
    r.seconds.assign(board.points.size(), 0.0);
    r.coverage.untested = board.probedPoints();
    r.verdict = boardVerdict(r.results, r.coverage.untested);
    return r;
}

QString learnedNothingText(const RunRecord &record)
{
    return QCoreApplication::translate("sig::RunRecord",
        "every point of %1 read open: the probe was probably not touching the board (a machine "
        "taught in the wrong place, a probe lying on nothing); nothing was learned")
        .arg(record.signature.board);
}

} // namespace sig
