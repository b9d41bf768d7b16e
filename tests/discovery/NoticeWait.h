#pragma once

#include "app/Notices.h"

#include <QElapsedTimer>
#include <functional>

// Handles notices until done() or the time is up; gives done().
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    WaitHandlingNotices([&] { return done() || clock.elapsed() > timeoutMs; });
    return done();
}
