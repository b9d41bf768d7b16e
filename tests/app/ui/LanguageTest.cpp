#include "ShellFixture.h"
#include "app/SettingsTable.h"
#include "app/ui/Captions.h"
#include "servers/ui/ServerPage.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <map>

namespace {

// Every message key the program looks up.
const char* const kMessageKeys[] = {
    "LJsonError1", "LJsonError2", "LJsonError3", "LJsonError4", "LJsonError5", "LJsonError6",
    "LMsgChangeNotSaved", "LContinueQ", "LVisualDevError1", "LVisualDevError2", "LVisualDevError3",
    "LCfgError1", "LCfgError2", "LCfgError3", "LCfgError4", "LMsgNetSame", "LMsgTooMuchPart1",
    "LMsgTooMuchPart2", "LDDSearching", "LDDStopSearching", "LDDCleaning", "LDDWait",
    "LDDProStopping", "LDDStopping", "LDDDoing", "LDDBtnWait", "LDDMsgFinished", "LDDMsgDDFinished",
    "LDDProError1", "LDDProError2", "LDDProError3", "LDDProError4", "LHttpPortError1",
    "LHttpPortError2", "LHttpServerBtnStarting", "LHttpServerBtnStopping", "LHttpServerBtnStop",
    "LHttpServerRunning", "LPnpPortError1", "LPnpPortError2", "LPnpError1", "LPnpError3",
    "LPnpError4", "LPnpError5", "LPnpServerBtnStarting", "LPnpServerBtnStopping",
    "LPnpServerBtnStop", "LPnpServerRunning", "LCsvError1", "LCsvError2", "LCsvError3",
    "LCsvError4", "LCsvError5", "LCsvError6", "LCsvError7", "LBatchSelectDirHint",
    "LCfgBa_XmlKeyEmpty", "NotEncryptCBItem", "EncryptDefaultCBItem", "LXmlEncryptHint",
    "LToolE_SelectOutDirFirst", "LToolE_OutDirNotExist", "LToolE_File", "LToolE_Status",
    "LToolES_Wait", "LToolES_OK", "LToolES_Skipped", "LToolES_LoadErr", "LToolES_EFailed",
    "LToolES_SaveFailed", "LToolES_InvalidFormat", "LToolES_XmlDefaultEncrypt", "LAppError1",
    "LAppError2", "LAppError3", "LLangError1Part1", "LLangError1Part2", "LLangError2Part1",
    "LLangError2Part2", "LLogSettingHint", "LDDProError5", "LPnpError6", "LTftpPortError1",
    "LTftpPortError2", "LTftpServerBtnStop", "LTftpServerRunning", "LTftpError1", "LTftpError2",
    "LBuiltinProtocolHint", "LCsvError8", "LCsvError9", "LBatchUnfilled", "LLanguageCode",
    "LXmlKeyNotHex", "LDhcpServerBtnStop", "LDhcpServerRunning", "LDhcpServerProbing",
    "LDhcpServerEnded", "LDhcpRangeHint", "LDhcpIgnoreOtherHint", "LDhcpError1", "LDhcpError2",
    "LDhcpError3", "LDhcpError4", "LDhcpError5", "LDhcpError6", "LDhcpError7", "LDhcpError8",
    "LDhcpError9", "LDhcpError10", "LDhcpError11", "LDhcpError12", "LDhcpError13",
    // The Provisioning page and the record.
    "LRecordOff", "LRecordError1", "LRecordClearQ", "LRecStateFileReady", "LRecStateTold",
    "LRecStateFetched", "LRecStateFailed", "LRecStateUnknown", "LRecColPhone", "LRecColState",
    "LRecColFileTime", "LRecColFile", "LRecColToldTime", "LRecColToldBy", "LRecColToldAddress",
    "LRecColFetchTime", "LRecColStatus", "LRecColBytes", "LRecColProtocol", "LRecColUserAgent",
    "LRecColPeer", "LRecColModel", "LRecColVersion", "LRecColTime", "LRecColEvent",
    "LRecColAddress", "LRecColPathUrl", "LRecColOnline", "LRecKindBatch", "LRecKindPnp",
    "LRecKindProvision", "LRecKindUpgrade", "LRecKindRefresh", "LRecKindFetch", "LRecKindDiscovery",
    "LRecKindRefreshed", "LRecKindLease", "LRecStateSeen", "LRecColHost", "LRecColSource",
    "LRecColComplete", "LRecCutOff", "LRecWhole", "LRecSourceExternal", "LRecSearchHint",
    "LRecSummary", "LRecSummaryUnknown", "LRecSummarySeen", "LBatchNotMac", "LBatchWrote",
    // The access log field of the Servers page.
    "LAccessLogHint", "LAccessLogFollowing", "LAccessLogSkipped", "LAccessLogError1",
    "LAccessLogError2", "LAccessLogError3", "LAccessLogError4",
    // Component names looked up at run time for idle captions.
    "DDButton", "DiscoverProgressLabel", "HttpServerControlButton", "HttpServerStatusLabel",
    "MyPnpServerControlBtn", "PnpServerStatusLabel", "TftpServerControlButton",
    "TftpServerStatusLabel", "DhcpServerControlButton", "DhcpServerStatusLabel",
    "DhcpServerStateLabel"};

// The caption of every named object of the window that has one.
std::map<QString, QString> Captions(QWidget* window) {
    std::map<QString, QString> out;
    for (QObject* o : window->findChildren<QObject*>()) {
        const QString name = o->objectName();
        if (name.isEmpty() || name.startsWith("qt_"))
            continue;
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(o))
            text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(o))
            text = l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(o))
            text = g->title();
        else if (auto* a = qobject_cast<QAction*>(o))
            text = a->text();
        else if (auto* w = qobject_cast<QWidget*>(o))
            if (auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget()))
                if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget()))
                    text = tabs->tabText(tabs->indexOf(w));
        if (!text.isEmpty())
            out[name] = text;
    }
    return out;
}

using LanguageTest = ShellFixture;

TEST_F(LanguageTest, SuppliedLanguagesHaveATextForEveryKeyAndCaption) {
    SupplyLanguages();
    TForm1& w = Start();
    const std::map<QString, QString> captions = Captions(&w);
    EXPECT_GT(captions.size(), 60u);
    for (const char* language : {"English", "Deutsch"}) {
        SCOPED_TRACE(language);
        LanguageTable table;
        ASSERT_EQ(table.LoadFile(dir.file(QString("ini/lang/") + language)),
                  LanguageTable::LoadResult::Ok);
        for (const char* key : kMessageKeys)
            EXPECT_FALSE(table.Translate(key).isEmpty()) << key;
        for (const auto& [name, caption] : captions)
            EXPECT_FALSE(table.Translate(name).isEmpty()) << name.toStdString();
    }
}

TEST_F(LanguageTest, DefaultSettingsHoldEveryKeyInItsSection) {
    SettingsStore store;
    ASSERT_TRUE(store.LoadFile(SourceFile("data/ini/$default.ini")));
    for (const SettingKey& key : Setting::All)
        EXPECT_TRUE(store.Find(key.section, key.key).has_value()) << key.section << " " << key.key;
}

TEST_F(LanguageTest, ChangeSwitchesEveryCaptionAndIsRemembered) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    TForm1& w = Start();
    w.show();
    w.PageControl1->setCurrentWidget(w.ServerTab);
    const std::map<QString, QString> english = Captions(&w);

    ServerPage* page = w.ServerTab;
    page->LangOptCB->setCurrentIndex(page->LangOptCB->findText("Deutsch"));
    page->LangConfirmButton->click();

    LanguageTable deutsch;
    deutsch.LoadFile(dir.file("ini/lang/Deutsch"));
    const std::map<QString, QString> after = Captions(&w);
    ASSERT_EQ(after.size(), english.size());
    for (const auto& [name, caption] : after)
        EXPECT_EQ(caption, deutsch.Translate(name)) << name.toStdString();
    EXPECT_EQ(w.windowTitle(), "Orvo Provision Tool 1.3.3beta");
    EXPECT_EQ(page->ReservedLogFileAmountLabel->toolTip(), deutsch.Translate("LLogSettingHint"));
    EXPECT_EQ(w.Language().CurrentName(), "Deutsch");
    EXPECT_TRUE(dialogs.shown.isEmpty());
    Stop();

    EXPECT_TRUE(ReadFileBytes(SettingsFile()).contains("[LANG]\r\nlang=Deutsch\r\n"));
    TForm1& again = Start();
    EXPECT_EQ(again.PageControl1->tabText(0), deutsch.Translate("PhoneCfgTab"));
    EXPECT_EQ(again.findChild<QPushButton*>("LangConfirmButton")->text(), "Wechseln");
}

// Qt's own texts follow the language in force: the buttons of a message box and the file
// dialog, at a change and at the next start.
TEST_F(LanguageTest, QtsOwnTextsFollowTheLanguage) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    const auto texts = [] {
        QDialogButtonBox box(QDialogButtonBox::Cancel);
        QFileDialog files;
        files.setOption(QFileDialog::DontUseNativeDialog);
        const auto* name = files.findChild<QLabel*>("fileNameLabel");
        return QStringList{box.button(QDialogButtonBox::Cancel)->text(),
                           name ? name->text() : QString()};
    };
    const QStringList english = texts();
    ASSERT_EQ(english, QStringList({"Cancel", "File &name:"}));
    TForm1& w = Start();
    w.show();
    w.PageControl1->setCurrentWidget(w.ServerTab);
    EXPECT_EQ(texts(), english);
    const auto change = [&](const char* language) {
        w.ServerTab->LangOptCB->setCurrentIndex(w.ServerTab->LangOptCB->findText(language));
        w.ServerTab->LangConfirmButton->click();
    };
    change("Deutsch");
    const QStringList deutsch = {"Abbrechen", "Datei&name:"};
    EXPECT_EQ(texts(), deutsch);
    change("English");
    EXPECT_EQ(texts(), english);
    change("Deutsch");
    Stop();
    EXPECT_EQ(texts(), english);  // the window took its translation along
    Start();
    EXPECT_EQ(texts(), deutsch);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(LanguageTest, ChangingToALanguageDeletedMeanwhileKeepsTheCaptions) {
    SupplyLanguages();
    Supply("ini/$default.ini");
    TForm1& w = Start();
    w.show();
    w.PageControl1->setCurrentWidget(w.ServerTab);
    const std::map<QString, QString> english = Captions(&w);
    ASSERT_TRUE(QFile::remove(dir.file("ini/lang/Deutsch")));

    w.ServerTab->LangOptCB->setCurrentIndex(w.ServerTab->LangOptCB->findText("Deutsch"));
    w.ServerTab->LangConfirmButton->click();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text.keys(), QStringList({"LLangError1Part1", "LLangError1Part2"}));
    EXPECT_TRUE(dialogs.shown[0].text.raw().contains(dir.file("ini/lang/Deutsch") + " "));
    EXPECT_EQ(Captions(&w), english);
    EXPECT_EQ(w.Language().CurrentName(), "English");
    Stop();

    EXPECT_TRUE(ReadFileBytes(SettingsFile()).contains("lang=Deutsch\r\n"));
    dialogs.clear();
    TForm1& again = Start();
    EXPECT_EQ(again.Language().CurrentName(), "English");
    EXPECT_EQ(again.PageControl1->tabText(3), "Servers");
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST(Captions, ApplyByNameToEveryKindOfCaption) {
    QWidget window;
    window.setWindowTitle("Title");
    window.setObjectName("Form");
    auto* button = new QPushButton("b", &window);
    button->setObjectName("Button");
    auto* label = new QLabel("l", &window);
    label->setObjectName("Label");
    auto* group = new QGroupBox("g", &window);
    group->setObjectName("Group");
    auto* inner = new QLabel("i", group);
    inner->setObjectName("Inner");
    auto* tabs = new QTabWidget(&window);
    auto* page = new QWidget;
    page->setObjectName("Page");
    tabs->addTab(page, "p");
    auto* menu = new QMenu(&window);
    QAction* item = menu->addAction("m");
    item->setObjectName("Item");
    auto* kept = new QLabel("kept", &window);
    kept->setObjectName("Kept");

    LanguageTable table;
    table.LoadText(
        "button=B\nLabel=L\nGroup=G\nInner=I\nPage=P\nItem=M\nKept=\nForm=Nope\nTitle=Nope\n");
    ApplyCaptions(table, &window);
    EXPECT_EQ(button->text(), "B");  // names compare without regard to case
    EXPECT_EQ(label->text(), "L");
    EXPECT_EQ(group->title(), "G");
    EXPECT_EQ(inner->text(), "I");
    EXPECT_EQ(tabs->tabText(0), "P");
    EXPECT_EQ(item->text(), "M");
    EXPECT_EQ(kept->text(), "kept");  // an empty value keeps the caption
    EXPECT_EQ(window.windowTitle(), "Title");
}

}  // namespace
