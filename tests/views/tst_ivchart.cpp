#include "ivchart.h"

#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

using Points = QList<QPointF>;
using Range = QPair<double, double>;

class tst_IvChart : public QObject
{
    Q_OBJECT

private slots:
    void fit_data();
    void fit();
    void decimation_data();
    void decimation();
    void zoomAndHover();
    void heldUnderTheRoles();
};

namespace {

const QLineSeries *testSeries(const IvChart &chart)
{
    return static_cast<const QLineSeries *>(chart.chart()->series().constLast());
}

QPoint placeOf(const IvChart &chart, QPointF value)
{
    return chart.mapFromScene(chart.chart()->mapToScene(chart.chart()->mapToPosition(value)));
}

} // namespace

void tst_IvChart::fit_data()
{
    QTest::addColumn<Points>("reference");
    QTest::addColumn<Points>("test");
    QTest::addColumn<Range>("volts");
    QTest::addColumn<Range>("milliamps");
    const double nan = std::nan(""), inf = INFINITY;
    QTest::newRow("empty") << Points() << Points() << Range(-1, 1) << Range(-1, 1);
    QTest::newRow("one point") << Points() << Points { { 2, 5 } } << Range(1.8, 2.2)
                               << Range(4.5, 5.5);
    QTest::newRow("not finite ignored")
        << Points { { nan, 100 }, { 1, inf } } << Points { { 2, 5 }, { -inf, 0 } }
        << Range(1.8, 2.2) << Range(4.5, 5.5);
    QTest::newRow("union") << Points { { -10, -1 }, { 0, 0 } } << Points { { 0, 0 }, { 10, 3 } }
                           << Range(-11, 11) << Range(-1.2, 3.2);
    QTest::newRow("flat, a microamp at least") << Points() << Points { { 0, 2e-4 }, { 5, -2e-4 } }
                                               << Range(-0.25, 5.25) << Range(-0.0012, 0.0012);
}

void tst_IvChart::fit()
{
    QFETCH(Points, reference);
    QFETCH(Points, test);
    QFETCH(Range, volts);
    QFETCH(Range, milliamps);
    IvChart chart;
    chart.setCurves(reference, test);
    QCOMPARE(chart.voltageAxis()->min(), volts.first);
    QCOMPARE(chart.voltageAxis()->max(), volts.second);
    QCOMPARE(chart.currentAxis()->min(), milliamps.first);
    QCOMPARE(chart.currentAxis()->max(), milliamps.second);
}

void tst_IvChart::decimation_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("100") << 100;
    QTest::newRow("threshold") << IvChart::kMaxExactPoints;
    QTest::newRow("one more") << IvChart::kMaxExactPoints + 1;
    QTest::newRow("a million") << 1000000;
}

void tst_IvChart::decimation()
{
    QFETCH(int, count);
    IvChart chart;
    chart.resize(600, 400);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    Points sweep;
    for (int k = 0; k < count; ++k)
        sweep.append(QPointF(-5 + 10.0 * k / count, 2.0 * k / count));
    chart.setCurve(IvChart::Role::Test, sweep);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QRectF plot = chart.chart()->plotArea();
    const QList<QPointF> drawn = testSeries(chart)->points();
    if (count <= IvChart::kMaxExactPoints) {
        QCOMPARE(drawn, sweep);
        return;
    }
    // Two a column, the ends kept; zoomed in, drawn again as finely.
    QVERIFY2(drawn.size() <= 2 * int(plot.width()), qPrintable(QString::number(drawn.size())));
    QCOMPARE(drawn.constFirst(), sweep.constFirst());
    QCOMPARE(drawn.constLast(), sweep.constLast());
    chart.chart()->zoomIn(plot.adjusted(plot.width() * 0.45, 0, -plot.width() * 0.45, 0));
    const auto inView = [&](const QPointF &p) {
        return p.x() >= chart.voltageAxis()->min() && p.x() <= chart.voltageAxis()->max();
    };
    const QList<QPointF> zoomed = testSeries(chart)->points();
    QVERIFY(std::count_if(zoomed.begin(), zoomed.end(), inView) >= int(plot.width()));
}

void tst_IvChart::zoomAndHover()
{
    IvChart chart;
    chart.resize(600, 400);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.setCurve(IvChart::Role::Test, Points { { -4, -2 }, { 0, 0 }, { 4, 2 } });

    QTest::mouseMove(chart.viewport(), placeOf(chart, { 4, 2 }) + QPoint(2, 1));
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("4 V, 2 mA"));
    QCOMPARE(chart.readoutAt(placeOf(chart, { 0, 0 }) + QPoint(20, 0)), QString());

    QTest::mousePress(chart.viewport(), Qt::LeftButton, {}, placeOf(chart, { -1, 1 }));
    QTest::mouseMove(chart.viewport(), placeOf(chart, { 1, -1 }));
    QTest::mouseRelease(chart.viewport(), Qt::LeftButton, {}, placeOf(chart, { 1, -1 }));
    QVERIFY(chart.isZoomed());
    QVERIFY(chart.voltageAxis()->max() - chart.voltageAxis()->min() < 2.5);
    // A new curve keeps the zoom; a double-click fits every curve again.
    chart.setCurve(IvChart::Role::Reference, Points { { 0, 0 }, { 40, 1 } });
    QVERIFY(chart.voltageAxis()->max() < 2);
    QTest::mouseDClick(chart.viewport(), Qt::LeftButton, {}, placeOf(chart, { 0, 0 }));
    QVERIFY(!chart.isZoomed());
    QCOMPARE(chart.voltageAxis()->min(), -6.2);
    QCOMPARE(chart.voltageAxis()->max(), 42.2);
}

void tst_IvChart::heldUnderTheRoles()
{
    IvChart chart;
    chart.addCurve(IvChart::Role::Test, QStringLiteral("Latest"), Qt::blue);
    chart.addCurve(IvChart::Role::Page, QStringLiteral("Page"));
    chart.addHeld(QStringLiteral("a"), Qt::red, Points { { 0, 0 } });
    chart.addHeld(QStringLiteral("b"), Qt::green, Points { { 1, 1 } });
    QStringList drawn; // from the bottom up
    for (const QAbstractSeries *series : chart.chart()->series())
        drawn << series->name();
    QCOMPARE(drawn, (QStringList { "a", "b", "Page", "Latest" }));
    // Raising the roles over a new held curve leaves the held ones' legend live.
    QSignalSpy clicked(&chart, &IvChart::heldClicked);
    emit chart.chart()->legend()->markers(chart.chart()->series().at(1)).constFirst()->clicked();
    QCOMPARE(clicked.value(0).value(0), QVariant(1));
    chart.clearHeld();
    chart.removeCurve(IvChart::Role::Page);
    QCOMPARE(chart.chart()->series().size(), 1);
}

QTEST_MAIN(tst_IvChart)
#include "tst_ivchart.moc"
