#include "discovery/SendArp2GetMacThread.h"

#include "app/Notices.h"
#include "app/ThreadName.h"
#include "discovery/DiscoveryRecords.h"
#include "discovery/SweepRange.h"

#include <system_error>
#include <thread>

void SweepContext::SetFlag(bool SweepContext::*flag) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        this->*flag = true;
    }
    changed.notify_all();
}

std::shared_ptr<SendArp2GetMacThread> SendArp2GetMacThread::Create(
    std::shared_ptr<SweepContext> owner, uint32_t lastAddress, uint32_t ownAddress,
    uint32_t startAddress) {
    std::shared_ptr<SendArp2GetMacThread> worker(new SendArp2GetMacThread(owner->channel));
    worker->owner_ = std::move(owner);
    worker->lastAddress_ = lastAddress;
    worker->ownAddress_ = ownAddress;
    worker->currentAddress_ = startAddress;
    return worker;
}

bool SendArp2GetMacThread::Start() {
    try {
        std::thread([self = shared_from_this()] { self->Run(); }).detach();
        return true;
    } catch (const std::system_error&) {
        Leave();
        return false;
    }
}

void SendArp2GetMacThread::Run() {
    NameCurrentThread("SendArp2GetMacThread");
    while (!stop_.load()) {
        Probe();
        std::lock_guard<std::mutex> lock(owner_->addressLock);
        if (lastAddress_ < owner_->nextAddress)
            break;
        currentAddress_ = static_cast<uint32_t>(owner_->nextAddress);
        ++owner_->nextAddress;
    }
    if (!stop_.load())
        asker_.Finish(report_);
    Leave();
}

void SendArp2GetMacThread::RequestStop() {
    stop_.store(true);
    asker_.Interrupt();
}

void SendArp2GetMacThread::Leave() {
    std::lock_guard<std::mutex> lock(owner_->countLock);
    if (--owner_->liveWorkers != 0)
        return;
    // The last worker of the sweep: it ends its owner and, unless stopped, reports the end
    // while it holds the count lock, so exactly one worker of a sweep does this. The owner ends
    // only after that report was handled, so no notice of a sweep arrives after its manager.
    owner_->SetFlag(&SweepContext::terminated);
    if (!stop_.load())
        owner_->notices->Send(SweepDoneNotice);
    owner_->SetFlag(&SweepContext::workersDone);
}

void SendArp2GetMacThread::Probe() {
    asker_.Ask(currentAddress_, report_);
}

void SendArp2GetMacThread::Report(uint32_t address, const ArpChannel::Mac& mac) {
    DeviceFoundRecord record;
    record.address = address;
    record.mac = MacText(mac.data());
    if (MacMatchesFilter(record.mac, filter_))
        owner_->notices->Send(DeviceFoundNotice, &record);
}
