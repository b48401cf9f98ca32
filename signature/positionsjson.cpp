#include "positionsjson.h"

#include <QCoreApplication>
#include <QSet>

#include <cmath>

namespace sig::detail {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::Signature", text);
}

QString textAt(const Json &j, const QString &where)
{
    if (!j.is_string())
        failAt(where, tr("expected a text"));
    return QString::fromStdString(j.get<std::string>());
}

} // namespace

void failAt(const QString &where, const QString &what)
{
    throw ParseError { where, what };
}

std::optional<QPointF> finitePair(const Json &a, const QString &where, const QString &expected,
    const QString &dropped, QStringList &warnings)
{
    if (!a.is_array() || a.size() != 2)
        failAt(where, expected);
    const auto finite
        = [](const Json &v) { return v.is_number() && std::isfinite(v.get<double>()); };
    if (finite(a[0]) && finite(a[1]))
        return QPointF(a[0].get<double>(), a[1].get<double>());
    for (std::size_t k = 0; k < 2; ++k)
        if (!finite(a[k]) && !a[k].is_null() && !a[k].is_number())
            failAt(QStringLiteral("%1[%2]").arg(where).arg(k), tr("expected a number"));
    warnings << tr("%1: %2 is %3").arg(where, QString::fromStdString(a.dump()), dropped);
    return std::nullopt;
}

Json pairToJson(const QPointF &p)
{
    return Json::array({ p.x(), p.y() });
}

void readBoardPosition(const Json &point, const QString &where, Point &p, QStringList &warnings)
{
    if (const auto mm = point.find("mm"); mm != point.end())
        p.mm = finitePair(*mm, where + QStringLiteral(".mm"), tr("expected [x, y] in millimetres"),
            tr("not a position on the board; the point is left without one"), warnings);
    if (const auto side = point.find("side"); side != point.end()) {
        const QString s = textAt(*side, where + QStringLiteral(".side"));
        if (s != QLatin1String("top") && s != QLatin1String("bottom"))
            failAt(where + QStringLiteral(".side"), tr("expected \"top\" or \"bottom\""));
        p.side = s == QLatin1String("top") ? Side::Top : Side::Bottom;
    }
    if (const auto e = point.find("expect"); e != point.end()) {
        const QString at = where + QStringLiteral(".expect");
        if (!e->is_object() || e->size() != 1)
            failAt(at,
                tr("expected one of {\"ohms\": N}, {\"farads\": N}, {\"henries\": N}, "
                   "{\"open\": true}"));
        const std::string key = e->begin().key();
        const Json &v = e->begin().value();
        // A pin that should read open: learning it open is no mistake.
        if (key == "open") {
            if (!v.is_boolean() || !v.get<bool>())
                failAt(at + QStringLiteral(".open"), tr("expected true"));
            p.expect = Expected { QStringLiteral("open"), 0 };
            return;
        }
        if (key != "ohms" && key != "farads" && key != "henries")
            failAt(at, tr("expected \"ohms\", \"farads\", \"henries\" or \"open\""));
        if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < 0)
            failAt(at + QLatin1Char('.') + QString::fromStdString(key),
                tr("expected a number, 0 or more"));
        p.expect = Expected { QString::fromStdString(key), v.get<double>() };
    }
}

void writeBoardPosition(const Point &p, Json &point)
{
    // A position that is no number would be written as null.
    if (p.mm && isPlace(*p.mm))
        point["mm"] = pairToJson(*p.mm);
    if (p.side)
        point["side"] = *p.side == Side::Top ? "top" : "bottom";
    if (p.expect && p.expect->quantity == QLatin1String("open"))
        point["expect"] = Json { { "open", true } };
    else if (p.expect && std::isfinite(p.expect->value))
        point["expect"] = Json { { p.expect->quantity.toStdString(), p.expect->value } };
}

std::vector<Fiducial> readFiducials(const Json &list, QStringList &warnings)
{
    const QString where = QStringLiteral("fiducials");
    if (!list.is_array() || list.size() > kMaxFiducials)
        failAt(where, tr("expected a list of at most %1 fiducials").arg(kMaxFiducials));
    std::vector<Fiducial> out;
    QSet<QString> names;
    for (std::size_t k = 0; k < list.size(); ++k) {
        const Json &j = list[k];
        QString at = QStringLiteral("%1[%2]").arg(where).arg(k);
        if (!j.is_object())
            failAt(at, tr("expected an object"));
        const auto name = j.find("name");
        if (name == j.end())
            failAt(at, tr("missing field \"name\""));
        Fiducial f;
        f.name = textAt(*name, at + QStringLiteral(".name")).trimmed();
        if (f.name.isEmpty())
            failAt(at + QStringLiteral(".name"), tr("a fiducial needs a name"));
        if (names.contains(f.name))
            failAt(at + QStringLiteral(".name"), tr("a second fiducial named \"%1\"").arg(f.name));
        names.insert(f.name);
        at = tr("fiducial \"%1\"").arg(f.name);
        const auto mm = j.find("mm");
        if (mm == j.end())
            failAt(at, tr("missing field \"mm\""));
        const auto position
            = finitePair(*mm, at + QStringLiteral(".mm"), tr("expected [x, y] in millimetres"),
                tr("not a position on the board; the fiducial is left out"), warnings);
        if (const auto px = j.find("px"); px != j.end())
            f.px = finitePair(*px, at + QStringLiteral(".px"),
                tr("expected [x, y] in the picture's pixels"),
                tr("not a place on the picture; the fiducial is left unplaced"), warnings);
        if (const auto machine = j.find("machine"); machine != j.end())
            f.machine = finitePair(*machine, at + QStringLiteral(".machine"),
                tr("expected [x, y] in the machine's millimetres"),
                tr("not a machine position; the fiducial must be taught again"), warnings);
        if (!position)
            continue;
        f.mm = *position;
        out.push_back(std::move(f));
    }
    return out;
}

Json fiducialsToJson(const std::vector<Fiducial> &fiducials)
{
    Json list = Json::array();
    for (const Fiducial &f : fiducials) {
        if (!isPlace(f.mm))
            continue;
        Json o { { "name", f.name.toStdString() }, { "mm", pairToJson(f.mm) } };
        if (f.px && isPlace(*f.px))
            o["px"] = pairToJson(*f.px);
        if (f.machine && isPlace(*f.machine))
            o["machine"] = pairToJson(*f.machine);
        list.push_back(std::move(o));
    }
    return list;
}

std::vector<QPointF> readOutline(const Json &list, QStringList &warnings)
{
    const QString where = QStringLiteral("outline");
    if (!list.is_array() || list.size() < 3)
        failAt(where, tr("expected a list of at least 3 corners [x, y] in millimetres"));
    std::vector<QPointF> out;
    out.reserve(list.size());
    for (std::size_t k = 0; k < list.size(); ++k) {
        const auto corner = finitePair(list[k], QStringLiteral("%1[%2]").arg(where).arg(k),
            tr("expected [x, y] in millimetres"), tr("not a corner; the outline is left out"),
            warnings);
        if (!corner)
            return {};
        out.push_back(*corner);
    }
    return out;
}

Json outlineToJson(const std::vector<QPointF> &outline)
{
    Json list = Json::array();
    for (const QPointF &p : outline)
        list.push_back(pairToJson(p));
    return list;
}

} // namespace sig::detail
