#pragma once

// The widget application that tests of windows, dialogs and drops need, made once per process on
// the off-screen platform; it lives for the process, as a host's does.

#include <QApplication>

inline void ensureWidgetApplication()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "clipvane_tests";
    static char *argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}
