#include "report.h"

#include "boardverdict.h"
#include "netcheck.h"
#include "registration.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::Report", text);
}

QString esc(const QString &s)
{
    return s.toHtmlEscaped();
}

struct Range
{
    double lo = INFINITY, hi = -INFINITY;

    void add(const std::vector<double> &v)
    {
        for (double x : v)
            if (std::isfinite(x)) {
                lo = std::min(lo, x);
                hi = std::max(hi, x);
            }
    }
    // Never empty and never zero wide, and always with 0 inside.
    void settle()
    {
        if (lo > hi)
            lo = hi = 0;
        lo = std::min(lo, 0.0);
        hi = std::max(hi, 0.0);
        const double pad = std::max(1e-9, 0.05 * (hi - lo));
        lo -= pad;
        hi += pad;
    }
};

QString polyline(
    const IvCurve &c, const Range &x, const Range &y, double w, double h, const char *colour)
{
    QString pts;
    pts.reserve(int(c.volts.size()) * 14);
    const std::size_t n = std::min(c.volts.size(), c.milliamps.size());
    for (std::size_t k = 0; k < n; ++k) {
        if (!std::isfinite(c.volts[k]) || !std::isfinite(c.milliamps[k]))
            continue;
        const double px = (c.volts[k] - x.lo) / (x.hi - x.lo) * w;
        const double py = h - (c.milliamps[k] - y.lo) / (y.hi - y.lo) * h;
        pts += QStringLiteral("%1,%2 ").arg(px, 0, 'f', 1).arg(py, 0, 'f', 1);
    }
    return QStringLiteral("<polyline fill=\"none\" stroke=\"%1\" stroke-width=\"1.5\" "
                          "points=\"%2\"/>")
        .arg(QLatin1String(colour), pts.trimmed());
}

QString settingsRows(const measurement_settings &s)
{
    return QStringLiteral("<tr><th>SamplingRate</th><td>%1 Hz</td></tr>"
                          "<tr><th>ProbeSignalFrequency</th><td>%2 Hz</td></tr>"
                          "<tr><th>NumberPoints</th><td>%3</td></tr>"
                          "<tr><th>NumberChargePoints</th><td>%4</td></tr>"
                          "<tr><th>MaxVoltage</th><td>%5 V</td></tr>"
                          "<tr><th>CurrentSensorMode</th><td>%6</td></tr>"
                          "<tr><th>OutputMode</th><td>%7</td></tr>")
        .arg(double(s.SamplingRate))
        .arg(double(s.ProbeSignalFrequency))
        .arg(s.NumberPoints)
        .arg(s.NumberChargePoints)
        .arg(double(s.MaxVoltage))
        .arg(s.CurrentSensorMode)
        .arg(s.OutputMode);
}

QString verdictColour(Verdict v)
{
    return toneColour(verdictTone(v)).hex();
}

// The colour of every verdict's class, point's and board's, from the one table.
QString verdictStyles()
{
    QString css;
    for (Verdict v : { Verdict::Pass, Verdict::Different, Verdict::NotLearned, Verdict::Unstable,
             Verdict::NoContact, Verdict::NetDisagrees })
        css += QStringLiteral(".%1{color:%2%3}")
                   .arg(QLatin1String(verdictName(v)), verdictColour(v),
                       QLatin1String(verdictInfo(v).failsBoard && v != Verdict::NotLearned
                               ? ";font-weight:bold"
                               : ""));
    for (BoardVerdictKind k : { BoardVerdictKind::Pass, BoardVerdictKind::Fail,
             BoardVerdictKind::Unstable, BoardVerdictKind::NoContact, BoardVerdictKind::Partial })
        css += QStringLiteral(".v-%1{background:%2}")
                   .arg(QLatin1String(boardVerdictName(k)), toneColour(boardVerdictTone(k)).hex());
    return css;
}

bool isFlagged(Verdict v)
{
    return v == Verdict::Different || v == Verdict::NotLearned || v == Verdict::Unstable
        || v == Verdict::NoContact || v == Verdict::NetDisagrees;
}

} // namespace

QString svgBoard(const Signature &sig, const std::vector<PointResult> &results)
{
    if (!sig.image)
        return QString();
    const double w = sig.image->size.width(), h = sig.image->size.height();
    // Markers and labels keep their size against the picture's, whatever its resolution.
    const double r = std::max(w, h) / 110;
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                 "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                                 "viewBox=\"0 0 %1 %2\" style=\"width:100%;max-width:960px\" "
                                 "font-family=\"sans-serif\">")
                      .arg(w)
                      .arg(h);
    svg += QStringLiteral("<image x=\"0\" y=\"0\" width=\"%1\" height=\"%2\" "
                          "xlink:href=\"data:%3;base64,%4\"/>")
               .arg(w)
               .arg(h)
               .arg(QString::fromLatin1(sig.image->type),
                   QString::fromLatin1(sig.image->data.toBase64()));
    QString flagged; // drawn last, over the others
    // A point known only in mm is drawn where the fiducials put it.
    const auto registered = registration(sig, nullptr);
    for (std::size_t k = 0; k < sig.points.size(); ++k) {
        const Point &p = sig.points[k];
        const auto at = placeOnPhoto(p, registered);
        if (!at)
            continue;
        const Verdict v = k < results.size() ? results[k].verdict : Verdict::NotTested;
        const bool flag = isFlagged(v);
        const double size = flag ? r * 1.5 : r;
        const double fontSize = r * (flag ? 1.9 : 1.6);
        const QString verdict = v == Verdict::NotTested ? tr("not tested") : verdictText(v);
        const QString label = flag ? tr("%1 (%2)").arg(p.name, verdict) : p.name;
        QString marker
            = QStringLiteral("<g><title>%1</title>").arg(esc(tr("%1: %2").arg(p.name, verdict)));
        marker += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\" "
                                 "stroke=\"#fff\" stroke-width=\"%5\"/>")
                      .arg(at->x(), 0, 'f', 1)
                      .arg(at->y(), 0, 'f', 1)
                      .arg(size, 0, 'f', 1)
                      .arg(verdictColour(v))
                      .arg(size / 3, 0, 'f', 1);
        // The name on a band of its own, so that it reads on any part of the
        // picture; a flagged one on its verdict's colour. Its width is the
        // text's, estimated: the report carries no font metrics.
        const double width = fontSize * (0.62 * label.size() + 0.6);
        const double left = at->x() + size * 1.4;
        marker += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" "
                                 "fill=\"%6\" fill-opacity=\"0.9\"/>")
                      .arg(left, 0, 'f', 1)
                      .arg(at->y() - fontSize * 0.7, 0, 'f', 1)
                      .arg(width, 0, 'f', 1)
                      .arg(fontSize * 1.4, 0, 'f', 1)
                      .arg(fontSize * 0.3, 0, 'f', 1)
                      .arg(flag ? verdictColour(v) : QStringLiteral("#fff"));
        marker += QStringLiteral(
            "<text x=\"%1\" y=\"%2\" font-size=\"%3\" fill=\"%4\"%5>%6</text></g>")
                      .arg(left + fontSize * 0.3, 0, 'f', 1)
                      .arg(at->y() + fontSize * 0.36, 0, 'f', 1)
                      .arg(fontSize, 0, 'f', 1)
                      .arg(flag ? QLatin1String("#fff") : QLatin1String("#000"))
                      .arg(flag ? QStringLiteral(" font-weight=\"bold\"") : QString())
                      .arg(esc(label));
        if (flag)
            flagged += QStringLiteral("<a xlink:href=\"#p%1\" href=\"#p%1\">%2</a>")
                           .arg(k + 1)
                           .arg(marker);
        else
            svg += marker;
    }
    svg += flagged + QStringLiteral("</svg>");
    return svg;
}

QString svgPlot(const IvCurve *reference, const IvCurve &test)
{
    constexpr double w = 360, h = 240, m = 40;
    Range x, y;
    x.add(test.volts);
    y.add(test.milliamps);
    if (reference) {
        x.add(reference->volts);
        y.add(reference->milliamps);
    }
    x.settle();
    y.settle();
    const double x0 = -x.lo / (x.hi - x.lo) * w;
    const double y0 = h + y.lo / (y.hi - y.lo) * h;
    constexpr double left = 64; // room for the current labels
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                 "height=\"%2\" viewBox=\"%3 %4 %1 %2\" font-size=\"10\">")
                      .arg(w + left + m)
                      .arg(h + 2 * m)
                      .arg(-left)
                      .arg(-m);
    svg += QStringLiteral("<rect x=\"0\" y=\"0\" width=\"%1\" height=\"%2\" fill=\"none\" "
                          "stroke=\"#999\"/>")
               .arg(w)
               .arg(h);
    svg += QStringLiteral("<line x1=\"0\" y1=\"%1\" x2=\"%2\" y2=\"%1\" stroke=\"#ccc\"/>"
                          "<line x1=\"%3\" y1=\"0\" x2=\"%3\" y2=\"%4\" stroke=\"#ccc\"/>")
               .arg(y0, 0, 'f', 1)
               .arg(w)
               .arg(x0, 0, 'f', 1)
               .arg(h);
    svg += QStringLiteral("<text x=\"0\" y=\"%1\">%2 V</text>"
                          "<text x=\"%3\" y=\"%1\" text-anchor=\"end\">%4 V</text>"
                          "<text x=\"-4\" y=\"%5\" text-anchor=\"end\">%6 mA</text>"
                          "<text x=\"-4\" y=\"10\" text-anchor=\"end\">%7 mA</text>")
               .arg(h + 14)
               .arg(x.lo, 0, 'g', 3)
               .arg(w)
               .arg(x.hi, 0, 'g', 3)
               .arg(h)
               .arg(y.lo, 0, 'g', 3)
               .arg(y.hi, 0, 'g', 3);
    if (reference)
        svg += polyline(*reference, x, y, w, h, "#2a7ab0");
    svg += polyline(test, x, y, w, h, "#d0402b");
    svg += QStringLiteral("<text x=\"%1\" y=\"-8\" text-anchor=\"end\" fill=\"#2a7ab0\">%2</text>"
                          "<text x=\"%1\" y=\"-20\" text-anchor=\"end\" fill=\"#d0402b\">%3</text>")
               .arg(w)
               .arg(reference ? esc(tr("reference")) : QString())
               .arg(esc(tr("test")));
    svg += QStringLiteral("</svg>");
    return svg;
}

QString reportTime(const QDateTime &when)
{
    if (!when.isValid())
        return QStringLiteral("-");
    const QDateTime local = when.toLocalTime();
    const QString zone = local.timeZoneAbbreviation();
    // The offset makes the time exact; the zone's name is for people.
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate)
        + (zone.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(zone));
}

QByteArray htmlReport(const RunRecord &record)
{
    const Signature &sig = record.signature;
    const std::vector<PointResult> &results = record.results;
    const RunHeader &info = record.header;
    const BoardVerdict board = boardVerdict(results, sig.probedPoints());
    const int skipped = int(sig.points.size() - sig.probedPoints().size());
    // Unstable and no-contact points are counted apart, as their fixes differ.
    QString counts = tr("%1 points: %2 pass, %3 different, %4 not learned, %5 not tested")
                         .arg(sig.points.size())
                         .arg(board.passed)
                         .arg(board.different)
                         .arg(board.notLearned)
                         .arg(board.notTested);
    if (board.unstable)
        counts += tr(", %1 unstable").arg(board.unstable);
    if (board.noContact)
        counts += tr(", %1 open or no contact: check by hand").arg(board.noContact);
    if (board.netDisagrees)
        counts += tr(", %1 unlike the rest of their net").arg(board.netDisagrees);
    if (board.info)
        counts += tr(", %1 for information only").arg(board.info);
    if (skipped)
        counts += tr(", %1 skipped").arg(skipped);
    QString html = QStringLiteral(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title><style>"
        "body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
        "td,th{border:1px solid #bbb;padding:3px 8px;text-align:left}"
        "%2.verdict{font-size:2em;font-weight:bold;padding:.3em .6em;color:#fff}"
        "</style></head><body>\n")
                       .arg(esc(tr("Board test: %1").arg(sig.board)), verdictStyles());
    html += QStringLiteral("<h1>%1</h1>\n<p class=\"verdict v-%2\">%3</p>\n")
                .arg(esc(tr("Board test: %1").arg(sig.board)),
                    QLatin1String(boardVerdictName(board.kind)), esc(boardVerdictHeadline(board)));
    const auto row = [](const QString &key, const QString &value) {
        return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>")
            .arg(esc(key), esc(value.isEmpty() ? QStringLiteral("-") : value));
    };
    html += QStringLiteral("<table>%1%2%3%4%5%6</table>\n<p>%7</p>\n")
                .arg(row(tr("Serial"), info.serial), row(tr("Operator"), info.operatorName),
                    row(tr("Station"),
                        info.station.isEmpty() ? QSysInfo::machineHostName() : info.station),
                    row(tr("Instrument"), info.instrument),
                    row(tr("Test started"), reportTime(info.started)),
                    row(tr("Test ended"), reportTime(info.finished)), esc(counts));
    if (record.kind == RunPlan::Kind::Test && info.started.isValid() && !record.coverage.complete) {
        const Coverage &c = record.coverage;
        QString text = tr("Partial run: %1 of %2 points tested; not tested: %3")
                           .arg(c.tested.size())
                           .arg(c.tested.size() + c.untested.size())
                           .arg(record.untestedNames());
        if (!c.stopReason.isEmpty())
            text += tr(" (stopped: %1)").arg(c.stopReason);
        html += QStringLiteral("<p class=\"partial\">%1</p>\n").arg(esc(text));
    }
    if (sig.image)
        html += QStringLiteral("<h2>%1</h2>\n<p>%2</p>\n")
                    .arg(esc(tr("Board")), svgBoard(sig, results));
    html += QStringLiteral("<h2>%1</h2>\n<table>%2</table>\n")
                .arg(esc(tr("Settings")), settingsRows(sig.settings));
    html += QStringLiteral("<h2>%1</h2>\n<table><tr><th>%2</th><th>%3</th><th>%4</th><th>%5</th>"
                           "<th>%6</th><th>%7</th></tr>\n")
                .arg(esc(tr("Points")), esc(tr("#")), esc(tr("Point")), esc(tr("Score")),
                    esc(tr("Tolerance")), esc(tr("Verdict")), esc(tr("Reading")));
    QString plots;
    for (std::size_t k = 0; k < sig.points.size(); ++k) {
        const Point &p = sig.points[k];
        const PointResult r = k < results.size() ? results[k] : PointResult();
        const QString score
            = std::isnan(r.score) ? QStringLiteral("-") : QString::number(r.score, 'f', 1);
        const QString verdict = p.check == Check::Skip ? skippedText()
            : r.verdict == Verdict::NotTested          ? tr("not tested")
                                                       : verdictText(r.verdict);
        QString reading = r.curves.empty() ? QString() : r.reading.text();
        if (r.cause)
            reading = tr("%1; now %2").arg(r.cause->text(), reading);
        if (r.verdict == Verdict::NetDisagrees)
            reading = tr("%1; %2").arg(netDisagreementText(sig, p, r.netPoints), reading);
        if (!r.note.isEmpty())
            reading = tr("%1; note: %2").arg(reading, r.note);
        if (const QString marks = resultMarks(r); !marks.isEmpty())
            reading = reading.isEmpty() ? marks : tr("%1; %2").arg(marks, reading);
        const bool flagged = isFlagged(r.verdict);
        // Only the flagged points have a plot to jump to.
        const QString name = flagged
            ? QStringLiteral("<a href=\"#p%1\">%2</a>").arg(k + 1).arg(esc(p.name))
            : esc(p.name);
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td>"
                               "<td>%4</td><td class=\"%5\">%6</td><td>%7</td></tr>\n")
                    .arg(k + 1)
                    .arg(name, score, QString::number(sig.toleranceOf(p), 'f', 1),
                        QLatin1String(verdictName(r.verdict)), esc(verdict), esc(reading));
        if (!flagged)
            continue;
        plots += QStringLiteral("<h3 id=\"p%1\">%2</h3>\n<p>%3</p>\n")
                     .arg(k + 1)
                     .arg(esc(p.name), esc(tr("%1, score %2").arg(verdict, score)));
        for (std::size_t m = 0; m < r.curves.size() && m < p.measurements.size(); ++m) {
            const auto &ref = p.measurements[m].reference;
            plots += svgPlot(ref ? &*ref : nullptr, r.curves[m]) + QStringLiteral("\n");
        }
    }
    html += QStringLiteral("</table>\n");
    if (!plots.isEmpty())
        html
            += QStringLiteral("<h2>%1</h2>\n").arg(esc(tr("Curves of the flagged points"))) + plots;
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

} // namespace sig
