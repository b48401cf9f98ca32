// Detection: the compare and the likely faults on boards made by the
// simulator. Good boards have every part drawn within its tolerance, faulty
// ones one single fault each (every fault the likely faults know: open,
// short, value x0.5 and x2, diode reversed, an IC pin's junction open). A
// reference is learned from 10 good boards as `learn --add` does, then good
// and faulty boards are tested through the board test's session, their
// curves with the virtual instrument's noise. Figures, no assertions.
//
//     bench_detection [--good N] [--good-mixed N] [--per-fault N] [--auto-settings]
//                     [--second VOLTS] [--choose-settings] [--tolerance PERCENT]
//
// --good: good boards of the demo board tested (1000); --good-mixed: of the
// generated one (300, each of its nets being most of the board through the
// IC's supply, so slower to simulate); --per-fault: boards of each fault (3);
// --second: a second measurement of every point at that amplitude on I_LOW;
// --choose-settings: each point's settings chosen from the circuit first;
// --tolerance: the boards tested at this tolerance instead of the file's.
#include "figure.h"
#include "simulatedboards.h"

#include "faultcache.h"
#include "models.h"
#include "ngspice.h"
#include "session.h"
#include "settingschoice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {

using detection::DrawnBoard;
using predict::Element;

// The session learning one more good board into the signature, measured at
// whatever settings it asks for (each range, with auto-settings).
void learn(sig::Signature &b, DrawnBoard &board, bool autoSettings)
{
    sig::Session::Options options;
    options.add = true;
    options.autoSettings = autoSettings;
    sig::Session session(b, sig::Session::Mode::Learn, options);
    while (!session.done())
        session.record(board.curve(session.point(), session.settings()));
}

// The session testing the points listed (every point when none).
std::vector<sig::PointResult> test(
    sig::Signature &b, DrawnBoard &board, const std::vector<int> &only = {})
{
    sig::Session session(b, sig::Session::Mode::Test);
    for (std::size_t k = 0; k < b.points.size(); ++k) {
        if (!only.empty() && std::find(only.begin(), only.end(), int(k)) == only.end())
            continue;
        session.select(int(k));
        while (!session.done() && session.point() == int(k))
            session.record(board.curve(int(k), session.settings()));
    }
    return session.results();
}

// Where the true fault is among the likely ones, 0 first; SIZE_MAX when not
// there. `plain`: ranked by match alone, in the order the faults are tried,
// as the ranking was before a fault on the probed net went first.
std::size_t rankOf(const std::vector<predict::LikelyFault> &list, const QString &label,
    const std::vector<predict::SingleFault> &tried, bool plain)
{
    std::vector<QString> order;
    if (!plain) {
        for (const predict::LikelyFault &f : list)
            order.push_back(f.part + QLatin1Char(' ') + f.fault);
    } else {
        QHash<QString, double> match;
        for (const predict::LikelyFault &f : list)
            match.insert(f.part + QLatin1Char(' ') + f.fault, f.match);
        std::vector<std::pair<double, QString>> ranked;
        for (const predict::SingleFault &f : tried) {
            const QString name = f.fault.part + QLatin1Char(' ') + f.fault.fault;
            if (match.contains(name))
                ranked.push_back({ match.value(name), name });
        }
        std::stable_sort(ranked.begin(), ranked.end(),
            [](const auto &a, const auto &b) { return a.first > b.first; });
        for (const auto &r : ranked)
            order.push_back(r.second);
    }
    const auto at = std::find(order.begin(), order.end(), label);
    return at == order.end() ? SIZE_MAX : std::size_t(at - order.begin());
}

struct Options
{
    int good = 1000;
    int goodMixed = 300;
    int perFault = 3;
    int learned = 10;
    bool autoSettings = false;
    // A second measurement of every point at this amplitude (V) on the
    // most sensitive range, below the junctions' knees; none when 0.
    double second = 0;
    // Each point's settings chosen from the circuit before learning.
    bool choose = false;
    double tolerance = 0; // the boards' tolerance, percent; 0 keeps the file's
};

// Tolerances the scores are judged at besides the file's, for the trade-off.
constexpr double kTolerances[] = { 7.0, 5.0, 3.0 };

void run(sig::Signature b, int goodCount, const Options &o, predict::NgspiceSimulator &simulator,
    bool autoSettings)
{
    const predict::Models models = predict::Models::builtIn();
    detection::forget(b);
    if (o.tolerance > 0)
        b.tolerance = o.tolerance;
    if (o.second > 0) {
        measurement_settings low = b.settings;
        low.MaxVoltage = float(o.second);
        low.CurrentSensorMode = CURRENT_SENSE_MODE_I_LOW;
        for (sig::Point &p : b.points) {
            p.measurements.resize(1);
            p.measurements.push_back({ low, {}, {} });
        }
    }
    QString how = autoSettings ? QStringLiteral("%1, learned with --auto-settings")
                               : QStringLiteral("%1, learned at its settings");
    if (o.second > 0)
        how += QStringLiteral(" and at %1 V on I_LOW").arg(o.second);
    if (o.choose)
        how = QStringLiteral("%1, learned at settings chosen from the circuit");
    const QByteArray name = how.arg(b.board).toUtf8();
    if (o.choose) {
        QElapsedTimer clock;
        clock.start();
        predict::ChoiceOptions choice;
        choice.tolerance = b.tolerance;
        choice.threads = 2;
        const predict::SettingsChoice chosen = predict::chooseSettings(b, models, simulator, choice);
        const int changed = chosen.changed();
        int measurements = 0;
        for (const sig::Point &p : b.points)
            measurements += int(p.measurements.size());
        char what[240];
        std::snprintf(what, sizeof what, "%s: settings chosen (%d simulations)", name.constData(),
            chosen.simulations);
        figure(what, "-",
            "%.1f s; %d of %zu points given more, %d measurements; faults shown %d -> %d of %d",
            clock.nsecsElapsed() / 1e9, changed, chosen.points.size(), measurements,
            chosen.shownBefore, chosen.shown, chosen.faults);
        if (!chosen.hidden.isEmpty())
            std::printf("  shown by no setting: %s\n",
                qPrintable(chosen.hidden.join(QLatin1String(", "))));
    }
    const std::vector<Element> nominal = predict::boardElements(b, models).elements;
    predict::BoardElements nominalBoard { nominal, {}, {} };
    const std::vector<predict::SingleFault> faults = predict::singleFaults(nominal);
    std::printf("\n%s: %zu parts, %zu points, %zu single faults\n", name.constData(),
        b.parts.size(), b.points.size(), faults.size());

    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < o.learned; ++k) {
        DrawnBoard board(b, nominal, simulator, std::uint64_t(k) * 7919u + 1);
        learn(b, board, autoSettings);
    }
    int lowRange = 0;
    for (const sig::Point &p : b.points)
        lowRange += b.settingsOf(p, 0).CurrentSensorMode != b.settings.CurrentSensorMode;

    // Good boards, tested two at a time (the simulator has two copies).
    std::size_t goodPoints = 0, falseFails = 0;
    std::vector<std::size_t> failsAt(b.points.size()), failsBelow(std::size(kTolerances));
    double worstGood = 0;
    for (int done = 0; done < goodCount; done += 100) {
        const int count = std::min(100, goodCount - done);
        std::vector<std::vector<sig::PointResult>> results(static_cast<std::size_t>(count));
        std::atomic<int> next { 0 };
        const auto work = [&] {
            for (int k; (k = next++) < count;) {
                DrawnBoard board(b, nominal, simulator, std::uint64_t(1000 + done + k) * 7919u + 1);
                results[std::size_t(k)] = test(b, board);
            }
        };
        std::thread other(work);
        work();
        other.join();
        for (const std::vector<sig::PointResult> &r : results)
            for (std::size_t k = 0; k < r.size(); ++k) {
                if (r[k].curves.empty())
                    continue;
                ++goodPoints;
                worstGood = std::max(worstGood, r[k].score);
                for (std::size_t t = 0; t < std::size(kTolerances); ++t)
                    failsBelow[t] += r[k].score > kTolerances[t];
                if (r[k].verdict == sig::Verdict::Different) {
                    ++falseFails;
                    ++failsAt[k];
                }
            }
    }
    const double goodSeconds = clock.nsecsElapsed() / 1e9;
    const std::size_t worstPoint
        = std::size_t(std::max_element(failsAt.begin(), failsAt.end()) - failsAt.begin());

    // Faulty boards: each fault on `perFault` boards of parts drawn anew.
    clock.restart();
    int boards = 0, detected = 0, top3 = 0, top3Before = 0, top1 = 0;
    std::vector<int> detectedBelow(std::size(kTolerances));
    int firstFailing = -1; // a failing point and its curves, for the time of its ranking
    std::vector<sig::IvCurve> firstCurves;
    QStringList missed, misranked;
    for (std::size_t f = 0; f < faults.size(); ++f) {
        const QString label = faults[f].fault.part + QLatin1Char(' ') + faults[f].fault.fault;
        std::vector<int> points;
        for (std::size_t k = 0; k < b.points.size(); ++k)
            if (faults[f].nodes.contains(predict::nodeOf(b.points[k])))
                points.push_back(int(k));
        int missedHere = 0, misrankedHere = 0;
        double missedScore = 0;
        for (int n = 0; n < o.perFault; ++n) {
            DrawnBoard board(
                b, nominal, simulator, std::uint64_t(f) * 104729u + std::uint64_t(n) + 5, &f);
            const std::vector<sig::PointResult> results = test(b, board, points);
            ++boards;
            std::size_t best = SIZE_MAX, bestBefore = SIZE_MAX;
            bool failed = false;
            double score = 0;
            for (int k : points) {
                const sig::PointResult &r = results[std::size_t(k)];
                score = std::max(score, r.score);
                if (r.verdict != sig::Verdict::Different)
                    continue;
                failed = true;
                if (firstFailing < 0) {
                    firstFailing = k;
                    firstCurves = r.curves;
                }
                const QString node = predict::nodeOf(b.points[std::size_t(k)]);
                const auto list = predict::likelyFaults(
                    b, models, simulator, k, r.curves, SIZE_MAX, &predict::FaultCache::shared());
                const auto tried = predict::singleFaults(
                    predict::circuitAt(nominalBoard, node, b.commonNet(), nullptr).elements);
                best = std::min(best, rankOf(list, label, tried, false));
                bestBefore = std::min(bestBefore, rankOf(list, label, tried, true));
            }
            for (std::size_t t = 0; t < std::size(kTolerances); ++t)
                detectedBelow[t] += score > kTolerances[t];
            if (!failed) {
                ++missedHere;
                missedScore = std::max(missedScore, score);
                continue;
            }
            ++detected;
            top1 += best == 0;
            top3 += best < 3;
            top3Before += bestBefore < 3;
            misrankedHere += best >= 3;
        }
        if (missedHere)
            missed << QStringLiteral("%1 (%2 of %3, score %4 %)")
                          .arg(label)
                          .arg(missedHere)
                          .arg(o.perFault)
                          .arg(missedScore, 0, 'f', 1);
        if (misrankedHere)
            misranked << QStringLiteral("%1 (%2)").arg(label).arg(misrankedHere);
    }
    const double faultySeconds = clock.nsecsElapsed() / 1e9;
    double firstMs = 0, keptMs = 0;
    std::size_t tried = 0;
    if (firstFailing >= 0) {
        predict::FaultCache cache;
        clock.restart();
        predict::likelyFaults(b, models, simulator, firstFailing, firstCurves, 3, &cache);
        firstMs = clock.nsecsElapsed() / 1e6;
        clock.restart();
        predict::likelyFaults(b, models, simulator, firstFailing, firstCurves, 3, &cache);
        keptMs = clock.nsecsElapsed() / 1e6;
        tried = predict::singleFaults(
            predict::circuitAt(nominalBoard, predict::nodeOf(b.points[std::size_t(firstFailing)]),
                b.commonNet(), nullptr)
                .elements)
                    .size();
    }

    const double tolerance = b.tolerance;
    char what[240];
    std::snprintf(what, sizeof what,
        "%s: detection, tolerance %.0f %% (%d faulty boards, %d of each fault)", name.constData(),
        tolerance, boards, o.perFault);
    figure(what, ">= 99 %", "%.1f %% (%d)", 100.0 * detected / std::max(boards, 1), detected);
    std::snprintf(what, sizeof what,
        "%s: false fails (%d good boards, reference of %d; %d points on another range)",
        name.constData(), goodCount, o.learned, lowRange);
    figure(what, "<= 0.5 % a point",
        "%.3f %% of %zu points; worst point %s %.2f %%; highest score %.1f %%",
        100.0 * double(falseFails) / double(std::max<std::size_t>(goodPoints, 1)), goodPoints,
        qPrintable(b.points[worstPoint].name),
        100.0 * double(failsAt[worstPoint]) / std::max(goodCount, 1), worstGood);
    std::snprintf(what, sizeof what, "%s: true fault in the top three (first), of those detected",
        name.constData());
    figure(what, ">= 90 %", "%.1f %% (%.1f %%); ranked by match alone %.1f %%",
        100.0 * top3 / std::max(detected, 1), 100.0 * top1 / std::max(detected, 1),
        100.0 * top3Before / std::max(detected, 1));
    QStringList tradeOff;
    for (std::size_t t = 0; t < std::size(kTolerances); ++t)
        tradeOff << QStringLiteral("%1 %: %2 % / %3 %")
                        .arg(kTolerances[t])
                        .arg(100.0 * detectedBelow[t] / std::max(boards, 1), 0, 'f', 1)
                        .arg(100.0 * double(failsBelow[t])
                                / double(std::max<std::size_t>(goodPoints, 1)),
                            0, 'f', 2);
    std::snprintf(
        what, sizeof what, "%s: at other tolerances, detection / false fails", name.constData());
    figure(what, "-", "%s", qPrintable(tradeOff.join(QLatin1String("; "))));
    std::snprintf(what, sizeof what, "%s: likely faults of one failing point, first time / kept",
        name.constData());
    figure(what, "<= 200 ms first time", "%.0f / %.1f ms (%zu faults on its net)", firstMs, keptMs,
        tried);
    std::snprintf(what, sizeof what, "%s: time, good boards and faulty ones", name.constData());
    figure(what, "a couple of minutes", "%.1f s + %.1f s", goodSeconds, faultySeconds);
    if (!missed.isEmpty())
        std::printf("  missed: %s\n", qPrintable(missed.join(QLatin1String(", "))));
    if (!misranked.isEmpty())
        std::printf(
            "  not in the top three: %s\n", qPrintable(misranked.join(QLatin1String(", "))));
}

} // namespace

int main(int argc, char **argv)
{
    // The board test's cache of the likely faults' curves kept in a folder
    // of the run's own: every run simulates them afresh, and the user's
    // cache is left alone.
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome.path()));
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    o.autoSettings = args.contains(QLatin1String("--auto-settings"));
    o.choose = args.contains(QLatin1String("--choose-settings"));
    for (int k = 1; k + 1 < args.size(); ++k) {
        const int n = std::max(1, args[k + 1].toInt());
        if (args[k] == QLatin1String("--good"))
            o.good = n;
        else if (args[k] == QLatin1String("--good-mixed"))
            o.goodMixed = n;
        else if (args[k] == QLatin1String("--per-fault"))
            o.perFault = n;
        else if (args[k] == QLatin1String("--tolerance"))
            o.tolerance = args[k + 1].toDouble();
        else if (args[k] == QLatin1String("--second"))
            o.second = args[k + 1].toDouble();
    }
    predict::NgspiceSimulator simulator(2);
    if (!simulator.loadError().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(simulator.loadError()));
        return 1;
    }
    QString error;
    const std::optional<sig::Signature> demo = sig::load(QStringLiteral(DEMO_SIGNATURE), &error);
    if (!demo) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    sig::Signature mixed = detection::mixedBoard();
    detection::addPoints(mixed);
    run(*demo, o.good, o, simulator, false);
    run(mixed, o.goodMixed, o, simulator, false);
    // Each range tried at each point on the first board learned: slower, as
    // every point's faults are simulated at its own range.
    if (o.autoSettings) {
        run(*demo, o.good, o, simulator, true);
        run(mixed, o.goodMixed, o, simulator, true);
    }
    return 0;
}
