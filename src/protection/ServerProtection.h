#pragma once

#include "app/Dialogs.h"
#include "app/ServerUrl.h"
#include "protection/ServerAccess.h"
#include "protection/TlsCertificate.h"

#include <QString>
#include <memory>

class SettingsStore;

// The protection of the built-in servers as the servers page and orvo-cli serve give it; every
// part off by default.
struct ServerProtection {
    bool https = false;
    QString certFile;  // certFile and keyFile both empty: the self-signed pair in ini/tls
    QString keyFile;
    QString allowText;  // the address allow-list; empty: every client
    QString user;       // user and password both empty: no credentials
    QString password;

    // How the URLs handed to phones reach the HTTP server.
    UrlAccess Url() const;
};

// [HTTP SERVER] https, tls_cert, tls_key, allow, auth_user and auth_password. Writing adds the
// keys a settings file of an earlier version lacks, and marks the file private while it holds
// a password.
ServerProtection ReadServerProtection(const SettingsStore& settings);
void WriteServerProtection(SettingsStore& settings, const ServerProtection& protection);

// The protection checked and made ready for the servers.
struct PreparedProtection {
    // Null when neither an allow-list nor credentials are set.
    std::shared_ptr<ServerAccess> access;
    bool https = false;
    TlsFiles tls;                  // with https: the pair the server uses
    bool madeCertificate = false;  // the self-signed pair was made just now
    QByteArray fingerprint;        // with https: of the certificate
    UiText error;                  // why it cannot be used; empty when it can
};

// The allow-list and the credentials checked ("LAllowListError1" with the entry, or with the
// text when it holds separators only, "LAuthError1", "LAuthError2"); an access object when
// either is set. An empty or blank allow-list allows every client.
PreparedProtection PrepareAccess(const ServerProtection& protection);
// PrepareAccess, and with https the certificate: both files chosen ("LHttpsError1" when only one
// is), or the self-signed pair in tlsFolder kept or made for address and the others
// ("LHttpsError3" with the reason). The files are loaded only when the server starts.
PreparedProtection PrepareProtection(const ServerProtection& protection, const QString& tlsFolder,
                                     const QString& address, const QStringList& others);

// The log lines that tell how the started HTTP server is protected (none when it is not):
// "Built-in HTTP Server: HTTPS, certificate <file>, SHA-256 <fingerprint>" (after "made a
// self-signed certificate: <file>" when it was made), "Built-in HTTP Server:
// downloads allowed from <list>", "Built-in HTTP Server: credentials required, user <user>".
QList<QByteArray> HttpProtectionLines(const PreparedProtection& prepared);
// "Built-in TFTP Server: downloads allowed from <list>", or nothing.
QList<QByteArray> TftpProtectionLines(const PreparedProtection& prepared);
