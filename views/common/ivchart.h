// The current-voltage chart of every dock that draws one: current (mA)
// against voltage (V), with a reference, a page and a test curve and the
// curves held for comparison. Drag to zoom, double-click to fit again, hover
// near a point to read its volts and milliamps.
#pragma once

#include "curvechartview.h"

#include <QList>
#include <QPointF>

#include <array>
#include <vector>

class QColor;
class QLineSeries;
class QPen;
class QValueAxis;

class IvChart : public CurveChartView
{
    Q_OBJECT

public:
    // The curves the chart has a place for, drawn in this order over the held
    // ones: each role is on top of those before it.
    enum class Role {
        Reference, // what the test is compared with
        Page, // a curve read frame by frame beside the test, never in its place
        Test, // the latest measured
    };
    // Curves up to this many points are drawn point for point. Longer ones
    // are drawn from the points each pixel column shows (decimate.h), about
    // two a column for a sweep, and again when zoomed or resized.
    static constexpr int kMaxExactPoints = 10000;
    // A value axis as every chart of the window has it: a title, "%g" labels.
    static QValueAxis *newAxis(const QString &title);

    explicit IvChart(QWidget *parent = nullptr);
    ~IvChart() override;

    // Puts a role on the chart under its legend name, empty until given
    // points. A colour or pen given here replaces the theme's, which
    // otherwise colours the curve by the order roles were added in.
    void addCurve(Role role, const QString &name);
    void addCurve(Role role, const QString &name, const QColor &colour);
    void addCurve(Role role, const QString &name, const QPen &pen);
    // Takes a role and its legend entry off the chart.
    void removeCurve(Role role);
    bool hasCurve(Role role) const;

    // Replaces a role's points in one go, adding the role unnamed if it is
    // not on the chart; a point with a coordinate that is not finite is left
    // out. Unless zoomed, the axes fit every curve again.
    void setCurve(Role role, const QList<QPointF> &points);
    void setCurve(
        Role role, const std::vector<double> &volts, const std::vector<double> &milliamps);
    // Empties a role, which keeps its legend entry.
    void clearCurve(Role role) { setCurve(role, QList<QPointF>()); }
    // Both curves of a comparison at once, fitted once.
    void setCurves(const QList<QPointF> &reference, const QList<QPointF> &test);
    // Points of paired volts and milliamps, as far as both go.
    static QList<QPointF> pointsOf(
        const std::vector<double> &volts, const std::vector<double> &milliamps);

    // Held curves lie under the roles in the order held, each in its colour
    // and with a rectangle in the legend; a click on it emits heldClicked.
    // Returns the new curve's index.
    int addHeld(const QString &name, const QColor &colour, const QList<QPointF> &points);
    int heldCount() const { return int(m_held.size()); }
    QString heldName(int index) const;
    void setHeldName(int index, const QString &name);
    void clearHeld();

    // Fits both axes to the points of every curve on the chart, held ones
    // included: the span of the finite values with 5 % of it on each side,
    // at least 1e-3 (a millivolt, a microamp) so that a flat curve's noise is
    // not stretched to the full height; a single value gets 10 % of itself
    // (1 around zero), no points -1 to 1. Ticks fall on round values inside
    // that range. Done on every change unless zoomed, and on double-click.
    void fitAxes();

    QValueAxis *voltageAxis() const { return m_voltage; }
    QValueAxis *currentAxis() const { return m_current; }

signals:
    void heldClicked(int index);

protected:
    QList<QXYSeries *> hoverSeries() const override;

private:
    struct Line
    {
        QLineSeries *series = nullptr;
        QList<QPointF> points; // every one given, finite
        bool onChart = false;
        bool stale = true; // the series does not show the points yet
        // What a decimated series was drawn for.
        double x0 = 0;
        double x1 = 0;
        int columns = 0;
    };

    Line &line(Role role) { return m_roles[std::size_t(role)]; }
    const Line &line(Role role) const { return m_roles[std::size_t(role)]; }
    // Adds a curve to the chart under the roles from raiseFrom on.
    void attach(Line &line, const QString &name, std::size_t raiseFrom);
    void changed(Line &line);
    void draw(Line &line);
    void drawAll();
    template <typename F> void forEachOnChart(F f);

    QValueAxis *m_voltage = nullptr;
    QValueAxis *m_current = nullptr;
    std::array<Line, 3> m_roles;
    std::vector<Line> m_held;
    bool m_fitting = false; // the axes' changes redraw once, after both
};
