#include "discovery/IpMacListManageThread.h"

#include "app/Notices.h"
#include "app/ThreadName.h"

#include <algorithm>

IpMacListManageThread::IpMacListManageThread(const QString& ownAddressText,
                                             const std::vector<InterfaceRow>& table,
                                             std::shared_ptr<ArpResolver> arp,
                                             std::shared_ptr<NoticeGate> notices)
    : sweep_(std::make_shared<SweepContext>(std::move(arp), std::move(notices))) {
    if (const InterfaceRow* row = FindInterfaceRow(table, ownAddressText)) {
        ownAddress_ = row->address;
        range_ = SweepRangeOf(row->address, row->mask);
    }
    sweep_->nextAddress = static_cast<uint64_t>(std::max<int64_t>(range_.first, 0)) + kMaxWorkers;
}

IpMacListManageThread::~IpMacListManageThread() {
    if (thread_.joinable()) {
        if (!HasEnded()) {
            RequestStop();
            Terminate();
        }
        WaitFor();
    }
}

void IpMacListManageThread::Start() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
}

void IpMacListManageThread::RequestStop() {
    sweep_->SetFlag(&SweepContext::stopRequested);
}

void IpMacListManageThread::Terminate() {
    sweep_->SetFlag(&SweepContext::terminated);
}

int IpMacListManageThread::WaitFor() {
    if (!thread_.joinable())
        return result_;
    WaitHandlingNotices([this] { return HasEnded(); }, 2);
    thread_.join();
    return result_;
}

void IpMacListManageThread::Run() {
    NameCurrentThread("IpMacListManageThread");
    const uint64_t count = range_.Count();
    if (count <= 1) {
        result_ = 1;
        ended_.store(true);
        return;
    }
    const int k = static_cast<int>(std::min<uint64_t>(count, kMaxWorkers));
    {
        std::lock_guard<std::mutex> lock(sweep_->countLock);
        sweep_->liveWorkers = k;
    }
    workerCount_.store(k);
    sweep_->channel = sweep_->arp ? sweep_->arp->Open(ownAddress_) : nullptr;
    const auto first = static_cast<uint32_t>(range_.first);
    const auto last = static_cast<uint32_t>(range_.last);
    for (int i = 0; i < k; ++i) {
        auto worker = SendArp2GetMacThread::Create(sweep_, last, ownAddress_, first + i);
        if (!filter_.isEmpty())
            worker->SetFilter(filter_);
        workers_.push_back(worker);
        worker->Start();
    }

    // Until every worker has left its loop: a stop (from the driver) is passed on to the
    // workers still running; a worker that has freed itself is not touched.
    std::unique_lock<std::mutex> lock(sweep_->mutex);
    bool stopForwarded = false;
    for (;;) {
        if (sweep_->stopRequested && !stopForwarded) {
            stopForwarded = true;
            lock.unlock();
            for (const auto& weak : workers_)
                if (const auto worker = weak.lock())
                    worker->RequestStop();
            lock.lock();
            continue;
        }
        if (sweep_->workersDone)
            break;
        sweep_->changed.wait(lock);
    }
    lock.unlock();
    // The last worker to go closes the sweep's requests.
    sweep_->channel.reset();
    result_ = 1;
    ended_.store(true);
}
