#!/usr/bin/python3
"""The peer decoder for yencbench: Debian's python3-sabyenc on the same article files.

Usage: sabyenc-peer.py ITERATIONS FILE...
Each file is one article as the server sends it (body, then the "." line). The files are read
into memory first; then every article is decoded ITERATIONS times over (decoding and CRC-32, as
sabyenc does them in one call) and "<best MB/s> <peak kB>" is printed, MB being 10^6 decoded
bytes and the peak the process's VmHWM. Exits 1 when an article does not decode with a good CRC.
"""
import sys
import time

import sabyenc3


def peak_kilobytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def main():
    iterations = int(sys.argv[1])
    articles = []
    for name in sys.argv[2:]:
        with open(name, "rb") as article:
            # One chunk per article: the least work for the peer before it decodes.
            articles.append([article.read()])
    best = 0.0
    for _ in range(iterations):
        decoded = 0
        start = time.perf_counter()
        for chunks in articles:
            data, _name, crc_good = sabyenc3.decode_usenet_chunks(chunks)
            if not crc_good:
                print("a part did not verify")
                return 1
            decoded += len(data)
        best = max(best, decoded / (time.perf_counter() - start) / 1e6)
    print(f"{best:.1f} {peak_kilobytes()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
