#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class CfgFileEncryptThread;
class Dialogs;
class NoticeTransport;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The controls of the group ToolEncryptGB.
struct ToolEncryptControls {
    QLineEdit* outputDirEdit = nullptr;    // ToolOutputDirEdit
    QPushButton* outputDirBtn = nullptr;   // ToolOutputDirBtn
    QPushButton* inputFileBtn = nullptr;   // ToolInputFileBtn
    QLineEdit* keyEdit = nullptr;          // ToolXmlEncryptKeyEdit
    QPushButton* encryptBtn = nullptr;     // ToolEncryptBtn
    QCheckBox* overwriteChkB = nullptr;    // ToolEncryptOwChkB
    QTableWidget* fileListGrid = nullptr;  // ToolEncryptFileListGrid: 3 columns
};

// The bulk encryption of the Tools page: choosing files and the output folder, starting a run
// on a CfgFileEncryptThread and showing each row's status as the worker reports it.
//
// The constructor connects the clicks of ToolInputFileBtn, ToolOutputDirBtn and ToolEncryptBtn
// to the handlers below, puts the status drawing on column 2 of the grid, disables
// ToolEncryptBtn and takes the ToolStatus* notices of the transport. Grid row r (from 0) is
// the worker's row r + 1; column 1 holds the path, column 2 the status code.
//
// The controls and the transport must outlive the controller. The controller owns the running
// worker and frees it when its run has ended; destroyed mid-run, it stops the worker after the
// file in hand and waits for it (handling notices meanwhile, without touching a control).
class ToolEncryptController : public QObject {
    Q_OBJECT
  public:
    using TranslateFn = std::function<QString(const QString&)>;

    ToolEncryptController(const ToolEncryptControls& controls, Dialogs& dialogs,
                          TranslateFn translate, NoticeTransport& notices,
                          QObject* parent = nullptr);
    ~ToolEncryptController() override;

    // Every showing of the page: column widths 40, 360, 120 the first time, header texts
    // "LToolE_File" and "LToolE_Status" every time.
    void ToolTabShow();
    void ToolInputFileBtnClick();
    void ToolOutputDirBtnClick();
    void ToolEncryptBtnClick();

    // From the start of a run until its last report has been handled.
    bool IsRunning() const { return running_; }

    static constexpr char kInputFilter[] =
        "Cfg files (*.bin, *.xml)|*.bin;*.xml|All files (*.*)|*.*";

  private:
    void onReport(int code, int row);
    void setControlsEnabled(bool enabled);
    void endRun();
    void freeWorker();

    ToolEncryptControls c_;
    Dialogs& dialogs_;
    TranslateFn translate_;
    NoticeTransport& notices_;
    std::unique_ptr<CfgFileEncryptThread> worker_;
    int runNumber_ = 0;
    bool running_ = false;
    bool shownOnce_ = false;
};
