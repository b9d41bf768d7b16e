#include "protection/LoginThrottle.h"

#include <algorithm>

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
    expire(now);
    std::string key = address.toStdString();
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        if (entries_.size() >= kMaxTracked) {
            Expiry& victims = failing_.empty() ? blocked_ : failing_;
            erase(entries_.find(victims.begin()->second));
        }
        it = entries_.emplace(key, Entry{}).first;
    }
    Entry& e = it->second;
    auto& f = e.failures;
    f.erase(f.begin(), std::find_if(f.begin(), f.end(),
                                    [&](Clock::time_point t) { return now - t < kWindow; }));
    f.push_back(now);
    const bool blocks = int(f.size()) >= kLimit;
    if (blocks) {
        f.clear();
        e.blockedUntil = now + kBlock;
        e.refused = false;
    }
    if (e.queue)
        e.queue->erase({e.forget, key});
    e.forget = std::max(e.blockedUntil, f.empty() ? Clock::time_point() : f.back() + kWindow);
    e.queue = e.blockedUntil > now ? &blocked_ : &failing_;
    e.queue->emplace(e.forget, std::move(key));
    publish();
    return blocks;
}

void LoginThrottle::Succeed(const QByteArray& address) {
    if (tracked_.load(std::memory_order_relaxed) == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = entries_.find(address.toStdString());
    if (it != entries_.end())
        erase(it);
    publish();
}

void LoginThrottle::expire(Clock::time_point now) {
    for (Expiry* queue : {&failing_, &blocked_})
        while (!queue->empty() && queue->begin()->first <= now)
            erase(entries_.find(queue->begin()->second));
}

void LoginThrottle::erase(Entries::iterator it) {
    it->second.queue->erase({it->second.forget, it->first});
    entries_.erase(it);
}
