#pragma once

#include <functional>

// Process-wide bookkeeping of the short-lived worker threads that free themselves when done
// (SIP probes and commands): shutdown asks them to end their waits and waits for them, so that
// none outlives the objects it reports to.
namespace Workers {

// Runs fn on a detached thread with the given name (at most 15 characters are kept).
void StartDetached(const char* name, std::function<void()> fn);
// True once StopAll has begun: workers end their waits early.
bool StopRequested();
// Asks every worker to end and waits, handling notices, until none runs or timeoutMs passed.
// True when none runs.
bool StopAll(int timeoutMs);
int LiveCount();
// For tests: lets workers run again after StopAll.
void Reset();

// Waits until fd is readable, timeoutMs passes or a stop is requested; true when readable.
bool WaitReadable(int fd, int timeoutMs);

}  // namespace Workers
