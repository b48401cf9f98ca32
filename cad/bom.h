// A bill of materials as CSV: the reference designators of each row (one row
// may list several, "R1, R2, R5" or "R1-R4") and their value. A value with
// an SI prefix ("4k7", "4.7k", "2R2", "100n", "10uF") is read as a number,
// its unit told by a suffix or else by the designator's letter (R ohms,
// C farads, L henries).
#pragma once

#include "cadtext.h"

#include <QString>

#include <optional>
#include <vector>

namespace cad {

enum class Quantity { Ohms, Farads, Henries };

struct Value
{
    double number = 0; // in ohms, farads or henries
    Quantity quantity = Quantity::Ohms;
};

// A part's value: "4k7" is 4700, "2R2" 2.2, "100n" 1e-7, "10uF" 1e-5, "1M"
// 1e6; the quantity from a suffix (Ω, R, ohm, F, H), else from the
// designator's leading letters. Nothing when it is no such value ("LM358",
// "DNP"), lies outside kMinValue to kMaxValue, or the designator names no
// two-pin part.
std::optional<Value> parseValue(const QString &value, const QString &refdes);

struct BomLine
{
    int line = 0;
    QString refdes;
    QString value; // as the file gives it
    std::optional<Value> parsed;
};

// The designators a BOM may list in all (its ranges expanded), unless the
// caller knows a closer bound.
inline constexpr std::size_t kMaxBomDesignators = 100000;
// The values a part's may lie in, in ohms, farads or henries.
inline constexpr double kMinValue = 1e-15, kMaxValue = 1e15;

// One BomLine per designator. A value that is a number outside kMinValue to
// kMaxValue ("-1k", 300 digits, a capacitor of 0; a 0 ohm jumper is kept)
// is refused, as is a file listing more than `most` designators; errors name the file and line.
std::optional<std::vector<BomLine>> readBom(const QByteArray &bytes, const QString &file,
    QString *error, std::size_t most = kMaxBomDesignators);
std::optional<std::vector<BomLine>> readBomFile(
    const QString &path, QString *error, std::size_t most = kMaxBomDesignators);

// The quantity's JSON key: "ohms", "farads", "henries".
QString quantityName(Quantity q);
std::optional<Quantity> quantityNamed(const QString &name);

} // namespace cad
