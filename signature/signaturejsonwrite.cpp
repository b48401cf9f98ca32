// Signature files as JSON: the writing, in the lowest format version that
// holds the file, in the layout the reading expects.
#include "signature.h"

#include "knownjson.h"
#include "positionsjson.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace sig {
namespace {

using detail::Json;

Json settingsToJson(const measurement_settings &s)
{
    return Json { { "SamplingRate", s.SamplingRate },
        { "ProbeSignalFrequency", s.ProbeSignalFrequency }, { "NumberPoints", s.NumberPoints },
        { "NumberChargePoints", s.NumberChargePoints }, { "MaxVoltage", s.MaxVoltage },
        { "CurrentSensorMode", s.CurrentSensorMode }, { "OutputMode", s.OutputMode } };
}

Json partsToJson(const std::vector<Part> &parts)
{
    Json all = Json::array();
    for (const Part &part : parts) {
        Json pads = Json::array();
        for (const Pad &pad : part.pads)
            pads.push_back(Json::array({ pad.pin.toStdString(), pad.net.toStdString() }));
        Json o { { "refdes", part.refdes.toStdString() } };
        if (!part.value.isEmpty())
            o["value"] = part.value.toStdString();
        o["pads"] = std::move(pads);
        if (part.mm)
            o["mm"] = Json::array({ part.mm->x(), part.mm->y() });
        if (part.height)
            o["height"] = *part.height;
        all.push_back(std::move(o));
    }
    return all;
}

Json curveToJson(const IvCurve &c)
{
    return Json { { "V", c.volts }, { "mA", c.milliamps } };
}

// A measurement's curves as readReferences reads them; sets *more when it
// has curves of boards after the first.
Json referencesToJson(const Measurement &m, bool *more)
{
    Json mo = Json::object();
    if (m.reference)
        mo["reference"] = curveToJson(*m.reference);
    if (!m.moreBoards.empty()) {
        Json all = Json::array();
        for (const IvCurve &c : m.moreBoards)
            all.push_back(curveToJson(c));
        mo["references"] = std::move(all);
        *more = true;
    }
    return mo;
}

} // namespace

QByteArray serialize(const Signature &sig)
{
    // Each point is written as it is made, not kept as JSON for all of them
    // (a point's JSON takes ten times its text), in the layout one dump of
    // the whole would give: a point is two levels in.
    std::string points;
    bool needsVersion2 = false;
    bool needsVersion3 = false;
    for (const Point &p : sig.points) {
        Json o { { "name", p.name.toStdString() } };
        if (p.tolerance)
            o["tolerance"] = *p.tolerance;
        if (!p.group.isEmpty()) {
            o["group"] = p.group.toStdString();
            needsVersion2 = true;
        }
        // A place that is no number would be written as null.
        if (p.at && isPlace(*p.at))
            o["at"] = detail::pairToJson(*p.at);
        if (!p.component.isEmpty())
            o["component"] = p.component.toStdString();
        if (!p.net.isEmpty())
            o["net"] = p.net.toStdString();
        detail::writeBoardPosition(p, o);
        const bool plain = p.measurements.size() == 1 && !p.measurements[0].settings
            && !p.measurements[0].reference;
        if (!plain) {
            Json ms = Json::array();
            for (const Measurement &m : p.measurements) {
                Json mo = Json::object();
                if (m.settings)
                    mo["settings"] = settingsToJson(*m.settings);
                mo.update(referencesToJson(m, &needsVersion2));
                ms.push_back(std::move(mo));
            }
            o["measurements"] = std::move(ms);
        }
        if (p.check != Check::Test) {
            o["check"] = checkName(p.check);
            needsVersion3 = true;
        }
        if (p.predicted()) {
            o["origin"] = "predicted";
            o["models"] = p.predictedBy.toStdString();
        }
        if (!p.variants.empty()) {
            Json vs = Json::array();
            for (const Variant &v : p.variants) {
                Json ms = Json::array();
                for (const Measurement &m : v.measurements)
                    ms.push_back(referencesToJson(m, &needsVersion2));
                vs.push_back(Json { { "name", v.name.toStdString() }, { "measurements", ms } });
            }
            o["variants"] = std::move(vs);
            needsVersion3 = true;
        }
        const std::string text = o.dump(1);
        points += points.empty() ? "[\n  " : ",\n  ";
        for (std::size_t from = 0; from < text.size();) {
            const std::size_t end = std::min(text.find('\n', from), text.size() - 1) + 1;
            points.append(text, from, end - from);
            if (text[end - 1] == '\n')
                points += "  ";
            from = end;
        }
    }
    points += points.empty() ? "[]" : "\n ]";
    Json j { { "format", "zem-signature" },
        { "version",
            needsVersion3       ? 3
                : needsVersion2 ? 2
                                : 1 },
        { "board", sig.board.toStdString() }, { "tolerance", sig.tolerance },
        { "settings", settingsToJson(sig.settings) } };
    if (sig.image)
        j["image"] = Json { { "type", sig.image->type.toStdString() },
            { "data", sig.image->data.toBase64().toStdString() } };
    if (!sig.fiducials.empty())
        j["fiducials"] = detail::fiducialsToJson(sig.fiducials);
    if (sig.outline.size() >= 3)
        j["outline"] = detail::outlineToJson(sig.outline);
    if (sig.predictionTolerance != kDefaultPredictionTolerance)
        j["prediction_tolerance"] = sig.predictionTolerance;
    if (!sig.common.isEmpty())
        j["common"] = sig.common.toStdString();
    if (!sig.parts.empty())
        j["parts"] = partsToJson(sig.parts);
    j["points"] = Json::array();
    std::string text = j.dump(1);
    const std::size_t empty = text.rfind("[]");
    text.replace(empty, 2, points);
    text += '\n';
    return QByteArray::fromStdString(text);
}

} // namespace sig
