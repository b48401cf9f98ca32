// Comparison, reading, files and reports of signatures, measured on the
// virtual instrument through the library.
#include "reading.h"
#include "registration.h"
#include "score.h"
#include "signature.h"

#include "zem.h"

#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

using namespace sig;

namespace {

// One measurement with the given settings on an open device.
IvCurve measure(std::int32_t h, const measurement_settings &s)
{
    IvCurve c;
    if (zem_set_measurement_settings(h, &s) != 0 || zem_start_measurement(h) != 0)
        return c;
    check_measurement_status_response st {};
    for (int i = 0; i < 5000 && st.ReadyStatus != MEASUREMENT_COMPLETE; ++i) {
        if (zem_check_measurement_status(h, &st) != 0)
            return c;
        if (st.ReadyStatus != MEASUREMENT_COMPLETE)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::uint16_t f = 0; f * FRAME_SIZE < s.NumberPoints; ++f) {
        get_measurement_request rq { f };
        get_measurement_response rs {};
        if (zem_get_measurement(h, &rq, &rs) != 0)
            return IvCurve();
        for (std::uint32_t k = 0; k < FRAME_SIZE && f * FRAME_SIZE + k < s.NumberPoints; ++k) {
            c.volts.push_back(rs.Voltage[k]);
            c.milliamps.push_back(rs.Current[k]);
        }
    }
    return c;
}

// A picture as its file's bytes.
QByteArray pictureData(const char *format, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data;
}

IvCurve measureUrl(const QByteArray &url, const measurement_settings &s = defaultSettings())
{
    std::int32_t h = zem_open_device(url.constData());
    const IvCurve c = measure(h, s);
    zem_close_device(&h);
    return c;
}

} // namespace

class tst_Signature : public QObject
{
    Q_OBJECT

private slots:
    void score_data();
    void score();
    void reading_data();
    void reading();
    void fileRoundTrip();
    void pictureAndPlaces_data();
    void pictureAndPlaces();
    void versionWritten_data();
    void versionWritten();
    void malformedFile_data();
    void malformedFile();
    void whatReadingLetsGo();
    void registration_data();
    void registration();
    void learnThenTest();
    void lotOfBoards_data();
    void lotOfBoards();
    void testRunsAreKept();
};

// Runs zemctl with args; its exit code (-1 when it did not end), its
// standard output in *out.
int zemctl(const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(ZEMCTL), args);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitCode();
}

void tst_Signature::score_data()
{
    QTest::addColumn<QByteArray>("reference");
    QTest::addColumn<QByteArray>("test");
    QTest::addColumn<double>("atLeast");
    QTest::addColumn<double>("atMost");
    const QByteArray r1k = "virtual://resistor?ohms=1000";
    QTest::newRow("1k twice") << r1k << r1k << 0.0 << 2.0;
    QTest::newRow("diode twice") << QByteArray("virtual://diode") << QByteArray("virtual://diode")
                                 << 0.0 << 2.0;
    QTest::newRow("capacitor twice")
        << QByteArray("virtual://capacitor") << QByteArray("virtual://capacitor") << 0.0 << 2.0;
    QTest::newRow("open twice") << QByteArray("virtual://open") << QByteArray("virtual://open")
                                << 0.0 << 2.0;
    QTest::newRow("short twice") << QByteArray("virtual://short") << QByteArray("virtual://short")
                                 << 0.0 << 2.0;
    QTest::newRow("1k, 1.02k") << r1k << QByteArray("virtual://resistor?ohms=1020") << 0.0 << 3.0;
    QTest::newRow("1k, 1.2k") << r1k << QByteArray("virtual://resistor?ohms=1200") << 10.0 << 100.0;
    QTest::newRow("diode, open") << QByteArray("virtual://diode") << QByteArray("virtual://open")
                                 << 50.0 << 100.0;
    QTest::newRow("10x smaller") << QByteArray("virtual://resistor?ohms=10000&noise=0")
                                 << QByteArray("virtual://resistor?ohms=12000&noise=0") << 10.0
                                 << 100.0;
}

void tst_Signature::score()
{
    QFETCH(QByteArray, reference);
    QFETCH(QByteArray, test);
    QFETCH(double, atLeast);
    QFETCH(double, atMost);
    const IvCurve a = measureUrl(reference), b = measureUrl(test);
    QCOMPARE(a.volts.size(), 100u);
    const double s = sig::score(a, b, defaultSettings());
    QVERIFY2(s >= atLeast && s <= atMost, qPrintable(QString::number(s)));
    QCOMPARE(sig::score(a, a, defaultSettings()), 0.0);
}

void tst_Signature::reading_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("value"); // ohms, farads or a forward voltage
    QTest::newRow("open") << QByteArray("virtual://open") << "open" << 0.0;
    QTest::newRow("short") << QByteArray("virtual://short") << "short" << 0.0;
    QTest::newRow("1k") << QByteArray("virtual://resistor") << "resistor" << 1000.0;
    QTest::newRow("47k") << QByteArray("virtual://resistor?ohms=47000") << "resistor" << 47000.0;
    QTest::newRow("100R") << QByteArray("virtual://resistor?ohms=100") << "resistor" << 100.0;
    QTest::newRow("1uF") << QByteArray("virtual://capacitor") << "capacitor" << 1e-6;
    QTest::newRow("220nF") << QByteArray("virtual://capacitor?farads=220e-9") << "capacitor"
                           << 220e-9;
    QTest::newRow("diode") << QByteArray("virtual://diode") << "diode" << 0.55;
    QTest::newRow("R||D") << QByteArray("virtual://resistor_diode?ohms=2200") << "resistor_diode"
                          << 2200.0;
}

void tst_Signature::reading()
{
    QFETCH(QByteArray, url);
    QFETCH(QString, kind);
    QFETCH(double, value);
    const Reading r = read(measureUrl(url), defaultSettings());
    QCOMPARE(QString::fromLatin1(r.kindName()), kind);
    QVERIFY(!r.text().isEmpty());
    const double got = kind == "capacitor" ? r.farads
        : kind == "diode"                  ? r.forwardVolts
        : kind.startsWith("resistor")      ? r.ohms
                                           : 0.0;
    QVERIFY2(std::fabs(got - value) <= 0.05 * std::fabs(value), qPrintable(r.text()));
}

void tst_Signature::fileRoundTrip()
{
    Signature s;
    s.board = QStringLiteral("Ctrl board «rev B»");
    s.settings = defaultSettings();
    s.points.resize(2);
    s.points[0].name = QStringLiteral("R1");
    s.points[0].tolerance = 15;
    s.points[0].measurements[0].reference = measureUrl("virtual://resistor");
    s.points[1].name = QStringLiteral("U1.3");
    measurement_settings low = defaultSettings();
    low.CurrentSensorMode = CURRENT_SENSE_MODE_I_LOW;
    low.NumberPoints = 50;
    s.points[1].measurements.push_back({ low, measureUrl("virtual://diode", low), {} });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("board.json"));
    QString error;
    QVERIFY(save(s, path, &error));
    const auto back = load(path, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(serialize(*back), serialize(s));
    QCOMPARE(back->points[1].measurements[1].reference->volts.size(), 50u);
    QVERIFY(!back->points[1].learned());
    QCOMPARE(back->toleranceOf(back->points[1]), kDefaultTolerance);
}

void tst_Signature::pictureAndPlaces_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("type");
    QTest::newRow("png") << QByteArray("PNG") << QByteArray("image/png");
    QTest::newRow("jpeg") << QByteArray("JPEG") << QByteArray("image/jpeg");
}

void tst_Signature::pictureAndPlaces()
{
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, type);
    // A file written before pictures and places: read and written back byte for byte.
    const QByteArray old
        = "{\n \"format\": \"zem-signature\",\n \"version\": 1,\n \"board\": \"A\",\n"
          " \"tolerance\": 10.0,\n \"settings\": {\n  \"SamplingRate\": 10000.0,\n"
          "  \"ProbeSignalFrequency\": 100.0,\n  \"NumberPoints\": 100,\n"
          "  \"NumberChargePoints\": 0,\n  \"MaxVoltage\": 5.0,\n"
          "  \"CurrentSensorMode\": 2,\n  \"OutputMode\": 0\n },\n"
          " \"points\": [\n  {\n   \"name\": \"R1\"\n  }\n ]\n}\n";
    QString error;
    auto board = parse(old, &error);
    QVERIFY2(board, qPrintable(error));
    QVERIFY(!board->image && !board->points[0].at);
    QCOMPARE(serialize(*board), old);

    const QByteArray data = pictureData(format, 640, 480);
    board->image = pictureFromData(data, &error);
    QVERIFY2(board->image, qPrintable(error));
    QCOMPARE(board->image->type, type);
    QCOMPARE(board->image->size, QSize(640, 480));
    board->points[0].at = QPointF(12.5, 470);
    board->points.emplace_back();
    board->points.back().name = QStringLiteral("U1.1");
    board->points.back().component = QStringLiteral("U1");
    board->points.back().mm = QPointF(40.5, -2);
    board->points.back().side = Side::Bottom;
    board->points.back().expect = Expected { QStringLiteral("ohms"), 4700 };
    board->outline = { { 0, 0 }, { 100, 0 }, { 100, 80.5 } };
    board->fiducials
        = { { "F1", { 5, 5 }, QPointF(10, 470), QPointF(25.5, 24) }, { "F2", { 95.25, 5 }, {}, {} } };
    const QByteArray text = serialize(*board);
    QVERIFY(text.contains("\"type\": \"" + type + "\""));
    QVERIFY(text.contains("\"at\": [\n    12.5,\n    470.0\n   ]"));
    const auto back = parse(text, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(back->image->data, data);
    QCOMPARE(back->image->size, QSize(640, 480));
    QCOMPARE(*back->points[0].at, QPointF(12.5, 470));
    QVERIFY(!back->points[1].at);
    QCOMPARE(back->points[1].component, QStringLiteral("U1"));
    QVERIFY(!back->points[0].mm && !back->points[0].side);
    QCOMPARE(*back->points[1].mm, QPointF(40.5, -2));
    QVERIFY(back->points[1].side == Side::Bottom);
    QVERIFY(back->points[1].expect == board->points.back().expect && !back->points[0].expect);
    QVERIFY(back->outline == board->outline);
    QCOMPARE(back->fiducials.size(), 2u);
    QCOMPARE(*back->fiducials[0].px, QPointF(10, 470));
    QVERIFY(back->fiducials[1].name == "F2" && !back->fiducials[1].px);
    QCOMPARE(serialize(*back), text);
    QVERIFY(text.contains("\"version\": 1,"));

    // A picture whose bytes are not what its type says is refused.
    QByteArray wrong = text;
    wrong.replace("\"" + type + "\"", type == "image/png" ? "\"image/jpeg\"" : "\"image/png\"");
    QVERIFY(!parse(wrong, &error));
    QVERIFY2(error.startsWith(QStringLiteral("image.type:")), qPrintable(error));
}

// A file is written as the lowest version that holds it, and read back whole.
void tst_Signature::versionWritten_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("check");
    QTest::addColumn<QString>("variant");
    QTest::addColumn<int>("version");
    QTest::newRow("plain") << QString() << int(Check::Test) << QString() << 1;
    QTest::newRow("a group") << QStringLiteral("D") << int(Check::Test) << QString() << 2;
    QTest::newRow("for information") << QString() << int(Check::Info) << QString() << 3;
    QTest::newRow("skipped") << QStringLiteral("D") << int(Check::Skip) << QString() << 3;
    QTest::newRow("a variant") << QString() << int(Check::Test) << QStringLiteral("maker B") << 3;
}

void tst_Signature::versionWritten()
{
    QFETCH(QString, group);
    QFETCH(int, check);
    QFETCH(QString, variant);
    QFETCH(int, version);
    Signature s;
    s.settings = defaultSettings();
    s.points.resize(1);
    Point &p = s.points[0];
    p.name = QStringLiteral("U3.1");
    p.group = group;
    p.check = Check(check);
    p.measurements[0].reference = measureUrl("virtual://diode");
    if (!variant.isEmpty())
        p.variants.push_back({ variant, { Measurement { {}, measureUrl("virtual://resistor"), {} } } });
    const QByteArray text = serialize(s);
    QVERIFY2(text.contains(QStringLiteral("\"version\": %1").arg(version).toUtf8()), text);
    QString error;
    const auto back = parse(text, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(serialize(*back), text);
    QCOMPARE(int(back->points[0].check), check);
    QCOMPARE(back->points[0].findVariant(variant), variant.isEmpty() ? -1 : 0);
}

void tst_Signature::malformedFile_data()
{
    QTest::addColumn<QByteArray>("points");
    QTest::addColumn<QString>("error");
    QTest::newRow("short reference")
        << QByteArray(R"([{"name": "R1"}, {"name": "C4", "measurements":
              [{"reference": {"V": [1, 2], "mA": [1, 2]}}]}])")
        << QStringLiteral("point \"C4\".measurements[0].reference.V: expected a list of 100");
    QTest::newRow("bad tolerance") << QByteArray(R"([{"name": "R1", "tolerance": "ten"}])")
                                   << QStringLiteral("point \"R1\".tolerance: expected a number");
    QTest::newRow("twice the name") << QByteArray(R"([{"name": "R1"}, {"name": "R1"}])")
                                    << QStringLiteral("points[1].name: a second point");
    QTest::newRow("NUL in the name") << QByteArray(R"([{"name": "R1\u0000x"}])")
                                     << QStringLiteral("points[0].name: \"R1?x\" has a control character (U+0000)");
    QTest::newRow("place of one number") << QByteArray(R"([{"name": "R1", "at": [3]}])")
                                         << QStringLiteral("point \"R1\".at: expected [x, y]");
    QTest::newRow("place of a text") << QByteArray(R"([{"name": "R1", "at": ["3", 4]}])")
                                     << QStringLiteral("point \"R1\".at[0]: expected a number");
    QTest::newRow("list for a curve")
        << QByteArray(R"([{"name": "R1", "measurements": [{"reference": [{"V": []}]}]}])")
        << QStringLiteral("point \"R1\".measurements[0].reference: expected an object");
    QTest::newRow("side of another word") << QByteArray(R"([{"name": "R1", "side": "left"}])")
                                          << QStringLiteral("point \"R1\".side: expected \"top\"");
    QTest::newRow("mm of a text") << QByteArray(R"([{"name": "R1", "mm": [1, "2"]}])")
                                  << QStringLiteral("point \"R1\".mm[1]: expected a number");
    QTest::newRow("four fiducials")
        << QByteArray(R"([], "fiducials": [{"name": "A", "mm": [0, 0]}, {}, {}, {}])")
        << QStringLiteral("fiducials: expected a list of at most 3 fiducials");
    QTest::newRow("fiducial without mm") << QByteArray(R"([], "fiducials": [{"name": "A"}])")
                                         << QStringLiteral("fiducial \"A\": missing field \"mm\"");
    QTest::newRow("outline of two corners") << QByteArray(R"([], "outline": [[0, 0], [1, 1]])")
                                            << QStringLiteral("outline: expected a list of at least 3");
    QTest::newRow("outline corner of a text")
        << QByteArray(R"([], "outline": [[0, 0], [1, 1], [1, "x"]])")
        << QStringLiteral("outline[2][1]: expected a number");
    QTest::newRow("expect of volts") << QByteArray(R"([{"name": "R1", "expect": {"volts": 5}}])")
                                     << QStringLiteral("point \"R1\".expect: expected one of");
    QTest::newRow("expect below 0") << QByteArray(R"([{"name": "R1", "expect": {"ohms": -1}}])")
                                    << QStringLiteral("point \"R1\".expect.ohms: expected a number");
    QTest::newRow("list for a number")
        << QByteArray(R"([{"name": "R1", "tolerance": [[5]]}])")
        << QStringLiteral("point \"R1\".tolerance: expected a number");
    QTest::newRow("check of another word") << QByteArray(R"([{"name": "R1", "check": "maybe"}])")
                                           << QStringLiteral("point \"R1\".check: expected \"test\"");
    // A learned point, with its variants after it.
    const QByteArray zeros = "[" + QByteArray("0,").repeated(99) + "0]";
    const QByteArray curve = R"({"V": )" + zeros + R"(, "mA": )" + zeros + "}";
    const auto learned = [&](const QByteArray &variants) {
        return R"([{"name": "U3", "measurements": [{"reference": )" + curve
            + R"(}], "variants": )" + variants + "}]";
    };
    const QByteArray oneVariant = R"({"name": "B", "measurements": [{"reference": )" + curve + "}]}";
    QTest::newRow("variant of an unlearned point")
        << QByteArray(R"([{"name": "U3", "variants": [)" + oneVariant + "]}]")
        << QStringLiteral("point \"U3\".variants: the point needs references of its own");
    QTest::newRow("variant without a name")
        << learned(R"([{"measurements": []}])")
        << QStringLiteral("point \"U3\".variants[0]: missing field \"name\"");
    QTest::newRow("variant named twice") << learned("[" + oneVariant + "," + oneVariant + "]")
                                         << QStringLiteral("variants[1].name: a second variant named \"B\"");
    QTest::newRow("variant of two measurements")
        << learned(R"([{"name": "B", "measurements": [{}, {}]}])")
        << QStringLiteral("variants \"B\".measurements: expected a list of 1 measurements");
    QTest::newRow("variant with settings")
        << learned(R"([{"name": "B", "measurements": [{"settings": {}}]}])")
        << QStringLiteral("variants \"B\".measurements[0].settings: a variant is measured with");
    QTest::newRow("variant without a curve")
        << learned(R"([{"name": "B", "measurements": [{}]}])")
        << QStringLiteral("variants \"B\".measurements[0].reference: missing the variant's curve");
    QTest::newRow("variant's short curve")
        << learned(R"([{"name": "B", "measurements": [{"reference": {"V": [1], "mA": [1]}}]}])")
        << QStringLiteral("variants \"B\".measurements[0].reference.V: expected a list of 100");
}

void tst_Signature::malformedFile()
{
    QFETCH(QByteArray, points);
    QFETCH(QString, error);
    Signature s;
    s.settings = defaultSettings();
    QByteArray text = serialize(s);
    text.replace("\"points\": []", "\"points\": " + points);
    QString why;
    QVERIFY(!parse(text, &why));
    QVERIFY2(why.contains(error), qPrintable(why));
}

// Unknown keys are skipped; a place that is no number, or a picture too large
// to show, is said and the rest of the file read.
void tst_Signature::whatReadingLetsGo()
{
    Signature s;
    s.settings = defaultSettings();
    s.image = pictureFromData(pictureData("PNG", 8, 8), nullptr);
    QByteArray text = serialize(s);
    text.replace("\"points\": []",
        R"("points": [{"name": "R1", "at": [null, 5.0], "x": {"y": [1, {}]}},
            {"name": "R2", "at": [2, null], "measurements": [{"z": [1], "reference": null}]},
            {"name": "R3", "at": [3, 4], "mm": [1, null]}], "extra": [[1, 2], {"a": null}],
            "fiducials": [{"name": "F1", "mm": [null, 1]}, {"name": "F2", "mm": [1, 2], "px": [null, 2]}])");
    // A header that says 10000 x 10000 pixels.
    const QByteArray huge("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0'\x10\0\0'\x10\x08\x02\0\0\0", 29);
    text.replace(s.image->data.toBase64(), huge.toBase64());
    QString error;
    const auto back = parse(text, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(back->points.size(), 3u);
    QVERIFY(!back->points[0].at && !back->points[1].at);
    QCOMPARE(*back->points[2].at, QPointF(3, 4));
    QVERIFY(!back->points[2].mm);
    QCOMPARE(back->fiducials.size(), 1u);
    QVERIFY(back->fiducials[0].name == "F2" && !back->fiducials[0].px);
    QCOMPARE(back->warnings.size(), 6);
    QVERIFY2(back->warnings[4].startsWith("fiducial \"F1\".mm: [null,1] is not a position"),
        qPrintable(back->warnings[4]));
    QVERIFY2(back->warnings[0].contains("10000 x 10000 is larger than 67108864 pixels"),
        qPrintable(back->warnings[0]));
    QVERIFY2(back->warnings[1].startsWith("point \"R1\".at: [null,5.0] is not a place"),
        qPrintable(back->warnings[1]));
    // Written without what was let go of.
    const auto again = parse(serialize(*back), &error);
    QVERIFY(again && again->warnings.size() == 1);
    QCOMPARE(serialize(*again), serialize(*back));
}

void tst_Signature::registration_data()
{
    // Board mm = shift + scale * rotation(angle) * flip * pixel, where a photo
    // of the top side turns y up and one of the bottom side also mirrors x.
    QTest::addColumn<QList<QPointF>>("pixels");
    QTest::addColumn<double>("angle"); // degrees
    QTest::addColumn<double>("scale"); // mm per pixel
    QTest::addColumn<bool>("bottom");
    QTest::addColumn<double>("noise"); // mm, added to every other fiducial, taken from the others
    QTest::addColumn<QString>("error");
    const QList<QPointF> two { { 100, 900 }, { 1000, 880 } };
    const QList<QPointF> three { { 100, 900 }, { 1000, 880 }, { 150, 200 } };
    QTest::newRow("translation, 2") << two << 0.0 << 0.1 << false << 0.0 << QString();
    QTest::newRow("rotation, 2") << two << 33.0 << 0.1 << false << 0.0 << QString();
    QTest::newRow("rotation and scale, 3") << three << -120.0 << 0.025 << false << 0.0 << QString();
    QTest::newRow("bottom side, 2") << two << 10.0 << 0.05 << true << 0.0 << QString();
    QTest::newRow("bottom side, 3: the affine needs no telling")
        << three << 10.0 << 0.05 << true << 0.0 << QString();
    QTest::newRow("noisy, 5") << (three + QList<QPointF> { { 900, 150 }, { 500, 500 } }) << 5.0
                              << 0.1 << false << 0.05 << QString();
    QTest::newRow("one") << QList<QPointF> { { 1, 2 } } << 0.0 << 0.1 << false << 0.0
                         << "one fiducial has a place on the photo: registering needs two";
    QTest::newRow("coincident on the photo")
        << QList<QPointF> { { 100, 900 }, { 100.5, 900 }, { 500, 20 } } << 0.0 << 0.1 << false
        << 0.0 << "fiducials 1 and 2 are at one place on the photo";
    QTest::newRow("collinear") << QList<QPointF> { { 100, 900 }, { 1000, 880 }, { 550, 889 } }
                               << 0.0 << 0.1 << false << 0.0
                               << "fiducials 1, 2, 3 lie on one line on the photo";
    QTest::newRow("one place on the board")
        << two << 0.0 << 0.0 << false << 0.0 << "fiducials 1 and 2 are at one place on the board";
}

void tst_Signature::registration()
{
    QFETCH(QList<QPointF>, pixels);
    QFETCH(double, angle);
    QFETCH(double, scale);
    QFETCH(bool, bottom);
    QFETCH(double, noise);
    QFETCH(QString, error);
    const double c = std::cos(qDegreesToRadians(angle)) * scale;
    const double s = std::sin(qDegreesToRadians(angle)) * scale;
    const auto truth = [&](QPointF px) {
        const QPointF f(bottom ? -px.x() : px.x(), -px.y());
        return QPointF(12.5 + c * f.x() - s * f.y(), -40 + s * f.x() + c * f.y());
    };
    std::vector<Correspondence> pairs;
    for (const QPointF &px : pixels)
        pairs.emplace_back(px, truth(px) + QPointF(0, pairs.size() % 2 ? noise : -noise));
    QString why;
    // Two fiducials need to be told the photo's side; three or more do not.
    const auto r
        = fitRegistration(pairs, &why, bottom && pixels.size() == 2 ? Side::Bottom : Side::Top);
    QCOMPARE(why, error);
    QCOMPARE(bool(r), error.isEmpty());
    if (!r)
        return;
    QCOMPARE(r->fiducials, int(pixels.size()));
    // Far from the fiducials the fit still follows the truth, and back.
    const QPointF far(4000, -300);
    QVERIFY(QLineF(r->toMm.map(far), truth(far)).length() < (noise > 0 ? 1 : 1e-9));
    QVERIFY(QLineF(r->toPixels.map(r->toMm.map(far)), far).length() < 1e-6);
    const bool exact = r->rmsMm < 1e-9 && r->maxMm < 1e-9;
    const bool noisy = r->rmsMm > noise / 4 && r->rmsMm <= noise && r->maxMm >= r->rmsMm;
    QVERIFY2(noise == 0 ? exact : noisy, qPrintable(describe(*r)));
}

// A board learned pin by pin with zemctl, then tested with its second part
// swapped.
void tst_Signature::learnThenTest()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("board.json"));
    const QString report = dir.filePath(QStringLiteral("board.html"));
    QCOMPARE(zemctl({ "-u", "virtual://open?pins=resistor:1000,diode,capacitor:1e-6", "learn", file,
                 "--points", "R1,D1,C1" }),
        0);
    const auto board = load(file, nullptr);
    QVERIFY(board && board->points.size() == 3 && board->points[2].learned());

    // The board's picture, and two of its points placed on it.
    const QString photo = dir.filePath(QStringLiteral("board.png"));
    QFile png(photo);
    QVERIFY(png.open(QIODevice::WriteOnly) && png.write(pictureData("PNG", 200, 100)) > 0);
    png.close();
    QByteArray out;
    QCOMPARE(
        zemctl({ "board", file, "--image", photo, "--place", "R1=20,50", "--place", "D1=60.5,50" },
            &out),
        0);
    QVERIFY2(
        out.contains(R"("width":200,"height":100},"points":3,"placed":2,"unplaced":["C1"])"), out);
    QCOMPARE(zemctl({ "board", file, "--place", "C1=201,50" }), 64); // off the picture
    QCOMPARE(*load(file, nullptr)->points[1].at, QPointF(60.5, 50));

    // Two captures a point: the probe stays on each pin for two measurements.
    QCOMPARE(zemctl({ "-u", "virtual://open?per_pin=2&pins=resistor:1000,resistor:1000,capacitor", "test",
                        file, "--report", report, "--serial", "SN-7", "--operator", "Ann" },
                 &out),
        5);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[3].startsWith(R"({"board":"board","serial":"SN-7","verdict":"fail","points":3,)"
                                 R"("passed":2,"different":1,"unstable":0,"no_contact":0,)"
                                 R"("not_learned":0,"net_disagrees":0,"info":0,)"
                                 R"("operator":"Ann","started":")"),
        lines[3]);
    QVERIFY2(lines[0].contains(R"("verdict":"pass")"), lines[0]);
    QVERIFY2(lines[1].startsWith(R"({"point":"D1")")
            && lines[1].contains(R"("verdict":"different")") && lines[1].contains("resistor"),
        lines[1]);
    QVERIFY2(lines[2].contains(R"("verdict":"pass")"), lines[2]);

    // A run that stopped at D1 goes on from there, and is partial: R1 was
    // not tested this time. A point not in it is refused.
    QCOMPARE(zemctl({ "-u", "virtual://open?per_pin=2&pins=resistor:1000,capacitor", "test", file,
                 "--from", "D1", "--no-history" },
                 &out),
        5);
    QVERIFY2(out.startsWith(R"({"point":"D1")") && out.count('\n') == 3
            && out.contains(R"("points":3,)")
            && out.contains(R"("coverage":"partial","untested":["R1"])"),
        out);
    QCOMPARE(zemctl({ "-u", "virtual://resistor", "test", file, "--from", "X9" }), 64); // no such point

    QFile html(report);
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(html.readAll());
    // The board with its markers, D1's linked to its plot, then the plot.
    QCOMPARE(text.count(QStringLiteral("<svg")), 2);
    QVERIFY(text.contains(QStringLiteral("data:image/png;base64,")));
    QVERIFY(text.contains(QStringLiteral("href=\"#p2\"")));
    QVERIFY(text.contains(QStringLiteral("<h3 id=\"p2\">D1</h3>")));
    // It opens with the verdict, and says who tested what, with what and when.
    const QRegularExpression header(QStringLiteral(
        R"(<p class="verdict v-fail">FAIL: 1 of 3 points fail: 1 different</p>.*)"
        R"(<th>Serial</th><td>SN-7</td>.*<th>Operator</th><td>Ann</td>.*)"
        R"(<th>Instrument</th><td>serial \d+, firmware \d+\.\d+\.\d+</td>.*)"
        R"(<th>Test started</th><td>\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d).*</td>)"),
        QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(header.match(text).hasMatch(), qPrintable(text.left(1500)));

    // Another program saves the file while a learn runs: the learn stops at
    // its next point instead of saving over what the other one kept.
    const QString shared = dir.filePath(QStringLiteral("shared.json"));
    QProcess slow;
    slow.start(QStringLiteral(ZEMCTL),
        { "-u", "virtual://open?delay_ms=60&pins=resistor:1000,diode,capacitor:1e-6", "learn",
            shared, "--points", "R1,D1,C1" });
    slow.closeWriteChannel();
    QTRY_VERIFY(QFileInfo::exists(shared));
    QString error;
    QVERIFY2(sig::save(*load(file, nullptr), shared, &error), qPrintable(error));
    QVERIFY(slow.waitForFinished(30000));
    QCOMPARE(slow.exitCode(), 1);
    QVERIFY(slow.readAllStandardError().contains("changed since it was read"));
    QCOMPARE(load(shared, nullptr)->points.size(), board->points.size());
    QVERIFY(load(shared, nullptr)->points[1].at); // the other program's, with its placement
}

// References from five boards of a lot (2 % spread), then zemctl on other
// boards: what each line says, and the exit status.
void tst_Signature::lotOfBoards_data()
{
    QTest::addColumn<QString>("pins");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines"); // a fragment each line must hold, in order

    const QString good = QStringLiteral("resistor:1000,diode,resistor:4700");
    QTest::newRow("a good board") << good << "test" << 0
                                  << QStringList { R"("verdict":"pass")", R"("verdict":"pass")",
                                         R"("boards":5)",
                                         R"("verdict":"pass","points":3,"passed":3,"different":0)" };
    QTest::newRow("1.2 x its resistor")
        << "resistor:1200,diode,resistor:4700" << "test" << 5
        << QStringList { R"("class":"resistance_higher")", R"("verdict":"pass")",
               R"("verdict":"pass")", R"("verdict":"fail","points":3,"passed":2,"different":1)" };
    QTest::newRow("diode became a resistor")
        << "resistor:1000,resistor:1000,resistor:4700" << "test" << 5
        << QStringList { R"("verdict":"pass")", R"("verdict":"different")",
               R"("verdict":"pass")", R"("verdict":"fail")" };
    QTest::newRow("a pin that will not hold still")
        << good + "&unstable=3" << "test" << 6
        << QStringList { R"("verdict":"pass")", R"("verdict":"pass")",
               R"("verdict":"unstable")", R"("verdict":"unstable","points":3,"passed":2,"different":0,"unstable":1)" };
    QTest::newRow("no good board: the odd one out")
        << "resistor:1000,resistor:1000,resistor:1500,resistor:1000" << "symmetry" << 5
        << QStringList { R"("verdict":"pass")", R"("verdict":"pass")",
               R"("cause":{"class":"resistance_higher")", R"("verdict":"pass")" };
}

void tst_Signature::lotOfBoards()
{
    QFETCH(QString, pins);
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);

    static QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("lot.json"));
    if (!QFile::exists(file))
        for (int board = 1; board <= 5; ++board)
            QCOMPARE(zemctl({ "-u",
                         QStringLiteral("virtual://open?spread=2&board=%1&pins="
                                        "resistor:1000,diode,resistor:4700")
                             .arg(board),
                         "learn", file, "--points", "R1,D1,R2", "--add" }),
                0);
    QByteArray out;
    // A test captures each point twice: the probe stays on a pin for two.
    const bool test = command == QLatin1String("test");
    const QString url = QStringLiteral("virtual://open?spread=2&board=9&seed=1&per_pin=%1&pins=%2")
                            .arg(test ? 2 : 1)
                            .arg(pins);
    const QStringList args = test ? QStringList { "-u", url, "test", file }
                                  : QStringList { "-u", url, "symmetry", "--points", "D0,D1,D2,D3" };
    QCOMPARE(zemctl(args, &out), exitCode);
    const QList<QByteArray> got = out.trimmed().split('\n');
    QCOMPARE(got.size(), lines.size());
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(got[i].contains(lines[i].toUtf8()), got[i]);
}

// Every completed test run is kept in the history; its queries answer from it.
void tst_Signature::testRunsAreKept()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("b.json"));
    const QString db = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("h.sqlite"));
    QCOMPARE(zemctl({ "-u", "virtual://open?pins=resistor:1000,diode", "learn", file, "--points",
                 "R1,D1" }),
        0);
    const QString bad = QStringLiteral("virtual://open?per_pin=2&pins=resistor:1000,resistor:1000");
    QCOMPARE(zemctl({ "-u", bad, "test", file, "--db", db, "--serial", "S1" }), 5);
    QCOMPARE(zemctl({ "-u", bad, "test", file, "--db", db, "--serial", "S2", "--operator", "ann" }), 5);
    QCOMPARE(zemctl({ "-u", bad, "test", file, "--db", db, "--no-history" }), 5);
    QByteArray out;
    QCOMPARE(zemctl({ "history", "--db", db, "runs" }, &out), 0);
    const QList<QByteArray> runs = out.trimmed().split('\n');
    QCOMPARE(runs.size(), 2);
    QVERIFY2(runs[0].contains(R"("serial":"S2")") && runs[0].contains(R"("operator":"ann")"), runs[0]);
    QCOMPARE(zemctl({ "history", "--db", db, "points", "--board", "b" }, &out), 0);
    QVERIFY2(out.startsWith(R"({"point":"D1","tested":2,"failed":2)"), out);
    // The likeliest fault is probed first.
    QCOMPARE(zemctl({ "-u", bad, "test", file, "--db", db, "--order", "history" }, &out), 5);
    QVERIFY2(out.startsWith(R"({"point":"D1")"), out);
}

QTEST_GUILESS_MAIN(tst_Signature)
#include "tst_signature.moc"
