#include "servers/PortCheck.h"

#include <gtest/gtest.h>

namespace {

TEST(PortCheck, ChecksDigitsThenRange) {
    const struct {
        QString text;
        QString errorKey;
        int port;
    } cases[] = {
        {"6000", "", 6000},
        {" 6000 ", "", 6000},
        {"1025", "", 1025},
        {"65525", "", 65525},
        {"01025", "", 1025},
        {"1024", "LHttpPortError2", 0},
        {"65526", "LHttpPortError2", 0},
        {"99999", "LHttpPortError2", 0},
        {"99999999999999", "LHttpPortError2", 0},
        {"0", "LHttpPortError2", 0},
        {"", "LHttpPortError2", 0},
        {"   ", "LHttpPortError2", 0},
        {"60a0", "LHttpPortError1", 0},
        {"-6000", "LHttpPortError1", 0},
        {"+6000", "LHttpPortError1", 0},
        {"60 00", "LHttpPortError1", 0},
        {"６０００", "LHttpPortError1", 0},  // full-width digits are not "0" to "9"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const PortCheck check = CheckHttpServerPort(c.text);
        EXPECT_EQ(check.errorKey, c.errorKey);
        EXPECT_EQ(check.ok(), c.errorKey.isEmpty());
        EXPECT_EQ(check.port, c.port);
        EXPECT_EQ(check.text, c.text.trimmed());
    }
}

TEST(PortCheck, ThePlugAndPlayPortHasItsOwnKeys) {
    EXPECT_EQ(CheckPnpServerPort(" 5060 ").port, 5060);
    EXPECT_EQ(CheckPnpServerPort("50a0").errorKey, "LPnpPortError1");
    for (const char* text : {"80", "65526", ""})
        EXPECT_EQ(CheckPnpServerPort(text).errorKey, "LPnpPortError2") << text;
}

TEST(PortCheck, TheTftpPortTakesEveryPortFromOne) {
    const struct {
        const char* text;
        const char* errorKey;
        int port;
    } cases[] = {
        {"69", "", 69},
        {" 1 ", "", 1},
        {"65535", "", 65535},
        {"6969", "", 6969},
        {"0", "LTftpPortError2", 0},
        {"", "LTftpPortError2", 0},
        {"65536", "LTftpPortError2", 0},
        {"6a9", "LTftpPortError1", 0},
        {"-69", "LTftpPortError1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const PortCheck check = CheckTftpServerPort(c.text);
        EXPECT_EQ(check.errorKey, c.errorKey);
        EXPECT_EQ(check.port, c.port);
    }
}

}  // namespace
