#include "cadimport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace sig {
namespace {

struct Incoming
{
    QString name;
    QString net;
    QString component;
    QPointF mm;
    Side side = Side::Top;
};

Side sideOf(cad::Side s)
{
    return s == cad::Side::Top ? Side::Top : Side::Bottom;
}

// A list of globs, compiled once for all the CAD's points.
class Globs
{
public:
    explicit Globs(const QStringList &globs)
    {
        for (const QString &g : globs)
            m_res.emplace_back(QRegularExpression::wildcardToRegularExpression(g),
                QRegularExpression::CaseInsensitiveOption);
    }
    bool match(const QString &text) const
    {
        return m_res.empty()
            || std::any_of(m_res.begin(), m_res.end(),
                [&text](const QRegularExpression &re) { return re.match(text).hasMatch(); });
    }

private:
    std::vector<QRegularExpression> m_res;
};

// Pins on no net are not alike, whatever name the CAD gives their "net".
bool isNet(const QString &net)
{
    return !net.isEmpty() && net != QLatin1String("N/C")
        && !net.startsWith(QLatin1String("unconnected"), Qt::CaseInsensitive);
}

std::optional<CadImport> merge(
    Signature &board, const std::vector<Incoming> &all, const CadFilter &filter, QString *error)
{
    // Checked before the board is touched: a refused file leaves it as it was.
    for (const Incoming &p : all)
        if (const QString why = checkPointName(p.name); !why.isEmpty()) {
            *error = why;
            return std::nullopt;
        }
    CadImport result;
    const std::size_t before = board.points.size();
    QHash<QString, int> index;
    index.reserve(qsizetype(before + all.size()));
    for (std::size_t k = 0; k < before; ++k)
        index.insert(board.points[k].name, int(k));
    // Which of the board's points the CAD still has; the others are reported.
    std::vector<bool> inCad(before);
    std::vector<const Incoming *> chosen;
    chosen.reserve(all.size());
    QHash<QString, int> perNet;
    const Globs nets(filter.nets), refdes(filter.refdes);
    for (const Incoming &p : all) {
        if (before)
            if (const auto found = index.constFind(p.name); found != index.constEnd())
                inCad[std::size_t(*found)] = true;
        if ((filter.side && *filter.side != p.side) || !nets.match(p.net)
            || !refdes.match(p.component))
            continue;
        chosen.push_back(&p);
        if (isNet(p.net))
            ++perNet[p.net];
    }
    // Grown once: a point is large, and moving all of them at each growth
    // of a board of many thousands takes much of an import's time.
    board.points.reserve(before
        + (before ? std::size_t(std::count_if(chosen.begin(), chosen.end(),
               [&index](const Incoming *in) { return !index.contains(in->name); }))
                  : chosen.size()));
    for (const Incoming *in : chosen) {
        const auto found = index.constFind(in->name);
        Point *p = nullptr;
        if (found == index.constEnd()) {
            board.points.emplace_back();
            p = &board.points.back();
            p->name = in->name;
            index.insert(in->name, int(board.points.size()) - 1);
            result.added << in->name;
        } else {
            p = &board.points[std::size_t(*found)];
            result.updated << in->name;
        }
        p->mm = in->mm;
        p->side = in->side;
        p->net = in->net;
        p->component = in->component;
        if (p->group.isEmpty() && perNet.value(in->net) >= 2)
            p->group = in->net;
    }
    for (std::size_t k = 0; k < before; ++k)
        if (!inCad[k])
            result.vanished << board.points[k].name;
    return result;
}

// A refusal of the import names the file it came from.
std::optional<CadImport> named(std::optional<CadImport> result, const QString &path, QString *error)
{
    if (!result)
        *error = QStringLiteral("%1: %2").arg(path, *error);
    return result;
}

// Every part's pads, a point or not, in the netlist's order; values the
// board had are kept.
std::vector<Part> partsOf(const cad::Netlist &netlist, const std::vector<Part> &before)
{
    QHash<QString, QString> values;
    for (const Part &p : before)
        if (!p.value.isEmpty())
            values.insert(p.refdes, p.value);
    std::vector<Part> parts;
    QHash<QString, std::size_t> index;
    for (const cad::TestRecord &r : netlist.records) {
        if (r.refdes.isEmpty() || r.pin.isEmpty() || r.midpoint)
            continue;
        auto found = index.constFind(r.refdes);
        if (found == index.constEnd()) {
            found = index.insert(r.refdes, parts.size());
            parts.push_back({ r.refdes, values.value(r.refdes), {}, {}, {} });
        }
        std::vector<Pad> &pads = parts[*found].pads;
        if (std::none_of(pads.begin(), pads.end(), [&r](const Pad &p) { return p.pin == r.pin; }))
            pads.push_back({ r.pin, isNet(r.net) ? r.net : QString() });
    }
    // What a position file placed stays, on the netlist's parts and on
    // parts the netlist has no pad of (a heatsink, a mechanical part).
    for (const Part &p : before) {
        if (!p.mm)
            continue;
        const auto found = index.constFind(p.refdes);
        if (found == index.constEnd()) {
            parts.push_back({ p.refdes, p.value, {}, p.mm, p.height });
            continue;
        }
        parts[*found].mm = p.mm;
        parts[*found].height = p.height;
    }
    return parts;
}

} // namespace

std::optional<CadImport> importNetlist(
    Signature &board, const cad::Netlist &netlist, const CadFilter &filter, QString *error)
{
    std::vector<Incoming> all;
    all.reserve(netlist.records.size());
    for (const cad::TestRecord &r : netlist.records)
        all.push_back({ cad::pointName(r), r.net, r.refdes, r.mm, sideOf(r.side) });
    auto result = merge(board, all, filter, error);
    if (result && !netlist.outline.empty())
        board.outline = netlist.outline;
    if (result)
        board.parts = partsOf(netlist, board.parts);
    return result;
}

std::optional<CadImport> importPlacements(Signature &board,
    const std::vector<cad::Placement> &parts, const CadFilter &filter, QString *error)
{
    std::vector<Incoming> all;
    all.reserve(parts.size());
    for (const cad::Placement &p : parts)
        all.push_back({ p.refdes, {}, p.refdes, p.mm, sideOf(p.side) });
    auto result = merge(board, all, filter, error);
    if (result) {
        // Every part's place and height, whatever the filter takes as points:
        // a machine keeps clear of them all.
        QHash<QString, std::size_t> index;
        for (std::size_t k = 0; k < board.parts.size(); ++k)
            index.insert(board.parts[k].refdes, k);
        for (const cad::Placement &p : parts) {
            auto found = index.constFind(p.refdes);
            if (found == index.constEnd()) {
                found = index.insert(p.refdes, board.parts.size());
                board.parts.push_back({ p.refdes, p.value.trimmed(), {}, {}, {} });
            }
            Part &part = board.parts[*found];
            part.mm = p.mm;
            part.height = p.height;
        }
    }
    return result;
}

QStringList applyBom(Signature &board, const std::vector<cad::BomLine> &bom)
{
    QHash<QString, std::vector<Point *>> parts;
    for (Point &p : board.points)
        if (!p.component.isEmpty())
            parts[p.component].push_back(&p);
    QHash<QString, Part *> byRefdes;
    for (Part &part : board.parts)
        byRefdes.insert(part.refdes, &part);
    QStringList given;
    for (const cad::BomLine &line : bom) {
        if (Part *part = byRefdes.value(line.refdes))
            part->value = line.value.trimmed();
        const auto points = parts.constFind(line.refdes);
        if (!line.parsed || points == parts.constEnd() || points->size() > 2)
            continue;
        for (Point *p : *points)
            p->expect = Expected { cad::quantityName(line.parsed->quantity), line.parsed->number };
        given << line.refdes;
    }
    return given;
}

QString globError(const QStringList &globs)
{
    for (const QString &g : globs) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(g));
        if (!re.isValid())
            return QCoreApplication::translate("sig::CadImport", "'%1' is not a valid glob: %2")
                .arg(g, re.errorString());
    }
    return {};
}

std::optional<CadImport> importCadFile(Signature &board, const QString &path,
    const CadFilter &filter, std::optional<cad::Unit> units, QString *error)
{
    for (const QStringList *globs : { &filter.nets, &filter.refdes })
        if (const QString why = globError(*globs); !why.isEmpty()) {
            *error = why;
            return std::nullopt;
        }
    const auto bytes = cad::readCadFile(path, error);
    if (!bytes)
        return std::nullopt;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool netlist = suffix == QLatin1String("d356") || suffix == QLatin1String("ipc")
        || suffix == QLatin1String("356")
        || (suffix != QLatin1String("pos") && suffix != QLatin1String("csv")
            && cad::looksLikeIpcD356(*bytes));
    if (netlist) {
        const auto read = cad::readIpcD356(*bytes, path, error, units);
        if (!read)
            return std::nullopt;
        if (read->records.empty()) {
            *error = QCoreApplication::translate("sig::CadImport",
                "%1: no test points: expected 317, 327 or 367 records of parts' pins")
                         .arg(path);
            return std::nullopt;
        }
        return named(importNetlist(board, *read, filter, error), path, error);
    }
    if (!filter.nets.isEmpty()) {
        *error = QCoreApplication::translate(
            "sig::CadImport", "%1 is a position file, which has no nets")
                     .arg(path);
        return std::nullopt;
    }
    const auto parts = cad::readPositions(*bytes, path, error, units);
    if (!parts)
        return std::nullopt;
    if (parts->empty()) {
        *error = QCoreApplication::translate("sig::CadImport", "%1: no parts under its header")
                     .arg(path);
        return std::nullopt;
    }
    return named(importPlacements(board, *parts, filter, error), path, error);
}

} // namespace sig
