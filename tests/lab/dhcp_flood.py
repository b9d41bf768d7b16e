#!/usr/bin/env python3
"""Many DHCP clients at once, for the lab's load test and benchmark: N distinct MACs each ask
for a lease (DISCOVER, then REQUEST for the address offered) from one UDP socket in the
namespace this runs in, all at the same moment, with the broadcast flag so that the answers come
by broadcast. A message without an answer is sent again after --resend seconds, at most --tries
times. Ends when every client has its ACK, or after --limit seconds; prints one JSON object:
leased (clients with an ACK), distinct (their distinct addresses), naks, first_ack_ms and
last_ack_ms (from the first DISCOVER), sent (messages sent). Exit status 0 when every client was
leased. Standard library only.

  dhcp_flood.py --count N [--device eth0] [--mac-prefix 02:4f:52:10] [--resend S] [--limit S]
"""
import argparse
import json
import os
import select
import socket
import struct
import sys
import time

COOKIE = bytes([99, 130, 83, 99])


def message(kind, xid, mac, options):
    """A BOOTREQUEST of DHCP message type kind (1 DISCOVER, 3 REQUEST)."""
    head = struct.pack("!BBBBIHH4s4s4s4s16s64s128s", 1, 1, 6, 0, xid, 0, 0x8000, bytes(4),
                       bytes(4), bytes(4), bytes(4), mac + bytes(10), bytes(64), bytes(128))
    body = bytes([53, 1, kind]) + options + bytes([255])
    packet = head + COOKIE + body
    return packet + bytes(max(0, 300 - len(packet)))


def read_options(data):
    """The options of a reply's options field, {code: bytes}."""
    out, at = {}, 240
    while at < len(data):
        code = data[at]
        if code == 0:
            at += 1
            continue
        if code == 255 or at + 1 >= len(data):
            break
        length = data[at + 1]
        out.setdefault(code, data[at + 2:at + 2 + length])
        at += 2 + length
    return out


class Client:
    def __init__(self, index, prefix):
        self.mac = prefix + struct.pack("!H", index)
        self.xid = int.from_bytes(os.urandom(4), "big")
        self.state = "discover"
        self.offered = None
        self.server = None
        self.sent_at = 0.0
        self.tries = 0
        self.acked_at = None

    def packet(self):
        if self.state == "discover":
            return message(1, self.xid, self.mac, bytes([55, 4, 1, 3, 6, 66]))
        return message(3, self.xid, self.mac,
                       bytes([50, 4]) + self.offered + bytes([54, 4]) + self.server +
                       bytes([55, 4, 1, 3, 6, 66]))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, required=True)
    parser.add_argument("--device", default="eth0")
    parser.add_argument("--mac-prefix", default="02:4f:52:10")
    parser.add_argument("--resend", type=float, default=4.0)
    parser.add_argument("--tries", type=int, default=5)
    parser.add_argument("--limit", type=float, default=120.0)
    args = parser.parse_args()
    if not 1 <= args.count <= 65535:
        parser.error("--count: 1 to 65535")
    prefix = bytes(int(b, 16) for b in args.mac_prefix.split(":"))
    if len(prefix) != 4:
        parser.error("--mac-prefix: four bytes")

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, args.device.encode())
    sock.bind(("0.0.0.0", 68))
    target = ("255.255.255.255", 67)

    clients = [Client(i, prefix) for i in range(args.count)]
    by_xid = {c.xid: c for c in clients}
    sent = naks = 0
    start = time.monotonic()

    def send(c, now):
        nonlocal sent
        sock.sendto(c.packet(), target)
        c.sent_at, c.tries = now, c.tries + 1
        sent += 1

    for c in clients:
        send(c, start)
    waiting = len(clients)
    while waiting and time.monotonic() - start < args.limit:
        now = time.monotonic()
        for c in clients:
            if c.acked_at is None and c.tries < args.tries and now - c.sent_at >= args.resend:
                send(c, now)
        ready, _, _ = select.select([sock], [], [], 0.05)
        while ready:
            data = sock.recv(2048)
            if len(data) >= 240 and data[0] == 2 and data[236:240] == COOKIE:
                c = by_xid.get(struct.unpack("!I", data[4:8])[0])
                options = read_options(data)
                kind = options.get(53, b"\0")[0]
                if c and c.acked_at is None and c.mac == data[28:34]:
                    if kind == 2 and c.state == "discover":
                        c.state, c.offered, c.server = "request", data[16:20], options.get(54)
                        c.tries = 0
                        if c.server and len(c.server) == 4:
                            send(c, time.monotonic())
                        else:
                            c.state = "discover"
                    elif kind == 5 and c.state == "request":
                        c.acked_at = time.monotonic()
                        c.offered = data[16:20]
                        waiting -= 1
                    elif kind == 6:
                        naks += 1
                        c.state, c.tries = "discover", 0
            ready, _, _ = select.select([sock], [], [], 0)
    acks = [c.acked_at - start for c in clients if c.acked_at is not None]
    report = {
        "count": args.count,
        "leased": len(acks),
        "distinct": len({c.offered for c in clients if c.acked_at is not None}),
        "naks": naks,
        "sent": sent,
        "first_ack_ms": round(min(acks) * 1000, 1) if acks else None,
        "last_ack_ms": round(max(acks) * 1000, 1) if acks else None,
    }
    print(json.dumps(report))
    sys.exit(0 if len(acks) == args.count else 1)


if __name__ == "__main__":
    main()
