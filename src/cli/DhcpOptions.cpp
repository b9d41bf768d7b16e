#include "cli/DhcpOptions.h"

#include "app/InterfaceTable.h"
#include "dhcp/DhcpProbe.h"
#include "dhcp/DhcpServer.h"
#include "dhcp/DhcpSettings.h"

#include <QDir>
#include <QStringList>
#include <cstring>

namespace {

const char kCommand[] = "serve";

// The refusals in words, "KEY: what is wrong" followed by the value.
QString worded(const UiText& error) {
    return error.render([](const QString& key) -> QString {
        static const std::map<QString, QString> texts = {
            {"LDhcpError1",
             "--dhcp-range must be FIRST-LAST, two IPv4 addresses, the first not "
             "above the last:"},
            {"LDhcpError2",
             "--dhcp-range needs --bind with an address of a network interface "
             "of this computer (not a loopback one):"},
            {"LDhcpError3",
             "--dhcp-range must lie among the host addresses of the --bind "
             "address's network:"},
            {"LDhcpError4", "--dhcp-range holds the server's own address:"},
            {"LDhcpError5", "--dhcp-lease must be a number of seconds from 120 to 31536000:"},
            {"LDhcpError6",
             "--dhcp-router must be an IPv4 address of the --bind address's "
             "network:"},
            {"LDhcpError7", "--dhcp-dns must be one or two IPv4 addresses joined by a comma:"},
            {"LDhcpError8",
             "the DHCP server needs root or the capabilities "
             "cap_net_bind_service, cap_net_raw and cap_net_admin (setcap "
             "cap_net_bind_service,cap_net_raw,cap_net_admin+ep on orvo-cli)"},
            {"LDhcpError9", "the DHCP server needs dnsmasq (package dnsmasq-base)"},
            {"LDhcpError11", "this URL cannot go into a DHCP option:"},
            {"LDhcpError12", "the DHCP server did not start:"},
        };
        const auto it = texts.find(key);
        return key + ": " + (it == texts.end() ? QString() : it->second);
    });
}

QString addressList(const std::vector<uint32_t>& addresses) {
    QStringList texts;
    for (const uint32_t a : addresses)
        texts << Ipv4Text(a);
    return texts.join(", ");
}

}  // namespace

QString CliDhcpFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return {};
        data = home + "/.local/share";
    }
    return data + "/orvo-provision-tool/dhcp";
}

std::vector<CliOption> DhcpServeOptions() {
    return {
        {"dhcp-range", "FIRST-LAST",
         "also serve DHCP on the --bind address's interface, handing out these addresses and "
         "the built-in server's URL (options 66, 160; 150 with the TFTP server)"},
        {"dhcp-lease", "SECONDS", "the lease time, 120 to 31536000 (3600)"},
        {"dhcp-router", "ADDR", "the router handed out (option 3); none unless given"},
        {"dhcp-dns", "ADDR[,ADDR]", "the DNS servers handed out (option 6); none unless given"},
        {"dhcp-ignore-other", {}, "serve DHCP even when another DHCP server answers on the link"},
    };
}

std::vector<CliOption> WithDhcpOptions(std::vector<CliOption> options) {
    for (CliOption& o : DhcpServeOptions())
        options.push_back(std::move(o));
    return options;
}

CliDhcp::CliDhcp(const CliArgs& args) : args_(args) {}

CliDhcp::~CliDhcp() = default;

bool CliDhcp::Check(int* status) {
    if (!args_.has("dhcp-range")) {
        for (const char* name : {"dhcp-lease", "dhcp-router", "dhcp-dns", "dhcp-ignore-other"})
            if (args_.has(name)) {
                *status = CliUsageError(kCommand, QString("--%1 needs --dhcp-range").arg(name));
                return false;
            }
        return true;
    }
    const QString bind = args_.value("bind").trimmed();
    uint32_t bindAddress = 0;
    if (!ParseIpv4(bind, &bindAddress) || bindAddress == 0) {
        *status = CliUsageError(kCommand, "--dhcp-range needs a specific --bind address");
        return false;
    }
    DhcpSettings settings;
    settings.range = args_.value("dhcp-range");
    settings.leaseSeconds = args_.value("dhcp-lease", "3600");
    settings.router = args_.value("dhcp-router");
    settings.dns = args_.value("dhcp-dns");
    settings.ignoreOther = args_.has("dhcp-ignore-other");
    std::vector<InterfaceRow> interfaces;
    ReadInterfaceTable(&interfaces);
    const DhcpCheck check = CheckDhcpSettings(settings, bind, interfaces);
    if (!check.ok()) {
        *status = CliUsageError(kCommand, worded(check.error));
        return false;
    }
    plan_ = std::make_unique<DhcpPlan>(check.plan);
    return true;
}

bool CliDhcp::Start(DhcpServer& server, quint16 httpPort, quint16 tftpPort, const UrlAccess& access,
                    int* status) {
    if (!plan_)
        return true;
    if (server.Folder().isEmpty()) {
        *status = CliFail(kCommand,
                          "no folder for the DHCP leases: neither XDG_DATA_HOME nor "
                          "HOME is set");
        return false;
    }
    if (const UiText refusal = server.CheckCanStart(); !refusal.isEmpty()) {
        *status = CliFail(kCommand, worded(refusal));
        return false;
    }

    const QByteArray bind = args_.value("bind").trimmed().toLatin1();
    DhcpHandout handout;
    handout.tftpServer = tftpPort != 0;
    handout.url = httpPort
                      ? ConfigServerUrl(ServerSource::BuiltIn, bind, QByteArray::number(httpPort),
                                        {}, ServerProtocol::Http, access)
                      : ConfigServerUrl(ServerSource::BuiltIn, bind, QByteArray::number(tftpPort),
                                        {}, ServerProtocol::Tftp);

    DhcpProbeOptions probe;
    probe.interfaceName = plan_->interfaceName;
    const DhcpProbeResult found = ProbeDhcpServers(probe);
    const bool ignore = args_.has("dhcp-ignore-other");
    if (found.error != 0 && !ignore) {
        CliPrintLogLine("DHCP Server not started: the probe for other DHCP servers failed: " +
                        QByteArray(std::strerror(found.error)));
        *status = CliFail(kCommand, "cannot probe " + plan_->interfaceName +
                                        " for other DHCP servers: " + std::strerror(found.error));
        return false;
    }
    if (!found.servers.empty()) {
        const QString others = addressList(found.servers);
        CliPrintLogLine("DHCP Server: another DHCP server answers on " +
                        plan_->interfaceName.toLocal8Bit() + ": " + others.toLatin1());
        if (!ignore) {
            *status =
                CliFail(kCommand, "another DHCP server answers on " + plan_->interfaceName + ": " +
                                      others + " (--dhcp-ignore-other serves all the same)");
            return false;
        }
    }
    if (const UiText error = server.Start(*plan_, handout); !error.isEmpty()) {
        *status = CliFail(kCommand, worded(error));
        return false;
    }
    return true;
}
