#include "verdict.h"

#include <QCoreApplication>
#include <QStringList>

#include <iterator>

namespace sig {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::Verdict", text);
}

// clang-format off
const VerdictInfo kPoints[] = {
    { Verdict::NotTested, "", "", "", Tone::Neutral, false, false },
    { Verdict::Pass, "pass", QT_TRANSLATE_NOOP("sig::Verdict", "pass"),
      QT_TRANSLATE_NOOP("sig::Verdict", "pass"), Tone::Good, false, false },
    { Verdict::Different, "different", QT_TRANSLATE_NOOP("sig::Verdict", "different"),
      QT_TRANSLATE_NOOP("sig::Verdict", "different"), Tone::Bad, true, true },
    { Verdict::NotLearned, "not_learned", QT_TRANSLATE_NOOP("sig::Verdict", "not learned"),
      QT_TRANSLATE_NOOP("sig::Verdict", "not learned"), Tone::Doubtful, true, false },
    { Verdict::Unstable, "unstable", QT_TRANSLATE_NOOP("sig::Verdict", "unstable, retest"),
      QT_TRANSLATE_NOOP("sig::Verdict", "unstable"), Tone::Doubtful, false, true },
    { Verdict::NoContact, "no_contact",
      QT_TRANSLATE_NOOP("sig::Verdict", "open or no contact: check by hand"),
      QT_TRANSLATE_NOOP("sig::Verdict", "no contact"), Tone::NoContact, false, true },
    { Verdict::NetDisagrees, "net_disagrees",
      QT_TRANSLATE_NOOP("sig::Verdict", "unlike the rest of its net"),
      QT_TRANSLATE_NOOP("sig::Verdict", "net disagrees"), Tone::Net, true, true },
};

const BoardVerdictInfo kBoards[] = {
    { BoardVerdictKind::Pass, "pass", QT_TRANSLATE_NOOP("sig::Verdict", "PASS"),
      QT_TRANSLATE_NOOP("sig::Verdict", "pass"), Tone::Good },
    { BoardVerdictKind::Fail, "fail", QT_TRANSLATE_NOOP("sig::Verdict", "FAIL"),
      QT_TRANSLATE_NOOP("sig::Verdict", "FAIL"), Tone::Bad },
    { BoardVerdictKind::Unstable, "unstable", QT_TRANSLATE_NOOP("sig::Verdict", "UNSTABLE"),
      QT_TRANSLATE_NOOP("sig::Verdict", "unstable"), Tone::Doubtful },
    { BoardVerdictKind::NoContact, "no_contact", QT_TRANSLATE_NOOP("sig::Verdict", "NO CONTACT"),
      QT_TRANSLATE_NOOP("sig::Verdict", "no contact"), Tone::NoContact },
    { BoardVerdictKind::Partial, "partial", QT_TRANSLATE_NOOP("sig::Verdict", "PARTIAL"),
      QT_TRANSLATE_NOOP("sig::Verdict", "partial"), Tone::Neutral },
};

struct Palette
{
    Tone tone;
    Rgb colour;
    Rgb tint;
};
const Palette kPalette[] = {
    { Tone::Neutral, { 0x5f, 0x63, 0x68 }, { 0xe8, 0xea, 0xed } },
    { Tone::Good, { 0x1a, 0x7f, 0x37 }, { 0xd4, 0xed, 0xda } },
    { Tone::Bad, { 0xc0, 0x39, 0x2b }, { 0xfa, 0xd7, 0xd3 } },
    { Tone::Doubtful, { 0xb2, 0x6a, 0x00 }, { 0xfd, 0xef, 0xc8 } },
    { Tone::NoContact, { 0x7d, 0x3c, 0x98 }, { 0xeb, 0xde, 0xf0 } },
    { Tone::Net, { 0xd3, 0x54, 0x00 }, { 0xfd, 0xe0, 0xc8 } },
    { Tone::Busy, { 0x1f, 0x5f, 0xa8 }, { 0xd6, 0xe4, 0xf5 } },
};
// clang-format on

const Palette &paletteOf(Tone tone)
{
    for (const Palette &p : kPalette)
        if (p.tone == tone)
            return p;
    return kPalette[0];
}

} // namespace

QString Rgb::hex() const
{
    return QStringLiteral("#%1%2%3")
        .arg(r, 2, 16, QLatin1Char('0'))
        .arg(g, 2, 16, QLatin1Char('0'))
        .arg(b, 2, 16, QLatin1Char('0'));
}

Rgb toneColour(Tone tone)
{
    return paletteOf(tone).colour;
}

Rgb toneTint(Tone tone)
{
    return paletteOf(tone).tint;
}

const VerdictInfo &verdictInfo(Verdict v)
{
    for (const VerdictInfo &i : kPoints)
        if (i.verdict == v)
            return i;
    return kPoints[0];
}

const char *verdictName(Verdict v)
{
    return verdictInfo(v).name;
}

QString verdictText(Verdict v)
{
    return v == Verdict::NotTested ? QString() : tr(verdictInfo(v).text);
}

QString verdictWords(Verdict v)
{
    return v == Verdict::NotTested ? QString() : tr(verdictInfo(v).words);
}

Tone verdictTone(Verdict v)
{
    return verdictInfo(v).tone;
}

std::optional<Verdict> pointVerdictFromName(const QString &name)
{
    for (const VerdictInfo &i : kPoints)
        if (i.verdict != Verdict::NotTested && name == QLatin1String(i.name))
            return i.verdict;
    return std::nullopt;
}

bool isFaulty(const QString &name, bool info)
{
    if (info)
        return false;
    const std::optional<Verdict> v = pointVerdictFromName(name);
    return !v || verdictInfo(*v).faulty;
}

QStringList nonFaultyVerdictNames()
{
    QStringList names;
    for (const VerdictInfo &i : kPoints)
        if (i.verdict != Verdict::NotTested && !i.faulty)
            names << QLatin1String(i.name);
    return names;
}

const BoardVerdictInfo &boardVerdictInfo(BoardVerdictKind kind)
{
    for (const BoardVerdictInfo &i : kBoards)
        if (i.kind == kind)
            return i;
    return kBoards[std::size(kBoards) - 1];
}

const char *boardVerdictName(BoardVerdictKind kind)
{
    return boardVerdictInfo(kind).name;
}

QString boardVerdictWord(BoardVerdictKind kind)
{
    return tr(boardVerdictInfo(kind).word);
}

Tone boardVerdictTone(BoardVerdictKind kind)
{
    return boardVerdictInfo(kind).tone;
}

std::optional<BoardVerdictKind> boardVerdictFromName(const QString &name)
{
    for (const BoardVerdictInfo &i : kBoards)
        if (name == QLatin1String(i.name))
            return i.kind;
    return std::nullopt;
}

QString verdictNameWords(const QString &name)
{
    if (const auto board = boardVerdictFromName(name))
        return tr(boardVerdictInfo(*board).words);
    if (const auto point = pointVerdictFromName(name))
        return verdictWords(*point);
    return name;
}

} // namespace sig
