#include "batch/Placeholders.h"

#include <gtest/gtest.h>

namespace {

TEST(Placeholders, AreTheBracedDollarForms) {
    const struct {
        QByteArray value;
        bool placeholder;
    } cases[] = {
        {"{$admin_pass}", true},
        {"{$username.line.1}", true},
        {"{$line_active.line.1|1}", true},
        {"{$fw_srv_path|}", true},
        {"{x+|*x+}", false},  // a dial plan
        {"{$}", false},
        {"{$admin_pass", false},
        {" {$admin_pass}", false},
        {"$admin_pass}", false},
        {"", false},
        {"http://10.0.0.5:6000/cfg", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPlaceholder(c.value), c.placeholder) << c.value.toStdString();
}

TEST(Placeholders, UnfilledAreThoseNoColumnFillsInNumberOrder) {
    ParameterSet params;
    params.Set(1007, "{$sip_server.line.1|sip.example.net}");
    params.Set(35, "{$username.line.1}");
    params.Set(410, "{$admin_pass}");
    params.Set(2, "admin");
    const UnfilledPlaceholders unfilled = FindUnfilledPlaceholders(params, {410, 9999});
    EXPECT_EQ(UnfilledPlaceholderList(unfilled),
              "P35={$username.line.1} P1007={$sip_server.line.1|sip.example.net}");
    EXPECT_EQ(UnfilledPlaceholderLogLine(unfilled),
              "CFG BATCH: placeholders no CSV column fills, left in the files as they are: "
              "P35={$username.line.1} P1007={$sip_server.line.1|sip.example.net}");
    EXPECT_TRUE(FindUnfilledPlaceholders(params, {35, 410, 1007}).empty());
}

}  // namespace
