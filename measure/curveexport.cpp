#include "curveexport.h"

#include "curve.h"


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

} // namespace

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
        out += QByteArray::number(qulonglong(i));
        out += ',';
        appendCsvValue(out, curve.timeMs(i));
        out += ',';
        appendCsvValue(out, curve.voltage[i]);
        out += ',';
        appendCsvValue(out, curve.current[i]);
        out += '\n';
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

