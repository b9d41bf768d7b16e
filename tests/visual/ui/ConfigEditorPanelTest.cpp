#include "visual/ui/ConfigEditorPanel.h"

#include "config/CfgTemplate.h"
#include "support/QtPrinters.h"
#include "support/RecordingDialogs.h"
#include "visual/JsonFile.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

const char* kPage = R"({
    "Mode": {"PNo": "P200", "ViewType": "ComboBox", "Hint": "mode",
             "Choices": ["DHCP", "Static", "PPPoE"], "CValues": ["0", "-1", "2"]},
    "Group": {
        "Address": {"PNo": "P9.P10.P11.P12", "ViewType": "Edit", "Hint": "address"},
        "Note": {"PNo": "", "ViewType": "Label", "Hint": ""}
    },
    "Host name": {"PNo": "P210", "ViewType": "Edit", "Hint": "host"},
    "Host again": {"PNo": "P210", "ViewType": "Edit", "Hint": "host"},
    "Tens": {"PNo": "P300", "ViewType": "ComboBox", "Hint": "",
             "Choices": ["a", "b", "c"], "CValues": ["10", "20", "30"]},
    "No hint": {"PNo": "P400", "ViewType": "Edit"},
    "Untyped": {"PNo": "P500", "Hint": ""}
})";

class Panel : public ::testing::Test {
  protected:
    Panel() : tpl(&dialogs, nullptr), panel(&box, &tpl, &save, &dialogs) {
        box.resize(509, 550);
        box.show();
        save.setEnabled(false);
    }
    void build(const char* json = kPage) {
        tree = ParseJsonText(json);
        ASSERT_TRUE(tree);
        panel.BuildPage(3, tree.get());
    }
    // Generated widgets of type T ordered by position.
    template <typename T>
    T* at(int x, int y) const {
        for (QObject* child : box.widget()->children()) {
            auto* w = qobject_cast<T*>(child);
            if (w && w->x() == x && w->y() == y)
                return w;
        }
        return nullptr;
    }
    QStringList labelsInRow(int row) const {
        QStringList out;
        for (QObject* child : box.widget()->children()) {
            auto* l = qobject_cast<QLabel*>(child);
            if (l && l->y() == 30 * row + 2)
                out << QString("%1:%2").arg(l->x()).arg(l->text());
        }
        out.sort();
        return out;
    }

    RecordingDialogs dialogs;
    CfgTemplate tpl;
    QScrollArea box;
    QPushButton save;
    ConfigEditorPanel panel;
    JsonTree tree;
};

}  // namespace

TEST_F(Panel, RowsFollowTheLayoutAndShowTheValues) {
    tpl.Parameters().Set(200, "1");
    tpl.Parameters().Set(9, "192");
    tpl.Parameters().Set(12, "7");
    tpl.Parameters().Set(210, "h\xC3\xB6st");
    tpl.Parameters().Set(300, "2");
    build();
    EXPECT_EQ(dialogs.messages(), QStringList{"LJsonError6"});
    EXPECT_EQ(panel.Node(), 3);

    // Row 0: caption and combo; "1" is not among the values, so it is the option number.
    EXPECT_EQ(labelsInRow(0), QStringList{"20:Mode"});
    QComboBox* mode = at<QComboBox>(300, 2);
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->size(), QSize(155, 25));
    EXPECT_EQ(mode->currentIndex(), 1);
    EXPECT_EQ(mode->toolTip(), "mode");
    EXPECT_FALSE(mode->isEditable());
    // Row 1 the group caption, row 2 the four-part address with its dots.
    EXPECT_EQ(labelsInRow(1), QStringList{"20:Group"});
    EXPECT_EQ(labelsInRow(2), (QStringList{"20:Address", "335:.", "375:.", "415:."}));
    const char* parts[] = {"192", "", "", "7"};
    for (int j = 0; j < 4; ++j) {
        QLineEdit* e = at<QLineEdit>(300 + 40 * j, 62);
        ASSERT_NE(e, nullptr) << j;
        EXPECT_EQ(e->size(), QSize(35, 25));
        EXPECT_EQ(e->text(), parts[j]);
        EXPECT_EQ(e->toolTip(), "address");
    }
    for (PNumber p : {9, 10, 11, 12})
        EXPECT_TRUE(panel.Items().count(p)) << p;
    // Row 3: a label item shows its caption twice and binds nothing; row 4 stays empty.
    EXPECT_EQ(labelsInRow(3), (QStringList{"20:Note", "20:Note"}));
    EXPECT_TRUE(labelsInRow(4).isEmpty());
    QLineEdit* host = at<QLineEdit>(300, 152);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->text(), QString::fromUtf8("h\xC3\xB6st"));
    EXPECT_EQ(host->width(), 155);
    // The second control with the same number shows the value but is not bound.
    QLineEdit* again = at<QLineEdit>(300, 182);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->text(), host->text());
    EXPECT_EQ(panel.Items().at(210).control, host);
    EXPECT_EQ(at<QComboBox>(300, 212)->currentIndex(), 2);
    // No third member: the control stays empty and unbound.
    QLineEdit* noHint = at<QLineEdit>(300, 242);
    ASSERT_NE(noHint, nullptr);
    EXPECT_TRUE(noHint->toolTip().isEmpty());
    EXPECT_FALSE(panel.Items().count(400));
    // No view type: caption only.
    EXPECT_EQ(labelsInRow(9), QStringList{"20:Untyped"});
    EXPECT_EQ(at<QLineEdit>(300, 272), nullptr);
    EXPECT_EQ(panel.Combos().size(), 2u);
    EXPECT_FALSE(save.isEnabled());
    EXPECT_TRUE(tpl.ChangedParams().empty());
}

TEST_F(Panel, WithAnEmptySetEditsStartEmptyAndCombosOnTheFirstOption) {
    build();
    EXPECT_EQ(at<QComboBox>(300, 2)->currentIndex(), 0);
    EXPECT_EQ(at<QComboBox>(300, 212)->currentIndex(), 0);
    EXPECT_TRUE(at<QLineEdit>(300, 152)->text().isEmpty());

    // Leaving the page adds every bound parameter.
    panel.CommitPage();
    EXPECT_EQ(tpl.Parameters().Value(200), "0");
    EXPECT_EQ(tpl.Parameters().Value(300), "10");
    EXPECT_EQ(tpl.Parameters().Value(210), "");
    EXPECT_TRUE(tpl.Parameters().Contains(11));
    EXPECT_FALSE(tpl.Parameters().Contains(400));
}

TEST_F(Panel, CommitStoresListedValuesOrTheOptionIndex) {
    tpl.Parameters().Set(300, "7");
    tpl.Parameters().Set(200, "1");
    build();
    EXPECT_EQ(at<QComboBox>(300, 212)->currentIndex(), -1);
    at<QLineEdit>(300, 152)->setText("n\xC3\xA9w");
    panel.CommitPage();
    EXPECT_EQ(tpl.Parameters().Value(300), "-1");  // no option selected
    EXPECT_EQ(tpl.Parameters().Value(200), "1");   // option listed as -1: its index
    EXPECT_EQ(tpl.Parameters().Value(210), "n\xC3\xA9w");
    // Values set by the program are no edits.
    EXPECT_TRUE(tpl.ChangedParams().empty());
    EXPECT_FALSE(save.isEnabled());
}

TEST_F(Panel, UserEditsMarkTheirParameterAndEnableSave) {
    tpl.Parameters().Set(210, "old");
    build();
    QLineEdit* host = at<QLineEdit>(300, 152);
    QTest::keyClicks(host, "x");
    EXPECT_EQ(tpl.ChangedParams(), std::set<PNumber>{210});
    EXPECT_TRUE(save.isEnabled());

    // The unbound duplicate enables Save but marks nothing and is not stored.
    save.setEnabled(false);
    tpl.ChangedParams().clear();
    QLineEdit* again = at<QLineEdit>(300, 182);
    QTest::keyClicks(again, "y");
    EXPECT_TRUE(save.isEnabled());
    EXPECT_TRUE(tpl.ChangedParams().empty());
    panel.CommitPage();
    EXPECT_EQ(tpl.Parameters().Value(210), "oldx");

    // A combo selection by the user counts; the program's does not.
    QComboBox* mode = at<QComboBox>(300, 2);
    mode->setCurrentIndex(2);
    EXPECT_FALSE(tpl.ChangedParams().count(200));
    mode->setFocus();
    QTest::keyClick(mode, Qt::Key_Up);
    EXPECT_TRUE(tpl.ChangedParams().count(200));
}

TEST_F(Panel, AMemberWithoutMembersStopsTheRowsBuiltSoFarStay) {
    build(R"({"A": {"PNo": "P1", "ViewType": "Edit", "Hint": ""}, "Stop": 1,
              "B": {"PNo": "P2", "ViewType": "Edit", "Hint": ""}})");
    EXPECT_EQ(dialogs.messages(), QStringList{"LJsonError3"});
    EXPECT_NE(at<QLineEdit>(300, 2), nullptr);
    EXPECT_EQ(panel.Items().size(), 1u);
}

TEST_F(Panel, ACaptionWiderThanItsLabelIsElidedAndShownWholeAsToolTip) {
    const QString longCaption(60, QChar('W'));
    const QByteArray json = "{\"" + longCaption.toUtf8() +
                            "\": {\"PNo\": \"P1\", \"ViewType\": \"Edit\", \"Hint\": \"\"}, "
                            "\"Short\": {\"PNo\": \"P2\", \"ViewType\": \"Edit\", \"Hint\": \"\"}}";
    build(json.constData());
    const QLabel* first = at<QLabel>(20, 2);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->text().endsWith(QChar(0x2026)));
    EXPECT_LE(first->fontMetrics().horizontalAdvance(first->text()), 155);
    EXPECT_EQ(first->toolTip(), longCaption);
    EXPECT_EQ(at<QLabel>(20, 32)->text(), "Short");
    EXPECT_TRUE(at<QLabel>(20, 32)->toolTip().isEmpty());
}

TEST_F(Panel, ClearDestroysTheControlsAndTables) {
    build();
    QPointer<QWidget> content = panel.Content();
    panel.Clear();
    EXPECT_TRUE(content.isNull());
    EXPECT_EQ(panel.Content(), nullptr);
    EXPECT_TRUE(panel.Items().empty());
    EXPECT_TRUE(panel.Combos().empty());
    EXPECT_EQ(panel.Node(), -1);
}

TEST_F(Panel, WheelStepsScrollTwentyPixelsByModifiers) {
    std::string many = "{";
    for (int i = 0; i < 60; ++i)
        many += "\"Item " + std::to_string(i) + "\": {\"PNo\": \"P" + std::to_string(i + 1) +
                "\", \"ViewType\": \"ComboBox\", \"Hint\": \"\", \"Choices\": [\"a\", \"b\"]},";
    many.back() = '}';
    build(many.c_str());
    box.resize(300, 200);
    QScrollBar* h = box.horizontalScrollBar();
    QScrollBar* v = box.verticalScrollBar();
    ASSERT_GT(h->maximum(), 40);
    ASSERT_GT(v->maximum(), 40);

    auto wheel = [&](QWidget* target, int delta, Qt::KeyboardModifiers mods) {
        const QPointF pos(10, 10);
        QWheelEvent event(pos, target->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    };
    wheel(box.viewport(), -120, Qt::NoModifier);
    EXPECT_EQ(v->value(), 20);
    EXPECT_EQ(h->value(), 0);
    wheel(box.viewport(), -240, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(v->value(), 60);
    EXPECT_EQ(h->value(), 40);
    wheel(box.viewport(), 120, Qt::ControlModifier);
    EXPECT_EQ(h->value(), 20);
    EXPECT_EQ(v->value(), 60);
    wheel(box.viewport(), 60, Qt::ShiftModifier);  // half a step waits for the other half
    EXPECT_EQ(v->value(), 60);
    wheel(box.viewport(), 60, Qt::ShiftModifier);
    EXPECT_EQ(v->value(), 40);

    // Over a combo box without focus the panel scrolls and the selection stays.
    QComboBox* combo = at<QComboBox>(300, 30 * 5 + 2);
    ASSERT_NE(combo, nullptr);
    wheel(combo, -120, Qt::NoModifier);
    EXPECT_EQ(v->value(), 60);
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_TRUE(tpl.ChangedParams().empty());
}

TEST_F(Panel, AClickOnThePanelGivesItTheFocus) {
    build();
    QLineEdit* host = at<QLineEdit>(300, 152);
    box.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    host->setFocus();
    ASSERT_TRUE(host->hasFocus());
    QTest::mouseClick(box.widget(), Qt::LeftButton, {}, QPoint(250, 10));
    EXPECT_TRUE(box.hasFocus());
}
