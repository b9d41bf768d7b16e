#pragma once

#include <algorithm>
#include <thread>

// Event-loop threads of a built-in server: one per core, at most 4.
inline int DefaultServerThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}
