#pragma once

#include "app/AppContext.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

// The "Tools" page: bulk encryption of configuration files.
//
// ToolEncryptFileListGrid keeps the string-grid layout: row 0 is the header row, a cell row of
// the table (Qt's own headers are hidden); data rows start at 1.
class ToolPage : public QWidget {
    Q_OBJECT
  public:
    ToolPage(const AppContext& ctx, QWidget* parent);

    QGroupBox* ToolEncryptGB;
    QLabel* ToolOutputDirLabel;
    QLineEdit* ToolOutputDirEdit;
    QPushButton* ToolOutputDirBtn;
    QLabel* ToolXmlEncryptKeyLabel;
    QLineEdit* ToolXmlEncryptKeyEdit;
    QCheckBox* ToolEncryptOwChkB;
    QPushButton* ToolInputFileBtn;
    QPushButton* ToolEncryptBtn;
    QTableWidget* ToolEncryptFileListGrid;

    // Column widths the first time; the header texts every time.
    void ToolTabShow();
    // Does nothing.
    void ToolTabExit();

    void ToolOutputDirBtnClick();
    void ToolInputFileBtnClick();
    void ToolEncryptBtnClick();

  private:
    const AppContext& ctx_;
    bool shown_ = false;
};
