#include "verdictbanner.h"

VerdictBanner::VerdictBanner(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::RichText);
    setMargin(6);
    setAutoFillBackground(true);
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 2.2);
    f.setBold(true);
    setFont(f);
    setVerdict(State::Idle, sig::BoardVerdict());
}

void VerdictBanner::setVerdict(State state, const sig::BoardVerdict &v)
{
    using Kind = sig::BoardVerdict::Kind;
    // Colours that read as what they mean under a bench lamp, with white text.
    QColor back(0x5f, 0x63, 0x68);
    QString word;
    QString detail;
    switch (state) {
    case State::Idle:
        word = tr("READY");
        detail = tr("scan a serial to test the board");
        break;
    case State::Learning:
        word = tr("LEARNING");
        detail = tr("probe each point of the good board");
        break;
    case State::Testing:
    case State::Done:
        if (state == State::Testing && v.kind != Kind::Fail) {
            word = tr("TESTING");
            detail = tr("%1 of %2 points").arg(v.points - v.notTested).arg(v.points);
            back = QColor(0x1f, 0x5f, 0xa8);
            break;
        }
        word = sig::boardVerdictWord(v.kind);
        detail = sig::boardVerdictDetail(v);
        switch (v.kind) {
        case Kind::Pass:
            back = QColor(0x1a, 0x7f, 0x37);
            break;
        case Kind::Fail:
            back = QColor(0xc0, 0x39, 0x2b);
            break;
        case Kind::Unstable:
            back = QColor(0xb2, 0x6a, 0x00);
            break;
        case Kind::NoContact:
            back = QColor(0x7d, 0x3c, 0x98);
            break;
        case Kind::Incomplete:
            break;
        }
        break;
    }
    m_text = word + QStringLiteral(": ") + detail;
    QPalette p = palette();
    p.setColor(QPalette::Window, back);
    p.setColor(QPalette::WindowText, Qt::white);
    setPalette(p);
    setText(QStringLiteral("%1 <span style=\"font-size:small; font-weight:normal\">%2</span>")
                .arg(word.toHtmlEscaped(), detail.toHtmlEscaped()));
    setAccessibleName(m_text);
}
