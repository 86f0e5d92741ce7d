#!/usr/bin/env python3
"""GetApertureAngles the way a lab script would do it: the standard socket module, a time-out,
the reply checked and decoded. Prints the measured loop's elapsed nanoseconds, then one round
trip time in nanoseconds per line."""
import socket
import struct
import sys
import time


def main():
    host, port = sys.argv[1], int(sys.argv[2])
    iterations, warmup = int(sys.argv[3]), int(sys.argv[4])
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(0.5)
    device = (host, port)
    times = []
    started = 0
    for i in range(warmup + iterations):
        if i == warmup:
            started = time.perf_counter_ns()
        t0 = time.perf_counter_ns()
        sock.sendto(b"VNGEAA", device)
        data, _ = sock.recvfrom(1024)
        if data[:6] != b"ERGEAA" or len(data) < 10:
            raise SystemExit("unexpected reply %r" % data)
        azimuth, elevation = struct.unpack(">Hh", data[6:10])
        azimuth, elevation = azimuth / 100.0, elevation / 100.0
        t1 = time.perf_counter_ns()
        if i >= warmup:
            times.append(t1 - t0)
    elapsed = time.perf_counter_ns() - started
    out = [str(elapsed)] + [str(t) for t in times]
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
