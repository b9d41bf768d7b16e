#pragma once

#include "discovery/DiscoveryRecords.h"

#include <QByteArray>
#include <QString>
#include <memory>

class NoticeGate;

// The SIP probe of one found device: one "check-online" NOTIFY to its port, one answer awaited
// for up to 10 seconds, and DeviceInfoNotice with the model and version of the answer's
// User-Agent (or a record without information). It frees itself when it ends.
class QueryDevInfoBySipThread : public std::enable_shared_from_this<QueryDevInfoBySipThread> {
  public:
    static constexpr int kAnswerWaitMs = 10000;

    static std::shared_ptr<QueryDevInfoBySipThread> Create(int row, int port,
                                                           const QString& address,
                                                           std::shared_ptr<NoticeGate> notices);
    // The run the probe belongs to, returned in its record.
    void SetRun(uint32_t run) { run_ = run; }
    // For tests: a shorter wait than kAnswerWaitMs.
    void SetAnswerWait(int ms) { waitMs_ = ms; }
    void Start();

    // The probe message for a device at address:port.
    static QByteArray ComposeMessage(const QString& address, int port);
    // Model and version from an answer. False when it holds no "User-Agent".
    static bool ParseReply(const QByteArray& reply, QString* model, QString* version);

  private:
    QueryDevInfoBySipThread() = default;
    void Run();

    QString address_;
    QByteArray message_;
    QByteArray reply_;
    int port_ = 0;
    int row_ = 0;
    uint32_t run_ = 0;
    int waitMs_ = kAnswerWaitMs;
    std::shared_ptr<NoticeGate> notices_;
};
