#include "config/ui/ToolEncryptController.h"

#include "app/Dialogs.h"
#include "app/Notices.h"
#include "config/CfgCrypto.h"
#include "config/CfgFileEncryptThread.h"
#include "config/ui/ToolStatusDelegate.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace {

constexpr int kPathColumn = 1;
constexpr int kStatusColumn = 2;

void setCell(QTableWidget* grid, int row, int column, const QString& text) {
    QTableWidgetItem* item = grid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        grid->setItem(row, column, item);
    }
    item->setText(text);
}

void setHeader(QTableWidget* grid, int column, const QString& text) {
    if (QTableWidgetItem* item = grid->horizontalHeaderItem(column))
        item->setText(text);
    else
        grid->setHorizontalHeaderItem(column, new QTableWidgetItem(text));
}

}  // namespace

ToolEncryptController::ToolEncryptController(const ToolEncryptControls& controls, Dialogs& dialogs,
                                             TranslateFn translate, NoticeTransport& notices,
                                             QObject* parent)
    : QObject(parent),
      c_(controls),
      dialogs_(dialogs),
      translate_(std::move(translate)),
      notices_(notices) {
    if (c_.fileListGrid->columnCount() < 3)
        c_.fileListGrid->setColumnCount(3);
    c_.fileListGrid->setItemDelegateForColumn(kStatusColumn,
                                              new ToolStatusDelegate(translate_, c_.fileListGrid));
    c_.encryptBtn->setEnabled(false);
    connect(c_.inputFileBtn, &QPushButton::clicked, this,
            &ToolEncryptController::ToolInputFileBtnClick);
    connect(c_.outputDirBtn, &QPushButton::clicked, this,
            &ToolEncryptController::ToolOutputDirBtnClick);
    connect(c_.encryptBtn, &QPushButton::clicked, this,
            &ToolEncryptController::ToolEncryptBtnClick);
    for (int code = ToolStatusLoadErr; code <= ToolStatusWait; ++code)
        notices_.SetHandler(code, [this](int c, const void* record) {
            onReport(c, static_cast<const Tag_ToolStatusReport*>(record)->row);
        });
}

ToolEncryptController::~ToolEncryptController() {
    for (int code = ToolStatusLoadErr; code <= ToolStatusWait; ++code)
        notices_.RemoveHandler(code);
    if (worker_) {
        // The end of the run must not free the worker while it is waited for here.
        disconnect(worker_.get(), nullptr, this, nullptr);
        worker_->requestInterruption();
        CfgFileEncryptThread* worker = worker_.get();
        WaitHandlingNotices([worker] { return worker->isFinished(); });
        worker_.reset();
    }
}

void ToolEncryptController::ToolTabShow() {
    QTableWidget* grid = c_.fileListGrid;
    if (!shownOnce_) {
        shownOnce_ = true;
        grid->setColumnWidth(0, 40);
        grid->setColumnWidth(kPathColumn, 360);
        grid->setColumnWidth(kStatusColumn, 120);
        if (!grid->horizontalHeaderItem(0))
            setHeader(grid, 0, QString());
    }
    setHeader(grid, kPathColumn, translate_("LToolE_File"));
    setHeader(grid, kStatusColumn, translate_("LToolE_Status"));
}

void ToolEncryptController::ToolInputFileBtnClick() {
    const QStringList paths = dialogs_.openFiles(kInputFilter);
    if (paths.isEmpty())
        return;
    QTableWidget* grid = c_.fileListGrid;
    grid->clearContents();
    grid->setRowCount(static_cast<int>(paths.size()));
    for (int i = 0; i < paths.size(); ++i) {
        setCell(grid, i, 0, QString::number(i + 1));
        setCell(grid, i, kPathColumn, paths[i]);
        setCell(grid, i, kStatusColumn, QString::number(ToolStatusWait));
    }
    c_.encryptBtn->setEnabled(true);
}

void ToolEncryptController::ToolOutputDirBtnClick() {
    const QString dir = dialogs_.chooseFolder({});
    if (!dir.isEmpty())
        c_.outputDirEdit->setText(dir);
}

void ToolEncryptController::ToolEncryptBtnClick() {
    if (running_)
        return;
    const QString dir = c_.outputDirEdit->text().trimmed();
    if (dir.isEmpty()) {
        dialogs_.messageKey("LToolE_SelectOutDirFirst");
        return;
    }
    const QFileInfo dirInfo(dir);
    if (!dirInfo.isDir() || !dirInfo.isWritable()) {
        dialogs_.messageKey("LToolE_OutDirNotExist");
        return;
    }
    QString key = c_.keyEdit->text().trimmed();
    if (key.isEmpty()) {
        if (!dialogs_.question(UiText::key("LToolES_XmlDefaultEncrypt"), UiText::key("LContinueQ"),
                               Dialogs::Buttons::OkCancel))
            return;
        key = kDefaultXmlKey;
    }
    if (key.size() > 16) {
        dialogs_.messageText("Encrypt key is longer than 16 chars!");
        return;
    }
    // The key ends at its first character that is not a hexadecimal digit.
    if (!IsHexKeyText(key.toUtf8()) &&
        !dialogs_.question(UiText::key("LXmlKeyNotHex"), UiText::key("LContinueQ"),
                           Dialogs::Buttons::OkCancel))
        return;

    setControlsEnabled(false);
    freeWorker();
    // The worker gets a copy of column 1 (entry 0 the header), so it never reads the grid.
    QTableWidget* grid = c_.fileListGrid;
    QStringList column;
    const QTableWidgetItem* header = grid->horizontalHeaderItem(kPathColumn);
    column << (header ? header->text() : QString());
    for (int row = 0; row < grid->rowCount(); ++row) {
        const QTableWidgetItem* item = grid->item(row, kPathColumn);
        column << (item ? item->text() : QString());
    }

    worker_ = std::make_unique<CfgFileEncryptThread>(&notices_);
    worker_->SetKey(key.toUtf8());
    worker_->SetOutputDir(dir);
    worker_->SetFileList(column);
    worker_->SetStartFromRowOne(true);
    worker_->SetOverwrite(c_.overwriteChkB->isChecked());
    const int run = ++runNumber_;
    connect(worker_.get(), &QThread::finished, this, [this, run] {
        if (run == runNumber_)
            freeWorker();
    });
    running_ = true;
    worker_->start();
}

void ToolEncryptController::onReport(int code, int row) {
    switch (code) {
        case ToolStatusLoadErr:
        case ToolStatusEncryptFailed:
        case ToolStatusSaveFailed:
        case ToolStatusOk:
        case ToolStatusInvalidFormat:
        case ToolStatusSkipped:
            if (row >= 1 && row <= c_.fileListGrid->rowCount())
                setCell(c_.fileListGrid, row - 1, kStatusColumn, QString::number(code));
            return;
        case ToolStatusFinished:
            c_.fileListGrid->viewport()->update();
            endRun();
            return;
        case ToolStatusRefused:
            break;
        default:
            if (row >= 0)
                return;
            break;
    }
    dialogs_.messageText("Unpredicted Error!");
    endRun();
}

void ToolEncryptController::endRun() {
    running_ = false;
    setControlsEnabled(true);
}

void ToolEncryptController::setControlsEnabled(bool enabled) {
    c_.inputFileBtn->setEnabled(enabled);
    c_.encryptBtn->setEnabled(enabled);
    c_.keyEdit->setEnabled(enabled);
    c_.outputDirEdit->setEnabled(enabled);
    c_.outputDirBtn->setEnabled(enabled);
    c_.overwriteChkB->setEnabled(enabled);
}

// Only called once the worker's last report has been handled (or it never started), so
// waiting for it cannot block a notice.
void ToolEncryptController::freeWorker() {
    if (worker_) {
        worker_->wait();
        worker_.reset();
    }
}
