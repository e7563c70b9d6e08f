#pragma once

// Waiting in tests without guessing: the event loop turns until a condition holds (with a
// generous deadline), or, for what must not happen, for a short watch.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <functional>

// Runs this thread's events until `done` holds; false when the deadline passed first.
inline bool turnUntil(const std::function<bool()> &done, int timeoutMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Runs this thread's events for `ms` milliseconds.
inline void turnFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

// The application that event loops need, made once per process.
inline void ensureCoreApplication()
{
    static int argc = 1;
    static char name[] = "clipvane_tests";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}
