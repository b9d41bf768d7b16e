#include "app/InterfaceTable.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <algorithm>

namespace {
constexpr size_t kMaxRows = 170;  // what a 4096-byte address table holds
}

QString Ipv4Text(uint32_t a) {
    return QString("%1.%2.%3.%4")
        .arg(a >> 24)
        .arg((a >> 16) & 255)
        .arg((a >> 8) & 255)
        .arg(a & 255);
}

QString InterfaceRow::AddressText() const {
    return Ipv4Text(address);
}

bool ParseIpv4(const QString& text, uint32_t* hostOrderAddress) {
    in_addr addr{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &addr) != 1)
        return false;
    *hostOrderAddress = ntohl(addr.s_addr);
    return true;
}

bool ReadInterfaceTable(std::vector<InterfaceRow>* rows) {
    rows->clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        InterfaceRow row;
        row.address = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        row.mask = i->ifa_netmask
                       ? ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr)
                       : 0;
        row.name = QString::fromLocal8Bit(i->ifa_name);
        rows->push_back(row);
    }
    freeifaddrs(list);
    if (rows->size() > kMaxRows) {
        rows->clear();
        return false;
    }
    std::stable_sort(rows->begin(), rows->end(), [](const InterfaceRow& a, const InterfaceRow& b) {
        return a.address < b.address;
    });
    return true;
}
