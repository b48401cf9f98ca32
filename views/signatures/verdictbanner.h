// The board's verdict in one word and colour, big enough to read from a
// metre away: PASS, FAIL with how many points, UNSTABLE, NO CONTACT; while
// a test goes, how far it got (or FAIL as soon as a point has failed, as
// nothing later can turn the board good).
#pragma once

#include "boardverdict.h"

#include <QLabel>

class VerdictBanner : public QLabel
{
    Q_OBJECT

public:
    explicit VerdictBanner(QWidget *parent = nullptr);

    enum class State { Idle, Learning, Testing, Done };
    void setVerdict(State state, const sig::BoardVerdict &verdict);

    // What the banner says now, in words: "FAIL: 2 of 11 points fail: 2 different".
    QString verdictText() const { return m_text; }

private:
    QString m_text;
};
