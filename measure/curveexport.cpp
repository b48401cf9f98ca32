#include "curveexport.h"

#include "curve.h"
#include "records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace {

// "%f" as zem_example prints it, whatever the locale.
void appendFixed(QByteArray &out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    // A locale with a decimal comma would break both CSV and JSON.
    for (char *c = text; *c; ++c)
        if (*c == ',')
            *c = '.';
    out += text;
}

void appendCsvValue(QByteArray &out, double value)
{
    if (std::isfinite(value))
        out += QByteArray::number(value, 'g', 9);
}

// "index,time_ms,voltage_V,current_mA" and the line's end.
void appendCsvSample(QByteArray &out, const Curve &curve, std::size_t i)
{
    out += QByteArray::number(qulonglong(i));
    out += ',';
    appendCsvValue(out, curve.timeMs(i));
    out += ',';
    appendCsvValue(out, curve.voltage[i]);
    out += ',';
    appendCsvValue(out, curve.current[i]);
    out += '\n';
}

void appendArray(QByteArray &out, const char *name, const std::vector<float> &values)
{
    out += "    \"";
    out += name;
    out += "\": [";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ", ";
        appendFixed(out, values[i]);
    }
    out += "],\n";
}

// A field's value by its name when one names it exactly, else the number.
template <std::size_t N> QString named(const zem::NamedValue (&values)[N], std::uint32_t v)
{
    for (const zem::NamedValue &n : values)
        if (n.kind == zem::ValueKind::Constant && std::uint32_t(n.value) == v)
            return QLatin1String(n.name);
    return QString::number(v);
}

// The settings as Field=value pairs, in the record's order.
std::vector<std::pair<QString, QString>> settingsByName(const measurement_settings &s)
{
    return { { QStringLiteral("SamplingRate"), QString::number(s.SamplingRate, 'g', 9) },
        { QStringLiteral("ProbeSignalFrequency"), QString::number(s.ProbeSignalFrequency, 'g', 9) },
        { QStringLiteral("NumberPoints"), QString::number(s.NumberPoints) },
        { QStringLiteral("NumberChargePoints"), QString::number(s.NumberChargePoints) },
        { QStringLiteral("MaxVoltage"), QString::number(s.MaxVoltage, 'g', 9) },
        { QStringLiteral("CurrentSensorMode"),
            named(zem::kCurrentSensorModeValues, s.CurrentSensorMode) },
        { QStringLiteral("OutputMode"), named(zem::kOutputModeValues, s.OutputMode) } };
}

QString startedText(const Curve &curve)
{
    return curve.started.isValid()
        ? curve.started.toOffsetFromUtc(curve.started.offsetFromUtc()).toString(Qt::ISODateWithMs)
        : QString();
}

// A comment's text on one line, whatever a name holds.
QByteArray oneLine(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return t.toUtf8();
}

} // namespace

QByteArray curvesCsv(const std::vector<NamedCurve> &curves, const CurveSource &source)
{
    QByteArray out;
    if (!source.url.isEmpty())
        out += "# url: " + oneLine(source.url) + '\n';
    if (source.serialNumber)
        out += "# serial number: " + QByteArray::number(*source.serialNumber) + '\n';
    for (std::size_t k = 0; k < curves.size(); ++k) {
        const Curve &c = *curves[k].curve;
        const QByteArray n = QByteArray::number(qulonglong(k + 1));
        out += "# curve " + n + ": " + oneLine(curves[k].name) + '\n';
        if (c.started.isValid())
            out += "# curve " + n + " started: " + startedText(c).toUtf8() + '\n';
        out += "# curve " + n + " complete: " + QByteArray(c.complete ? "yes" : "no") + '\n';
        if (c.hasSettings) {
            out += "# curve " + n + " settings:";
            for (const auto &[field, value] : settingsByName(c.settings))
                out += ' ' + field.toUtf8() + '=' + value.toUtf8();
            out += '\n';
        }
    }
    out += "curve,index,time_ms,voltage_V,current_mA\n";
    for (std::size_t k = 0; k < curves.size(); ++k) {
        const Curve &c = *curves[k].curve;
        for (std::size_t i = 0; i < c.size(); ++i) {
            out += QByteArray::number(qulonglong(k + 1)) + ',';
            appendCsvSample(out, c, i);
        }
    }
    return out;
}

QByteArray curvesJson(const std::vector<NamedCurve> &curves, const CurveSource &source)
{
    QJsonObject root;
    root[QStringLiteral("url")] = source.url.isEmpty() ? QJsonValue() : QJsonValue(source.url);
    root[QStringLiteral("serial_number")]
        = source.serialNumber ? QJsonValue(qint64(*source.serialNumber)) : QJsonValue();
    QJsonArray list;
    for (const NamedCurve &n : curves) {
        const Curve &c = *n.curve;
        QJsonObject o;
        o[QStringLiteral("name")] = n.name;
        o[QStringLiteral("started")]
            = c.started.isValid() ? QJsonValue(startedText(c)) : QJsonValue();
        o[QStringLiteral("complete")] = c.complete;
        if (c.hasSettings) {
            QJsonObject settings;
            for (const auto &[field, value] : settingsByName(c.settings)) {
                bool number = false;
                const double v = value.toDouble(&number);
                settings[field] = number ? QJsonValue(v) : QJsonValue(value);
            }
            o[QStringLiteral("settings")] = settings;
        } else {
            o[QStringLiteral("settings")] = QJsonValue();
        }
        QJsonArray v, i;
        for (std::size_t k = 0; k < c.size(); ++k) {
            v.append(c.hasPoint(k) ? QJsonValue(double(c.voltage[k])) : QJsonValue());
            i.append(c.hasPoint(k) ? QJsonValue(double(c.current[k])) : QJsonValue());
        }
        o[QStringLiteral("voltage")] = v;
        o[QStringLiteral("current")] = i;
        list.append(o);
    }
    root[QStringLiteral("curves")] = list;
    root[QStringLiteral("voltage_units")] = QStringLiteral("Volts");
    root[QStringLiteral("current_units")] = QStringLiteral("mA");
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray curveCsv(const Curve &curve)
{
    QByteArray out;
    if (curve.started.isValid())
        // With its offset from UTC, so the time reads the same anywhere.
        out += "# started: "
            + curve.started.toOffsetFromUtc(curve.started.offsetFromUtc())
                  .toString(Qt::ISODateWithMs)
                  .toUtf8()
            + '\n';
    out += "# complete: " + QByteArray(curve.complete ? "yes" : "no") + '\n';
    if (curve.hasSettings) {
        const measurement_settings &s = curve.settings;
        out += "# SamplingRate: " + QByteArray::number(s.SamplingRate, 'g', 9) + " Hz\n";
        out += "# ProbeSignalFrequency: " + QByteArray::number(s.ProbeSignalFrequency, 'g', 9)
            + " Hz\n";
        out += "# NumberPoints: " + QByteArray::number(s.NumberPoints) + '\n';
        out += "# NumberChargePoints: " + QByteArray::number(s.NumberChargePoints) + '\n';
        out += "# MaxVoltage: " + QByteArray::number(s.MaxVoltage, 'g', 9) + " V\n";
        out += "# CurrentSensorMode: " + QByteArray::number(s.CurrentSensorMode) + '\n';
        out += "# OutputMode: " + QByteArray::number(s.OutputMode) + '\n';
    }
    out += "index,time_ms,voltage_V,current_mA\n";
    for (std::size_t i = 0; i < curve.size(); ++i) {
        appendCsvSample(out, curve, i);
    }
    return out;
}

QByteArray curveJson(const Curve &curve)
{
    QByteArray out = "{\n";
    appendArray(out, "voltage", curve.voltage);
    appendArray(out, "current", curve.current);
    out += "    \"voltage_units\": \"Volts\",\n";
    out += "    \"current_units\": \"mA\"\n";
    out += "}\n";
    return out;
}
