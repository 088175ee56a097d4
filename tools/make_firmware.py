#!/usr/bin/env python3
"""Writes a sample firmware data file for the demo, the screenshots and the
benchmark: deterministic bytes without ESC or GS (so the block holds no
printer command) and, in files above 512000 bytes, a firmware header whose
two texts Romsmith shows under the file name.

    make_firmware.py PATH BYTES [TEXT_A TEXT_B]
"""
import struct
import sys


def main():
    path, size = sys.argv[1], int(sys.argv[2])
    text_a = (sys.argv[3] if len(sys.argv) > 3 else "KM-510").encode("ascii")[:15]
    text_b = (sys.argv[4] if len(sys.argv) > 4 else "Ver 2.01 sample").encode("ascii")[:15]
    out = bytearray()
    x = 12345
    while len(out) < size:
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        b = (x >> 16) & 0xFF
        out.append(0x20 if b in (0x1B, 0x1D) else b)
    if size > 512000:
        header = bytearray(b"Ht1" + b"\x00" * 9 + struct.pack("<HH", 1, 0x24) + b"\x00" * 16)
        header += text_a.ljust(16, b"\x00") + text_b + b"\x00"
        out[0:len(header)] = header
    open(path, "wb").write(out)


if __name__ == "__main__":
    main()
