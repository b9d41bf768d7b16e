#include "config/ui/ToolPage.h"

#include <QHeaderView>
#include "app/EscapedErrors.h"

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

ToolPage::ToolPage(const AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("ToolTab");

    ToolEncryptGB =
        captioned<QGroupBox>(this, "ToolEncryptGB", "Encrypt Cfg Files", {10, 6, 1220, 544});
    ToolOutputDirLabel = captioned<QLabel>(ToolEncryptGB, "ToolOutputDirLabel",
                                           "Output Directory:", {16, 32, 140, 22});
    ToolOutputDirEdit = control<QLineEdit>(ToolEncryptGB, "ToolOutputDirEdit", {160, 30, 520, 25});
    ToolOutputDirBtn =
        captioned<QPushButton>(ToolEncryptGB, "ToolOutputDirBtn", "...", {686, 29, 36, 27});
    ToolXmlEncryptKeyLabel = captioned<QLabel>(ToolEncryptGB, "ToolXmlEncryptKeyLabel",
                                               "XML Encrypt Key:", {16, 66, 140, 22});
    ToolXmlEncryptKeyEdit =
        control<QLineEdit>(ToolEncryptGB, "ToolXmlEncryptKeyEdit", {160, 64, 200, 25});
    ToolXmlEncryptKeyEdit->setMaxLength(16);
    ToolEncryptOwChkB = captioned<QCheckBox>(ToolEncryptGB, "ToolEncryptOwChkB",
                                             "Overwrite Existing Files", {380, 66, 300, 22});
    ToolInputFileBtn = captioned<QPushButton>(ToolEncryptGB, "ToolInputFileBtn",
                                              "Select Input File(s)", {16, 100, 180, 32});
    ToolEncryptBtn =
        captioned<QPushButton>(ToolEncryptGB, "ToolEncryptBtn", "Encrypt", {206, 100, 120, 32});
    ToolEncryptBtn->setEnabled(false);

    ToolEncryptFileListGrid =
        control<QTableWidget>(ToolEncryptGB, "ToolEncryptFileListGrid", {16, 144, 1188, 384});
    ToolEncryptFileListGrid->setColumnCount(3);
    ToolEncryptFileListGrid->setRowCount(1);
    ToolEncryptFileListGrid->horizontalHeader()->hide();
    ToolEncryptFileListGrid->verticalHeader()->hide();
    ToolEncryptFileListGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    ToolEncryptFileListGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int c = 0; c < 3; ++c) {
        auto* cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled);
        cell->setBackground(palette().button());
        ToolEncryptFileListGrid->setItem(0, c, cell);
    }

    connect(ToolOutputDirBtn, &QPushButton::clicked, this,
            Guarded([this] { ToolOutputDirBtnClick(); }));
    connect(ToolInputFileBtn, &QPushButton::clicked, this,
            Guarded([this] { ToolInputFileBtnClick(); }));
    connect(ToolEncryptBtn, &QPushButton::clicked, this,
            Guarded([this] { ToolEncryptBtnClick(); }));
}

void ToolPage::ToolTabShow() {
    if (!shown_) {
        shown_ = true;
        ToolEncryptFileListGrid->setColumnWidth(0, 40);
        ToolEncryptFileListGrid->setColumnWidth(1, 360);
        ToolEncryptFileListGrid->setColumnWidth(2, 120);
    }
    const auto header = [this](int column, const QString& text) {
        QTableWidgetItem* cell = ToolEncryptFileListGrid->item(0, column);
        if (!cell) {
            cell = new QTableWidgetItem;
            cell->setFlags(Qt::ItemIsEnabled);
            ToolEncryptFileListGrid->setItem(0, column, cell);
        }
        cell->setText(text);
    };
    header(1, ctx_.Translate("LToolE_File"));
    header(2, ctx_.Translate("LToolE_Status"));
}

void ToolPage::ToolTabExit() {}

void ToolPage::ToolOutputDirBtnClick() {}

void ToolPage::ToolInputFileBtnClick() {}

void ToolPage::ToolEncryptBtnClick() {}
