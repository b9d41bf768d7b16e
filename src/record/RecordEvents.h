#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>
#include <functional>

// One file request answered by a server of the program (the built-in HTTP, HTTPS and TFTP
// servers), as the server hands it to its observer. Downloads read from another web server's
// access log come the same way with protocol "external" (see ProvisioningRecord::Add).
struct FetchEvent {
    std::time_t time = 0;           // when the answer ended (the connection or transfer closed)
    const char* protocol = "http";  // "http", "https", "tftp" or "external"; a literal
    const char* method = "GET";     // "GET", "HEAD", "POST"; TFTP: "RRQ"; a literal
    QByteArray peer;                // the client's address
    QByteArray path;                // relative to the document root, without a leading "/"
    int status = 0;                 // 200, 404, 500, ...
    qint64 bytes = 0;               // body bytes the client took (acknowledged), not bytes written
    // The whole body reached the client: every byte written and acknowledged before the
    // connection ended. A 2xx that is not complete is a cut-off download, never a fetch.
    // Nobody knows it for "external" downloads: the record ignores it for them.
    bool complete = false;
    QByteArray userAgent;  // as the client sent it; empty when it sent none
    // The file version delivered, as the server saw it when it opened the file: size, inode and
    // modification time (ns since the epoch). fileSize -1: no file was opened.
    qint64 fileSize = -1;
    quint64 fileInode = 0;
    qint64 fileMtimeNs = 0;
};

// Receives every answered request on the server's own thread. It must return at once: it may
// hand the event on, never wait for anything.
using FetchObserver = std::function<void(const FetchEvent&)>;

// What the record keeps: one row of its events table. Which fields a kind fills is said once,
// in the column list of RecordSchema.cpp.
struct RecordEvent {
    enum class Kind {
        Batch,      // a batch run wrote a phone's file
        Pnp,        // a plug-and-play answer told a phone its URL
        Provision,  // Provision from the device grid or orvo-cli provision
        Upgrade,    // Upgrade from the device grid
        Refresh,    // an online check sent
        Fetch,      // a server answered a request (or an external server's log says it did)
        Discovery,  // a discovery probe's answer
        Refreshed,  // an online check's answer (or its absence)
        Lease,      // a DHCP server leased an address to a phone (or the lease ended)
    };
    Kind kind = Kind::Fetch;
    qint64 timeMs = 0;      // ms since the epoch (UTC); 0: when it is added
    QByteArray phone;       // MAC (12 lower-case hexadecimal digits) or PIN; empty when none
    QByteArray address;     // the phone's or client's address; Lease: the leased address
    QByteArray path;        // Batch: file below the output folder; Fetch: below the document root
    int status = 0;         // Fetch
    qint64 bytes = 0;       // Fetch: body bytes the client took
    QByteArray protocol;    // Fetch: "http", "https", "tftp", "external"
    QByteArray method;      // Fetch: "GET", "HEAD", "POST", "RRQ"
    int complete = -1;      // Fetch: 1 the whole body reached the client, 0 it did not, -1 unknown
    QByteArray userAgent;   // Fetch
    QByteArray source;      // Fetch: where an external download was read (the log); else empty
    QByteArray url;         // Pnp, Provision, Upgrade: the URL sent
    QByteArray format;      // Batch: "bin" or "xml"
    QByteArray protection;  // Batch: "plain", "scrambled" or "encrypted"
    QByteArray digest;      // Batch: SHA-256 of the file written, 64 hexadecimal digits
    // Batch: the file written; Fetch: the file delivered (as the server opened it). Size -1 and
    // inode 0: not known.
    qint64 fileSize = -1;
    quint64 fileInode = 0;
    qint64 fileMtimeNs = 0;
    QByteArray model;        // Discovery, Refreshed, Pnp (Fetch: read from the User-Agent)
    QByteArray version;      // the same
    int online = -1;         // Discovery, Refreshed: 1 or 0; -1 for other kinds
    QByteArray hostName;     // Lease: the host name the phone sent (option 12)
    QByteArray vendorClass;  // Lease: its vendor class (option 60)
    qint64 leaseEndMs = 0;   // Lease: when the lease ends (ended, for a release or expiry)
    // Set by the record: the same phone's event recorded before this one (0: none).
    qint64 previousId = 0;
};

// The name a kind has in the events table ("batch", "pnp", ..., "lease"), and back (false for a
// name of no kind).
const char* RecordKindName(RecordEvent::Kind kind);
bool RecordKindOf(const QByteArray& name, RecordEvent::Kind* kind);
// The language key of a kind's name on the page ("LRecKindBatch", ...).
const char* RecordKindKey(RecordEvent::Kind kind);

// The event of a download. The built-in servers hand it over when the answer ended, so the
// event's time gets the milliseconds of now within the second the server gave; "external"
// downloads (from another web server's log, named by source) keep the second of their log line
// and their completeness is unknown.
RecordEvent RecordFetchEvent(const FetchEvent& fetch, const QByteArray& source = {});

// A lease event for a phone's MAC (in any form PhoneOfMac reads; an event of no phone
// otherwise): address leased, host name and vendor class as the client sent them, and when the
// lease ends (for a release or an expiry: when it ended).
RecordEvent RecordLeaseEvent(const QByteArray& mac, const QByteArray& address,
                             const QByteArray& hostName, const QByteArray& vendorClass,
                             qint64 leaseEndMs);

// Now, in ms since the epoch.
qint64 RecordNowMs();
// A time as the record writes it: ISO 8601 UTC with milliseconds, "2026-12-10T14:03:07.123Z".
QByteArray RecordTime(qint64 ms);
// A time the record wrote, in ms since the epoch; -1 when the text is no such time.
qint64 RecordTimeMs(const QByteArray& text);
