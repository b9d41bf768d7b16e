// The protection as the settings keep it and as the servers are given it.
#include "app/SettingsStore.h"
#include "protection/ServerProtection.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>

namespace {

int Mode(const QString& path) {
    struct stat s {};
    return ::stat(QFile::encodeName(path).constData(), &s) == 0 ? int(s.st_mode & 0777) : -1;
}

}  // namespace

// A settings file of an earlier version gets the keys; the file is private while it holds a
// password; what was written reads back.
TEST(ServerProtection, IsKeptInTheSettingsPrivateWhileTheyHoldAPassword) {
    TempDir work;
    work.write("ini/.keep", "");
    SettingsStore settings;
    settings.LoadText(
        "[HTTP SERVER]\r\nmode=0\r\nbuilt_in_port=6000\r\n[PNP SERVER]\r\nmode=0\r\n");
    EXPECT_FALSE(ReadServerProtection(settings).https);
    const ServerProtection written{true,         "/c/s.crt", "/c/s.key",
                                   "10.0.0.0/8", "phone",    "p@ss=w;rd"};
    WriteServerProtection(settings, written);
    ASSERT_TRUE(settings.Save(work.path()));
    EXPECT_EQ(Mode(work.file("ini/setting.ini")), 0600);
    SettingsStore again;
    ASSERT_TRUE(again.LoadFile(work.file("ini/setting.ini")));
    const ServerProtection read = ReadServerProtection(again);
    EXPECT_EQ(read.https, true);
    EXPECT_EQ(read.certFile, written.certFile);
    EXPECT_EQ(read.keyFile, written.keyFile);
    EXPECT_EQ(read.allowText, written.allowText);
    EXPECT_EQ(read.user, written.user);
    EXPECT_EQ(read.password, written.password);
    EXPECT_TRUE(again.Text().contains("[HTTP SERVER]\r\nmode=0\r\nbuilt_in_port=6000\r\nhttps=1"));

    WriteServerProtection(again, {});
    EXPECT_FALSE(ReadServerProtection(again).https);
    EXPECT_TRUE(ReadServerProtection(again).password.isEmpty());
}

TEST(ServerProtection, OffByDefaultInTheSuppliedSettings) {
    SettingsStore settings;
    ASSERT_TRUE(settings.LoadFile(SourcePath("data/ini/$default.ini")));
    const ServerProtection p = ReadServerProtection(settings);
    EXPECT_FALSE(p.https);
    EXPECT_TRUE(p.certFile.isEmpty() && p.keyFile.isEmpty() && p.allowText.isEmpty() &&
                p.user.isEmpty() && p.password.isEmpty());
    const PreparedProtection prepared = PrepareProtection(p, {}, {}, {});
    EXPECT_TRUE(prepared.error.isEmpty());
    EXPECT_EQ(prepared.access, nullptr);
    EXPECT_FALSE(prepared.https);
    EXPECT_TRUE(HttpProtectionLines(prepared).isEmpty());
    EXPECT_TRUE(TftpProtectionLines(prepared).isEmpty());
}

// The page's allow field: empty or blank allows everyone, as documented; separators without an
// entry are refused rather than taken as empty.
TEST(ServerProtection, AnEmptyAllowFieldAllowsEveryoneAndOneWithoutEntriesIsRefused) {
    const struct {
        QString text;
        bool refused, listed;
    } cases[] = {
        {"", false, false},    {"  ", false, false},      {",", true, false},
        {" , ,", true, false}, {"10.0.0.1", false, true}, {"10.0.0.1,", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        ServerProtection p;
        p.allowText = c.text;
        const PreparedProtection prepared = PrepareAccess(p);
        EXPECT_EQ(prepared.error.keys(),
                  c.refused ? QStringList{"LAllowListError1"} : QStringList{});
        EXPECT_EQ(prepared.access != nullptr, c.listed);
    }
}

// The self-signed pair is made once for the address, and the log lines tell what is in force.
TEST(ServerProtection, PreparesThePairOnceAndTellsWhatIsInForce) {
    TempDir work;
    const QString folder = work.file("ini/tls");
    const ServerProtection p{true, {}, {}, "10.0.0.0/8 192.168.1.7", "phone", "secret"};
    const PreparedProtection first = PrepareProtection(p, folder, "10.0.0.2", {"10.0.0.2"});
    ASSERT_TRUE(first.error.isEmpty());
    EXPECT_TRUE(first.madeCertificate);
    ASSERT_NE(first.access, nullptr);
    const QByteArray cert = QFile::encodeName(folder + "/server.crt");
    EXPECT_EQ(first.tls.certFile, folder + "/server.crt");
    EXPECT_EQ(first.fingerprint.size(), 32 * 3 - 1);
    EXPECT_EQ(
        HttpProtectionLines(first),
        (QList<QByteArray>{
            "Built-in HTTP Server: made a self-signed certificate: " + cert,
            "Built-in HTTP Server: HTTPS, certificate " + cert + ", SHA-256 " + first.fingerprint,
            "Built-in HTTP Server: downloads allowed from 10.0.0.0/8, 192.168.1.7",
            "Built-in HTTP Server: credentials required, user phone",
        }));
    EXPECT_EQ(
        TftpProtectionLines(first),
        QList<QByteArray>{"Built-in TFTP Server: downloads allowed from 10.0.0.0/8, 192.168.1.7"});
    const PreparedProtection second = PrepareProtection(p, folder, "10.0.0.2", {"10.0.0.2"});
    EXPECT_FALSE(second.madeCertificate);
    EXPECT_EQ(second.fingerprint, first.fingerprint);
    EXPECT_EQ(HttpProtectionLines(second).size(), 3);

    // The folder cannot be made: the reason, before anything starts.
    work.write("blocked", "a file");
    const PreparedProtection blocked =
        PrepareProtection(p, work.file("blocked/tls"), "10.0.0.2", {});
    EXPECT_EQ(blocked.error.keys(), QStringList{"LHttpsError3"});
}
