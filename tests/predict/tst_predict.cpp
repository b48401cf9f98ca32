#include "boardcircuit.h"
#include "cadimport.h"
#include "faultcache.h"
#include "faults.h"
#include "models.h"
#include "ngspice.h"
#include "predictor.h"
#include "settingschoice.h"
#include "signature.h"
#include "simulatordouble.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <complex>

using namespace predict;

namespace {

constexpr double kThermalVolts = 0.025852; // 300 K

measurement_settings settings(
    std::uint32_t mode, float volts, float hz, float rate, std::uint32_t n)
{
    measurement_settings s = sig::defaultSettings();
    s.CurrentSensorMode = mode;
    s.MaxVoltage = volts;
    s.ProbeSignalFrequency = hz;
    s.SamplingRate = rate;
    s.NumberPoints = n;
    return s;
}

// The curve each element gives by its own physics, sample by sample.
sig::IvCurve physics(const Element &e, const zem::Stimulus &s)
{
    sig::IvCurve c;
    const double w = 2 * M_PI * s.frequency;
    const std::complex<double> zc = 1.0 / std::complex<double>(0, w * e.value);
    for (std::uint32_t k = 0; k < s.points; ++k) {
        const double t = k / s.samplingRate, source = s.amplitude * std::sin(w * t);
        double v = 0;
        if (e.kind == Element::Kind::Resistor) {
            v = source * e.value / (e.value + s.sourceOhms);
        } else if (e.kind == Element::Kind::Capacitor) {
            const auto volts = s.amplitude * zc / (s.sourceOhms + zc) * std::polar(1.0, w * t);
            v = volts.imag();
        } else {
            double lo = std::min(0.0, source), hi = std::max(0.0, source);
            for (int i = 0; i < 200; ++i) {
                const double mid = (lo + hi) / 2;
                const double amps = e.junction.saturationAmps
                    * std::expm1(mid / (e.junction.emission * kThermalVolts));
                (mid + s.sourceOhms * amps > source ? hi : lo) = mid;
            }
            v = (lo + hi) / 2;
        }
        c.volts.push_back(v);
        c.milliamps.push_back(1000 * (source - v) / s.sourceOhms);
    }
    return c;
}

// The largest difference of either channel, as a share of its span.
double worst(const sig::IvCurve &want, const sig::IvCurve &got)
{
    double out = 0;
    const double spanV = sig::span(want.volts), spanI = sig::span(want.milliamps);
    for (std::size_t k = 0; k < want.volts.size(); ++k)
        out = std::max({ out, std::abs(want.volts[k] - got.volts[k]) / spanV,
            std::abs(want.milliamps[k] - got.milliamps[k]) / spanI });
    return out;
}

// "1:N1 2:GND" as pads.
std::vector<sig::Pad> pads(const QString &text)
{
    std::vector<sig::Pad> out;
    for (const QString &p : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.push_back({ p.section(QLatin1Char(':'), 0, 0), p.section(QLatin1Char(':'), 1) });
    return out;
}

QStringList described(const std::vector<Element> &elements)
{
    QStringList out;
    for (const Element &e : elements) {
        switch (e.kind) {
        case Element::Kind::Diode:
            out << QStringLiteral("D %1>%2").arg(e.a, e.b)
                    + (e.junction.breakdownVolts > 0
                            ? QStringLiteral(" bv=%1").arg(e.junction.breakdownVolts)
                            : QString());
            break;
        default:
            out << QStringLiteral("%1 %2-%3 %4")
                       .arg(QLatin1Char("RCL"[int(e.kind)]))
                       .arg(e.a, e.b)
                       .arg(e.value);
        }
    }
    out.sort();
    return out;
}

QByteArray record(const QString &net, const QString &ref, const QString &pin, int k)
{
    return QString::asprintf("327%-14s   %-6s-%-4s       A01X+%06dY+%06dX0600Y0600R090 S0\n",
        qPrintable(net), qPrintable(ref), qPrintable(pin), 100 * k, 100)
        .toLatin1();
}

int zemctl(const QStringList &args, const QString &dir, QByteArray *out)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(ZEMCTL), args);
    if (!p.waitForFinished(120000))
        return -1;
    *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitCode();
}

} // namespace

class tst_Predict : public QObject
{
    Q_OBJECT

private slots:
    void analytic_data();
    void analytic();
    void parts_data();
    void parts();
    void points_data();
    void points();
    void signatureKeepsThePrediction();
    void likelyFaults_data();
    void likelyFaults();
    void settingsChosen();
    void faultCacheFiles_data();
    void faultCacheFiles();
    void virtualBoardPasses_data();
    void virtualBoardPasses();
};

void tst_Predict::analytic_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("value");
    QTest::addColumn<measurement_settings>("settings");
    const std::pair<const char *, measurement_settings> all[] = {
        { "I_LOW 5 V 100 Hz", settings(CURRENT_SENSE_MODE_I_LOW, 5, 100, 10000, 100) },
        { "I_MID 5 V 100 Hz", settings(CURRENT_SENSE_MODE_I_MID, 5, 100, 10000, 100) },
        { "I_HIGH 2 V 1 kHz", settings(CURRENT_SENSE_MODE_I_HIGH, 2, 1000, 50000, 200) },
        { "I_MID 12 V 10 Hz", settings(CURRENT_SENSE_MODE_I_MID, 12, 10, 1000, 300) },
    };
    for (const auto &[name, s] : all) {
        QTest::addRow("resistor, %s", name) << int(Element::Kind::Resistor) << 4700.0 << s;
        QTest::addRow("capacitor, %s", name) << int(Element::Kind::Capacitor) << 1e-6 << s;
        QTest::addRow("diode, %s", name) << int(Element::Kind::Diode) << 0.0 << s;
    }
}

void tst_Predict::analytic()
{
    QFETCH(int, kind);
    QFETCH(double, value);
    QFETCH(measurement_settings, settings);
    static NgspiceSimulator simulator;
    QVERIFY2(simulator.loadError().isEmpty(), qPrintable(simulator.loadError()));
    Element e;
    e.kind = Element::Kind(kind);
    e.a = QStringLiteral("N1");
    e.b = QStringLiteral("GND");
    e.value = value;
    const zem::Stimulus s = zem::stimulusOf(settings);
    const Simulation got = simulator.simulate({ e.a, e.b, { e } }, s);
    QVERIFY2(got.curve, qPrintable(got.error));
    const double error = worst(physics(e, s), asMeasured(*got.curve, s));
    QVERIFY2(error < 0.01, qPrintable(QStringLiteral("off by %1 % of the span").arg(100 * error)));
}

void tst_Predict::parts_data()
{
    QTest::addColumn<QString>("refdes");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("pads");
    QTest::addColumn<QStringList>("elements");
    QTest::addColumn<QString>("left"); // "unknown", a part of the problem, or ""
    QTest::addColumn<QByteArray>("own"); // a user's models, or none

    const QString two = QStringLiteral("1:N1 2:GND");
    QTest::newRow("resistor") << "R1"
                              << "4k7" << two << QStringList { "R N1-GND 4700" } << ""
                              << QByteArray();
    QTest::newRow("capacitor") << "C1"
                               << "100n" << two << QStringList { "C N1-GND 1e-07" } << ""
                               << QByteArray();
    QTest::newRow("inductor") << "L1"
                              << "10uH" << two << QStringList { "L N1-GND 1e-05" } << ""
                              << QByteArray();
    QTest::newRow("LED before inductor")
        << "LED1"
        << "red"
        << "1:K 2:A" << QStringList { "D A>K" } << "" << QByteArray();
    QTest::newRow("zener by value")
        << "D3"
        << "BZX84C5V1"
        << "1:N1 2:GND" << QStringList { "D GND>N1 bv=5.1" } << "" << QByteArray();
    QTest::newRow("zener without a voltage")
        << "ZD1"
        << "ZENER" << two << QStringList {} << "breakdown" << QByteArray();
    QTest::newRow("npn") << "Q1"
                         << "BC847B"
                         << "1:B 2:E 3:C" << QStringList { "D B>C", "D B>E" } << "" << QByteArray();
    QTest::newRow("pnp") << "Q2"
                         << "2N3906"
                         << "1:B 2:E 3:C" << QStringList { "D C>B", "D E>B" } << "" << QByteArray();
    QTest::newRow("nmos body diode")
        << "Q3"
        << "2N7002"
        << "1:G 2:S 3:D" << QStringList { "D S>D" } << "" << QByteArray();
    QTest::newRow("ic pins to its supplies")
        << "U1"
        << "MCU"
        << "1:VCC 2:GND 3:SDA 4:SCL"
        << QStringList { "D GND>SCL", "D GND>SDA", "D SCL>VCC", "D SDA>VCC" } << "" << QByteArray();
    QTest::newRow("unreadable value")
        << "R2"
        << "abc" << two << QStringList {} << "R2: the value" << QByteArray();
    QTest::newRow("resistor of three pads")
        << "R3"
        << "1k"
        << "1:A 2:B 3:C" << QStringList {} << "3 pads" << QByteArray();
    QTest::newRow("unknown part") << "X1"
                                  << "FOO" << two << QStringList {} << "unknown" << QByteArray();
    QTest::newRow("test point, open on purpose") << "TP1"
                                                 << ""
                                                 << "1:N1" << QStringList {} << "" << QByteArray();
    QTest::newRow("a user's rule first")
        << "X1"
        << "1k" << two << QStringList { "R N1-GND 1000" } << ""
        << QByteArray(
               R"({"format":"zem-models","version":"mine","parts":[{"refdes":"X*","kind":"resistor"}]})");
}

void tst_Predict::parts()
{
    QFETCH(QString, refdes);
    QFETCH(QString, value);
    QFETCH(QString, pads);
    QFETCH(QStringList, elements);
    QFETCH(QString, left);
    QFETCH(QByteArray, own);
    Models models = Models::builtIn();
    if (!own.isEmpty()) {
        QString error;
        auto read = Models::read(own, QStringLiteral("mine.json"), models, &error);
        QVERIFY2(read, qPrintable(error));
        models = *read;
        QCOMPARE(models.version(), QStringLiteral("mine+1"));
    }
    sig::Signature board;
    board.parts.push_back({ refdes, value, ::pads(pads) });
    const BoardElements built = boardElements(board, models);
    QCOMPARE(described(built.elements), elements);
    if (left == QLatin1String("unknown"))
        QCOMPARE(built.unknown, QStringList { refdes });
    else
        QVERIFY(built.unknown.isEmpty());
    QCOMPARE(built.problems.size(), left.isEmpty() || left == QLatin1String("unknown") ? 0 : 1);
    if (!built.problems.isEmpty())
        QVERIFY2(built.problems[0].contains(left), qPrintable(built.problems[0]));
}

void tst_Predict::points_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<bool>("parts");
    QTest::addColumn<QStringList>("want"); // "POINT=predicted|kept|<a part of the error or note>"
    const QStringList good { "R1.1=predicted", "U1.1=predicted", "C1.1=predicted",
        "X1.1=no model for X1", "R9.1=no part joins net N4", "P1=kept" };
    using F = SimulatorDouble::Failure;
    QTest::newRow("every point") << int(F::None) << QStringList {} << true << good;
    QStringList noConvergence = good;
    noConvergence[2] = QStringLiteral("C1.1=did not converge");
    QTest::newRow("no convergence on one net")
        << int(F::NoConvergence) << QStringList { "N2" } << true << noConvergence;
    QStringList cut = good;
    cut[0] = QStringLiteral("R1.1=1 samples, not 100");
    cut[1] = QStringLiteral("U1.1=1 samples, not 100");
    QTest::newRow("a short answer") << int(F::ShortAnswer) << QStringList { "N1" } << true << cut;
    QTest::newRow("no library") << -1 << QStringList {} << true
                                << QStringList { "R1.1=cannot be loaded", "U1.1=cannot be loaded",
                                       "C1.1=cannot be loaded", "X1.1=cannot be loaded",
                                       "R9.1=cannot be loaded", "P1=kept" };
    QTest::newRow("no netlist") << int(F::None) << QStringList {} << false << QStringList {};
}

void tst_Predict::points()
{
    QFETCH(int, failure);
    QFETCH(QStringList, failing);
    QFETCH(bool, parts);
    QFETCH(QStringList, want);
    sig::Signature board;
    board.settings = sig::defaultSettings();
    if (parts)
        board.parts = { { "R1", "1k", ::pads("1:N1 2:GND") }, { "U1", "MCU", ::pads("1:N1 2:GND") },
            { "C1", "1u", ::pads("1:N2 2:GND") }, { "X1", "FOO", ::pads("1:N3 2:GND") },
            { "R9", "abc", ::pads("1:N4 2:GND") } };
    for (const auto &[name, net] : { std::pair { "R1.1", "N1" }, { "U1.1", "N1" }, { "C1.1", "N2" },
             { "X1.1", "N3" }, { "R9.1", "N4" }, { "P1", "N1" } }) {
        board.points.emplace_back();
        board.points.back().name = QString::fromLatin1(name);
        board.points.back().net = QString::fromLatin1(net);
    }
    const sig::IvCurve learned { { 1.0 }, { 2.0 } };
    board.points.back().measurements[0].reference = learned;

    SimulatorDouble fake;
    fake.failure = SimulatorDouble::Failure(std::max(failure, 0));
    fake.failing = QSet<QString>(failing.begin(), failing.end());
    NgspiceSimulator missing(1, "libngspice-missing.so.0");
    Simulator &simulator = failure < 0 ? static_cast<Simulator &>(missing) : fake;
    const sig::Signature before = board;
    const Prediction result = predictBoard(board, Models::builtIn(), simulator, { 2 });
    if (!parts) {
        QVERIFY(result.error.contains(QLatin1String("netlist")));
        QVERIFY(fake.calls.empty());
        return;
    }
    QCOMPARE(result.points.size(), std::size_t(want.size()));
    QCOMPARE(result.unknown, QStringList { "X1" });
    if (failure >= 0)
        QCOMPARE(fake.calls.size(), std::size_t(4)); // one a net: N1's two points share
    for (int k = 0; k < want.size(); ++k) {
        const PointPrediction &got = result.points[std::size_t(k)];
        const QString point = want[k].section(QLatin1Char('='), 0, 0);
        const QString what = want[k].section(QLatin1Char('='), 1);
        QCOMPARE(got.point, point);
        const sig::Point &p = board.points[std::size_t(board.find(point))];
        if (what == QLatin1String("kept")) {
            QVERIFY(got.kept);
            QCOMPARE(*p.measurements[0].reference, learned);
            QVERIFY(!p.predicted());
            continue;
        }
        const bool predicted
            = what == QLatin1String("predicted") || what.startsWith(QLatin1String("no "));
        QCOMPARE(got.predicted, predicted);
        QCOMPARE(p.predicted(), predicted);
        if (predicted) {
            QCOMPARE(p.predictedBy, QStringLiteral("1"));
            QCOMPARE(p.measurements[0].reference->volts.size(), std::size_t(100));
        } else {
            // Left as it was.
            QCOMPARE(p.measurements[0].reference,
                before.points[std::size_t(k)].measurements[0].reference);
        }
        if (what != QLatin1String("predicted"))
            QVERIFY2(got.message.contains(what), qPrintable(got.message));
    }
}

void tst_Predict::signatureKeepsThePrediction()
{
    sig::Signature board;
    board.board = QStringLiteral("B");
    board.settings = sig::defaultSettings();
    board.common = QStringLiteral("AGND");
    board.predictionTolerance = 30;
    board.parts = { { "R1", "4k7", ::pads("1:N1 2:AGND") }, { "TP1", "", ::pads("1:") } };
    board.points.resize(2);
    board.points[0].name = QStringLiteral("R1.1");
    board.points[0].predictedBy = QStringLiteral("7+1");
    board.points[0].measurements[0].reference
        = sig::IvCurve { std::vector<double>(100, 1.0), std::vector<double>(100, 2.0) };
    board.points[1].name = QStringLiteral("R1.2");
    QString error;
    const auto read = sig::parse(sig::serialize(board), &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->common, board.common);
    QCOMPARE(read->commonNet(), QStringLiteral("AGND"));
    QCOMPARE(read->toleranceOf(read->points[0]), 30.0); // predicted
    QCOMPARE(read->toleranceOf(read->points[1]), sig::kDefaultTolerance);
    QCOMPARE(read->points[0].predictedBy, QStringLiteral("7+1"));
    QCOMPARE(read->parts.size(), std::size_t(2));
    QCOMPARE(read->parts[0].value, QStringLiteral("4k7"));
    QCOMPARE(read->parts[0].pads[1].net, QStringLiteral("AGND"));
    QCOMPARE(read->parts[1].pads[0].net, QString());
    // A prediction names its models: an origin without them is refused.
    QJsonObject file = QJsonDocument::fromJson(sig::serialize(board)).object();
    QJsonArray points = file.value(QLatin1String("points")).toArray();
    QJsonObject first = points[0].toObject();
    first.remove(QLatin1String("models"));
    points[0] = first;
    file.insert(QLatin1String("points"), points);
    QVERIFY(!sig::parse(QJsonDocument(file).toJson(), &error));
    QVERIFY2(error.contains(QLatin1String("models")), qPrintable(error));
}

void tst_Predict::likelyFaults_data()
{
    // The board as built: a part's value or pads as they are on the faulty
    // board, and the fault that should rank first.
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("pads");
    QTest::addColumn<QString>("point");
    QTest::addColumn<QString>("first");
    // mA the faulty board's current reads beside what it is, as an
    // instrument's offset or noise would make it.
    QTest::addColumn<double>("offset");
    QTest::newRow("resistor halved") << "R1"
                                     << "470"
                                     << "1:N1 2:GND"
                                     << "R1.1"
                                     << "R1 value x0.5" << 0.0;
    QTest::newRow("resistor open") << "R1"
                                   << "1k"
                                   << "1:X 2:GND"
                                   << "R1.1"
                                   << "R1 open" << 0.0;
    QTest::newRow("capacitor doubled") << "C1"
                                       << "2u"
                                       << "1:N2 2:GND"
                                       << "C1.1"
                                       << "C1 value x2" << 0.0;
    QTest::newRow("diode reversed") << "D1"
                                    << "SD"
                                    << "2:GND 1:N3"
                                    << "D1.2"
                                    << "D1 reversed" << 0.0;
    QTest::newRow("diode shorted") << "D1"
                                   << "0R"
                                   << "1:N3 2:GND"
                                   << "D1.2"
                                   << "D1 short" << 0.0;
    // Without the pin's junction to the supply the supply's load does not
    // matter: its load open explains the curve about as well, by a hair
    // better with the offset, but is further away.
    QTest::newRow("IC pin's junction open") << "U1"
                                            << "IC"
                                            << "2:GND 3:N4"
                                            << "U1.3"
                                            << "U1 junction N4 to VCC open" << 0.05;
}

void tst_Predict::likelyFaults()
{
    QFETCH(QString, part);
    QFETCH(QString, value);
    QFETCH(QString, pads);
    QFETCH(QString, point);
    QFETCH(QString, first);
    QFETCH(double, offset);
    sig::Signature good;
    good.settings = sig::defaultSettings();
    good.parts = { { "R1", "1k", ::pads("1:N1 2:GND") }, { "C1", "1u", ::pads("1:N2 2:GND") },
        { "D1", "SD", ::pads("2:N3 1:GND") }, { "U1", "IC", ::pads("1:VCC 2:GND 3:N4") },
        { "C10", "100n", ::pads("1:VCC 2:GND") }, { "R20", "1k", ::pads("1:VCC 2:LEDA") },
        { "LED1", "LED red", ::pads("2:LEDA 1:GND") } };
    for (const auto &[name, net] :
        { std::pair { "R1.1", "N1" }, { "C1.1", "N2" }, { "D1.2", "N3" }, { "U1.3", "N4" } }) {
        good.points.emplace_back();
        good.points.back().name = QString::fromLatin1(name);
        good.points.back().net = QString::fromLatin1(net);
    }
    // The faulty board's curves, as its probe would read them.
    sig::Signature faulty = good;
    for (sig::Part &p : faulty.parts)
        if (p.refdes == part) {
            p.value = value;
            p.pads = ::pads(pads);
            if (value == QLatin1String("0R"))
                p.refdes = QStringLiteral("R99");
        }
    static NgspiceSimulator simulator;
    predictBoard(faulty, Models::builtIn(), simulator);
    const int k = faulty.find(point);
    sig::IvCurve measured = *faulty.points[std::size_t(k)].measurements[0].reference;
    for (double &i : measured.milliamps)
        i += offset;
    const auto ranked = predict::likelyFaults(good, Models::builtIn(), simulator, k, { measured });
    QCOMPARE(ranked.size(), std::size_t(3));
    QCOMPARE(ranked[0].part + QLatin1Char(' ') + ranked[0].fault, first);
    QVERIFY2(ranked[0].match > 90, qPrintable(faultText(ranked[0])));
    // Kept curves rank as simulated ones, and a board whose part differs
    // (here the faulty one, taken as the good) never gets the other's.
    FaultCache cache;
    const auto ranks = [&](const sig::Signature &board) {
        QStringList out;
        for (const LikelyFault &f :
            predict::likelyFaults(board, Models::builtIn(), simulator, k, { measured }, 3, &cache))
            out << faultText(f);
        return out;
    };
    QStringList simulated;
    for (const LikelyFault &f : ranked)
        simulated << faultText(f);
    QCOMPARE(ranks(good), simulated);
    QCOMPARE(ranks(good), simulated);
    QCOMPARE(cache.counts().hits, std::size_t(1));
    const QStringList other = ranks(faulty);
    QVERIFY(other != simulated);
    QCOMPARE(cache.counts().hits, std::size_t(1));
    // Without the library nothing is ranked, rather than every fault at 0 %.
    NgspiceSimulator missing(1, "libngspice-missing.so.0");
    QVERIFY(predict::likelyFaults(good, Models::builtIn(), missing, k, { measured }).empty());
}

void tst_Predict::settingsChosen()
{
    // A pull-down behind an IC pin the protection diodes clamp: at 5 V its
    // faults move the curve by under 1 %, below the knee they are plain. A
    // point learned from a board keeps its settings.
    sig::Signature board;
    board.settings = sig::defaultSettings();
    board.parts = { { "R1", "1k", ::pads("1:X1 2:IN1") }, { "R11", "47k", ::pads("1:IN1 2:GND") },
        { "U1", "IC", ::pads("1:VCC 2:GND 3:IN1") }, { "C10", "100n", ::pads("1:VCC 2:GND") },
        { "R9", "1k", ::pads("1:N9 2:GND") } };
    for (const auto &[name, net] : { std::pair { "R1.1", "X1" }, { "R9.1", "N9" } }) {
        board.points.emplace_back();
        board.points.back().name = QString::fromLatin1(name);
        board.points.back().net = QString::fromLatin1(net);
    }
    board.points[1].measurements[0].reference = sig::IvCurve { { 0.0 }, { 0.0 } };
    static NgspiceSimulator simulator;
    const sig::Signature before = board;
    const SettingsChoice choice = chooseSettings(board, Models::builtIn(), simulator);
    QVERIFY2(choice.error.isEmpty(), qPrintable(choice.error));
    QCOMPARE(choice.points.size(), std::size_t(2));
    const sig::Point &pin = board.points[0];
    QVERIFY2(choice.points[0].changed, qPrintable(choice.points[0].message));
    QVERIFY(pin.measurements.size() > 1 && !pin.measurements[0].settings);
    QVERIFY(choice.points[0].shown > choice.points[0].shownBefore);
    for (const char *fault : { "R11 open", "R11 value x0.5", "R11 value x2" })
        QVERIFY2(!choice.hidden.contains(QLatin1String(fault)), fault);
    const auto candidates = choiceCandidates(board.settings, false);
    for (std::size_t m = 1; m < pin.measurements.size(); ++m) {
        const measurement_settings &s = *pin.measurements[m].settings;
        QVERIFY(std::any_of(candidates.begin(), candidates.end(), [&](const auto &c) {
            return std::memcmp(&c, &s, sizeof s) == 0;
        }));
    }
    QVERIFY(!choice.points[1].changed);
    QCOMPARE(board.points[1].measurements.size(), std::size_t(1));
    // Chosen again, nothing changes; a board without parts, or without the
    // library, is left as it was with the reason.
    sig::Signature again = board;
    const SettingsChoice second = chooseSettings(again, Models::builtIn(), simulator);
    QVERIFY(!second.points[0].changed);
    QCOMPARE(again.points[0].measurements.size(), pin.measurements.size());
    sig::Signature bare = before;
    bare.parts.clear();
    QVERIFY(!chooseSettings(bare, Models::builtIn(), simulator).error.isEmpty());
    NgspiceSimulator missing(1, "libngspice-missing.so.0");
    sig::Signature unsimulated = before;
    const SettingsChoice none = chooseSettings(unsimulated, Models::builtIn(), missing);
    QVERIFY(!none.points[0].changed && !none.points[0].message.isEmpty());
    QCOMPARE(unsimulated.points[0].measurements.size(), std::size_t(1));
}

void tst_Predict::faultCacheFiles_data()
{
    // What becomes of the one file a net's faults are kept in before the
    // next process reads it; each is ignored and the faults simulated again.
    QTest::addColumn<QString>("harm");
    QTest::addColumn<bool>("rewritten"); // the next one after reads it
    QTest::newRow("empty") << "empty" << true;
    QTest::newRow("cut short") << "cut" << true;
    QTest::newRow("another format") << "format" << true;
    QTest::newRow("a sample not a number") << "nan" << true;
    QTest::newRow("a folder of its name") << "folder" << false;
}

void tst_Predict::faultCacheFiles()
{
    QFETCH(QString, harm);
    QFETCH(bool, rewritten);
    sig::Signature board;
    board.settings = sig::defaultSettings();
    board.parts = { { "R1", "1k", ::pads("1:N1 2:GND") }, { "D1", "SD", ::pads("2:N1 1:GND") } };
    board.points.emplace_back();
    board.points.back().name = QStringLiteral("R1.1");
    board.points.back().net = QStringLiteral("N1");
    sig::Signature faulty = board;
    faulty.parts[0].value = QStringLiteral("2k");
    static NgspiceSimulator simulator;
    predictBoard(faulty, Models::builtIn(), simulator);
    const std::vector<sig::IvCurve> measured { *faulty.points[0].measurements[0].reference };
    QTemporaryDir dir;
    const auto ranks = [&](FaultCache &cache) {
        QStringList out;
        for (const LikelyFault &f :
            predict::likelyFaults(board, Models::builtIn(), simulator, 0, measured, 3, &cache))
            out << faultText(f);
        return out;
    };
    FaultCache first(dir.path());
    const QStringList simulated = ranks(first);
    QCOMPARE(simulated.value(0), QStringLiteral("R1 value x2: matches 100 %"));
    const QStringList files = QDir(dir.path()).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString path = dir.filePath(files.front());
    {
        FaultCache next(dir.path());
        QCOMPARE(ranks(next), simulated);
        QCOMPARE(next.counts().fromFiles, std::size_t(1));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (harm == QLatin1String("cut"))
        bytes.chop(bytes.size() / 2);
    else if (harm == QLatin1String("format"))
        bytes[7] = char(bytes[7] + 1);
    else if (harm == QLatin1String("nan"))
        bytes.replace(56, 8, QByteArray::fromHex("7ff8000000000000"));
    else
        bytes.clear();
    file.resize(0);
    file.write(bytes);
    file.close();
    if (harm == QLatin1String("folder"))
        QVERIFY(QFile::remove(path) && QDir().mkdir(path));
    FaultCache harmed(dir.path());
    QCOMPARE(ranks(harmed), simulated);
    QCOMPARE(harmed.counts().refused, std::size_t(1));
    FaultCache after(dir.path());
    QCOMPARE(ranks(after), simulated);
    QCOMPARE(after.counts().fromFiles, std::size_t(rewritten));
}

void tst_Predict::virtualBoardPasses_data()
{
    // A part per row: its designator, its BOM value, the pins its pads are
    // (the first on its own net, the second on GND), and the virtual load
    // its net shows.
    QTest::addColumn<QStringList>("parts"); // "R1 1k resistor:1000"
    // The first part faulted: the load its pin shows then, and what that is.
    QTest::addColumn<QString>("faulty");
    QTest::addColumn<QString>("fault");
    QTest::newRow("resistors") << QStringList { "R1 100 resistor:100", "R2 1k resistor:1000",
        "R3 10k resistor:10000", "R4 47k resistor:47000" }
                               << "resistor:200"
                               << "value x2";
    QTest::newRow("capacitors") << QStringList { "C1 100n capacitor:1e-7", "C2 1u capacitor:1e-6",
        "C3 4u7 capacitor:4.7e-6" }
                                << "capacitor:5e-8"
                                << "value x0.5";
    QTest::newRow("diodes, open and short")
        << QStringList { "D1 SD diode", "D2 SD diode", "TP1 - open", "R5 0R short" } << "open"
        << "open";
}

void tst_Predict::virtualBoardPasses()
{
    QFETCH(QStringList, parts);
    QFETCH(QString, faulty);
    QFETCH(QString, fault);
    QTemporaryDir dir;
    QByteArray netlist = "C  predicted board\nP  JOB   board\nP  UNITS CUST 1\n";
    QByteArray bom = "Designator,Value\n";
    QStringList pins;
    int k = 0;
    for (const QString &part : parts) {
        const QStringList f = part.split(QLatin1Char(' '));
        const QString net = QStringLiteral("N%1").arg(k);
        if (f[0].startsWith(QLatin1String("TP"))) {
            netlist += record(net, f[0], QString(), k++);
            pins << f[2];
            continue;
        }
        // Pad 2 of a diode is its anode: on the probed net, forward for +V.
        netlist += record(net, f[0], QStringLiteral("2"), k++);
        netlist += record(QStringLiteral("GND"), f[0], QStringLiteral("1"), k++);
        pins << f[2] << QStringLiteral("short");
        bom += f[0].toLatin1() + ',' + f[1].toLatin1() + '\n';
    }
    netlist += "999\n";
    for (const auto &[name, bytes] : { std::pair { "b.d356", netlist }, { "bom.csv", bom } }) {
        QFile f(dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray out;
    QCOMPARE(
        zemctl({ "board", "b.json", "--import", "b.d356", "--bom", "bom.csv" }, dir.path(), &out),
        0);
    QVERIFY2(zemctl({ "learn", "b.json", "--predict" }, dir.path(), &out) == 0, out.constData());
    QVERIFY2(out.contains("\"predicted\":" + QByteArray::number(pins.size())), out.constData());
    // Measured with the instrument's noise, as a real board would be.
    const QString url = QStringLiteral("virtual://open?pins=") + pins.join(QLatin1Char(','));
    const int code = zemctl(
        { "-u", url, "test", "b.json", "--no-history", "--report", "r.html" }, dir.path(), &out);
    const int passed = int(out.count("\"verdict\":\"pass\"")) - 1; // the board's line too
    QVERIFY2(passed >= std::ceil(0.95 * pins.size()), out.constData());
    QCOMPARE(code, 0);
    QCOMPARE(int(out.count("\"origin\":\"predicted\"")), pins.size());
    // The faulted part's point fails, its fault among the three likeliest.
    QStringList faultyPins = pins;
    faultyPins[0] = faulty;
    QCOMPARE(
        zemctl({ "-u", QStringLiteral("virtual://open?pins=") + faultyPins.join(QLatin1Char(',')),
                   "test", "b.json", "--no-history", "--report", "f.html" },
            dir.path(), &out),
        5);
    const QByteArray firstLine = out.left(out.indexOf('\n'));
    const QJsonObject failed = QJsonDocument::fromJson(firstLine).object();
    QCOMPARE(failed.value(QLatin1String("verdict")).toString(), QStringLiteral("different"));
    QStringList top;
    for (const QJsonValue &f : failed.value(QLatin1String("likely_faults")).toArray())
        top << f.toObject().value(QLatin1String("fault")).toString();
    QVERIFY2(top.contains(fault), firstLine.constData());
    QFile faultReport(dir.filePath(QStringLiteral("f.html")));
    QVERIFY(faultReport.open(QIODevice::ReadOnly));
    QVERIFY(faultReport.readAll().contains("likely: "));
    QFile report(dir.filePath(QStringLiteral("r.html")));
    QVERIFY(report.open(QIODevice::ReadOnly));
    QVERIFY(report.readAll().contains("reference predicted (models 1)"));

    // A board learned at one point replaces that point's prediction only.
    const auto points = [&dir] {
        QFile f(dir.filePath(QStringLiteral("b.json")));
        return f.open(QIODevice::ReadOnly)
            ? QJsonDocument::fromJson(f.readAll()).object().value(QLatin1String("points")).toArray()
            : QJsonArray();
    };
    const QString first = points()[0].toObject().value(QLatin1String("name")).toString();
    QCOMPARE(zemctl({ "-u", url, "learn", "b.json", "--points", first }, dir.path(), &out), 0);
    const QJsonArray after = points();
    QVERIFY(!after[0].toObject().contains(QLatin1String("origin")));
    for (qsizetype k = 1; k < after.size(); ++k)
        QCOMPARE(after[k].toObject().value(QLatin1String("origin")).toString(),
            QStringLiteral("predicted"));
}

QTEST_MAIN(tst_Predict)
#include "tst_predict.moc"
