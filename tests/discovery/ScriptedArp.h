#pragma once

#include "app/InterfaceTable.h"
#include "discovery/ArpResolver.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// An ARP layer whose hosts a test lists. It counts every request, can hold requests until the
// test releases them (a sweep caught in the middle), can make each send take a while, and can
// make a host answer late or only from a later send on (a lost request).
class ScriptedArp : public ArpResolver {
  public:
    struct Host {
        Mac mac{};
        int answerAfterMs = 0;      // the answer comes this long after the send
        int firstAnsweredSend = 0;  // sends before this one (counted from 0) get no answer
    };

    QString Name() const override { return "scripted"; }
    std::shared_ptr<ArpChannel> Open(uint32_t source) override {
        {
            std::lock_guard<std::mutex> lock(script_->mutex);
            script_->sources.insert(source);
        }
        return std::make_shared<Channel>(script_);
    }

    void AddHost(uint32_t address, const Mac& mac, int answerAfterMs = 0,
                 int firstAnsweredSend = 0) {
        script_->hosts[address] = {mac, answerAfterMs, firstAnsweredSend};
    }
    // Short times by default, so that the silent addresses of a test's network cost little.
    void SetTiming(const ArpTiming& timing) { script_->timing = timing; }
    // An address that is no host fails at once, as the kernel reports a failed resolution.
    void FailSilent() { script_->failSilent = true; }
    // Each send takes this long.
    void SetDelay(std::chrono::milliseconds delay) { script_->delayMs = delay.count(); }
    // First sends for addresses at or above the given one wait until Release.
    void HoldFrom(uint32_t address) { script_->holdFrom = address; }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(script_->mutex);
            script_->released = true;
        }
        script_->changed.notify_all();
    }

    int Held() const {
        std::lock_guard<std::mutex> lock(script_->mutex);
        return script_->held;
    }
    // The requests per address (first sends), and every send per address.
    std::map<uint32_t, int> Probes() const {
        std::lock_guard<std::mutex> lock(script_->mutex);
        return script_->probes;
    }
    std::map<uint32_t, int> Sends() const {
        std::lock_guard<std::mutex> lock(script_->mutex);
        return script_->sends;
    }
    std::set<uint32_t> Sources() const {
        std::lock_guard<std::mutex> lock(script_->mutex);
        return script_->sources;
    }
    // How many threads sent requests.
    size_t Senders() const {
        std::lock_guard<std::mutex> lock(script_->mutex);
        return script_->senders.size();
    }

  private:
    struct Script {
        std::map<uint32_t, Host> hosts;
        ArpTiming timing{4, 4, 2, 12};
        long delayMs = 0;
        bool failSilent = false;
        uint32_t holdFrom = 0;
        bool released = false;
        int held = 0;
        mutable std::mutex mutex;
        std::condition_variable changed;
        std::map<uint32_t, int> probes;
        std::map<uint32_t, int> sends;
        std::set<uint32_t> sources;
        std::set<std::thread::id> senders;
    };

    class Channel : public ArpChannel {
      public:
        explicit Channel(std::shared_ptr<Script> script)
            : ArpChannel(script->timing), script_(std::move(script)) {}
        ~Channel() override {
            for (std::thread& t : late_)
                t.join();
        }

        void Send(uint32_t target, int attempt) override {
            {
                std::unique_lock<std::mutex> lock(script_->mutex);
                script_->probes[target] += attempt == 0;
                ++script_->sends[target];
                script_->senders.insert(std::this_thread::get_id());
                if (attempt == 0 && script_->holdFrom && target >= script_->holdFrom) {
                    ++script_->held;
                    script_->changed.wait(lock, [this] { return script_->released; });
                }
            }
            if (script_->delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(script_->delayMs));
            const auto it = script_->hosts.find(target);
            if (it == script_->hosts.end() && script_->failSilent)
                Fail(target);
            if (it == script_->hosts.end() || attempt < it->second.firstAnsweredSend)
                return;
            const Host host = it->second;
            if (host.answerAfterMs <= 0) {
                Answer(target, host.mac);
                return;
            }
            std::lock_guard<std::mutex> lock(lateMutex_);
            late_.emplace_back([this, target, host] {
                std::this_thread::sleep_for(std::chrono::milliseconds(host.answerAfterMs));
                Answer(target, host.mac);
            });
        }

      private:
        std::shared_ptr<Script> script_;
        std::mutex lateMutex_;
        std::vector<std::thread> late_;
    };

    std::shared_ptr<Script> script_ = std::make_shared<Script>();
};

inline uint32_t Ip(const char* text) {
    uint32_t a = 0;
    ParseIpv4(QString::fromLatin1(text), &a);
    return a;
}
