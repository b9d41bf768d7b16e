#pragma once

#include "discovery/DeviceCommand.h"
#include "servers/SipPackAnalyser.h"

#include <QByteArray>
#include <optional>

class NoticeTransport;
class ProvisioningRecord;

// Where and how the plug-and-play answers point the phones.
struct PnpAnswerOptions {
    bool macMode = true;   // PnpModeMacRb
    bool pinMode = false;  // PnpModePinRb
    bool builtInServer = true;
    ServerProtocol protocol = ServerProtocol::Http;  // of the built-in server
    QByteArray interfaceText;                        // the shown text of the server interface list
    QByteArray portText;     // the built-in server's port text (of that protocol's server)
    QByteArray externalUrl;  // the external server's URL text
    UrlAccess access;        // HTTPS and credentials of the built-in HTTP server
};

// Answers every datagram of the plug-and-play group with a ua-profile NOTIFY to its sender's
// Via host and port. One responder (and its analyser) serves the whole program run.
class PnpResponder {
  public:
    // The NOTIFY that answers a datagram (sent to fields.address and fields.port) and its log
    // line.
    struct Reply {
        DeviceCommandFields fields;
        QByteArray logLine;
    };

    // Parses the datagram and builds its answer without sending it; nothing when neither mode
    // is chosen.
    std::optional<Reply> Compose(const QByteArray& datagram, const PnpAnswerOptions& options);
    // Parses the datagram, starts the NOTIFY and gives the log line; empty (and nothing sent)
    // when neither mode is chosen.
    QByteArray Answer(const QByteArray& datagram, const PnpAnswerOptions& options);

    const SipPackAnalyser& Analyser() const { return analyser_; }
    // Where each answer is recorded (none: not recorded).
    void SetRecord(ProvisioningRecord* record) { record_ = record; }

  private:
    SipPackAnalyser analyser_;
    ProvisioningRecord* record_ = nullptr;
};
