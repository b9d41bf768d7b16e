// orvo-cli serve's DHCP options that are refused before anything is started (exit 2, one line).
// Every case is refused by the check of the options, before any socket is opened: no packet
// leaves, no DHCP server runs.
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(ServeDhcpOptions, MalformedOrMisplacedOptionsExitTwoWithOneLine) {
    TempDir dir;
    const QStringList serve = {"serve", "--root", dir.path(), "--port", "0"};
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{"--bind", "127.0.0.1", "--dhcp-lease", "600"}, "--dhcp-lease needs --dhcp-range"},
        {{"--dhcp-ignore-other"}, "--dhcp-ignore-other needs --dhcp-range"},
        {{"--dhcp-dns", "1.1.1.1"}, "--dhcp-dns needs --dhcp-range"},
        {{"--dhcp-range", "10.1.2.50-10.1.2.60"}, "--dhcp-range needs a specific --bind address"},
        {{"--bind", "0.0.0.0", "--dhcp-range", "10.1.2.50-10.1.2.60"},
         "--dhcp-range needs a specific --bind address"},
        {{"--bind", "127.0.0.1", "--dhcp-range", "10.1.2.60-10.1.2.50"}, "LDhcpError1: "},
        {{"--bind", "127.0.0.1", "--dhcp-range", ""}, "option '--dhcp-range' is empty"},
        // Loopback is no link for phones, whatever the range.
        {{"--bind", "127.0.0.1", "--dhcp-range", "127.0.0.5-127.0.0.9"},
         "LDhcpError2: --dhcp-range needs --bind with an address of a network interface"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QByteArray out, err;
        EXPECT_EQ(RunProgram(BuiltProgram("orvo-cli"), serve + c.args, &out, &err), 2);
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        EXPECT_TRUE(err.startsWith("orvo-cli serve: ")) << err.toStdString();
        EXPECT_TRUE(err.contains(c.says)) << err.toStdString();
        EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    }
}

}  // namespace
