#!/usr/bin/env python3
"""ziv's stream() timed like the reference client (same output line, first
word "python"), or with --rss: resident memory over a long stream, sampled
after the warm-up and every 10 % (each image a new numpy array, dropped).

usage: bench_stream.py --port P [--host 127.0.0.1] --size WxH [--images N] [--rss]
"""
import argparse
import resource
import sys
import time

import ziv


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() // 1024


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--size", required=True)
    p.add_argument("--images", type=int, default=0)
    p.add_argument("--rss", action="store_true")
    a = p.parse_args()
    width, height = (int(v) for v in a.size.split("x"))
    images = a.images or max(20, int(3e9 / (width * height)))
    cam = ziv.Camera(a.host, a.port, timeout=10)
    warm = 1000 if a.rss else 3
    # The warm-up goes through the same loop as the timed images, so that the
    # heap already holds what the loop keeps (the last array while the next
    # one is made) when the first sample is taken.
    samples = []
    step = max(1, images // 10)
    payload = 0
    start = None
    for i, image in enumerate(cam.stream(dx=width, dy=height, count=warm + images), 1 - warm):
        if i == 0:
            samples.append(rss_kib())
            start = time.perf_counter()
        elif i > 0:
            payload += image.size
            if a.rss and i % step == 0:
                samples.append(rss_kib())
    s = time.perf_counter() - start
    if payload != images * width * height:
        sys.exit("bench_stream: the server delivered another size than requested")
    print(f"python {a.size} images/s {images / s:.1f} GB/s {payload / s / 1e9:.3f} "
          f"ms/image {s * 1e3 / images:.4f} images {images}")
    if a.rss:
        print(f"rss KiB after warm-up {samples[0]} then {' '.join(map(str, samples[1:]))} "
              f"growth {samples[-1] - samples[0]} max-growth {max(samples) - samples[0]}")


if __name__ == "__main__":
    main()
