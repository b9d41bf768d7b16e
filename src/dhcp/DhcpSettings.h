#pragma once

#include "app/Dialogs.h"
#include "app/InterfaceTable.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// The DHCP server's settings as typed in the window or given to orvo-cli serve.
struct DhcpSettings {
    QString range;                  // "FIRST-LAST", two IPv4 addresses
    QString leaseSeconds = "3600";  // kDhcpLeaseMin to kDhcpLeaseMax
    QString router;                 // empty: option 3 is not sent
    QString dns;                    // "ADDR[,ADDR]"; empty: option 6 is not sent
    bool ignoreOther = false;       // serve even when another DHCP server answers the probe
};

class SettingsStore;

// [DHCP SERVER] range, lease, router, dns and ignore_other. Writing adds the keys a settings
// file of an earlier version lacks.
DhcpSettings ReadDhcpSettings(const SettingsStore& settings);
void WriteDhcpSettings(SettingsStore& settings, const DhcpSettings& dhcp);

constexpr int kDhcpLeaseMin = 120;  // the engine's own lower bound
constexpr int kDhcpLeaseMax = 31536000;
// More addresses than this in one range are refused (the engine keeps every lease in memory).
constexpr uint32_t kDhcpRangeMax = 65534;

// What the settings come to on one interface; addresses in host byte order.
struct DhcpPlan {
    QString interfaceName;  // the device that holds the server address ("eth0", not "eth0:1")
    uint32_t serverAddress = 0;
    uint32_t mask = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    int leaseSeconds = 3600;
    uint32_t router = 0;  // 0: none
    std::vector<uint32_t> dns;

    uint32_t Size() const { return last - first + 1; }
    // "10.0.0.50-10.0.0.99".
    QString RangeText() const;
};

// The settings checked against the computer's interfaces; error empty when they hold.
struct DhcpCheck {
    DhcpPlan plan;
    // One line: a language key ("LDhcpError1"...), then the offending value as a literal.
    UiText error;
    bool ok() const { return error.isEmpty(); }
    QString errorKey() const { return error.isEmpty() ? QString() : error.keys().first(); }
};

// Checks the settings for a server at bindAddress, which must be one of the interfaces' own
// addresses (not a loopback one): the range well-formed ("LDhcpError1"), the address known
// ("LDhcpError2"), the range among the host addresses of its network ("LDhcpError3") and not
// holding the server's address ("LDhcpError4"), the lease seconds ("LDhcpError5"), the router
// an address of that network ("LDhcpError6"), one or two DNS servers ("LDhcpError7").
DhcpCheck CheckDhcpSettings(const DhcpSettings& settings, const QString& bindAddress,
                            const std::vector<InterfaceRow>& interfaces);

// What the server hands out besides the address: options 66 and 160 (the provisioning URL, as
// plug-and-play hands it out) and option 150 (the server's address, while the TFTP server runs).
struct DhcpHandout {
    QByteArray url;
    bool tftpServer = false;
};

// "LDhcpError11" with the URL when it cannot go into a DHCP option (empty, longer than 255
// bytes, or holding a blank, a control byte or a byte beyond ASCII); empty when it can.
UiText CheckDhcpHandout(const DhcpHandout& handout);
