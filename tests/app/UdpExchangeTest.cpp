#include "app/UdpExchange.h"

#include "support/LoopbackPhone.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <future>

namespace {

// The answer counts when it comes from the phone's address, whatever its port; datagrams from
// other addresses are passed over while the wait goes on.
TEST(UdpExchange, TakesTheAnswerFromThePhonesAddressOnAnyPort) {
    const struct {
        const char* what;
        std::vector<std::pair<const char*, QByteArray>> answers;  // sender address, bytes
        QByteArray reply;
    } cases[] = {
        {"the port asked", {{nullptr, "same port"}}, "same port"},
        {"another port", {{"127.0.0.1", "sip port"}}, "sip port"},
        {"another address first",
         {{"127.0.0.2", "stranger"}, {"127.0.0.3", "stranger 2"}, {"127.0.0.1", "phone"}},
         "phone"},
        {"another address only", {{"127.0.0.2", "stranger"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackPhone phone;
        QByteArray reply = "left over";
        auto exchange = std::async(std::launch::async, [&] {
            return UdpExchange("127.0.0.1", phone.port(), "NOTIFY", 700, &reply);
        });
        // No sender address: the answer comes from the socket that received.
        const auto& first = c.answers.front();
        ASSERT_EQ(phone.receive(first.first ? QByteArray() : first.second), "NOTIFY");
        for (const auto& [from, bytes] : c.answers)
            if (from)
                phone.answerFrom(from, bytes);
        EXPECT_TRUE(exchange.get());
        EXPECT_EQ(reply, c.reply);
    }
}

TEST(UdpExchange, ARefusedPortEndsTheWaitAtOnce) {
    int port = 0;
    {
        LoopbackPhone gone;
        port = gone.port();
    }
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(UdpExchange("127.0.0.1", port, "NOTIFY", 10000, &reply));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(reply, "");
    EXPECT_FALSE(UdpExchange("not-an-address", port, "NOTIFY", 100, &reply));
}

}  // namespace
