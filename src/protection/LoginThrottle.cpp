#include "protection/LoginThrottle.h"

#include <algorithm>

namespace {
// More addresses than this are pruned before another is added.
constexpr size_t kPruneAbove = 1024;
}  // namespace

bool LoginThrottle::Refuses(const QByteArray& address, Clock::time_point now, bool* first) {
    if (tracked_.load(std::memory_order_relaxed) == 0)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = entries_.find(address.toStdString());
    if (it == entries_.end() || it->second.blockedUntil <= now)
        return false;
    if (first)
        *first = !it->second.refused;
    it->second.refused = true;
    return true;
}

bool LoginThrottle::Fail(const QByteArray& address, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() >= kPruneAbove)
        prune(now);
    Entry& e = entries_[address.toStdString()];
    tracked_.store(int(entries_.size()), std::memory_order_relaxed);
    auto& f = e.failures;
    f.erase(f.begin(), std::find_if(f.begin(), f.end(),
                                    [&](Clock::time_point t) { return now - t < kWindow; }));
    f.push_back(now);
    if (int(f.size()) < kLimit)
        return false;
    f.clear();
    e.blockedUntil = now + kBlock;
    e.refused = false;
    return true;
}

void LoginThrottle::Succeed(const QByteArray& address) {
    if (tracked_.load(std::memory_order_relaxed) == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(address.toStdString());
    tracked_.store(int(entries_.size()), std::memory_order_relaxed);
}

void LoginThrottle::prune(Clock::time_point now) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        const Entry& e = it->second;
        const bool recent = !e.failures.empty() && now - e.failures.back() < kWindow;
        if (!recent && e.blockedUntil <= now)
            it = entries_.erase(it);
        else
            ++it;
    }
}
