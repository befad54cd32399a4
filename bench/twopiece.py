#!/usr/bin/env python3
"""A card image on which about half the photos lie in two pieces.

Usage: bench/twopiece.py CORPUS IMAGE MIB [SEED]

Clusters of 4 KiB. Round after round, each photo of CORPUS (in a shuffled order) is laid
at a cluster boundary after a gap of other data (random bytes, base64 text or zeros, 1 to
15 clusters); with probability one half a photo longer than two clusters is cut at a
random cluster boundary and its second piece laid after a further gap of 1 to 63 clusters
(which may hold the start of the next photo's gap data). Filled until the image holds MIB
MiB. Prints the number of photos placed and how many of them are in two pieces.
"""
import base64, os, random, sys

corpus, out, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
rnd = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 12)
C = 4096
size = mib << 20
names = sorted(f for f in os.listdir(corpus) if f.lower().endswith(('.jpg', '.jpeg')))
photos = [open(os.path.join(corpus, f), 'rb').read() for f in names]


def gap(clusters):
    n = C * clusters
    kind = rnd.randrange(3)
    if kind == 0:
        return rnd.randbytes(n)
    if kind == 1:
        return base64.encodebytes(rnd.randbytes(n))[:n]
    return bytes(n)


def padded(b):
    return b + bytes(-len(b) % C)


placed = split = 0
with open(out, 'wb') as f:
    while True:
        order = list(range(len(photos)))
        rnd.shuffle(order)
        room = True
        for i in order:
            p = photos[i]
            pieces = [padded(p)]
            if len(p) > 2 * C and rnd.random() < 0.5:
                cut = C * rnd.randrange(1, (len(p) - 1) // C + 1)
                pieces = [p[:cut], gap(rnd.randrange(1, 64)), padded(p[cut:])]
            need = sum(map(len, pieces)) + 16 * C
            if f.tell() + need > size:
                room = False
                break
            f.write(gap(rnd.randrange(1, 16)))
            for piece in pieces:
                f.write(piece)
            placed += 1
            split += len(pieces) == 3
        if not room:
            break
    f.write(bytes(size - f.tell()))
print(placed, split)
