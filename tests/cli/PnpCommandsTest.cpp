// orvo-cli pnp and provision on loopback: the listener joins a group of the test's own on
// 127.0.0.1, the phones are loopback sockets.
#include "discovery/DeviceCommand.h"
#include "support/LoopbackMulticast.h"
#include "support/LoopbackPhone.h"
#include "support/QtPrinters.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <csignal>

namespace {

struct CliRun {
    int code = -1;
    QByteArray out, err;
};

CliRun Cli(const QStringList& args) {
    CliRun r;
    r.code = RunProgram(BuiltProgram("orvo-cli"), args, &r.out, &r.err);
    return r;
}

TEST(PnpCommands, RefusesWhatItCannotUse) {
    const struct {
        QStringList args;
        QByteArray problem;
    } cases[] = {
        {{"pnp", "--iface", "127.0.0.1", "--url", " "}, "expects --iface ADDR and --url URL"},
        {{"pnp", "--iface", "lo", "--url", "u"}, "--iface lo is not a dotted IPv4 address"},
        {{"pnp", "--iface", "127.0.0.1", "--url", "u", "--group", "x"},
         "--group x is not a dotted IPv4 address"},
        {{"pnp", "--iface", "127.0.0.1", "--url", "u", "--port", "50a0"}, "LPnpPortError1"},
        {{"pnp", "--iface", "127.0.0.1", "--url", "u", "--port", "80"}, "LPnpPortError2"},
        {{"provision", "--url", "", "127.0.0.1=0a-1b-2c-3d-4e-5f"}, "the URL is empty"},
        {{"provision", "--url", "u", "127.0.0.1=0a-1b-2c-3d-4e"}, "is not ADDR=MAC"},
        {{"provision", "--url", "u", "127.0.0=0a-1b-2c-3d-4e-5f"}, "is not ADDR=MAC"},
        {{"provision", "--url", "u", "127.0.0.1"}, "is not ADDR=MAC"},
        {{"provision", "--url", "u", "--phone-port", "0", "127.0.0.1=0a-1b-2c-3d-4e-5f"},
         "--phone-port must be"},
    };
    for (const auto& c : cases) {
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, 1) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.problem)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
}

TEST(PnpCommands, AGroupThatCannotBeJoinedEndsTheStart) {
    // Not an address of this computer: joining the group on it fails at once.
    const CliRun r = Cli({"pnp", "--iface", "192.0.2.77", "--url", "http://x/cfg", "--group",
                          OwnMulticastGroup(), "--port", QString::number(FreeLoopbackPort())});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("cannot listen to ")) << r.err.toStdString();
}

// orvo-cli pnp in the background, answering its group until signalled.
class PnpCommand : public ::testing::Test {
  protected:
    void Start(const QStringList& extra) {
        process.start(BuiltProgram("orvo-cli"),
                      QStringList{"pnp", "--iface", "127.0.0.1", "--group", group, "--port",
                                  QString::number(port)} +
                          extra);
        ASSERT_TRUE(process.waitForStarted(10000));
        while (!out.contains('\n') && process.waitForReadyRead(10000))
            out += process.readAllStandardOutput();
        ASSERT_TRUE(out.endsWith(" PNP Server started! Listen to: " + group.toLatin1() +
                                 " Port: " + QByteArray::number(port) + "\n"))
            << out.toStdString() << process.readAllStandardError().toStdString();
    }
    // The next line printed (up to 5 s).
    QByteArray NextLine() {
        while (out.count('\n') < 2 && process.waitForReadyRead(5000))
            out += process.readAllStandardOutput();
        const qsizetype first = out.indexOf('\n');
        const qsizetype second = out.indexOf('\n', first + 1);
        if (second < 0)
            return {};
        const QByteArray line = out.mid(first + 1, second - first - 1);
        out.remove(0, first + 1);
        return line.mid(20);  // without "yyyy-mm-dd hh:mm:ss "
    }
    void TearDown() override {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    const QString group = OwnMulticastGroup();
    const int port = FreeLoopbackPort();
    QProcess process;
    QByteArray out;
};

TEST_F(PnpCommand, AnswersEveryDatagramAndEndsOnASignal) {
    const struct {
        bool pin;
        int signal;
        DeviceCommandKind kind;
        const char* mode;
    } cases[] = {{false, SIGTERM, DeviceCommandKind::PnpAnswerMac, "MAC"},
                 {true, SIGINT, DeviceCommandKind::PnpAnswerPin, "PIN"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        out.clear();
        LoopbackPhone phone;
        Start(c.pin ? QStringList{"--url", " http://10.0.0.2:6000/cfg ", "--pin"}
                    : QStringList{"--url", " http://10.0.0.2:6000/cfg "});
        if (HasFatalFailure())
            return;
        SendToLoopbackGroup(group, port, LoopbackSubscribe(phone.port()));
        DeviceCommandFields f;
        f.kind = c.kind;
        f.user = "MAC0a1b2c3d4e5f";
        f.address = "127.0.0.1";
        f.port = phone.port();
        f.callId = "4711-abc";
        f.body = "http://10.0.0.2:6000/cfg";
        EXPECT_EQ(phone.receive(), ComposeDeviceCommand(f));
        EXPECT_EQ(NextLine(), QByteArray("PNP: ") + c.mode +
                                  " MODE, EXTERNAL HTTP SERVER. To: 127.0.0.1:" +
                                  QByteArray::number(phone.port()) +
                                  " Mac: MAC0a1b2c3d4e5f with content = http://10.0.0.2:6000/cfg");
        // Not SIP: answered with what the earlier datagram left.
        SendToLoopbackGroup(group, port, "hello");
        EXPECT_TRUE(phone.receive().contains("Call-ID: 4711-abc \r\n"));
        EXPECT_TRUE(NextLine().contains(" Mac: MAC0a1b2c3d4e5f with content = "));

        ::kill(pid_t(process.processId()), c.signal);
        ASSERT_TRUE(process.waitForFinished(10000));
        out += process.readAllStandardOutput();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(NextLine(), "PNP Server Stopped!");
    }
}

TEST(ProvisionCommand, SendsEachPhoneItsNotifyAndPrintsItsLogLine) {
    LoopbackPhone phone;
    const QString port = QString::number(phone.port());
    for (const bool pin : {false, true}) {
        QStringList args = {"provision",
                            "--url",
                            " http://10.0.0.2:6000/cfg ",
                            "--phone-port",
                            port,
                            "127.0.0.1=0a-1b-2c-3d-4e-5f",
                            "127.0.0.1=AA:BB:CC:DD:EE:FF"};
        if (pin)
            args << "--pin";
        const CliRun r = Cli(args);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QList<QByteArray> got = {phone.receive(), phone.receive()};
        QByteArray expectedOut;
        for (const char* user : {"MAC0a1b2c3d4e5f", "MACAABBCCDDEEFF"}) {
            DeviceCommandFields f;
            f.kind = pin ? DeviceCommandKind::ProvisionPin : DeviceCommandKind::ProvisionMac;
            f.user = user;
            f.address = "127.0.0.1";
            f.port = phone.port();
            f.body = "http://10.0.0.2:6000/cfg";
            EXPECT_TRUE(got.contains(ComposeDeviceCommand(f))) << user;
            expectedOut += QByteArray("Manual Prov: ") + (pin ? "PIN" : "MAC") +
                           " MODE, EXTERNAL HTTP SERVER. 127.0.0.1 " + user +
                           ", content = http://10.0.0.2:6000/cfg\n";
        }
        QByteArray printed;
        for (const QByteArray& line : r.out.split('\n'))
            if (!line.isEmpty())
                printed += line.mid(20) + "\n";
        EXPECT_EQ(printed, expectedOut);
    }
}

}  // namespace
