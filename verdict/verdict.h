// The words of a test's outcome, defined once: every point verdict and every
// board verdict with the name machines read (files, the history, JSON), the
// words people read, and the colour it is shown in. The banner, the tables,
// the board picture, the report, JUnit, the history and Python all read
// these tables; a new verdict is a new row here.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace sig {

// NetDisagrees: the point reads unlike the other points of its net (a broken
// trace, a cold joint), whatever its own references say; a point different
// from its references stays Different.
enum class Verdict { NotTested, Pass, Different, NotLearned, Unstable, NoContact, NetDisagrees };

// A board: Fail wins over everything (a different, unlearned or
// net-disagreeing point cannot turn good); a run that has not reached every
// point of the board is Partial (never a pass); then no contact (the board is
// unjudged where the probe missed), then unstable.
enum class BoardVerdictKind { Pass, Fail, Unstable, NoContact, Partial };

// What a colour says, so that every view shows a meaning in one colour.
enum class Tone {
    Neutral, // nothing judged yet
    Good,
    Bad,
    Doubtful, // unstable, not learned: look again
    NoContact,
    Net, // unlike its net
    Busy, // a run in progress
};

struct Rgb
{
    std::uint8_t r = 0, g = 0, b = 0;
    // "#1a7f37"
    QString hex() const;
};
// Strong enough for white text on it under a bench lamp, and for text on white.
Rgb toneColour(Tone tone);
// A light tint of it, behind a table row's dark text.
Rgb toneTint(Tone tone);

struct VerdictInfo
{
    Verdict verdict;
    const char *name; // "different"; "" for NotTested
    const char *text; // for people, in a sentence: "unlike the rest of its net"
    const char *words; // for people, in a table cell: "net disagrees"
    Tone tone;
    // A point with this verdict keeps its board from passing (unless the
    // point is for information only).
    bool failsBoard;
    // The point itself was found at fault: the failure statistics, the
    // history's views and Cpk count it. A point never learned says nothing
    // of the board it was probed on.
    bool faulty;
};
const VerdictInfo &verdictInfo(Verdict v);
const char *verdictName(Verdict v);
QString verdictText(Verdict v);
QString verdictWords(Verdict v);
Tone verdictTone(Verdict v);
std::optional<Verdict> pointVerdictFromName(const QString &name);
// Whether a stored point verdict counts as a failure of the point: every
// name not known to pass, so that a verdict added later fails until it is
// given its row. A point for information only never fails.
bool isFaulty(const QString &name, bool info = false);
// The point verdicts that are not faults, by name: the history's views take them.
QStringList nonFaultyVerdictNames();

struct BoardVerdictInfo
{
    BoardVerdictKind kind;
    const char *name; // "no_contact"
    const char *word; // the banner's: "NO CONTACT"
    const char *words; // in a table cell: "no contact"
    Tone tone;
};
const BoardVerdictInfo &boardVerdictInfo(BoardVerdictKind kind);
const char *boardVerdictName(BoardVerdictKind kind);
QString boardVerdictWord(BoardVerdictKind kind);
Tone boardVerdictTone(BoardVerdictKind kind);
std::optional<BoardVerdictKind> boardVerdictFromName(const QString &name);

// A stored verdict, board's or point's, as a table cell shows it: "FAIL",
// "no contact", "net disagrees"; any other name as it is.
QString verdictNameWords(const QString &name);

} // namespace sig
