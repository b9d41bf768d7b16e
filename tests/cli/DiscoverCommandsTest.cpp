// orvo-cli discover refuses what it cannot sweep before any packet goes out; its runs are
// tested on the phone lab (tests/lab).
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(CliDiscover, RefusesAnythingButOneOfTheComputersNetworks) {
    const struct {
        QStringList args;
        const char* problem;
    } cases[] = {
        {{"--iface", "127.0.0.1"}, "127.0.0.1 is not an address of this computer's networks"},
        {{"--iface", "203.0.113.9"}, "203.0.113.9 is not an address of this computer's networks"},
    };
    for (const auto& c : cases) {
        QByteArray out;
        QByteArray err;
        EXPECT_EQ(
            RunProgram(BuiltProgram("orvo-cli"), QStringList{"discover"} + c.args, &out, &err), 1)
            << c.problem;
        EXPECT_TRUE(err.startsWith("orvo-cli: discover: ")) << err.toStdString();
        EXPECT_TRUE(err.contains(c.problem)) << err.toStdString();
        EXPECT_TRUE(out.isEmpty());
    }
    // Given but empty: a usage error.
    QByteArray err;
    EXPECT_EQ(RunProgram(BuiltProgram("orvo-cli"), {"discover", "--iface", ""}, nullptr, &err), 2);
    EXPECT_EQ(err,
              "orvo-cli discover: option '--iface' is empty; see 'orvo-cli discover --help'\n");
}

}  // namespace
