#pragma once

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// Failed logins per client address: an address with kLimit failures within kWindow is refused
// for kBlock. Safe to use from every server thread; while no address has failed it costs no lock.
// A failure costs O(log n) in the addresses tracked, and at most kMaxTracked are: beyond that
// the address that failed least recently and is not blocked is forgotten (a blocked one only
// when every address is blocked).
class LoginThrottle {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kLimit = 10;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kBlock{60};
    static constexpr size_t kMaxTracked = 65536;

    // Whether the address is refused at now; *first is set for the first refusal of a block.
    bool Refuses(const QByteArray& address, Clock::time_point now, bool* first = nullptr);
    // Counts a failed login; true when it starts a block.
    bool Fail(const QByteArray& address, Clock::time_point now);
    // A right login: the address's failures are forgotten.
    void Succeed(const QByteArray& address);
    // Addresses tracked (with failures or a block under way).
    int Tracked() const { return tracked_.load(); }

  private:
    // When an entry has nothing left to remember, and its address: the order of forgetting.
    using Expiry = std::set<std::pair<Clock::time_point, std::string>>;
    struct Entry {
        std::vector<Clock::time_point> failures;  // within the window, oldest first
        Clock::time_point blockedUntil{};
        bool refused = false;     // the block's first refusal has happened
        Expiry* queue = nullptr;  // failing_ or blocked_, holding {forget, address}
        Clock::time_point forget{};
    };
    using Entries = std::unordered_map<std::string, Entry>;

    // Drops the entries with nothing left to remember at now.
    void expire(Clock::time_point now);
    void erase(Entries::iterator it);
    void publish() { tracked_.store(int(entries_.size()), std::memory_order_relaxed); }

    std::mutex mutex_;
    Entries entries_;
    Expiry failing_;  // the entries not blocked
    Expiry blocked_;  // the entries blocked when they last failed
    std::atomic<int> tracked_{0};
};
