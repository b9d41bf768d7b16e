#pragma once

#include <cstdint>

// What the kernel knows of the sending side of a TCP connection: how far the peer has
// acknowledged what was written. A byte the peer acknowledged has reached its computer; a
// byte still queued may never arrive once the connection ends.
struct TcpSendState {
    uint64_t acknowledged = 0;  // data bytes the peer acknowledged (the end-of-sending mark may
                                // add one once it is acknowledged)
    bool ended = false;         // closed or reset: nothing more will be acknowledged
};

// False when the descriptor is no TCP socket.
bool ReadTcpSendState(int fd, TcpSendState* state);

// Bytes written to the socket and not yet acknowledged by the peer, unsent ones included (and
// the end-of-sending mark once it is queued); 0 when it cannot be told.
int TcpUnacknowledgedBytes(int fd);
