#!/usr/bin/env python3
"""Writes the hand-made seeds of the fuzz corpus: tests/fuzz/corpus/<target>/seed-*.

Each seed is a small, real-looking input in the byte layout that its target's
harness reads (see the harness sources). Inputs that libFuzzer adds later keep
their hash names beside these. Run again after changing a seed; unchanged
files are left alone.
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def utf16(text):
    return text.encode("utf-16-le")


# Sections of the settings listing, in the order of the loader's table.
SECTIONS = ["File", "Language", "Send", "Port", "Printer", "IPAddress"]


def listing(section, lines):
    """A section listing as the profile call hands it over: NUL after each
    line and one more at the end. The harness takes the section from the
    first character, so a lead line picks it."""
    lead = next(c for c in "ABCDEFGHIJKLMNOPQRSTUVWXYZ" if ord(c) % 6 == SECTIONS.index(section))
    text = "\0".join([lead + "=x"] + lines) + "\0\0"
    return utf16(text)


def settings_seeds():
    return {
        "file": listing("File", ["Type=PowerOn"]),
        "language": listing("Language", ["Country=Japan", "Country=English"]),
        "send": listing("Send", ["Filename=C:\\fw\\km510.hex"]),
        "port": listing("Port", ["Connected=LAN", "PortUSB=", "PortCOM=COM12", "PortLPT=LPT3", "PortLAN=Port002"]),
        "printer": listing("Printer", ["Connected=Printer02", "Printer01=KM-510,fe5a/0a01/,Enable,hx*",
                                        "Printer02=KM-1000,fe5a/0a02/,Disable,hx*", "Printer07=LX7400,,Enable,Disable",
                                        "Printer09=AB-4=trailing"]),
        "ipaddress": listing("IPAddress", ["Port001=1,KM-510,192.168.0.20,02:5A:C3:00:00:01",
                                           "Port002=0,\u30d7\u30ea\u30f3\u30bf,10.0.0.7,None,0010 MFG:X;MDL:KM-510;",
                                           "Port003=x,,,"]),
        "unterminated": utf16("C=Country=Japan"),
    }


def usb_seeds():
    guid = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"
    return {
        "printer": utf16("\\\\?\\usb#vid_fe5a&pid_0a01#X1234567#" + guid),
        "no-serial-end": utf16("\\\\?\\usb#vid_fe5a&pid_0a02#X1"),
        "upper-case": utf16("\\\\?\\USB#VID_FE5A&PID_0A01#X1#" + guid),
        "composite": utf16("\\\\?\\usb#vid_04b8&pid_0202&mi_00#7&2a1f&0&0000#" + guid),
    }


def firmware_header(number, version, size=160, offset=0):
    block = bytearray(size)
    block[offset:offset + 3] = b"Ht1"
    block[offset + 12:offset + 14] = struct.pack("<H", 1)
    block[offset + 14] = 0x24
    block[offset + 32:offset + 32 + len(number)] = number
    block[offset + 48:offset + 48 + len(version)] = version
    return bytes(block)


def firmware_seeds():
    return {
        "header": firmware_header(b"ABC-123", b"01.23  A"),
        "header-later": firmware_header(b"KM510FW", b"02.00", size=200, offset=64),
        "texts-unterminated": firmware_header(b"N" * 16, b"V" * 40, size=88),
    }


def ipv4_echo_reply(identifier, ihl=5, icmp_type=0):
    header = bytes([0x40 | ihl, 0, 0, 64, 0, 0, 0, 0, 64, 1, 0, 0, 192, 168, 0, 20, 192, 168, 0, 255])
    header += bytes(4 * ihl - 20)
    icmp = bytes([icmp_type, 0, 0, 0]) + struct.pack("<HH", identifier, 1) + bytes(range(0x20, 0x40))
    return header + icmp


def echo_seeds():
    ident = 0x1234
    prefix = struct.pack("<H", ident)
    return {
        "reply": prefix + ipv4_echo_reply(ident),
        "reply-options": prefix + ipv4_echo_reply(ident, ihl=7),
        "request": prefix + ipv4_echo_reply(ident, icmp_type=8),
        "short": prefix + ipv4_echo_reply(ident)[:24],
    }


def dhcp_request(mac):
    msg = bytearray(240)
    msg[0:4] = bytes([1, 1, 6, 0])
    msg[4:8] = b"\x39\x03\xf3\x26"
    msg[28:34] = mac
    msg[236:240] = b"\x63\x82\x53\x63"
    return bytes(msg) + bytes([53, 1, 1, 255])


def dhcp_seeds():
    return {
        "maker": bytes([0]) + dhcp_request(bytes([0x02, 0x5A, 0xC3, 0x10, 0x20, 0x30])),
        "other-maker": bytes([3]) + dhcp_request(bytes([0x00, 0x1B, 0x21, 0x01, 0x02, 0x03])),
        "list-full": bytes([0xFF]) + dhcp_request(bytes([0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x01])),
        "short": bytes([1]) + dhcp_request(bytes(6))[:30],
    }


READFIX_TEXT = b"Firmware Number  ABC-123\r\nFirmware Version  01.23  A\r\nBaud Rate  115200\r\n\x00"


def readfix_seeds():
    return {
        "readfix": READFIX_TEXT,
        "readfix-lower": b"firmware number KM510\r\nfirmware version 1.0\r\n\x00",
        "readfix-long-field": b"Firmware Number  " + b"9" * 24 + b"\r\nFirmware Version  1\r\n\x00",
        "readvari": b"7aSN000001\r\x00",
        "readvari-no-end": b"7aSN0000",
    }


def hexdump_seeds():
    return {
        "readfix-reply": b"\x29" + b"7`" + READFIX_TEXT,
        "reset3": b"\x00;3\x00",
        "binary": bytes(range(256)),
    }


def device_id_seeds():
    text = b"MFG:Kitmaker;CMD:ESC/POS;MDL:KM-510;CLS:PRINTER;DES:Receipt printer;"
    return {
        "hex-form": b"\x00" + b"%04x " % (len(text) + 2) + text,
        "big-endian": b"\x01" + struct.pack(">H", len(text) + 2) + text,
        "model-key": b"\x00" + b"%04x " % 30 + b"MODEL:KT-220;MDL:other;",
        "length-too-big": b"\x00ffff MDL:KM-1000;",
        "length-too-small": b"\x01\x00\x01MFG:X;MDL:LX7600;",
    }


def journal_line(name, ports):
    fields = name + "\t" + ports
    return "P\t%s\t%08x\n" % (fields, zlib.crc32(fields.encode("utf-8")) & 0xFFFFFFFF)


def journal_seeds():
    whole = ("RomsmithPortJournal 1\n" + journal_line("Receipt 1", "USB001")
             + journal_line("レシート 2", "LPT1:,COM3:") + "End\t2\n").encode("utf-8")
    return {"two": whole, "cut": whole[: len(whole) // 2],
            "escaped": ("RomsmithPortJournal 1\n" + journal_line("a\\\\b\\tc", "USB002") + "End\t1\n").encode("utf-8")}


SEEDS = {
    "settings_rules_fuzz": settings_seeds,
    "usb_device_path_fuzz": usb_seeds,
    "firmware_header_fuzz": firmware_seeds,
    "lanquay_echo_reply_fuzz": echo_seeds,
    "lanquay_dhcp_request_fuzz": dhcp_seeds,
    "readfix_parse_fuzz": readfix_seeds,
    "hex_dump_fuzz": hexdump_seeds,
    "net_device_id_fuzz": device_id_seeds,
    "port_journal_fuzz": journal_seeds,
}


def main():
    for target, make in SEEDS.items():
        folder = os.path.join(CORPUS, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in make().items():
            path = os.path.join(folder, "seed-" + name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    if f.read() == data:
                        continue
            with open(path, "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
