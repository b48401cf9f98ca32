// The CAD readers on realistic files of each kind and on each kind of bad
// input, and the import through zemctl into a signature that was learned.
#include "cadimport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace cad;

namespace {

// A board drawn in mils, so that every unit system holds it exactly enough.
struct Pin
{
    const char *net, *refdes, *pin;
    int type;
    const char *access;
    long x, y; // mils
};
const Pin kPins[] = { { "GND", "R1", "1", 327, "A01", 500, 400 },
    { "/SDA", "R1", "2", 327, "A01", 560, 400 }, { "GND", "U1", "4", 317, "A00", 1200, 2500 },
    { "/SDA", "U1", "5", 317, "A00", 1300, 2500 }, { "VCC", "C7", "1", 327, "A02", 3900, 2900 },
    { "GND", "C7", "2", 327, "A02", 3940, 2900 }, { "VCC", "TP1", "", 327, "A02", 0, 0 } };

QByteArray record(int type, const char *net, const char *ref, const char *pin, const char *access,
    long x, long y, Unit unit)
{
    const long per = unit == Unit::Inch ? 10 : 1; // counts per mil; mm is converted below
    const auto count = [&](long mils) {
        return unit == Unit::Mm ? std::lround(mils * 25.4) : mils * per;
    };
    return QString::asprintf("%3d%-14s   %-6s-%-4s %-6s%sX%c%06ldY%c%06ldX0600Y0600R090 S0\n",
        type, net, ref, pin, type == 317 ? "D0300P" : "", access, x < 0 ? '-' : '+',
        std::abs(count(x)), y < 0 ? '-' : '+', std::abs(count(y)))
        .toLatin1();
}

QByteArray netlist(Unit unit, const QByteArray &extra = {})
{
    const char *units = unit == Unit::Inch ? "CUST 0" : unit == Unit::Mm ? "CUST 1" : "CUST 2";
    QByteArray out = "C  IPC-D-356A netlist of a test board\nP  JOB   board\nP  UNITS "
        + QByteArray(units) + "\nP  arrayDim   N\n";
    for (const Pin &p : kPins) {
        out += record(p.type, p.net, p.refdes, p.pin, p.access, p.x, p.y, unit);
        if (p.type == 317) // data continued; its coordinates must not be read as a point
            out += "017           CONTINUED     X+999999Y+999999\n";
    }
    const long k = unit == Unit::Inch ? 10 : unit == Unit::Mm ? 0 : 1;
    const auto c = [&](long mils) { return k ? mils * k : std::lround(mils * 25.4); };
    out += QString::asprintf("389BOARD_EDGE       X+%06ldY+%06ld X+%06ldY+%06ld\n"
                             "089                 X+%06ldY+%06ld X+%06ldY+%06ld\n",
        0L, 0L, c(4000), 0L, c(4000), c(3000), 0L, c(3000))
               .toLatin1();
    return out + extra + "999\n";
}

// Runs zemctl with args; its exit code, its standard output in *out.
int zemctl(const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral(ZEMCTL), args);
    if (!p.waitForFinished(30000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitCode();
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class tst_Cad : public QObject
{
    Q_OBJECT
private slots:
    void ipcD356_data();
    void ipcD356();
    void positions_data();
    void positions();
    void bom_data();
    void bom();
    void importThroughZemctl();
    void importRefused_data();
    void importRefused();
};

void tst_Cad::ipcD356_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error"); // empty: read, every pin checked
    for (const Unit u : { Unit::Inch, Unit::Mm, Unit::Mil })
        QTest::addRow("units %d", int(u)) << netlist(u) << QString();
    const QByteArray good = netlist(Unit::Mm);
    QByteArray truncated = record(327, "N1", "R9", "1", "A01", 10, 10, Unit::Mm).left(47) + "\n";
    QByteArray letters = record(327, "N1", "R9", "1", "A01", 10, 10, Unit::Mm);
    letters.replace(45, 2, "1a");
    QTest::newRow("truncated") << netlist(Unit::Mm, truncated) << "board.d356:16: truncated";
    QTest::newRow("not a number") << netlist(Unit::Mm, letters) << "board.d356:16: expected X";
    QTest::newRow("unknown units")
        << QByteArray(good).replace("CUST 1", "CUST 7") << "board.d356:3: unknown units";
    QTest::newRow("duplicate") << netlist(Unit::Mm, record(327, "N1", "R1", "2", "A01", 5, 5, Unit::Mm))
                               << "board.d356:16: a second test point R1.2 (the first is on line 6)";
    QTest::newRow("off the board")
        << netlist(Unit::Mm, record(327, "N1", "R9", "1", "A01", 4100, 5, Unit::Mm))
        << "board.d356:16: R9.1 at";
    QTest::newRow("inner layer")
        << netlist(Unit::Mm, record(327, "N1", "R9", "1", "A03", 5, 5, Unit::Mm))
        << "board.d356:16: expected the access side";
    QTest::newRow("lone continuation") << QByteArray("017  X+000000Y+000000\n")
                                       << "board.d356:1: a continuation record";
    QTest::newRow("no record") << QByteArray("hello\n") << "board.d356:1: expected a record type";
    QTest::newRow("cut short") << good.chopped(4)
                               << "board.d356:15: the end record (999) is missing";
    QTest::newRow("empty") << QByteArray() << "board.d356: the end record (999) is missing";
    QTest::newRow("outline past any board") << QByteArray(good).replace(
        "089                 X+101600", "089                 X+999999999")
                                            << "board.d356:15: X 1e+06 mm is out of range";
}

void tst_Cad::ipcD356()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);
    QString why;
    const auto n = readIpcD356(file, QStringLiteral("board.d356"), &why);
    QVERIFY2(bool(n) == error.isEmpty(), qPrintable(why));
    if (!n) {
        QVERIFY2(why.startsWith(error), qPrintable(why));
        return;
    }
    QCOMPARE(n->records.size(), std::size(kPins));
    for (std::size_t k = 0; k < n->records.size(); ++k) {
        const TestRecord &r = n->records[k];
        const Pin &p = kPins[k];
        QCOMPARE(pointName(r), *p.pin ? QStringLiteral("%1.%2").arg(p.refdes, p.pin) : p.refdes);
        QCOMPARE(r.net, QString::fromLatin1(p.net));
        QCOMPARE(r.side, QByteArray(p.access) == "A02" ? Side::Bottom : Side::Top);
        QVERIFY2(qAbs(r.mm.x() - p.x * 0.0254) < 0.01 && qAbs(r.mm.y() - p.y * 0.0254) < 0.01,
            qPrintable(pointName(r)));
    }
    QCOMPARE(n->outline.size(), std::size_t(4));
    QVERIFY(qAbs(n->outline[2].x() - 101.6) < 0.01 && qAbs(n->outline[2].y() - 76.2) < 0.01);
}

void tst_Cad::positions_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("parts"); // "REF x y side ..." in mm, or the error
    const QString parts = QStringLiteral("R1 10 20 top U1 -5.5 30.25 bottom");
    QTest::newRow("kicad ascii")
        << QByteArray("### Footprint positions ###\n## Unit = mm, Angle = deg.\n"
                      "# Ref     Val       Package       PosX       PosY       Rot  Side\n"
                      "R1        4k7       R_0603        10.0000    20.0000    90.0000  top\n"
                      "U1        LM 358    SOIC-8        -5.5000    30.2500  0.0  bottom\n## End\n")
        << parts;
    QTest::newRow("kicad ascii inches")
        << QByteArray("## Unit = inches\n# Ref Val Package PosX PosY Rot Side\n"
                      "R1 4k7 R_0603 1.0 2.0 0 top\n")
        << "R1 25.4 50.8 top";
    QTest::newRow("kicad csv") << QByteArray("Ref,Val,Package,PosX,PosY,Rot,Side\n"
                                             "\"R1\",\"4k7\",\"R_0603\",10,20,90,top\n"
                                             "\"U1\",\"LM358, dual\",\"SOIC\",-5.5,30.25,0,bottom\n")
                               << parts;
    QTest::newRow("pick and place")
        << QByteArray("Pick and place of board\n\n\"Designator\";\"Layer\";\"Center-X(mil)\";"
                      "\"Center-Y(mil)\";\"Rotation\"\nR1;TopLayer;1000;2000;90\nU1;B;-500;0;0\n")
        << "R1 25.4 50.8 top U1 -12.7 0 bottom";
    QTest::newRow("suffixed values")
        << QByteArray("DESIGNATOR,MID X,MID Y,SIDE\nR1,10mm,20mm,Front\nU1,-5.5mm,1.19in,back\n")
        << "R1 10 20 top U1 -5.5 30.226 bottom";
    QTest::newRow("no header") << QByteArray("R1,10,20\n") << "pos.csv: no header";
    QTest::newRow("not a number") << QByteArray("Ref,PosX,PosY\nR1,1O,20\n")
                                  << "pos.csv:2: expected X as a number";
    QTest::newRow("unknown side") << QByteArray("Ref,PosX,PosY,Side\nR1,1,2,inner\n")
                                  << "pos.csv:2: expected the side";
    QTest::newRow("duplicate") << QByteArray("Ref,PosX,PosY\nR1,1,2\nR1,3,4\n")
                               << "pos.csv:3: a second R1 (the first is on line 2)";
    QTest::newRow("short row") << QByteArray("Ref,PosX,PosY,Side\nR1,1\n") << "pos.csv:2: expected 4";
    QTest::newRow("unknown unit") << QByteArray("## Unit = furlongs\n") << "pos.csv:1: unknown unit";
    QTest::newRow("comment-marked header")
        << QByteArray("#, Ref, Val, Package, PosX, PosY, Rot, Side\n,R1,4k7,0603,10.0,20.0,0,top\n"
                      ",U1,LM358,SO8,-5.5,30.25,0,bottom\n")
        << parts;
    QTest::newRow("marker dropped from the header")
        << QByteArray("Ref, Val, Package, PosX, PosY, Rot, Side\n,R1,4k7,0603,10,20,0,top\n")
        << "R1 10 20 top";
    QTest::newRow("unit comment, semicolons")
        << QByteArray("# Unit = inches\nRef;PosX;PosY;Side\nR1;1;2;T\n") << "R1 25.4 50.8 top";
    QTest::newRow("header units at blanks") << QByteArray(
        "## Unit = inches\n# \"Ref\" Val PosX (mil) \"Y (mil)\" Side\n\"R1\" \"4k7 1%\" 1000 2000 "
        "top\n") << "R1 25.4 50.8 top";
    QTest::newRow("overflow") << QByteArray("## Unit = inches\nRef,PosX,PosY\nR1,1e308,0\n")
                              << "pos.csv:3: X \"1e308\" is out of range";
    QTest::newRow("heights, one not given") // REF@height
        << QByteArray("Ref,PosX,PosY,Side,Height(mil)\nR1,10,20,top,\nU1,-5.5,30.25,bottom,100\n")
        << "R1 10 20 top U1@2.54 -5.5 30.25 bottom";
    QTest::newRow("a height below the board")
        << QByteArray("Ref,PosX,PosY,Height\nR1,1,2,-1\n") << "pos.csv:2: a height below the board";
    QTest::newRow("unit after parts") << QByteArray("Ref,PosX,PosY\nR1,1,2\n# Unit = mil\n")
                                      << "pos.csv:3: the unit must be given before the first part";
}

void tst_Cad::positions()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, parts);
    QString why;
    const auto read = readPositions(file, QStringLiteral("pos.csv"), &why);
    if (!read) {
        QVERIFY2(why.startsWith(parts), qPrintable(why));
        return;
    }
    const QStringList want = parts.split(QLatin1Char(' '));
    QCOMPARE(qsizetype(read->size() * 4), want.size());
    for (std::size_t k = 0; k < read->size(); ++k) {
        const Placement &p = (*read)[k];
        const QStringList ref = want[4 * k].split(QLatin1Char('@'));
        QCOMPARE(p.refdes, ref[0]);
        QCOMPARE(p.height.has_value(), ref.size() > 1);
        QVERIFY(ref.size() < 2 || qAbs(*p.height - ref[1].toDouble()) < 0.01);
        QVERIFY2(qAbs(p.mm.x() - want[4 * k + 1].toDouble()) < 0.01
                && qAbs(p.mm.y() - want[4 * k + 2].toDouble()) < 0.01,
            qPrintable(p.refdes));
        QCOMPARE(p.side, want[4 * k + 3] == QLatin1String("top") ? Side::Top : Side::Bottom);
    }
}

void tst_Cad::bom_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("values"); // "REF=value ..." (none: no value), or the error
    QTest::newRow("values")
        << QByteArray("Item,Qty,Reference,Value\n1,3,\"R1, R2 R5\",4k7\n2,1,R3,2R2\n3,1,R4,1M\n"
                      "4,2,C1-C2,100n\n5,1,C3,10uF\n6,1,L1,4.7uH\n7,1,R6,4.7 kΩ\n8,1,U1,LM358\n"
                      "9,1,R7,10R\n10,1,C4,10R\n")
        << "R1=4700 R2=4700 R5=4700 R3=2.2 R4=1e+06 C1=1e-07 C2=1e-07 C3=1e-05 L1=4.7e-06 "
           "R6=4700 U1=none R7=10 C4=none";
    QTest::newRow("no header") << QByteArray("R1,4k7\n") << "bom.csv: no header";
    QTest::newRow("listed twice") << QByteArray("Designator;Comment\nR1;1k\nR2,R1;2k\n")
                                  << "bom.csv:3: R1 is listed again";
    QTest::newRow("short row") << QByteArray("Qty,Designator,Value\n1,R1\n") << "bom.csv:2: expected 3";
    QByteArray ranges = "Ref,Value\n";
    for (char c = 'A'; c <= 'J'; ++c)
        ranges += QByteArray("A") + c + "1-A" + c + "10001,LM358\n";
    QTest::newRow("ranges past the bound") << ranges << "bom.csv:11: more than 100000 designators";
    QTest::newRow("zero") << QByteArray("Ref,Value\nR1,0R\nC2,0\n")
                          << "bom.csv:3: C2's value \"0\" is no part's";
    QTest::newRow("negative") << QByteArray("Ref,Value\nR1,-4k7\n") << "bom.csv:2: R1's value";
    QTest::newRow("300 digits") << "Ref,Value\nC1," + QByteArray(300, '9') + "\n"
                                << "bom.csv:2: C1's value";
}

void tst_Cad::bom()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, values);
    QString why;
    const auto read = readBom(file, QStringLiteral("bom.csv"), &why);
    if (!read) {
        QVERIFY2(why.startsWith(values), qPrintable(why));
        return;
    }
    QStringList got;
    for (const BomLine &l : *read)
        got << l.refdes + QLatin1Char('=')
                + (l.parsed ? QString::number(l.parsed->number) : QStringLiteral("none"));
    QCOMPARE(got.join(QLatin1Char(' ')), values);
}

void tst_Cad::importThroughZemctl()
{
    QTemporaryDir dir;
    const QString cadFile = dir.filePath(QStringLiteral("board.d356")),
                  file = dir.filePath(QStringLiteral("new.json")),
                  bomFile = dir.filePath(QStringLiteral("bom.csv"));
    QVERIFY(write(cadFile, netlist(Unit::Mm)) && write(bomFile, "Ref,Value\nR1,4k7\n"));
    QByteArray out;
    QCOMPARE(zemctl({ "board", file, "--import", cadFile, "--bom", bomFile }, &out), 0);
    QVERIFY2(out.contains(R"("added":7,"updated":0,"vanished":[],"expected":["R1"])"), out);
    auto board = sig::load(file, nullptr);
    QVERIFY(board && board->board == QLatin1String("board") && board->outline.size() == 4);
    const sig::Point &r1 = board->points[0];
    QCOMPARE(r1.group, QStringLiteral("GND"));
    QCOMPARE(r1.expect, (sig::Expected { QStringLiteral("ohms"), 4700 }));
    // R1.1 learned; then the CAD loses U1.4 and moves R1.1.
    const std::vector<double> curve(std::size_t(board->settings.NumberPoints), 0.5);
    board->points[0].measurements[0].reference = sig::IvCurve { curve, curve };
    QVERIFY(sig::save(*board, file, nullptr));
    QByteArray changed = netlist(Unit::Mm);
    changed.replace("+012700Y+010160", "+013700Y+010160");
    const qsizetype u14 = changed.indexOf("317GND");
    QVERIFY(write(cadFile, changed.remove(u14, changed.indexOf('\n', u14) - u14 + 1)));
    QVERIFY2(zemctl({ "board", file, "--import", cadFile, "--side", "top" }, &out) == 0, out);
    QVERIFY2(out.contains(R"("added":0,"updated":3,"vanished":["U1.4"])"), out);
    board = sig::load(file, nullptr);
    QVERIFY(board->points[0].learned());
    QCOMPARE(board->points[0].mm->x(), 13.7);
    // A bad CAD file leaves the signature as it was.
    QFile before(file);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray kept = before.readAll();
    QVERIFY(write(cadFile, netlist(Unit::Mm).replace("CUST 1", "CUST 9")));
    QCOMPARE(zemctl({ "board", file, "--import", cadFile }, &out), 3);
    QVERIFY2(out.contains("board.d356:3: unknown units"), out);
    before.seek(0);
    QCOMPARE(before.readAll(), kept);
}

// Files that give no board are refused by zemctl, and no signature is made;
// a FIFO is refused before anything waits for its writer.
void tst_Cad::importRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // "fifo": a FIFO of that name
    QTest::addColumn<QString>("error");
    QTest::newRow("fifo") << "board.d356" << QByteArray("fifo") << "board.d356: not a regular file";
    QTest::newRow("device") << "/dev/null" << QByteArray() << "/dev/null: not a regular file";
    QTest::newRow("end record only")
        << "board.d356" << QByteArray("999\n") << "board.d356: no test points";
    QTest::newRow("header only") << "pos.csv" << QByteArray("Ref,PosX,PosY\n")
                                 << "pos.csv: no parts";
    QTest::newRow("control character") << "pos.csv" << QByteArray("Ref,PosX,PosY\nR\x01" "1,1,2\n")
                                       << "pos.csv: \"R?1\" has a control character (U+0001)";
}

void tst_Cad::importRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString cadFile = name.startsWith(QLatin1Char('/')) ? name : dir.filePath(name);
    if (bytes == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(cadFile).constData(), 0600) == 0);
    else if (!name.startsWith(QLatin1Char('/')))
        QVERIFY(write(cadFile, bytes));
    QByteArray out;
    QCOMPARE(
        zemctl({ "board", dir.filePath(QStringLiteral("new.json")), "--import", cadFile }, &out),
        3);
    QVERIFY2(out.contains(error.toUtf8()), out);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("new.json"))));
}

QTEST_GUILESS_MAIN(tst_Cad)
#include "tst_cad.moc"
