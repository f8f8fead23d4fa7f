// One QCoreApplication for the whole test binary, and a way to run its loop until a condition.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace valdrune::test {

inline QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "platform_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// Processes events until done() holds or limitMs passes; returns done().
inline bool RunUntil(const std::function<bool()>& done, int limitMs = 2000) {
    App();
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

inline void RunFor(int ms) {
    RunUntil([] { return false; }, ms);
}

}  // namespace valdrune::test
