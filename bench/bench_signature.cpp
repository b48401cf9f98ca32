// Figures of signatures: scoring and reading curves; prints, asserts nothing.
#include "procmemory.h"
#include "figure.h"
#include "sigcurves.h"

#include "reading.h"
#include "score.h"
#include "signature.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <fstream>
#include <string>

namespace {

// A board of `points` placed points, and extra text before the points.
QByteArray boardFile(int points, const QByteArray &extra = QByteArray())
{
    sig::Signature board;
    board.settings = sig::defaultSettings();
    for (int k = 0; k < points; ++k) {
        board.points.emplace_back();
        board.points.back().name = QStringLiteral("P%1").arg(k + 1);
        board.points.back().at = QPointF(k % 4000, k / 4000);
    }
    QByteArray text = sig::serialize(board);
    text.replace("\"points\":", extra + "\"points\":");
    return text;
}

} // namespace

int main()
{
    {
        // A file of 100 MB, all of it one key this program does not know.
        QByteArray numbers = "\"unknown\": [";
        numbers.reserve(100 << 20);
        while (numbers.size() < (100 << 20))
            numbers += "1.25, -3.5e-3, 100, ";
        numbers += "0],\n ";
        const QByteArray text = boardFile(10, numbers);
        numbers.clear();
        numbers.squeeze();
        resetPeak();
        const double before = memoryMegabytes("VmRSS:");
        QString error;
        const bool read = sig::parse(text, &error).has_value();
        figure("memory to read a 100 MB file of one unknown key, beyond its text", "< 10 MB",
            "%.0f MB%s", memoryMegabytes("VmHWM:") - before, read ? "" : " (refused)");
    }
    {
        const QByteArray text = boardFile(120000);
        const auto t0 = std::chrono::steady_clock::now();
        QString error;
        const bool read = sig::parse(text, &error).has_value();
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        figure("read a 120,000-point file", "< 1 s", "%.2f s%s", seconds, read ? "" : " (refused)");
    }

    measurement_settings s = sig::defaultSettings();
    s.NumberPoints = 1000;
    const sig::IvCurve a = resistor(1000), b = resistor(1200);
    volatile double sink = 0;
    const double scoring = bestMicros([&] { sink = sink + sig::score(a, b, s); }, 200);
    figure("score of two 1,000-point curves, best", "< 1 ms", "%.1f µs", scoring);
    const double reading = bestMicros([&] { sink = sink + sig::read(a, s).ohms; }, 200);
    figure("reading of a 1,000-point curve, best", "-", "%.1f µs", reading);
    return 0;
}
