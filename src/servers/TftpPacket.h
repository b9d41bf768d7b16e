#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The TFTP wire format (RFC 1350) with options (RFC 2347 to 2349, 7440): requests read from a
// client, and the packets a server sends.
namespace Tftp {

enum Opcode : uint16_t { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5, Oack = 6 };

enum ErrorCode : uint16_t {
    NotDefined = 0,
    FileNotFound = 1,
    AccessViolation = 2,
    DiskFull = 3,
    IllegalOperation = 4,
    UnknownTransferId = 5,
    FileExists = 6,
    NoSuchUser = 7,
    OptionsRefused = 8,
};

// The standard text of an error code ("File not found", "Access violation", ...).
const char* ErrorText(uint16_t code);

constexpr unsigned kDefaultBlockSize = 512;
constexpr unsigned kMinBlockSize = 8;
constexpr unsigned kMaxBlockSize = 65464;
constexpr unsigned kMaxTimeoutSeconds = 255;
constexpr unsigned kMaxWindowSize = 65535;

// A read or write request: opcode, file name and mode as sent (the mode in lower case), and
// the options in order, names in lower case.
struct Request {
    uint16_t opcode = 0;
    std::string filename;
    std::string mode;
    std::vector<std::pair<std::string, std::string>> options;
};

// Reads an RRQ or WRQ. False for any other packet and for one that is not well formed: a
// missing NUL after the file name or the mode, or an empty mode. Bytes after the last complete
// option pair are ignored (some clients pad their requests), as are options with empty names.
bool ParseRequest(const uint8_t* data, size_t size, Request* out);

// What a server takes of the requested options: each accepted option with the value it
// answers (in the order requested), and the values the transfer uses.
struct Negotiation {
    unsigned blockSize = kDefaultBlockSize;
    unsigned windowSize = 1;
    unsigned timeoutSeconds = 0;  // 0: the server's own retransmission time
    bool sizeRequested = false;   // "tsize": the OACK carries the transfer size
    std::vector<std::pair<std::string, std::string>> accepted;
};

// blksize 8 to 65464 and windowsize 1 to 65535 are taken, larger values answered with the
// largest the server allows (maxBlockSize, maxWindowSize; an option's answer may be smaller
// than asked); timeout 1 to 255 is taken as asked; tsize is taken. A value out of its range or
// not a number drops that option from the answer, as does every unknown option; the first of
// a repeated option counts. tsize is not in accepted: its value is known only once the file is
// open (see ComposeOack).
Negotiation Negotiate(const std::vector<std::pair<std::string, std::string>>& requested,
                      unsigned maxBlockSize = kMaxBlockSize, unsigned maxWindowSize = 64);

// OACK with the accepted options, and "tsize" with transferSize when it was asked for.
std::string ComposeOack(const Negotiation& negotiation, uint64_t transferSize);
std::string ComposeError(uint16_t code, std::string_view text);
// The four header bytes of a DATA packet.
void WriteDataHeader(uint8_t* out, uint16_t block);

// Netascii: LF becomes CR LF, CR becomes CR NUL. Converts input into out (capacity bytes) and
// stops when out is full. *pending is the second byte of a pair that did not fit the last
// call's output (-1 when none); it is written first and updated. Gives the bytes written;
// *consumed receives the input bytes used.
size_t NetasciiEncode(const char* input, size_t size, char* out, size_t capacity, int* pending,
                      size_t* consumed);
// The length of a text after netascii encoding.
uint64_t NetasciiLength(const char* input, size_t size);

// A file name of a request as a path below the document root: "\" taken as "/", leading
// separators dropped. Empty when nothing is left.
std::string RequestPathBelowRoot(std::string_view filename);

}  // namespace Tftp
