#pragma once

// Waiting for a condition on the desktop while the toolkit's own events go on.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace kestro::testing {

inline bool qtWaitFor(const std::function<bool()>& done, double seconds) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > seconds * 1000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

} // namespace kestro::testing
