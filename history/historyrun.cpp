#include "historyrun.h"

#include "symmetry.h"

#include <cmath>

namespace zem::history {

QString runVerdict(const std::vector<sig::PointResult> &results, const std::vector<int> &order)
{
    bool unstable = false;
    for (int k : order) {
        const sig::Verdict v = results[std::size_t(k)].verdict;
        if (v == sig::Verdict::Unstable)
            unstable = true;
        else if (v != sig::Verdict::Pass)
            return QStringLiteral("fail");
    }
    return unstable ? QStringLiteral("unstable") : QStringLiteral("pass");
}

Run historyRun(const sig::Signature &board, const std::vector<sig::PointResult> &results,
    const std::vector<int> &order, const QDateTime &started, const QString &serial,
    const QString &signatureName)
{
    Run run;
    run.boardType = board.board;
    run.boardSerial = serial;
    run.started = started;
    run.finished = QDateTime::currentDateTimeUtc();
    run.signature = signatureName;
    run.verdict = runVerdict(results, order);
    for (int k : order) {
        const sig::Point &p = board.points[std::size_t(k)];
        const sig::PointResult &r = results[std::size_t(k)];
        PointResult out;
        out.name = p.name;
        out.verdict = QString::fromLatin1(sig::verdictName(r.verdict));
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
            const sig::Measurement *m = p.measurements.empty() ? nullptr : &p.measurements.front();
            if (m && m->reference) {
                const sig::IvCurve ref
                    = m->moreBoards.empty() ? *m->reference : sig::medianCurve(m->references());
                out.refVolts = ref.volts;
                out.refMilliamps = ref.milliamps;
            }
        }
        run.points.push_back(std::move(out));
    }
    return run;
}

} // namespace zem::history
