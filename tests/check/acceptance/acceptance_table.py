#!/usr/bin/env python3
"""The acceptance table of scripts/check-acceptance: each damaged copy's qpcheck results
against its true frame order.

usage: acceptance_table.py OUT_DIR RESULTS
RESULTS lines: row|name|qpcheck exit code|order file|expected colour verdict or empty.
The first row of each base recording must be its untouched copy: it tells which source frame
each position of the base holds.
"""
import csv
import json
import sys

READ_KINDS = {'next', 'after-loss', 'repeat', 'reordered'}


def load_rows(path):
    rows = []
    with open(path) as f:
        for line in f:
            number, name, status, order_file, colour = line.rstrip('\n').split('|')
            rows.append(dict(n=int(number), name=name, status=int(status), order=order_file,
                             colour=colour, base=name.split()[0]))
    return rows


def frames_read(csv_path):
    """Position -> identified frame number; unread positions absent."""
    read = {}
    with open(csv_path) as f:
        for r in csv.DictReader(f):
            if r['kind'] in READ_KINDS and r['frame'] != '':
                read[int(r['position'])] = int(r['frame'])
    return read


def truth_of(order, base_map):
    truth = [base_map.get(i, i) for i in order]
    present = set(truth)
    lo, hi = min(truth), max(truth)
    missing = sorted(set(range(lo, hi + 1)) - present)
    repeats = len(truth) - len(present)
    return truth, missing, repeats


def missing_reported(summary):
    numbers = []
    for loss in summary.get('losses', []):
        numbers += list(range(loss['first'], loss['last'] + 1))
    return sorted(numbers)


def main():
    out, results = sys.argv[1], sys.argv[2]
    rows = load_rows(results)
    base_maps, failures = {}, 0
    print('| # | copy | frames | identified right | wrong | unreadable | missing found / true | '
          'repeats found / true | reorderings | colour verdict | PSNR mean dB | bar |')
    print('|---|---|---|---|---|---|---|---|---|---|---|---|')
    for row in rows:
        prefix = '%s/row%d' % (out, row['n'])
        order = [int(x) for x in open(row['order']).read().split()]
        try:
            summary = json.load(open(prefix + '.json'))
            read = frames_read(prefix + '.csv')
        except (OSError, ValueError) as e:
            print('| %d | %s | qpcheck exit %d: %s |' % (row['n'], row['name'], row['status'], e))
            failures += 1
            continue
        if row['base'] not in base_maps:
            # The untouched copy: position i of the base holds the frame read there.
            base_maps[row['base']] = {order[k]: f for k, f in read.items()}
        truth, missing, repeats = truth_of(order, base_maps[row['base']])
        right = sum(1 for k, f in read.items() if k < len(truth) and truth[k] == f)
        wrong = len(read) - right
        unreadable = len(truth) - len(read)
        found_missing = missing_reported(summary)
        colour = summary.get('colour', {}).get('likely', '')
        ok = (wrong == 0 and found_missing == missing and summary.get('missing') == len(missing)
              and summary.get('repeats') == repeats and len(truth) == summary.get('frames'))
        if row['colour']:
            ok = ok and colour == row['colour']
        failures += 0 if ok else 1
        psnr = summary.get('psnr_db') or {}
        print('| %d | %s | %d | %d | %d | %d | %d / %d | %d / %d | %d | %s%s | %s | %s |' % (
            row['n'], row['name'], len(truth), right, wrong, unreadable,
            summary.get('missing', -1), len(missing), summary.get('repeats', -1), repeats,
            summary.get('reorderings', -1), colour or '-',
            ' (expected %s)' % row['colour'] if row['colour'] else '',
            '%.1f' % psnr['mean'] if psnr.get('mean') is not None else '-',
            'PASS' if ok else 'MISS'))
    print('\n%d of %d rows meet the bar' % (len(rows) - failures, len(rows)))
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
