#pragma once

#include <QByteArray>
#include <cstdint>

// Picks the phone's MAC, Via host and port, and Call-ID out of a received SIP datagram. A
// packet overwrites only the fields it carries; the others keep the values of earlier packets.
class SipPackAnalyser {
  public:
    void Parse(const QByteArray& packet);

    QByteArray Host() const { return host_; }
    int32_t Port() const { return port_; }
    // "MAC" and the twelve characters of the last SUBSCRIBE's request URI (not taken when
    // they hold a blank or a control byte).
    QByteArray Mac() const { return mac_; }
    QByteArray CallId() const { return callId_; }

  private:
    QByteArray host_;
    QByteArray callId_;
    QByteArray mac_;
    int32_t port_ = 0;
};
