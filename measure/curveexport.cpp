#include "curveexport.h"

#include "csvwriter.h"
#include "curve.h"
#include "records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <string>

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

// "index,time_ms,voltage_V,current_mA" and the line's end.
void writeCsvSample(zem::files::CsvWriter &csv, const Curve &curve, std::size_t i)
{
    // Unread points and values that are no number are empty cells.
    csv.integer(std::int64_t(i))
        .number(curve.timeMs(i))
        .number(curve.voltage[i])
        .number(curve.current[i])
        .endRow();
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
std::string oneLine(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return t.toStdString();
}

} // namespace

QByteArray curvesCsv(const std::vector<NamedCurve> &curves, const CurveSource &source)
{
    zem::files::CsvWriter csv;
    if (!source.url.isEmpty())
        csv.line("# url: " + oneLine(source.url));
    if (source.serialNumber)
        csv.line("# serial number: " + std::to_string(*source.serialNumber));
    for (std::size_t k = 0; k < curves.size(); ++k) {
        const Curve &c = *curves[k].curve;
        const std::string n = "# curve " + std::to_string(k + 1);
        csv.line(n + ": " + oneLine(curves[k].name));
        if (c.started.isValid())
            csv.line(n + " started: " + startedText(c).toStdString());
        csv.line(n + " complete: " + (c.complete ? "yes" : "no"));
        if (c.hasSettings) {
            std::string line = n + " settings:";
            for (const auto &[field, value] : settingsByName(c.settings))
                line += ' ' + field.toStdString() + '=' + value.toStdString();
            csv.line(line);
        }
    }
    csv.line("curve,index,time_ms,voltage_V,current_mA");
    for (std::size_t k = 0; k < curves.size(); ++k) {
        const Curve &c = *curves[k].curve;
        for (std::size_t i = 0; i < c.size(); ++i) {
            csv.integer(std::int64_t(k + 1));
            writeCsvSample(csv, c, i);
        }
    }
    return QByteArray::fromStdString(csv.take());
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
    zem::files::CsvWriter csv;
    if (curve.started.isValid())
        // With its offset from UTC, so the time reads the same anywhere.
        csv.line("# started: " + startedText(curve).toStdString());
    csv.line(std::string("# complete: ") + (curve.complete ? "yes" : "no"));
    if (curve.hasSettings) {
        const measurement_settings &s = curve.settings;
        const auto number = [](double v) { return QByteArray::number(v, 'g', 9).toStdString(); };
        csv.line("# SamplingRate: " + number(s.SamplingRate) + " Hz");
        csv.line("# ProbeSignalFrequency: " + number(s.ProbeSignalFrequency) + " Hz");
        csv.line("# NumberPoints: " + std::to_string(s.NumberPoints));
        csv.line("# NumberChargePoints: " + std::to_string(s.NumberChargePoints));
        csv.line("# MaxVoltage: " + number(s.MaxVoltage) + " V");
        csv.line("# CurrentSensorMode: " + std::to_string(s.CurrentSensorMode));
        csv.line("# OutputMode: " + std::to_string(s.OutputMode));
    }
    csv.line("index,time_ms,voltage_V,current_mA");
    for (std::size_t i = 0; i < curve.size(); ++i)
        writeCsvSample(csv, curve, i);
    return QByteArray::fromStdString(csv.take());
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
