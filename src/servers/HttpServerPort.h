#pragma once

#include <QString>

// The port text of the built-in server's page, checked: trimmed of blanks, digits only, a
// number from 1025 to 65525.
struct HttpServerPortCheck {
    QString text;      // the trimmed text
    int port = 0;      // its value, valid when errorKey is empty
    QString errorKey;  // "LHttpPortError1" (not digits), "LHttpPortError2" (out of range) or empty

    bool ok() const { return errorKey.isEmpty(); }
};

HttpServerPortCheck CheckHttpServerPort(const QString& portText);
// The same rule for the plug-and-play port: "LPnpPortError1" or "LPnpPortError2".
HttpServerPortCheck CheckPnpServerPort(const QString& portText);
// The TFTP server's port: digits only ("LTftpPortError1"), 1 to 65535 ("LTftpPortError2").
HttpServerPortCheck CheckTftpServerPort(const QString& portText);
