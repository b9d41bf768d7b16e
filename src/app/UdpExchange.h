#pragma once

#include <QByteArray>

// Sends one datagram to address:port from a port the system chooses and, when waitMs > 0,
// waits up to waitMs for one datagram back from that address (from any of its ports: phones
// may answer from their SIP port); datagrams from other addresses are ignored. False when the
// datagram could not be sent (for example an address that is not dotted IPv4). A missing answer
// leaves reply empty.
bool UdpExchange(const QByteArray& address, int port, const QByteArray& message, int waitMs,
                 QByteArray* reply);
