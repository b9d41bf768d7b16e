#include "servers/TftpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>

TftpSocket::TftpSocket(const char* address) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, address, &local.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
}

TftpSocket::~TftpSocket() {
    if (fd_ >= 0)
        ::close(fd_);
}

uint16_t TftpSocket::port() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

void TftpSocket::Send(uint16_t port, const std::string& packet, const char* address) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, address, &to.sin_addr);
    ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

bool TftpSocket::Receive(std::string* packet, uint16_t* fromPort, int timeoutMs,
                         std::string* fromAddress) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return false;
    std::string buffer(70000, '\0');
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0)
        return false;
    buffer.resize(static_cast<size_t>(n));
    *packet = std::move(buffer);
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    if (fromAddress) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        *fromAddress = text;
    }
    return true;
}

std::string RequestPacket(const std::string& filename, const std::string& mode,
                          const TftpOptions& options, uint16_t opcode) {
    std::string out;
    out.push_back(static_cast<char>(opcode >> 8));
    out.push_back(static_cast<char>(opcode & 0xFF));
    out += filename;
    out.push_back('\0');
    out += mode;
    out.push_back('\0');
    for (const auto& [name, value] : options) {
        out += name;
        out.push_back('\0');
        out += value;
        out.push_back('\0');
    }
    return out;
}

std::string AckPacket(uint16_t block) {
    return std::string{0, 4, static_cast<char>(block >> 8), static_cast<char>(block & 0xFF)};
}

uint16_t PacketOpcode(const std::string& packet) {
    return packet.size() < 2 ? 0
                             : static_cast<uint16_t>(static_cast<uint8_t>(packet[0]) << 8 |
                                                     static_cast<uint8_t>(packet[1]));
}

uint16_t PacketNumber(const std::string& packet) {
    return packet.size() < 4 ? 0
                             : static_cast<uint16_t>(static_cast<uint8_t>(packet[2]) << 8 |
                                                     static_cast<uint8_t>(packet[3]));
}

TftpOptions OackOptions(const std::string& packet) {
    TftpOptions out;
    size_t at = 2;
    while (at < packet.size()) {
        const size_t nameEnd = packet.find('\0', at);
        const size_t valueEnd =
            nameEnd == std::string::npos ? std::string::npos : packet.find('\0', nameEnd + 1);
        if (valueEnd == std::string::npos)
            break;
        out.emplace_back(packet.substr(at, nameEnd - at),
                         packet.substr(nameEnd + 1, valueEnd - nameEnd - 1));
        at = valueEnd + 1;
    }
    return out;
}

TftpDownload DownloadByHand(uint16_t serverPort, const std::string& filename,
                            const std::string& mode, const TftpOptions& options) {
    TftpDownload d;
    TftpSocket socket;
    socket.Send(serverPort, RequestPacket(filename, mode, options));
    size_t blockSize = 512;
    uint16_t expected = 1;
    uint16_t transferPort = 0;
    std::string packet;
    uint16_t from = 0;
    while (socket.Receive(&packet, &from, 5000)) {
        if (transferPort == 0)
            transferPort = from;
        if (from != transferPort)
            continue;
        const uint16_t opcode = PacketOpcode(packet);
        if (opcode == 5) {
            d.errorCode = PacketNumber(packet);
            d.errorText = packet.substr(4, packet.find('\0', 4) - 4);
            return d;
        }
        if (opcode == 6) {
            d.oack = OackOptions(packet);
            for (const auto& [name, value] : d.oack)
                if (name == "blksize")
                    blockSize = std::stoul(value);
            socket.Send(transferPort, AckPacket(0));
            continue;
        }
        if (opcode != 3)
            return d;
        ++d.dataPackets;
        if (PacketNumber(packet) != expected)
            continue;  // a repeat
        d.data += packet.substr(4);
        socket.Send(transferPort, AckPacket(expected));
        ++expected;
        if (packet.size() - 4 < blockSize) {
            d.complete = true;
            return d;
        }
    }
    return d;
}
