#include "config/ui/ToolEncryptController.h"

#include "app/LanguageTable.h"
#include "app/Notices.h"
#include "config/BulkEncryptFixtures.h"
#include "config/CfgCrypto.h"
#include "config/CfgFileEncryptThread.h"
#include "support/RecordingDialogs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

// The group's controls offscreen, the controller over them, scripted dialogs and a language
// table.
class ToolEncryptControllerTest : public ::testing::Test {
  protected:
    ToolEncryptControllerTest() {
        auto* layout = new QVBoxLayout(&page);
        for (QWidget* w : std::initializer_list<QWidget*>{outDirEdit, outDirBtn, inputBtn, keyEdit,
                                                          encryptBtn, overwrite, grid})
            layout->addWidget(w);
        grid->setSelectionBehavior(QAbstractItemView::SelectRows);
        lang.LoadText(
            "LToolE_File=File\nLToolE_Status=Status\nLToolES_OK=Done\n"
            "LToolES_Wait=Waiting\nLToolES_LoadErr=Load error\n");
        controller = std::make_unique<ToolEncryptController>(
            ToolEncryptControls{outDirEdit, outDirBtn, inputBtn, keyEdit, encryptBtn, overwrite,
                                grid},
            dialogs, [this](const QString& key) { return lang.Translate(key); }, notices);
        page.resize(700, 400);
        page.show();
    }

    // Chooses the files with the input button.
    void choose(const QStringList& paths) {
        dialogs.multiPaths << paths;
        inputBtn->click();
    }
    void runToEnd() {
        WaitHandlingNotices([&] { return !controller->IsRunning(); });
    }
    QStringList column(int c) const {
        QStringList out;
        for (int r = 0; r < grid->rowCount(); ++r)
            out << (grid->item(r, c) ? grid->item(r, c)->text() : QString("<none>"));
        return out;
    }
    QList<bool> enabledControls() const {
        return {inputBtn->isEnabled(),   encryptBtn->isEnabled(), keyEdit->isEnabled(),
                outDirEdit->isEnabled(), outDirBtn->isEnabled(),  overwrite->isEnabled()};
    }

    QWidget page;
    QLineEdit* outDirEdit = new QLineEdit;
    QPushButton* outDirBtn = new QPushButton("...");
    QPushButton* inputBtn = new QPushButton("Select Input File(s)");
    QLineEdit* keyEdit = new QLineEdit;
    QPushButton* encryptBtn = new QPushButton("Encrypt");
    QCheckBox* overwrite = new QCheckBox("Overwrite Existing Files");
    QTableWidget* grid = new QTableWidget(0, 3);
    RecordingDialogs dialogs;
    LanguageTable lang;
    NoticeTransport notices;
    TempDir inDir;
    TempDir outDir;
    std::unique_ptr<ToolEncryptController> controller;  // destroyed before the controls
};

const QList<bool> kAllEnabled = {true, true, true, true, true, true};
const QList<bool> kAllDisabled = {false, false, false, false, false, false};

TEST_F(ToolEncryptControllerTest, ShowSetsTheWidthsOnceAndTheHeadersEveryTime) {
    controller->ToolTabShow();
    EXPECT_EQ(grid->columnWidth(0), 40);
    EXPECT_EQ(grid->columnWidth(1), 360);
    EXPECT_EQ(grid->columnWidth(2), 120);
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "File");
    EXPECT_EQ(grid->horizontalHeaderItem(2)->text(), "Status");

    grid->setColumnWidth(1, 200);
    lang.LoadText("LToolE_File=Datei\nLToolE_Status=Zustand\n");
    controller->ToolTabShow();
    EXPECT_EQ(grid->columnWidth(1), 200);
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "Datei");
    EXPECT_EQ(grid->horizontalHeaderItem(2)->text(), "Zustand");
}

TEST_F(ToolEncryptControllerTest, ChoosingFilesFillsWaitingRowsAndEnablesEncrypt) {
    EXPECT_FALSE(encryptBtn->isEnabled());
    choose({"/data/a.bin", "/data/b.xml"});
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::OpenFiles);
    EXPECT_EQ(dialogs.shown[0].filter, "Cfg files (*.bin, *.xml)|*.bin;*.xml|All files (*.*)|*.*");
    EXPECT_EQ(column(0), QStringList({"1", "2"}));
    EXPECT_EQ(column(1), QStringList({"/data/a.bin", "/data/b.xml"}));
    EXPECT_EQ(column(2), QStringList({"1137", "1137"}));
    EXPECT_TRUE(encryptBtn->isEnabled());

    inputBtn->click();  // cancelled
    EXPECT_EQ(column(1), QStringList({"/data/a.bin", "/data/b.xml"}));
    choose({"/data/c.xml"});
    EXPECT_EQ(column(1), QStringList({"/data/c.xml"}));
    EXPECT_EQ(column(2), QStringList({"1137"}));
}

TEST_F(ToolEncryptControllerTest, OutputFolderComesFromTheFolderDialog) {
    outDirEdit->setText("/old");
    outDirBtn->click();  // cancelled
    EXPECT_EQ(outDirEdit->text(), "/old");
    dialogs.paths << "/chosen/folder";
    outDirBtn->click();
    EXPECT_EQ(outDirEdit->text(), "/chosen/folder");
    EXPECT_EQ(dialogs.shown.last().kind, RecordingDialogs::Shown::ChooseFolder);
}

TEST_F(ToolEncryptControllerTest, RefusesToStartWithoutAUsableFolderOrKey) {
    const QString bin = inDir.write("a.bin", BinOfSize(40));
    const QString aFile = inDir.write("file", "x");
    const struct {
        const char* name;
        QString dir;
        QString key;
        QList<bool> answers;
        QStringList messages;
        QString question;  // the question asked, when one is
    } cases[] = {
        {"no folder", "  ", "abc", {}, {"LToolE_SelectOutDirFirst"}, {}},
        {"missing folder", outDir.file("none"), "abc", {}, {"LToolE_OutDirNotExist"}, {}},
        {"folder is a file", aFile, "abc", {}, {"LToolE_OutDirNotExist"}, {}},
        {"no key, cancelled", outDir.path(), "  ", {false}, {}, "LToolES_XmlDefaultEncrypt"},
        {"key too long",
         outDir.path(),
         "0123456789abcdef0",
         {},
         {"Encrypt key is longer than 16 chars!"},
         {}},
        // It would end at "s": the zero key.
        {"key not hexadecimal, cancelled", outDir.path(), "secret", {false}, {}, "LXmlKeyNotHex"},
    };
    choose({bin});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.clear();
        dialogs.answers = c.answers;
        outDirEdit->setText(c.dir);
        keyEdit->setText(c.key);
        encryptBtn->click();
        EXPECT_EQ(dialogs.messages(), c.messages);
        ASSERT_EQ(dialogs.shown.size(), c.messages.size() + (c.question.isEmpty() ? 0 : 1));
        if (!c.question.isEmpty()) {
            const auto& q = dialogs.shown[0];
            EXPECT_EQ(q.kind, RecordingDialogs::Shown::Question);
            EXPECT_EQ(q.text.keys(), QStringList({c.question}));
            EXPECT_EQ(q.caption.keys(), QStringList({"LContinueQ"}));
        }
        EXPECT_FALSE(controller->IsRunning());
        EXPECT_EQ(enabledControls(), kAllEnabled);
        EXPECT_EQ(column(2), QStringList({"1137"}));
    }
    EXPECT_TRUE(QDir(outDir.path()).isEmpty());
}

TEST_F(ToolEncryptControllerTest, RunWithTheDefaultKeyTurnsEveryRowToItsStatus) {
    const QByteArray xml = XmlOfSize(100);
    const QByteArray bin = BinOfSize(60);
    const QStringList files = {inDir.write("a.bin", bin),
                               inDir.write("b.xml", xml),
                               inDir.write("c.bin", ScrambleBinText(bin)),
                               inDir.write("d.xml", ""),
                               inDir.file("missing.bin"),
                               inDir.write("e.bin", bin)};
    outDir.write("e.bin", "kept");
    choose(files);
    controller->ToolTabShow();
    outDirEdit->setText(" " + outDir.path() + " ");
    dialogs.answers << true;
    encryptBtn->click();

    // The click returns at once: the worker waits for the main thread to take each status.
    EXPECT_TRUE(controller->IsRunning());
    EXPECT_EQ(enabledControls(), kAllDisabled);
    EXPECT_EQ(column(2), QStringList(files.size(), "1137"));

    runToEnd();
    EXPECT_EQ(column(2), QStringList({"1132", "1132", "1134", "1129", "1129", "1136"}));
    EXPECT_EQ(enabledControls(), kAllEnabled);
    // Each status cell shows its colour.
    const QImage image = grid->viewport()->grab().toImage();
    const auto cellColour = [&](int row) {
        const QRect rect = grid->visualItemRect(grid->item(row, 2));
        return image.pixelColor(rect.right() - 3, rect.center().y());
    };
    EXPECT_EQ(cellColour(0), QColor(0, 128, 0));
    EXPECT_EQ(cellColour(2), QColor(166, 202, 240));
    EXPECT_EQ(cellColour(3), QColor(255, 255, 0));
    EXPECT_EQ(cellColour(5), QColor(192, 192, 192));
    EXPECT_EQ(dialogs.messages(), QStringList());
    EXPECT_EQ(OpensslDecrypt(outDir.file("b.xml"), kDefaultKeyHex), xml + QByteArray(12, '\0'));
    EXPECT_EQ(Unscramble(ReadFileBytes(outDir.file("a.bin")), bin.size()),
              ExpectedScrambledPlain(bin));
    EXPECT_EQ(ReadFileBytes(outDir.file("e.bin")), QByteArray("kept"));
    EXPECT_EQ(keyEdit->text(), "");

    // Again with overwriting on and a key of its own: the existing output is replaced.
    overwrite->setChecked(true);
    keyEdit->setText("0123456789ABCDE");
    encryptBtn->click();
    runToEnd();
    EXPECT_EQ(column(2), QStringList({"1132", "1132", "1134", "1129", "1129", "1132"}));
    EXPECT_EQ(OpensslDecrypt(outDir.file("b.xml"), "0123456789abcde00000000000000000"),
              xml + QByteArray(12, '\0'));
    EXPECT_EQ(ReadFileBytes(outDir.file("e.bin")).size(), bin.size() + 14);

    // A key that is not all hexadecimal digits, used once the question is answered OK: it ends
    // at its first other character.
    dialogs.clear();
    dialogs.answers << true;
    keyEdit->setText("12xy");
    encryptBtn->click();
    runToEnd();
    EXPECT_EQ(dialogs.shown.value(0).text.keys(), QStringList({"LXmlKeyNotHex"}));
    EXPECT_EQ(OpensslDecrypt(outDir.file("b.xml"), "12000000000000000000000000000000"),
              xml + QByteArray(12, '\0'));
}

TEST_F(ToolEncryptControllerTest, InputsOwnFolderWithOverwritingKeepsTheInputs) {
    const QByteArray xml = XmlOfSize(112);
    const QByteArray bin = BinOfSize(60);
    choose({inDir.write("a.xml", xml), inDir.write("b.bin", bin)});
    outDirEdit->setText(inDir.path());
    keyEdit->setText("abc");
    overwrite->setChecked(true);
    encryptBtn->click();
    runToEnd();
    EXPECT_EQ(column(2), QStringList({"1131", "1131"}));
    EXPECT_EQ(ReadFileBytes(inDir.file("a.xml")), xml);
    EXPECT_EQ(ReadFileBytes(inDir.file("b.bin")), bin);
    EXPECT_EQ(QDir(inDir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"a.xml", "b.bin"}));
}

TEST_F(ToolEncryptControllerTest, HandlesReportsForRowsOutsideTheGridAndRefusals) {
    choose({"/data/a.bin", "/data/b.xml"});
    const auto send = [&](int code, int row) {
        const Tag_ToolStatusReport record{row};
        notices.Send(code, &record);
    };
    send(ToolStatusOk, 0);
    send(ToolStatusOk, 3);
    send(ToolStatusSaveFailed, 2);
    EXPECT_EQ(column(2), QStringList({"1137", "1131"}));
    EXPECT_EQ(dialogs.messages(), QStringList());

    for (const auto& [code, row] : std::initializer_list<std::pair<int, int>>{
             {ToolStatusRefused, -1}, {ToolStatusWait, -1}}) {
        SCOPED_TRACE(code);
        dialogs.clear();
        inputBtn->setEnabled(false);
        encryptBtn->setEnabled(false);
        send(code, row);
        EXPECT_EQ(dialogs.messages(), QStringList({"Unpredicted Error!"}));
        EXPECT_EQ(enabledControls(), kAllEnabled);
    }
}

TEST_F(ToolEncryptControllerTest, DestroyedMidRunStopsTheWorkerAfterTheFileInHand) {
    QStringList files;
    const QByteArray bin = BinOfSize(28);
    for (int i = 0; i < 300; ++i)
        files << inDir.write(QString("f%1.bin").arg(i, 3, 10, QChar('0')), bin);
    choose(files);
    outDirEdit->setText(outDir.path());
    keyEdit->setText("abc");
    encryptBtn->click();
    WaitHandlingNotices([&] { return grid->item(0, 2)->text() != "1137"; }, 1);
    ASSERT_TRUE(controller->IsRunning());
    const QStringList statuses = column(2);
    const qsizetype handled = statuses.size() - statuses.count("1137");
    controller.reset();

    // The worker stopped after at most one more file; its status went nowhere.
    const qsizetype written = QDir(outDir.path()).entryList(QDir::Files).size();
    EXPECT_GE(written, handled);
    EXPECT_LE(written, handled + 1);
    EXPECT_EQ(column(2), statuses);
    const Tag_ToolStatusReport record{300};
    notices.Send(ToolStatusOk, &record);  // nobody listens any more
    EXPECT_EQ(grid->item(299, 2)->text(), "1137");
}

}  // namespace
