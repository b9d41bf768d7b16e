#include "discovery/QueryDevInfoBySipThread.h"

#include "app/Notices.h"
#include "app/ThreadName.h"
#include "app/UdpExchange.h"
#include "discovery/DeviceCommand.h"

#include <system_error>
#include <thread>

std::shared_ptr<QueryDevInfoBySipThread> QueryDevInfoBySipThread::Create(
    int row, int port, const QString& address, std::shared_ptr<NoticeGate> notices) {
    std::shared_ptr<QueryDevInfoBySipThread> query(new QueryDevInfoBySipThread);
    query->row_ = row;
    query->port_ = port;
    query->address_ = address;
    query->notices_ = std::move(notices);
    return query;
}

void QueryDevInfoBySipThread::Start() {
    try {
        std::thread([self = shared_from_this()] { self->Run(); }).detach();
    } catch (const std::system_error&) {
        // No thread, no probe: the run ends by the driver's timer.
    }
}

QByteArray QueryDevInfoBySipThread::ComposeMessage(const QString& address, int port) {
    return "NOTIFY sip:0000@0.0.0.0:0000;transport=UDP SIP/2.0 \r\n"
           "Via: SIP/2.0/UDP \r\n"
           "To: <sip:0000@" +
           address.toLatin1() + ":" + QByteArray::number(port) +
           "> \r\n"
           "From: <sip:0000@192.168.0.1:0000>;\r\n"
           "CSeq: 1 NOTIFY \r\n"
           "Max-Forwards: 70 \r\n"
           "Allow: INVITE,ACK,CANCEL,BYE,MESSAGE \r\n"
           "Event: check-online; \r\n"
           "Content-Type: application/url \r\n"
           "Content-Length: 0 \r\n\r\n";
}

bool QueryDevInfoBySipThread::ParseReply(const QByteArray& reply, QString* model,
                                         QString* version) {
    QByteArray value;
    if (!FindUserAgentValue(reply, &value))
        return false;

    // The last word with a full stop is the version; the model is what stands before it.
    *model = kUnknown;
    *version = kUnknown;
    qsizetype wordEnd = value.size();
    while (wordEnd > 0) {
        while (wordEnd > 0 && value[wordEnd - 1] == ' ')
            --wordEnd;
        qsizetype wordStart = wordEnd;
        while (wordStart > 0 && value[wordStart - 1] != ' ')
            --wordStart;
        if (wordStart == wordEnd)
            break;
        const QByteArray word = value.mid(wordStart, wordEnd - wordStart);
        if (word.contains('.')) {
            *version = QString::fromUtf8(word);
            qsizetype modelEnd = wordStart;
            while (modelEnd > 0 && value[modelEnd - 1] == ' ')
                --modelEnd;
            if (modelEnd > 0)
                *model = QString::fromUtf8(value.left(modelEnd));
            break;
        }
        wordEnd = wordStart;
    }
    return true;
}

void QueryDevInfoBySipThread::Run() {
    NameCurrentThread("QueryDevInfoBySipThread");
    message_ = ComposeMessage(address_, port_);
    if (!UdpExchange(address_.toLatin1(), port_, message_, waitMs_, &reply_))
        return;
    DeviceInfoRecord record;
    record.hasInfo = ParseReply(reply_, &record.model, &record.version);
    record.row = row_;
    record.run = run_;
    notices_->Send(DeviceInfoNotice, &record);
}
