#include "app/Workers.h"

#include "app/Notices.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <thread>

namespace {
std::atomic<int> live{0};
std::atomic<bool> stopping{false};
constexpr int kSliceMs = 100;
}  // namespace

namespace Workers {

void StartDetached(const char* name, std::function<void()> fn) {
    ++live;
    std::thread([name = std::string(name).substr(0, 15), fn = std::move(fn)] {
        pthread_setname_np(pthread_self(), name.c_str());
        fn();
        --live;
    }).detach();
}

bool StopRequested() {
    return stopping;
}

bool StopAll(int timeoutMs) {
    stopping = true;
    QElapsedTimer timer;
    timer.start();
    WaitHandlingNotices([&] { return live == 0 || timer.elapsed() >= timeoutMs; });
    return live == 0;
}

int LiveCount() {
    return live;
}

void Reset() {
    stopping = false;
}

bool WaitReadable(int fd, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (stopping)
            return false;
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<qint64>(left, kSliceMs)));
        if (r > 0)
            return (p.revents & POLLIN) != 0;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

}  // namespace Workers
