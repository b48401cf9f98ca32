// The measure subcommand's module: the window's measurement sequence, driven
// with sleeps, and its exporters.
#include "measurejob.h"

#include "atomicfile.h"
#include "curveexport.h"
#include "sequence.h"
#include "zemctl.h"

#include <cstdio>

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
        job->exitCode = zemctl::kExitResult;
        job->message = sequence.message().toStdString() + "; nothing was written";
        return;
    default:
        job->exitCode = zemctl::kExitUsage;
        job->message = sequence.message().toStdString() + "; nothing was written";
        return;
    }
    const QByteArray bytes = job->csv ? curveCsv(sequence.curve()) : curveJson(sequence.curve());
    if (job->fileName.empty()) {
        if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout)
                != std::size_t(bytes.size())
            || std::fflush(stdout) != 0) {
            job->exitCode = zemctl::kExitUsage;
            job->message = "cannot write the curve to standard output";
        }
        return;
    }
    const std::string error = zem::files::writeFile(
        job->fileName, std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!error.empty()) {
        job->exitCode = zemctl::kExitUsage;
        job->message = error;
    }
}
