#pragma once

#include "page/AppContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QWidget>

class CsvBatchController;

// The "Cfg Batch" page: the CSV batch table and the options of a batch run.
//
// CfgBatchTable keeps the string-grid layout: row 0 and column 0 are cells of the table (the
// fixed row and column, not editable); Qt's own headers are hidden.
class CsvBatchPage : public QWidget {
    Q_OBJECT
  public:
    CsvBatchPage(const AppContext& ctx, QWidget* parent);

    QTableWidget* CfgBatchTable;
    QGroupBox* BatchModeGB;
    QRadioButton* CsvModeRadioButton;
    QRadioButton* PinModeRadioButton;
    QPushButton* LoadCsvFileButton;
    QPushButton* SaveCsvFileButton;
    QLineEdit* AddCsvEditRow;
    QPushButton* AddCsvRowButton;
    QGroupBox* BatchFormatGB;
    QRadioButton* BatchFileFormatBinRB;
    QComboBox* CfgToEncryptCB;
    QRadioButton* BatchFileFormatXmlRB;
    QCheckBox* XmlCfgEncryptChkB;
    QLabel* XmlCfgEncryptKeyLabel;
    QLineEdit* XmlCfgEncryptKeyEdit;
    QCheckBox* AutofillServerPathChkbox;
    QPushButton* CfgBatchButton;
    QPushButton* CfgBatchToServerButton;
    // The placeholders the last run left unfilled, shown only when there are some.
    QPlainTextEdit* BatchUnfilledNote;
    QLabel* CfgBatchResultLabel;  // how many files the last run wrote

    // Page shown: the model's template when the set is empty, the encryption choice (every
    // time) and, the first time, the other options from [BATCH].
    void CsvBatchTabShow();
    // Page left: the options back into [BATCH].
    void CsvBatchTabExit();

  private:
    const AppContext& ctx_;
    CsvBatchController* batch_ = nullptr;
    bool settingsRead_ = false;
};
