// The address allow-list, the credentials and the throttle of failed logins.
#include "protection/AddressAllowList.h"
#include "protection/BasicCredentials.h"
#include "protection/LoginThrottle.h"
#include "protection/ServerAccess.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

uint32_t Ip(const char* text) {
    uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4(text, &a)) << text;
    return a;
}

sockaddr_storage V4(const char* text) {
    sockaddr_storage s{};
    auto& a = reinterpret_cast<sockaddr_in&>(s);
    a.sin_family = AF_INET;
    inet_pton(AF_INET, text, &a.sin_addr);
    return s;
}

sockaddr_storage V6(const char* text) {
    sockaddr_storage s{};
    auto& a = reinterpret_cast<sockaddr_in6&>(s);
    a.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &a.sin6_addr);
    return s;
}

const sockaddr* Sa(const sockaddr_storage& s) {
    return reinterpret_cast<const sockaddr*>(&s);
}

QByteArray Basic(const QByteArray& userAndPassword) {
    return "Basic " + userAndPassword.toBase64();
}

}  // namespace

TEST(AddressAllowList, ParsesAddressesAndNetworksAndNamesTheFirstBadEntry) {
    const struct {
        QString text;
        bool ok;
        QString bad;   // the entry named when refused
        QString form;  // Text() when taken
    } cases[] = {
        {"", true, "", ""},
        {"  ,  ", true, "", ""},
        {"10.0.0.5", true, "", "10.0.0.5"},
        {"10.0.0.0/24, 192.168.1.7", true, "", "10.0.0.0/24, 192.168.1.7"},
        {"10.0.0.77/24\t172.16.0.0/12;", false, "172.16.0.0/12;", ""},
        {"10.0.0.77/24 172.16.9.9/12", true, "", "10.0.0.0/24, 172.16.0.0/12"},
        {"0.0.0.0/0", true, "", "0.0.0.0/0"},
        {"1.2.3.4/32", true, "", "1.2.3.4"},
        {"1.2.3.4/33", false, "1.2.3.4/33", ""},
        {"1.2.3.4/", false, "1.2.3.4/", ""},
        {"1.2.3.4/08", false, "1.2.3.4/08", ""},
        {"1.2.3.4/-1", false, "1.2.3.4/-1", ""},
        {"1.2.3", false, "1.2.3", ""},
        {"1.2.3.256", false, "1.2.3.256", ""},
        {"10.0.0.1, phones.example", false, "phones.example", ""},
        {"fe80::1", false, "fe80::1", ""},
        {"1.2.3.4/24/8", false, "1.2.3.4/24/8", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        AddressAllowList list;
        ASSERT_TRUE(list.Parse("9.9.9.9"));
        QString bad;
        EXPECT_EQ(list.Parse(c.text, &bad), c.ok);
        EXPECT_EQ(bad, c.bad);
        // A refused text leaves the list as it was.
        EXPECT_EQ(list.Text(), c.ok ? c.form : QString("9.9.9.9"));
    }
}

TEST(AddressAllowList, AllowsTheAddressesOfItsNetworksOnly) {
    AddressAllowList list;
    EXPECT_TRUE(list.IsEmpty());
    for (const char* a : {"0.0.0.0", "10.1.2.3", "255.255.255.255"})
        EXPECT_TRUE(list.Allows(Ip(a))) << a;  // empty: everyone
    ASSERT_TRUE(list.Parse("10.0.0.0/24, 192.168.1.7, 172.16.0.0/12"));
    const struct {
        const char* address;
        bool allowed;
    } cases[] = {
        {"10.0.0.0", true},       {"10.0.0.255", true},     {"10.0.1.0", false},
        {"9.255.255.255", false}, {"192.168.1.7", true},    {"192.168.1.8", false},
        {"172.16.0.1", true},     {"172.31.255.254", true}, {"172.32.0.1", false},
        {"127.0.0.1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list.Allows(Ip(c.address)), c.allowed) << c.address;
        EXPECT_EQ(list.Allows(Sa(V4(c.address))), c.allowed) << c.address;
        // The same client as an IPv4-mapped IPv6 address.
        EXPECT_EQ(list.Allows(Sa(V6((std::string("::ffff:") + c.address).c_str()))), c.allowed)
            << c.address;
    }
    EXPECT_FALSE(list.Allows(Sa(V6("fe80::1"))));
    ASSERT_TRUE(list.Parse("0.0.0.0/0"));
    EXPECT_TRUE(list.Allows(Ip("203.0.113.9")));
    EXPECT_TRUE(AddressAllowList().Allows(Sa(V6("fe80::1"))));
}

TEST(AddressAllowList, OwnNetworksLeaveOutLoopbackAndRepeats) {
    const std::vector<InterfaceRow> rows = {
        {Ip("127.0.0.1"), Ip("255.0.0.0"), "lo"},
        {Ip("10.1.2.3"), Ip("255.255.252.0"), "eth0"},
        {Ip("10.1.3.9"), Ip("255.255.252.0"), "eth0"},
        {Ip("192.168.7.20"), Ip("255.255.255.0"), "wlan0"},
        {Ip("100.64.1.1"), Ip("255.255.255.255"), "tun0"},
    };
    const QString text = AddressAllowList::OwnNetworksText(rows);
    EXPECT_EQ(text, "10.1.0.0/22, 192.168.7.0/24, 100.64.1.1");
    AddressAllowList list;
    ASSERT_TRUE(list.Parse(text));
    EXPECT_TRUE(list.Allows(Ip("10.1.1.200")));
    EXPECT_FALSE(list.Allows(Ip("127.0.0.1")));
}

TEST(BasicCredentials, TellsMissingWrongAndRightCredentials) {
    const BasicCredentials c("alice", "p:ss w\xc3\xb6rd");
    using V = BasicCredentials::Verdict;
    const struct {
        QByteArray header;
        V verdict;
    } cases[] = {
        {"", V::Missing},
        {"   ", V::Missing},
        {Basic("alice:p:ss w\xc3\xb6rd"), V::Right},
        {"bAsIc   " + QByteArray("alice:p:ss w\xc3\xb6rd").toBase64() + "  ", V::Right},
        {Basic("alice:p:ss w\xc3\xb6rd "), V::Wrong},
        {Basic("alice:p:ss"), V::Wrong},
        {Basic("Alice:p:ss w\xc3\xb6rd"), V::Wrong},
        {Basic("alice"), V::Wrong},
        {Basic(""), V::Wrong},
        {"Basic", V::Wrong},
        {"Basic !!!not-base64", V::Wrong},
        {"Bearer " + QByteArray("alice:p:ss w\xc3\xb6rd").toBase64(), V::Wrong},
        {"Digest username=\"alice\"", V::Wrong},
    };
    for (const auto& k : cases) {
        const QByteArray h = k.header;
        EXPECT_EQ(c.Check(std::string_view(h.constData(), size_t(h.size()))), k.verdict)
            << h.toStdString();
    }
    EXPECT_TRUE(c.IsSet());
    EXPECT_FALSE(BasicCredentials().IsSet());
    EXPECT_FALSE(BasicCredentials("", "").IsSet());
}

TEST(BasicCredentials, NamesWhatIsWrongWithAUserAndPassword) {
    const struct {
        QString user, password, key;
    } cases[] = {
        {"", "", ""},
        {"alice", "secret", ""},
        {"al ice", "p:w@/?#%", ""},
        {"alice", "", "LAuthError1"},
        {"", "secret", "LAuthError1"},
        {"al:ice", "secret", "LAuthError2"},
        {"alice", "sec\nret", "LAuthError2"},
        {"ali\x7f"
         "ce",
         "secret", "LAuthError2"},
        {"alice", QString("sec") + QChar(0) + "ret", "LAuthError2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BasicCredentials::Problem(c.user, c.password), c.key)
            << c.user.toStdString() << " " << c.password.toStdString();
    QString user, password;
    EXPECT_TRUE(BasicCredentials::Split("alice:pa:ss", &user, &password));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "pa:ss");
    EXPECT_TRUE(BasicCredentials::Split(":", &user, &password));
    EXPECT_EQ(user, "");
    EXPECT_FALSE(BasicCredentials::Split("alice", &user, &password));
}

TEST(LoginThrottle, TenFailuresWithinAMinuteRefuseTheAddressForAMinute) {
    using namespace std::chrono_literals;
    LoginThrottle t;
    const auto t0 = LoginThrottle::Clock::time_point() + 1000s;
    EXPECT_FALSE(t.Refuses("10.0.0.9", t0));
    EXPECT_EQ(t.Tracked(), 0);
    // Nine failures, the tenth a minute after them: the nine have aged out.
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(t.Fail("10.0.0.8", t0));
    EXPECT_FALSE(t.Fail("10.0.0.8", t0 + 60s));
    EXPECT_FALSE(t.Refuses("10.0.0.8", t0 + 60s));
    // Ten within 45 s: the tenth starts a block of a minute.
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(t.Fail("10.0.0.9", t0 + i * 5s));
    EXPECT_TRUE(t.Fail("10.0.0.9", t0 + 45s));
    bool first = false;
    EXPECT_TRUE(t.Refuses("10.0.0.9", t0 + 45s, &first));
    EXPECT_TRUE(first);
    EXPECT_TRUE(t.Refuses("10.0.0.9", t0 + 104s, &first));
    EXPECT_FALSE(first);  // the block's refusals after its first
    EXPECT_FALSE(t.Refuses("10.0.0.8", t0 + 50s));
    EXPECT_FALSE(t.Refuses("10.0.0.9", t0 + 105s));
    // After the block the count starts again.
    EXPECT_FALSE(t.Fail("10.0.0.9", t0 + 106s));
    // A right login forgets the failures.
    for (int i = 0; i < 9; ++i)
        t.Fail("10.0.0.7", t0 + 200s);
    t.Succeed("10.0.0.7");
    EXPECT_FALSE(t.Fail("10.0.0.7", t0 + 200s));
}

TEST(LoginThrottle, ForgetsAddressesWithNothingLeftToRemember) {
    using namespace std::chrono_literals;
    LoginThrottle t;
    const auto t0 = LoginThrottle::Clock::time_point() + 1000s;
    for (int i = 0; i < 1024; ++i)
        t.Fail(QByteArray::number(i), t0);
    EXPECT_EQ(t.Tracked(), 1024);
    for (int i = 0; i < 10; ++i)
        t.Fail("blocked", t0 + 30s);
    // A minute later the others are pruned; the blocked one stays while it is blocked.
    t.Fail("new", t0 + 61s);
    EXPECT_EQ(t.Tracked(), 2);  // the blocked one and the new one
    EXPECT_TRUE(t.Refuses("blocked", t0 + 61s));
}

// Far more failing addresses than the table keeps: it stays at its bound, forgets the addresses
// that failed least recently, and keeps a block under way as long as others can go instead.
TEST(LoginThrottle, KeepsAtMostItsBoundAndForgetsTheLeastRecentFirst) {
    using namespace std::chrono_literals;
    LoginThrottle t;
    const auto t0 = LoginThrottle::Clock::time_point() + 1000s;
    for (int i = 0; i < LoginThrottle::kLimit; ++i)
        t.Fail("blocked", t0);
    constexpr int kOthers = int(LoginThrottle::kMaxTracked) + 5000;
    for (int i = 0; i < kOthers; ++i)
        t.Fail("a" + QByteArray::number(i), t0 + 1s + std::chrono::microseconds(i));
    EXPECT_EQ(t.Tracked(), int(LoginThrottle::kMaxTracked));
    const auto later = t0 + 2s;
    EXPECT_TRUE(t.Refuses("blocked", later));
    // The most recent addresses keep their count: nine more failures block the last one ...
    const QByteArray last = "a" + QByteArray::number(kOthers - 1);
    for (int i = 0; i < LoginThrottle::kLimit - 2; ++i)
        EXPECT_FALSE(t.Fail(last, later));
    EXPECT_TRUE(t.Fail(last, later));
    // ... while the first ones were forgotten and count from one again.
    for (int i = 0; i < LoginThrottle::kLimit - 2; ++i)
        EXPECT_FALSE(t.Fail("a0", later));
    EXPECT_FALSE(t.Fail("a0", later));
    EXPECT_EQ(t.Tracked(), int(LoginThrottle::kMaxTracked));
    // When every address is blocked, the block ending soonest goes first.
    LoginThrottle full;
    for (int i = 0; i < int(LoginThrottle::kMaxTracked) + 1; ++i)
        for (int k = 0; k < LoginThrottle::kLimit; ++k)
            full.Fail("b" + QByteArray::number(i), t0 + std::chrono::microseconds(i));
    EXPECT_EQ(full.Tracked(), int(LoginThrottle::kMaxTracked));
    EXPECT_FALSE(full.Refuses("b0", t0 + 1s));
    EXPECT_TRUE(full.Refuses("b1", t0 + 1s));
    // A minute on, all have expired: the next failure leaves one address.
    full.Fail("c", t0 + 2min);
    EXPECT_EQ(full.Tracked(), 1);
}

TEST(ServerAccess, ChecksTheAddressThenTheBlockThenTheCredentials) {
    AddressAllowList list;
    ASSERT_TRUE(list.Parse("127.0.0.0/30"));
    ServerAccess access(list, BasicCredentials("u", "p"));
    const sockaddr_storage in = V4("127.0.0.2"), out = V4("127.0.0.9");
    const QByteArray right = Basic("u:p"), wrong = Basic("u:x");
    const auto check = [&](const sockaddr_storage& peer, const char* text, const QByteArray& h) {
        return access.Check(Sa(peer), text, std::string_view(h.constData(), size_t(h.size())));
    };
    EXPECT_EQ(check(out, "127.0.0.9", right).status, 403);
    EXPECT_EQ(check(in, "127.0.0.2", {}).status, 401);
    EXPECT_STREQ(check(in, "127.0.0.2", {}).reason, "no credentials");
    EXPECT_EQ(check(in, "127.0.0.2", right).status, 0);
    // Missing credentials are a question, not a failure: no block however often.
    for (int i = 0; i < 20; ++i)
        check(in, "127.0.0.2", {});
    EXPECT_EQ(check(in, "127.0.0.2", right).status, 0);
    for (int i = 0; i < 10; ++i) {
        const ServerAccess::Refusal r = check(in, "127.0.0.2", wrong);
        EXPECT_EQ(r.status, 401);
        EXPECT_STREQ(r.reason, "wrong credentials");
    }
    const ServerAccess::Refusal blocked = check(in, "127.0.0.2", right);
    EXPECT_EQ(blocked.status, 429);
    EXPECT_TRUE(blocked.logged);
    EXPECT_FALSE(check(in, "127.0.0.2", right).logged);
    EXPECT_EQ(check(in, "127.0.0.1", right).status, 0);  // another address is not blocked
    EXPECT_EQ(check(out, "127.0.0.9", right).status, 403);

    // Without credentials only the list counts.
    ServerAccess listOnly(list, BasicCredentials());
    EXPECT_EQ(listOnly.Check(Sa(in), "127.0.0.2", {}).status, 0);
    EXPECT_EQ(listOnly.Check(Sa(out), "127.0.0.9", {}).status, 403);
}
