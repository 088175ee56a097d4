#!/usr/bin/env python3
"""Plays printers without an address: broadcasts DHCP DISCOVER messages from
client port 68 to 255.255.255.255:67, cycling through the hardware addresses
given on the command line ("short" sends a datagram too short to hold one;
"big=MAC" a request padded beyond any receive buffer, 3000 bytes).

With --control ADDRESS:PORT it also takes one-word lines there, each
answered "OK":
    calm        the cycle above, one datagram every 50 ms (the start state)
    dhcp_flood  DHCP requests without pause: the cycle mixed with a stream
                of fresh maker addresses, short and oversized datagrams
    echo_flood  malformed echo replies without pause to --target, their
                source forged as each host of the rig in turn
Runs until killed; it is started only inside a test's own network namespace.
"""
import argparse
import socket
import struct
import threading
import time

state = {"mode": "calm"}


def discover(mac_text, xid):
    hw = bytes.fromhex(mac_text.replace(":", ""))
    msg = struct.pack("!BBBBIHH4s4s4s4s", 1, 1, 6, 0, xid, 0, 0x8000, b"\0" * 4, b"\0" * 4, b"\0" * 4, b"\0" * 4)
    msg += hw + b"\0" * (16 - len(hw)) + b"\0" * 192 + b"\x63\x82\x53\x63" + b"\x35\x01\x01\xff"
    return msg


def datagram(mac, xid):
    if mac == "short":
        return b"\x01\x01\x06"
    if mac.startswith("big="):
        return discover(mac[4:], xid) + b"\0" * 3000
    return discover(mac, xid)


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    total = (total >> 16) + (total & 0xFFFF)
    total += total >> 16
    return ~total & 0xFFFF


def bad_echo_replies():
    """ICMP messages a search must never take for a printer's answer."""
    def echo(ident, seq, payload, type_=0, code=0, good_sum=True):
        head = struct.pack("!BBHHH", type_, code, 0, ident, seq)
        s = checksum(head + payload) if good_sum else 0x1234
        return struct.pack("!BBHHH", type_, code, s, ident, seq) + payload
    return [
        b"\x00",                                   # one byte
        b"\x00\x00\x00\x00\x01",                   # cut inside the header
        echo(0x0001, 0, b"E" * 32),                # the broadcast's identifier
        echo(0xBEEF, 1, b"E" * 32),                # a stranger's identifier
        echo(0x4242, 2, b"E" * 32, good_sum=False),
        echo(0x0000, 0, b"E" * 32, type_=8),       # a request, not a reply
        echo(0x7777, 0, b"E" * 1400),              # longer than the reply buffer
    ]


def ip_header(source, target, length):
    head = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + length, 0, 0, 64, socket.IPPROTO_ICMP, 0,
                       socket.inet_aton(source), socket.inet_aton(target))
    return head[:10] + struct.pack("!H", checksum(head)) + head[12:]


def serve_control(address):
    host, _, port = address.rpartition(":")
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((host, int(port)))
    listener.listen(4)
    while True:
        conn, _ = listener.accept()
        with conn, conn.makefile("rwb", buffering=0) as f:
            for raw in f:
                word = raw.decode("ascii", "replace").strip()
                if word in ("calm", "dhcp_flood", "echo_flood"):
                    state["mode"] = word
                    f.write(b"OK\n")
                else:
                    f.write(b"ERR unknown mode\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--control")
    ap.add_argument("--target", default="10.250.7.1")
    ap.add_argument("--sources", default="10.250.7.11,10.250.7.12,10.250.7.13,10.250.7.14")
    ap.add_argument("macs", nargs="*")
    args = ap.parse_args()
    if args.control:
        threading.Thread(target=serve_control, args=(args.control,), daemon=True).start()

    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # No route covers the limited broadcast in the test namespace: name the link.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, b"eth0")
    s.bind(("0.0.0.0", 68))
    raw = None
    replies = bad_echo_replies()
    sources = args.sources.split(",")
    xid = 1
    while True:
        mode = state["mode"]
        if mode == "echo_flood":
            if raw is None:
                raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
            for source in sources:
                for reply in replies:
                    try:
                        raw.sendto(ip_header(source, args.target, len(reply)) + reply, (args.target, 0))
                    except OSError:
                        pass
            time.sleep(0.01)
            continue
        for mac in args.macs:
            s.sendto(datagram(mac, xid), ("255.255.255.255", 67))
            if mode == "dhcp_flood":
                # Fresh maker addresses, so a listen sees more than it may list.
                fresh = "02:5A:C3:%02X:%02X:%02X" % ((xid >> 16) & 0xFF, (xid >> 8) & 0xFF, xid & 0xFF)
                s.sendto(discover(fresh, xid), ("255.255.255.255", 67))
                s.sendto(b"\x01", ("255.255.255.255", 67))
                time.sleep(0.002)
            else:
                time.sleep(0.05)
            xid += 1


if __name__ == "__main__":
    main()
