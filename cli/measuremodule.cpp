// The measure subcommand's module: the window's measurement sequence, driven
// with sleeps, its exporters and the Curve dock's figures.
#include "measurejob.h"

#include "curve.h"
#include "curveexport.h"
#include "curvefigures.h"
#include "reading.h"
#include "sequence.h"
#include "zemctl.h"

#include <QStringList>

#include <cmath>
#include <cstdio>

namespace {

// Right-aligned columns, so that a person can read down them.
std::string pointTable(const Curve &curve)
{
    const QStringList header { QStringLiteral("index"), QStringLiteral("time_ms"),
        QStringLiteral("voltage_V"), QStringLiteral("current_mA") };
    std::vector<QStringList> rows;
    for (std::size_t i = 0; i < curve.size(); ++i) {
        const bool read = curve.hasPoint(i);
        rows.push_back({ QString::number(i), QString::number(curve.timeMs(i), 'f', 3),
            read ? QString::number(double(curve.voltage[i]), 'f', 6) : QStringLiteral("-"),
            read ? QString::number(double(curve.current[i]), 'f', 6) : QStringLiteral("-") });
    }
    std::vector<int> width;
    for (const QString &h : header)
        width.push_back(int(h.size()));
    for (const QStringList &row : rows)
        for (int k = 0; k < row.size(); ++k)
            width[std::size_t(k)] = std::max(width[std::size_t(k)], int(row[k].size()));
    const auto line = [&](const QStringList &cells) {
        QStringList padded;
        for (int k = 0; k < cells.size(); ++k)
            padded << cells[k].rightJustified(width[std::size_t(k)]);
        return padded.join(QStringLiteral("  ")).toStdString() + '\n';
    };
    std::string text = line(header);
    for (const QStringList &row : rows)
        text += line(row);
    return text;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void zemctl_measure(zemctl::MeasureJob *job)
{
    MeasurementSequence sequence(*job->device);
    std::size_t shownFrames = ~std::size_t(0);
    runToEnd(sequence, [&] {
        if (job->progress && sequence.framesRead() != shownFrames && sequence.frameCount()) {
            shownFrames = sequence.framesRead();
            std::fprintf(stderr, "\rzemctl: measuring: %zu of %zu frames", shownFrames,
                sequence.frameCount());
        }
        return job->interrupted && *job->interrupted;
    });
    if (job->progress && shownFrames != ~std::size_t(0))
        std::fputc('\n', stderr);

    switch (sequence.outcome()) {
    case MeasurementSequence::Outcome::Complete:
        break;
    case MeasurementSequence::Outcome::Failed:
    case MeasurementSequence::Outcome::TimedOut:
    case MeasurementSequence::Outcome::NoDevice:
        job->exitCode = zemctl::kExitDevice;
        job->result = sequence.failedResult();
        job->message = sequence.message().toStdString() + "; nothing was written";
        return;
    case MeasurementSequence::Outcome::Cancelled:
        job->exitCode = zemctl::kExitInterrupted;
        job->message = sequence.message().toStdString() + "; nothing was written";
        return;
    default:
        job->exitCode = zemctl::kExitUsage;
        job->message = sequence.message().toStdString() + "; nothing was written";
        return;
    }
    const Curve &curve = sequence.curve();
    job->json = curveJson(curve).toStdString();
    job->csv = curveCsv(curve).toStdString();
    job->table = pointTable(curve);

    const CurveFigures f = figuresOf(curve);
    job->points = f.points;
    job->slopeOhms = f.resistanceOhms;
    job->rSquared = f.rSquared;
    job->peakMilliamps = f.peakCurrentMa;
    job->runMs = std::chrono::duration<double, std::milli>(curve.duration).count();
    job->slopeText = (siText(f.resistanceOhms, QStringLiteral("Ω")) + QStringLiteral(" (R² ")
        + (std::isnan(f.rSquared) ? QStringLiteral("-") : QString::number(f.rSquared, 'f', 4))
        + QStringLiteral(")"))
                         .toStdString();
    job->peakText = siText(f.peakCurrentMa / 1000.0, QStringLiteral("A")).toStdString();
    job->runText = siText(job->runMs / 1000.0, QStringLiteral("s")).toStdString();
    job->reading = sig::read(sig::ivCurveOf(curve), curve.settings).text().toStdString();
    job->figures = figuresText(curve).toStdString() + " · " + job->reading;
}
