#!/usr/bin/env python3
"""Lists what matters to the carving rule in each JPEG photo of a folder.

    tests/data/survey-photos.py FOLDER

One line per photo: its size, whether it is progressive, where an embedded JPEG
(an EXIF thumbnail or a maker's preview) begins, whether such a start falls on a
512-byte sector, where an FF D9 is followed by eleven zero bytes inside the photo
(the rule ends the carve there), and how many bytes follow the last FF D9.
The photos in tests/data/photos were chosen from a larger set with it.
"""
import os
import sys

SECTOR = 512
SOF_PROGRESSIVE = {0xC2, 0xC6, 0xCA, 0xCE}
SOF_SEQUENTIAL = {0xC0, 0xC1, 0xC3, 0xC5, 0xC7, 0xC9, 0xCB, 0xCD, 0xCF}


def frame_kind(b):
    """The main image's frame kind, from its first SOF marker (segments skipped whole)."""
    at = 2
    while at + 4 <= len(b) and b[at] == 0xFF:
        marker = b[at + 1]
        if marker == 0xFF:
            at += 1
            continue
        if marker in SOF_PROGRESSIVE:
            return "progressive"
        if marker in SOF_SEQUENTIAL:
            return "baseline"
        if marker == 0xDA:
            break
        at += 2 + (b[at + 2] << 8 | b[at + 3])
    return "unknown"


def find_all(b, pattern, start=0):
    at = b.find(pattern, start)
    while at != -1:
        yield at
        at = b.find(pattern, at + 1)


def survey(path):
    b = open(path, "rb").read()
    inner = list(find_all(b, b"\xff\xd8\xff", 1))
    on_sector = [at for at in inner if at % SECTOR == 0]
    zero_ends = [at for at in find_all(b, b"\xff\xd9") if b[at + 2:at + 13] == bytes(11)]
    last = b.rfind(b"\xff\xd9")
    after_last = len(b) - last - 2 if last >= 0 else None
    return (f"{os.path.basename(path):40s} {len(b):8d} {frame_kind(b):11s} "
            f"inner-starts={inner[:3]} on-sector={on_sector} "
            f"ff-d9-then-zeros={zero_ends[:3]} after-last-ff-d9={after_last}")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    for name in sorted(os.listdir(folder)):
        if name.lower().endswith((".jpg", ".jpeg")):
            print(survey(os.path.join(folder, name)))


if __name__ == "__main__":
    main()
