#include "servers/TcpDelivery.h"

// The kernel's own TCP_INFO (the C library's lacks the byte counters).
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {
// The kernel's TCP_CLOSE state (declared only by the C library's header, which cannot be
// included beside the kernel's).
constexpr uint8_t kTcpClosed = 7;
}  // namespace

bool ReadTcpSendState(int fd, TcpSendState* state) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return false;
    state->acknowledged = info.tcpi_bytes_acked;
    state->ended = info.tcpi_state == kTcpClosed;
    return true;
}

int TcpUnacknowledgedBytes(int fd) {
    int bytes = 0;
    return ::ioctl(fd, SIOCOUTQ, &bytes) == 0 ? bytes : 0;
}
