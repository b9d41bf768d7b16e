#pragma once

#include <atomic>
#include <memory>

class NoticeTransport;

// The way by which discovery workers reach the main thread. Workers hold it by shared pointer,
// so a worker that outlives its driver (a probe still waiting for its answer) never touches a
// transport or handler that is gone: once Close has returned, Send delivers nothing.
class NoticeGate {
  public:
    explicit NoticeGate(NoticeTransport* transport) : transport_(transport) {}

    // From a worker: delivers synchronously, as NoticeTransport::Send does. False when closed.
    bool Send(int code, const void* record = nullptr);
    // On the owner's thread: no notice is delivered after this returns. Notices under way are
    // let through first (their handlers must already be removed or ignore them).
    void Close();
    bool IsClosed() const { return closed_.load(); }

  private:
    NoticeTransport* transport_;
    std::atomic<bool> closed_{false};
    std::atomic<int> inFlight_{0};
};
