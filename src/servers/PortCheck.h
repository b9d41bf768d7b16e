#pragma once

#include <QString>

// A port text of the servers page, checked by the rule of its server: trimmed of blanks, digits
// only, a number in the server's range.
struct PortCheck {
    QString text;      // the trimmed text
    int port = 0;      // its value, valid when errorKey is empty
    QString errorKey;  // why it is refused (not digits, out of range); empty when it is taken

    bool ok() const { return errorKey.isEmpty(); }
};

// The built-in HTTP server's port: digits only ("LHttpPortError1"), 1025 to 65525
// ("LHttpPortError2").
PortCheck CheckHttpServerPort(const QString& portText);
// The same rule for the plug-and-play port: "LPnpPortError1" or "LPnpPortError2".
PortCheck CheckPnpServerPort(const QString& portText);
// The TFTP server's port: digits only ("LTftpPortError1"), 1 to 65535 ("LTftpPortError2").
PortCheck CheckTftpServerPort(const QString& portText);
