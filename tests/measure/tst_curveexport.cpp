// The curve's files keep their bytes: the same values give the same text
// (Qt's JSON number forms, "%f" for results.json), CSV lines end in CRLF.
#include "curve.h"
#include "curveexport.h"

#include <QtTest>

#include <limits>

class tst_CurveExport : public QObject
{
    Q_OBJECT

private slots:
    void bytes_data();
    void bytes();
};

void tst_CurveExport::bytes_data()
{
    static Curve c, empty;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    c.voltage = { 0.1f, nan, 3e7f, -0.0f };
    c.current = { -1e-5f, nan, 1e30f, 2.0f };
    const std::vector<NamedCurve> two { { QStringLiteral("a, \"b\"\nc"), &c }, { "e", &empty } };
    const QByteArray json = curvesJson(two, { {}, 7u });
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("part");
    const auto add = [](const char *name, const QByteArray &text, const char *part) {
        QTest::newRow(name) << text << QByteArray(part);
    };
    add("csv", curveCsv(c),
        "# complete: no\r\nindex,time_ms,voltage_V,current_mA\r\n"
        "0,,0.100000001,-9.99999975e-06\r\n1,,,\r\n2,,30000000,1.00000002e+30\r\n"
        "3,,0,2\r\n");
    add("curves csv", curvesCsv(two, { QStringLiteral("virtual://x"), {} }),
        "# url: virtual://x\r\n# curve 1: a, \"b\" c\r\n");
    add("curves csv rows", curvesCsv(two, {}), "\r\n1,3,,0,2\r\n");
    add("results.json", curveJson(c),
        "{\n    \"voltage\": [0.100000, null, 30000000.000000, -0.000000],\n");
    add("json numbers", json,
        "\"voltage\": [\n                0.10000000149011612,\n"
        "                null,\n                30000000,\n"
        "                0\n            ]\n");
    add("json current", json,
        "\"current\": [\n                -9.999999747378752e-06,\n                null,\n"
        "                1.0000000150474662e+30,\n                2\n            ]");
    add("json empty", json, "\"current\": [\n            ],\n            \"name\": \"e\",");
    add("json tail", json,
        "\"serial_number\": 7,\n    \"url\": null,\n    \"voltage_units\": \"Volts\"\n}\n");
}

void tst_CurveExport::bytes()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, part);
    QVERIFY2(text.contains(part), text.constData());
}

QTEST_MAIN(tst_CurveExport)
#include "tst_curveexport.moc"
