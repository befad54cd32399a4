#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: one small input per situation the
carving rule and the scan loop must get right, in the byte format that
tests/support/carverscenario.h and tests/support/scanscenario.h decode. Run it again after changing that
format: python3 fuzz/make_seeds.py"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

START, END, BOUNDARY_END, FAIL, SHORT, STRAY = range(6)
USUAL = [16, 32, 100, 128, 255, 256, 511, 512, 513, 520, 1000, 1024, 2048, 4096]


def code(op, want=lambda c: True):
    """The first operation byte that selects `op` and satisfies `want`."""
    return next(c for c in range(256) if c % 6 == op and want(c))


def size(n):
    if n < 20:
        return [0, n]
    if n in USUAL:
        return [1, USUAL.index(n)]
    if 17 <= n < 128:
        return [2, n - 17]
    return [3, n >> 8, n & 0xFF]


def scenario(sector_bytes, sectors, ops, fill=0, raw=b""):
    assert len(raw) % 8 == 0 and len(raw) // 8 < 256
    head = size(sector_bytes) + [sectors - 1, fill, len(raw) // 8] + list(raw)
    return bytes(head + [b for op in ops for b in op])


def start(s):
    return [code(START), s]


def end(s, at, zeros=11, breaker=False):
    c = code(END, lambda c: ((c >> 3) & 1) == int(breaker))
    return [c, s, at >> 8, at & 0xFF, zeros - 9]


def boundary_end(s, back, breaker=False):
    c = code(BOUNDARY_END, lambda c: (c >> 3) % 5 == back and ((c >> 6) & 1) == int(breaker))
    return [c, s]


def fail(s):
    return [code(FAIL), s]


def short(s, n):
    """A read of sector s that transfers n bytes."""
    if n <= 3:
        return [code(SHORT, lambda c: (c >> 3) % 8 == n), s]
    return [code(SHORT, lambda c: (c >> 3) % 8 >= 6), s, n >> 8, n & 0xFF]


def stray(s, at, which):  # which: 0 FF, 1 D8, 2 D9, 3 00
    if at < 4:
        return [code(STRAY, lambda c: (c >> 3) & 3 == which and (c >> 5) & 1), s, at]
    return [code(STRAY, lambda c: (c >> 3) & 3 == which and not (c >> 5) & 1), s,
            at >> 8, at & 0xFF]


CARVER = {
    "one-file-512": scenario(512, 8, [start(1), end(3, 200)]),
    "two-files-next-start": scenario(512, 8, [start(1), start(3), end(5, 10)]),
    "end-in-start-sector": scenario(512, 3, [start(0), end(0, 40)]),
    "end-at-sector-end-window-cut": scenario(512, 4, [start(0), end(1, 505)]),
    "ff-d9-at-sector-end": scenario(512, 4, [start(0), boundary_end(2, 2)]),
    "ff-end-d9-next-sector": scenario(512, 4, [start(0), boundary_end(2, 1)]),
    "marker-just-before-boundary": scenario(512, 4, [start(0), boundary_end(2, 3)]),
    "marker-at-boundary": scenario(512, 4, [start(0), boundary_end(2, 0)]),
    "nine-zeros-no-end": scenario(512, 4, [start(0), end(1, 100, zeros=9, breaker=True)]),
    "ten-zeros-no-end": scenario(512, 4, [start(0), end(1, 100, zeros=10, breaker=True)]),
    "failed-read-in-stream": scenario(512, 6, [start(0), fail(2), end(4, 7)]),
    "failed-read-holds-start": scenario(512, 6, [start(1), fail(1), start(3), end(4, 7)]),
    "failed-read-splits-marker": scenario(64, 6, [start(0), boundary_end(3, 1), fail(2)]),
    "short-read-in-stream": scenario(512, 5, [start(0), short(1, 100), end(3, 50)]),
    "short-read-cuts-window": scenario(512, 5, [start(0), end(1, 90), short(1, 95)]),
    "size-0": scenario(0, 10, [start(3)]),
    "size-1-history": scenario(1, 40, [stray(0, 0, 0), stray(1, 0, 1), stray(2, 0, 0)]),
    "size-2": scenario(2, 30, [start(0), stray(4, 0, 0), stray(4, 1, 2)]),
    "size-3-start-every-sector": scenario(3, 30, [start(s) for s in range(0, 30, 3)]),
    "size-17-crossing-end": scenario(17, 20, [start(1), boundary_end(5, 2), start(8), end(9, 16)]),
    "size-100": scenario(100, 20, [start(0), end(6, 60), start(7), boundary_end(12, 1)]),
    "one-byte-reads-carry-marker": scenario(64, 8, [start(0), stray(2, 0, 0), short(2, 1),
                                                    stray(3, 0, 2), short(3, 1),
                                                    stray(5, 0, 0), short(5, 2), stray(5, 1, 2)]),
    "size-4096": scenario(4096, 4, [start(0), end(2, 4000)]),
    "alphabet-noise": scenario(96, 32, [start(0), start(9), start(20)], fill=2,
                               raw=bytes((i * 37 + 11) & 0xFF for i in range(64))),
    "raw-noise": scenario(33, 24, [start(2), start(11)], fill=1,
                          raw=bytes((i * 91 + 5) & 0xFF for i in range(96))),
}

# Fault bytes of the scan target (tests/support/scanscenario.h): flags, then the values they ask for.
NT, WIN9X, VANISH, DISK, STOP, SHORT_ALL, PAST_END = 0, 1, 2, 4, 8, 16, 32


def faults(flags, vanish=None, disk=None, stop=None, short_all=None, past_end=None):
    out = [flags]
    if flags & VANISH:
        out.append(vanish)
    if flags & DISK:
        out += [disk >> 8, disk & 0xFF]  # ×4 bytes
    if flags & STOP:
        out.append(stop - 1)
    if not flags & WIN9X:
        if flags & SHORT_ALL:
            out += [short_all >> 8, short_all & 0xFF]
        if flags & PAST_END:
            out.append(past_end - 1)
    return bytes(out)


two_files = CARVER["two-files-next-start"]
SCAN = {
    "clean": faults(NT) + two_files,
    "win9x": faults(WIN9X) + CARVER["failed-read-in-stream"],
    "vanish-mid-stream": faults(VANISH, vanish=3) + CARVER["one-file-512"],
    "disk-full-second-file": faults(DISK, disk=200) + two_files,
    "stop-mid-stream": faults(STOP, stop=3) + CARVER["one-file-512"],
    "short-reads": faults(SHORT_ALL, short_all=100) + CARVER["size-100"],
    "past-end": faults(PAST_END, past_end=3) + CARVER["end-at-sector-end-window-cut"],
    "everything": faults(VANISH | DISK | STOP | SHORT_ALL | PAST_END, vanish=6, disk=100,
                         stop=7, short_all=300, past_end=2) + two_files,
    "win9x-stop-vanish": faults(WIN9X | VANISH | STOP, vanish=4, stop=6) + two_files,
    "size-0-win9x": faults(WIN9X) + CARVER["size-0"],
}


def jpegrule_seeds():
    """Inputs of jpegrule_fuzzer: a knob byte (bit 7: sector knob & 15 cannot be read;
    bit 6: the cluster size is 512 << ((knob >> 4) & 3), else learned) and a card of
    512-byte sectors. The photos are made with cjpeg (libjpeg-turbo-progs) from a small
    generated picture, baseline with restart markers and progressive."""
    import random
    import subprocess
    rnd = random.Random(7)
    w, h = 48, 32
    ppm = b"P6 %d %d 255\n" % (w, h) + bytes(
        (x * 5 + y * 3 + rnd.randrange(40)) % 256 for y in range(h) for x in range(w) for _ in range(3))

    def cjpeg(*args):
        return subprocess.run(["cjpeg", "-quality", "90", *args], input=ppm, check=True,
                              capture_output=True).stdout

    baseline, restarts, progressive = cjpeg(), cjpeg("-restart", "1"), cjpeg("-progressive")

    def pad(b, to=512):
        return b + bytes(-len(b) % to)

    noise = bytes(rnd.randrange(256) for _ in range(1024))
    cut = 512
    return {
        "one-photo": bytes([0]) + pad(baseline),
        "restarts-and-progressive": bytes([0]) + pad(restarts) + pad(progressive),
        "two-pieces-cluster-512": bytes([0x40]) + pad(restarts[:cut]) + noise + pad(restarts[cut:]),
        "two-pieces-learned": bytes([0]) + pad(baseline) + pad(baseline[:cut]) + noise[:512]
        + pad(baseline[cut:]) + pad(baseline),
        "unreadable-sector": bytes([0x81]) + pad(baseline) + pad(baseline),
        "not-a-jpeg": bytes([0]) + b"\xff\xd8\xff\x00" + bytes(508) + pad(baseline),
    }


def write(folder, seeds):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name in os.listdir(path):
        os.remove(os.path.join(path, name))
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("carver", CARVER)
    write("scan", SCAN)
    write("jpegrule", jpegrule_seeds())
    sys.exit(0)
