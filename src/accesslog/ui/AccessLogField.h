#pragma once

#include "accesslog/LogFollowWorker.h"
#include "page/AppContext.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

// The access log of the external web server, as the servers page offers it while "External
// Server" is chosen: "Access log:", the log's path, "..." to choose it, and the state of its
// follower, which reads it into the window's provisioning record on a thread of its own (see
// LogFollowWorker), each line once also with other followers of the same log. Two lines high;
// the path and the state take the width given.
class AccessLogField : public QWidget {
    Q_OBJECT
  public:
    AccessLogField(const AppContext& ctx, QWidget* parent);
    // Stops the follower.
    ~AccessLogField() override;

    QLabel* AccessLogLabel;
    QLineEdit* AccessLogEdit;
    QPushButton* AccessLogBtn;
    QLabel* AccessLogStateLabel;

    // The path from [ACCESS LOG] path, and back.
    void ReadSettings(const SettingsStore& settings);
    void WriteSettings(SettingsStore& settings) const;

    // Follows the log of the field into the window's record, the lines of the files below the
    // path of externalUrl (the URL phones are told); follows it anew when the field changes,
    // until Stop (asked again for the same, it reads on). An empty field follows nothing. Not
    // followed, the state telling why: recording off, a URL whose path no log line names.
    void Follow(const QByteArray& externalUrl);
    void Stop();
    bool IsFollowing() const { return worker_.IsRunning(); }
    // The state and tool-tip in the language in force.
    void Translate();

    // A file dialog for the log; a chosen one is followed at once when following is asked.
    void AccessLogBtnClick();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    enum class Status { Idle, RecordOff, BadUrl, Following };
    void placeControls();
    void start();
    void reported(const LogFollowReport& report);
    void showState();

    const AppContext& ctx_;
    LogFollowWorker worker_;
    bool wanted_ = false;  // Follow asked, Stop not
    QByteArray url_;
    QString followed_;  // the path being followed
    Status status_ = Status::Idle;
    LogFollowReport report_;
};
