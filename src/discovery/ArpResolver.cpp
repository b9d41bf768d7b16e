#include "discovery/ArpResolver.h"

#include "discovery/ArpPacket.h"

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
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

namespace {

// A file descriptor closed with its holder.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
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

// Calls onReadable on a thread of its own whenever fd has something to read, until destroyed.
class FdWatcher {
  public:
    FdWatcher(int fd, std::function<void()> onReadable)
        : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          thread_([this, fd, onReadable = std::move(onReadable)] {
              pollfd p[2] = {{fd, POLLIN, 0}, {wake_.get(), POLLIN, 0}};
              for (;;) {
                  if (poll(p, 2, -1) < 0 && errno != EINTR)
                      return;
                  if (p[1].revents)
                      return;
                  if (p[0].revents)
                      onReadable();
              }
          }) {}
    ~FdWatcher() {
        const uint64_t one = 1;
        if (write(wake_.get(), &one, sizeof one) < 0) {
            // An eventfd write fails only on overflow, which one write cannot cause.
        }
        thread_.join();
    }
    FdWatcher(const FdWatcher&) = delete;
    FdWatcher& operator=(const FdWatcher&) = delete;

  private:
    Fd wake_;
    std::thread thread_;
};

// The interface that holds a local address: its index and hardware address.
struct Link {
    int index = 0;
    ArpChannel::Mac mac{};
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

// A channel whose answers come in on one descriptor, read on a thread of its own.
class WatchedChannel : public ArpChannel {
  public:
    using ArpChannel::ArpChannel;

  protected:
    // Reads what comes in on fd until Unwatch, which the subclass's destructor calls first.
    void Watch(int fd) {
        receiver_ = std::make_unique<FdWatcher>(fd, [this] { Receive(); });
    }
    void Unwatch() { receiver_.reset(); }
    virtual void Receive() = 0;

  private:
    std::unique_ptr<FdWatcher> receiver_;
};

// The resolver whose sweeps open a Channel (constructed from the link and the source address,
// ready when Start gives true).
template <class Channel>
class ResolverOf : public ArpResolver {
  public:
    explicit ResolverOf(const QString& name) : name_(name) {}
    QString Name() const override { return name_; }
    std::shared_ptr<ArpChannel> Open(uint32_t source) override {
        Link link;
        if (!FindLink(source, &link))
            return nullptr;
        auto channel = std::make_shared<Channel>(link, source);
        return channel->Start() ? channel : nullptr;
    }

  private:
    const QString name_;
};

// One packet socket for the whole sweep: the workers send their requests on it and one
// receiver hands every reply to the channel.
class RawArpChannel : public WatchedChannel {
  public:
    RawArpChannel(const Link& link, uint32_t source)
        : WatchedChannel(kRawArpTiming),
          source_(source),
          ownMac_(link.mac),
          fd_(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ARP))) {
        to_.sll_family = AF_PACKET;
        to_.sll_protocol = htons(ETH_P_ARP);
        to_.sll_ifindex = link.index;
        to_.sll_halen = 6;
        std::memset(to_.sll_addr, 0xff, 6);
    }
    ~RawArpChannel() override { Unwatch(); }

    bool Start() {
        if (!fd_.ok())
            return false;
        sockaddr_ll local = to_;
        local.sll_halen = 0;
        if (bind(fd_.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return false;
        // Our own requests need not come back to us; a burst of replies must fit.
        const int one = 1;
        setsockopt(fd_.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
        const int buffer = 1 << 20;
        setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        Watch(fd_.get());
        return true;
    }

    void Send(uint32_t target, int) override {
        const ArpPacket request = ArpRequest(ownMac_, source_, target);
        sendto(fd_.get(), &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to_),
               sizeof to_);
    }

  private:
    void Receive() override {
        for (;;) {
            char packet[64];
            sockaddr_ll from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd_.get(), packet, sizeof packet, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return;
            uint32_t sender = 0;
            Mac mac;
            if (from.sll_pkttype != PACKET_OUTGOING &&
                ReadArpReply(packet, static_cast<size_t>(n), source_, &sender, &mac))
                Answer(sender, mac);
        }
    }

    const uint32_t source_;
    const Mac ownMac_;
    Fd fd_;
    sockaddr_ll to_{};
};

bool Usable(int state) {
    return state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT);
}

// The kernel resolves: a datagram to the target's discard port starts its resolution, and
// its neighbour events (netlink) tell the outcome. The table as it stands when the sweep
// starts, kept up to date by the events, answers for addresses the kernel already knows.
//
// Each resolution holds a neighbour entry for about three seconds (three solicitations a second
// apart) and the datagram that started it; the table has a system-wide limit (gc_thresh3, 1024
// by default) beyond which the kernel starts none. So at most half that many resolutions run
// at once, and each datagram leaves from a socket of its own (queued datagrams count against
// their socket's send buffer).
class KernelArpChannel : public WatchedChannel {
  public:
    KernelArpChannel(const Link& link, uint32_t source)
        : WatchedChannel(kKernelArpTiming),
          ifindex_(link.index),
          source_(source),
          maxRunning_(MaxResolutions()),
          nl_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE)) {}
    ~KernelArpChannel() override { Unwatch(); }

    bool Start() {
        if (!Subscribe())
            return false;
        Watch(nl_.get());
        return true;
    }

    void Send(uint32_t target, int) override {
        Mac mac;
        if (Known(target, &mac)) {
            Answer(target, mac);
            return;
        }
        if (!Admit(target))
            return;
        Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(source_);
        if (!fd.ok() || bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return;
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_addr.s_addr = htonl(target);
        remote.sin_port = htons(9);
        sendto(fd.get(), "", 0, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    }

  private:
    using Clock = std::chrono::steady_clock;
    // How long a resolution is counted at most (the kernel's lasts about three seconds).
    static constexpr auto kResolutionTime = std::chrono::milliseconds(3500);

    static size_t MaxResolutions() {
        long limit = 1024;
        if (FILE* f = std::fopen("/proc/sys/net/ipv4/neigh/default/gc_thresh3", "r")) {
            if (std::fscanf(f, "%ld", &limit) != 1)
                limit = 1024;
            std::fclose(f);
        }
        return static_cast<size_t>(std::max(16L, limit / 2));
    }

    // Waits until fewer than the most resolutions run, then counts target's; false when it
    // already runs.
    bool Admit(uint32_t target) {
        std::unique_lock<std::mutex> lock(knownMutex_);
        for (;;) {
            const auto now = Clock::now();
            for (auto it = running_.begin(); it != running_.end();)
                it = now - it->second > kResolutionTime ? running_.erase(it) : std::next(it);
            if (running_.count(target))
                return false;
            if (running_.size() < maxRunning_)
                break;
            resolved_.wait_for(lock, std::chrono::milliseconds(100));
        }
        running_[target] = Clock::now();
        return true;
    }

    // Joins the neighbour events and reads the table as it stands.
    bool Subscribe() {
        if (!nl_.ok())
            return false;
        const int buffer = 1 << 20;
        setsockopt(nl_.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_nl groups{};
        groups.nl_family = AF_NETLINK;
        groups.nl_groups = RTMGRP_NEIGH;
        if (bind(nl_.get(), reinterpret_cast<sockaddr*>(&groups), sizeof groups) != 0)
            return false;
        if (!RequestTable())
            return false;
        // The table's answer ends with NLMSG_DONE; events may come in between.
        for (int read = 0; read != 1;) {
            pollfd p{nl_.get(), POLLIN, 0};
            if (poll(&p, 1, 1000) != 1)
                return false;
            read = Read();
            if (read < 0 && errno != EAGAIN && errno != EINTR)
                return false;
        }
        return true;
    }

    bool RequestTable() {
        struct {
            nlmsghdr header;
            ndmsg neighbour;
        } request{};
        request.header.nlmsg_len = sizeof request;
        request.header.nlmsg_type = RTM_GETNEIGH;
        request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.neighbour.ndm_family = AF_INET;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        return sendto(nl_.get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                      sizeof kernel) >= 0;
    }

    void Receive() override {
        for (;;) {
            if (Read() >= 0)
                continue;
            if (errno == ENOBUFS)
                RequestTable();  // events were lost: read the whole table again
            else if (errno != EINTR)
                return;
        }
    }

    // Reads one datagram and takes its messages: 1 when it ended the table's dump, 0 when not,
    // -1 when nothing was read (errno tells why).
    int Read() {
        alignas(nlmsghdr) char buffer[16384];
        const ssize_t n = recv(nl_.get(), buffer, sizeof buffer, 0);
        if (n < 0)
            return -1;
        int result = 0;
        int length = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, length);
             h = NLMSG_NEXT(h, length)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR)
                result = 1;
            else if (h->nlmsg_type == RTM_NEWNEIGH || h->nlmsg_type == RTM_DELNEIGH)
                Take(h);
        }
        return result;
    }

    void Take(const nlmsghdr* h) {
        if (h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
            return;
        const auto* neighbour = static_cast<const ndmsg*>(NLMSG_DATA(h));
        if (neighbour->ndm_family != AF_INET || neighbour->ndm_ifindex != ifindex_)
            return;
        int attrLength = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
        Mac mac{};
        bool haveMac = false;
        bool haveDst = false;
        uint32_t dst = 0;
        for (auto* a = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(neighbour) +
                                                       NLMSG_ALIGN(sizeof(ndmsg)));
             RTA_OK(a, attrLength); a = RTA_NEXT(a, attrLength)) {
            if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6) {
                std::memcpy(mac.data(), RTA_DATA(a), 6);
                haveMac = true;
            } else if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4) {
                std::memcpy(&dst, RTA_DATA(a), 4);
                haveDst = true;
            }
        }
        if (!haveDst)
            return;
        const uint32_t target = ntohl(dst);
        const bool usable =
            h->nlmsg_type == RTM_NEWNEIGH && haveMac && Usable(neighbour->ndm_state);
        const bool failed = h->nlmsg_type == RTM_NEWNEIGH && (neighbour->ndm_state & NUD_FAILED);
        {
            std::lock_guard<std::mutex> lock(knownMutex_);
            if (usable)
                known_[target] = mac;
            else
                known_.erase(target);
            if ((usable || failed) && running_.erase(target))
                resolved_.notify_all();
        }
        if (usable)
            Answer(target, mac);
        else if (failed)
            Fail(target);
    }

    bool Known(uint32_t target, Mac* mac) {
        std::lock_guard<std::mutex> lock(knownMutex_);
        const auto it = known_.find(target);
        if (it == known_.end())
            return false;
        *mac = it->second;
        return true;
    }

    const int ifindex_;
    const uint32_t source_;
    const size_t maxRunning_;
    Fd nl_;
    std::mutex knownMutex_;  // guards known_ and running_
    std::unordered_map<uint32_t, Mac> known_;
    std::unordered_map<uint32_t, Clock::time_point> running_;  // resolutions started, by target
    std::condition_variable resolved_;
};

}  // namespace

std::shared_ptr<ArpResolver> MakeRawArpResolver() {
    return std::make_shared<ResolverOf<RawArpChannel>>("raw");
}

std::shared_ptr<ArpResolver> MakeKernelArpResolver() {
    return std::make_shared<ResolverOf<KernelArpChannel>>("kernel");
}

std::shared_ptr<ArpResolver> MakeSystemArpResolver() {
    Fd probe(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (probe.ok())
        return MakeRawArpResolver();
    return MakeKernelArpResolver();
}
