#include "config/CfgFileEncryptThread.h"

#include "app/Notices.h"
#include "app/Workers.h"
#include "config/BulkEncrypt.h"

CfgFileEncryptThread::CfgFileEncryptThread(NoticeTransport* transport, QObject* parent)
    : QThread(parent), transport_(transport) {
    setObjectName("CfgFileEncryptThread");
}

CfgFileEncryptThread::~CfgFileEncryptThread() {
    wait();
}

void CfgFileEncryptThread::report(int code, int row) {
    const Tag_ToolStatusReport record{row};
    transport_->Send(code, &record);
}

void CfgFileEncryptThread::run() {
    QByteArray key = key_;
    if (!key.isEmpty() && key.size() % 2 != 0)
        key += '0';
    if (!files_) {
        report(ToolStatusFinished, 0);
        return;
    }
    if (outputDir_.isEmpty() || files_->size() <= startRow_) {
        report(ToolStatusRefused, -1);
        return;
    }
    for (int row = startRow_; row < files_->size(); ++row) {
        if (isInterruptionRequested() || Workers::StopRequested())
            return;
        const CfgEncryptOutcome outcome =
            EncryptCfgFile(files_->at(row), outputDir_, key, overwrite_);
        report(ToolStatusOf(outcome), row);
    }
    report(ToolStatusFinished, 0);
}
