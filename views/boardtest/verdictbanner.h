// The board's verdict in one word and colour, big enough to read from a
// metre away: PASS, FAIL with how many points, UNSTABLE, NO CONTACT; while
// a test goes, how far it got (or FAIL as soon as a point has failed, as
// nothing later can turn the board good). Painted by hand: a rich-text label
// costs a text document at every change and a tenth of a start-up.
#pragma once

#include "boardverdict.h"

#include <QWidget>

class VerdictBanner : public QWidget
{
    Q_OBJECT

public:
    explicit VerdictBanner(QWidget *parent = nullptr);

    enum class State { Idle, Learning, Testing, Done };
    void setVerdict(State state, const sig::BoardVerdict &verdict);

    // What the banner says now, in words: "FAIL: 2 of 11 points fail: 2 different"
    // (also its accessible name, for screen readers and scripts).
    QString verdictText() const { return m_word + QStringLiteral(": ") + m_detail; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont wordFont() const;
    QFont detailFont() const;

    QString m_word;
    QString m_detail;
    QColor m_background;
};
