// A main window shown and exposed, as the window benchmarks start from.
#pragma once

#include "mainwindow.h"

#include <QTest>

#include <cstdio>
#include <memory>

inline std::unique_ptr<MainWindow> shownWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        std::fprintf(stderr, "window not exposed\n");
    return window;
}
