#!/usr/bin/env python3
"""A memory card that has lived a camera's life, and what was on it before the accident.

Usage: bench/camlife.py [options] IMAGE        (bench/camlife.py --help for the options)

The card is a FAT16 or FAT32 image written by mtools, so that a real FAT allocator puts
every file where it goes. The camera's life is a run of sessions; each one is a power-on:
  - a few shots (3 to 40): photos taken from a corpus of JPEGs, and now and then a short
    movie (MOV-like bytes: an `ftyp` and an `mdat` box over pseudo-random frames), written
    with one `mcopy` into DCIM/100CAMRA (a new folder 101CAMRA, 102CAMRA... on some days);
  - when the card has no room for them, first the owner deletes older files picked at
    random until it has (one `mdel`);
  - after the shots, now and then a few bad shots of the session or older files are
    deleted in camera.
One `mcopy` is one power-on on purpose: mtools, like a camera's FAT code after it mounts
the card, looks for free clusters from the start of a FAT16 card at every new session
and then goes on from the last cluster it gave out, while on FAT32 it follows the
FSInfo hint of the previous session, so FAT32 fills the card to its end before it comes
back round to the start. Either way, once files have been deleted a photo runs from hole
to hole, and the slack after its end in its last cluster keeps the bytes of whatever was
there before (mtools pads nothing).
The sessions go on until the card has wrapped (the allocation has reached the last tenth
of the card and come back into the first tenth) and files of CHURN times the card's
capacity have been written. Then the ground truth is taken, and then the accident:
every file deleted (`mdel`; the folders stay unless --remove-folders) or the card
quick-formatted (`mformat` over it: new FATs and an empty root folder, the rest of the
data area left as it was).

Every shot is unique: a COM segment of exactly 512 bytes is put right after the photo's
SOI, holding the seed and the shot's number (the rest zeros). Its length keeps whatever
lies at a sector boundary of the corpus photo (an embedded thumbnail, say) at a sector
boundary of the shot, so a carver meets the corpus photo's own cases on the card.

The manifest (IMAGE with .json for its extension, unless --manifest) holds the card's
layout, the options, and for every photo on the card just before the accident its name,
size, sha256, its pieces as runs of clusters and of 512-byte sectors, and whether its
clusters still held its bytes after the accident; and the sha256 of every photo ever
shot on the card, so that a recovered file can be told to be some photo or none (and,
for a photo with bytes after its last FF D9, the sha256 of its bytes up to that marker:
a carver that stops at the marker gives those). The FAT and the folders are read back
from the image by this script itself (not from what it meant to write), and every
photo's bytes are put back together from its runs and checked against its sha256 before
the accident: a mismatch stops the script.

Seeded: the same options and seed make the same image and manifest byte for byte (the
files' times come from the seed through SOURCE_DATE_EPOCH and mcopy -m, the volume
serials from the seed through mformat -N).

--small makes a 24 MiB FAT16 card of 4 KiB clusters from the repository's
tests/data/photos only, in a few seconds, for an end-to-end test.
"""
import argparse
import hashlib
import json
import os
import random
import subprocess
import sys
import tempfile
from array import array

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SECTOR = 512
FAT16_MIN_CLUSTERS, FAT32_MIN_CLUSTERS = 4085, 65525


class Volume:
    """The layout of a FAT16 or FAT32 image, read from its boot sector, and readers of
    its FAT, its folders and its clusters. Read-only: the image is opened for each read."""

    def __init__(self, path):
        self.path = path
        with open(path, 'rb') as f:
            bs = f.read(SECTOR)
        u16 = lambda o: int.from_bytes(bs[o:o + 2], 'little')
        u32 = lambda o: int.from_bytes(bs[o:o + 4], 'little')
        self.sector_bytes = u16(11)
        assert self.sector_bytes == SECTOR, f'{path}: {self.sector_bytes}-byte sectors'
        self.sectors_per_cluster = bs[13]
        self.cluster_bytes = self.sector_bytes * self.sectors_per_cluster
        reserved, fats, root_entries = u16(14), bs[16], u16(17)
        total = u16(19) or u32(32)
        fat_sectors = u16(22) or u32(36)
        root_sectors = (root_entries * 32 + SECTOR - 1) // SECTOR
        self.fat_offset = reserved * SECTOR
        self.fat_bytes = fat_sectors * SECTOR
        self.root_offset = (reserved + fats * fat_sectors) * SECTOR
        self.root_bytes = root_entries * 32
        self.data_start_sector = reserved + fats * fat_sectors + root_sectors
        self.clusters = (total - self.data_start_sector) // self.sectors_per_cluster
        if self.clusters < FAT16_MIN_CLUSTERS:
            raise SystemExit(f'{path}: FAT12 ({self.clusters} clusters); FAT16 or FAT32 only')
        self.fat_bits = 16 if self.clusters < FAT32_MIN_CLUSTERS else 32
        self.root_cluster = u32(44) if self.fat_bits == 32 else 0
        self.end_of_chain = 0xFFF8 if self.fat_bits == 16 else 0x0FFFFFF8

    def fat(self):
        """The first FAT's entries, indexed by cluster (FAT32's top four bits cleared)."""
        with open(self.path, 'rb') as f:
            f.seek(self.fat_offset)
            table = array('H' if self.fat_bits == 16 else 'I', f.read(self.fat_bytes))
        if sys.byteorder != 'little':
            table.byteswap()
        if self.fat_bits == 32:
            table = array('I', (e & 0x0FFFFFFF for e in table))
        return table[:self.clusters + 2]

    def free_clusters(self, fat):
        return fat.count(0) - 2 + (fat[0] == 0) + (fat[1] == 0)

    def chain(self, fat, first):
        chain = []
        c = first
        while 2 <= c < self.clusters + 2:
            chain.append(c)
            if len(chain) > self.clusters:
                raise SystemExit(f'{self.path}: a cluster chain loops at cluster {c}')
            c = fat[c]
        return chain

    def cluster_offset(self, cluster):
        return (self.data_start_sector + (cluster - 2) * self.sectors_per_cluster) * SECTOR

    def read_chain(self, f, chain, length):
        """The first `length` bytes of the chain's clusters, read a run at a time."""
        out = bytearray()
        for first, last in runs(chain):
            f.seek(self.cluster_offset(first))
            out += f.read(min((last - first + 1) * self.cluster_bytes, length - len(out)))
            if len(out) >= length:
                break
        return bytes(out)

    def files(self, fat):
        """Every live file under the root as (path, first cluster, size in bytes); the
        folders are walked, not listed. Long names are passed over: the camera's names
        are 8.3 and mtools writes no long name for them."""
        found = []
        with open(self.path, 'rb') as f:
            def walk(folder, raw):
                for o in range(0, len(raw) - 31, 32):
                    e = raw[o:o + 32]
                    if e[0] == 0:
                        return
                    attr = e[11]
                    if e[0] == 0xE5 or attr == 0x0F or attr & 0x08 or e[0] == ord('.'):
                        continue
                    base, ext = e[:8].decode('ascii').rstrip(), e[8:11].decode('ascii').rstrip()
                    name = folder + base + ('.' + ext if ext else '')
                    first = int.from_bytes(e[20:22], 'little') << 16 | int.from_bytes(e[26:28], 'little')
                    if attr & 0x10:
                        chain = self.chain(fat, first)
                        walk(name + '/', self.read_chain(f, chain, len(chain) * self.cluster_bytes))
                    else:
                        found.append((name, first, int.from_bytes(e[28:32], 'little')))

            if self.fat_bits == 16:
                f.seek(self.root_offset)
                root = f.read(self.root_bytes)
            else:
                chain = self.chain(fat, self.root_cluster)
                root = self.read_chain(f, chain, len(chain) * self.cluster_bytes)
            walk('', root)
        return found


def runs(chain):
    """[[first, last], ...]: the chain's stretches of consecutive clusters."""
    out = []
    for c in chain:
        if out and c == out[-1][1] + 1:
            out[-1][1] = c
        else:
            out.append([c, c])
    return out


class Card:
    """The image and the mtools commands run on it, with the times and serials of the seed."""

    def __init__(self, path, epoch):
        self.path = path
        self.epoch = epoch

    def run(self, tool, *args, check=True):
        env = dict(os.environ, MTOOLS_SKIP_CHECK='1', MTOOLSRC='/dev/null',
                   SOURCE_DATE_EPOCH=str(self.epoch), TZ='UTC')
        done = subprocess.run([tool, '-i', self.path, *args], env=env, capture_output=True, text=True)
        if check and done.returncode != 0:
            raise SystemExit(f'{tool} {" ".join(args)}: {done.stderr.strip() or done.returncode}')
        return done

    def format(self, fat_bits, cluster_bytes, serial):
        args = ['-c', str(cluster_bytes // SECTOR), '-N', f'{serial:08X}', '-v', 'CAMERA']
        if fat_bits == 32:
            args.insert(0, '-F')
        self.run('mformat', *args, '::')


def cluster_bytes_for(fat_bits, image_bytes):
    """What a camera's format gives: 16 KiB on FAT16 (the SD card format's choice from
    128 MiB to 1 GiB); on FAT32 the largest up to 32 KiB that still leaves FAT32 its
    65525 clusters (4 KiB at 512 MiB, 8 KiB at 1 GiB)."""
    if fat_bits == 16:
        return 16384
    c = 32768
    while c > SECTOR and image_bytes // c < FAT32_MIN_CLUSTERS + 2 * (image_bytes // c * 4 // c) + 64:
        c //= 2
    return c


def unique_shot(photo, seed, number):
    """The photo with a 512-byte COM segment after its SOI naming the seed and the shot."""
    text = f'camlife seed {seed} shot {number}'.encode()
    body = text + bytes(512 - 4 - len(text))
    return photo[:2] + b'\xff\xfe' + (len(body) + 2).to_bytes(2, 'big') + body + photo[2:]


def movie_bytes(rnd, length):
    """MOV-like bytes: an ftyp box, then an mdat box of frames (an 8-byte header, then
    pseudo-random bytes, with a run of zeros now and then as encoders leave)."""
    head = b'\x00\x00\x00\x14ftypqt  \x00\x00\x02\x00qt  ' + (length - 20).to_bytes(4, 'big') + b'mdat'
    out = bytearray(head)
    while len(out) < length:
        frame = rnd.randrange(8192, 65536)
        out += b'\x00\x00' + frame.to_bytes(4, 'big') + b'\x01\x65'
        if rnd.random() < 0.1:
            out += bytes(rnd.randrange(512, 4096))
        out += rnd.randbytes(frame)
    return bytes(out[:length])


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('image', help='the card image to make (replaced if it exists)')
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--fat', type=int, choices=(16, 32), default=16)
    p.add_argument('--size-mib', type=int, help='default: 128 on FAT16, 512 on FAT32')
    p.add_argument('--cluster-kib', type=int, help="default: what a camera's format gives")
    p.add_argument('--accident', choices=('deleted', 'formatted'), default='deleted')
    p.add_argument('--remove-folders', action='store_true',
                   help='with --accident deleted: remove DCIM and its folders too')
    p.add_argument('--churn', type=float, default=3.0,
                   help="write at least this many times the card's capacity (default 3)")
    p.add_argument('--corpus', help='a folder of JPEGs (default: ../shared/corpus/camera beside '
                   'the repository when it is there, else tests/data/photos)')
    p.add_argument('--manifest', help='default: IMAGE with .json for its extension')
    p.add_argument('--small', action='store_true',
                   help='a 24 MiB FAT16 card of 4 KiB clusters from tests/data/photos')
    a = p.parse_args()
    if a.small:
        a.fat, a.corpus = 16, os.path.join(REPO, 'tests/data/photos')
        a.size_mib, a.cluster_kib = a.size_mib or 24, a.cluster_kib or 4
    if a.corpus is None:
        shared = os.path.join(REPO, '..', 'shared', 'corpus', 'camera')
        a.corpus = shared if os.path.isdir(shared) else os.path.join(REPO, 'tests/data/photos')
    a.size_mib = a.size_mib or (128 if a.fat == 16 else 512)
    a.manifest = a.manifest or os.path.splitext(a.image)[0] + '.json'
    return a


class Life:
    """The camera's sessions on one card, and the record of every shot."""

    def __init__(self, a, card, volume, photos):
        self.a, self.card, self.vol, self.photos = a, card, volume, photos
        self.rnd = random.Random(a.seed)
        self.shots = []            # every shot: dict(name, kind, size, sha256, source, present)
        self.present = {}          # name -> shot, in the order shot
        self.folder = 100
        self.number = 0
        self.written_bytes = 0
        self.high_water = 0        # the highest cluster given to a file since the last wrap
        self.wrapped = 0           # sessions that came back to the card's first tenth after its last
        capacity = volume.clusters * volume.cluster_bytes
        self.movie_bytes = (min(1 << 20, capacity // 64), min(6 << 20, capacity // 16))
        self.sessions = 0
        self.folders = set()

    def folder_path(self):
        return f'DCIM/{self.folder:03d}CAMRA'

    def plan(self):
        """The next session's shots as (name, kind, bytes, source)."""
        plan = []
        for _ in range(self.rnd.randint(3, 40)):
            self.number += 1
            if self.rnd.random() < 0.04:
                data = movie_bytes(self.rnd, self.rnd.randrange(*self.movie_bytes))
                plan.append((f'MVI_{self.number:04d}.MOV', 'movie', data, None))
            else:
                source, photo = self.rnd.choice(self.photos)
                data = unique_shot(photo, self.a.seed, len(self.shots) + len(plan) + 1)
                plan.append((f'IMG_{self.number:04d}.JPG', 'photo', data, source))
        return plan

    def clusters_of(self, length):
        return max(1, -(-length // self.vol.cluster_bytes))

    def delete(self, names):
        if not names:
            return
        self.card.run('mdel', *('::/' + n for n in names))
        for n in names:
            self.present.pop(n)['present'] = False

    def make_room(self, needed):
        """Deletes older files picked at random until `needed` clusters are free, or now and
        then twice as many (an owner clearing space for a trip)."""
        free = self.vol.free_clusters(self.vol.fat())
        if free >= needed:
            return
        want = needed * self.rnd.choice((1, 1, 1, 1, 2))
        names = list(self.present)
        picks = []
        while free < want and names:
            n = names.pop(self.rnd.randrange(len(names)))
            picks.append(n)
            free += self.clusters_of(self.present[n]['size'])
        self.delete(picks)

    def session(self, stage):
        self.sessions += 1
        self.card.epoch += self.rnd.randrange(3600, 4 * 86400)
        # A new folder on some days, and when the file numbers would run past 9999.
        if self.sessions > 1 and (self.rnd.random() < 0.08 or self.number > 9999 - 40):
            self.folder += 1
            self.number = self.number if self.number <= 9999 - 40 else 0
            if self.folder > 999:
                raise SystemExit('the camera ran out of folder numbers: a larger card or less --churn')
        folder = self.folder_path()
        if folder not in self.folders:
            self.card.run('mmd', '::/' + folder)
            self.folders.add(folder)
        plan = self.plan()
        self.make_room(sum(self.clusters_of(len(d)) for _, _, d, _ in plan) + 4)
        free = self.vol.free_clusters(self.vol.fat()) - 4
        paths = []
        for name, kind, data, source in plan:
            if self.clusters_of(len(data)) > free:
                break      # the card is full: the camera says so and the session ends
            free -= self.clusters_of(len(data))
            path = os.path.join(stage, name)
            with open(path, 'wb') as f:
                f.write(data)
            self.card.epoch += self.rnd.randrange(2, 120)
            os.utime(path, (self.card.epoch, self.card.epoch))
            paths.append(path)
            shot = dict(name=f'{folder}/{name}', kind=kind, size=len(data), source=source,
                        sha256=hashlib.sha256(data).hexdigest() if kind == 'photo' else None,
                        present=True)
            end = data.rfind(b'\xff\xd9') + 2
            if kind == 'photo' and 2 <= end < len(data):
                shot['sha256_to_end_marker'] = hashlib.sha256(data[:end]).hexdigest()
            self.shots.append(shot)
            self.present[shot['name']] = shot
            self.written_bytes += len(data)
        if paths:
            self.card.run('mcopy', '-m', *paths, '::/' + folder + '/')
        for p in paths:
            os.remove(p)
        self.note_allocation([s['name'] for s in self.shots[len(self.shots) - len(paths):]])
        # Bad shots of this session deleted at once, or older ones on review.
        if paths and self.rnd.random() < 0.35:
            mine = [s['name'] for s in self.shots[len(self.shots) - len(paths):]]
            self.delete(self.rnd.sample(mine, min(len(mine), self.rnd.randint(1, 3))))
        if self.rnd.random() < 0.4 and self.present:
            older = list(self.present)
            self.delete(self.rnd.sample(older, min(len(older), self.rnd.randint(1, 8))))

    def note_allocation(self, names):
        """Follows where the session's files went: the high-water mark, and whether the
        allocation came back to the first tenth of the card after reaching its last."""
        if not names:
            return
        fat = self.vol.fat()
        starts = {n: (c, s) for n, c, s in self.vol.files(fat)}
        first = []
        for n in names:
            chain = self.vol.chain(fat, starts[n][0])
            first.append(chain[0])
            reached_end = self.high_water >= 2 + self.vol.clusters * 9 // 10
            if reached_end and chain[0] < 2 + self.vol.clusters // 10:
                self.wrapped += 1
                self.high_water = 0       # the next wrap must reach the end again
            self.high_water = max(self.high_water, max(chain))

    def done(self):
        capacity = self.vol.clusters * self.vol.cluster_bytes
        return self.wrapped > 0 and self.written_bytes >= self.a.churn * capacity


def ground_truth(vol, life):
    """Every photo on the card as the FAT and folders give it, checked against its shot."""
    fat = vol.fat()
    live = {name: (first, size) for name, first, size in vol.files(fat)}
    if set(live) != set(life.present):
        raise SystemExit(f'the card and the camera disagree: on the card only '
                         f'{sorted(set(live) - set(life.present))[:5]}, in the camera only '
                         f'{sorted(set(life.present) - set(live))[:5]}')
    photos = []
    with open(vol.path, 'rb') as f:
        for shot in life.present.values():
            first, size = live[shot['name']]
            if size != shot['size']:
                raise SystemExit(f'{shot["name"]}: {size} bytes on the card, {shot["size"]} shot')
            if shot['kind'] != 'photo':
                continue
            chain = vol.chain(fat, first)
            if len(chain) != -(-size // vol.cluster_bytes):
                raise SystemExit(f'{shot["name"]}: {len(chain)} clusters for {size} bytes')
            data = vol.read_chain(f, chain, size)
            if hashlib.sha256(data).hexdigest() != shot['sha256']:
                raise SystemExit(f'{shot["name"]}: its clusters do not hold its bytes')
            f.seek(vol.cluster_offset(chain[-1]) + size % vol.cluster_bytes)
            slack = f.read(-size % vol.cluster_bytes)
            cluster_runs = runs(chain)
            spc = vol.sectors_per_cluster
            photos.append(dict(
                name=shot['name'], source=shot['source'], size=size, sha256=shot['sha256'],
                pieces=len(cluster_runs), clusters=cluster_runs,
                sectors=[[vol.data_start_sector + (a - 2) * spc,
                          vol.data_start_sector + (b - 1) * spc - 1] for a, b in cluster_runs],
                slack_bytes=len(slack), slack_zero=not any(slack), _chain=chain))
    return photos


def still_there(vol, photos):
    """Marks each photo whose clusters still hold its bytes after the accident."""
    with open(vol.path, 'rb') as f:
        for p in photos:
            data = vol.read_chain(f, p.pop('_chain'), p['size'])
            p['intact_after_accident'] = hashlib.sha256(data).hexdigest() == p['sha256']


def main():
    a = parse_args()
    names = sorted(n for n in os.listdir(a.corpus) if n.lower().endswith(('.jpg', '.jpeg')))
    if not names:
        raise SystemExit(f'{a.corpus}: no JPEG photos')
    photos = []
    for n in names:
        with open(os.path.join(a.corpus, n), 'rb') as f:
            photos.append((n, f.read()))

    image_bytes = a.size_mib << 20
    cluster_bytes = (a.cluster_kib << 10) if a.cluster_kib else cluster_bytes_for(a.fat, image_bytes)
    rnd = random.Random(f'serials {a.seed}')
    # An earlier run's image and manifest are replaced, never written through: a name
    # that is a link, a device or a folder is refused before anything is made.
    for path in (a.image, a.manifest):
        if os.path.lexists(path) and (os.path.islink(path) or not os.path.isfile(path)):
            raise SystemExit(f'{path}: not a plain file; give the name of a file to make')
    if os.path.realpath(a.image) == os.path.realpath(a.manifest):
        raise SystemExit(f'{a.image}: the image and the manifest need names of their own')
    for path in (a.image, a.manifest):
        if os.path.lexists(path):
            os.remove(path)
    with open(a.image, 'xb') as f:
        f.truncate(image_bytes)
    card = Card(a.image, 1262304000 + a.seed * 86400 * 7)
    card.format(a.fat, cluster_bytes, rnd.getrandbits(32))
    vol = Volume(a.image)
    if vol.fat_bits != a.fat:
        raise SystemExit(f'{a.size_mib} MiB at {cluster_bytes} bytes a cluster makes FAT{vol.fat_bits}, '
                         f'not FAT{a.fat}: choose another --cluster-kib')
    card.run('mmd', '::/DCIM')

    life = Life(a, card, vol, photos)
    with tempfile.TemporaryDirectory(prefix='camlife-') as stage:
        while not life.done():
            life.session(stage)
            if life.sessions > 100000:
                raise SystemExit('the card never wrapped: a larger --churn or a smaller card')

    truth = ground_truth(vol, life)

    card.epoch += 86400
    if a.accident == 'formatted':
        card.format(a.fat, cluster_bytes, rnd.getrandbits(32))
    elif a.remove_folders:
        card.run('mdeltree', '::/DCIM')
    else:
        folders = sorted({s['name'].rsplit('/', 1)[0] for s in life.present.values()})
        for folder in folders:
            card.run('mdel', f'::/{folder}/*')
    still_there(Volume(a.image), truth)

    pieces = [0, 0, 0]
    for p in truth:
        pieces[min(p['pieces'], 3) - 1] += 1
    summary = dict(
        photos=len(truth), pieces_1=pieces[0], pieces_2=pieces[1], pieces_3_or_more=pieces[2],
        intact_after_accident=sum(p['intact_after_accident'] for p in truth),
        zero_slack=sum(p['slack_zero'] for p in truth if p['slack_bytes']),
        shots=len(life.shots), photos_shot=sum(s['kind'] == 'photo' for s in life.shots),
        movies_on_card=sum(s['kind'] == 'movie' for s in life.present.values()),
        sessions=life.sessions, wraps=life.wrapped, written_bytes=life.written_bytes)
    manifest = dict(
        image=os.path.basename(a.image),
        card=dict(fat_bits=vol.fat_bits, image_bytes=image_bytes, sector_bytes=SECTOR,
                  cluster_bytes=vol.cluster_bytes, clusters=vol.clusters,
                  data_start_sector=vol.data_start_sector),
        made_by=dict(seed=a.seed, accident=a.accident, remove_folders=a.remove_folders,
                     churn=a.churn, corpus=os.path.relpath(a.corpus, REPO), photos_in_corpus=len(photos)),
        summary=summary,
        photos=truth,
        ever_shot=[{k: s[k] for k in ('name', 'sha256', 'sha256_to_end_marker', 'source', 'present') if k in s}
                   for s in life.shots if s['kind'] == 'photo'])
    with open(a.manifest, 'x') as f:
        json.dump(manifest, f, indent=1)
        f.write('\n')
    print(f'{a.image}: FAT{vol.fat_bits}, {a.size_mib} MiB, {vol.cluster_bytes / 1024:g} KiB clusters, '
          f'{a.accident}; {len(truth)} photos before the accident, in 1 / 2 / 3+ pieces: '
          f'{pieces[0]} / {pieces[1]} / {pieces[2]}; {summary["intact_after_accident"]} intact after it; '
          f'{summary["shots"]} shots in {life.sessions} sessions, {life.wrapped} wraps')


if __name__ == '__main__':
    main()
