#pragma once

#include "discovery/ArpResolver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

// An ARP layer whose hosts a test lists. It counts every request, can hold requests until the
// test releases them (a sweep caught in the middle), and can make each request take a while.
class ScriptedArp : public ArpResolver {
  public:
    QString Name() const override { return "scripted"; }

    void AddHost(uint32_t address, const Mac& mac) { hosts_[address] = mac; }
    void SetDelay(std::chrono::milliseconds delay) { delayMs_ = static_cast<int>(delay.count()); }
    // Requests for addresses at or above the given one wait until Release.
    void HoldFrom(uint32_t address) { holdFrom_ = address; }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

    bool Resolve(uint32_t target, uint32_t source, Mac* mac) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ++probes_[target];
            sources_.insert(source);
            ++inside_;
            maxInside_ = std::max(maxInside_, inside_);
            if (holdFrom_ && target >= holdFrom_) {
                ++held_;
                changed_.notify_all();
                changed_.wait(lock, [this] { return released_; });
            }
        }
        if (delayMs_ > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_.load()));
        std::lock_guard<std::mutex> lock(mutex_);
        --inside_;
        const auto it = hosts_.find(target);
        if (it == hosts_.end())
            return false;
        *mac = it->second;
        return true;
    }

    int Held() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_;
    }

    std::map<uint32_t, int> Probes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return probes_;
    }
    std::set<uint32_t> Sources() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sources_;
    }
    int MaxConcurrent() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return maxInside_;
    }

  private:
    std::map<uint32_t, Mac> hosts_;
    std::atomic<int> delayMs_{0};
    uint32_t holdFrom_ = 0;
    bool released_ = false;
    int held_ = 0;
    int inside_ = 0;
    int maxInside_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<uint32_t, int> probes_;
    std::set<uint32_t> sources_;
};

inline uint32_t Ip(const char* text) {
    uint32_t a = 0;
    ParseIpv4(QString::fromLatin1(text), &a);
    return a;
}
