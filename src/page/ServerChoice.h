#pragma once

#include "app/ServerUrl.h"

#include <QString>

// The server whose URL phones are told, as the Servers page has it chosen: what the other pages
// ask for instead of reading that page's controls.
struct ServerChoice {
    bool builtIn = true;                             // the built-in server, else the external one
    ServerProtocol protocol = ServerProtocol::Http;  // the built-in server's protocol
    QString address;       // the server address chosen (the interface list's text)
    QString firstAddress;  // the first address of the interface list
    QString portText;      // the port text of the built-in server of that protocol
    QString externalUrl;   // the external server's URL as typed
    bool running = false;  // the built-in server of that protocol runs
    UrlAccess access;      // HTTPS and the credentials of the built-in HTTP server

    // The configuration URL phones are told, as plug-and-play hands it out.
    QByteArray Url() const {
        return ConfigServerUrl(builtIn ? ServerSource::BuiltIn : ServerSource::External,
                               address.toLatin1(), portText.toLatin1(), externalUrl.toUtf8(),
                               protocol, access);
    }
};
