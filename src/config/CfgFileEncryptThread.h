#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>
#include <optional>

class NoticeTransport;

// The record of every ToolStatus* notice: the row the code belongs to (-1 for a refused run,
// 0 for the end of the run).
struct Tag_ToolStatusReport {
    int row = 0;
};

// One bulk encryption run on its own thread, named "CfgFileEncryptThread". Configure it
// through the setters, then start() it. For each row of the input list it reports the row's
// status (ToolStatusLoadErr ... ToolStatusSkipped) through the transport, which blocks until
// the main thread has handled it; then ToolStatusFinished (row 0). A run without an output
// folder or without rows reports ToolStatusRefused (row -1) instead.
//
// The thread does not free itself: its owner deletes it once finished() is emitted (or after
// wait()), so it can never report to a transport that is gone. The transport must outlive it.
// requestInterruption() (or the shutdown's Workers::StopAll) makes it stop after the file in
// hand, without a final report.
class CfgFileEncryptThread : public QThread {
    Q_OBJECT
  public:
    explicit CfgFileEncryptThread(NoticeTransport* transport, QObject* parent = nullptr);
    ~CfgFileEncryptThread() override;

    void SetOutputDir(const QString& dir) { outputDir_ = dir; }
    // The trimmed key text; empty skips XML files.
    void SetKey(const QByteArray& key) { key_ = key; }
    // The input paths: a copy of the grid's column 1, entry 0 being the header cell.
    void SetFileList(const QStringList& column) { files_ = column; }
    // Begin at entry 1 (skipping the header) instead of entry 0.
    void SetStartFromRowOne(bool fromRowOne) { startRow_ = fromRowOne ? 1 : 0; }
    void SetOverwrite(bool overwrite) { overwrite_ = overwrite; }

  protected:
    void run() override;

  private:
    void report(int code, int row);

    NoticeTransport* transport_;
    QString outputDir_;
    QByteArray key_;
    std::optional<QStringList> files_;
    int startRow_ = 0;
    bool overwrite_ = false;
};
