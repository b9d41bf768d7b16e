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

TEST(PhoneKey, RequestedPathsNameThePhoneOfTheirFile) {
    const struct {
        const char* path;
        const char* phone;
    } cases[] = {
        {"cfg/cfg0a1b2c3d4e5f", "0a1b2c3d4e5f"},
        {"cfg/cfg0a1b2c3d4e5f.xml", "0a1b2c3d4e5f"},
        {"cfg0A1B2C3D4E5F", "0a1b2c3d4e5f"},
        {"cfg/12345.cfg", "12345"},
        {"cfg/12345.xml", "12345"},
        {"0a1b2c3d4e5f.cfg", "0a1b2c3d4e5f"},  // a PIN that is a plain MAC
        {"cfg/$input.cfg", "$input"},          // a phone that did not put in its PIN
        {"cfg/cfgabc.xml", "cfgabc"},          // not a MAC: a PIN file
        {"fw/firmware.rom", ""},
        {"cfg/cfg0a1b2c3d4e5f.bin", ""},
        {"cfg/.cfg", ""},
        {"cfg/", ""},
        {"", ""},
        {"cfg.cfg/readme", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PhoneOfFile(c.path), QByteArray(c.phone)) << c.path;
}

}  // namespace
