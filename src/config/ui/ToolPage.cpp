#include "config/ui/ToolPage.h"

#include "page/PageControls.h"
#include "config/ui/ToolEncryptController.h"

#include <QHeaderView>

ToolPage::ToolPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("ToolTab");

    ToolEncryptGB =
        MakeCaptioned<QGroupBox>(this, "ToolEncryptGB", "Encrypt Cfg Files", {10, 6, 1220, 544});
    ToolOutputDirLabel = MakeCaptioned<QLabel>(ToolEncryptGB, "ToolOutputDirLabel",
                                               "Output Directory:", {16, 32, 140, 22});
    ToolOutputDirEdit =
        MakeControl<QLineEdit>(ToolEncryptGB, "ToolOutputDirEdit", {160, 30, 520, 25});
    ToolOutputDirBtn =
        MakeCaptioned<QPushButton>(ToolEncryptGB, "ToolOutputDirBtn", "...", {686, 29, 36, 27});
    ToolXmlEncryptKeyLabel = MakeCaptioned<QLabel>(ToolEncryptGB, "ToolXmlEncryptKeyLabel",
                                                   "XML Encrypt Key:", {16, 66, 140, 22});
    ToolXmlEncryptKeyEdit =
        MakeControl<QLineEdit>(ToolEncryptGB, "ToolXmlEncryptKeyEdit", {160, 64, 200, 25});
    ToolXmlEncryptKeyEdit->setMaxLength(16);
    ToolEncryptOwChkB = MakeCaptioned<QCheckBox>(ToolEncryptGB, "ToolEncryptOwChkB",
                                                 "Overwrite Existing Files", {380, 66, 300, 22});
    ToolInputFileBtn = MakeCaptioned<QPushButton>(ToolEncryptGB, "ToolInputFileBtn",
                                                  "Select Input File(s)", {16, 100, 180, 32});
    ToolEncryptBtn =
        MakeCaptioned<QPushButton>(ToolEncryptGB, "ToolEncryptBtn", "Encrypt", {206, 100, 120, 32});
    ToolEncryptBtn->setEnabled(false);

    ToolEncryptFileListGrid =
        MakeControl<QTableWidget>(ToolEncryptGB, "ToolEncryptFileListGrid", {16, 144, 1188, 384});
    // The grid's header row is the table's own header; data rows start at the table's row 0.
    ToolEncryptFileListGrid->setColumnCount(3);
    ToolEncryptFileListGrid->verticalHeader()->hide();
    ToolEncryptFileListGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    ToolEncryptFileListGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);

    encrypt_ = new ToolEncryptController(
        {ToolOutputDirEdit, ToolOutputDirBtn, ToolInputFileBtn, ToolXmlEncryptKeyEdit,
         ToolEncryptBtn, ToolEncryptOwChkB, ToolEncryptFileListGrid},
        *ctx.dialogs, [&ctx](const QString& key) { return ctx.Translate(key); }, *ctx.notices,
        this);
}

void ToolPage::ToolTabShow() {
    encrypt_->ToolTabShow();
}

void ToolPage::ToolTabExit() {}
