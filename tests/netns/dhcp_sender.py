#!/usr/bin/env python3
"""Plays printers without an address: broadcasts DHCP DISCOVER messages from
client port 68 to 255.255.255.255:67, cycling through the hardware addresses
given on the command line ("short" sends a datagram too short to hold one;
"big=MAC" a request padded beyond any receive buffer, 3000 bytes).
Runs until killed; it is started only inside a test's own network namespace.
"""
import socket
import struct
import sys
import time


def discover(mac_text, xid):
    hw = bytes.fromhex(mac_text.replace(":", ""))
    msg = struct.pack("!BBBBIHH4s4s4s4s", 1, 1, 6, 0, xid, 0, 0x8000, b"\0" * 4, b"\0" * 4, b"\0" * 4, b"\0" * 4)
    msg += hw + b"\0" * (16 - len(hw)) + b"\0" * 192 + b"\x63\x82\x53\x63" + b"\x35\x01\x01\xff"
    return msg


def main():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # No route covers the limited broadcast in the test namespace: name the link.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, b"eth0")
    s.bind(("0.0.0.0", 68))
    xid = 1
    while True:
        for mac in sys.argv[1:]:
            if mac == "short":
                data = b"\x01\x01\x06"
            elif mac.startswith("big="):
                data = discover(mac[4:], xid) + b"\0" * 3000
            else:
                data = discover(mac, xid)
            s.sendto(data, ("255.255.255.255", 67))
            xid += 1
            time.sleep(0.05)


if __name__ == "__main__":
    main()
