#include "protection/AddressAllowList.h"

#include <QRegularExpression>
#include <QStringList>

#include <netinet/in.h>
#include <cstring>

namespace {

uint32_t maskOf(int prefixLength) {
    return prefixLength == 0 ? 0 : ~uint32_t(0) << (32 - prefixLength);
}

int prefixLengthOf(uint32_t mask) {
    int n = 0;
    while (n < 32 && (mask & (uint32_t(1) << (31 - n))))
        ++n;
    return n;
}

QString networkText(uint32_t address, uint32_t mask) {
    const int length = prefixLengthOf(mask);
    const QString text = Ipv4Text(address & mask);
    return length == 32 ? text : text + "/" + QString::number(length);
}

}  // namespace

bool AddressAllowList::Parse(const QString& text, QString* bad) {
    std::vector<Network> networks;
    static const QRegularExpression separators("[,\\s]+");
    static const QRegularExpression length("^(0|[1-9][0-9]?)$");
    for (const QString& entry : text.split(separators, Qt::SkipEmptyParts)) {
        const QString address = entry.section('/', 0, 0);
        const bool hasLength = entry.contains('/');
        const QString lengthText = entry.section('/', 1);
        uint32_t value = 0;
        const bool lengthOk =
            !hasLength || (length.match(lengthText).hasMatch() && lengthText.toInt() <= 32);
        if (!lengthOk || !ParseIpv4(address, &value)) {
            if (bad)
                *bad = entry;
            return false;
        }
        const uint32_t mask = maskOf(hasLength ? lengthText.toInt() : 32);
        networks.push_back({value & mask, mask});
    }
    networks_ = std::move(networks);
    return true;
}

bool AddressAllowList::Allows(uint32_t address) const {
    if (networks_.empty())
        return true;
    for (const Network& n : networks_)
        if ((address & n.mask) == n.address)
            return true;
    return false;
}

bool AddressAllowList::Allows(const sockaddr* peer) const {
    if (networks_.empty())
        return true;
    if (peer->sa_family == AF_INET)
        return Allows(ntohl(reinterpret_cast<const sockaddr_in*>(peer)->sin_addr.s_addr));
    if (peer->sa_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a)) {
            uint32_t v4 = 0;
            std::memcpy(&v4, a.s6_addr + 12, sizeof v4);
            return Allows(ntohl(v4));
        }
    }
    return false;
}

QString AddressAllowList::Text() const {
    QStringList entries;
    for (const Network& n : networks_)
        entries << networkText(n.address, n.mask);
    return entries.join(", ");
}

QString AddressAllowList::OwnNetworksText(const std::vector<InterfaceRow>& rows) {
    QStringList entries;
    for (const InterfaceRow& row : rows) {
        if ((row.address >> 24) == 127)
            continue;
        const QString text = networkText(row.address, row.mask);
        if (!entries.contains(text))
            entries << text;
    }
    return entries.join(", ");
}
