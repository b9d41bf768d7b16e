#include "servers/TftpPacket.h"

#include <algorithm>
#include <cstring>

namespace Tftp {

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Reads a NUL-terminated string at *pos; false when no NUL follows.
bool readString(const uint8_t* data, size_t size, size_t* pos, std::string* out) {
    const void* end = std::memchr(data + *pos, 0, size - *pos);
    if (!end)
        return false;
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(end) - (data + *pos));
    out->assign(reinterpret_cast<const char*>(data + *pos), length);
    *pos += length + 1;
    return true;
}

// A decimal number of at most 20 digits; false for anything else.
bool readNumber(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t next = v * 10 + static_cast<uint64_t>(c - '0');
        if (next / 10 != v)
            return false;  // overflow
        v = next;
    }
    *value = v;
    return true;
}

void append16(std::string* out, uint16_t value) {
    out->push_back(static_cast<char>(value >> 8));
    out->push_back(static_cast<char>(value & 0xFF));
}

void appendString(std::string* out, std::string_view text) {
    out->append(text.data(), text.size());
    out->push_back('\0');
}

}  // namespace

const char* ErrorText(uint16_t code) {
    switch (code) {
        case FileNotFound:
            return "File not found";
        case AccessViolation:
            return "Access violation";
        case DiskFull:
            return "Disk full or allocation exceeded";
        case IllegalOperation:
            return "Illegal TFTP operation";
        case UnknownTransferId:
            return "Unknown transfer ID";
        case FileExists:
            return "File already exists";
        case NoSuchUser:
            return "No such user";
        case OptionsRefused:
            return "Option negotiation failed";
        default:
            return "Not defined";
    }
}

bool ParseRequest(const uint8_t* data, size_t size, Request* out) {
    if (size < 2)
        return false;
    const uint16_t opcode = static_cast<uint16_t>(data[0] << 8 | data[1]);
    if (opcode != Rrq && opcode != Wrq)
        return false;
    Request r;
    r.opcode = opcode;
    size_t pos = 2;
    if (!readString(data, size, &pos, &r.filename) || !readString(data, size, &pos, &r.mode) ||
        r.mode.empty())
        return false;
    r.mode = lower(std::move(r.mode));
    while (pos < size) {
        std::string name, value;
        if (!readString(data, size, &pos, &name))
            break;  // trailing bytes
        if (!readString(data, size, &pos, &value))
            break;  // an option cut off, or padding
        if (name.empty())
            continue;
        r.options.emplace_back(lower(std::move(name)), std::move(value));
    }
    *out = std::move(r);
    return true;
}

Negotiation Negotiate(const std::vector<std::pair<std::string, std::string>>& requested,
                      unsigned maxBlockSize, unsigned maxWindowSize) {
    Negotiation n;
    bool seenBlock = false, seenWindow = false, seenTimeout = false;
    for (const auto& [name, text] : requested) {
        uint64_t value = 0;
        const bool numeric = readNumber(text, &value);
        if (name == "blksize" && !seenBlock) {
            seenBlock = true;
            if (!numeric || value < kMinBlockSize)
                continue;
            n.blockSize = static_cast<unsigned>(
                std::min<uint64_t>(value, std::min(maxBlockSize, kMaxBlockSize)));
            n.accepted.emplace_back(name, std::to_string(n.blockSize));
        } else if (name == "windowsize" && !seenWindow) {
            seenWindow = true;
            if (!numeric || value < 1)
                continue;
            n.windowSize = static_cast<unsigned>(
                std::min<uint64_t>(value, std::min(maxWindowSize, kMaxWindowSize)));
            n.accepted.emplace_back(name, std::to_string(n.windowSize));
        } else if (name == "timeout" && !seenTimeout) {
            seenTimeout = true;
            if (!numeric || value < 1 || value > kMaxTimeoutSeconds)
                continue;
            n.timeoutSeconds = static_cast<unsigned>(value);
            n.accepted.emplace_back(name, std::to_string(value));
        } else if (name == "tsize" && !n.sizeRequested) {
            n.sizeRequested = numeric;
        }
    }
    return n;
}

std::string ComposeOack(const Negotiation& n, uint64_t transferSize) {
    std::string out;
    append16(&out, Oack);
    for (const auto& [name, value] : n.accepted) {
        appendString(&out, name);
        appendString(&out, value);
    }
    if (n.sizeRequested) {
        appendString(&out, "tsize");
        appendString(&out, std::to_string(transferSize));
    }
    return out;
}

std::string ComposeError(uint16_t code, std::string_view text) {
    std::string out;
    append16(&out, Error);
    append16(&out, code);
    appendString(&out, text);
    return out;
}

void WriteDataHeader(uint8_t* out, uint16_t block) {
    out[0] = 0;
    out[1] = Data;
    out[2] = static_cast<uint8_t>(block >> 8);
    out[3] = static_cast<uint8_t>(block & 0xFF);
}

size_t NetasciiEncode(const char* input, size_t size, char* out, size_t capacity, int* pending,
                      size_t* consumed) {
    size_t written = 0;
    if (*pending >= 0 && written < capacity) {
        out[written++] = static_cast<char>(*pending);
        *pending = -1;
    }
    size_t used = 0;
    while (used < size && written < capacity) {
        const char c = input[used++];
        if (c == '\n' || c == '\r') {
            const char second = c == '\n' ? '\n' : '\0';
            out[written++] = '\r';
            if (written < capacity)
                out[written++] = second;
            else
                *pending = static_cast<unsigned char>(second);
        } else {
            out[written++] = c;
        }
    }
    *consumed = used;
    return written;
}

uint64_t NetasciiLength(const char* input, size_t size) {
    uint64_t length = size;
    for (size_t i = 0; i < size; ++i)
        if (input[i] == '\n' || input[i] == '\r')
            ++length;
    return length;
}

std::string RequestPathBelowRoot(std::string_view filename) {
    std::string path(filename);
    std::replace(path.begin(), path.end(), '\\', '/');
    const size_t first = path.find_first_not_of('/');
    return first == std::string::npos ? std::string() : path.substr(first);
}

}  // namespace Tftp
