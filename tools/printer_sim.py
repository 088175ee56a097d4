#!/usr/bin/env python3
"""Receipt printer simulator: a test tool that plays the printer.

It serves one printer on a pseudo terminal (the COM port under Wine, linked
as $WINEPREFIX/dosdevices/comN) and one printer per loopback address on the
raw data port 9100 and the command port 9200. Every byte received is
recorded. Tests steer it through a line protocol on a control port:

    <target> <command> [arguments]      ->  "OK [data]" or "ERR <why>"

target is "com" or a printer's address (for example 127.0.0.2).
Commands:
    reset                      defaults, no fault, recorded bytes cleared
    clear                      recorded bytes cleared
    set <key> <value...>       number, version, serial, fault, arg, device_id,
                               devid_size, rcvbuf, rate, next_version (the version
                               reported once a firmware write (over 1 KB
                               since the last command) was followed by a
                               version request)
    get <key>                  "OK <value>" of a key that set takes (tests that
                               stand in for line states Wine cannot report,
                               such as DSR, read the fault here)
    reply <command> <hex|->    fixed reply for reset3/readfix/readvari ("-" clears)
    received                   hex of every byte on the data path
    received_cmd               hex of every byte on the command port (9200)
    received_crc               "OK <count> <crc32 hex>" of the data path, for
                               transfers too big to move as hex
    count                      number of bytes on the data path
    received_crc               "OK <count> <crc32 hex>" of the data path (a
                               quick compare of big blocks)
    serial                     the serial number the printer holds now
    wait_count <n> <ms>        waits until n bytes arrived; "OK <count>"
    connections                data-port connections accepted so far
    stale <hex>                bytes the printer sends unasked: on COM at once
                               (they wait in the port's input queue), on a LAN
                               printer at the start of its next data-port
                               connection

Faults (set fault NAME, with "set arg N" where it takes a number):
    none, silent (no reply), wrong_header, split (reply in 3 pieces, arg ms
    apart, default 400), no_nul (reply without its final NUL), slow (accepts
    arg bytes per second), drop (drops the connection after arg bytes; on
    LAN what came beyond them stays unread, so the sender sees a reset),
    dsr (DSR held: recorded only, Wine does not report the line state),
    never_answer (port 9200: accepts and never answers), close_at_once
    (both TCP ports: accept and close at once), stall (port 9100: stops
    reading until the fault changes), close_after (port 9100: takes arg
    bytes, answering them as usual, then closes its side at once, as a
    printer that restarts once it has the whole firmware; arg 0: after its
    first read), pause (port 9100: after its first read stops reading for
    arg ms, default 45000, as a printer erasing its flash, then reads on),
    fin_reset (port 9100: takes arg bytes, then sends its FIN, takes nothing
    more and resets the connection 50 ms later, as a printer that gives up
    part way while our bytes are still on their way).
    Hostile peers, LAN printers only (both TCP ports, every reply):
    endless (the reply, then filler bytes without end until the peer goes
    away, at most two minutes), long (the reply padded to arg bytes, default
    65536, before its final NUL), trickle (the reply one byte per arg ms,
    default 1000).

"set rcvbuf N" on a LAN printer applies to data-port connections accepted
from then on (0: the system's size); with fault slow it makes a reader
whose window stays small. "set rate N" makes a LAN printer's data port
read N bytes a second whatever its fault (0: as fast as it can); with a
small rcvbuf the sender's bytes wait in its own socket meanwhile.
"set devid_size N" makes the device-ID
reply exactly N bytes (header included), sent in one piece unless split.
"""
import argparse
import os
import re
import socket
import struct
import sys
import threading
import time
import tty
import zlib

RESET3 = b"\x1b=\x02RESET3\x1b=\x03"
VERSION_PRINT = b"\x1b@\x1d(A\x02\x00\x00\x02"
READFIX = b"\x1deREADFIX"
READVARI = b"\x1deREADVARI"
SERIAL = b"\x1dgSERIAL"
DEVICE_ID_REQUEST = b"GET_DEVICE_ID  \n"
COMMAND_RE = re.compile(re.escape(RESET3) + b"|" + re.escape(VERSION_PRINT) + b"|" +
                        re.escape(READVARI) + b"|" + re.escape(READFIX) + b"|" + re.escape(SERIAL))


class Printer:
    """What one printer knows and has received. Guarded by its lock."""

    def __init__(self, name):
        self.name = name
        self.lock = threading.Condition()
        self.reset()

    def reset(self):
        self.number = "ABC-123"
        self.version = "01.23  A"
        self.next_version = ""
        self.bytes_since_command = 0
        self.serial = "SN000001"
        self.fault = "none"
        self.arg = 0
        self.device_id = "MFG:Kitmaker;CMD:ESC/POS;MDL:KM-510;CLS:PRINTER;DES:Receipt printer;"
        self.devid_size = 0
        self.rcvbuf = 0
        self.rate = 0
        self.replies = {}
        self.received = bytearray()
        self.received_cmd = bytearray()
        self.pending = bytearray()
        self.connections = 0
        self.stale = bytearray()
        # Set by the COM endpoint: writes straight to the terminal.
        self.write_now = getattr(self, "write_now", None)

    # Replies -----------------------------------------------------------
    def _reply(self, kind):
        if kind in self.replies:
            return self.replies[kind]
        wrong = self.fault == "wrong_header"
        if kind == "reset3":
            body = b";3\x01" if wrong else b";3\x00"
            return body
        if kind == "readfix":
            text = ("Firmware Number  %s\r\nFirmware Version  %s\r\nBaud Rate  115200\r\n"
                    % (self.number, self.version)).encode("latin-1")
            return (b"7b" if wrong else b"7`") + text + b"\x00"
        if kind == "readvari":
            return (b"7x" if wrong else b"7a") + self.serial.encode("latin-1") + b"\r\x00"
        return b""

    def feed(self, data):
        """Records data and returns the replies it calls for, in order."""
        out = []
        with self.lock:
            self.received += data
            self.pending += data
            self.bytes_since_command += len(data)
            while True:
                m = COMMAND_RE.search(self.pending)
                if not m:
                    # Keep a tail in case a command was split across reads.
                    del self.pending[:-16]
                    break
                cmd = m.group(0)
                end = m.end()
                if cmd == SERIAL:
                    if len(self.pending) < end + 1 or len(self.pending) < end + 1 + self.pending[end]:
                        del self.pending[:m.start()]
                        break
                    n = self.pending[end]
                    self.serial = bytes(self.pending[end + 1:end + 1 + n]).decode("latin-1")
                    end += 1 + n
                elif cmd == RESET3:
                    out.append(self._reply("reset3"))
                elif cmd == READFIX:
                    if self.next_version and self.bytes_since_command > 1024:
                        self.version, self.next_version = self.next_version, ""
                    out.append(self._reply("readfix"))
                elif cmd == READVARI:
                    out.append(self._reply("readvari"))
                del self.pending[:end]
                self.bytes_since_command = 0
            self.lock.notify_all()
        if self.fault in ("silent", "chatty"):
            return []
        if self.fault == "no_nul":
            out = [r[:-1] if r.endswith(b"\x00") else r for r in out]
        return out

    def device_id_reply(self):
        text = self.device_id
        if self.devid_size:
            text = (text + "X" * self.devid_size)[: max(self.devid_size - 5, 0)]
        data = text.encode("latin-1")
        return b"%04x " % (len(data) + 2) + data

    def send_reply(self, write, reply):
        """Writes one reply, in pieces when the split fault is on."""
        if self.fault == "long" and len(reply) < (self.arg or 65536):
            tail = reply[-1:] if reply.endswith(b"\x00") else b""
            reply = reply[: len(reply) - len(tail)] + b"X" * ((self.arg or 65536) - len(reply)) + tail
        if self.fault == "trickle":
            for i in range(len(reply)):
                if self.fault != "trickle":
                    break
                write(reply[i:i + 1])
                time.sleep((self.arg or 1000) / 1000.0)
        elif self.fault == "endless":
            # Ends with an OSError once the peer closed its side.
            write(reply)
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and self.fault == "endless":
                write(b"X" * 4096)
        elif self.fault == "split" and len(reply) > 1:
            gap = (self.arg or 400) / 1000.0
            cuts = [0, len(reply) // 3 or 1, 2 * len(reply) // 3 or 1, len(reply)]
            for a, b in zip(cuts, cuts[1:]):
                if b > a:
                    write(reply[a:b])
                    time.sleep(gap)
        else:
            write(reply)

    def read_limit(self):
        """Bytes to accept per read and the pause after it (slow reader)."""
        rate = self.rate or (self.arg if self.fault == "slow" else 0)
        if rate:
            chunk = max(1, rate // 20)
            return chunk, chunk / float(rate)
        return 65536, 0.0

    def drop_due(self, count):
        return self.fault == "drop" and count >= self.arg


# Pseudo terminal (COM) ---------------------------------------------------
class PtyEndpoint:
    def __init__(self, printer, link):
        self.printer = printer
        self.link = link
        self.master = None
        self.open_pty()

    def open_pty(self):
        master, slave = os.openpty()
        tty.setraw(slave)
        name = os.ttyname(slave)
        # Keep our slave descriptor open: the master then never sees EIO when
        # Wine closes the port between exchanges.
        self.slave = slave
        self.master = master
        self.printer.write_now = lambda data: os.write(self.master, data)
        tmp = self.link + ".tmp"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(name, tmp)
        os.replace(tmp, self.link)

    def run(self):
        while True:
            chunk, pause = self.printer.read_limit()
            try:
                data = os.read(self.master, chunk)
            except OSError:
                time.sleep(0.05)
                continue
            if not data:
                continue
            before = len(self.printer.received)
            if self.printer.drop_due(before):
                continue
            if self.printer.fault == "drop" and before + len(data) > self.printer.arg:
                data = data[: self.printer.arg - before]
            for reply in self.printer.feed(data):
                self.printer.send_reply(lambda b: os.write(self.master, b), reply)
            if self.printer.drop_due(len(self.printer.received)):
                # A dropped cable: the old terminal disappears and a fresh one
                # takes its name for the next test.
                old_master, old_slave = self.master, self.slave
                self.open_pty()
                os.close(old_master)
                os.close(old_slave)
            if pause:
                time.sleep(pause)


# TCP printers --------------------------------------------------------------
def serve_tcp(printer, host, port, handler):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((host, port))
    listener.listen(8)

    def loop():
        while True:
            conn, _ = listener.accept()
            if printer.fault == "close_at_once":
                conn.close()
                continue
            if handler is data_port and printer.rcvbuf:
                # Set on the connection, not the listener: a listener's size
                # would stay locked for every later test. The advertised
                # window follows the smaller buffer from here on.
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, printer.rcvbuf)
            threading.Thread(target=handler, args=(printer, conn), daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()


def chatter(printer, conn):
    """The chatty device's talk: one byte every arg ms while the fault lasts
    and the connection stands."""
    try:
        while printer.fault == "chatty":
            conn.send(b".")
            time.sleep((printer.arg or 200) / 1000.0)
    except OSError:
        pass


def data_port(printer, conn):
    if printer.fault == "chatty":
        threading.Thread(target=chatter, args=(printer, conn), daemon=True).start()
    with printer.lock:
        printer.connections += 1
        stale, printer.stale = bytes(printer.stale), bytearray()
    count = 0
    try:
        if stale:
            conn.sendall(stale)
        while True:
            while printer.fault == "stall":
                time.sleep(0.05)
            chunk, pause = printer.read_limit()
            if printer.fault == "fin_reset" and count >= printer.arg:
                conn.shutdown(socket.SHUT_WR)
                time.sleep(0.05)
                # A close with zero linger time sends a reset.
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                conn.close()
                return
            if printer.fault in ("drop", "fin_reset"):
                # Read no further than the drop: what was sent beyond it is
                # still unread when the connection goes, as on a printer
                # that dropped it, and the sender's side sees a reset.
                chunk = max(1, min(chunk, printer.arg - count))
            data = conn.recv(chunk)
            if not data:
                break
            if printer.fault == "drop" and count + len(data) >= printer.arg:
                printer.feed(data[: printer.arg - count])
                conn.close()
                return
            first = count == 0
            count += len(data)
            for reply in printer.feed(data):
                printer.send_reply(conn.sendall, reply)
            if printer.fault == "close_after" and count >= printer.arg:
                # Everything it was sent is read: the close is an orderly one.
                conn.close()
                return
            if printer.fault == "pause" and first:
                resume = time.monotonic() + (printer.arg or 45000) / 1000.0
                while printer.fault == "pause" and time.monotonic() < resume:
                    time.sleep(0.05)
            if pause:
                # Paced by what was read: a small window hands over less
                # than a whole chunk at a time.
                time.sleep(pause * len(data) / chunk)
    except OSError:
        pass
    finally:
        conn.close()


def command_port(printer, conn):
    try:
        while True:
            data = conn.recv(4096)
            if not data:
                break
            with printer.lock:
                printer.received_cmd += data
                wanted = DEVICE_ID_REQUEST in printer.received_cmd[-len(data) - 16:]
            if wanted and printer.fault not in ("never_answer", "silent"):
                printer.send_reply(conn.sendall, printer.device_id_reply())
    except OSError:
        pass
    finally:
        conn.close()


# Control port --------------------------------------------------------------
def control(printers, line):
    parts = line.split(" ", 2)
    if len(parts) < 2:
        return "ERR usage"
    target, cmd = parts[0], parts[1]
    rest = parts[2] if len(parts) > 2 else ""
    p = printers.get(target)
    if p is None:
        return "ERR unknown printer " + target
    with p.lock:
        if cmd == "reset":
            p.reset()
        elif cmd == "clear":
            p.received = bytearray()
            p.received_cmd = bytearray()
            p.pending = bytearray()
        elif cmd == "set":
            key, _, value = rest.partition(" ")
            if key in ("arg", "devid_size", "rcvbuf", "rate"):
                setattr(p, key, int(value))
            elif key in ("number", "version", "serial", "fault", "device_id", "next_version"):
                setattr(p, key, value)
            else:
                return "ERR unknown key " + key
        elif cmd == "get":
            if rest not in ("number", "version", "serial", "fault", "arg", "device_id", "devid_size", "rcvbuf", "rate"):
                return "ERR unknown key " + rest
            return "OK %s" % getattr(p, rest)
        elif cmd == "reply":
            kind, _, value = rest.partition(" ")
            if value == "-":
                p.replies.pop(kind, None)
            else:
                p.replies[kind] = bytes.fromhex(value)
        elif cmd == "received":
            return "OK " + p.received.hex()
        elif cmd == "received_crc":
            return "OK %d %08x" % (len(p.received), zlib.crc32(bytes(p.received)) & 0xFFFFFFFF)
        elif cmd == "received_cmd":
            return "OK " + p.received_cmd.hex()
        elif cmd == "received_crc":
            return "OK %d %08x" % (len(p.received), zlib.crc32(bytes(p.received)) & 0xFFFFFFFF)
        elif cmd == "count":
            return "OK %d" % len(p.received)
        elif cmd == "serial":
            return "OK " + p.serial
        elif cmd == "connections":
            return "OK %d" % p.connections
        elif cmd == "stale":
            data = bytes.fromhex(rest)
            if p.write_now is not None:
                p.write_now(data)
            else:
                p.stale += data
        elif cmd == "wait_count":
            n, ms = (int(x) for x in rest.split())
            deadline = time.monotonic() + ms / 1000.0
            while len(p.received) < n and time.monotonic() < deadline:
                p.lock.wait(max(0.0, deadline - time.monotonic()))
            return "OK %d" % len(p.received)
        else:
            return "ERR unknown command " + cmd
    return "OK"


def serve_control(printers, listener):
    def client(conn):
        f = conn.makefile("rwb", buffering=0)
        for raw in f:
            line = raw.decode("utf-8", "replace").strip()
            if not line:
                continue
            try:
                answer = control(printers, line)
            except Exception as e:  # a bad control line must not stop the printer
                answer = "ERR %s" % e
            f.write((answer + "\n").encode())
        conn.close()

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=client, args=(conn,), daemon=True).start()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--control", default="127.0.0.1:19900", help="host:port of the control line protocol")
    ap.add_argument("--pty", help="path of the symlink to create to the COM printer's terminal")
    ap.add_argument("--tcp", action="append", default=[], help="loopback address of a LAN printer")
    ap.add_argument("--data-port", type=int, default=9100)
    ap.add_argument("--command-port", type=int, default=9200)
    args = ap.parse_args()

    printers = {}
    if args.pty:
        printers["com"] = Printer("com")
        threading.Thread(target=PtyEndpoint(printers["com"], args.pty).run, daemon=True).start()
    for host in args.tcp:
        printers[host] = Printer(host)
        serve_tcp(printers[host], host, args.data_port, data_port)
        serve_tcp(printers[host], host, args.command_port, command_port)
    host, _, port = args.control.rpartition(":")
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((host, int(port)))
    listener.listen(8)
    threading.Thread(target=serve_control, args=(printers, listener), daemon=True).start()
    print("READY", flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
