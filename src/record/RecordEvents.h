#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>
#include <functional>

// One file request answered by a server of the program (the built-in HTTP server; TFTP and
// HTTPS servers report the same way), as the server hands it to its observer.
struct FetchEvent {
    std::time_t time = 0;           // when the answer ended (the connection or transfer closed)
    const char* protocol = "http";  // "http", "tftp" or "https"; a literal that lives for good
    const char* method = "GET";     // "GET", "HEAD", "POST"; TFTP: "RRQ"; a literal
    QByteArray peer;                // the client's address
    QByteArray path;                // relative to the document root, without a leading "/"
    int status = 0;                 // 200, 404, 500, ...
    qint64 bytes = 0;               // body bytes the client took (acknowledged), not bytes written
    // The whole body reached the client: every byte written and acknowledged before the
    // connection ended. A 2xx that is not complete is a cut-off download, never a fetch.
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

// What the record keeps: one row of its events table.
struct RecordEvent {
    enum class Kind {
        Batch,      // a batch run wrote a phone's file
        Pnp,        // a plug-and-play answer told a phone its URL
        Provision,  // Provision from the device grid or orvo-cli provision
        Upgrade,    // Upgrade from the device grid
        Refresh,    // an online check sent
        Fetch,      // a server answered a request
        Discovery,  // a discovery probe's answer
        Refreshed,  // an online check's answer (or its absence)
    };
    Kind kind = Kind::Fetch;
    std::time_t time = 0;   // 0: when it is added
    QByteArray phone;       // MAC (12 lower-case hexadecimal digits) or PIN; empty when none
    QByteArray address;     // the phone's or client's address
    QByteArray path;        // Batch: file below the output folder; Fetch: below the document root
    int status = 0;         // Fetch
    qint64 bytes = 0;       // Fetch
    QByteArray protocol;    // Fetch
    QByteArray userAgent;   // Fetch
    QByteArray url;         // Pnp, Provision, Upgrade: the URL sent
    QByteArray format;      // Batch: "bin" or "xml"
    QByteArray protection;  // Batch: "plain", "scrambled" or "encrypted"
    QByteArray model;       // Discovery
    QByteArray version;     // Discovery, Refreshed
    int online = -1;        // Discovery, Refreshed: 1 or 0; -1 for other kinds
};

// The name a kind has in the events table ("batch", "pnp", ..., "refreshed").
const char* RecordKindName(RecordEvent::Kind kind);
// A time as the record writes it: ISO 8601 local time with seconds, "2026-12-10T14:03:07".
QByteArray RecordTime(std::time_t time);
