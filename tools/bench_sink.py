#!/usr/bin/env python3
"""Benchmark sink: counts what a sender writes and answers "DONE\\n" once
the expected number of bytes has arrived, so the sender can time the whole
transfer up to the receiver. Serves several ports at one loopback address.

    bench_sink.py HOST[,HOST...] --ports 9100,9101 --expect BYTES [--rate B/s] [--rcvbuf B] [--report]

Several hosts make a LAN list of sinks, each with the same ports and rate.

--rate makes a slow reader that takes about that many bytes per second;
--rcvbuf shrinks the receive buffer (set before listen, so the advertised
window stays small from the first segment).
--report prints "CONN <port> <bytes> <seconds>" when a connection ends: the
time from its first byte to its last, as the receiver saw them (followed by
the host).
"""
import argparse
import socket
import sys
import threading
import time

REPORT_LOCK = threading.Lock()


def serve(conn, host, port, args):
    expect, rate = args.expect, args.rate
    start = time.monotonic()
    total = 0
    first = last = None
    done = False
    try:
        while True:
            want = 65536
            if rate:
                # Pace against the ideal schedule in slices of 1/50 s.
                want = max(1, rate // 50)
                due = start + total / float(rate)
                now = time.monotonic()
                if due > now:
                    time.sleep(due - now)
            data = conn.recv(want)
            if not data:
                break
            last = time.monotonic()
            if first is None:
                first = last
            total += len(data)
            if not done and total >= expect:
                conn.sendall(b"DONE\n")
                done = True
    except OSError:
        pass
    finally:
        conn.close()
        if args.report and first is not None:
            # One write per line: print writes the text and its newline
            # apart, and two connections ending at once ran into one line.
            with REPORT_LOCK:
                sys.stdout.write("CONN %d %d %.4f %s\n" % (port, total, last - first, host))
                sys.stdout.flush()


def listen(host, port, args):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if args.rcvbuf:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, args.rcvbuf)
    listener.bind((host, port))
    listener.listen(4)

    def loop():
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=serve, args=(conn, host, port, args), daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("host")
    ap.add_argument("--ports", default="9100,9101")
    ap.add_argument("--expect", type=int, required=True)
    ap.add_argument("--rate", type=int, default=0)
    ap.add_argument("--rcvbuf", type=int, default=0)
    ap.add_argument("--report", action="store_true")
    args = ap.parse_args()
    hosts = args.host.split(",")
    if not all(h.startswith("127.") for h in hosts):
        sys.exit("the sink listens on loopback only")
    for host in hosts:
        for port in args.ports.split(","):
            listen(host, int(port), args)
    print("READY", flush=True)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
