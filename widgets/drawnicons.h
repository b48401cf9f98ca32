// The window's style with the menu bar's overflow arrows drawn, not read,
// and the docks' title bar buttons made once. Qt reads the arrows from
// picture files when the menu bar is made, and reading a first picture of
// unknown type loads every image plugin there is: a twentieth of the
// window's start-up, for a button seldom shown. The title bar buttons are
// decoded anew for each dock, several times each.
#pragma once

#include <QHash>
#include <QIcon>
#include <QProxyStyle>

class DrawnIconsStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption *option = nullptr,
        const QWidget *widget = nullptr) const override;

private:
    mutable QHash<int, QIcon> m_titleBarIcons;
};
