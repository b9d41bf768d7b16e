#pragma once

#include <QByteArray>

// The protocol of the built-in server whose URL phones are told.
enum class ServerProtocol { Http, Tftp };
// Which server phones are told: the built-in one, or the external server's URL as typed.
enum class ServerSource { BuiltIn, External };

// How phones reach the built-in HTTP server beyond its address and port: over HTTPS, and with
// the credentials it asks for (both empty: none).
struct UrlAccess {
    bool https = false;
    QByteArray user;
    QByteArray password;
};

// The configuration URL phones are told: the built-in server's folder (by default "/cfg"),
// scheme + user info + interface text + ":" + port text trimmed + folder, or the external URL
// trimmed. The scheme is "tftp://" for TFTP, else "https://" or "http://" as access says; user
// info "user:password@" when access has credentials (HTTP and HTTPS only), each percent-encoded
// but for the unreserved characters of URLs. portText is the port of the protocol's server.
QByteArray ConfigServerUrl(ServerSource source, const QByteArray& interfaceText,
                           const QByteArray& portText, const QByteArray& externalUrl,
                           ServerProtocol protocol = ServerProtocol::Http,
                           const UrlAccess& access = {}, const char* folder = "/cfg");

// The URL as log lines and the record show it, its user information masked. When the text
// between "//" and the first "/", "?" or "#" is a host with an optional numeric port, the URL
// has none; otherwise the user information runs up to the URL's last "@" (a password typed
// without percent-encoding may hold "/"). Of "user:password" the password is written "***",
// a user name alone (a token) is written "***" as a whole.
QByteArray UrlWithoutPassword(const QByteArray& url);

// Whether text is a host name: labels of letters, digits and hyphens (1 to 63 characters, no
// hyphen first or last) joined by dots, at most 253 characters, the last label not all digits
// (such a text is meant as an address).
bool IsHostName(const QString& text);
