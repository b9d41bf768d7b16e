#pragma once

#include "batch/BatchRun.h"
#include "batch/BatchTable.h"

#include <QObject>
#include <QString>
#include <functional>

class CfgTemplate;
class Dialogs;
class MyLog;
class ProvisioningRecord;
class QCheckBox;
class QLabel;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressDialog;
class QPushButton;
class QRadioButton;
class QTableWidget;
class SettingsStore;

// The controls of the Cfg Batch page that the batch flows read and change.
struct CsvBatchControls {
    QTableWidget* CfgBatchTable = nullptr;
    QRadioButton* CsvModeRadioButton = nullptr;
    QRadioButton* PinModeRadioButton = nullptr;
    QRadioButton* BatchFileFormatBinRB = nullptr;
    QRadioButton* BatchFileFormatXmlRB = nullptr;
    QComboBox* CfgToEncryptCB = nullptr;
    QCheckBox* XmlCfgEncryptChkB = nullptr;
    QLineEdit* XmlCfgEncryptKeyEdit = nullptr;
    QCheckBox* AutofillServerPathChkbox = nullptr;
    QLineEdit* AddCsvEditRow = nullptr;
    QPushButton* CfgBatchButton = nullptr;
    QPushButton* CfgBatchToServerButton = nullptr;
    // "Load CSV File", "Save as", "Add": only needed for Connect().
    QPushButton* LoadCsvFileButton = nullptr;
    QPushButton* SaveCsvFileButton = nullptr;
    QPushButton* AddCsvRowButton = nullptr;
    // Where a run names the placeholders no column filled (none: not named on the page); hidden
    // while the last run left none.
    QPlainTextEdit* UnfilledNote = nullptr;
    // Says how many files the last run wrote.
    QLabel* CfgBatchResultLabel = nullptr;
};

// What the flows need beside the page.
struct CsvBatchServices {
    Dialogs* dialogs = nullptr;
    CfgTemplate* tpl = nullptr;
    SettingsStore* settings = nullptr;  // the [PNO] keys
    MyLog* log = nullptr;
    ProvisioningRecord* record = nullptr;  // where the files written are recorded
    QString workDir;
    std::function<bool()> serverRunning;            // the chosen built-in server runs
    std::function<QString()> firstServerInterface;  // first entry of InterfaceForServerCB
    std::function<QString()> serverPortText;        // the chosen server's port text
    std::function<UrlAccess()> serverUrlAccess;     // HTTPS and credentials of the server
    // The built-in server's protocol chosen on the servers page (HTTP when not set).
    std::function<ServerProtocol()> serverProtocol;
    // The text of a language key.
    std::function<QString(const QString&)> translate;
};

// The button flows of the Cfg Batch page. The grid shows the batch table with its fixed row as
// the horizontal header (mode key and placeholders) and its fixed column as the vertical header
// (row numbers): table cell (r, c) with r, c >= 1 is grid cell (r - 1, c - 1).
class CsvBatchController : public QObject {
    Q_OBJECT
  public:
    CsvBatchController(const CsvBatchControls& controls, const CsvBatchServices& services,
                       QObject* parent = nullptr);

    // Connects the buttons' clicks to the flows below and watches mouse releases on
    // AutofillServerPathChkbox.
    void Connect();

    void LoadCsvFileButtonClick();
    void SaveCsvFileButtonClick();
    void AddCsvRowButtonClick();
    // A mouse button was released on AutofillServerPathChkbox: when the chosen built-in server
    // does not run, "LCsvError3" (HTTP) or "LCsvError8" (TFTP) is shown and the box unchecked.
    void AutofillServerPathChkboxMouseUp();
    void CfgBatchButtonClick();
    void CfgBatchToServerButtonClick();
    // The template part of showing the page: an empty parameter set is loaded from the model's
    // template (workDir/models/<model>/$devCfg.bin, or workDir/default/$cfg.bin for a blank name).
    void CsvBatchTabShow(const QString& modelName);

    // The grid's content as a batch table, and a batch table shown in the grid.
    static BatchTable ReadBatchTable(const QTableWidget& grid);
    static void ShowBatchTable(QTableWidget& grid, const BatchTable& table);
    // The grid at start: the empty five-column, two-row table, columns 120 wide.
    static void InitBatchTable(QTableWidget& grid);

    // A run that lasts longer than progressDelayMs shows a progress window, updated every
    // progressIntervalMs while the window keeps painting.
    int progressDelayMs = 500;
    int progressIntervalMs = 100;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    BatchMode mode() const;
    ServerProtocol protocol() const;
    bool scrambled() const;
    // With XML files: true when the key holds hexadecimal digits only, or the user goes on with
    // one that does not ("LXmlKeyNotHex": the key ends at the first other character).
    bool xmlKeyAccepted(const QString& key);
    void run(const QString& folder, BatchDestination destination);
    void progress(int done, int total, qint64 elapsedMs, const QString& title,
                  QProgressDialog** dialog);
    void showUnfilled(const UnfilledPlaceholders& unfilled);

    CsvBatchControls c_;
    CsvBatchServices s_;
};
