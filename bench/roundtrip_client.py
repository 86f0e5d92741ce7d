#!/usr/bin/env python3
"""GetApertureAngles the way a lab script would do it: the standard socket module, a time-out,
the reply checked and decoded.

Usage: roundtrip_client.py HOST PORT. Reads a count per line from standard input, runs that many
round trips and answers with one line: the loop's elapsed nanoseconds, the process CPU
nanoseconds it used, then each round trip's time in nanoseconds. Ends at end of input."""
import socket
import struct
import sys
import time


def get_aperture_angles(sock, device):
    sock.sendto(b"VNGEAA", device)
    data, _ = sock.recvfrom(1024)
    if data[:6] != b"ERGEAA" or len(data) < 10:
        raise SystemExit("unexpected reply %r" % data)
    azimuth, elevation = struct.unpack(">Hh", data[6:10])
    return azimuth / 100.0, elevation / 100.0


def main():
    device = (sys.argv[1], int(sys.argv[2]))
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(0.5)
    for line in sys.stdin:
        count = int(line)
        times = [0] * count
        cpu0 = time.process_time_ns()
        started = time.perf_counter_ns()
        for i in range(count):
            t0 = time.perf_counter_ns()
            get_aperture_angles(sock, device)
            times[i] = time.perf_counter_ns() - t0
        elapsed = time.perf_counter_ns() - started
        cpu = time.process_time_ns() - cpu0
        sys.stdout.write(" ".join(str(v) for v in [elapsed, cpu] + times) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
