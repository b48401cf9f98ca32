// What each part of a board is as a circuit: rules that match a part by its
// designator or its BOM value (globs) and name its kind and parameters, read
// from a JSON file (models.json beside this file, installed with the
// package; its format is described there). A user's file goes before the
// built-in one: its rules are tried first and its defaults win.
#pragma once

#include "circuit.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace predict {

enum class PartKind {
    Open, // not modelled on purpose: a test point, a connector
    Resistor,
    Capacitor,
    Inductor,
    Diode,
    Led,
    Zener,
    Npn,
    Pnp,
    Nmos,
    Pmos,
    Ic
};

struct Rule
{
    QRegularExpression refdes; // matches any when empty
    QRegularExpression value;
    PartKind kind = PartKind::Open;
    QJsonObject parameters; // the rule's own junction values, pins
};

class Models
{
public:
    // The built-in models, from the program's resources.
    static Models builtIn();
    // A file's models over `base`. On error nothing, and *error names the
    // file and the rule at fault.
    static std::optional<Models> read(
        const QByteArray &json, const QString &file, const Models &base, QString *error);
    static std::optional<Models> load(const QString &path, const Models &base, QString *error);

    // The first rule that matches the part, or none: the part is unknown.
    const Rule *match(const QString &refdes, const QString &value) const;
    // A kind's junction: the file's defaults, then the rule's own values.
    Junction junction(const char *defaults, const QJsonObject &own) const;
    // The pads that may be a role ("anode") of a rule's part, by name.
    QStringList pins(const Rule &rule, const char *role) const;
    // The nets of an IC taken for its supplies and its grounds.
    bool isSupply(const QString &net) const;
    bool isGround(const QString &net) const;
    // The files' versions, the user's first: "board-7+1".
    QString version() const { return m_version; }

private:
    std::vector<Rule> m_rules;
    QJsonObject m_defaults;
    std::vector<QRegularExpression> m_supplies, m_grounds;
    QString m_version;
};

} // namespace predict
