// Running the event loop from a test until something has happened, or for a
// while to see that nothing more comes. Needs a QCoreApplication.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <functional>
#include <thread>

namespace ziv::test {

// Runs the event loop until `done` holds (true) or the time is up (false).
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // processEvents returns at once when nothing is pending: no busy spinning.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Runs the event loop for `ms` regardless.
inline void RunFor(int ms) {
    RunUntil([] { return false; }, ms);
}

}  // namespace ziv::test
