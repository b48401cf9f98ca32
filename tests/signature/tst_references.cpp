// References from many boards, causes of differences, settings chosen
// automatically and groups of alike points, on the virtual instrument.
#include "autosettings.h"
#include "cause.h"
#include "compare.h"
#include "score.h"
#include "connection.h"
#include "netcheck.h"
#include "sequence.h"
#include "signature.h"
#include "symmetry.h"

#include "zem.h"

#include <QtTest>

using namespace sig;

namespace {

const QByteArray kPins = "resistor:1000,diode,capacitor:1e-6,resistor_diode:2200,resistor:4700";

// `count` curves measured one after the other, as the programs measure: with
// pins=, each on the next pin.
std::vector<IvCurve> measure(
    const QByteArray &url, int count, const measurement_settings &s = defaultSettings())
{
    std::vector<IvCurve> curves;
    zem::Connection device;
    device.open(url.toStdString());
    measurement_settings settings = s;
    for (int k = 0; device.isOpen() && k < count
         && device.call("set_measurement_settings", &settings, nullptr) == 0;
         ++k) {
        MeasurementSequence run(device);
        runToEnd(run);
        if (run.outcome() != MeasurementSequence::Outcome::Complete)
            break;
        curves.push_back(ivCurveOf(run.curve()));
    }
    return curves;
}

// Board n of a lot, its noise and unstable pins repeatable.
QByteArray board(int n, const QByteArray &pins, const QByteArray &options)
{
    const QByteArray number = QByteArray::number(n);
    return "virtual://open?board=" + number + "&seed=" + number + options + "&pins=" + pins;
}

// Per pin, one curve from each of the boards first to last, `rounds` times round.
std::vector<std::vector<IvCurve>> byPin(
    const QByteArray &pins, int first, int last, const QByteArray &options, int rounds = 1)
{
    const int count = int(pins.count(',')) + 1;
    std::vector<std::vector<IvCurve>> out(static_cast<std::size_t>(count));
    for (int n = first; n <= last; ++n) {
        const std::vector<IvCurve> curves = measure(board(n, pins, options), count * rounds);
        for (std::size_t k = 0; k < curves.size(); ++k)
            out[k % out.size()].push_back(curves[k]);
    }
    return out;
}

} // namespace

class tst_References : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { references = byPin(kPins, 1, 5, "&spread=2"); }
    void boards_data();
    void boards();
    void causes_data();
    void causes();
    void autoSettings_data();
    void autoSettings();
    void unstablePin();
    void symmetryFlagsTheOddOne();
    void netCheck_data();
    void netCheck();

private:
    std::vector<std::vector<IvCurve>> references; // per pin, boards 1 to 5
};

void tst_References::boards_data()
{
    QTest::addColumn<QByteArray>("pins");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("failing"); // the pin that must fail, -1 for none
    QTest::newRow("good boards 6-20") << kPins << 20 << -1;
    QTest::newRow("R1 1.2 times") << QByteArray(kPins).replace("resistor:1000", "resistor:1200")
                                  << 8 << 0;
    QTest::newRow("D2 a resistor")
        << QByteArray(kPins).replace(",diode,", ",resistor:1000,") << 8 << 1;
}

void tst_References::boards()
{
    QFETCH(QByteArray, pins);
    QFETCH(int, last);
    QFETCH(int, failing);
    const measurement_settings s = defaultSettings();
    const auto tests = byPin(pins, 6, last, "&spread=2");
    QCOMPARE(tests.size(), references.size());
    for (std::size_t p = 0; p < tests.size(); ++p) {
        QCOMPARE(tests[p].size(), std::size_t(last - 5));
        for (const IvCurve &t : tests[p]) {
            const double got = bandScore(references[p], t, s);
            QVERIFY2((got <= kDefaultTolerance) == (int(p) != failing),
                qPrintable(QStringLiteral("pin %1 scores %2").arg(p + 1).arg(got)));
            QVERIFY(bandScore({ references[p][0] }, t, s) == score(references[p][0], t, s));
            for (const IvCurve &r : references[p])
                QVERIFY(got <= score(r, t, s)); // every reference lies within the band
        }
    }
}

void tst_References::causes_data()
{
    QTest::addColumn<QByteArray>("reference");
    QTest::addColumn<QByteArray>("test");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("value");
    const QByteArray r1k = "virtual://resistor?ohms=1000", diode = "virtual://diode";
    QTest::newRow("1k, 1.2k") << r1k << QByteArray("virtual://resistor?ohms=1200")
                              << "resistance_higher" << 20.0;
    QTest::newRow("1k, 820") << r1k << QByteArray("virtual://resistor?ohms=820")
                             << "resistance_lower" << -18.0;
    QTest::newRow("diode, open") << diode << QByteArray("virtual://open") << "open" << 0.0;
    QTest::newRow("diode, short") << diode << QByteArray("virtual://short") << "short" << 0.0;
    QTest::newRow("diode, R||D") << diode << QByteArray("virtual://resistor_diode?ohms=2200")
                                 << "leakage" << 1 / 2200.0;
    QTest::newRow("1u, 1.5u") << QByteArray("virtual://capacitor?farads=1e-6")
                              << QByteArray("virtual://capacitor?farads=1.5e-6")
                              << "capacitance_higher" << 50.0;
}

void tst_References::causes()
{
    QFETCH(QByteArray, reference);
    QFETCH(QByteArray, test);
    QFETCH(QString, kind);
    QFETCH(double, value);
    const Cause c = cause(measure(reference, 1).at(0), measure(test, 1).at(0), defaultSettings());
    QCOMPARE(QString::fromLatin1(c.kindName()), kind);
    QVERIFY2(std::fabs(c.value - value) <= 0.1 * std::fabs(value), qPrintable(c.text()));
}

void tst_References::autoSettings_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<uint>("mode");
    QTest::newRow("47k") << QByteArray("virtual://resistor?ohms=47000")
                         << uint(CURRENT_SENSE_MODE_I_LOW);
    QTest::newRow("1k") << QByteArray("virtual://resistor?ohms=1000")
                        << uint(CURRENT_SENSE_MODE_I_MID);
    QTest::newRow("47R") << QByteArray("virtual://resistor?ohms=47")
                         << uint(CURRENT_SENSE_MODE_I_HIGH);
}

void tst_References::autoSettings()
{
    QFETCH(QByteArray, url);
    QFETCH(uint, mode);
    std::vector<Candidate> candidates;
    for (const measurement_settings &s : candidateSettings(defaultSettings()))
        candidates.push_back({ s, measure(url, 1, s).at(0) });
    const auto best = pickSettings(candidates);
    QVERIFY(best);
    QCOMPARE(candidates[*best].settings.CurrentSensorMode, mode);
}

// Pin 2 floats: its own captures disagree, and so do the good boards' when
// learning; its stable neighbours do neither.
void tst_References::unstablePin()
{
    const QByteArray pins = "resistor:1000,resistor:1000,diode";
    const measurement_settings s = defaultSettings();
    const auto captures = byPin(pins, 1, 1, "&unstable=2", 5);
    const auto learned = byPin(pins, 1, 5, "&spread=2&unstable=2");
    std::vector<double> disagreements;
    for (std::size_t p = 0; p < 3; ++p) {
        QCOMPARE(isUnstable(captures[p], s, kDefaultTolerance), p == 1);
        disagreements.push_back(disagreement(learned[p], s));
    }
    QCOMPARE(disagreeingPoints(disagreements, kDefaultTolerance), std::vector<std::size_t> { 1 });
}

void tst_References::symmetryFlagsTheOddOne()
{
    const auto group = symmetry(
        measure("virtual://open?pins=resistor:1000,resistor:1000,resistor:1000,resistor:1500,"
                "resistor:1000",
            5),
        defaultSettings(), kDefaultTolerance);
    QCOMPARE(group.size(), 5u);
    for (std::size_t p = 0; p < group.size(); ++p)
        QCOMPARE(group[p].outlier, p == 3);
    QCOMPARE(group[3].cause.kindName(), "resistance_higher");
}

void tst_References::netCheck_data()
{
    QTest::addColumn<QByteArray>("pins"); // the pads of one net
    QTest::addColumn<std::vector<int>>("flagged");
    QTest::newRow("three, one open") << QByteArray("resistor:1000,open,resistor:1000")
                                     << std::vector<int> { 1 };
    QTest::newRow("two alike") << QByteArray("diode,diode") << std::vector<int> {};
    QTest::newRow("two unlike: both") << QByteArray("resistor:1000,resistor:4700")
                                      << std::vector<int> { 0, 1 };
    QTest::newRow("halves: all") << QByteArray("resistor:1000,open,resistor:1000,open")
                                 << std::vector<int> { 0, 1, 2, 3 };
    QTest::newRow("five, two off") << QByteArray("diode,open,diode,diode,resistor:1000")
                                   << std::vector<int> { 1, 4 };
}

void tst_References::netCheck()
{
    QFETCH(QByteArray, pins);
    QFETCH(std::vector<int>, flagged);
    const std::vector<IvCurve> curves = measure("virtual://open?noise=0&pins=" + pins,
        int(pins.count(',')) + 1);
    Signature board;
    board.settings = defaultSettings();
    std::vector<const IvCurve *> measured;
    for (const IvCurve &c : curves) {
        board.points.emplace_back();
        board.points.back().net = QStringLiteral("N");
        measured.push_back(&c);
    }
    const std::vector<NetAgreement> nets = checkNets(board, measured);
    QCOMPARE(nets.size(), 1u);
    QCOMPARE(nets[0].disagreeing, flagged);
}

QTEST_GUILESS_MAIN(tst_References)
#include "tst_references.moc"
