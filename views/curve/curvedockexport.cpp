// The Curve dock's exports: the latest curve, every curve shown, or the
// chart as a picture, by the file's type.
#include "curvedock.h"

#include "curvechartview.h"
#include "curveexport.h"
#include "dockcontext.h"
#include "ivchart.h"
#include "qatomicfile.h"
#include "savefile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>

QString CurveDock::exportTo(const QString &fileName, bool everyCurve)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (everyCurve && (suffix == QLatin1String("csv") || suffix == QLatin1String("json"))) {
        std::vector<NamedCurve> curves;
        if (!shown.empty())
            curves.push_back({ tr("Latest"), &shown });
        if (!m_page.empty())
            curves.push_back({ tr("Page"), &m_page });
        for (std::size_t k = 0; k < held.size(); ++k)
            curves.push_back({ view->heldName(int(k)), &held[k] });
        if (curves.empty())
            return tr("There is no curve to export");
        const CurveSource source { m_url, m_serialNumber };
        return zem::files::writeFile(fileName,
            suffix == QLatin1String("csv") ? curvesCsv(curves, source)
                                           : curvesJson(curves, source));
    }
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("json")) {
        if (shown.empty())
            return tr("There is no curve to export");
        return zem::files::writeFile(
            fileName, suffix == QLatin1String("csv") ? curveCsv(shown) : curveJson(shown));
    }
    // A reference held just before has its legend entry laid out first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (suffix == QLatin1String("png")) {
        // The chart with its figures under it, as the dock shows them.
        const QPixmap chartPicture = view->grab();
        const QPixmap figuresPicture = figures->grab();
        QPixmap picture(chartPicture.width(), chartPicture.height() + figuresPicture.height() + 8);
        picture.fill(palette().color(QPalette::Window));
        QPainter painter(&picture);
        painter.drawPixmap(0, 0, chartPicture);
        painter.drawPixmap(4, chartPicture.height() + 4, figuresPicture);
        painter.end();
        if (!picture.save(&buffer, "PNG"))
            return tr("The chart could not be drawn as PNG");
    } else if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(view->size());
        svg.setViewBox(view->rect());
        svg.setTitle(tr("Current-voltage curve"));
        QPainter painter;
        if (!painter.begin(&svg))
            return tr("The chart could not be drawn as SVG");
        view->render(&painter);
        painter.end();
    } else {
        return tr("Unknown file type \"%1\": use .csv, .json, .png or .svg").arg(suffix);
    }
    return zem::files::writeFile(fileName, bytes);
}

void CurveDock::exportCurve()
{
    const QStringList filters { tr("CSV files (*.csv)"), tr("JSON files (*.json)"),
        tr("CSV, every curve shown (*.csv)"), tr("JSON, every curve shown (*.json)"),
        tr("PNG images (*.png)"), tr("SVG images (*.svg)") };
    saveWithDialog(m_context,
        { this, tr("Export curve"), QStringLiteral("curve.csv"),
            filters.join(QStringLiteral(";;")) },
        tr("Export curve"), [this, &filters](QString name, const QString &filter) {
            // A name without a known suffix takes the one of the type picked.
            static const QRegularExpression known(QStringLiteral("\\.(csv|json|png|svg)$"),
                QRegularExpression::CaseInsensitiveOption);
            if (!known.match(name).hasMatch()) {
                static const QRegularExpression pattern(QStringLiteral("\\(\\*(\\.\\w+)\\)"));
                const QRegularExpressionMatch m = pattern.match(filter);
                name += m.hasMatch() ? m.captured(1) : QStringLiteral(".csv");
            }
            const QString error = exportTo(name, filter == filters[2] || filter == filters[3]);
            const QString message = error.isEmpty()
                ? tr("Exported to %1").arg(name)
                : tr("Cannot export to %1: %2").arg(name, error);
            setStatus(message);
            emit logMessage(message, error.isEmpty() ? LogLevel::Normal : LogLevel::Failure);
            return error.isEmpty() ? QString() : message;
        });
}
