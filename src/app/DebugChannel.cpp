#include "app/DebugChannel.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<bool> channelOn{true};
}  // namespace

void SetDebugChannel(bool on) {
    channelOn.store(on, std::memory_order_relaxed);
}

bool DebugChannelOn() {
    return channelOn.load(std::memory_order_relaxed);
}

void DebugLine(const QByteArray& line) {
    if (!DebugChannelOn())
        return;
    const QByteArray whole = line + '\n';
    std::fwrite(whole.constData(), 1, static_cast<size_t>(whole.size()), stderr);
}
