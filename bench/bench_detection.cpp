// Detection: the compare and the likely faults on boards made by the
// simulator. Good boards have every part drawn within its tolerance, faulty
// ones one single fault each (every fault the likely faults know: open,
// short, value x0.5 and x2, diode reversed, an IC pin's junction open). A
// reference is learned from 10 good boards as `learn --add` does, then good
// and faulty boards are tested through the board test's session, their
// curves with the virtual instrument's noise. Figures, no assertions.
//
//     bench_detection [--good N] [--per-fault N]
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
#include <QHash>
#include <QSet>

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

bool sameElement(const Element &x, const Element &y)
{
    return x.kind == y.kind && x.part == y.part && x.a == y.a && x.b == y.b && x.value == y.value
        && x.junction == y.junction;
}

// The nodes a fault changes: those of the elements it takes, adds or alters.
QSet<QString> changedNodes(const std::vector<Element> &good, const std::vector<Element> &faulty)
{
    QSet<QString> nodes;
    const auto missing
        = [&nodes](const std::vector<Element> &from, const std::vector<Element> &in) {
              for (const Element &e : from)
                  if (std::none_of(in.begin(), in.end(),
                          [&](const Element &o) { return sameElement(e, o); }))
                      nodes << e.a << e.b;
          };
    missing(good, faulty);
    missing(faulty, good);
    return nodes;
}

// Curves of each point (one a measurement) of a board of these elements;
// only the points listed (all when none).
using BoardCurves = std::vector<std::vector<sig::IvCurve>>;
BoardCurves measure(const sig::Signature &b, const std::vector<Element> &elements,
    predict::Simulator &simulator, std::mt19937_64 &random, const std::vector<int> &only = {})
{
    BoardCurves out(b.points.size());
    predict::BoardElements board;
    board.elements = elements;
    QHash<QString, sig::IvCurve> simulated;
    for (std::size_t k = 0; k < b.points.size(); ++k) {
        if (!only.empty() && std::find(only.begin(), only.end(), int(k)) == only.end())
            continue;
        const sig::Point &p = b.points[k];
        for (std::size_t m = 0; m < p.measurements.size(); ++m) {
            const zem::Stimulus s = zem::stimulusOf(b.settingsOf(p, m));
            const QString key = predict::nodeOf(p) + QLatin1Char('\n') + QString::number(m);
            auto found = simulated.constFind(key);
            if (found == simulated.constEnd()) {
                const predict::Simulation sim = simulator.simulate(
                    predict::circuitAt(board, predict::nodeOf(p), b.commonNet(), nullptr), s);
                found = simulated.insert(key,
                    sim.curve && sim.curve->volts.size() == s.points ? *sim.curve : sig::IvCurve());
            }
            out[k].push_back(found->volts.empty() ? sig::IvCurve() : withNoise(*found, s, random));
        }
    }
    return out;
}

// The board test's session over one board's curves: learned into the
// signature, or tested with each point's result back.
void learn(sig::Signature &b, const BoardCurves &curves)
{
    sig::Session::Options options;
    options.add = true;
    sig::Session session(b, sig::Session::Mode::Learn, options);
    for (std::size_t k = 0; k < curves.size(); ++k)
        for (const sig::IvCurve &c : curves[k])
            session.record(c);
}

std::vector<sig::PointResult> test(sig::Signature &b, const BoardCurves &curves)
{
    sig::Session session(b, sig::Session::Mode::Test);
    for (std::size_t k = 0; k < curves.size(); ++k) {
        if (curves[k].empty())
            continue;
        session.select(int(k));
        for (const sig::IvCurve &c : curves[k])
            session.record(c);
    }
    return session.results();
}

struct Options
{
    int good = 1000;
    int perFault = 4;
    int learned = 10;
};

void run(sig::Signature b, const Options &o, predict::NgspiceSimulator &simulator)
{
    const predict::Models models = predict::Models::builtIn();
    forget(b);
    const std::vector<Element> nominal = predict::boardElements(b, models).elements;
    const std::vector<predict::SingleFault> faults = predict::singleFaults(nominal);
    const QByteArray name = b.board.toUtf8();
    std::printf("\n%s: %zu parts, %zu points, %zu single faults\n", name.constData(),
        b.parts.size(), b.points.size(), faults.size());

    // Good boards, made two at a time (the simulator has two copies).
    const auto goodBoards = [&](int first, int count) {
        std::vector<BoardCurves> out(static_cast<std::size_t>(count));
        std::atomic<int> next { 0 };
        const auto work = [&] {
            for (int k; (k = next++) < count;) {
                std::mt19937_64 random(std::uint64_t(first + k) * 7919u + 1);
                std::vector<Element> parts = nominal;
                drawParts(parts, random);
                out[std::size_t(k)] = measure(b, parts, simulator, random);
            }
        };
        std::thread other(work);
        work();
        other.join();
        return out;
    };
    QElapsedTimer clock;
    clock.start();
    for (const BoardCurves &c : goodBoards(0, o.learned))
        learn(b, c);

    std::size_t goodPoints = 0, falseFails = 0;
    double worstGood = 0;
    std::vector<int> failsAt(b.points.size());
    for (int done = 0; done < o.good; done += 100) {
        const int count = std::min(100, o.good - done);
        for (const BoardCurves &c : goodBoards(1000 + done, count)) {
            const std::vector<sig::PointResult> results = test(b, c);
            for (std::size_t k = 0; k < results.size(); ++k) {
                if (c[k].empty())
                    continue;
                ++goodPoints;
                worstGood = std::max(worstGood, results[k].score);
                if (results[k].verdict == sig::Verdict::Different) {
                    ++falseFails;
                    ++failsAt[k];
                }
            }
        }
    }
    const double goodSeconds = clock.nsecsElapsed() / 1e9;
    int worstPoint = 0;
    for (std::size_t k = 0; k < failsAt.size(); ++k)
        if (failsAt[k] > failsAt[std::size_t(worstPoint)])
            worstPoint = int(k);

    // Faulty boards: each fault on `perFault` boards of parts drawn anew.
    clock.restart();
    int boards = 0, detected = 0, top1 = 0, top3 = 0, ranked = 0;
    QStringList missed, misranked;
    for (std::size_t f = 0; f < faults.size(); ++f) {
        const QString label = faults[f].fault.part + QLatin1Char(' ') + faults[f].fault.fault;
        const QSet<QString> nodes = changedNodes(nominal, faults[f].elements);
        std::vector<int> points;
        for (std::size_t k = 0; k < b.points.size(); ++k)
            if (nodes.contains(predict::nodeOf(b.points[k])))
                points.push_back(int(k));
        int missedHere = 0, misrankedHere = 0;
        double missedScore = 0;
        for (int n = 0; n < o.perFault; ++n) {
            std::mt19937_64 random(std::uint64_t(f) * 104729u + std::uint64_t(n) + 5);
            std::vector<Element> parts = nominal;
            drawParts(parts, random);
            parts = predict::singleFaults(parts)[f].elements;
            const BoardCurves curves = measure(b, parts, simulator, random, points);
            const std::vector<sig::PointResult> results = test(b, curves);
            ++boards;
            std::size_t best = SIZE_MAX;
            bool failed = false;
            double scoreHere = 0;
            for (int k : points) {
                const sig::PointResult &r = results[std::size_t(k)];
                scoreHere = std::max(scoreHere, r.score);
                if (r.verdict != sig::Verdict::Different)
                    continue;
                failed = true;
                const auto list = predict::likelyFaults(
                    b, models, simulator, k, r.curves, SIZE_MAX, &predict::FaultCache::shared());
                for (std::size_t at = 0; at < list.size(); ++at)
                    if (list[at].part + QLatin1Char(' ') + list[at].fault == label)
                        best = std::min(best, at);
            }
            if (!failed) {
                ++missedHere;
                missedScore = std::max(missedScore, scoreHere);
                continue;
            }
            ++detected;
            ++ranked;
            top1 += best == 0;
            top3 += best < 3;
            misrankedHere += best >= 3;
        }
        if (missedHere)
            missed << QStringLiteral("%1 (%2 of %3, scores up to %4 %)")
                          .arg(label)
                          .arg(missedHere)
                          .arg(o.perFault)
                          .arg(missedScore, 0, 'f', 1);
        if (misrankedHere)
            misranked << QStringLiteral("%1 (%2)").arg(label).arg(misrankedHere);
    }
    const double faultySeconds = clock.nsecsElapsed() / 1e9;

    char what[200];
    std::snprintf(what, sizeof what, "%s: detection (%d faulty boards, %d of each fault)",
        name.constData(), boards, o.perFault);
    figure(what, ">= 99 %", "%.1f %% (%d)", 100.0 * detected / std::max(boards, 1), detected);
    std::snprintf(what, sizeof what, "%s: false fails (%d good boards, reference of %d)",
        name.constData(), o.good, o.learned);
    figure(what, "<= 0.5 % a point",
        "%.3f %% of %zu points; worst point %s %.2f %%; highest score %.1f %%",
        100.0 * double(falseFails) / double(std::max<std::size_t>(goodPoints, 1)), goodPoints,
        qPrintable(b.points[std::size_t(worstPoint)].name),
        100.0 * failsAt[std::size_t(worstPoint)] / std::max(o.good, 1), worstGood);
    std::snprintf(what, sizeof what, "%s: true fault in the top three (first)", name.constData());
    figure(what, ">= 90 %", "%.1f %% (%.1f %%)", 100.0 * top3 / std::max(ranked, 1),
        100.0 * top1 / std::max(ranked, 1));
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
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    for (int k = 1; k + 1 < args.size(); k += 2) {
        if (args[k] == QLatin1String("--good"))
            o.good = std::max(1, args[k + 1].toInt());
        else if (args[k] == QLatin1String("--per-fault"))
            o.perFault = std::max(1, args[k + 1].toInt());
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
    run(*demo, o, simulator);
    sig::Signature mixed = mixedBoard();
    addPoints(mixed);
    run(mixed, o, simulator);
    return 0;
}
