#include "ngspice.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <ngspice/sharedspice.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <string>

Q_LOGGING_CATEGORY(lcSpice, "zem.spice", QtWarningMsg)

namespace predict {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Every node has this to the common, so that a node reached only through
// capacitors or junctions still has a DC path; 5 pA at 5 V.
constexpr double kShuntOhms = 1e12;
// The probe on the common itself reads a short.
constexpr double kShortOhms = 1e-3;
// Samples of one period at the least: the curve between samples is read
// by linear interpolation.
constexpr double kStepsPerPeriod = 200;
constexpr int kMinWarmPeriods = 2, kMaxWarmPeriods = 100;

QString tr(const char *text)
{
    return QCoreApplication::translate("predict::Ngspice", text);
}

QString number(double v)
{
    return QString::number(v, 'g', 12);
}

using InitFn = decltype(&ngSpice_Init);
using CircFn = decltype(&ngSpice_Circ);
using CommandFn = decltype(&ngSpice_Command);
using VecFn = decltype(&ngGet_Vec_Info);

// Linear interpolation of y(t) at `at`, t rising.
double interpolate(const double *t, const double *y, int n, double at)
{
    const double *hi = std::lower_bound(t, t + n, at);
    if (hi == t)
        return y[0];
    if (hi == t + n)
        return y[n - 1];
    const int k = int(hi - t);
    const double span = t[k] - t[k - 1];
    return span > 0 ? y[k - 1] + (y[k] - y[k - 1]) * (at - t[k - 1]) / span : y[k];
}

} // namespace

// One loaded copy of the library: its entry points and what it said.
class NgspiceEngine
{
public:
    bool load(const char *library, bool ownNamespace, QString *error)
    {
        m_handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
        if (m_handle && ownNamespace) {
            // Another copy of the file is another object with globals of its
            // own; a link namespace of its own would bring a second C library.
            Dl_info info {};
            void *init = dlsym(m_handle, "ngSpice_Init");
            m_copy = std::make_unique<QTemporaryDir>();
            const QString copy = m_copy->filePath(QStringLiteral("libngspice-copy.so"));
            const bool copied = init && dladdr(init, &info) && info.dli_fname && m_copy->isValid()
                && QFile::copy(QFile::decodeName(info.dli_fname), copy);
            m_handle = copied ? dlopen(QFile::encodeName(copy).constData(), RTLD_NOW | RTLD_LOCAL)
                              : nullptr;
            if (!m_handle) {
                *error = tr("no second copy of %1").arg(QString::fromLocal8Bit(library));
                return false;
            }
        }
        if (!m_handle) {
            *error = tr("ngspice's library (%1) cannot be loaded: %2; install libngspice0")
                         .arg(QString::fromLocal8Bit(library), QString::fromLocal8Bit(dlerror()));
            return false;
        }
        m_init = reinterpret_cast<InitFn>(dlsym(m_handle, "ngSpice_Init"));
        m_circ = reinterpret_cast<CircFn>(dlsym(m_handle, "ngSpice_Circ"));
        m_command = reinterpret_cast<CommandFn>(dlsym(m_handle, "ngSpice_Command"));
        m_vec = reinterpret_cast<VecFn>(dlsym(m_handle, "ngGet_Vec_Info"));
        if (!m_init || !m_circ || !m_command || !m_vec) {
            *error
                = tr("%1 lacks the shared-library interface").arg(QString::fromLocal8Bit(library));
            return false;
        }
        m_init(&NgspiceEngine::onText, nullptr, &NgspiceEngine::onExit, nullptr, nullptr, nullptr,
            this);
        return true;
    }
    // Neither quit nor unloaded: the library's threads and exit handlers may
    // outlive a dlclose, and it lives as long as the process.

    // One simulation at a time: the library's state is global.
    Simulation run(const Circuit &circuit, const zem::Stimulus &stimulus)
    {
        std::lock_guard lock(m_busy);
        Simulation out;
        if (m_dead) {
            out.error = tr("ngspice stopped after an earlier error");
            return out;
        }
        m_errors.clear();
        const SpiceDeck deck = spiceDeck(circuit, stimulus);
        std::vector<std::string> text;
        for (const QString &line : deck.lines)
            text.push_back(line.toStdString());
        std::vector<char *> lines;
        for (std::string &line : text)
            lines.push_back(line.data());
        lines.push_back(nullptr);
        qCDebug(lcSpice) << "deck" << deck.lines;
        if (m_circ(lines.data()) != 0 || m_dead) {
            out.error = failure(tr("ngspice refused the circuit"));
            return out;
        }
        const int ran = command("run");
        out = read(deck, stimulus, ran);
        command("remcirc");
        command("destroy all");
        return out;
    }

private:
    static int onText(char *text, int, void *self)
    {
        const QString line = QString::fromLocal8Bit(text);
        qCDebug(lcSpice) << line;
        if (line.startsWith(QLatin1String("stderr ")))
            static_cast<NgspiceEngine *>(self)->m_errors << line.mid(7).trimmed();
        return 0;
    }
    static int onExit(int status, NG_BOOL, NG_BOOL, int, void *self)
    {
        qCDebug(lcSpice) << "exit" << status;
        static_cast<NgspiceEngine *>(self)->m_dead = true;
        return 0;
    }

    int command(const char *text)
    {
        std::string c = text;
        return m_command(c.data());
    }

    QString failure(const QString &what) const
    {
        QStringList said;
        for (const QString &e : m_errors)
            if (!e.isEmpty() && !e.startsWith(QLatin1String("Note:"))
                && !e.startsWith(QLatin1String("Warning:")) && said.size() < 3)
                said << e;
        return said.isEmpty() ? what : tr("%1: %2").arg(what, said.join(QLatin1String("; ")));
    }

    Simulation read(const SpiceDeck &deck, const zem::Stimulus &stimulus, int ran)
    {
        Simulation out;
        // The library answers each look-up in one struct of its own: the
        // data pointer and length are taken before the next.
        const double *data[3] {};
        int lengths[3] {};
        for (int k = 0; k < 3; ++k) {
            std::string name = k == 0 ? "time" : k == 1 ? "p" : "s";
            if (const pvector_info v = m_vec(name.data()); v && v->v_realdata) {
                data[k] = v->v_realdata;
                lengths[k] = v->v_length;
            }
        }
        const bool whole = data[0] && data[1] && data[2] && lengths[0] > 1
            && lengths[1] == lengths[0] && lengths[2] == lengths[0]
            && data[0][lengths[0] - 1] >= deck.stop * (1 - 1e-9);
        if (ran != 0 || !whole) {
            out.error = failure(tr("the simulation did not converge"));
            return out;
        }
        const int n = lengths[0];
        const double *t = data[0];
        sig::IvCurve curve;
        curve.volts.reserve(stimulus.points);
        curve.milliamps.reserve(stimulus.points);
        for (std::uint32_t k = 0; k < stimulus.points; ++k) {
            const double at = deck.start + k / stimulus.samplingRate;
            const double vp = interpolate(t, data[1], n, at);
            const double vs = interpolate(t, data[2], n, at);
            curve.volts.push_back(vp);
            curve.milliamps.push_back(1000.0 * (vs - vp) / stimulus.sourceOhms);
        }
        out.curve = std::move(curve);
        return out;
    }

    std::mutex m_busy;
    void *m_handle = nullptr;
    std::unique_ptr<QTemporaryDir> m_copy; // the file of a second copy
    InitFn m_init = nullptr;
    CircFn m_circ = nullptr;
    CommandFn m_command = nullptr;
    VecFn m_vec = nullptr;
    QStringList m_errors;
    bool m_dead = false;
};

SpiceDeck spiceDeck(const Circuit &circuit, const zem::Stimulus &stimulus)
{
    SpiceDeck deck;
    QHash<QString, QString> nodes { { circuit.common, QStringLiteral("0") } };
    const auto node = [&nodes](const QString &net) {
        auto found = nodes.constFind(net);
        if (found == nodes.constEnd())
            found = nodes.insert(net, QStringLiteral("n%1").arg(nodes.size()));
        return *found;
    };
    QStringList &l = deck.lines;
    l << QStringLiteral("* zem prediction") << QStringLiteral(".options temp=26.85 tnom=26.85")
      << QStringLiteral("V0 s 0 SIN(0 %1 %2 0 0 0)")
             .arg(number(stimulus.amplitude), number(stimulus.frequency))
      << QStringLiteral("R0 s p %1").arg(number(stimulus.sourceOhms));
    if (circuit.probe == circuit.common)
        l << QStringLiteral("Rshort p 0 %1").arg(number(kShortOhms));
    else
        nodes.insert(circuit.probe, QStringLiteral("p"));
    double farads = 0, henries = 0;
    QStringList models;
    std::vector<Junction> junctions;
    int k = 0;
    for (const Element &e : circuit.elements) {
        const QString a = node(e.a), b = node(e.b);
        ++k;
        switch (e.kind) {
        case Element::Kind::Resistor:
            l << QStringLiteral("R%1 %2 %3 %4")
                     .arg(k)
                     .arg(a, b, number(std::max(e.value, kShortOhms)));
            break;
        case Element::Kind::Capacitor:
            l << QStringLiteral("C%1 %2 %3 %4").arg(k).arg(a, b, number(e.value));
            farads += e.value;
            break;
        case Element::Kind::Inductor:
            l << QStringLiteral("L%1 %2 %3 %4").arg(k).arg(a, b, number(e.value));
            henries += e.value;
            break;
        case Element::Kind::Diode: {
            auto found = std::find(junctions.begin(), junctions.end(), e.junction);
            if (found == junctions.end()) {
                junctions.push_back(e.junction);
                found = junctions.end() - 1;
                const Junction &j = e.junction;
                QString model
                    = QStringLiteral(".model DM%1 D(IS=%2 N=%3 RS=%4")
                          .arg(junctions.size())
                          .arg(number(j.saturationAmps), number(j.emission), number(j.seriesOhms));
                if (j.breakdownVolts > 0)
                    model += QStringLiteral(" BV=%1 IBV=%2")
                                 .arg(number(j.breakdownVolts), number(j.breakdownAmps));
                models << model + QLatin1Char(')');
            }
            l << QStringLiteral("D%1 %2 %3 DM%4")
                     .arg(k)
                     .arg(a, b)
                     .arg(found - junctions.begin() + 1);
            break;
        }
        }
    }
    int shunt = 0;
    for (auto it = nodes.cbegin(); it != nodes.cend(); ++it)
        if (*it != QLatin1String("0"))
            l << QStringLiteral("RG%1 %2 0 %3").arg(++shunt).arg(*it, number(kShuntOhms));
    if (circuit.probe == circuit.common)
        l << QStringLiteral("RGp p 0 %1").arg(number(kShuntOhms));
    l << models;
    // Transients die out within a few time constants; the slowest is at
    // most the series resistance with every capacitor, or every inductor
    // against it.
    const double period = 1.0 / stimulus.frequency;
    const double tau = stimulus.sourceOhms * farads + henries / stimulus.sourceOhms;
    const int periods
        = std::clamp(int(std::ceil(8 * tau / period)), kMinWarmPeriods, kMaxWarmPeriods);
    deck.start = periods * period;
    deck.stop
        = deck.start + (std::max<std::uint32_t>(stimulus.points, 2) - 1) / stimulus.samplingRate;
    deck.step = std::min(1.0 / stimulus.samplingRate, period / kStepsPerPeriod);
    l << QStringLiteral(".tran %1 %2 0 %1").arg(number(deck.step), number(deck.stop))
      << QStringLiteral(".end");
    return deck;
}

NgspiceSimulator::NgspiceSimulator(int copies, const char *library)
{
    // A copy is loaded once for the process: the library cannot be started
    // again after it quits, nor unloaded safely.
    static std::mutex loading;
    static std::map<std::string, std::vector<std::unique_ptr<NgspiceEngine>>> loaded;
    std::lock_guard lock(loading);
    auto &engines = loaded[library];
    for (int k = int(engines.size()); k < std::max(copies, 1); ++k) {
        auto engine = std::make_unique<NgspiceEngine>();
        QString error;
        // More copies are copies of the file, which the system may refuse:
        // then fewer run.
        if (!engine->load(library, k > 0, &error)) {
            if (k == 0)
                m_loadError = error;
            break;
        }
        engines.push_back(std::move(engine));
    }
    for (int k = 0; k < std::min(int(engines.size()), std::max(copies, 1)); ++k)
        m_engines.push_back(engines[std::size_t(k)].get());
}

NgspiceSimulator::~NgspiceSimulator() = default;

Simulation NgspiceSimulator::simulate(const Circuit &circuit, const zem::Stimulus &stimulus)
{
    if (m_engines.empty())
        return { std::nullopt, m_loadError };
    return m_engines[m_next++ % m_engines.size()]->run(circuit, stimulus);
}

} // namespace predict
