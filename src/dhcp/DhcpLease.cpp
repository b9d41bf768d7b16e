#include "dhcp/DhcpLease.h"

#include "app/InterfaceTable.h"
#include "app/Numbers.h"

#include <optional>

namespace {

constexpr size_t kFields = 8;  // after the "L"
constexpr qsizetype kFieldMax = 64 * 1024;

// "0a:1b:2c:3d:4e:5f" (either case) as "0a1b2c3d4e5f"; empty for anything else.
QByteArray plainMac(const QByteArray& text) {
    if (text.size() != 17)
        return {};
    QByteArray mac;
    for (qsizetype i = 0; i < 17; ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != ':')
                return {};
        } else if (HexDigitValue(c) < 0) {
            return {};
        } else {
            mac += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        }
    }
    return mac;
}

std::optional<std::time_t> seconds(const QByteArray& text) {
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < 0 || text.isEmpty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    return static_cast<std::time_t>(value);
}

std::optional<DhcpLease> leaseOf(const std::vector<QByteArray>& f, std::time_t now) {
    // f: action, MAC, address, host name, vendor class, supplied name, end, length
    DhcpLease lease;
    const QByteArray& action = f[0];
    lease.mac = plainMac(f[1]);
    uint32_t address = 0;
    if (lease.mac.isEmpty() || !ParseIpv4(QString::fromLatin1(f[2]), &address) ||
        Ipv4Text(address).toLatin1() != f[2])
        return std::nullopt;
    lease.address = f[2];
    lease.hostName = f[5].isEmpty() ? f[3] : f[5];
    lease.vendorClass = f[4];
    if (const std::optional<std::time_t> end = seconds(f[6]))
        lease.leaseEnd = *end;
    else if (const std::optional<std::time_t> length = seconds(f[7]))
        lease.leaseEnd = *length ? now + *length : 0;
    if (action == "add")
        lease.kind = DhcpLease::Kind::Add;
    else if (action == "old")
        lease.kind = DhcpLease::Kind::Renew;
    else if (action == "del")
        lease.kind = lease.leaseEnd == 0 || lease.leaseEnd > now ? DhcpLease::Kind::Release
                                                                 : DhcpLease::Kind::Expire;
    else
        return std::nullopt;
    return lease;
}

}  // namespace

const char* DhcpLeaseKindName(DhcpLease::Kind kind) {
    switch (kind) {
        case DhcpLease::Kind::Add:
            return "add";
        case DhcpLease::Kind::Renew:
            return "renew";
        case DhcpLease::Kind::Release:
            return "release";
        case DhcpLease::Kind::Expire:
            return "expire";
    }
    return "";
}

std::vector<DhcpLease> DhcpLeaseReader::Feed(const char* data, size_t size, std::time_t now) {
    std::vector<DhcpLease> leases;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\0') {
            if (field_.size() >= kFieldMax) {
                field_.clear();
                fields_.clear();
                continue;
            }
            field_ += data[i];
            continue;
        }
        if (fields_.empty() && field_ != "L") {
            field_.clear();  // not a record's start: skipped
            continue;
        }
        fields_.push_back(field_);
        field_.clear();
        if (fields_.size() < kFields + 1)
            continue;
        const std::vector<QByteArray> record(fields_.begin() + 1, fields_.end());
        fields_.clear();
        if (const std::optional<DhcpLease> lease = leaseOf(record, now))
            leases.push_back(*lease);
    }
    return leases;
}

QByteArray DhcpLeaseReader::ScriptText() {
    // The engine runs it once per lease change, one at a time; the record goes out in one
    // write (far below the pipe's atomic size). The pipe is opened for reading and writing, so
    // that the open never waits for a reader: a change the engine reports after the program
    // stopped reading is dropped, and the script still ends.
    return "#!/bin/sh\n"
           "# Hands each lease change to the program that started the DHCP server.\n"
           "exec printf 'L\\0%s\\0%s\\0%s\\0%s\\0%s\\0%s\\0%s\\0%s\\0' \"$1\" \"$2\" "
           "\"$3\" \"$4\" \"${DNSMASQ_VENDOR_CLASS-}\" \"${DNSMASQ_SUPPLIED_HOSTNAME-}\" "
           "\"${DNSMASQ_LEASE_EXPIRES-}\" \"${DNSMASQ_LEASE_LENGTH-}\" "
           "1<>\"${0%/*}/lease-events\"\n";
}
