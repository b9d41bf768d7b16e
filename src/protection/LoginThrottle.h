#pragma once

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// Failed logins per client address: an address with kLimit failures within kWindow is refused
// for kBlock. Safe to use from every server thread; while no address has failed it costs no lock.
class LoginThrottle {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kLimit = 10;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kBlock{60};

    // Whether the address is refused at now; *first is set for the first refusal of a block.
    bool Refuses(const QByteArray& address, Clock::time_point now, bool* first = nullptr);
    // Counts a failed login; true when it starts a block.
    bool Fail(const QByteArray& address, Clock::time_point now);
    // A right login: the address's failures are forgotten.
    void Succeed(const QByteArray& address);
    // Addresses tracked (with failures or a block under way).
    int Tracked() const { return tracked_.load(); }

  private:
    struct Entry {
        std::vector<Clock::time_point> failures;  // within the window, oldest first
        Clock::time_point blockedUntil{};
        bool refused = false;  // the block's first refusal has happened
    };
    // Drops the entries with nothing left to remember.
    void prune(Clock::time_point now);

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
    std::atomic<int> tracked_{0};
};
