#pragma once

#include "page/AppContext.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

class ToolEncryptController;

// The "Tools" page: bulk encryption of configuration files.
//
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

  private:
    const AppContext& ctx_;
    ToolEncryptController* encrypt_ = nullptr;
};
