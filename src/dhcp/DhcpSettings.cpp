#include "dhcp/DhcpSettings.h"

#include "app/MyLog.h"
#include "app/Numbers.h"
#include "app/ServerUrl.h"
#include "app/SettingsStore.h"

namespace {

UiText refusal(const char* key, const QString& value) {
    return UiText::key(key).addLiteral(" " + value);
}

bool parseAddress(const QString& text, uint32_t* address) {
    return ParseIpv4(text.trimmed(), address);
}

// The host addresses of the network of an interface row: its network and broadcast
// addresses left out (a /31 or /32 has none).
bool isHostOf(const InterfaceRow& row, uint32_t address) {
    const uint32_t network = row.address & row.mask;
    const uint32_t broadcast = network | ~row.mask;
    return (address & row.mask) == network && address != network && address != broadcast;
}

}  // namespace

QString DhcpPlan::RangeText() const {
    return Ipv4Text(first) + "-" + Ipv4Text(last);
}

DhcpCheck CheckDhcpSettings(const DhcpSettings& s, const QString& bindAddress,
                            const std::vector<InterfaceRow>& interfaces) {
    DhcpCheck check;
    DhcpPlan& plan = check.plan;
    const QString range = s.range.trimmed();
    const QStringList ends = range.split('-');
    if (ends.size() != 2 || !parseAddress(ends[0], &plan.first) ||
        !parseAddress(ends[1], &plan.last) || plan.first > plan.last) {
        check.error = refusal("LDhcpError1", range);
        return check;
    }

    uint32_t server = 0;
    const InterfaceRow* row = nullptr;
    if (parseAddress(bindAddress, &server))
        for (const InterfaceRow& r : interfaces)
            if (r.address == server && !row)
                row = &r;
    // A loopback interface is no link for phones.
    if (!row || (server >> 24) == 127 || row->name == "lo" || row->mask == 0) {
        check.error = refusal("LDhcpError2", bindAddress.trimmed());
        return check;
    }
    plan.serverAddress = server;
    plan.mask = row->mask;
    plan.interfaceName = row->name.section(':', 0, 0);
    if (!isHostOf(*row, plan.first) || !isHostOf(*row, plan.last) || plan.Size() > kDhcpRangeMax ||
        plan.Size() == 0) {
        check.error = refusal("LDhcpError3", range);
        return check;
    }
    if (server >= plan.first && server <= plan.last) {
        check.error = refusal("LDhcpError4", range);
        return check;
    }

    bool numeric = false;
    const QString lease = s.leaseSeconds.trimmed();
    const qlonglong seconds = lease.toLongLong(&numeric);
    if (!numeric || seconds < kDhcpLeaseMin || seconds > kDhcpLeaseMax ||
        !lease.front().isDigit()) {
        check.error = refusal("LDhcpError5", lease);
        return check;
    }
    plan.leaseSeconds = static_cast<int>(seconds);

    const QString router = s.router.trimmed();
    if (!router.isEmpty() &&
        (!parseAddress(router, &plan.router) || !isHostOf(*row, plan.router) || plan.router == 0)) {
        check.error = refusal("LDhcpError6", router);
        return check;
    }

    const QString dns = s.dns.trimmed();
    if (!dns.isEmpty()) {
        const QStringList servers = dns.split(',');
        for (const QString& text : servers) {
            uint32_t address = 0;
            if (servers.size() > 2 || !parseAddress(text, &address) || address == 0) {
                check.error = refusal("LDhcpError7", dns);
                return check;
            }
            plan.dns.push_back(address);
        }
    }
    return check;
}

UiText CheckDhcpHandout(const DhcpHandout& handout) {
    bool fits = !handout.url.isEmpty() && handout.url.size() <= 255;
    for (const char c : handout.url)
        fits = fits && c > ' ' && c < 127;
    if (fits)
        return {};
    return UiText::key("LDhcpError11")
        .addLiteral(" " + QString::fromUtf8(LogSafeText(UrlWithoutPassword(handout.url))));
}

DhcpSettings ReadDhcpSettings(const SettingsStore& settings) {
    // One pass over the section: a key that stands twice takes its last value.
    DhcpSettings d;
    d.leaseSeconds = Setting::DhcpLease.defaultValue;
    for (const auto& [key, value] : settings.SectionEntries(Setting::DhcpRange.section)) {
        if (key == Setting::DhcpRange.key)
            d.range = value;
        else if (key == Setting::DhcpLease.key)
            d.leaseSeconds = value;
        else if (key == Setting::DhcpRouter.key)
            d.router = value;
        else if (key == Setting::DhcpDns.key)
            d.dns = value;
        else if (key == Setting::DhcpIgnoreOther.key)
            d.ignoreOther = ReadLeadingInt(value) != 0;
    }
    return d;
}

void WriteDhcpSettings(SettingsStore& settings, const DhcpSettings& d) {
    const std::pair<SettingKey, QString> values[] = {
        {Setting::DhcpRange, d.range},
        {Setting::DhcpLease, d.leaseSeconds},
        {Setting::DhcpRouter, d.router},
        {Setting::DhcpDns, d.dns},
        {Setting::DhcpIgnoreOther, d.ignoreOther ? "1" : "0"},
    };
    for (const auto& [key, value] : values) {
        settings.AddKeyIfMissing(key);
        settings.Write(key, value);
    }
}
