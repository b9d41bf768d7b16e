#pragma once

#include "discovery/DeviceCommand.h"
#include "record/RecordEvents.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

class MyLog;
class NoticeGate;
class ProvisioningRecord;

// One selected grid row: its row number, address (column 4) and MAC text (column 5).
struct SelectedDevice {
    int row = 0;
    QByteArray address;
    QByteArray mac;
};

struct ProvisionOptions {
    enum class Mode { None, Mac, Pin } mode = Mode::Mac;  // ProvisionModeMacRb / ProvisionModePinRb
    bool builtInServer = true;                       // HttpServerBuiltinRb (else HttpServerExRb)
    ServerProtocol protocol = ServerProtocol::Http;  // BuiltinProtocolCB
    bool builtInServerActive = false;                // the built-in server of that protocol runs
    QString storedHttpMode;                          // [HTTP SERVER] mode as stored in the settings
    QByteArray interfaceText;                        // InterfaceForServerCB's text
    QByteArray portText;     // MyHttpServerPort's text (MyTftpServerPort's for TFTP)
    QByteArray externalUrl;  // ExHttpServerEdiit's text
    UrlAccess access;        // HTTPS and credentials of the built-in HTTP server
    int phonePort = 60000;
    // Where each NOTIFY sent is recorded (none: not recorded), and as what.
    ProvisioningRecord* record = nullptr;
    RecordEvent::Kind recordKind = RecordEvent::Kind::Provision;
};

// Provision (and Upgrade, which does the same): tells every selected phone by a ua-profile
// NOTIFY where its configuration is, logging one line per phone. Gives the message key of the
// first failed check ("LDDProError1" to "LDDProError4"; "LDDProError5" when the built-in TFTP
// server is chosen and not running), or an empty text.
QString ProvisionDevices(const std::vector<SelectedDevice>& selection,
                         const ProvisionOptions& options, MyLog* log);

// Refresh: an online check to every selected phone; the answers come back as
// RefreshResultNotice. Gives "LDDProError1" or "LDDProError2", or an empty text.
QString RefreshDevices(const std::vector<SelectedDevice>& selection,
                       std::shared_ptr<NoticeGate> notices, int phonePort = 60000,
                       ProvisioningRecord* record = nullptr);
