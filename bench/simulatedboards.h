// The boards bench_detection tests, made by the simulator: the demo
// board's parts or a generated board's, drawn within their tolerances
// (and with one fault, for a faulty board), measured with the virtual
// instrument's noise.
#pragma once

#include "boardcircuit.h"
#include "faults.h"
#include "partspread.h"
#include "predictor.h"
#include "signature.h"
#include "simulator.h"

#include <QHash>

#include <cmath>
#include <random>

namespace detection {

using predict::Element;

// The virtual instrument's noise (libzem's instrument.cpp): 1 mV on the
// voltage and 5e-5 of the range's full scale on the current, Gaussian, then
// clipped as the channels clip.
inline sig::IvCurve withNoise(
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
inline sig::Signature mixedBoard()
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
inline void addPoints(sig::Signature &b)
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
inline void forget(sig::Signature &b)
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
        predict::drawWithinTolerance(parts, m_random);
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

} // namespace detection
