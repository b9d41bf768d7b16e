#include "discovery/IpMacListManageThread.h"

#include "app/Notices.h"
#include "discovery/DiscoveryRecords.h"
#include "discovery/NoticeWait.h"
#include "discovery/ScriptedArp.h"

#include <gtest/gtest.h>

namespace {

// A manager on a scripted ARP layer, with the notices of its sweep collected on this thread.
class Sweep : public ::testing::Test {
  protected:
    Sweep() : gate(std::make_shared<NoticeGate>(&transport)), arp(std::make_shared<ScriptedArp>()) {
        transport.SetHandler(DeviceFoundNotice, [this](int, const void* r) {
            found.push_back(*static_cast<const DeviceFoundRecord*>(r));
        });
        transport.SetHandler(SweepDoneNotice, [this](int, const void*) { ++sweepDone; });
    }
    ~Sweep() override { gate->Close(); }

    void AddInterface(const char* address, const char* mask) {
        InterfaceRow row;
        row.address = Ip(address);
        row.mask = Ip(mask);
        table.push_back(row);
    }
    std::unique_ptr<IpMacListManageThread> Manager(const char* own, const QString& filter = {}) {
        auto m = std::make_unique<IpMacListManageThread>(own, table, arp, gate);
        m->SetFilter(filter);
        return m;
    }
    // Every address from first to last inclusive was asked exactly once, and nothing else.
    void ExpectEachProbedOnce(const char* first, const char* last) {
        const auto probes = arp->Probes();
        EXPECT_EQ(probes.size(), Ip(last) - Ip(first) + 1);
        for (const auto& [address, times] : probes) {
            EXPECT_GE(address, Ip(first));
            EXPECT_LE(address, Ip(last));
            EXPECT_EQ(times, 1) << Ipv4Text(address).toStdString();
        }
    }

    NoticeTransport transport;
    std::shared_ptr<NoticeGate> gate;
    std::shared_ptr<ScriptedArp> arp;
    std::vector<InterfaceRow> table;
    std::vector<DeviceFoundRecord> found;
    int sweepDone = 0;
};

TEST_F(Sweep, A24IsProbedOnceEachBy64WorkersWithOneSweepDone) {
    AddInterface("10.0.0.5", "255.0.0.0");
    AddInterface("192.168.1.7", "255.255.255.0");
    arp->AddHost(Ip("192.168.1.20"), {0x0a, 0x1b, 0x2c, 0x33, 0x44, 0x55});
    arp->AddHost(Ip("192.168.1.254"), {0x00, 0x01, 0x02, 0x03, 0x04, 0x05});
    arp->AddHost(Ip("192.168.2.1"), {0x00, 0x01, 0x02, 0x03, 0x04, 0x06});  // another network
    arp->SetDelay(std::chrono::milliseconds(3));
    // Each request is sent again 10 ms after the first, and given up after 500 ms.
    arp->SetTiming({10, 10, 2, 500});
    auto m = Manager("192.168.1.7");
    EXPECT_EQ(m->Range().Count(), 254u);
    m->Start();
    EXPECT_EQ(m->WaitFor(), 1);

    EXPECT_EQ(m->WorkerCount(), 64);
    ExpectEachProbedOnce("192.168.1.1", "192.168.1.254");
    EXPECT_LE(arp->Senders(), 64u);
    EXPECT_GT(arp->Senders(), 1u);
    // A silent address's request goes out again; an answered one is not repeated.
    EXPECT_EQ(arp->Sends()[Ip("192.168.1.9")], 2);
    EXPECT_EQ(arp->Sends()[Ip("192.168.1.20")], 1);
    // The own address is probed like any other, and is the source of every request.
    EXPECT_EQ(arp->Probes().count(Ip("192.168.1.7")), 1u);
    EXPECT_EQ(arp->Sources(), std::set<uint32_t>{Ip("192.168.1.7")});
    EXPECT_EQ(sweepDone, 1);
    ASSERT_EQ(found.size(), 2u);
    std::map<uint32_t, QString> byAddress;
    for (const auto& r : found)
        byAddress[r.address] = r.mac;
    EXPECT_EQ(byAddress[Ip("192.168.1.20")], "0a-1b-2c-33-44-55");
    EXPECT_EQ(byAddress[Ip("192.168.1.254")], "00-01-02-03-04-05");
}

TEST_F(Sweep, LateAnswersAndAnswersToResendsAreReportedBeforeTheSweepEnds) {
    AddInterface("10.0.0.5", "255.255.255.0");
    // Each worker waits 20 ms for its address, resends at 40 and 80 ms, gives up at 600 ms.
    arp->SetTiming({20, 40, 3, 600});
    struct Case {
        const char* address;
        int answerAfterMs;
        int firstAnsweredSend;
        bool reported;
    } cases[] = {
        {"10.0.0.20", 0, 0, true},      // at once
        {"10.0.0.30", 100, 0, true},    // after its worker moved on
        {"10.0.0.40", 0, 1, true},      // the first request was lost
        {"10.0.0.50", 30, 2, true},     // only the last resend gets through, late
        {"10.0.0.60", 1500, 0, false},  // after the give-up
        {"10.0.0.70", 0, 3, false},     // a fourth request is never sent
    };
    for (const Case& c : cases)
        arp->AddHost(Ip(c.address), {0x0a, 0, 0, 0, 0, static_cast<uint8_t>(Ip(c.address))},
                     c.answerAfterMs, c.firstAnsweredSend);
    std::vector<int> order;  // 1 found, 2 sweep done
    transport.SetHandler(DeviceFoundNotice, [&](int, const void* r) {
        found.push_back(*static_cast<const DeviceFoundRecord*>(r));
        order.push_back(1);
    });
    transport.SetHandler(SweepDoneNotice, [&](int, const void*) { order.push_back(2); });
    auto m = Manager("10.0.0.5");
    m->Start();
    EXPECT_EQ(m->WaitFor(), 1);

    ExpectEachProbedOnce("10.0.0.1", "10.0.0.254");
    for (const auto& [address, sends] : arp->Sends())
        EXPECT_LE(sends, 3);
    std::set<uint32_t> reported;
    for (const auto& r : found)
        reported.insert(r.address);
    EXPECT_EQ(reported.size(), found.size());
    for (const Case& c : cases)
        EXPECT_EQ(reported.count(Ip(c.address)), c.reported ? 1u : 0u) << c.address;
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.back(), 2);
    EXPECT_EQ(std::count(order.begin(), order.end(), 2), 1);
}

TEST_F(Sweep, AnAddressKnownNotToAnswerIsNotAwaited) {
    AddInterface("10.0.0.5", "255.255.255.248");
    // Waiting for a give-up time this long would outlast the test.
    arp->SetTiming({5, 5, 1, 600000});
    arp->FailSilent();
    arp->AddHost(Ip("10.0.0.3"), {0x0a, 0, 0, 0, 0, 3});
    auto m = Manager("10.0.0.5");
    m->Start();
    ASSERT_TRUE(WaitFor([&] { return m->HasEnded(); }));
    EXPECT_EQ(m->WaitFor(), 1);
    EXPECT_EQ(sweepDone, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].address, Ip("10.0.0.3"));
}

TEST_F(Sweep, AStopWhileWorkersAwaitLateAnswersEndsTheSweepAtOnce) {
    AddInterface("10.0.0.5", "255.255.255.0");
    arp->SetTiming({1, 1, 1, 600000});
    auto m = Manager("10.0.0.5");
    m->Start();
    // Every address asked: the workers now wait for answers that do not come.
    ASSERT_TRUE(WaitFor([&] { return arp->Probes().size() == 254u; }));
    EXPECT_FALSE(m->HasEnded());
    m->RequestStop();
    EXPECT_EQ(m->WaitFor(), 1);
    EXPECT_EQ(sweepDone, 0);
}

TEST_F(Sweep, ASmallNetworkRunsOneWorkerPerAddress) {
    AddInterface("10.0.0.5", "255.255.255.248");
    auto m = Manager("10.0.0.5");
    m->Start();
    EXPECT_EQ(m->WaitFor(), 1);
    EXPECT_EQ(m->WorkerCount(), 6);
    ExpectEachProbedOnce("10.0.0.1", "10.0.0.6");
    EXPECT_EQ(sweepDone, 1);
    EXPECT_TRUE(found.empty());
}

TEST_F(Sweep, OnlyHostsMatchingTheFilterAreReported) {
    AddInterface("10.0.0.5", "255.255.255.0");
    arp->AddHost(Ip("10.0.0.20"), {0x0A, 0x1B, 0x2C, 0x33, 0x44, 0x55});
    arp->AddHost(Ip("10.0.0.21"), {0x0A, 0x1B, 0x2D, 0x33, 0x44, 0x55});
    auto m = Manager("10.0.0.5", "  0A-1b-2c- ");
    EXPECT_EQ(m->Filter(), "0A-1b-2c-");
    m->Start();
    m->WaitFor();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].address, Ip("10.0.0.20"));
    EXPECT_EQ(found[0].mac, "0a-1b-2c-33-44-55");
    EXPECT_EQ(sweepDone, 1);
}

TEST_F(Sweep, AStopMidSweepEndsEveryWorkerWithoutSweepDone) {
    AddInterface("10.0.0.5", "255.255.255.0");
    arp->AddHost(Ip("10.0.0.10"), {0x0a, 0, 0, 0, 0, 1});
    arp->AddHost(Ip("10.0.0.200"), {0x0a, 0, 0, 0, 0, 2});
    arp->HoldFrom(Ip("10.0.0.100"));
    arp->SetDelay(std::chrono::milliseconds(2));
    auto m = Manager("10.0.0.5");
    m->Start();
    // Every worker ends up blocked in a request at .100 or above.
    ASSERT_TRUE(WaitFor([&] { return arp->Held() == 64; }));
    EXPECT_FALSE(m->HasEnded());
    m->RequestStop();
    arp->Release();
    EXPECT_EQ(m->WaitFor(), 1);

    EXPECT_EQ(sweepDone, 0);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].address, Ip("10.0.0.10"));
    // The manager passes the stop on by itself, so a worker may take one more address.
    const auto probes = arp->Probes();
    EXPECT_GE(probes.size(), 99u + 64u);  // .1 to .99, then one held request per worker
    EXPECT_LT(probes.size(), 99u + 64u + 64u);
    for (const auto& [address, times] : probes)
        EXPECT_EQ(times, 1);
    // A stop after the end changes nothing.
    m->RequestStop();
    EXPECT_EQ(m->WaitFor(), 1);
}

TEST_F(Sweep, TinyOrUnknownNetworksSweepNothing) {
    AddInterface("10.0.0.4", "255.255.255.254");
    AddInterface("10.0.1.4", "255.255.255.255");
    for (const char* own : {"10.0.0.4", "10.0.1.4", "10.9.9.9"}) {
        SCOPED_TRACE(own);
        auto m = Manager(own);
        m->Start();
        EXPECT_EQ(m->WaitFor(), 1);
        EXPECT_EQ(m->WorkerCount(), 0);
    }
    EXPECT_TRUE(arp->Probes().empty());
    EXPECT_EQ(sweepDone, 0);
}

TEST_F(Sweep, DestroyingARunningManagerStopsItsWorkers) {
    AddInterface("10.0.0.5", "255.255.255.0");
    arp->SetDelay(std::chrono::milliseconds(20));
    {
        auto m = Manager("10.0.0.5");
        m->Start();
        ASSERT_TRUE(WaitFor([&] { return arp->Probes().size() >= 64; }));
    }
    EXPECT_EQ(sweepDone, 0);
    EXPECT_LT(arp->Probes().size(), 254u);
}

}  // namespace
