#include "historyrun.h"

#include "symmetry.h"

#include <cmath>

namespace sig {

QString runVerdict(const std::vector<PointResult> &results, const std::vector<int> &order)
{
    bool unstable = false;
    for (int k : order) {
        const Verdict v = results[std::size_t(k)].verdict;
        if (v == Verdict::Unstable)
            unstable = true;
        else if (v != Verdict::Pass)
            return QStringLiteral("fail");
    }
    return unstable ? QStringLiteral("unstable") : QStringLiteral("pass");
}

zem::history::Run historyRun(const Signature &board, const std::vector<PointResult> &results,
    const std::vector<int> &order, const QDateTime &started, const QString &serial,
    const QString &signatureName)
{
    zem::history::Run run;
    run.boardType = board.board;
    run.boardSerial = serial;
    run.started = started;
    run.finished = QDateTime::currentDateTimeUtc();
    run.signature = signatureName;
    run.verdict = runVerdict(results, order);
    for (int k : order) {
        const Point &p = board.points[std::size_t(k)];
        const PointResult &r = results[std::size_t(k)];
        zem::history::PointResult out;
        out.name = p.name;
        out.verdict = QString::fromLatin1(verdictName(r.verdict));
        if (!std::isnan(r.score))
            out.score = r.score;
        out.tolerance = board.toleranceOf(p);
        if (r.cause) {
            out.causeClass = QString::fromLatin1(r.cause->kindName());
            out.causeText = r.cause->text();
        }
        out.reading = r.reading.text();
        // The first measurement's test curve stands for the point, with
        // what it was compared against: the cause's median of several boards.
        if (!r.curves.empty()) {
            out.volts = r.curves.front().volts;
            out.milliamps = r.curves.front().milliamps;
            const Measurement *m = p.measurements.empty() ? nullptr : &p.measurements.front();
            if (m && m->reference) {
                const IvCurve ref
                    = m->moreBoards.empty() ? *m->reference : medianCurve(m->references());
                out.refVolts = ref.volts;
                out.refMilliamps = ref.milliamps;
            }
        }
        run.points.push_back(std::move(out));
    }
    return run;
}

} // namespace sig
