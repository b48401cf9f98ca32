#include "historyrun.h"

#include "boardverdict.h"
#include "symmetry.h"

#include <cmath>

namespace sig {

zem::history::Run historyRun(const RunRecord &record)
{
    const Signature &board = record.signature;
    const RunHeader &h = record.header;
    zem::history::Run run;
    run.uuid = h.uuid;
    run.boardType = h.boardType;
    run.boardSerial = h.serial;
    if (!h.station.isEmpty())
        run.station = h.station;
    run.operatorName = h.operatorName;
    run.started = h.started;
    run.finished = h.finished.isValid() ? h.finished : QDateTime::currentDateTimeUtc();
    run.signature = h.signatureName;
    run.verdict = QString::fromLatin1(boardVerdictName(record.verdict.kind));
    for (int k : record.coverage.untested)
        run.untested << board.points[std::size_t(k)].name;
    run.stopReason = record.coverage.stopReason;
    for (int k : record.coverage.tested) {
        const Point &p = board.points[std::size_t(k)];
        const PointResult &r = record.results[std::size_t(k)];
        zem::history::PointResult out;
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
        // The variant a point passed by and an info point's mark ride in the
        // reading, for people; whether a point is for information only is
        // kept apart too, as the failure counts leave it out.
        out.info = r.info;
        if (const QString marks = sig::resultMarks(r); !marks.isEmpty())
            out.reading
                = out.reading.isEmpty() ? marks : marks + QStringLiteral("; ") + out.reading;
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

} // namespace sig
