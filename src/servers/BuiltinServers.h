#pragma once

#include "dhcp/DhcpServer.h"
#include "servers/MyHttpServer.h"
#include "servers/MyTftpServer.h"

#include <QList>
#include <QString>
#include <QStringList>

class MyLog;
class ProvisioningRecord;
struct PreparedProtection;

// The built-in servers of the window and of orvo-cli serve, built one way: the HTTP server and
// the TFTP server over one document root, and the bench DHCP server that hands out their URL;
// the protection, the files never served, the record and the log applied to them alike. For one
// controlling thread (the main thread).
class BuiltinServers {
  public:
    // log: the window's log (none for orvo-cli, which prints the lines it observes);
    // dhcpFolder: where the DHCP server keeps its state.
    BuiltinServers(const QString& documentRoot, MyLog* log, const QString& dhcpFolder);
    ~BuiltinServers();  // stops them all
    BuiltinServers(const BuiltinServers&) = delete;
    BuiltinServers& operator=(const BuiltinServers&) = delete;

    MyHttpServer& Http() { return http_; }
    MyTftpServer& Tftp() { return tftp_; }
    DhcpServer& Dhcp() { return dhcp_; }

    // Set while the servers are stopped:
    // Where every server's log lines also go.
    void SetLineObserver(const ServerLineObserver& observer);
    // The record every download and every lease goes to; none: not recorded.
    void SetRecord(ProvisioningRecord* record);
    // Files neither server ever serves, beside the TLS key (the settings that hold the password,
    // the key files, a credentials file).
    void SetWithheldFiles(const QStringList& files);

    // Starts the HTTP server with the protection (the access rules; HTTPS with its pair when
    // prepared so), then logs "Built-in HTTP Server started! Port: N" and the lines that tell
    // how it is protected. Throws as MyHttpServer::Start.
    void StartHttp(quint16 port, const QString& bindAddress, const PreparedProtection& protection);
    // Stops it with the line "Built-in HTTP Server stopped!"; nothing when it is not running.
    void StopHttp();
    // The same for the TFTP server, which takes the protection's allow-list.
    void StartTftp(quint16 port, const QString& bindAddress, const PreparedProtection& protection);
    void StopTftp();
    // The DHCP server first (it hands out the others' URL), then the HTTP and TFTP servers.
    void StopAll();

  private:
    void log(const QByteArray& line) const;
    // "Built-in <name> Server started! Port: N", then the lines that tell its protection.
    void started(const ServerRuntime& server, const char* name,
                 const QList<QByteArray>& protectionLines) const;
    // Stops it with "Built-in <name> Server stopped!"; nothing when it is not running.
    void stop(ServerRuntime& server, const char* name);

    MyLog* log_;
    ServerLineObserver lineObserver_;
    MyHttpServer http_;
    MyTftpServer tftp_;
    DhcpServer dhcp_;
};
