// How the window and its docks share a screen, down to 1280 x 800: a dock's
// contents scroll inside it rather than widening the window past the screen,
// and the window is fitted to the screen with a share of its width for the
// docks.
#pragma once

#include <QList>

class QDockWidget;
class QMainWindow;

// Puts the dock's contents in a scroll area, now and again whenever the dock
// sets new contents when it is shown (docks build theirs when first shown).
// The dock then takes whatever width and height the window leaves it.
void letDockShrink(QDockWidget &dock);

// Resizes and moves the window so that its frame lies within the available
// geometry of its screen, using most of a large screen, and gives the docks
// (those of the list that are shown, all in one dock area) their share of
// its width.
void fitWindowToScreen(QMainWindow &window, const QList<QDockWidget *> &docks);

// The share of the window's width the docks get when the window is fitted.
inline constexpr double kDockShare = 0.45;
