#pragma once

#include "app/InterfaceTable.h"
#include "discovery/SendArp2GetMacThread.h"
#include "discovery/SweepRange.h"

#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// The manager of one discovery sweep: works out the range of the chosen network, starts up to
// 64 ARP workers, forwards a stop to those still running and ends after the last of them has
// left. Found devices go from the workers straight to the main thread.
class IpMacListManageThread {
  public:
    static constexpr int kMaxWorkers = 64;

    // The network is the first interface-table row whose dotted address is ownAddressText;
    // without one the range is empty and nothing is swept.
    IpMacListManageThread(const QString& ownAddressText, const std::vector<InterfaceRow>& table,
                          std::shared_ptr<ArpResolver> arp, std::shared_ptr<NoticeGate> notices);
    // Stops a manager that still runs and waits for it, handling notices meanwhile.
    ~IpMacListManageThread();
    IpMacListManageThread(const IpMacListManageThread&) = delete;
    IpMacListManageThread& operator=(const IpMacListManageThread&) = delete;

    // Stored trimmed of spaces; empty means no filter.
    void SetFilter(const QString& filter) { filter_ = filter.trimmed(); }
    void Start();
    // From the main thread: ask the running workers to stop.
    void RequestStop();
    void Terminate();
    bool HasEnded() const { return ended_.load(); }
    // Waits for the end, handling notices meanwhile; gives the result (1 after a normal end).
    int WaitFor();

    const SweepRange& Range() const { return range_; }
    QString Filter() const { return filter_; }
    // The number of workers the sweep started (known once the manager has ended).
    int WorkerCount() const { return workerCount_.load(); }

  private:
    void Run();

    std::shared_ptr<SweepContext> sweep_;
    uint32_t ownAddress_ = 0;
    SweepRange range_;
    QString filter_;
    std::vector<std::weak_ptr<SendArp2GetMacThread>> workers_;
    std::thread thread_;
    std::atomic<bool> ended_{false};
    std::atomic<int> workerCount_{0};
    int result_ = 0;
};
