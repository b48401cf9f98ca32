// Detection: the compare and the likely faults on boards made by the
// simulator. Good boards have every part drawn within its tolerance, faulty
// ones one single fault each (every fault the likely faults know: open,
// short, value x0.5 and x2, diode reversed, an IC pin's junction open). A
// reference is learned from 10 good boards as `learn --add` does, then good
// and faulty boards are tested through the board test's session, their
// curves with the virtual instrument's noise. Figures, no assertions.
//
//     bench_detection [--good N] [--good-mixed N] [--per-fault N] [--auto-settings]
//                     [--second VOLTS]
//
// --good: good boards of the demo board tested (1000); --good-mixed: of the
// generated one (300, each of its nets being most of the board through the
// IC's supply, so slower to simulate); --per-fault: boards of each fault (3);
// --second: a second measurement of every point at that amplitude on I_LOW.
#include "figure.h"

#include "boardcircuit.h"
#include "faultcache.h"
#include "faults.h"
#include "models.h"
#include "ngspice.h"
#include "predictor.h"
#include "session.h"
#include "signature.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

namespace {

using predict::Element;

// The parts' tolerances the good boards are drawn within (the BOM names no
// tolerance): resistors 1 %, capacitors and inductors 10 %, a junction's
// saturation current within a factor of 1.5 either way, its emission 2 %
// and its series resistance 10 %; each uniform.
void drawParts(std::vector<Element> &elements, std::mt19937_64 &random)
{
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (Element &e : elements) {
        switch (e.kind) {
        case Element::Kind::Resistor:
            e.value *= 1 + 0.01 * unit(random);
            break;
        case Element::Kind::Capacitor:
        case Element::Kind::Inductor:
            e.value *= 1 + 0.10 * unit(random);
            break;
        case Element::Kind::Diode:
            e.junction.saturationAmps *= std::pow(1.5, unit(random));
            e.junction.emission *= 1 + 0.02 * unit(random);
            e.junction.seriesOhms *= 1 + 0.10 * unit(random);
            break;
        }
    }
}

// The virtual instrument's noise (libzem's instrument.cpp): 1 mV on the
// voltage and 5e-5 of the range's full scale on the current, Gaussian, then
// clipped as the channels clip.
sig::IvCurve withNoise(
    const sig::IvCurve &simulated, const zem::Stimulus &s, std::mt19937_64 &random)
{
    std::normal_distribution<double> normal;
    sig::IvCurve noisy = simulated;
    for (double &v : noisy.volts)
        v += 1e-3 * normal(random);
    for (double &i : noisy.milliamps)
        i += 5e-5 * s.fullScaleMilliamps * normal(random);
    return predict::asMeasured(noisy, s);
}

// A board of 31 parts around an 8-channel IC: each input behind a series
// resistor with a pull-down, some with a capacitor or a diode, a zener on
// one connector pin, the supply's capacitor, and a LED with its resistor.
sig::Signature mixedBoard()
{
    sig::Signature b;
    b.board = QStringLiteral("mixed");
    b.settings = sig::defaultSettings();
    const auto part = [&b](const QString &ref, const QString &value,
                          std::vector<std::pair<QString, QString>> pads) {
        sig::Part p { ref, value, {} };
        for (const auto &[pin, net] : pads)
            p.pads.push_back({ pin, net });
        b.parts.push_back(p);
    };
    const QString gnd = QStringLiteral("GND"), vcc = QStringLiteral("VCC");
    const char *series[] = { "100", "220", "470", "1k", "2k2", "4k7", "10k", "22k" };
    const char *pull[] = { "10k", "47k", "4k7", "100k", "1k", "22k", "2k2", "47k" };
    const char *caps[] = { "1u", "", "470n", "", "2u2", "", "220n", "" };
    std::vector<std::pair<QString, QString>> ic { { "1", vcc }, { "2", gnd } };
    for (int k = 0; k < 8; ++k) {
        const QString x = QStringLiteral("X%1").arg(k + 1), in = QStringLiteral("IN%1").arg(k + 1);
        part(QStringLiteral("R%1").arg(k + 1), QLatin1String(series[k]),
            { { "1", x }, { "2", in } });
        part(QStringLiteral("R%1").arg(k + 11), QLatin1String(pull[k]),
            { { "1", in }, { "2", gnd } });
        if (*caps[k])
            part(QStringLiteral("C%1").arg(k + 1), QLatin1String(caps[k]),
                { { "1", in }, { "2", gnd } });
        ic.push_back({ QString::number(k + 3), in });
    }
    part(QStringLiteral("U1"), QStringLiteral("OCTAL-BUFFER"), ic);
    part(QStringLiteral("C10"), QStringLiteral("100n"), { { "1", vcc }, { "2", gnd } });
    part(QStringLiteral("D1"), QStringLiteral("1N4148"), { { "2", "X2" }, { "1", vcc } });
    part(QStringLiteral("D2"), QStringLiteral("1N4148"), { { "2", gnd }, { "1", "X4" } });
    part(QStringLiteral("D3"), QStringLiteral("BAT54"), { { "2", gnd }, { "1", "X6" } });
    part(QStringLiteral("ZD1"), QStringLiteral("BZX84C3V3"), { { "2", gnd }, { "1", "X8" } });
    part(QStringLiteral("R20"), QStringLiteral("1k"), { { "1", vcc }, { "2", "LEDA" } });
    part(QStringLiteral("LED1"), QStringLiteral("LED red"), { { "2", "LEDA" }, { "1", gnd } });
    return b;
}

// A point on every pad off the common net, one measurement each.
void addPoints(sig::Signature &b)
{
    b.points.clear();
    for (const sig::Part &part : b.parts)
        for (const sig::Pad &pad : part.pads) {
            if (pad.net == b.commonNet())
                continue;
            sig::Point p;
            p.name = part.refdes + QLatin1Char('.') + pad.pin;
            p.net = pad.net;
            p.component = part.refdes;
            b.points.push_back(std::move(p));
        }
}

// Every point of the board unlearned, and those on the common (a short
// whatever the board) left out.
void forget(sig::Signature &b)
{
    std::vector<sig::Point> kept;
    for (sig::Point p : b.points) {
        if (predict::nodeOf(p) == b.commonNet())
            continue;
        for (sig::Measurement &m : p.measurements) {
            m.reference.reset();
            m.moreBoards.clear();
        }
        p.variants.clear();
        p.predictedBy.clear();
        kept.push_back(std::move(p));
    }
    b.points = std::move(kept);
}

// A board's parts as drawn, simulated: each node at each stimulus once,
// each point's curve with noise of its own.
class DrawnBoard
{
public:
    // Its parts drawn within their tolerances, then `fault` (an index into
    // singleFaults() of the whole board) made, if any.
    DrawnBoard(const sig::Signature &b, const std::vector<Element> &nominal,
        predict::Simulator &simulator, std::uint64_t seed, const std::size_t *fault = nullptr)
        : m_board(b)
        , m_simulator(simulator)
        , m_random(seed)
    {
        std::vector<Element> parts = nominal;
        drawParts(parts, m_random);
        m_elements.elements = fault ? predict::singleFaults(parts)[*fault].elements : parts;
    }

    sig::IvCurve curve(int point, const measurement_settings &settings)
    {
        const sig::Point &p = m_board.points[std::size_t(point)];
        const zem::Stimulus s = zem::stimulusOf(settings);
        const QString key = predict::nodeOf(p) + QLatin1Char('\n') + QString::number(s.sourceOhms)
            + QLatin1Char(' ') + QString::number(s.amplitude);
        auto found = m_simulated.constFind(key);
        if (found == m_simulated.constEnd()) {
            const predict::Simulation sim = m_simulator.simulate(
                predict::circuitAt(m_elements, predict::nodeOf(p), m_board.commonNet(), nullptr),
                s);
            found = m_simulated.insert(key,
                sim.curve && sim.curve->volts.size() == s.points ? *sim.curve : sig::IvCurve());
        }
        return found->volts.empty() ? sig::IvCurve() : withNoise(*found, s, m_random);
    }

private:
    const sig::Signature &m_board;
    predict::Simulator &m_simulator;
    std::mt19937_64 m_random;
    predict::BoardElements m_elements;
    QHash<QString, sig::IvCurve> m_simulated;
};

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
};

// Tolerances the scores are judged at besides the file's, for the trade-off.
constexpr double kTolerances[] = { 7.0, 5.0, 3.0 };

void run(sig::Signature b, int goodCount, const Options &o, predict::NgspiceSimulator &simulator,
    bool autoSettings)
{
    const predict::Models models = predict::Models::builtIn();
    forget(b);
    if (o.second > 0) {
        measurement_settings low = b.settings;
        low.MaxVoltage = float(o.second);
        low.CurrentSensorMode = CURRENT_SENSE_MODE_I_LOW;
        for (sig::Point &p : b.points) {
            p.measurements.resize(1);
            p.measurements.push_back({ low, {}, {} });
        }
    }
    const std::vector<Element> nominal = predict::boardElements(b, models).elements;
    predict::BoardElements nominalBoard { nominal, {}, {} };
    const std::vector<predict::SingleFault> faults = predict::singleFaults(nominal);
    QString how = autoSettings ? QStringLiteral("%1, learned with --auto-settings")
                               : QStringLiteral("%1, learned at its settings");
    if (o.second > 0)
        how += QStringLiteral(" and at %1 V on I_LOW").arg(o.second);
    const QByteArray name = how.arg(b.board).toUtf8();
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
    std::vector<double> goodHighest(b.points.size());
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
                goodHighest[k] = std::max(goodHighest[k], r[k].score);
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
    int boards = 0, detected = 0, top3 = 0, top3Before = 0, top1 = 0, visible = 0,
        visibleDetected = 0;
    std::vector<int> detectedBelow(std::size(kTolerances));
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
            bool failed = false, shows = false;
            double score = 0;
            for (int k : points) {
                const sig::PointResult &r = results[std::size_t(k)];
                score = std::max(score, r.score);
                shows = shows || r.score > goodHighest[std::size_t(k)];
                if (r.verdict != sig::Verdict::Different)
                    continue;
                failed = true;
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
            visible += shows;
            visibleDetected += shows && failed;
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
    std::snprintf(what, sizeof what,
        "%s: detection of the faults that score above every good board at their point",
        name.constData());
    figure(what, "-", "%.1f %% of %d", 100.0 * visibleDetected / std::max(visible, 1), visible);
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
    for (int k = 1; k + 1 < args.size(); ++k) {
        const int n = std::max(1, args[k + 1].toInt());
        if (args[k] == QLatin1String("--good"))
            o.good = n;
        else if (args[k] == QLatin1String("--good-mixed"))
            o.goodMixed = n;
        else if (args[k] == QLatin1String("--per-fault"))
            o.perFault = n;
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
    sig::Signature mixed = mixedBoard();
    addPoints(mixed);
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
