#pragma once

#include "servers/ServerRuntime.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <cstring>
#include <string>

// A socket address with its length.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }

    bool operator==(const SocketAddress& other) const {
        if (family() != other.family())
            return false;
        if (family() == AF_INET) {
            const auto& a = reinterpret_cast<const sockaddr_in&>(storage);
            const auto& b = reinterpret_cast<const sockaddr_in&>(other.storage);
            return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
        }
        const auto& a = reinterpret_cast<const sockaddr_in6&>(storage);
        const auto& b = reinterpret_cast<const sockaddr_in6&>(other.storage);
        return a.sin6_port == b.sin6_port &&
               std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
    }

    // The address without the port, as text.
    QByteArray HostText() const { return AddressText(storage); }

    // Address and port as bytes, to tell one client socket from another.
    std::string Key() const {
        return std::string(reinterpret_cast<const char*>(&storage),
                           family() == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    }
};
