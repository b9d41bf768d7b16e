#include "servers/ServerRuntime.h"

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// A handler that throws costs one log line with what it threw, and the loop goes on serving the
// handlers after it.
TEST(EventLoopThread, LogsWhatAHandlerThrowsOnceAndServesOn) {
    std::mutex mutex;
    QByteArrayList lines;
    ServerSettings settings;
    settings.lineObserver = [&](const QByteArray& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines << line;
    };
    const ServerRun run(settings);
    std::atomic<int> served{0};
    std::atomic<bool> ended{false};
    {
        EventLoopThread loop(run, "BUILT-IN TEST SERVER", [&] { ended = true; });
        boost::asio::post(loop.Context(), [] { throw std::runtime_error("no such thing"); });
        boost::asio::post(loop.Context(), [] { throw 7; });
        boost::asio::post(loop.Context(), [&] { ++served; });
        loop.Start();
        for (int i = 0; i < 500 && served == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        loop.Stop();
    }
    EXPECT_EQ(served, 1);
    EXPECT_TRUE(ended);
    EXPECT_EQ(lines, (QByteArrayList{
                         "BUILT-IN TEST SERVER: a handler failed: no such thing",
                         "BUILT-IN TEST SERVER: a handler failed: unknown exception",
                     }));
}

TEST(ServerBindAddress, EmptyIsEveryAddressAndTextMustBeAnAddress) {
    EXPECT_TRUE(ServerBindAddress("").is_unspecified());
    EXPECT_EQ(ServerBindAddress("127.0.0.1").to_string(), "127.0.0.1");
    EXPECT_EQ(ServerBindAddress("::1").to_string(), "::1");
    EXPECT_THROW(ServerBindAddress("localhost"), std::invalid_argument);
    EXPECT_THROW(ServerBindAddress("300.1.1.1"), std::invalid_argument);
}

}  // namespace
