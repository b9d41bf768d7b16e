#include "batch/ui/CsvBatchPage.h"

#include "batch/BatchSettings.h"
#include "batch/ui/CsvBatchController.h"
#include "page/PageControls.h"

#include "app/EscapedErrors.h"
#include "app/SettingsStore.h"

CsvBatchPage::CsvBatchPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("CsvBatchTab");

    CfgBatchTable = MakeControl<QTableWidget>(this, "CfgBatchTable", {0, 0, 860, 550});
    CsvBatchController::InitBatchTable(*CfgBatchTable);

    const int x = 870;
    BatchModeGB = MakeCaptioned<QGroupBox>(this, "BatchModeGB", "CSV Mode", {x, 0, 360, 52});
    CsvModeRadioButton = MakeCaptioned<QRadioButton>(BatchModeGB, "CsvModeRadioButton", "Mac Mode",
                                                     {12, 22, 150, 22});
    CsvModeRadioButton->setChecked(true);
    PinModeRadioButton = MakeCaptioned<QRadioButton>(BatchModeGB, "PinModeRadioButton", "PIN Mode",
                                                     {180, 22, 150, 22});

    LoadCsvFileButton =
        MakeCaptioned<QPushButton>(this, "LoadCsvFileButton", "Load CSV File", {x, 62, 175, 30});
    SaveCsvFileButton =
        MakeCaptioned<QPushButton>(this, "SaveCsvFileButton", "Save as", {x + 185, 62, 175, 30});
    AddCsvEditRow = MakeControl<QLineEdit>(this, "AddCsvEditRow", {x, 102, 80, 26});
    AddCsvEditRow->setText("1");
    AddCsvRowButton =
        MakeCaptioned<QPushButton>(this, "AddCsvRowButton", "Add", {x + 90, 100, 85, 30});

    BatchFormatGB =
        MakeCaptioned<QGroupBox>(this, "BatchFormatGB", "Output Format", {x, 142, 360, 128});
    BatchFileFormatBinRB =
        MakeCaptioned<QRadioButton>(BatchFormatGB, "BatchFileFormatBinRB", "BIN", {12, 26, 70, 22});
    BatchFileFormatBinRB->setChecked(true);
    CfgToEncryptCB = MakeControl<QComboBox>(BatchFormatGB, "CfgToEncryptCB", {90, 24, 256, 25});
    BatchFileFormatXmlRB =
        MakeCaptioned<QRadioButton>(BatchFormatGB, "BatchFileFormatXmlRB", "XML", {12, 60, 70, 22});
    XmlCfgEncryptChkB =
        MakeCaptioned<QCheckBox>(BatchFormatGB, "XmlCfgEncryptChkB", "Encrypt", {90, 60, 256, 22});
    XmlCfgEncryptKeyLabel =
        MakeCaptioned<QLabel>(BatchFormatGB, "XmlCfgEncryptKeyLabel", "Key:", {90, 94, 60, 22});
    XmlCfgEncryptKeyEdit =
        MakeControl<QLineEdit>(BatchFormatGB, "XmlCfgEncryptKeyEdit", {150, 92, 196, 25});
    XmlCfgEncryptKeyEdit->setMaxLength(16);

    AutofillServerPathChkbox = MakeCaptioned<QCheckBox>(this, "AutofillServerPathChkbox",
                                                        "Autofill Server Path", {x, 282, 360, 22});
    CfgBatchButton = MakeCaptioned<QPushButton>(this, "CfgBatchButton", "Batch", {x, 316, 175, 34});
    CfgBatchToServerButton = MakeCaptioned<QPushButton>(
        this, "CfgBatchToServerButton", "Batch to Built-in Server", {x + 185, 316, 175, 34});
    CfgBatchResultLabel = MakeControl<QLabel>(this, "CfgBatchResultLabel", {x, 358, 360, 44});
    CfgBatchResultLabel->setWordWrap(true);
    BatchUnfilledNote = MakeControl<QPlainTextEdit>(this, "BatchUnfilledNote", {x, 406, 360, 144});
    BatchUnfilledNote->setReadOnly(true);
    BatchUnfilledNote->hide();

    CsvBatchControls controls{CfgBatchTable,        CsvModeRadioButton,   PinModeRadioButton,
                              BatchFileFormatBinRB, BatchFileFormatXmlRB, CfgToEncryptCB,
                              XmlCfgEncryptChkB,    XmlCfgEncryptKeyEdit, AutofillServerPathChkbox,
                              AddCsvEditRow,        CfgBatchButton,       CfgBatchToServerButton,
                              LoadCsvFileButton,    SaveCsvFileButton,    AddCsvRowButton,
                              BatchUnfilledNote,    CfgBatchResultLabel};
    CsvBatchServices services;
    services.dialogs = ctx.dialogs;
    services.tpl = ctx.cfg;
    services.settings = ctx.settings;
    services.log = ctx.log;
    services.record = ctx.record;
    services.workDir = ctx.workDir;
    services.translate = [&ctx](const QString& key) { return ctx.Translate(key); };
    // The server interface list, the protocol and the ports are the servers page's.
    services.serverProtocol = [&ctx] { return ctx.serverChoice().protocol; };
    services.serverRunning = [&ctx] { return ctx.serverChoice().running; };
    services.firstServerInterface = [&ctx] { return ctx.serverChoice().firstAddress; };
    services.serverPortText = [&ctx] { return ctx.serverChoice().portText; };
    services.serverUrlAccess = [&ctx] { return ctx.serverChoice().access; };
    batch_ = new CsvBatchController(controls, services, this);
    batch_->Connect();
}

void CsvBatchPage::CsvBatchTabShow() {
    batch_->CsvBatchTabShow(ctx_.currentModel());
    const BatchPageSettings stored = ReadBatchPageSettings(*ctx_.settings);
    CfgToEncryptCB->clear();
    CfgToEncryptCB->addItem(ctx_.Translate("NotEncryptCBItem"));
    CfgToEncryptCB->addItem(ctx_.Translate("EncryptDefaultCBItem"));
    CfgToEncryptCB->setCurrentIndex(stored.cfgEncryptItem);
    XmlCfgEncryptChkB->setToolTip(ctx_.Translate("LXmlEncryptHint"));
    if (settingsRead_)
        return;
    settingsRead_ = true;
    (stored.mode == BatchMode::Pin ? PinModeRadioButton : CsvModeRadioButton)->setChecked(true);
    (stored.format == BatchFormat::Xml ? BatchFileFormatXmlRB : BatchFileFormatBinRB)
        ->setChecked(true);
    XmlCfgEncryptChkB->setChecked(stored.xmlEncrypt);
    XmlCfgEncryptKeyEdit->setText(stored.xmlKey);
}

void CsvBatchPage::CsvBatchTabExit() {
    BatchPageSettings page;
    page.mode = PinModeRadioButton->isChecked() ? BatchMode::Pin : BatchMode::Mac;
    page.format = BatchFileFormatXmlRB->isChecked() ? BatchFormat::Xml : BatchFormat::Bin;
    page.cfgEncryptItem = CfgToEncryptCB->currentIndex();
    page.xmlEncrypt = XmlCfgEncryptChkB->isChecked();
    page.xmlKey = XmlCfgEncryptKeyEdit->text();
    WriteBatchPageSettings(*ctx_.settings, page);
}
