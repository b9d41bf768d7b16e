#include "app/Notices.h"

#include <gtest/gtest.h>
#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Record {
    int value = 0;
    bool seenByHandler = false;
};

}  // namespace

// A worker's Send returns only after the main thread's handler has run, so the record may
// live on the worker's stack and the worker sees what the handler did to it.
TEST(NoticeTransport, SendBlocksUntilTheMainThreadHandledTheNotice) {
    NoticeTransport transport;
    QThread* mainThread = QThread::currentThread();
    std::atomic<bool> handledOnMain{false};
    transport.SetHandler(DeviceFoundNotice, [&](int code, const void* record) {
        EXPECT_EQ(code, DeviceFoundNotice);
        handledOnMain = QThread::currentThread() == mainThread;
        auto* r = static_cast<Record*>(const_cast<void*>(record));
        r->value *= 2;
        r->seenByHandler = true;
    });

    std::atomic<bool> done{false};
    Record afterSend;
    std::thread worker([&] {
        Record onStack;
        onStack.value = 21;
        transport.Send(DeviceFoundNotice, &onStack);
        afterSend = onStack;
        done = true;
    });
    WaitHandlingNotices([&] { return done.load(); });
    worker.join();

    EXPECT_TRUE(handledOnMain);
    EXPECT_TRUE(afterSend.seenByHandler);
    EXPECT_EQ(afterSend.value, 42);
}

// While the main thread waits for workers, their notices keep being handled, one at a time
// and in each worker's order; a notice without handler returns at once.
TEST(NoticeTransport, NoticesFlowWhileTheMainThreadWaitsForWorkers) {
    NoticeTransport transport;
    QThread* mainThread = QThread::currentThread();
    std::vector<std::pair<int, int>> handled;  // (code, worker)
    std::atomic<int> inHandler{0};
    bool overlapped = false;
    bool offMain = false;
    for (int code = DeviceFoundNotice; code <= ToolStatusWait; ++code)
        transport.SetHandler(code, [&](int c, const void* record) {
            overlapped = overlapped || inHandler.fetch_add(1) != 0;
            offMain = offMain || QThread::currentThread() != mainThread;
            handled.emplace_back(c, *static_cast<const int*>(record));
            inHandler.fetch_sub(1);
        });
    transport.RemoveHandler(SweepDoneNotice);

    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w)
        workers.emplace_back([&, w] {
            for (int code = DeviceFoundNotice; code <= ToolStatusWait; ++code)
                transport.Send(code, &w);
            ++finished;
        });
    WaitHandlingNotices([&] { return finished.load() == 3; });
    for (auto& t : workers)
        t.join();

    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(offMain);
    const int codesPerWorker = ToolStatusWait - DeviceFoundNotice;  // all but SweepDoneNotice
    ASSERT_EQ(handled.size(), size_t(3 * codesPerWorker));
    for (int w = 0; w < 3; ++w) {
        std::vector<int> codes;
        for (const auto& [code, worker] : handled)
            if (worker == w)
                codes.push_back(code);
        std::vector<int> expected;
        for (int code = DeviceFoundNotice; code <= ToolStatusWait; ++code)
            if (code != SweepDoneNotice)
                expected.push_back(code);
        EXPECT_EQ(codes, expected) << "worker " << w;
    }
}

TEST(NoticeTransport, SendOnTheOwningThreadRunsTheHandlerAtOnce) {
    NoticeTransport transport;
    int calls = 0;
    transport.SetHandler(ToolStatusFinished, [&](int, const void*) { ++calls; });
    transport.Send(ToolStatusFinished);
    EXPECT_EQ(calls, 1);
    transport.Send(ToolStatusOk);  // no handler
    EXPECT_EQ(calls, 1);
}
