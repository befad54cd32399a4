#!/usr/bin/env python3
"""How many of a camera-life card's photos a recovery tool gave back, and what it claimed.

Usage: bench/camscore.py MANIFEST OUTDIR [--report CSV] [--tsv CARD TOOL SECONDS]
       bench/camscore.py --table RESULTS.tsv

MANIFEST is what bench/camlife.py wrote beside the card; OUTDIR the folder a tool
recovered into (read whole, sub-folders too: PhotoRec writes into recup_dir.N). A photo is
back when some file in OUTDIR has exactly its bytes (sha256); it counts once however many
copies came back. Printed: the photos that were on the card before the accident and how
many are back, in all and by the number of pieces they lay in (1, 2, 3 or more); how many
more came back only up to their last FF D9 (a photo with bytes after it, cut there); how
many files were recovered, and how many of them are photos shot on the card and deleted
in camera before the accident.

With --report, velo-carve's report (cli/report.cpp: name, first_sector, length, end,
output, verdict, pieces): the files of each verdict, and the lying verdicts: files written
whose verdict is `complete` or `reassembled` but whose bytes are no photo ever shot on the
card, each named with the shot it begins as (from the COM segment bench/camlife.py put in
every shot), and marked when it is a photo short only of its bytes after the end marker.

--tsv prints, instead of the text, one tab-separated line for the driver to gather:
CARD TOOL SECONDS, then the counts (in the order of TSV_FIELDS below). --table reads such
lines and prints Markdown tables: per tool the sums over the cards, velo-carve's verdicts,
and card by card the photos back.
"""
import argparse
import csv
import hashlib
import json
import os
import re

TSV_FIELDS = ('card', 'tool', 'seconds', 'photos', 'back', 'photos_1', 'back_1', 'photos_2',
              'back_2', 'photos_3', 'back_3', 'files', 'older_back', 'intact', 'complete',
              'reassembled', 'uncertain', 'uncertain_right', 'damaged', 'truncated', 'not_jpeg',
              'unchecked', 'lying_complete',
              'lying_reassembled', 'back_to_end_marker', 'lying_to_end_marker')
PIECE_CLASSES = ('1', '2', '3')   # 3 holds three pieces or more
JPEG_NAMES = ('.jpg', '.jpeg')


def sha256_of(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()


def recovered(outdir):
    """{path relative to OUTDIR: sha256} of every regular file under OUTDIR (links not
    followed)."""
    sums = {}
    for root, _, files in os.walk(outdir):
        for name in files:
            path = os.path.join(root, name)
            if os.path.isfile(path) and not os.path.islink(path):
                sums[os.path.relpath(path, outdir)] = sha256_of(path)
    return sums


def shot_named_in(path):
    """The shot a file begins as, from the COM segment bench/camlife.py puts in every
    photo ('camlife seed 1 shot 245'), or '' when its first sector names none."""
    with open(path, 'rb') as f:
        head = f.read(512)
    m = re.search(rb'camlife seed \d+ (shot \d+)', head)
    return m.group(1).decode() if m else ''


def score(manifest, outdir, report=None):
    """The counts of TSV_FIELDS from 'photos' on, as a dict, and the lying files as
    (name, verdict, the shot it begins as, whether it is a photo up to its end marker)."""
    photos = manifest['photos']
    ever = {s['sha256'] for s in manifest['ever_shot']}
    to_end_marker = {s['sha256']: s['sha256_to_end_marker'] for s in manifest['ever_shot']
                     if 'sha256_to_end_marker' in s}
    present = {p['sha256'] for p in photos}
    sums = recovered(outdir)
    got = set(sums.values())
    c = dict.fromkeys(TSV_FIELDS[3:], 0)
    for p in photos:
        k = PIECE_CLASSES[min(p['pieces'], 3) - 1]
        c['photos'] += 1
        c['photos_' + k] += 1
        c['intact'] += p.get('intact_after_accident', True)
        if p['sha256'] in got:
            c['back'] += 1
            c['back_' + k] += 1
        elif to_end_marker.get(p['sha256']) in got:
            c['back_to_end_marker'] += 1
    c['files'] = sum(name.lower().endswith(JPEG_NAMES) for name in sums)
    c['older_back'] = len((got & ever) - present)
    lying = []
    if report:
        with open(report, newline='') as f:
            for row in csv.DictReader(f):
                verdict = (row.get('verdict') or '').replace('-', '_')
                if not verdict:
                    c['unchecked'] += row['output'] == 'written'
                    continue
                if verdict not in c:
                    raise SystemExit(f'{report}: {row["name"]}: unknown verdict {row["verdict"]}')
                c[verdict] += 1
                if verdict == 'uncertain' and row['output'] == 'written':
                    c['uncertain_right'] += sums.get(row['name']) in ever
                if (verdict in ('complete', 'reassembled') and row['output'] == 'written'
                        and sums.get(row['name']) not in ever):
                    c['lying_' + verdict] += 1
                    short = sums.get(row['name']) in to_end_marker.values()
                    c['lying_to_end_marker'] += short
                    lying.append((row['name'], row['verdict'],
                                  shot_named_in(os.path.join(outdir, row['name'])), short))
    return c, lying


def pct(part, whole):
    return f'{100 * part / whole:.0f}%' if whole else '–'


def text(c, lying, with_report):
    lines = [
        f"photos on the card before the accident: {c['photos']} "
        f"({c['intact']} with all their clusters intact after it)",
        f"back byte for byte: {c['back']} of {c['photos']} ({pct(c['back'], c['photos'])})",
    ]
    for k, label in zip(PIECE_CLASSES, ('1 piece', '2 pieces', '3+ pieces')):
        lines.append(f"  in {label}: {c['back_' + k]} of {c['photos_' + k]} "
                     f"({pct(c['back_' + k], c['photos_' + k])})")
    lines.append(f"back up to their end marker, without the bytes after it: "
                 f"{c['back_to_end_marker']}")
    lines.append(f"JPEG files recovered: {c['files']}; photos deleted in camera before the "
                 f"accident among them: {c['older_back']}")
    if with_report:
        lines.append('report verdicts: ' + ', '.join(
            f"{c[v]} {v.replace('_', '-')}" for v in
            ('complete', 'reassembled', 'uncertain', 'damaged', 'truncated', 'not_jpeg',
             'unchecked')))
        lines.append(f"uncertain files that are exactly a photo shot on the card: "
                     f"{c['uncertain_right']} of {c['uncertain']}")
        lines.append(f"lying verdicts (no photo ever shot on the card): {c['lying_complete']} "
                     f"complete, {c['lying_reassembled']} reassembled")
        lines += [f'  {name} {verdict}' + (f' (begins as {shot})' if shot else '') +
                  (': a photo without the bytes after its end marker' if short else '')
                  for name, verdict, shot, short in lying]
    return '\n'.join(lines)


def table(path):
    """The lines of RESULTS.tsv summed per tool (in the order the tools first appear): the
    photos back, then the verdicts of the tools with a report; then card by card, the
    photos back in all and by pieces."""
    sums, per_card = {}, {}
    with open(path, newline='') as f:
        for row in csv.DictReader(f, fieldnames=TSV_FIELDS, delimiter='\t'):
            per_card.setdefault(row['card'], {})[row['tool']] = {k: int(row[k]) for k in TSV_FIELDS[3:]}
            t = sums.setdefault(row['tool'], dict.fromkeys(TSV_FIELDS[2:], 0))
            t['seconds'] += float(row['seconds'])
            for k in TSV_FIELDS[3:]:
                t[k] += int(row[k])
    out = ['| tool | photos back | 1 piece | 2 pieces | 3+ pieces | back to their end marker only '
           '| JPEG files | older photos back | time, all cards |',
           '| --- |' + ' ---: |' * 8]
    for tool, t in sums.items():
        cell = lambda b, n: f"{t[b]} of {t[n]} ({pct(t[b], t[n])})"
        out.append(f"| {tool} | {cell('back', 'photos')} | {cell('back_1', 'photos_1')} | "
                   f"{cell('back_2', 'photos_2')} | {cell('back_3', 'photos_3')} | "
                   f"{t['back_to_end_marker']} | {t['files']} | {t['older_back']} | "
                   f"{t['seconds']:.1f} s |")
    verdicts = ('complete', 'lying_complete', 'reassembled', 'lying_reassembled',
                'lying_to_end_marker', 'uncertain', 'uncertain_right', 'damaged', 'truncated',
                'not_jpeg', 'unchecked')
    reported = [tool for tool, t in sums.items() if any(t[v] for v in verdicts)]
    if reported:
        out += ['', '| report of | complete | of them lying | reassembled | of them lying '
                '| lying, but a photo short of its bytes after the end marker | uncertain '
                '| of them exactly a photo | damaged '
                '| truncated | not-jpeg | no verdict |',
                '| --- |' + ' ---: |' * len(verdicts)]
        out += [f"| {tool} | " + ' | '.join(str(sums[tool][v]) for v in verdicts) + ' |'
                for tool in reported]
    out += ['', '| card | photos (1 / 2 / 3+ pieces) | ' + ' | '.join(sums) + ' |',
            '| --- | ---: |' + ' ---: |' * len(sums)]
    for card in sorted(per_card):
        row = per_card[card]
        first = next(iter(row.values()))
        out.append(f"| {card} | {first['photos']} ({first['photos_1']} / {first['photos_2']} / "
                   f"{first['photos_3']}) | " + ' | '.join(
                       f"{row[t]['back']} ({row[t]['back_1']} / {row[t]['back_2']} / {row[t]['back_3']})"
                       if t in row else '–' for t in sums) + ' |')
    return '\n'.join(out)


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('manifest', nargs='?', help="the card's manifest, from bench/camlife.py")
    p.add_argument('outdir', nargs='?', help='the folder the tool recovered into')
    p.add_argument('--report', help="velo-carve's report of that run")
    p.add_argument('--tsv', nargs=3, metavar=('CARD', 'TOOL', 'SECONDS'),
                   help='print one tab-separated line of counts instead of the text')
    p.add_argument('--table', metavar='RESULTS', help='print the tables of the --tsv lines gathered')
    a = p.parse_args()
    if a.table:
        print(table(a.table))
        return
    if not (a.manifest and a.outdir):
        p.error('MANIFEST and OUTDIR are needed, or --table RESULTS')
    with open(a.manifest) as f:
        manifest = json.load(f)
    c, lying = score(manifest, a.outdir, a.report)
    if a.tsv:
        print('\t'.join(a.tsv + [str(c[k]) for k in TSV_FIELDS[3:]]))
    else:
        print(text(c, lying, a.report is not None))


if __name__ == '__main__':
    main()
