#!/usr/bin/env python3
"""SIP desk phones for the phone lab.

One process plays every phone of a lab: each phone has its UDP socket (port 60000) made inside
its own network namespace, and answers the NOTIFY requests that the provisioning tool sends
there. Each event has its handler in Phone.handlers; an event without one is logged and left
unanswered. Work that a phone does from its own network (fetching a file, joining a multicast
group) goes into a thread that enters the phone's namespace first (in_namespace).

  phone_sim.py --phones FILE   lines "namespace<TAB>user-agent" (namespace "-": this one)
  phone_sim.py --user-agent UA one phone in this namespace
"""
import argparse
import ctypes
import os
import selectors
import signal
import socket
import sys

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)


def enter_namespace(name):
    """Moves the calling thread into the named network namespace ("-": stays)."""
    if name == "-":
        return
    fd = os.open("/run/netns/" + name, os.O_RDONLY)
    try:
        if _libc.setns(fd, CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "setns " + name)
    finally:
        os.close(fd)


class in_namespace:
    """with in_namespace(name): sockets made inside belong to that namespace."""

    def __init__(self, name):
        self.name = name

    def __enter__(self):
        self.home = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        enter_namespace(self.name)

    def __exit__(self, *exc):
        _libc.setns(self.home, CLONE_NEWNET)
        os.close(self.home)


def header(message, name):
    """The value of the first header line with this name (None when there is none)."""
    for line in message.split("\r\n")[1:]:
        if not line:
            break
        key, sep, value = line.partition(":")
        if sep and key.strip().lower() == name.lower():
            return value.strip()
    return None


class Phone:
    def __init__(self, namespace, user_agent, port, log=None):
        self.namespace = namespace
        self.user_agent = user_agent
        self.log = log
        with in_namespace(namespace):
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.sock.bind(("0.0.0.0", port))
        self.handlers = {"check-online": self.answer_check_online}

    def answer(self, request, sender, status="200 OK"):
        lines = ["SIP/2.0 " + status]
        for name in ("Via", "To", "From", "Call-ID", "CSeq"):
            value = header(request, name)
            if value is not None:
                lines.append(name + ": " + value)
        lines += ["User-Agent: " + self.user_agent, "Content-Length: 0", "", ""]
        self.sock.sendto("\r\n".join(lines).encode(), sender)

    def answer_check_online(self, request, sender):
        self.answer(request, sender)

    def handle(self):
        data, sender = self.sock.recvfrom(65536)
        if self.log:
            with open(self.log, "ab") as f:
                f.write(self.namespace.encode() + b"\t" + repr(data).encode() + b"\n")
        request = data.decode("utf-8", "replace")
        event = (header(request, "Event") or "").split(";")[0].strip()
        handler = self.handlers.get(event)
        if request.startswith("NOTIFY ") and handler:
            handler(request, sender)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--phones", help="file of lines namespace<TAB>user-agent")
    parser.add_argument("--user-agent", help="one phone in this namespace")
    parser.add_argument("--port", type=int, default=60000)
    parser.add_argument("--ready", help="file made once every phone has bound its port")
    parser.add_argument("--log", help="file that gets every datagram received")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    specs = []
    if args.phones:
        with open(args.phones) as f:
            specs = [line.rstrip("\n").split("\t", 1) for line in f if line.strip()]
    if args.user_agent:
        specs.append(["-", args.user_agent])
    if not specs:
        parser.error("no phone given")

    selector = selectors.DefaultSelector()
    for namespace, user_agent in specs:
        phone = Phone(namespace, user_agent, args.port, args.log)
        selector.register(phone.sock, selectors.EVENT_READ, phone)
    if args.ready:
        open(args.ready, "w").close()
    while True:
        for key, _ in selector.select():
            key.data.handle()


if __name__ == "__main__":
    main()
