#include "verdictbanner.h"

#include "tonecolour.h"

#include <QPainter>

namespace {

constexpr int kMargin = 8;

} // namespace

VerdictBanner::VerdictBanner(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setVerdict(State::Idle, sig::BoardVerdict());
}

QFont VerdictBanner::wordFont() const
{
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 2.2);
    f.setBold(true);
    return f;
}

QFont VerdictBanner::detailFont() const
{
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 1.5);
    return f;
}

QSize VerdictBanner::sizeHint() const
{
    const QFontMetrics word(wordFont());
    const QFontMetrics detail(detailFont());
    return { word.horizontalAdvance(m_word) + detail.horizontalAdvance(m_detail) + 4 * kMargin,
        word.height() + 2 * kMargin };
}

QSize VerdictBanner::minimumSizeHint() const
{
    // The word always shows; the detail is elided when the window is narrow.
    return { QFontMetrics(wordFont()).horizontalAdvance(m_word) + 2 * kMargin,
        sizeHint().height() };
}

void VerdictBanner::setVerdict(State state, const sig::BoardVerdict &v)
{
    using Kind = sig::BoardVerdict::Kind;
    // Colours that read as what they mean under a bench lamp, with white text.
    sig::Tone tone = sig::Tone::Neutral;
    switch (state) {
    case State::Idle:
        m_word = tr("READY");
        m_detail = tr("scan a serial to test the board");
        break;
    case State::Learning:
        m_word = tr("LEARNING");
        m_detail = tr("probe each point of the good board");
        break;
    case State::Testing:
    case State::Done:
        if (state == State::Testing && v.kind != Kind::Fail) {
            m_word = tr("TESTING");
            m_detail = tr("%1 of %2 points").arg(v.points - v.notTested).arg(v.points);
            tone = sig::Tone::Busy;
            break;
        }
        m_word = sig::boardVerdictWord(v.kind);
        m_detail = sig::boardVerdictDetail(v);
        tone = sig::boardVerdictTone(v.kind);
        break;
    }
    m_background = toneQColor(tone);
    setAccessibleName(verdictText());
    updateGeometry();
    update();
}

void VerdictBanner::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), m_background);
    p.setPen(Qt::white);
    const QFontMetrics word(wordFont());
    const QFontMetrics detail(detailFont());
    const int wordWidth = word.horizontalAdvance(m_word);
    const int gap = 2 * kMargin;
    const QString shown = detail.elidedText(
        m_detail, Qt::ElideRight, std::max(0, width() - wordWidth - gap - 2 * kMargin));
    const int total = wordWidth + gap + detail.horizontalAdvance(shown);
    int x = std::max(kMargin, (width() - total) / 2);
    const int baseline = (height() + word.ascent() - word.descent()) / 2;
    p.setFont(wordFont());
    p.drawText(x, baseline, m_word);
    x += wordWidth + gap;
    p.setFont(detailFont());
    p.drawText(x, baseline, shown);
}
