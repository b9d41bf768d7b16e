#!/usr/bin/env python3
"""ARP answers that come late, for hosts of the phone lab.

Each listed host's kernel answers no ARP request (lab.sh sets arp_ignore=8 on its eth0); this
process answers for it instead: a packet socket on the host's eth0, made inside the host's
namespace, hears the requests for the host's address and answers each one --delay-ms later.

  late_arp.py --hosts FILE --delay-ms 150 [--ready FILE]
      FILE: lines "namespace<TAB>address<TAB>MAC"
"""
import argparse
import heapq
import os
import selectors
import signal
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from phone_sim import in_namespace  # noqa: E402

ETH_P_ARP = 0x0806
# hardware type, protocol type, their lengths, operation, sender MAC and IP, target MAC and IP
ARP = struct.Struct("!HHBBH6s4s6s4s")


class Host:
    def __init__(self, namespace, address, mac):
        self.address = socket.inet_aton(address)
        self.mac = bytes.fromhex(mac.replace(":", "").replace("-", ""))
        with in_namespace(namespace):
            self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ARP))
            self.sock.bind(("eth0", ETH_P_ARP))

    def answer_for(self, packet):
        """The reply to a request for this host's address (None for anything else)."""
        if len(packet) < ARP.size:
            return None
        hw, proto, hlen, plen, op, sender_mac, sender_ip, _, target_ip = ARP.unpack_from(packet)
        if (hw, proto, hlen, plen, op) != (1, 0x0800, 6, 4, 1) or target_ip != self.address:
            return None
        reply = ARP.pack(1, 0x0800, 6, 4, 2, self.mac, self.address, sender_mac, sender_ip)
        return reply, sender_mac


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--hosts", required=True)
    parser.add_argument("--delay-ms", type=float, default=150.0)
    parser.add_argument("--ready", help="file made once every socket is open")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    selector = selectors.DefaultSelector()
    with open(args.hosts) as f:
        for line in f:
            if line.strip():
                host = Host(*line.rstrip("\n").split("\t")[:3])
                selector.register(host.sock, selectors.EVENT_READ, host)
    if args.ready:
        open(args.ready, "w").close()

    due = []  # (time, sequence, host, reply, destination MAC)
    sequence = 0
    while True:
        now = time.monotonic()
        while due and due[0][0] <= now:
            _, _, host, reply, destination = heapq.heappop(due)
            host.sock.sendto(reply, ("eth0", ETH_P_ARP, 0, 0, destination))
        wait = max(0.0, due[0][0] - now) if due else None
        for key, _ in selector.select(wait):
            host = key.data
            answer = host.answer_for(host.sock.recv(2048))
            if answer:
                sequence += 1
                heapq.heappush(due, (time.monotonic() + args.delay_ms / 1000.0, sequence, host,
                                     *answer))


if __name__ == "__main__":
    main()
