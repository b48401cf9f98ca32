// Signature files as JSON: the reading, which names the point and field at
// fault (the writing is in signaturejsonwrite.cpp).
#include "signature.h"

#include "compare.h"
#include "knownjson.h"
#include "positionsjson.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

using detail::failAt;
using detail::Json;
using detail::ParseError;

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::Signature", text);
}

const Json &member(const Json &o, const char *key, const QString &where)
{
    const auto it = o.find(key);
    if (it == o.end())
        failAt(where, tr("missing field \"%1\"").arg(QLatin1String(key)));
    return *it;
}

double number(const Json &j, const QString &where)
{
    if (!j.is_number() || !std::isfinite(j.get<double>()))
        failAt(where, tr("expected a number"));
    return j.get<double>();
}

std::uint32_t whole(const Json &j, const QString &where, std::uint32_t max)
{
    if (!j.is_number_unsigned() || j.get<std::uint64_t>() > max)
        failAt(where, tr("expected a whole number from 0 to %1").arg(max));
    return std::uint32_t(j.get<std::uint64_t>());
}

QString text(const Json &j, const QString &where)
{
    if (!j.is_string())
        failAt(where, tr("expected a text"));
    return QString::fromStdString(j.get<std::string>());
}

measurement_settings settingsFromJson(const Json &j, const QString &where)
{
    if (!j.is_object())
        failAt(where, tr("expected an object"));
    measurement_settings s {};
    const auto at = [&](const char *key) { return where + QLatin1Char('.') + QLatin1String(key); };
    s.SamplingRate = float(number(member(j, "SamplingRate", where), at("SamplingRate")));
    s.ProbeSignalFrequency
        = float(number(member(j, "ProbeSignalFrequency", where), at("ProbeSignalFrequency")));
    s.NumberPoints = whole(member(j, "NumberPoints", where), at("NumberPoints"), MAX_NUMBER_POINTS);
    s.NumberChargePoints
        = whole(member(j, "NumberChargePoints", where), at("NumberChargePoints"), UINT32_MAX);
    s.MaxVoltage = float(number(member(j, "MaxVoltage", where), at("MaxVoltage")));
    s.CurrentSensorMode = whole(
        member(j, "CurrentSensorMode", where), at("CurrentSensorMode"), CURRENT_SENSE_MODE_I_HIGH);
    s.OutputMode = std::uint8_t(whole(
        member(j, "OutputMode", where), at("OutputMode"), OUT_MODE_PROBE_SIGNAL_WITH_GROUNDING));
    const QString problem = checkSettings(s);
    if (!problem.isEmpty())
        failAt(where, problem);
    return s;
}

std::vector<double> numbers(const Json &j, const QString &where, std::size_t count)
{
    if (!j.is_array() || j.size() != count)
        failAt(where, tr("expected a list of %1 numbers").arg(count));
    std::vector<double> out;
    out.reserve(count);
    for (std::size_t k = 0; k < count; ++k)
        out.push_back(number(j[k], QStringLiteral("%1[%2]").arg(where).arg(k)));
    return out;
}

std::optional<Picture> pictureFromJson(const Json &j)
{
    const QString where = QStringLiteral("image");
    if (!j.is_object())
        failAt(where, tr("expected an object"));
    const QString type = text(member(j, "type", where), where + QStringLiteral(".type"));
    const Json &encoded = member(j, "data", where);
    if (!encoded.is_string())
        failAt(where + QStringLiteral(".data"), tr("expected a text"));
    // Megabytes: decoded from the parser's own text, without a copy.
    const std::string &base64 = encoded.get_ref<const std::string &>();
    const auto data = QByteArray::fromBase64Encoding(
        QByteArray::fromRawData(base64.data(), qsizetype(base64.size())),
        QByteArray::AbortOnBase64DecodingErrors);
    if (!data)
        failAt(where + QStringLiteral(".data"), tr("expected the picture in base64"));
    QString why;
    auto picture = pictureFromData(*data, &why);
    if (!picture)
        failAt(where + QStringLiteral(".data"), why);
    if (QString::fromLatin1(picture->type) != type)
        failAt(where + QStringLiteral(".type"),
            tr("the data is %1, not %2").arg(QString::fromLatin1(picture->type), type));
    return picture;
}

// A point's place, when it is two finite numbers; one that is not is read
// unplaced, with a warning (see finitePair).
std::optional<QPointF> placeFromJson(const Json &a, const QString &where, QStringList &warnings)
{
    return detail::finitePair(a, where, tr("expected [x, y] in the picture's pixels"),
        tr("not a place on the picture; the point is left unplaced"), warnings);
}

// A measurement's curves: "reference", the first good board's, and
// "references", those learned after it; `n` samples each.
void readReferences(const Json &m, const QString &at, std::size_t n, Measurement &out)
{
    const auto curveAt = [n](const Json &r, const QString &rat) {
        if (!r.is_object())
            failAt(rat, tr("expected an object"));
        IvCurve c;
        c.volts = numbers(member(r, "V", rat), rat + QStringLiteral(".V"), n);
        c.milliamps = numbers(member(r, "mA", rat), rat + QStringLiteral(".mA"), n);
        return c;
    };
    if (const auto r = m.find("reference"); r != m.end() && !r->is_null())
        out.reference = curveAt(*r, at + QStringLiteral(".reference"));
    if (const auto rs = m.find("references"); rs != m.end()) {
        const QString rat = at + QStringLiteral(".references");
        if (!rs->is_array() || rs->size() > kMaxReferences)
            failAt(rat, tr("expected a list of at most %1 curves").arg(kMaxReferences));
        for (std::size_t b = 0; b < rs->size(); ++b)
            out.addReference(curveAt((*rs)[b], QStringLiteral("%1[%2]").arg(rat).arg(b)));
    }
}

// A variant pairs its measurements with the point's, so the point's come
// first and must be learned: a variant of nothing cannot be matched.
void readVariants(const Json &vs, const QString &where, const Signature &sig, Point &p)
{
    if (!vs.is_array())
        failAt(where, tr("expected a list of variants"));
    if (!vs.empty() && !p.learned())
        failAt(where, tr("the point needs references of its own before variants"));
    for (std::size_t k = 0; k < vs.size(); ++k) {
        const Json &v = vs[k];
        QString at = QStringLiteral("%1[%2]").arg(where).arg(k);
        if (!v.is_object())
            failAt(at, tr("expected an object"));
        Variant out;
        out.name = text(member(v, "name", at), at + QStringLiteral(".name")).trimmed();
        if (out.name.isEmpty())
            failAt(at + QStringLiteral(".name"), tr("a variant needs a name"));
        if (p.findVariant(out.name) >= 0)
            failAt(at + QStringLiteral(".name"), tr("a second variant named \"%1\"").arg(out.name));
        at = tr("%1 \"%2\"").arg(where, out.name);
        const Json &ms = member(v, "measurements", at);
        if (!ms.is_array() || ms.size() != p.measurements.size())
            failAt(at + QStringLiteral(".measurements"),
                tr("expected a list of %1 measurements, one per measurement of the point")
                    .arg(p.measurements.size()));
        for (std::size_t m = 0; m < ms.size(); ++m) {
            const QString mat = QStringLiteral("%1.measurements[%2]").arg(at).arg(m);
            if (!ms[m].is_object())
                failAt(mat, tr("expected an object"));
            if (ms[m].contains("settings"))
                failAt(mat + QStringLiteral(".settings"),
                    tr("a variant is measured with the point's settings"));
            Measurement out2;
            readReferences(ms[m], mat, sig.settingsOf(p, m).NumberPoints, out2);
            if (!out2.reference)
                failAt(mat + QStringLiteral(".reference"), tr("missing the variant's curve"));
            out.measurements.push_back(std::move(out2));
        }
        p.variants.push_back(std::move(out));
    }
}

Point pointFromJson(const Json &j, const Signature &sig, std::size_t index, QSet<QString> &names,
    QStringList &warnings)
{
    QString where = QStringLiteral("points[%1]").arg(index);
    if (!j.is_object())
        failAt(where, tr("expected an object"));
    Point p;
    p.name = text(member(j, "name", where), where + QStringLiteral(".name")).trimmed();
    if (p.name.isEmpty())
        failAt(where + QStringLiteral(".name"), tr("a point needs a name"));
    if (const QString why = checkPointName(p.name); !why.isEmpty())
        failAt(where + QStringLiteral(".name"), why);
    // A set, not a search of the points before: files have 100,000s of points.
    if (names.contains(p.name))
        failAt(where + QStringLiteral(".name"), tr("a second point named \"%1\"").arg(p.name));
    names.insert(p.name);
    // From here on the point is known by its name.
    where = tr("point \"%1\"").arg(p.name);
    if (const auto t = j.find("tolerance"); t != j.end()) {
        const double tol = number(*t, where + QStringLiteral(".tolerance"));
        if (tol < 0 || tol > 100)
            failAt(where + QStringLiteral(".tolerance"), tr("expected 0 to 100 (percent)"));
        p.tolerance = tol;
    }
    if (const auto g = j.find("group"); g != j.end())
        p.group = text(*g, where + QStringLiteral(".group")).trimmed();
    if (const auto a = j.find("at"); a != j.end())
        p.at = placeFromJson(*a, where + QStringLiteral(".at"), warnings);
    if (const auto c = j.find("component"); c != j.end())
        p.component = text(*c, where + QStringLiteral(".component")).trimmed();
    if (const auto n = j.find("net"); n != j.end())
        p.net = text(*n, where + QStringLiteral(".net")).trimmed();
    detail::readBoardPosition(j, where, p, warnings);
    if (const auto c = j.find("check"); c != j.end()) {
        const QString check = text(*c, where + QStringLiteral(".check"));
        if (check == QLatin1String("info"))
            p.check = Check::Info;
        else if (check == QLatin1String("skip"))
            p.check = Check::Skip;
        else if (check != QLatin1String("test"))
            failAt(where + QStringLiteral(".check"), tr("expected \"test\", \"info\" or \"skip\""));
    }
    if (const auto ms = j.find("measurements"); ms != j.end()) {
        if (!ms->is_array() || ms->empty())
            failAt(where + QStringLiteral(".measurements"), tr("expected a list of measurements"));
        p.measurements.clear();
        for (std::size_t k = 0; k < ms->size(); ++k) {
            const Json &m = (*ms)[k];
            const QString at = QStringLiteral("%1.measurements[%2]").arg(where).arg(k);
            if (!m.is_object())
                failAt(at, tr("expected an object"));
            Measurement out;
            if (const auto s = m.find("settings"); s != m.end())
                out.settings = settingsFromJson(*s, at + QStringLiteral(".settings"));
            readReferences(
                m, at, out.settings ? out.settings->NumberPoints : sig.settings.NumberPoints, out);
            p.measurements.push_back(std::move(out));
        }
    }
    if (const auto vs = j.find("variants"); vs != j.end())
        readVariants(*vs, where + QStringLiteral(".variants"), sig, p);
    if (const auto o = j.find("origin"); o != j.end()) {
        const QString origin = text(*o, where + QStringLiteral(".origin"));
        if (origin == QLatin1String("predicted"))
            p.predictedBy = text(member(j, "models", where), where + QStringLiteral(".models"));
        else if (origin != QLatin1String("learned"))
            failAt(where + QStringLiteral(".origin"), tr("expected \"learned\" or \"predicted\""));
        if (p.predictedBy.isEmpty() && origin == QLatin1String("predicted"))
            failAt(where + QStringLiteral(".models"), tr("expected the models' version"));
    }
    return p;
}

// The netlist's parts: {"refdes": "R1", "value": "4k7", "pads": [["1", "N1"], ...]}.
std::vector<Part> partsFromJson(const Json &j)
{
    if (!j.is_array())
        failAt(QStringLiteral("parts"), tr("expected a list of parts"));
    std::vector<Part> parts;
    parts.reserve(j.size());
    for (std::size_t k = 0; k < j.size(); ++k) {
        const QString where = QStringLiteral("parts[%1]").arg(k);
        if (!j[k].is_object())
            failAt(where, tr("expected an object"));
        Part part;
        part.refdes = text(member(j[k], "refdes", where), where + QStringLiteral(".refdes"));
        if (const auto v = j[k].find("value"); v != j[k].end())
            part.value = text(*v, where + QStringLiteral(".value"));
        const Json &pads = member(j[k], "pads", where);
        if (!pads.is_array())
            failAt(where + QStringLiteral(".pads"), tr("expected a list of [pin, net]"));
        for (std::size_t n = 0; n < pads.size(); ++n) {
            const QString at = QStringLiteral("%1.pads[%2]").arg(where).arg(n);
            if (!pads[n].is_array() || pads[n].size() != 2)
                failAt(at, tr("expected [pin, net]"));
            part.pads.push_back({ text(pads[n][0], at), text(pads[n][1], at) });
        }
        if (const auto mm = j[k].find("mm"); mm != j[k].end()) {
            if (!mm->is_array() || mm->size() != 2)
                failAt(where + QStringLiteral(".mm"), tr("expected [x, y]"));
            part.mm = QPointF(number((*mm)[0], where + QStringLiteral(".mm")),
                number((*mm)[1], where + QStringLiteral(".mm")));
        }
        if (const auto h = j[k].find("height"); h != j[k].end()) {
            part.height = number(*h, where + QStringLiteral(".height"));
            if (*part.height < 0)
                failAt(where + QStringLiteral(".height"), tr("expected a height of 0 mm or more"));
        }
        parts.push_back(std::move(part));
    }
    return parts;
}

Signature fromJson(const Json &j)
{
    if (!j.is_object())
        failAt(tr("the file"), tr("expected a JSON object"));
    if (member(j, "format", tr("the file")) != "zem-signature")
        failAt(QStringLiteral("format"), tr("not a signature file"));
    const Json &version = member(j, "version", tr("the file"));
    // Compared as read: a number past 32 bits must not wrap to a known one.
    if (!version.is_number_integer() || version.get<std::int64_t>() < 1
        || (version.is_number_unsigned() && version.get<std::uint64_t>() > kFormatVersion)
        || version.get<std::int64_t>() > kFormatVersion)
        failAt(QStringLiteral("version"),
            tr("version %1 is not supported (this program reads 1 to %2)")
                .arg(QString::fromStdString(version.dump()))
                .arg(kFormatVersion));
    Signature sig;
    sig.board = text(member(j, "board", tr("the file")), QStringLiteral("board"));
    if (const auto image = j.find("image"); image != j.end()) {
        sig.image = pictureFromJson(*image);
        // Kept, so that nothing in the file is lost, but said.
        if (const QString why = checkPictureSize(*sig.image); !why.isEmpty())
            sig.warnings << tr("image: %1").arg(why);
    }
    sig.settings
        = settingsFromJson(member(j, "settings", tr("the file")), QStringLiteral("settings"));
    if (const auto t = j.find("tolerance"); t != j.end()) {
        sig.tolerance = number(*t, QStringLiteral("tolerance"));
        if (sig.tolerance < 0 || sig.tolerance > 100)
            failAt(QStringLiteral("tolerance"), tr("expected 0 to 100 (percent)"));
    }
    if (const auto t = j.find("prediction_tolerance"); t != j.end()) {
        sig.predictionTolerance = number(*t, QStringLiteral("prediction_tolerance"));
        if (sig.predictionTolerance < 0 || sig.predictionTolerance > 100)
            failAt(QStringLiteral("prediction_tolerance"), tr("expected 0 to 100 (percent)"));
    }
    if (const auto c = j.find("common"); c != j.end())
        sig.common = text(*c, QStringLiteral("common")).trimmed();
    if (const auto parts = j.find("parts"); parts != j.end())
        sig.parts = partsFromJson(*parts);
    const Json &points = member(j, "points", tr("the file"));
    if (!points.is_array())
        failAt(QStringLiteral("points"), tr("expected a list of points"));
    QSet<QString> names;
    names.reserve(qsizetype(points.size()));
    sig.points.reserve(points.size());
    for (std::size_t k = 0; k < points.size(); ++k)
        sig.points.push_back(pointFromJson(points[k], sig, k, names, sig.warnings));
    if (const auto f = j.find("fiducials"); f != j.end())
        sig.fiducials = detail::readFiducials(*f, sig.warnings);
    if (const auto o = j.find("outline"); o != j.end())
        sig.outline = detail::readOutline(*o, sig.warnings);
    return sig;
}

} // namespace

std::optional<Signature> parse(const QByteArray &data, QString *error)
{
    Json j;
    if (!readKnownJson(data, j)) {
        if (error)
            *error = tr("not valid JSON");
        return std::nullopt;
    }
    try {
        return fromJson(j);
    } catch (const ParseError &e) {
        if (error)
            *error = tr("%1: %2").arg(e.where, e.what);
    } catch (const std::exception &) {
        if (error)
            *error = tr("unreadable signature");
    }
    return std::nullopt;
}

} // namespace sig
