#pragma once

#include <QByteArray>
#include <ctime>
#include <functional>
#include <vector>

// One change of a lease, as the DHCP server reports it to its observer.
struct DhcpLease {
    enum class Kind {
        Add,      // a new lease
        Renew,    // a lease renewed, or found in the lease file when the server started
        Release,  // the client gave the address back (or declined it)
        Expire,   // the lease ran out
    };
    Kind kind = Kind::Add;
    QByteArray mac;            // twelve lower-case hexadecimal digits
    QByteArray address;        // dotted IPv4
    QByteArray hostName;       // option 12 as the client sent it; empty when it sent none
    QByteArray vendorClass;    // option 60 as the client sent it; empty when it sent none
    std::time_t leaseEnd = 0;  // when the lease ends (seconds since the epoch); 0: not known
};

// Receives every lease change on the server's own thread; it must return at once.
using DhcpLeaseObserver = std::function<void(const DhcpLease&)>;

// "add", "renew", "release", "expire".
const char* DhcpLeaseKindName(DhcpLease::Kind kind);

// Reads the records the lease script writes (the bytes that reach the program through its
// pipe, in pieces of any size). A record is nine NUL-terminated fields: "L", the engine's
// action (add, old, del, ...), MAC, address, host name, vendor class, the host name the client
// supplied, the lease's end, its length. Fields hold no NUL, so a record cannot be forged from
// inside a field; bytes before an "L" field are skipped, and a field longer than 64 KiB drops
// what is pending. Records of other actions, or whose MAC or address is malformed, give no
// lease.
class DhcpLeaseReader {
  public:
    // The leases of the records completed by these bytes; "now" tells a release (the lease
    // still had time) from an expiry.
    std::vector<DhcpLease> Feed(const char* data, size_t size, std::time_t now);
    // The script's text: it writes one record to the named pipe "lease-events" beside it.
    static QByteArray ScriptText();

  private:
    QByteArray field_;
    std::vector<QByteArray> fields_;
};
