#include "models.h"

#include "readfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace predict {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("predict::Models", text);
}

constexpr std::pair<const char *, PartKind> kKinds[] = { { "open", PartKind::Open },
    { "resistor", PartKind::Resistor }, { "capacitor", PartKind::Capacitor },
    { "inductor", PartKind::Inductor }, { "diode", PartKind::Diode }, { "led", PartKind::Led },
    { "zener", PartKind::Zener }, { "npn", PartKind::Npn }, { "pnp", PartKind::Pnp },
    { "nmos", PartKind::Nmos }, { "pmos", PartKind::Pmos }, { "ic", PartKind::Ic } };

QRegularExpression glob(const QString &g)
{
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(g),
        QRegularExpression::CaseInsensitiveOption);
}

bool globs(const QJsonValue &v, std::vector<QRegularExpression> &out)
{
    if (!v.isUndefined() && !v.isArray())
        return false;
    std::vector<QRegularExpression> read;
    for (const QJsonValue &g : v.toArray()) {
        if (!g.isString() || !glob(g.toString()).isValid())
            return false;
        read.push_back(glob(g.toString()));
    }
    out.insert(out.begin(), read.begin(), read.end());
    return true;
}

bool anyMatch(const std::vector<QRegularExpression> &res, const QString &text)
{
    return std::any_of(res.begin(), res.end(),
        [&text](const QRegularExpression &re) { return re.match(text).hasMatch(); });
}

// The junction values a file may give, each a positive number (bv: zero or more).
bool junctionValues(const QJsonObject &o)
{
    for (const char *key : { "is", "n", "rs", "bv", "ibv" }) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isUndefined()
            && (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < 0
                || (v.toDouble() == 0
                    && (key == std::string_view("is") || key == std::string_view("n")))))
            return false;
    }
    return true;
}

} // namespace

Models Models::builtIn()
{
    static const Models models = [] {
        QFile file(QStringLiteral(":/predict/models.json"));
        QString error;
        const bool opened = file.open(QIODevice::ReadOnly);
        auto read = opened ? Models::read(file.readAll(), file.fileName(), Models(), &error)
                           : std::nullopt;
        Q_ASSERT_X(read, "Models::builtIn", qPrintable(error));
        return read.value_or(Models());
    }();
    return models;
}

std::optional<Models> Models::read(
    const QByteArray &json, const QString &file, const Models &base, QString *error)
{
    QJsonParseError parsed;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parsed);
    const auto fail = [&](const QString &where, const QString &what) {
        *error = tr("%1: %2: %3").arg(file, where, what);
        return std::nullopt;
    };
    if (parsed.error != QJsonParseError::NoError || !doc.isObject())
        return fail(tr("the file"), tr("not a JSON object"));
    const QJsonObject root = doc.object();
    if (root.value(QLatin1String("format")).toString() != QLatin1String("zem-models"))
        return fail(QStringLiteral("format"), tr("not a models file (\"format\": \"zem-models\")"));
    const QString version = root.value(QLatin1String("version")).toString().trimmed();
    if (version.isEmpty())
        return fail(QStringLiteral("version"), tr("expected the file's version, a text"));
    Models out = base;
    out.m_version
        = base.m_version.isEmpty() ? version : version + QLatin1Char('+') + base.m_version;
    const QJsonObject defaults = root.value(QLatin1String("defaults")).toObject();
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        if (!it->isObject() || !junctionValues(it->toObject()))
            return fail(QStringLiteral("defaults.%1").arg(it.key()),
                tr("expected an object of positive numbers (is, n, rs, bv, ibv)"));
        QJsonObject merged = out.m_defaults.value(it.key()).toObject();
        const QJsonObject own = it->toObject();
        for (auto v = own.begin(); v != own.end(); ++v)
            merged.insert(v.key(), *v);
        out.m_defaults.insert(it.key(), merged);
    }
    const QJsonObject pins = root.value(QLatin1String("pins")).toObject();
    for (auto it = pins.begin(); it != pins.end(); ++it) {
        if (!it->isArray())
            return fail(
                QStringLiteral("pins.%1").arg(it.key()), tr("expected a list of pad names"));
        QJsonObject all = out.m_defaults.value(QLatin1String("pins")).toObject();
        all.insert(it.key(), *it);
        out.m_defaults.insert(QStringLiteral("pins"), all);
    }
    if (!globs(root.value(QLatin1String("supplies")), out.m_supplies)
        || !globs(root.value(QLatin1String("grounds")), out.m_grounds))
        return fail(QStringLiteral("supplies, grounds"), tr("expected lists of globs"));
    const QJsonValue parts = root.value(QLatin1String("parts"));
    if (!parts.isArray())
        return fail(QStringLiteral("parts"), tr("expected a list of rules"));
    std::vector<Rule> rules;
    for (qsizetype k = 0; k < parts.toArray().size(); ++k) {
        const QString where = QStringLiteral("parts[%1]").arg(k);
        const QJsonObject o = parts.toArray().at(k).toObject();
        Rule rule;
        const QString refdes = o.value(QLatin1String("refdes")).toString();
        const QString value = o.value(QLatin1String("value")).toString();
        if (refdes.isEmpty() && value.isEmpty())
            return fail(where, tr("a rule needs a \"refdes\" or a \"value\" glob"));
        if (!refdes.isEmpty())
            rule.refdes = glob(refdes);
        if (!value.isEmpty())
            rule.value = glob(value);
        if (!rule.refdes.isValid() || !rule.value.isValid())
            return fail(where, tr("not a valid glob"));
        const QString kind = o.value(QLatin1String("kind")).toString();
        const auto found = std::find_if(std::begin(kKinds), std::end(kKinds),
            [&kind](const auto &k) { return kind == QLatin1String(k.first); });
        if (found == std::end(kKinds))
            return fail(where + QStringLiteral(".kind"), tr("unknown kind \"%1\"").arg(kind));
        if (!junctionValues(o))
            return fail(where, tr("junction values must be positive numbers"));
        rule.kind = found->second;
        rule.parameters = o;
        rules.push_back(std::move(rule));
    }
    out.m_rules.insert(out.m_rules.begin(), rules.begin(), rules.end());
    return out;
}

std::optional<Models> Models::load(const QString &path, const Models &base, QString *error)
{
    constexpr std::size_t kMaxModelsFile = 16 << 20;
    std::string bytes;
    const std::string why = zem::files::readFile(QFile::encodeName(path).toStdString(),
        kMaxModelsFile, "a models file", bytes, zem::files::Accept::RegularFile);
    if (!why.empty()) {
        *error = QString::fromLocal8Bit(why.c_str());
        return std::nullopt;
    }
    return read(QByteArray::fromStdString(bytes), path, base, error);
}

const Rule *Models::match(const QString &refdes, const QString &value) const
{
    for (const Rule &r : m_rules)
        if ((r.refdes.pattern().isEmpty() || r.refdes.match(refdes).hasMatch())
            && (r.value.pattern().isEmpty() || r.value.match(value).hasMatch()))
            return &r;
    return nullptr;
}

Junction Models::junction(const char *defaults, const QJsonObject &own) const
{
    const QJsonObject d = m_defaults.value(QLatin1String(defaults)).toObject();
    const auto value = [&](const char *key, double fallback) {
        const QLatin1String k(key);
        return own.contains(k) ? own.value(k).toDouble() : d.value(k).toDouble(fallback);
    };
    Junction j;
    j.saturationAmps = value("is", j.saturationAmps);
    j.emission = value("n", j.emission);
    j.seriesOhms = value("rs", j.seriesOhms);
    j.breakdownVolts = value("bv", j.breakdownVolts);
    j.breakdownAmps = value("ibv", j.breakdownAmps);
    return j;
}

QStringList Models::pins(const Rule &rule, const char *role) const
{
    const QLatin1String key(role);
    const QJsonValue own = rule.parameters.value(QLatin1String("pins")).toObject().value(key);
    const QJsonArray names = own.isArray()
        ? own.toArray()
        : m_defaults.value(QLatin1String("pins")).toObject().value(key).toArray();
    QStringList out;
    for (const QJsonValue &n : names)
        out << n.toString();
    return out;
}

bool Models::isSupply(const QString &net) const
{
    return anyMatch(m_supplies, net);
}

bool Models::isGround(const QString &net) const
{
    return anyMatch(m_grounds, net);
}

} // namespace predict
