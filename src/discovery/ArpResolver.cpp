#include "discovery/ArpResolver.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A file descriptor closed with its holder.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_;
};

// The interface that holds a local address: its index and hardware address.
struct Link {
    int index = 0;
    ArpResolver::Mac mac{};
};

bool FindLink(uint32_t source, Link* link) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    const char* name = nullptr;
    for (ifaddrs* i = list; i && !name; i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET &&
            ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr) == source)
            name = i->ifa_name;
    bool found = false;
    for (ifaddrs* i = list; i && name && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET || std::strcmp(i->ifa_name, name))
            continue;
        const auto* ll = reinterpret_cast<sockaddr_ll*>(i->ifa_addr);
        link->index = ll->sll_ifindex;
        if (ll->sll_halen == 6)
            std::memcpy(link->mac.data(), ll->sll_addr, 6);
        found = true;
    }
    freeifaddrs(list);
    return found;
}

// The links of the source addresses asked for so far.
class LinkCache {
  public:
    bool Find(uint32_t source, Link* link) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = links_.find(source);
        if (it != links_.end()) {
            *link = it->second;
            return true;
        }
        if (!FindLink(source, link))
            return false;
        links_[source] = *link;
        return true;
    }

  private:
    std::mutex mutex_;
    std::map<uint32_t, Link> links_;
};

// An ARP packet for IPv4 over Ethernet, as it stands on the wire after the Ethernet header.
struct __attribute__((packed)) ArpPacket {
    uint16_t hardwareType;
    uint16_t protocolType;
    uint8_t hardwareLength;
    uint8_t protocolLength;
    uint16_t operation;
    uint8_t senderMac[6];
    uint32_t senderIp;
    uint8_t targetMac[6];
    uint32_t targetIp;
};

class RawArpResolver : public ArpResolver {
  public:
    QString Name() const override { return "raw"; }

    bool Resolve(uint32_t target, uint32_t source, Mac* mac) override {
        Link link;
        if (!links_.Find(source, &link))
            return false;
        Fd fd(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
        if (!fd.ok())
            return false;
        sockaddr_ll local{};
        local.sll_family = AF_PACKET;
        local.sll_protocol = htons(ETH_P_ARP);
        local.sll_ifindex = link.index;
        if (bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return false;

        ArpPacket request{};
        request.hardwareType = htons(ARPHRD_ETHER);
        request.protocolType = htons(ETH_P_IP);
        request.hardwareLength = 6;
        request.protocolLength = 4;
        request.operation = htons(ARPOP_REQUEST);
        std::memcpy(request.senderMac, link.mac.data(), 6);
        request.senderIp = htonl(source);
        request.targetIp = htonl(target);
        sockaddr_ll broadcast = local;
        broadcast.sll_halen = 6;
        std::memset(broadcast.sll_addr, 0xff, 6);

        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(kArpTimeoutMs);
        auto nextSend = start;
        for (;;) {
            if (Clock::now() >= nextSend && nextSend < deadline) {
                sendto(fd.get(), &request, sizeof request, 0,
                       reinterpret_cast<sockaddr*>(&broadcast), sizeof broadcast);
                nextSend += std::chrono::milliseconds(kArpResendMs);
            }
            const int wait = std::min(MillisecondsLeft(deadline), MillisecondsLeft(nextSend));
            if (MillisecondsLeft(deadline) == 0)
                return false;
            pollfd p{fd.get(), POLLIN, 0};
            if (poll(&p, 1, wait > 0 ? wait : 1) <= 0)
                continue;
            ArpPacket reply{};
            sockaddr_ll from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd.get(), &reply, sizeof reply, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < static_cast<ssize_t>(sizeof reply) || from.sll_pkttype == PACKET_OUTGOING)
                continue;
            if (reply.operation == htons(ARPOP_REPLY) && reply.protocolType == htons(ETH_P_IP) &&
                reply.hardwareLength == 6 && reply.protocolLength == 4 &&
                reply.senderIp == htonl(target) && reply.targetIp == htonl(source)) {
                std::memcpy(mac->data(), reply.senderMac, 6);
                return true;
            }
        }
    }

  private:
    LinkCache links_;
};

// How long the kernel's resolution is awaited. Its first solicitation goes out at once and a
// host on the LAN answers within milliseconds; the kernel's own give-up (3 solicitations a
// second apart by default) would triple a sweep's time for nothing.
constexpr int kKernelTimeoutMs = 1000;
constexpr int kKernelPollMs = 20;

class KernelArpResolver : public ArpResolver {
  public:
    QString Name() const override { return "kernel"; }

    bool Resolve(uint32_t target, uint32_t source, Mac* mac) override {
        Link link;
        if (!links_.Find(source, &link))
            return false;
        Fd nl(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
        if (!nl.ok())
            return false;
        int state = 0;
        if (Lookup(nl.get(), link.index, target, &state, mac) && Usable(state))
            return true;
        Provoke(target, source);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kKernelTimeoutMs);
        while (MillisecondsLeft(deadline) > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kKernelPollMs));
            if (!Lookup(nl.get(), link.index, target, &state, mac))
                continue;
            if (Usable(state))
                return true;
            if (state & NUD_FAILED)
                return false;
        }
        return false;
    }

  private:
    static bool Usable(int state) {
        return state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT);
    }

    // One datagram to the discard port makes the kernel resolve the target's address.
    static void Provoke(uint32_t target, uint32_t source) {
        Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd.ok())
            return;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(source);
        if (bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return;
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_addr.s_addr = htonl(target);
        remote.sin_port = htons(9);
        sendto(fd.get(), "", 0, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    }

    // The neighbour entry of target on the link: false when there is none.
    static bool Lookup(int nl, int ifindex, uint32_t target, int* state, Mac* mac) {
        struct {
            nlmsghdr header;
            ndmsg neighbour;
            rtattr dstAttr;
            uint32_t dst;
        } request{};
        request.header.nlmsg_len = sizeof request;
        request.header.nlmsg_type = RTM_GETNEIGH;
        request.header.nlmsg_flags = NLM_F_REQUEST;
        request.neighbour.ndm_family = AF_INET;
        request.neighbour.ndm_ifindex = ifindex;
        request.dstAttr.rta_type = NDA_DST;
        request.dstAttr.rta_len = RTA_LENGTH(sizeof(uint32_t));
        request.dst = htonl(target);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (sendto(nl, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                   sizeof kernel) < 0)
            return false;
        alignas(nlmsghdr) char buffer[4096];
        pollfd p{nl, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1)
            return false;
        const ssize_t n = recv(nl, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        auto* header = reinterpret_cast<nlmsghdr*>(buffer);
        int length = static_cast<int>(n);
        for (; NLMSG_OK(header, length); header = NLMSG_NEXT(header, length)) {
            if (header->nlmsg_type != RTM_NEWNEIGH)
                continue;
            auto* neighbour = static_cast<ndmsg*>(NLMSG_DATA(header));
            int attrLength = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
            bool haveMac = false;
            bool sameDst = false;
            for (auto* a = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(neighbour) +
                                                     NLMSG_ALIGN(sizeof(ndmsg)));
                 RTA_OK(a, attrLength); a = RTA_NEXT(a, attrLength)) {
                if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6) {
                    std::memcpy(mac->data(), RTA_DATA(a), 6);
                    haveMac = true;
                } else if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4) {
                    uint32_t dst = 0;
                    std::memcpy(&dst, RTA_DATA(a), 4);
                    sameDst = dst == htonl(target);
                }
            }
            if (!sameDst)
                continue;
            *state = neighbour->ndm_state;
            if (!haveMac)
                *state &= ~(NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT);
            return true;
        }
        return false;
    }

    LinkCache links_;
};

}  // namespace

std::shared_ptr<ArpResolver> MakeRawArpResolver() {
    return std::make_shared<RawArpResolver>();
}

std::shared_ptr<ArpResolver> MakeKernelArpResolver() {
    return std::make_shared<KernelArpResolver>();
}

std::shared_ptr<ArpResolver> MakeSystemArpResolver() {
    Fd probe(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (probe.ok())
        return MakeRawArpResolver();
    return MakeKernelArpResolver();
}
