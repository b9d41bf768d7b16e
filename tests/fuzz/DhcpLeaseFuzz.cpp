// libFuzzer target: DhcpLeaseReader, the reader of what the lease script hands over (fields a
// client fills: host name, vendor class). The first byte sets the size of the pieces the rest
// arrives in. The leases do not depend on how the bytes arrive; each has a MAC of twelve
// lower-case hexadecimal digits and a dotted IPv4 address that reads back the same; its host
// name and vendor class are fields of the input; there are no more leases than records begun.
#include "FuzzSupport.h"
#include "app/InterfaceTable.h"
#include "dhcp/DhcpLease.h"

using namespace fuzz;

namespace {

constexpr std::time_t kNow = 1796900000;

bool sameLeases(const std::vector<DhcpLease>& a, const std::vector<DhcpLease>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].mac != b[i].mac || a[i].address != b[i].address ||
            a[i].hostName != b[i].hostName || a[i].vendorClass != b[i].vendorClass ||
            a[i].leaseEnd != b[i].leaseEnd)
            return false;
    return true;
}

// A field of the input: empty, or bytes between two NULs (or from the start).
bool isField(const QByteArray& input, const QByteArray& field) {
    return field.isEmpty() || input.contains('\0' + field + '\0') ||
           input.startsWith(field + '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t piece = data[0] % 16 + 1;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    DhcpLeaseReader whole;
    const std::vector<DhcpLease> leases = whole.Feed(input.constData(), size_t(input.size()), kNow);
    DhcpLeaseReader pieces;
    std::vector<DhcpLease> inPieces;
    for (qsizetype at = 0; at < input.size(); at += qsizetype(piece))
        for (const DhcpLease& l : pieces.Feed(input.constData() + at,
                                              size_t(std::min<qsizetype>(qsizetype(piece),
                                                                         input.size() - at)),
                                              kNow))
            inPieces.push_back(l);
    FUZZ_CHECK(sameLeases(leases, inPieces));
    FUZZ_CHECK(leases.size() <= size_t(input.count(QByteArray("L\0", 2))));
    for (const DhcpLease& l : leases) {
        FUZZ_CHECK(l.mac.size() == 12);
        for (const char c : l.mac)
            FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        uint32_t address = 0;
        FUZZ_CHECK(ParseIpv4(QString::fromLatin1(l.address), &address));
        FUZZ_CHECK(Ipv4Text(address).toLatin1() == l.address);
        FUZZ_CHECK(isField(input, l.hostName));
        FUZZ_CHECK(isField(input, l.vendorClass));
    }
    return 0;
}
