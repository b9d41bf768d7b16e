#include "batch/ui/CsvBatchPage.h"

#include "app/EscapedErrors.h"
#include "app/Numbers.h"
#include "app/SettingsStore.h"

#include <QEvent>
#include <QHeaderView>

namespace {

template <typename T>
T* control(QWidget* parent, const char* name, const QRect& place) {
    auto* w = new T(parent);
    w->setObjectName(name);
    w->setGeometry(place);
    return w;
}

template <typename T>
T* captioned(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* w = new T(caption, parent);
    w->setObjectName(name);
    w->setGeometry(place);
    return w;
}

}  // namespace

CsvBatchPage::CsvBatchPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("CsvBatchTab");

    CfgBatchTable = control<QTableWidget>(this, "CfgBatchTable", {0, 0, 860, 550});
    CfgBatchTable->setColumnCount(5);
    CfgBatchTable->setRowCount(2);
    CfgBatchTable->horizontalHeader()->hide();
    CfgBatchTable->verticalHeader()->hide();
    CfgBatchTable->horizontalHeader()->setDefaultSectionSize(120);
    CfgBatchTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    CfgBatchTable->setColumnWidth(0, 30);
    CfgBatchTable->setEditTriggers(QAbstractItemView::AllEditTriggers);
    CfgBatchTable->setTabKeyNavigation(true);
    for (int c = 0; c < CfgBatchTable->columnCount(); ++c)
        for (int r = 0; r < CfgBatchTable->rowCount(); ++r) {
            auto* cell = new QTableWidgetItem;
            if (r == 0 || c == 0) {
                cell->setFlags(Qt::ItemIsEnabled);
                cell->setBackground(palette().button());
            }
            CfgBatchTable->setItem(r, c, cell);
        }

    const int x = 870;
    BatchModeGB = captioned<QGroupBox>(this, "BatchModeGB", "CSV Mode", {x, 0, 360, 52});
    CsvModeRadioButton =
        captioned<QRadioButton>(BatchModeGB, "CsvModeRadioButton", "Mac Mode", {12, 22, 150, 22});
    CsvModeRadioButton->setChecked(true);
    PinModeRadioButton =
        captioned<QRadioButton>(BatchModeGB, "PinModeRadioButton", "PIN Mode", {180, 22, 150, 22});

    LoadCsvFileButton =
        captioned<QPushButton>(this, "LoadCsvFileButton", "Load CSV File", {x, 62, 175, 30});
    SaveCsvFileButton =
        captioned<QPushButton>(this, "SaveCsvFileButton", "Save as", {x + 185, 62, 175, 30});
    AddCsvEditRow = control<QLineEdit>(this, "AddCsvEditRow", {x, 102, 80, 26});
    AddCsvEditRow->setText("1");
    AddCsvRowButton = captioned<QPushButton>(this, "AddCsvRowButton", "Add", {x + 90, 100, 85, 30});

    BatchFormatGB =
        captioned<QGroupBox>(this, "BatchFormatGB", "Output Format", {x, 142, 360, 128});
    BatchFileFormatBinRB =
        captioned<QRadioButton>(BatchFormatGB, "BatchFileFormatBinRB", "BIN", {12, 26, 70, 22});
    BatchFileFormatBinRB->setChecked(true);
    CfgToEncryptCB = control<QComboBox>(BatchFormatGB, "CfgToEncryptCB", {90, 24, 256, 25});
    BatchFileFormatXmlRB =
        captioned<QRadioButton>(BatchFormatGB, "BatchFileFormatXmlRB", "XML", {12, 60, 70, 22});
    XmlCfgEncryptChkB =
        captioned<QCheckBox>(BatchFormatGB, "XmlCfgEncryptChkB", "Encrypt", {90, 60, 256, 22});
    XmlCfgEncryptKeyLabel =
        captioned<QLabel>(BatchFormatGB, "XmlCfgEncryptKeyLabel", "Key:", {90, 94, 60, 22});
    XmlCfgEncryptKeyEdit =
        control<QLineEdit>(BatchFormatGB, "XmlCfgEncryptKeyEdit", {150, 92, 196, 25});
    XmlCfgEncryptKeyEdit->setMaxLength(16);

    AutofillServerPathChkbox = captioned<QCheckBox>(this, "AutofillServerPathChkbox",
                                                    "Autofill Server Path", {x, 282, 360, 22});
    AutofillServerPathChkbox->installEventFilter(this);
    CfgBatchButton = captioned<QPushButton>(this, "CfgBatchButton", "Batch", {x, 316, 175, 34});
    CfgBatchToServerButton = captioned<QPushButton>(
        this, "CfgBatchToServerButton", "Batch to Built-in Server", {x + 185, 316, 175, 34});

    connect(LoadCsvFileButton, &QPushButton::clicked, this,
            Guarded([this] { LoadCsvFileButtonClick(); }));
    connect(SaveCsvFileButton, &QPushButton::clicked, this,
            Guarded([this] { SaveCsvFileButtonClick(); }));
    connect(AddCsvRowButton, &QPushButton::clicked, this,
            Guarded([this] { AddCsvRowButtonClick(); }));
    connect(CfgBatchButton, &QPushButton::clicked, this,
            Guarded([this] { CfgBatchButtonClick(); }));
    connect(CfgBatchToServerButton, &QPushButton::clicked, this,
            Guarded([this] { CfgBatchToServerButtonClick(); }));
}

bool CsvBatchPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == AutofillServerPathChkbox && event->type() == QEvent::MouseButtonRelease) {
        // After the box has toggled itself.
        const bool handled = QWidget::eventFilter(watched, event);
        QMetaObject::invokeMethod(
            this, [this] { AutofillServerPathChkboxMouseUp(); }, Qt::QueuedConnection);
        return handled;
    }
    return QWidget::eventFilter(watched, event);
}

void CsvBatchPage::CsvBatchTabShow() {
    SettingsStore& s = *ctx_.settings;
    CfgToEncryptCB->clear();
    CfgToEncryptCB->addItem(ctx_.Translate("NotEncryptCBItem"));
    CfgToEncryptCB->addItem(ctx_.Translate("EncryptDefaultCBItem"));
    CfgToEncryptCB->setCurrentIndex(s.ReadInt(Setting::BatchCfgEncrypt) != 0 ? 1 : 0);
    XmlCfgEncryptChkB->setToolTip(ctx_.Translate("LXmlEncryptHint"));

    if (settingsRead_)
        return;
    settingsRead_ = true;
    (s.ReadInt(Setting::BatchMode) != 0 ? PinModeRadioButton : CsvModeRadioButton)
        ->setChecked(true);
    (s.ReadInt(Setting::BatchFormat) != 0 ? BatchFileFormatXmlRB : BatchFileFormatBinRB)
        ->setChecked(true);
    XmlCfgEncryptChkB->setChecked(s.ReadInt(Setting::BatchXmlEncrypt) != 0);
    XmlCfgEncryptKeyEdit->setText(s.Read(Setting::BatchXmlEncryptKey));
}

void CsvBatchPage::CsvBatchTabExit() {
    SettingsStore& s = *ctx_.settings;
    const auto flag = [](bool on) { return QString(on ? "1" : "0"); };
    s.Write(Setting::BatchMode, flag(PinModeRadioButton->isChecked()));
    s.Write(Setting::BatchFormat, flag(BatchFileFormatXmlRB->isChecked()));
    s.Write(Setting::BatchCfgEncrypt, flag(CfgToEncryptCB->currentIndex() == 1));
    s.Write(Setting::BatchXmlEncrypt, flag(XmlCfgEncryptChkB->isChecked()));
    s.Write(Setting::BatchXmlEncryptKey, XmlCfgEncryptKeyEdit->text().trimmed());
}

void CsvBatchPage::LoadCsvFileButtonClick() {}

void CsvBatchPage::SaveCsvFileButtonClick() {}

void CsvBatchPage::AddCsvRowButtonClick() {}

void CsvBatchPage::CfgBatchButtonClick() {}

void CsvBatchPage::CfgBatchToServerButtonClick() {}

void CsvBatchPage::AutofillServerPathChkboxMouseUp() {}
