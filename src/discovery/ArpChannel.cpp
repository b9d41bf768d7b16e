#include "discovery/ArpChannel.h"

#include <algorithm>

void ArpChannel::Answer(uint32_t target, const Mac& mac) {
    Settle(target, State::Answered, mac);
}

void ArpChannel::Fail(uint32_t target) {
    Settle(target, State::Failed, Mac{});
}

void ArpChannel::Settle(uint32_t target, State state, const Mac& mac) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = entries_.find(target);
    if (it == entries_.end() || it->second.state != State::Waiting)
        return;
    it->second.state = state;
    it->second.mac = mac;
    it->second.asker->changed_.notify_all();
}

ArpAsker::ArpAsker(std::shared_ptr<ArpChannel> channel) : channel_(std::move(channel)) {}

ArpAsker::~ArpAsker() {
    if (!channel_)
        return;
    std::lock_guard<std::mutex> lock(channel_->mutex_);
    for (const Request& r : open_) {
        const auto it = channel_->entries_.find(r.target);
        if (it != channel_->entries_.end() && it->second.asker == this)
            channel_->entries_.erase(it);
    }
}

void ArpAsker::Ask(uint32_t target, const Found& found) {
    if (!channel_)
        return;
    {
        std::lock_guard<std::mutex> lock(channel_->mutex_);
        if (interrupted_)
            return;
        ArpChannel::Entry entry;
        entry.asker = this;
        channel_->entries_[target] = entry;
    }
    // The first send may wait (the kernel's resolutions are kept few); the times count from
    // when it has gone out.
    channel_->Send(target, 0);
    const auto sent = Clock::now();
    open_.push_back({target, sent, 1});
    Serve(found, &target, sent + std::chrono::milliseconds(channel_->Timing().askMs));
}

void ArpAsker::Finish(const Found& found) {
    if (channel_)
        Serve(found, nullptr, Clock::time_point::max());
}

void ArpAsker::Interrupt() {
    if (!channel_)
        return;
    std::lock_guard<std::mutex> lock(channel_->mutex_);
    interrupted_ = true;
    changed_.notify_all();
}

void ArpAsker::Serve(const Found& found, const uint32_t* current, Clock::time_point askEnd) {
    const ArpTiming& timing = channel_->Timing();
    const auto resend = std::chrono::milliseconds(timing.resendMs);
    const auto giveUp = std::chrono::milliseconds(timing.giveUpMs);
    std::vector<std::pair<uint32_t, ArpChannel::Mac>> answers;
    std::vector<std::pair<uint32_t, int>> sends;  // target, attempt
    for (;;) {
        bool done = false;
        {
            std::unique_lock<std::mutex> lock(channel_->mutex_);
            for (;;) {
                const auto now = Clock::now();
                auto next = current ? askEnd : Clock::time_point::max();
                bool currentOpen = false;
                for (auto r = open_.begin(); r != open_.end();) {
                    const auto entry = channel_->entries_.find(r->target);
                    const bool mine =
                        entry != channel_->entries_.end() && entry->second.asker == this;
                    const auto state = mine ? entry->second.state : ArpChannel::State::Failed;
                    if (state != ArpChannel::State::Waiting || now >= r->first + giveUp) {
                        if (state == ArpChannel::State::Answered)
                            answers.emplace_back(r->target, entry->second.mac);
                        if (mine)
                            channel_->entries_.erase(entry);
                        r = open_.erase(r);
                        continue;
                    }
                    if (r->sent < timing.sends && now >= r->first + resend * r->sent)
                        sends.emplace_back(r->target, r->sent++);
                    if (r->sent < timing.sends)
                        next = std::min(next, r->first + resend * r->sent);
                    next = std::min(next, r->first + giveUp);
                    currentOpen = currentOpen || (current && r->target == *current);
                    ++r;
                }
                done = interrupted_ || (current ? !currentOpen || now >= askEnd : open_.empty());
                if (done || !answers.empty() || !sends.empty())
                    break;
                changed_.wait_until(lock, next);
            }
            if (interrupted_)
                sends.clear();
        }
        for (const auto& [target, attempt] : sends)
            channel_->Send(target, attempt);
        for (const auto& [address, mac] : answers)
            found(address, mac);
        sends.clear();
        answers.clear();
        if (done)
            return;
    }
}
