// The DHCP group without a network: its captions in every supplied language, and the refusals
// that come before any packet is sent. Starting it is a lab test (tests/lab/DhcpLabTest.cpp).
#include "app/LanguageTable.h"
#include "app/Localization.h"
#include "app/MyLog.h"
#include "dhcp/DhcpServer.h"
#include "dhcp/ui/DhcpGroup.h"
#include "support/RecordingDialogs.h"
#include "support/SuppliedLanguages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class DhcpGroupTest : public ::testing::Test {
  protected:
    DhcpGroupTest() {
        ctx_.localization = &localization_;
        ctx_.dialogs = &dialogs_;
        ctx_.log = &log_;
        log_.SetLineObserver([this](const QByteArray& line) { lines_.push_back(line); });
    }
    TempDir dir_;
    LanguageTable table_;
    RecordingDialogs dialogs_;
    Localization localization_{&table_, &dialogs_};
    MyLog log_;
    std::vector<QByteArray> lines_;
    AppContext ctx_;
};

TEST_F(DhcpGroupTest, EveryCaptionAndTextHasALineInEverySuppliedLanguage) {
    DhcpServer server(dir_.file("dhcp"), &log_);
    DhcpGroup group(ctx_, server, nullptr);
    QStringList names;
    for (const QWidget* w : group.findChildren<QWidget*>())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_") &&
            !w->objectName().endsWith("Edit"))
            names << w->objectName();
    names << group.objectName() << "LDhcpServerBtnStop"
          << "LDhcpServerRunning"
          << "LDhcpServerProbing"
          << "LDhcpServerEnded"
          << "LDhcpRangeHint"
          << "LDhcpIgnoreOtherHint"
          << "LContinueQ";
    for (int i = 1; i <= 13; ++i)
        names << QString("LDhcpError%1").arg(i);
    EXPECT_GE(names.size(), 28);
    EXPECT_EQ(NamesWithoutText(names), QStringList{});
}

TEST_F(DhcpGroupTest, RefusalsComeBeforeAnyPacketAndLeaveTheGroupAsItWas) {
    DhcpServer server(dir_.file("dhcp"), &log_);
    DhcpGroup group(ctx_, server, nullptr);
    group.DhcpRangeEdit->setText("10.1.2.50-10.1.2.60");
    // Nothing to hand out yet.
    group.ControlButtonClick();
    // A loopback server address; a malformed range.
    group.serving = [] { return DhcpServing{"127.0.0.1", "http://127.0.0.1:6000/cfg", false, {}}; };
    group.ControlButtonClick();
    group.DhcpRangeEdit->setText("10.1.2.60-10.1.2.50");
    group.ControlButtonClick();
    EXPECT_EQ(dialogs_.messages(), (QStringList{"LDhcpError11", "LDhcpError2", "LDhcpError1"}));
    EXPECT_FALSE(group.IsProbing());
    EXPECT_FALSE(group.IsRunning());
    EXPECT_TRUE(group.DhcpRangeEdit->isEnabled());
    EXPECT_TRUE(group.DhcpServerControlButton->isEnabled());
    EXPECT_TRUE(lines_.empty());
}

}  // namespace
