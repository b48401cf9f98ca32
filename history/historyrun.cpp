#include "historyrun.h"

#include "boardverdict.h"
#include "symmetry.h"

#include <cmath>

namespace zem::history {

QString runVerdict(const std::vector<sig::PointResult> &results, const std::vector<int> &order)
{
    // The history's run verdicts predate the banner's no-contact word, and
    // its filters and charts count those boards as failed.
    switch (sig::boardVerdict(results, order).kind) {
    case sig::BoardVerdict::Kind::Pass:
        return QStringLiteral("pass");
    case sig::BoardVerdict::Kind::Unstable:
        return QStringLiteral("unstable");
    default:
        return QStringLiteral("fail");
    }
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
        // The variant a point passed by, and an info point's mark, ride in
        // the reading: a column of their own would cost a schema change for
        // what is read by people.
        if (const QString marks = sig::resultMarks(r); !marks.isEmpty())
            out.reading = out.reading.isEmpty() ? marks : marks + QStringLiteral("; ") + out.reading;
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
