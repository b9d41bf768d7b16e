#include "servers/BuiltinServers.h"

#include "app/MyLog.h"
#include "protection/ServerProtection.h"
#include "record/ProvisioningRecord.h"

BuiltinServers::BuiltinServers(const QString& documentRoot, MyLog* log, const QString& dhcpFolder)
    : log_(log), http_(documentRoot, log), tftp_(documentRoot, log), dhcp_(dhcpFolder, log) {}

BuiltinServers::~BuiltinServers() {
    StopAll();
}

void BuiltinServers::SetLineObserver(const ServerLineObserver& observer) {
    lineObserver_ = observer;
    http_.SetLineObserver(observer);
    tftp_.SetLineObserver(observer);
    dhcp_.SetLineObserver(observer);
}

void BuiltinServers::SetRecord(ProvisioningRecord* record) {
    const FetchObserver observer = record ? record->Observer() : FetchObserver();
    http_.SetFetchObserver(observer);
    tftp_.SetFetchObserver(observer);
    if (!record) {
        dhcp_.SetLeaseObserver({});
        return;
    }
    dhcp_.SetLeaseObserver([record](const DhcpLease& lease) {
        // A release or an expiry ended the lease now.
        const bool ended =
            lease.kind == DhcpLease::Kind::Release || lease.kind == DhcpLease::Kind::Expire;
        const qint64 endMs = ended ? RecordNowMs() : qint64(lease.leaseEnd) * 1000;
        record->Add(
            RecordLeaseEvent(lease.mac, lease.address, lease.hostName, lease.vendorClass, endMs));
    });
}

void BuiltinServers::SetWithheldFiles(const QStringList& files) {
    http_.SetWithheldFiles(files);
    tftp_.SetWithheldFiles(files);
}

void BuiltinServers::log(const QByteArray& line) const {
    if (log_)
        log_->Write(line);
    if (lineObserver_)
        lineObserver_(line);
}

void BuiltinServers::started(const ServerRuntime& server, const char* name,
                             const QList<QByteArray>& protectionLines) const {
    log(QByteArray("Built-in ") + name +
        " Server started! Port: " + QByteArray::number(server.Port()));
    for (const QByteArray& line : protectionLines)
        log(line);
}

void BuiltinServers::stop(ServerRuntime& server, const char* name) {
    if (!server.IsActive())
        return;
    server.Stop();
    log(QByteArray("Built-in ") + name + " Server stopped!");
}

void BuiltinServers::StartHttp(quint16 port, const QString& bindAddress,
                               const PreparedProtection& protection) {
    if (http_.IsActive())
        return;
    http_.SetAccess(protection.access);
    http_.SetTls(protection.https ? protection.tls.certFile : QString(),
                 protection.https ? protection.tls.keyFile : QString());
    http_.Start(port, bindAddress);
    started(http_, "HTTP", HttpProtectionLines(protection));
}

void BuiltinServers::StopHttp() {
    stop(http_, "HTTP");
}

void BuiltinServers::StartTftp(quint16 port, const QString& bindAddress,
                               const PreparedProtection& protection) {
    if (tftp_.IsActive())
        return;
    tftp_.SetAccess(protection.access);
    tftp_.Start(port, bindAddress);
    started(tftp_, "TFTP", TftpProtectionLines(protection));
}

void BuiltinServers::StopTftp() {
    stop(tftp_, "TFTP");
}

void BuiltinServers::StopAll() {
    dhcp_.Stop();
    StopHttp();
    StopTftp();
}
