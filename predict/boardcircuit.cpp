#include "boardcircuit.h"

#include "bom.h"
#include "models.h"
#include "signature.h"

#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <deque>

namespace predict {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("predict::BoardCircuit", text);
}

// A pad on no net is a node of its own.
QString nodeOf(const sig::Part &part, const sig::Pad &pad)
{
    return pad.net.isEmpty() ? QStringLiteral("%1.%2").arg(part.refdes, pad.pin) : pad.net;
}

// The breakdown a zener's value names: "5V1" 5.1, "BZX84C3V3" 3.3, "12V" 12.
double zenerVolts(const QString &value)
{
    static const QRegularExpression re(
        QStringLiteral("(\\d+)V(\\d*)"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression decimal(
        QStringLiteral("(\\d+\\.\\d+)\\s*V"), QRegularExpression::CaseInsensitiveOption);
    if (const auto m = decimal.match(value); m.hasMatch())
        return m.captured(1).toDouble();
    if (const auto m = re.match(value); m.hasMatch())
        return (m.captured(1) + QLatin1Char('.') + m.captured(2) + QLatin1Char('0')).toDouble();
    return 0;
}

class PartBuilder
{
public:
    PartBuilder(const sig::Part &part, const Rule &rule, const Models &models,
        const QString &common, BoardElements &out)
        : m_part(part)
        , m_rule(rule)
        , m_models(models)
        , m_common(common)
        , m_out(out)
    {
    }

    void build()
    {
        switch (m_rule.kind) {
        case PartKind::Open:
            return;
        case PartKind::Resistor:
            return valued(Element::Kind::Resistor, cad::Quantity::Ohms);
        case PartKind::Capacitor:
            return valued(Element::Kind::Capacitor, cad::Quantity::Farads);
        case PartKind::Inductor:
            return valued(Element::Kind::Inductor, cad::Quantity::Henries);
        case PartKind::Diode:
            return diode("diode", 0);
        case PartKind::Led:
            return diode("led", 0);
        case PartKind::Zener: {
            const Junction j = m_models.junction("zener", m_rule.parameters);
            const double bv = j.breakdownVolts > 0 ? j.breakdownVolts : zenerVolts(m_part.value);
            if (bv <= 0)
                return problem(tr("no breakdown voltage in its value \"%1\"").arg(m_part.value));
            return diode("zener", bv);
        }
        case PartKind::Npn:
        case PartKind::Pnp: {
            const auto b = pad("base"), e = pad("emitter"), c = pad("collector");
            if (!b || !e || !c)
                return problem(tr("no pads named as its base, emitter and collector"));
            const Junction j = m_models.junction("junction", m_rule.parameters);
            const bool npn = m_rule.kind == PartKind::Npn;
            add(npn ? *b : *e, npn ? *e : *b, j);
            add(npn ? *b : *c, npn ? *c : *b, j);
            return;
        }
        case PartKind::Nmos:
        case PartKind::Pmos: {
            const auto s = pad("source"), d = pad("drain");
            if (!s || !d)
                return problem(tr("no pads named as its source and drain"));
            const Junction j = m_models.junction("body_diode", m_rule.parameters);
            return m_rule.kind == PartKind::Nmos ? add(*s, *d, j) : add(*d, *s, j);
        }
        case PartKind::Ic:
            return ic();
        }
    }

private:
    void problem(const QString &why)
    {
        m_out.problems << tr("%1: %2; left open").arg(m_part.refdes, why);
    }

    void add(const QString &anode, const QString &cathode, const Junction &j)
    {
        Element e;
        e.kind = Element::Kind::Diode;
        e.part = m_part.refdes;
        e.a = anode;
        e.b = cathode;
        e.junction = j;
        m_out.elements.push_back(e);
    }

    std::optional<QString> pad(const char *role) const
    {
        const QStringList names = m_models.pins(m_rule, role);
        for (const QString &name : names)
            for (const sig::Pad &p : m_part.pads)
                if (p.pin.compare(name, Qt::CaseInsensitive) == 0)
                    return nodeOf(m_part, p);
        return std::nullopt;
    }

    void valued(Element::Kind kind, cad::Quantity quantity)
    {
        if (m_part.pads.size() != 2)
            return problem(tr("%1 pads, not two").arg(m_part.pads.size()));
        // The kind tells the quantity, whatever the designator's letter.
        const char *letter = quantity == cad::Quantity::Ohms ? "R"
            : quantity == cad::Quantity::Farads              ? "C"
                                                             : "L";
        const auto value = cad::parseValue(m_part.value, QLatin1String(letter));
        if (!value || value->quantity != quantity)
            return problem(m_part.value.isEmpty()
                    ? tr("no value in the BOM")
                    : tr("the value \"%1\" is not in %2")
                          .arg(m_part.value, cad::quantityName(quantity)));
        Element e;
        e.kind = kind;
        e.part = m_part.refdes;
        e.a = nodeOf(m_part, m_part.pads[0]);
        e.b = nodeOf(m_part, m_part.pads[1]);
        e.value = value->number;
        m_out.elements.push_back(e);
    }

    void diode(const char *defaults, double breakdown)
    {
        const auto a = pad("anode"), k = pad("cathode");
        if (!a || !k)
            return problem(tr("no pads named as its anode and cathode"));
        Junction j = m_models.junction(defaults, m_rule.parameters);
        if (breakdown > 0)
            j.breakdownVolts = breakdown;
        add(*a, *k, j);
    }

    void ic()
    {
        QSet<QString> supplies, grounds;
        for (const sig::Pad &p : m_part.pads) {
            if (p.net == m_common || m_models.isGround(p.net))
                grounds.insert(p.net);
            else if (m_models.isSupply(p.net))
                supplies.insert(p.net);
        }
        if (grounds.isEmpty())
            grounds.insert(m_common);
        const Junction j = m_models.junction("protection", m_rule.parameters);
        for (const sig::Pad &p : m_part.pads) {
            if (p.net.isEmpty() || supplies.contains(p.net) || grounds.contains(p.net))
                continue;
            for (const QString &s : supplies)
                add(p.net, s, j);
            for (const QString &g : grounds)
                add(g, p.net, j);
        }
    }

    const sig::Part &m_part;
    const Rule &m_rule;
    const Models &m_models;
    const QString m_common;
    BoardElements &m_out;
};

} // namespace

BoardElements boardElements(const sig::Signature &board, const Models &models)
{
    BoardElements out;
    const QString common = board.commonNet();
    for (const sig::Part &part : board.parts) {
        if (part.pads.empty())
            continue; // placed by a position file, on no net of the netlist
        const Rule *rule = models.match(part.refdes, part.value);
        if (!rule) {
            out.unknown << part.refdes;
            continue;
        }
        PartBuilder(part, *rule, models, common, out).build();
    }
    return out;
}

Circuit circuitAt(
    const BoardElements &board, const QString &net, const QString &common, QString *note)
{
    Circuit c;
    c.probe = net;
    c.common = common;
    if (net == common)
        return c;
    QHash<QString, std::vector<std::size_t>> touching;
    for (std::size_t k = 0; k < board.elements.size(); ++k) {
        touching[board.elements[k].a].push_back(k);
        touching[board.elements[k].b].push_back(k);
    }
    QSet<QString> reached { net };
    std::vector<bool> taken(board.elements.size());
    std::deque<QString> next { net };
    bool toCommon = false;
    while (!next.empty()) {
        const QString at = next.front();
        next.pop_front();
        for (std::size_t k : touching.value(at)) {
            if (taken[k])
                continue;
            taken[k] = true;
            c.elements.push_back(board.elements[k]);
            for (const QString &end : { board.elements[k].a, board.elements[k].b }) {
                if (end == common)
                    toCommon = true;
                else if (!reached.contains(end)) {
                    reached.insert(end);
                    next.push_back(end);
                }
            }
        }
    }
    if (!toCommon && note)
        *note = tr("no part joins net %1 to %2: predicted open").arg(net, common);
    return c;
}

} // namespace predict
