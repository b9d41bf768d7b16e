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
}

void BuiltinServers::SetLeaseObserver(DhcpLeaseObserver observer) {
    dhcp_.SetLeaseObserver(std::move(observer));
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

void BuiltinServers::StartHttp(quint16 port, const QString& bindAddress,
                               const PreparedProtection& protection) {
    if (http_.IsActive())
        return;
    http_.SetAccess(protection.access);
    http_.SetTls(protection.https ? protection.tls.certFile : QString(),
                 protection.https ? protection.tls.keyFile : QString());
    http_.Start(port, bindAddress);
    log("Built-in HTTP Server started! Port: " + QByteArray::number(http_.Port()));
    for (const QByteArray& line : HttpProtectionLines(protection))
        log(line);
}

void BuiltinServers::StopHttp() {
    if (!http_.IsActive())
        return;
    http_.Stop();
    log("Built-in HTTP Server stopped!");
}

void BuiltinServers::StartTftp(quint16 port, const QString& bindAddress,
                               const PreparedProtection& protection) {
    if (tftp_.IsActive())
        return;
    tftp_.SetAccess(protection.access);
    tftp_.Start(port, bindAddress);
    log("Built-in TFTP Server started! Port: " + QByteArray::number(tftp_.Port()));
    for (const QByteArray& line : TftpProtectionLines(protection))
        log(line);
}

void BuiltinServers::StopTftp() {
    if (!tftp_.IsActive())
        return;
    tftp_.Stop();
    log("Built-in TFTP Server stopped!");
}

void BuiltinServers::StopAll() {
    dhcp_.Stop();
    StopHttp();
    StopTftp();
}
