#include "record/PhoneKey.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

TEST(PhoneKey, MacTextsInEveryFormTheProgramMeetsGiveTwelveLowerCaseDigits) {
    const struct {
        const char* text;
        const char* phone;
    } cases[] = {
        {"0a1b2c3d4e5f", "0a1b2c3d4e5f"},
        {"0A1B2C3D4E5F", "0a1b2c3d4e5f"},
        {"0a-1b-2c-3d-4e-5f", "0a1b2c3d4e5f"},  // the grid's form
        {"0A:1B:2C:3D:4E:5F", "0a1b2c3d4e5f"},
        {"MAC0a1b2c3d4e5f", "0a1b2c3d4e5f"},  // a SIP request URI's form
        {"mac0A1B2C3D4E5F", "0a1b2c3d4e5f"},
        {" 0a1b2c3d4e5f ", "0a1b2c3d4e5f"},
        {"0a-1b:2c-3d-4e-5f", ""},  // separators mixed
        {"0a1b2c3d4e5", ""},
        {"0a1b2c3d4e5f0", ""},
        {"0a1b2c3d4e5g", ""},
        {"MAC", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PhoneOfMac(c.text), QByteArray(c.phone)) << c.text;
}

// Only the names a batch writes, at the top of the served folder or in its cfg folder.
TEST(PhoneKey, RequestedPathsNameThePhoneOfTheirFile) {
    const struct {
        const char* path;
        const char* phone;
        bool pin;
    } cases[] = {
        {"cfg/cfg0a1b2c3d4e5f", "0a1b2c3d4e5f", false},
        {"cfg/cfg0a1b2c3d4e5f.xml", "0a1b2c3d4e5f", false},
        {"cfg0A1B2C3D4E5F", "0a1b2c3d4e5f", false},
        {"cfg/12345.cfg", "12345", true},
        {"cfg/12345.xml", "12345", true},
        {"0a1b2c3d4e5f.cfg", "0a1b2c3d4e5f", true},  // a PIN that is a plain MAC
        {"cfg/$input.cfg", "$input", true},          // a phone that did not put in its PIN
        {"cfg/common.cfg", "common", true},          // a phone's only if a batch wrote it
        {"cfg/cfgabc.xml", "cfgabc", true},          // not a MAC: a PIN file
        {"fw/firmware.rom", "", false},
        {"fw/firmware.xml", "", false},  // below another folder
        {"fw/cfg0a1b2c3d4e5f", "", false},
        {"a/cfg/cfg0a1b2c3d4e5f", "", false},
        {"/cfg/cfg0a1b2c3d4e5f", "", false},
        {"cfg/cfg0a1b2c3d4e5f.bin", "", false},
        {"cfg/.cfg", "", false},
        {"cfg/", "", false},
        {"", "", false},
        {"cfg.cfg/readme", "", false},
    };
    for (const auto& c : cases) {
        const PhoneFile file = PhoneFileOf(c.path);
        EXPECT_EQ(file.phone, QByteArray(c.phone)) << c.path;
        EXPECT_EQ(file.pin, c.pin) << c.path;
    }
}

TEST(PhoneKey, AUserAgentSplitsIntoModelAndVersionAtItsLastBlank) {
    const struct {
        const char* value;
        bool split;
        const char* model;
        const char* version;
    } cases[] = {
        {"Orvo X100 2.0.4.4", true, "Orvo X100", "2.0.4.4"},
        {" Orvo X100  2.0.4.4 ", true, "Orvo X100", "2.0.4.4"},
        {"curl/8.0", false, "", ""},
        {" 2.0", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        QByteArray model, version;
        EXPECT_EQ(SplitUserAgent(c.value, &model, &version), c.split) << c.value;
        EXPECT_EQ(model, c.model) << c.value;
        EXPECT_EQ(version, c.version) << c.value;
    }
}

}  // namespace
