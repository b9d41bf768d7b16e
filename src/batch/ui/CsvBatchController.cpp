#include "batch/ui/CsvBatchController.h"

#include <QLabel>
#include <QTime>

#include "visual/TemplateActions.h"

#include "app/AtomicFile.h"
#include "app/Dialogs.h"
#include "app/MyLog.h"
#include "app/TextLines.h"
#include "config/CfgCrypto.h"
#include "config/CfgTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

namespace {

const char kCsvFilter[] = "Csv files (*.csv)|*.csv";

}  // namespace

CsvBatchController::CsvBatchController(const CsvBatchControls& controls,
                                       const CsvBatchServices& services, QObject* parent)
    : QObject(parent), c_(controls), s_(services) {
    InitBatchTable(*c_.CfgBatchTable);
}

void CsvBatchController::Connect() {
    const auto connectClick = [this](QPushButton* button, void (CsvBatchController::*flow)()) {
        if (button)
            connect(button, &QPushButton::clicked, this, [this, flow] { (this->*flow)(); });
    };
    connectClick(c_.LoadCsvFileButton, &CsvBatchController::LoadCsvFileButtonClick);
    connectClick(c_.SaveCsvFileButton, &CsvBatchController::SaveCsvFileButtonClick);
    connectClick(c_.AddCsvRowButton, &CsvBatchController::AddCsvRowButtonClick);
    connectClick(c_.CfgBatchButton, &CsvBatchController::CfgBatchButtonClick);
    connectClick(c_.CfgBatchToServerButton, &CsvBatchController::CfgBatchToServerButtonClick);
    c_.AutofillServerPathChkbox->installEventFilter(this);
    // A cell holds no line break (it is one field of one CSV line): a pasted one is left out.
    connect(c_.CfgBatchTable, &QTableWidget::itemChanged, this, [](QTableWidgetItem* item) {
        const QString text = item->text();
        const QString oneLine = WithoutLineBreaks(text);
        if (oneLine != text)
            item->setText(oneLine);
    });
}

bool CsvBatchController::eventFilter(QObject* watched, QEvent* event) {
    // The guard runs once the box has taken the release (and toggled).
    if (watched == c_.AutofillServerPathChkbox && event->type() == QEvent::MouseButtonRelease)
        QMetaObject::invokeMethod(
            this, [this] { AutofillServerPathChkboxMouseUp(); }, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void CsvBatchController::InitBatchTable(QTableWidget& grid) {
    grid.horizontalHeader()->setDefaultSectionSize(120);
    grid.horizontalHeader()->setSectionsMovable(false);
    grid.verticalHeader()->setMinimumWidth(30);
    grid.setEditTriggers(QAbstractItemView::AllEditTriggers);
    grid.setTabKeyNavigation(true);
    grid.setSortingEnabled(false);
    ShowBatchTable(grid, BatchTable());
}

void CsvBatchController::ShowBatchTable(QTableWidget& grid, const BatchTable& table) {
    const bool updates = grid.updatesEnabled();
    grid.setUpdatesEnabled(false);
    grid.clearContents();
    grid.setRowCount(std::max(table.RowCount() - 1, 0));
    grid.setColumnCount(std::max(table.ColumnCount() - 1, 0));
    QStringList header;
    for (int c = 1; c < table.ColumnCount(); ++c)
        header << table.Cell(0, c);
    grid.setHorizontalHeaderLabels(header);
    for (int r = 1; r < table.RowCount(); ++r) {
        for (int c = 1; c < table.ColumnCount(); ++c) {
            const QString text = table.Cell(r, c);
            if (!text.isEmpty())
                grid.setItem(r - 1, c - 1, new QTableWidgetItem(text));
        }
    }
    grid.setUpdatesEnabled(updates);
}

BatchTable CsvBatchController::ReadBatchTable(const QTableWidget& grid) {
    BatchTable table(grid.columnCount() + 1, grid.rowCount() + 1);
    for (int c = 0; c < grid.columnCount(); ++c)
        if (const QTableWidgetItem* item = grid.horizontalHeaderItem(c))
            table.SetCell(0, c + 1, item->text());
    for (int r = 0; r < grid.rowCount(); ++r) {
        table.SetCell(r + 1, 0, QString::number(r + 1));
        for (int c = 0; c < grid.columnCount(); ++c)
            if (const QTableWidgetItem* item = grid.item(r, c))
                table.SetCell(r + 1, c + 1, item->text());
    }
    return table;
}

BatchMode CsvBatchController::mode() const {
    return c_.PinModeRadioButton->isChecked() ? BatchMode::Pin : BatchMode::Mac;
}

bool CsvBatchController::scrambled() const {
    return c_.CfgToEncryptCB->currentIndex() >= 1;
}

void CsvBatchController::LoadCsvFileButtonClick() {
    ShowBatchTable(*c_.CfgBatchTable, BatchTable(2, 2));
    const QString path = s_.dialogs->openFile(kCsvFilter);
    if (path.isEmpty())
        return;
    // A file that cannot be read counts as one without lines.
    QFile file(path);
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    BatchTable table;
    const QString refusal = table.LoadCsv(text, mode());
    if (!refusal.isEmpty()) {
        s_.dialogs->messageKey(refusal);
        return;
    }
    if (s_.log)
        s_.log->Write(QString(mode() == BatchMode::Mac ? "CFG BATCH: MAC MODE. Load File: "
                                                       : "CFG BATCH: PIN MODE. Load File: ") +
                      path);
    ShowBatchTable(*c_.CfgBatchTable, table);
}

void CsvBatchController::SaveCsvFileButtonClick() {
    const QString path = s_.dialogs->saveFile(kCsvFilter, "csv");
    if (path.isEmpty()) {
        s_.dialogs->messageKey("LCsvError1");
        return;
    }
    // Replaced atomically: a failed save keeps the old file.
    if (!WriteFileAtomically(path, ReadBatchTable(*c_.CfgBatchTable).CsvText()))
        s_.dialogs->messageKey("LCsvError2");
}

void CsvBatchController::AddCsvRowButtonClick() {
    const int n = std::min(AddRowCount(c_.AddCsvEditRow->text()), BatchTable::kMaxAddRows);
    if (n > 0)
        c_.CfgBatchTable->setRowCount(c_.CfgBatchTable->rowCount() + n);
}

ServerProtocol CsvBatchController::protocol() const {
    return s_.serverProtocol ? s_.serverProtocol() : ServerProtocol::Http;
}

void CsvBatchController::AutofillServerPathChkboxMouseUp() {
    if (s_.serverRunning && s_.serverRunning())
        return;
    s_.dialogs->messageKey(protocol() == ServerProtocol::Tftp ? "LCsvError8" : "LCsvError3");
    c_.AutofillServerPathChkbox->setChecked(false);
}

void CsvBatchController::CfgBatchButtonClick() {
    const QString folder = s_.dialogs->chooseFolder(UiText::key("LBatchSelectDirHint"));
    if (folder.isEmpty())
        return;
    if (c_.XmlCfgEncryptChkB->isChecked()) {
        const QString key = c_.XmlCfgEncryptKeyEdit->text().trimmed();
        if (key.isEmpty()) {
            s_.dialogs->messageKey("LCfgBa_XmlKeyEmpty");
            return;
        }
        if (key.size() > 16) {
            s_.dialogs->messageText("Encrpyt key is too long!");
            return;
        }
        if (!xmlKeyAccepted(key))
            return;
        c_.XmlCfgEncryptKeyEdit->setText(key);
    }
    run(folder, BatchDestination::Folder);
}

void CsvBatchController::CfgBatchToServerButtonClick() {
    if (c_.XmlCfgEncryptChkB->isChecked()) {
        const QString key = c_.XmlCfgEncryptKeyEdit->text().trimmed();
        if (key.size() > 16) {
            s_.dialogs->messageText("Encrpyt key is too long!");
            return;
        }
        if (!xmlKeyAccepted(key))
            return;
        c_.XmlCfgEncryptKeyEdit->setText(key);
    }
    run(s_.workDir + "/server/htdocs" + "/cfg", BatchDestination::BuiltInServer);
}

bool CsvBatchController::xmlKeyAccepted(const QString& key) {
    if (!c_.BatchFileFormatXmlRB->isChecked() || IsHexKeyText(key.toUtf8()))
        return true;
    return s_.dialogs->question(UiText::key("LXmlKeyNotHex"), UiText::key("LContinueQ"),
                                Dialogs::Buttons::OkCancel);
}

void CsvBatchController::run(const QString& folder, BatchDestination destination) {
    BatchJob job;
    job.mode = mode();
    job.format = c_.BatchFileFormatXmlRB->isChecked() ? BatchFormat::Xml : BatchFormat::Bin;
    job.scrambled = scrambled();
    job.xmlEncrypted = c_.XmlCfgEncryptChkB->isChecked();
    job.xmlKey = c_.XmlCfgEncryptKeyEdit->text().toUtf8();
    job.autofill = c_.AutofillServerPathChkbox->isChecked();
    if (job.autofill) {
        job.serverAddress = s_.firstServerInterface ? s_.firstServerInterface() : QString();
        job.portText = s_.serverPortText ? s_.serverPortText() : QString();
        job.urlAccess = s_.serverUrlAccess ? s_.serverUrlAccess() : UrlAccess{};
        job.protocol = protocol();
        job.pno = s_.settings;
    }
    job.folder = folder;
    job.destination = destination;
    job.record = s_.record;
    const BatchTable table = ReadBatchTable(*c_.CfgBatchTable);

    c_.CfgBatchButton->setEnabled(false);
    c_.CfgBatchToServerButton->setEnabled(false);
    const QString title = destination == BatchDestination::Folder
                              ? c_.CfgBatchButton->text()
                              : c_.CfgBatchToServerButton->text();
    QProgressDialog* dialog = nullptr;
    QElapsedTimer clock;
    clock.start();
    const BatchOutcome outcome = RunBatch(
        table, *s_.tpl, job, *s_.dialogs, s_.log,
        [&](int done, int total) { progress(done, total, clock.elapsed(), title, &dialog); },
        progressIntervalMs);
    delete dialog;
    showUnfilled(outcome.unfilled);
    if (c_.CfgBatchResultLabel && s_.translate && outcome.status == BatchOutcome::Status::Ran)
        c_.CfgBatchResultLabel->setText(s_.translate("LBatchWrote")
                                            .arg(outcome.written.size())
                                            .arg(QTime::currentTime().toString("HH:mm:ss")));
    c_.CfgBatchButton->setEnabled(true);
    c_.CfgBatchToServerButton->setEnabled(true);
}

void CsvBatchController::showUnfilled(const UnfilledPlaceholders& unfilled) {
    if (!c_.UnfilledNote)
        return;
    const QString lead = s_.translate ? s_.translate("LBatchUnfilled") : QString();
    c_.UnfilledNote->setPlainText(unfilled.empty() ? QString()
                                                   : lead + UnfilledPlaceholderList(unfilled));
    c_.UnfilledNote->setVisible(!unfilled.empty());
}

void CsvBatchController::progress(int done, int total, qint64 elapsedMs, const QString& title,
                                  QProgressDialog** dialog) {
    if (done >= total && !*dialog)
        return;
    if (!*dialog) {
        if (elapsedMs < progressDelayMs)
            return;
        *dialog = new QProgressDialog(c_.CfgBatchTable->window());
        (*dialog)->setWindowTitle(title);
        (*dialog)->setCancelButton(nullptr);
        (*dialog)->setMinimumDuration(0);
        (*dialog)->setRange(0, total);
        (*dialog)->show();
    }
    (*dialog)->setLabelText(QString::number(done) + " / " + QString::number(total));
    (*dialog)->setValue(done);
    // Painting only: no user input reaches the window while the run lasts.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers);
}

void CsvBatchController::CsvBatchTabShow(const QString& modelName) {
    if (s_.tpl->Parameters().IsEmpty())
        LoadModelTemplate(*s_.tpl, s_.workDir, modelName);
}
