#!/usr/bin/env python3
"""SIP desk phones for the phone lab.

One process plays every phone of a lab: each phone has its UDP socket (port 60000) made inside
its own network namespace, and answers the NOTIFY requests that the provisioning tool sends
there. Each event has its handler in Phone.handlers; an event without one is logged and left
unanswered. Work that a phone does from its own network (fetching a file, joining a multicast
group) goes into a thread that enters the phone's namespace first (in_namespace).

A "ua-profile" NOTIFY makes the phone fetch its configuration from the URL of the body, over
HTTP or, for a tftp:// URL, over TFTP (octet mode, lock-step): URL + "/cfg" + its MAC (twelve
lower-case digits), or, when the body ends in "$input.cfg", the folder before it + "/" + its
PIN + ".cfg" (the PIN is the plain MAC unless the phones file gives one). With --fetched DIR the
bytes are kept as DIR/<plain MAC> (written whole, then renamed) and every fetch leaves a line
in DIR/fetches.log: MAC, URL, status (HTTP's, or for TFTP 200 when the whole file came and the
server's error code otherwise; -1 when nothing came) and the length. An https:// URL is
fetched trusting only the certificate of --cafile FILE (read at each fetch, so the server may
make it after the phones have started); user info in a URL ("user:password@", percent-encoded)
is sent as Basic credentials, as phones do.

With --subscribe GROUP:PORT every phone announces itself at start: it sends a SUBSCRIBE
carrying "MAC" + its MAC from its own socket to the group (--subscribe-count times, spread over
--subscribe-window seconds). --timings FILE gets one line per answered SUBSCRIBE: Call-ID, then
the milliseconds from the SUBSCRIBE to the NOTIFY that carried its Call-ID.

With --fetch-lease FILE (a lease of dhcp_phone.sh, lines NAME=VALUE) the phone in this
namespace fetches once from the URL its DHCP lease gave it (option 160, else option 66; an
address alone in option 66 is a TFTP server) and ends.

  phone_sim.py --phones FILE   lines "namespace<TAB>user-agent[<TAB>MAC<TAB>address[<TAB>PIN]]"
                               (namespace "-": this one)
  phone_sim.py --user-agent UA one phone in this namespace
  phone_sim.py --fetch-lease FILE --mac MAC --fetched DIR [--cafile FILE]
"""
import argparse
import base64
import ctypes
import os
import selectors
import signal
import socket
import ssl
import sys
import threading
import time
import struct
import urllib.error
import urllib.parse
import urllib.request

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


def body_of(data):
    """The bytes after the header block, cut to Content-Length when it is given."""
    head, sep, body = data.partition(b"\r\n\r\n")
    if not sep:
        return b""
    length = header(head.decode("utf-8", "replace") + "\r\n", "Content-Length")
    if length is not None and length.isdigit():
        body = body[: int(length)]
    return body


def tftp_get(url, timeout=5.0, tries=5):
    """Reads a file by TFTP (RFC 1350, octet, 512-byte blocks): (status, bytes) as fetch keeps
    them. Every DATA is acknowledged from the same socket; packets from another port than the
    transfer's are told so (ERROR 5); a block not answered in time asks again (the last ACK, or
    the request)."""
    parts = urllib.parse.urlsplit(url)
    server = (parts.hostname, parts.port or 69)
    request = struct.pack("!H", 1) + parts.path.encode() + b"\0octet\0"
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(timeout)
    content, block, peer, last = b"", 1, None, request
    try:
        sock.sendto(request, server)
        missed = 0
        while True:
            try:
                packet, sender = sock.recvfrom(65536)
            except socket.timeout:
                missed += 1
                if missed >= tries:
                    return -1, content
                sock.sendto(last, peer or server)
                continue
            if peer is None:
                peer = sender
            if sender != peer:
                sock.sendto(struct.pack("!HH", 5, 5) + b"Unknown transfer ID\0", sender)
                continue
            opcode, number = struct.unpack("!HH", packet[:4])
            if opcode == 5:
                return number, content
            if opcode != 3:
                continue
            missed = 0
            if number == block % 65536:
                content += packet[4:]
                block += 1
            last = struct.pack("!HH", 4, number)
            sock.sendto(last, peer)
            if number == (block - 1) % 65536 and len(packet) - 4 < 512:
                return 200, content
    finally:
        sock.close()


def profile_url(body, mac, pin):
    """Where a phone fetches its configuration, given the URL of a ua-profile NOTIFY."""
    url = body.decode("utf-8", "replace").strip()
    if url.endswith("$input.cfg"):
        return url[: -len("$input.cfg")].rstrip("/") + "/" + pin + ".cfg"
    return url.rstrip("/") + "/cfg" + mac


class Phone:
    def __init__(self, namespace, user_agent, port, log=None, mac="", address="", pin="",
                 fetched=None, timings=None, cafile=None):
        self.namespace = namespace
        self.user_agent = user_agent
        self.log = log
        self.mac = mac.replace("-", "").replace(":", "").lower()
        self.address = address
        self.pin = pin or self.mac
        self.port = port
        self.fetched = fetched
        self.timings = timings
        self.cafile = cafile
        self.sent = {}  # Call-ID of each SUBSCRIBE sent: its time
        with in_namespace(namespace):
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
            self.sock.bind(("0.0.0.0", port))
        self.handlers = {"check-online": self.answer_check_online,
                         "ua-profile": self.fetch_profile}

    def answer(self, request, sender, status="200 OK"):
        lines = ["SIP/2.0 " + status]
        for name in ("Via", "To", "From", "Call-ID", "CSeq"):
            value = header(request, name)
            if value is not None:
                lines.append(name + ": " + value)
        lines += ["User-Agent: " + self.user_agent, "Content-Length: 0", "", ""]
        self.sock.sendto("\r\n".join(lines).encode(), sender)

    def answer_check_online(self, request, sender, data):
        self.answer(request, sender)

    def fetch_profile(self, request, sender, data):
        self.answer(request, sender)
        call_id = header(request, "Call-ID")
        started = self.sent.pop(call_id, None) if call_id else None
        if started is not None and self.timings:
            with open(self.timings, "a") as f:
                f.write("%s\t%.3f\n" % (call_id, (time.monotonic() - started) * 1000))
        if self.fetched is None:
            return
        url = profile_url(body_of(data), self.mac, self.pin)
        threading.Thread(target=self.fetch, args=(url,), daemon=True).start()

    def fetch(self, url):
        """GET url (or read it by TFTP) from the phone's own network; the bytes go to
        fetched/<MAC>."""
        status, content = 0, b""
        with in_namespace(self.namespace):
            try:
                if url.startswith("tftp://"):
                    status, content = tftp_get(url)
                else:
                    status, content = self.http_get(url)
            except urllib.error.HTTPError as e:
                status = e.code
            except OSError as e:
                status = -1
        if status == 200:
            part = os.path.join(self.fetched, ".%s.%d" % (self.mac, threading.get_ident()))
            with open(part, "wb") as f:
                f.write(content)
            os.replace(part, os.path.join(self.fetched, self.mac))
        with open(os.path.join(self.fetched, "fetches.log"), "a") as f:
            f.write("%s\t%s\t%d\t%d\n" % (self.mac, url, status, len(content)))

    def http_get(self, url):
        """GET an http:// or https:// URL; its user info goes into an Authorization header."""
        parts = urllib.parse.urlsplit(url)
        headers = {"User-Agent": self.user_agent}
        if parts.username is not None:
            credentials = "%s:%s" % (urllib.parse.unquote(parts.username),
                                     urllib.parse.unquote(parts.password or ""))
            headers["Authorization"] = "Basic " + base64.b64encode(
                credentials.encode("utf-8")).decode("ascii")
            host = parts.hostname + (":%d" % parts.port if parts.port else "")
            url = urllib.parse.urlunsplit(parts._replace(netloc=host))
        context = None
        if parts.scheme == "https":
            context = ssl.create_default_context(cafile=self.cafile)
        request = urllib.request.Request(url, headers=headers)
        with urllib.request.urlopen(request, timeout=10, context=context) as reply:
            return reply.status, reply.read()

    def subscribe(self, group, number):
        """One SUBSCRIBE to the plug-and-play group, answered to this phone's socket."""
        call_id = "%s-%d-%d@%s" % (self.mac, number, os.getpid(), self.address)
        uri = "sip:MAC%s@%s" % (self.mac, group[0])
        lines = ["SUBSCRIBE %s SIP/2.0" % uri,
                 "Via: SIP/2.0/UDP %s:%d;branch=z9hG4bK%s%d" % (self.address, self.port,
                                                               self.mac, number),
                 "From: <%s>;tag=%d" % (uri, number),
                 "To: <%s>" % uri,
                 "Call-ID: " + call_id,
                 "CSeq: %d SUBSCRIBE" % (number + 1),
                 "Event: ua-profile",
                 "Expires: 0",
                 "User-Agent: " + self.user_agent,
                 "Content-Length: 0", "", ""]
        self.sent[call_id] = time.monotonic()
        self.sock.sendto("\r\n".join(lines).encode(), group)

    def handle(self):
        data, sender = self.sock.recvfrom(65536)
        if self.log:
            with open(self.log, "ab") as f:
                f.write(self.namespace.encode() + b"\t" + repr(data).encode() + b"\n")
        request = data.decode("utf-8", "replace")
        event = (header(request, "Event") or "").split(";")[0].strip()
        handler = self.handlers.get(event)
        if request.startswith("NOTIFY ") and handler:
            handler(request, sender, data)


def lease_url(path):
    """The configuration URL of a DHCP lease file: option 160, else option 66 (an address alone
    there names a TFTP server)."""
    values = {}
    with open(path) as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            values[name] = value
    url = values.get("option160") or values.get("option66", "")
    if url and "://" not in url:
        url = "tftp://" + url
    return url


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--phones", help="file of lines namespace<TAB>user-agent")
    parser.add_argument("--user-agent", help="one phone in this namespace")
    parser.add_argument("--port", type=int, default=60000)
    parser.add_argument("--ready", help="file made once every phone has bound its port")
    parser.add_argument("--log", help="file that gets every datagram received")
    parser.add_argument("--fetched", help="folder that keeps the configuration each phone got")
    parser.add_argument("--subscribe", metavar="GROUP:PORT",
                        help="every phone announces itself to this group at start")
    parser.add_argument("--subscribe-count", type=int, default=1)
    parser.add_argument("--subscribe-window", type=float, default=0.0, metavar="SECONDS")
    parser.add_argument("--cafile", help="the certificate https:// servers are trusted by")
    parser.add_argument("--timings", help="file of Call-ID and SUBSCRIBE-to-NOTIFY milliseconds")
    parser.add_argument("--fetch-lease", metavar="FILE",
                        help="fetch once from the URL of this DHCP lease and end")
    parser.add_argument("--mac", help="the MAC of the --fetch-lease phone")
    parser.add_argument("--duration", type=float, default=0.0,
                        help="seconds to run after the last SUBSCRIBE (0: until stopped)")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    entries = []
    if args.phones:
        with open(args.phones) as f:
            entries = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    if args.fetch_lease:
        if not args.mac or not args.fetched:
            parser.error("--fetch-lease needs --mac and --fetched")
        os.makedirs(args.fetched, exist_ok=True)
        phone = Phone("-", args.user_agent or "Orvo X100 2.0.4", 0, mac=args.mac,
                      fetched=args.fetched, cafile=args.cafile)
        url = lease_url(args.fetch_lease)
        if not url:
            sys.exit("phone_sim: the lease gave no URL")
        phone.fetch(profile_url(url.encode(), phone.mac, phone.pin))
        return
    if args.user_agent:
        entries.append(["-", args.user_agent])
    if not entries:
        parser.error("no phone given")
    if args.fetched:
        os.makedirs(args.fetched, exist_ok=True)
    if args.subscribe and any(len(entry) < 4 for entry in entries):
        parser.error("--subscribe needs the MAC and address of every phone")

    selector = selectors.DefaultSelector()
    phones = []
    for entry in entries:
        namespace, user_agent = entry[0], entry[1]
        mac, address, pin = (entry[2:] + ["", "", ""])[:3]
        phone = Phone(namespace, user_agent, args.port, args.log, mac, address, pin,
                      args.fetched, args.timings, args.cafile)
        selector.register(phone.sock, selectors.EVENT_READ, phone)
        phones.append(phone)
    if args.ready:
        open(args.ready, "w").close()

    # SUBSCRIBEs, in rounds over the phones, evenly spread over the window.
    plan = []
    if args.subscribe:
        host, _, port = args.subscribe.rpartition(":")
        group = (host, int(port))
        total = args.subscribe_count * len(phones)
        step = args.subscribe_window / total if total else 0.0
        plan = [(i * step, phones[i % len(phones)], i // len(phones)) for i in range(total)]
    start = time.monotonic()
    end = None if not args.duration else (plan[-1][0] if plan else 0.0) + args.duration
    while True:
        now = time.monotonic() - start
        while plan and plan[0][0] <= now:
            _, phone, number = plan.pop(0)
            phone.subscribe(group, number)
        if end is not None and now >= end:
            return
        wait = plan[0][0] - now if plan else (None if end is None else end - now)
        for key, _ in selector.select(wait):
            key.data.handle()


if __name__ == "__main__":
    main()
