#include "discovery/QueryDevInfoBySipThread.h"

#include "app/InterfaceTable.h"
#include "app/Notices.h"
#include "discovery/NoticeGate.h"
#include "discovery/ThreadName.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    static const QByteArray kHeader = "User-Agent";
    const qsizetype at = reply.indexOf(kHeader);
    if (at < 0)
        return false;
    qsizetype start = at + kHeader.size() + 1;  // the name and the character after it
    while (start < reply.size() && reply[start] == ' ')
        ++start;
    qsizetype end = start;
    while (end < reply.size() && reply[end] != '\r' && reply[end] != '\n')
        ++end;
    const QByteArray value = start < end ? reply.mid(start, end - start) : QByteArray();

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

bool QueryDevInfoBySipThread::Exchange() {
    uint32_t target = 0;
    if (!ParseIpv4(address_, &target) || port_ <= 0 || port_ > 65535)
        return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = htonl(target);
    remote.sin_port = htons(static_cast<uint16_t>(port_));
    // Connected, so only an answer from the device itself is taken.
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 ||
        send(fd, message_.constData(), static_cast<size_t>(message_.size()), 0) !=
            message_.size()) {
        close(fd);
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs_) == 1 && (p.revents & POLLIN)) {
        QByteArray buffer(65536, Qt::Uninitialized);
        const ssize_t n = recv(fd, buffer.data(), static_cast<size_t>(buffer.size()), 0);
        if (n > 0)
            reply_ = buffer.left(n);
    }
    close(fd);
    return true;
}

void QueryDevInfoBySipThread::Run() {
    NameCurrentThread("QueryDevInfoBySipThread");
    message_ = ComposeMessage(address_, port_);
    if (!Exchange())
        return;
    DeviceInfoRecord record;
    record.hasInfo = ParseReply(reply_, &record.model, &record.version);
    record.row = row_;
    record.run = run_;
    notices_->Send(DeviceInfoNotice, &record);
}
