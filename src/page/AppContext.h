#pragma once

#include "app/Localization.h"
#include "page/ServerChoice.h"

#include <QString>
#include <functional>

class CfgTemplate;
class Dialogs;
class MyLog;
class NoticeTransport;
class ProvisioningRecord;
class SettingsStore;

// The servers whose states the window's top bar shows.
enum class ServerKind { Http, Pnp, Tftp, Dhcp };

// The long-lived objects of the main window, handed to its pages, and what a page may ask of
// the window or of another page. The window owns them all and outlives its pages.
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
    // The Servers page's choice of the server phones are told (the defaults until it exists).
    std::function<ServerChoice()> serverChoice = [] { return ServerChoice{}; };
    // Whether the built-in HTTP server is running (false until a server is attached).
    std::function<bool()> httpServerActive = [] { return false; };
    // The phone model chosen in the template bar.
    std::function<QString()> currentModel = [] { return QString(); };
    // A server's state in the window's top bar: its text, green while it runs.
    std::function<void(ServerKind, const QString& text, bool running)> showServerState =
        [](ServerKind, const QString&, bool) {};

    QString Translate(const QString& key) const { return localization->Translate(key); }
};
