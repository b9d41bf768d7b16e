#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

// How the ARP requests of a sweep are timed. A worker waits askMs for the address it asks and
// then asks the next one; the request stays open meanwhile: it goes out again every resendMs
// until it has gone out `sends` times, and an answer is taken until giveUpMs after the first
// send, when the worker that asked reports it.
struct ArpTiming {
    int askMs = 200;
    int resendMs = 200;
    int sends = 3;
    int giveUpMs = 600;
};

class ArpAsker;

// The ARP requests of one sweep from one own address: a subclass sends them and hands every
// answer it receives to Answer, which wakes the asker that waits for it. Thread-safe.
class ArpChannel {
  public:
    using Mac = std::array<uint8_t, 6>;

    explicit ArpChannel(const ArpTiming& timing) : timing_(timing) {}
    virtual ~ArpChannel() = default;
    ArpChannel(const ArpChannel&) = delete;
    ArpChannel& operator=(const ArpChannel&) = delete;

    const ArpTiming& Timing() const { return timing_; }
    // Sends the request for target (host byte order); attempt counts from 0. Called from the
    // workers' threads, never under the channel's lock.
    virtual void Send(uint32_t target, int attempt) = 0;

  protected:
    // target answered; an answer for an address that nobody asks (any more) is dropped.
    void Answer(uint32_t target, const Mac& mac);
    // target will not answer: its asker gives it up at once.
    void Fail(uint32_t target);

  private:
    friend class ArpAsker;
    enum class State { Waiting, Answered, Failed };
    struct Entry {
        ArpAsker* asker = nullptr;
        State state = State::Waiting;
        Mac mac{};
    };
    void Settle(uint32_t target, State state, const Mac& mac);

    const ArpTiming timing_;
    std::mutex mutex_;
    std::unordered_map<uint32_t, Entry> entries_;  // the open requests, by target
};

// The requests of one worker: the address it asks now and the earlier ones whose answers may
// still come. Each answer is handed to `found` on the worker's own thread as soon as it is
// there. Without a channel nothing ever answers.
class ArpAsker {
  public:
    using Found = std::function<void(uint32_t address, const ArpChannel::Mac& mac)>;

    explicit ArpAsker(std::shared_ptr<ArpChannel> channel);
    // Withdraws the requests still open.
    ~ArpAsker();
    ArpAsker(const ArpAsker&) = delete;
    ArpAsker& operator=(const ArpAsker&) = delete;

    // Sends the request for target and returns when it has answered or its ask time is over,
    // reporting the answers that come meanwhile (earlier requests' too).
    void Ask(uint32_t target, const Found& found);
    // Waits until every open request has answered or been given up, reporting the answers.
    void Finish(const Found& found);
    // From any thread: Ask and Finish return at once, now and from now on.
    void Interrupt();

  private:
    friend class ArpChannel;
    using Clock = std::chrono::steady_clock;
    struct Request {
        uint32_t target;
        Clock::time_point first;
        int sent;
    };
    // Serves the open requests until current (when given) has answered or askEnd has passed,
    // or, without current, until none is open.
    void Serve(const Found& found, const uint32_t* current, Clock::time_point askEnd);

    const std::shared_ptr<ArpChannel> channel_;
    std::vector<Request> open_;
    std::condition_variable changed_;  // under the channel's lock
    bool interrupted_ = false;         // under the channel's lock
};
