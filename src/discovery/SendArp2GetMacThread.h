#pragma once

#include "discovery/ArpResolver.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class NoticeGate;

// What the manager of one sweep shares with its ARP workers.
struct SweepContext {
    SweepContext(std::shared_ptr<ArpResolver> arp, std::shared_ptr<NoticeGate> notices)
        : arp(std::move(arp)), notices(std::move(notices)) {}

    std::shared_ptr<ArpResolver> arp;
    std::shared_ptr<NoticeGate> notices;
    // The sweep's requests, opened by the manager before it starts the workers.
    std::shared_ptr<ArpChannel> channel;

    // The next address a worker takes (host byte order; 64 bits, so it never wraps).
    std::mutex addressLock;
    uint64_t nextAddress = 0;
    // Workers that have not left their loop yet, and the decision taken when it reaches 0.
    std::mutex countLock;
    int liveWorkers = 0;

    // The owner's flags, under mutex; changed is signalled whenever one is set.
    std::mutex mutex;
    std::condition_variable changed;
    bool terminated = false;     // set by Terminate (the last worker, or the driver)
    bool stopRequested = false;  // set by the driver
    bool workersDone = false;    // the live worker count has reached 0

    void SetFlag(bool SweepContext::*flag);
};

// One ARP worker of a sweep: probes its start address, then takes the next untried address
// from the shared counter until the range is used up or it is asked to stop. A probe waits for
// its answer only for the ask time; an answer that comes later (until the request's give-up
// time) is reported by the same worker as soon as it is there, and before the worker leaves.
// Created by the manager, it frees itself when it ends.
class SendArp2GetMacThread : public std::enable_shared_from_this<SendArp2GetMacThread> {
  public:
    static std::shared_ptr<SendArp2GetMacThread> Create(std::shared_ptr<SweepContext> owner,
                                                        uint32_t lastAddress, uint32_t ownAddress,
                                                        uint32_t startAddress);
    void SetFilter(const QString& filter) { filter_ = filter; }
    // Runs the worker on its own thread. False when no thread could be made; the worker has
    // then left the sweep as if it had probed nothing.
    bool Start();
    // From any thread: the worker stops waiting for answers and leaves.
    void RequestStop();

  private:
    explicit SendArp2GetMacThread(std::shared_ptr<ArpChannel> channel)
        : asker_(std::move(channel)) {}
    void Run();
    void Probe();
    void Report(uint32_t address, const ArpChannel::Mac& mac);
    void Leave();

    std::shared_ptr<SweepContext> owner_;
    uint32_t currentAddress_ = 0;
    uint32_t lastAddress_ = 0;
    uint32_t ownAddress_ = 0;
    ArpAsker asker_;
    const ArpAsker::Found report_ = [this](uint32_t address, const ArpChannel::Mac& mac) {
        Report(address, mac);
    };
    QString filter_;
    std::atomic<bool> stop_{false};
};
