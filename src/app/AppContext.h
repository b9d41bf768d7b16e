#pragma once

#include "app/Localization.h"
#include "app/ServerUrl.h"

#include <QObject>
#include <QString>
#include <functional>

class CfgTemplate;
class Dialogs;
class MyLog;
class NoticeTransport;
class ProvisioningRecord;
class SettingsStore;

// The long-lived objects of the main window, handed to its pages. The window owns them all
// and outlives its pages.
struct AppContext {
    // The working directory, captured once at start; empty when it could not be determined.
    QString workDir;
    SettingsStore* settings = nullptr;
    Localization* localization = nullptr;
    MyLog* log = nullptr;
    Dialogs* dialogs = nullptr;
    CfgTemplate* cfg = nullptr;
    NoticeTransport* notices = nullptr;
    // The provisioning record (always there; it may be off).
    ProvisioningRecord* record = nullptr;
    // The main window: controls of other pages are found by name with findChild.
    QObject* window = nullptr;
    // Whether the built-in HTTP server is running (false until a server is attached).
    std::function<bool()> httpServerActive = [] { return false; };
    // Whether the built-in TFTP server is running.
    std::function<bool()> tftpServerActive = [] { return false; };
    // HTTPS and the credentials of the built-in HTTP server, for the URLs handed to phones.
    std::function<UrlAccess()> httpUrlAccess = [] { return UrlAccess{}; };

    QString Translate(const QString& key) const { return localization->Translate(key); }
    template <typename T>
    T* Control(const char* name) const {
        return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
};
