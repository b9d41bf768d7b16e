#include "batch/ui/CsvBatchController.h"

#include "app/MyLog.h"
#include "app/SettingsStore.h"
#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/CfgTemplate.h"
#include "config/XmlFile.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

namespace {

// The controls of the page, as the window makes them.
struct Page {
    Page() {
        auto* modes = new QButtonGroup(&window);
        modes->addButton(&mac);
        modes->addButton(&pin);
        auto* formats = new QButtonGroup(&window);
        formats->addButton(&bin);
        formats->addButton(&xml);
        mac.setChecked(true);
        bin.setChecked(true);
        cfgToEncrypt.addItems({"Not encrypt", "Encrypt (default)"});
        addRows.setText("1");
        batch.setText("Batch");
        toServer.setText("Batch to Built-in Server");
        window.resize(800, 600);
    }
    CsvBatchControls controls() {
        return {&table,    &mac,     &pin,   &bin,      &xml,  &cfgToEncrypt, &xmlEncrypt, &xmlKey,
                &autofill, &addRows, &batch, &toServer, &load, &save,         &add,        &note};
    }
    QWidget window;
    QTableWidget table{&window};
    QRadioButton mac{&window}, pin{&window}, bin{&window}, xml{&window};
    QComboBox cfgToEncrypt{&window};
    QCheckBox xmlEncrypt{&window}, autofill{&window};
    QLineEdit xmlKey{&window}, addRows{&window};
    QPushButton batch{&window}, toServer{&window}, load{&window}, save{&window}, add{&window};
    QPlainTextEdit note{&window};
};

class Controller : public ::testing::Test {
  protected:
    Controller() : tpl(&dialogs, nullptr) {
        log.SetDirectory(dir.path());
        log.Open();
        auto& p = tpl.Parameters();
        p.Set(2, "admin");
        p.Set(35, "{$username.line.1}");
        p.Set(237, "{$cfg_srv_path}");
        p.Set(8000, "{$admin_pass}");
        pno.LoadText(
            "[PNO]\r\np_upgrade_mode=271\r\np_cfg_server_path=237\r\np_fw_server_path=238\r\n");
        CsvBatchServices services;
        services.dialogs = &dialogs;
        services.tpl = &tpl;
        services.settings = &pno;
        services.log = &log;
        services.workDir = dir.path();
        services.serverRunning = [this] { return serverRunning; };
        services.firstServerInterface = [] { return QString("192.168.1.10"); };
        services.serverPortText = [] { return QString(" 6000"); };
        services.serverProtocol = [this] { return protocol; };
        services.translate = [](const QString& key) { return key + ": "; };
        controller = std::make_unique<CsvBatchController>(page.controls(), services);
        controller->Connect();
    }

    QString csv(const QByteArray& text) { return dir.write("in.csv", text); }
    void load(const QByteArray& text) {
        dialogs.paths << csv(text);
        page.load.click();
    }
    QByteArray logText() const { return ReadFileBytes(log.FileName()); }
    QStringList header() const {
        QStringList out;
        for (int c = 0; c < page.table.columnCount(); ++c)
            out << page.table.horizontalHeaderItem(c)->text();
        return out;
    }
    QString cell(int row, int column) const {
        const QTableWidgetItem* item = page.table.item(row, column);
        return item ? item->text() : QString();
    }
    ParameterSet with(std::initializer_list<std::pair<PNumber, QByteArray>> values) const {
        ParameterSet s = tpl.Parameters();
        for (const auto& [p, v] : values)
            s.Set(p, v);
        return s;
    }

    TempDir dir;
    RecordingDialogs dialogs;
    MyLog log;
    CfgTemplate tpl;
    SettingsStore pno;
    bool serverRunning = false;
    ServerProtocol protocol = ServerProtocol::Http;
    Page page;
    std::unique_ptr<CsvBatchController> controller;
};

TEST_F(Controller, StartsWithTheEmptyFiveByTwoTable) {
    EXPECT_EQ(page.table.columnCount(), 4);
    EXPECT_EQ(page.table.rowCount(), 1);
    EXPECT_EQ(header(), QStringList(4, ""));
    EXPECT_EQ(page.table.horizontalHeader()->defaultSectionSize(), 120);
    BatchTable start;
    start.SetCell(1, 0, "1");
    EXPECT_EQ(CsvBatchController::ReadBatchTable(page.table), start);
}

TEST_F(Controller, LoadsACsvFileIntoTheGridAndLogsIt) {
    load("MAC,{$username.line.1},{$admin_pass}\r\n02E5D2000001,alice,pw1\r\n02E5D2000002,bob\r\n");
    EXPECT_EQ(dialogs.shown.value(0).filter, "Csv files (*.csv)|*.csv");
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(header(), (QStringList{"MAC", "{$username.line.1}", "{$admin_pass}"}));
    ASSERT_EQ(page.table.rowCount(), 2);
    EXPECT_EQ((QStringList{cell(0, 0), cell(0, 1), cell(0, 2)}),
              (QStringList{"02E5D2000001", "alice", "pw1"}));
    EXPECT_EQ((QStringList{cell(1, 0), cell(1, 1), cell(1, 2)}),
              (QStringList{"02E5D2000002", "bob", ""}));
    EXPECT_EQ(page.table.model()->headerData(1, Qt::Vertical).toString(), "2");
    EXPECT_TRUE(logText().endsWith(
        " CFG BATCH: MAC MODE. Load File: " + dir.file("in.csv").toUtf8() + "\r\n"));
}

TEST_F(Controller, ARefusedOrCancelledLoadLeavesTheEmptyTwoByTwoTable) {
    const struct {
        bool pinMode;
        QByteArray text;  // null: the dialog is cancelled
        QStringList messages;
    } cases[] = {
        {false, "mac,{$a}\r\n1,2\r\n", {"LCsvError6"}},
        {true, "MAC,{$a}\r\n1,2\r\n", {"LCsvError7"}},
        {false, "MAC,{$a}\r\n", {"LCsvError4"}},
        {false, {}, {}},
    };
    for (const auto& c : cases) {
        load("MAC,{$a},{$b}\r\n1,2,3\r\n4,5,6\r\n");
        dialogs.clear();
        (c.pinMode ? page.pin : page.mac).setChecked(true);
        if (c.text.isNull())
            page.load.click();
        else
            load(c.text);
        EXPECT_EQ(dialogs.messages(), c.messages) << c.text.constData();
        EXPECT_EQ(page.table.rowCount(), 1);
        EXPECT_EQ(page.table.columnCount(), 1);
        EXPECT_EQ(CsvBatchController::ReadBatchTable(page.table).CsvText(), "\r\n\r\n");
    }
    // A path that cannot be read is a file without lines.
    dialogs.clear();
    dialogs.paths << dir.file("missing.csv");
    page.load.click();
    EXPECT_EQ(dialogs.messages(), QStringList{"LCsvError4"});
}

TEST_F(Controller, SavesTheGridSoThatItLoadsAgainUnchanged) {
    load("MAC,{$username.line.1},{$admin_pass}\r\n02E5D2000001,alice,pw1\r\n");
    page.table.setItem(0, 1, new QTableWidgetItem("with, comma"));
    page.addRows.setText("1");
    page.add.click();
    page.table.setItem(1, 0, new QTableWidgetItem(" 02E5D2000002"));
    const BatchTable edited = CsvBatchController::ReadBatchTable(page.table);

    const QString path = dir.file("saved.csv");
    dialogs.paths << path;
    page.save.click();
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(ReadFileBytes(path),
              "MAC,{$username.line.1},{$admin_pass}\r\n02E5D2000001,\"with, comma\",pw1\r\n"
              "\" 02E5D2000002\",,\r\n");
    dialogs.paths << path;
    page.load.click();
    EXPECT_EQ(CsvBatchController::ReadBatchTable(page.table), edited);
}

TEST_F(Controller, APastedLineBreakStaysOutOfTheCellAndTheSavedFileLoadsBack) {
    load("MAC,{$username.line.1},{$admin_pass}\r\n02E5D2000001,alice,pw1\r\n");
    page.window.show();
    // Pasted into the cell's editor, as from a spreadsheet or a text with its newline.
    QApplication::clipboard()->setText("bob\r\n");
    page.table.setCurrentCell(0, 1);
    page.table.editItem(page.table.item(0, 1));
    auto* editor = page.table.viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    editor->paste();
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();  // the editor's data is committed by a queued call
    EXPECT_EQ(cell(0, 1), "bob");
    // Set by any other way.
    page.table.item(0, 2)->setText("p\nw\r2");
    EXPECT_EQ(cell(0, 2), "pw2");
    page.table.setItem(0, 0, new QTableWidgetItem("02E5D2000001\n"));
    EXPECT_EQ(cell(0, 0), "02E5D2000001");

    const QString path = dir.file("saved.csv");
    dialogs.paths << path;
    page.save.click();
    EXPECT_EQ(ReadFileBytes(path),
              "MAC,{$username.line.1},{$admin_pass}\r\n02E5D2000001,bob,pw2\r\n");
    const BatchTable edited = CsvBatchController::ReadBatchTable(page.table);
    dialogs.paths << path;
    page.load.click();
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(CsvBatchController::ReadBatchTable(page.table), edited);
}

TEST_F(Controller, SaveRefusals) {
    page.save.click();  // cancelled
    dialogs.paths << dir.file("no/such/folder/x.csv");
    page.save.click();
    EXPECT_EQ(dialogs.messages(), (QStringList{"LCsvError1", "LCsvError2"}));
}

TEST_F(Controller, AddAppendsTheNumberOfRowsTyped) {
    const struct {
        const char* text;
        int rows;
    } cases[] = {{"3", 4}, {" 2 ", 6}, {"abc", 6}, {"0", 6}, {"-1", 6}};
    for (const auto& c : cases) {
        page.addRows.setText(c.text);
        page.add.click();
        EXPECT_EQ(page.table.rowCount(), c.rows) << c.text;
    }
    EXPECT_EQ(page.table.model()->headerData(5, Qt::Vertical).toString(), "6");
    EXPECT_EQ(cell(5, 0), "");
}

// The guard asks for the server of the chosen protocol, each with its own message.
TEST_F(Controller, AutofillNeedsTheRunningServerOnMouseRelease) {
    page.window.show();
    page.autofill.resize(100, 20);
    const auto release = [&] {
        QTest::mouseClick(&page.autofill, Qt::LeftButton, {}, QPoint(5, 10));
        QApplication::processEvents();
    };
    const std::pair<ServerProtocol, QString> protocols[] = {{ServerProtocol::Http, "LCsvError3"},
                                                            {ServerProtocol::Tftp, "LCsvError8"}};
    for (const auto& [chosen, message] : protocols) {
        SCOPED_TRACE(message.toStdString());
        protocol = chosen;
        serverRunning = false;
        page.autofill.setChecked(false);
        dialogs.clear();
        release();
        EXPECT_FALSE(page.autofill.isChecked());
        EXPECT_EQ(dialogs.messages(), QStringList{message});

        serverRunning = true;
        dialogs.clear();
        release();
        EXPECT_TRUE(page.autofill.isChecked());
        EXPECT_TRUE(dialogs.messages().isEmpty());
    }

    // Only a mouse release is guarded: the box keeps a check made otherwise.
    serverRunning = false;
    page.autofill.setChecked(false);
    page.autofill.click();
    QApplication::processEvents();
    EXPECT_TRUE(page.autofill.isChecked());
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

// With TFTP chosen for the built-in server, autofill writes its URLs.
TEST_F(Controller, AutofillFollowsTheChosenProtocol) {
    protocol = ServerProtocol::Tftp;
    page.autofill.setChecked(true);
    const QString cfg = dir.path() + "/server/htdocs/cfg";
    QDir().mkpath(cfg);
    load("MAC,{$admin_pass}\r\n02E5D2AABBCC,pw1\r\n");
    page.toServer.click();
    ParameterSet file;
    ASSERT_EQ(ReadBinFile(cfg + "/cfg02e5d2aabbcc", file), BinReadStatus::Ok);
    EXPECT_EQ(file.Value(237), "tftp://192.168.1.10:6000/cfg");
    EXPECT_EQ(file.Value(238), "tftp://192.168.1.10:6000/fw");
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

// A run names the placeholders no column filled on the page, without a message to answer; a run
// that fills them all hides the note again.
TEST_F(Controller, ARunNamesTheUnfilledPlaceholdersOnThePage) {
    const QString out = dir.path() + "/out";
    QDir().mkpath(out);
    load("MAC,{$admin_pass}\r\n02E5D2000001,pw1\r\n");
    dialogs.paths << out;
    page.batch.click();
    EXPECT_FALSE(page.note.isHidden());
    EXPECT_EQ(page.note.toPlainText(),
              "LBatchUnfilled: P35={$username.line.1} P237={$cfg_srv_path}");
    EXPECT_TRUE(
        logText().contains(" CFG BATCH: placeholders no CSV column fills, left in the "
                           "files as they are: P35={$username.line.1} "
                           "P237={$cfg_srv_path}\r\n"));

    load("MAC,{$admin_pass},{$username.line.1},{$cfg_srv_path}\r\n02E5D2000001,pw1,u,c\r\n");
    dialogs.paths << out;
    page.batch.click();
    EXPECT_TRUE(page.note.isHidden());
    EXPECT_EQ(page.note.toPlainText(), "");
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Controller, BatchAsksForTheFolderAndChecksTheXmlKey) {
    load("MAC,{$admin_pass}\r\n02E5D2000001,pw1\r\n");
    const QString out = dir.path() + "/chosen";
    QDir().mkpath(out);
    page.xml.setChecked(true);
    page.xmlEncrypt.setChecked(true);
    const struct {
        QString key;
        QStringList messages;
    } refusals[] = {
        {"   ", {"LCfgBa_XmlKeyEmpty"}},
        {" 0123456789abcdef0 ", {"Encrpyt key is too long!"}},
    };
    for (const auto& r : refusals) {
        dialogs.clear();
        page.xmlKey.setText(r.key);
        dialogs.paths << out;
        page.batch.click();
        EXPECT_EQ(dialogs.messages(), r.messages);
        EXPECT_TRUE(QDir(out).isEmpty());
    }
    // The bin format still refuses an empty key.
    dialogs.clear();
    page.bin.setChecked(true);
    page.xmlKey.setText("");
    dialogs.paths << out;
    page.batch.click();
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgBa_XmlKeyEmpty"});

    dialogs.clear();
    page.xml.setChecked(true);
    page.xmlKey.setText(" ab12 ");
    page.batch.click();  // cancelled
    EXPECT_EQ(dialogs.shown.value(0).kind, RecordingDialogs::Shown::ChooseFolder);
    EXPECT_EQ(dialogs.shown.value(0).caption.keys(), QStringList{"LBatchSelectDirHint"});
    EXPECT_TRUE(QDir(out).isEmpty());
    EXPECT_EQ(page.xmlKey.text(), " ab12 ");

    dialogs.clear();
    dialogs.paths << out;
    page.batch.click();
    EXPECT_EQ(page.xmlKey.text(), "ab12");
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(ReadFileBytes(out + "/cfg02e5d2000001.xml"),
              EncryptedXmlBytes(PrintXmlConfig(with({{8000, "pw1"}})), "ab12"));
    EXPECT_TRUE(logText().endsWith(" CFG BATCH: XML format, Batch to: " + out.toUtf8() + "\r\n"));
}

// A key that is not all hexadecimal digits ends at its first other character ("secret": the
// zero key): the page asks before it uses one, for either destination, and only for XML files.
TEST_F(Controller, BatchAsksBeforeItUsesAKeyThatIsNotHexadecimal) {
    load("MAC,{$admin_pass}\r\n02E5D2000001,pw1\r\n");
    const QString out = dir.path() + "/chosen";
    const QString cfg = dir.path() + "/server/htdocs/cfg";
    QDir().mkpath(out);
    QDir().mkpath(cfg);
    page.xml.setChecked(true);
    page.xmlEncrypt.setChecked(true);
    page.xmlKey.setText(" secret ");
    for (QPushButton* button : {&page.batch, &page.toServer}) {
        const QString folder = button == &page.batch ? out : cfg;
        for (const bool goOn : {false, true}) {
            SCOPED_TRACE(folder.toStdString() + (goOn ? " go on" : " cancel"));
            dialogs.clear();
            dialogs.paths << out;
            dialogs.answers << goOn;
            button->click();
            const auto questions = std::count_if(
                dialogs.shown.begin(), dialogs.shown.end(),
                [](const auto& s) { return s.kind == RecordingDialogs::Shown::Question; });
            ASSERT_EQ(questions, 1);
            const auto& q = dialogs.shown.last();
            EXPECT_EQ(q.text.keys(), QStringList{"LXmlKeyNotHex"});
            EXPECT_EQ(q.caption.keys(), QStringList{"LContinueQ"});
            EXPECT_TRUE(dialogs.messages().isEmpty());
            const QString file = folder + "/cfg02e5d2000001.xml";
            EXPECT_EQ(QFileInfo::exists(file), goOn);
            if (goOn) {
                EXPECT_EQ(ReadFileBytes(file),
                          EncryptedXmlBytes(PrintXmlConfig(with({{8000, "pw1"}})), "secret"));
            }
            QFile::remove(file);
        }
    }
    // Bin files do not use the key: nothing is asked.
    dialogs.clear();
    page.bin.setChecked(true);
    dialogs.paths << out;
    page.batch.click();
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(dialogs.shown.size(), 1);  // the folder
    EXPECT_TRUE(QFileInfo::exists(out + "/cfg02e5d2000001"));
}

TEST_F(Controller, BatchToTheServerWritesIntoItsCfgFolderWithAutofill) {
    const QString cfg = dir.path() + "/server/htdocs/cfg";
    QDir().mkpath(cfg);
    load("MAC,{$cfg_srv_path},{$admin_pass}\r\n02E5D2AABBCC,x,pw1\r\n");
    page.cfgToEncrypt.setCurrentIndex(1);
    page.xmlEncrypt.setChecked(true);  // the bin format ignores it; the empty key is not refused
    page.autofill.setChecked(true);
    bool disabledDuringRun = false;
    tpl.commitEditor = [&] {
        disabledDuringRun = !page.batch.isEnabled() && !page.toServer.isEnabled();
    };
    const ParameterSet before = tpl.Parameters();

    page.toServer.click();
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_TRUE(disabledDuringRun);
    EXPECT_TRUE(page.batch.isEnabled());
    EXPECT_TRUE(page.toServer.isEnabled());
    EXPECT_EQ(ReadFileBytes(cfg + "/cfg02e5d2aabbcc"),
              ScrambleBinText(BuildBinText(with({{237, "http://192.168.1.10:6000/cfg"},
                                                 {238, "http://192.168.1.10:6000/fw"},
                                                 {271, "1"},
                                                 {8000, "pw1"}}))));
    EXPECT_EQ(tpl.Parameters(), before);
    EXPECT_TRUE(
        logText().endsWith(" CFG BATCH: BIN format, Default Encrypt, Autofill Server Path, Batch "
                           "to built-in server: " +
                           cfg.toUtf8() + "\r\n"));

    dialogs.clear();
    page.xml.setChecked(true);
    page.autofill.setChecked(false);
    page.xmlKey.setText(" 0123456789abcdef0 ");
    page.toServer.click();
    EXPECT_EQ(dialogs.messages(), QStringList{"Encrpyt key is too long!"});
    page.xmlKey.setText(" ");
    page.toServer.click();
    EXPECT_EQ(ReadFileBytes(cfg + "/cfg02e5d2aabbcc.xml"),
              EncryptedXmlBytes(PrintXmlConfig(with({{237, "x"}, {8000, "pw1"}})), ""));
    EXPECT_TRUE(logText().endsWith(
        " CFG BATCH: XML format, Encrypted, Batch to built-in server: " + cfg.toUtf8() + "\r\n"));
}

TEST_F(Controller, ALongRunShowsProgressAndKeepsPainting) {
    QByteArray text = "MAC,{$admin_pass}\r\n";
    for (int i = 0; i < 300; ++i)
        text += "02E5D2" + QByteArray::number(100000 + i) + ",pw\r\n";
    load(text);
    const QString out = dir.path() + "/out";
    QDir().mkpath(out);
    controller->progressDelayMs = 0;
    controller->progressIntervalMs = 0;
    page.window.show();
    bool progressShown = false;
    QObject probe;  // the probe goes with the test should the run not paint
    QTimer::singleShot(0, &probe, [&] {
        for (const QProgressDialog* d : page.window.findChildren<QProgressDialog*>())
            progressShown = progressShown || d->isVisible();
    });
    dialogs.paths << out;
    page.batch.click();
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 300);
    EXPECT_TRUE(page.window.findChildren<QProgressDialog*>().isEmpty());
}

TEST_F(Controller, ShowingThePageLoadsTheModelTemplateIntoAnEmptySet) {
    const QString model = dir.write("models/P20/$devCfg.bin", "Flag=5678&CheckSum=0&P1=model&end");
    const QString fallback = dir.write("default/$cfg.bin", "Flag=5678&CheckSum=0&P1=default&end");
    controller->CsvBatchTabShow("P20");  // the set is not empty
    EXPECT_EQ(tpl.Parameters().Value(1), "");

    tpl.Parameters().Clear();
    controller->CsvBatchTabShow("P20");
    EXPECT_EQ(tpl.Parameters().Value(1), "model");
    EXPECT_EQ(tpl.CurrentTemplatePath(), model);

    tpl.Parameters().Clear();
    controller->CsvBatchTabShow("  ");
    EXPECT_EQ(tpl.Parameters().Value(1), "default");
    EXPECT_EQ(tpl.CurrentTemplatePath(), fallback);

    tpl.Parameters().Clear();
    controller->CsvBatchTabShow("Gone");
    EXPECT_EQ(dialogs.messages(), QStringList{"LCfgError1"});
    EXPECT_EQ(tpl.CurrentTemplatePath(), dir.path() + "/models/Gone/$devCfg.bin");
}

}  // namespace
