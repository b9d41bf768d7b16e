#pragma once

#include "app/Dialogs.h"
#include "dhcp/DhcpLease.h"
#include "dhcp/DhcpSettings.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class MyLog;

// The DHCP server: dnsmasq run as a child process, DHCP only (its DNS off), on the one
// interface of the plan, with a configuration written from the plan and the handout at each
// start (its own file, so that no system configuration is read). Its state lives in one folder:
// the configuration, the lease file (so that a phone keeps its address across restarts), the
// lease script and the named pipe through which the script hands each lease change over.
// dnsmasq ends with the server, and with the program however it ends (a parent-death signal);
// it gets its own process group, so that a terminal's Ctrl-C reaches only the program.
// Start, Stop and the setters are for one controlling thread.
class DhcpServer {
  public:
    using LineObserver = std::function<void(const QByteArray& message)>;
    // dnsmasq ended while the server ran (not through Stop): the one line that says why. On
    // the server's own thread; it must return at once.
    using EndObserver = std::function<void(const QByteArray& reason)>;

    // folder: where the state is kept (made when missing).
    explicit DhcpServer(const QString& folder, MyLog* log = nullptr);
    ~DhcpServer();  // stops the server
    DhcpServer(const DhcpServer&) = delete;
    DhcpServer& operator=(const DhcpServer&) = delete;

    // Set while stopped.
    void SetLineObserver(LineObserver observer);
    void SetLeaseObserver(DhcpLeaseObserver observer);
    void SetEndObserver(EndObserver observer);
    // The dnsmasq program ("dnsmasq" looked up in PATH and /usr/sbin unless set).
    void SetProgram(const QString& path);
    // How long Start waits for dnsmasq to serve (5 s unless set).
    void SetStartWait(int ms);

    // Whether a start can succeed at all: "LDhcpError9" when dnsmasq is missing, "LDhcpError8"
    // when the privileges are missing, each with one log line; empty when it can.
    UiText CheckCanStart() const;
    // Starts dnsmasq and waits until it serves or has failed. Empty on success; otherwise one
    // line: "LDhcpError9" dnsmasq is missing, "LDhcpError8" the privileges are missing,
    // "LDhcpError11" the URL cannot be handed out, "LDhcpError12" and dnsmasq's own reason
    // (or the folder's) when it did not start. A refusal or failure writes one log line.
    // Does nothing while running.
    UiText Start(const DhcpPlan& plan, const DhcpHandout& handout);
    // Ends dnsmasq (SIGTERM, SIGKILL after 3 s) and waits for it.
    void Stop();
    bool IsRunning() const;
    // dnsmasq's process id while it runs, 0 otherwise.
    qint64 ProcessId() const;
    QString Folder() const;
    // The program Start would run; empty when there is none.
    QString ProgramPath() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The dnsmasq configuration of a plan and handout, its state kept in folder.
QByteArray DnsmasqConfiguration(const DhcpPlan& plan, const DhcpHandout& handout,
                                const QString& folder);

// Whether this process may run a DHCP server (and its probe): root, or the capabilities
// cap_net_bind_service, cap_net_raw and cap_net_admin in its effective set.
bool HasDhcpPrivileges();
