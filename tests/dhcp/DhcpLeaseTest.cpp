// The lease script as the engine runs it (by /bin/sh, with its arguments and environment), and
// the reader of what it writes.
#include "dhcp/DhcpLease.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <sys/stat.h>

namespace {

constexpr std::time_t kNow = 1796900000;

class LeaseScript : public ::testing::Test {
  protected:
    void SetUp() override {
        script_ = dir_.write("lease-event", DhcpLeaseReader::ScriptText());
        ASSERT_TRUE(QFile::setPermissions(script_, QFile::ReadOwner | QFile::ExeOwner));
    }
    // Runs the script as the engine does; gives the bytes it wrote to "lease-events".
    QByteArray run(const QStringList& args, const std::map<QString, QByteArray>& env) {
        QFile::remove(dir_.file("lease-events"));
        QProcess p;
        QProcessEnvironment e;
        e.insert("PATH", "/usr/bin:/bin");
        for (const auto& [name, value] : env)
            e.insert(name, QString::fromUtf8(value));
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(dir_.path());
        p.start(script_, args);
        EXPECT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return ReadFileBytes(dir_.file("lease-events"));
    }

    TempDir dir_;
    QString script_;
};

TEST_F(LeaseScript, EachActionOfTheEngineBecomesItsLease) {
    const QByteArray end = QByteArray::number(kNow + 3600);
    const QByteArray past = QByteArray::number(kNow - 1);
    const struct {
        QStringList args;
        std::map<QString, QByteArray> env;
        DhcpLease::Kind kind;
        QByteArray host, vendor;
        std::time_t leaseEnd;
    } cases[] = {
        {{"add", "0A:1b:2c:00:01:02", "10.1.2.50", "phone-one"},
         {{"DNSMASQ_VENDOR_CLASS", "Orvo X100 2.0.4"},
          {"DNSMASQ_SUPPLIED_HOSTNAME", "phone-one"},
          {"DNSMASQ_LEASE_EXPIRES", end}},
         DhcpLease::Kind::Add,
         "phone-one",
         "Orvo X100 2.0.4",
         kNow + 3600},
        // The name as the client supplied it wins over the engine's cleaned one.
        {{"old", "0a:1b:2c:00:01:02", "10.1.2.50", "phone"},
         {{"DNSMASQ_SUPPLIED_HOSTNAME", "phone one"}, {"DNSMASQ_LEASE_EXPIRES", end}},
         DhcpLease::Kind::Renew,
         "phone one",
         "",
         kNow + 3600},
        {{"old", "0a:1b:2c:00:01:02", "10.1.2.50"},
         {{"DNSMASQ_LEASE_LENGTH", "600"}},
         DhcpLease::Kind::Renew,
         "",
         "",
         kNow + 600},
        {{"del", "0a:1b:2c:00:01:02", "10.1.2.50", "phone"},
         {{"DNSMASQ_LEASE_EXPIRES", end}},
         DhcpLease::Kind::Release,
         "phone",
         "",
         kNow + 3600},
        {{"del", "0a:1b:2c:00:01:02", "10.1.2.50"},
         {{"DNSMASQ_LEASE_EXPIRES", past}},
         DhcpLease::Kind::Expire,
         "",
         "",
         kNow - 1},
        // Bytes of every kind pass through as they are, none of them run.
        {{"add", "0a:1b:2c:00:01:02", "10.1.2.50"},
         {{"DNSMASQ_VENDOR_CLASS", "a\tb\nL\n$(touch pwned)`touch pwned`'\"\\%s"}},
         DhcpLease::Kind::Add,
         "",
         "a\tb\nL\n$(touch pwned)`touch pwned`'\"\\%s",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const QByteArray written = run(c.args, c.env);
        DhcpLeaseReader reader;
        const std::vector<DhcpLease> leases =
            reader.Feed(written.constData(), size_t(written.size()), kNow);
        ASSERT_EQ(leases.size(), 1u) << written.toPercentEncoding().toStdString();
        EXPECT_EQ(leases[0].kind, c.kind);
        EXPECT_EQ(leases[0].mac, "0a1b2c000102");
        EXPECT_EQ(leases[0].address, "10.1.2.50");
        EXPECT_EQ(leases[0].hostName, c.host);
        EXPECT_EQ(leases[0].vendorClass, c.vendor);
        EXPECT_EQ(leases[0].leaseEnd, c.leaseEnd);
    }
    EXPECT_FALSE(QFile::exists(dir_.file("pwned")));
}

TEST_F(LeaseScript, OtherActionsAndMalformedFieldsGiveNoLease) {
    const QList<QStringList> ignored = {
        {"tftp", "1024", "10.1.2.50", "/srv/file"},
        {"arp-add", "0a:1b:2c:00:01:02", "10.1.2.50"},
        {"init"},
        {"add", "6-0a:1b:2c:00:01:02", "10.1.2.50"},  // another hardware type
        {"add", "0a:1b:2c:00:01", "10.1.2.50"},
        {"add", "0a:1b:2c:00:01:0g", "10.1.2.50"},
        {"add", "0a-1b-2c-00-01-02", "10.1.2.50"},
        {"add", "0a:1b:2c:00:01:02", "10.1.2.500"},
        {"add", "0a:1b:2c:00:01:02", "10.1.2.050"},
    };
    for (const QStringList& args : ignored) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const QByteArray written = run(args, {});
        DhcpLeaseReader reader;
        EXPECT_TRUE(reader.Feed(written.constData(), size_t(written.size()), kNow).empty());
    }
}

// When the program has stopped reading (the server stopped while the engine still ran scripts
// for changes it had queued), the script ends all the same, its record dropped.
TEST_F(LeaseScript, WithoutAReaderTheScriptEndsAtOnce) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir_.file("lease-events")).constData(), 0600), 0);
    QProcess p;
    p.start(script_, {"add", "0a:1b:2c:00:01:02", "10.1.2.50"});
    const bool ended = p.waitForFinished(3000);
    if (!ended)
        p.kill();
    p.waitForFinished(2000);
    EXPECT_TRUE(ended);
    EXPECT_EQ(p.exitCode(), 0);
}

TEST(LeaseReader, RecordsAreReadWhateverTheyArriveInAndAfterAnyNoise) {
    auto record = [](const char* action, const char* mac) {
        return QByteArray("L\0", 2) + action + '\0' + mac + '\0' + "10.1.2.50" + '\0' + "L" + '\0' +
               "L" + '\0' + '\0' + "1796903600" + '\0' + '\0';
    };
    const QByteArray stream = QByteArray("noise\0\0x\0", 9) + record("add", "0a:1b:2c:00:01:02") +
                              record("tftp", "x") + record("del", "0a:1b:2c:00:01:03");
    // Whole, and one byte at a time.
    for (const int piece : {int(stream.size()), 1}) {
        SCOPED_TRACE(piece);
        DhcpLeaseReader reader;
        std::vector<DhcpLease> leases;
        for (qsizetype at = 0; at < stream.size(); at += piece)
            for (const DhcpLease& l :
                 reader.Feed(stream.constData() + at,
                             size_t(std::min<qsizetype>(piece, stream.size() - at)), kNow))
                leases.push_back(l);
        ASSERT_EQ(leases.size(), 2u);
        EXPECT_EQ(leases[0].mac, "0a1b2c000102");
        EXPECT_EQ(leases[0].hostName, "L");
        EXPECT_EQ(leases[0].vendorClass, "L");
        EXPECT_EQ(leases[1].mac, "0a1b2c000103");
        EXPECT_EQ(leases[1].kind, DhcpLease::Kind::Release);
    }
    // A field that never ends is dropped, and the next record is read.
    DhcpLeaseReader reader;
    const QByteArray endless(100 * 1024, 'x');
    EXPECT_TRUE(reader.Feed(endless.constData(), size_t(endless.size()), kNow).empty());
    const QByteArray next = QByteArray(1, '\0') + record("add", "0a:1b:2c:00:01:04");
    const std::vector<DhcpLease> after = reader.Feed(next.constData(), size_t(next.size()), kNow);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].mac, "0a1b2c000104");
}

}  // namespace
