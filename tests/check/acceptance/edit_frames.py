#!/usr/bin/env python3
"""Writes raw video frames from stdin to stdout in the order an edit gives, and the order
itself (which input frame each output frame is) to a file: the ground truth of a damaged copy.

usage: edit_frames.py FRAME_BYTES FRAME_COUNT EDIT ORDER_FILE
EDIT: 'none', or comma-separated steps: 'drop:50', 'drop:200-209', 'repeat:80' (one extra
copy), 'repeat:150x2', 'swap:100'  (frames 100 and 101 change places).
"""
import sys


def order_of(edit, count):
    dropped, extra, swapped = set(), {}, set()
    for step in [] if edit == 'none' else edit.split(','):
        kind, _, arg = step.partition(':')
        if kind == 'drop':
            first, _, last = arg.partition('-')
            dropped.update(range(int(first), int(last or first) + 1))
        elif kind == 'repeat':
            frame, _, times = arg.partition('x')
            extra[int(frame)] = int(times or 1)
        elif kind == 'swap':
            swapped.add(int(arg))
        else:
            sys.exit('edit_frames: unknown step ' + step)
    order, i = [], 0
    while i < count:
        group = [i + 1, i] if i in swapped and i + 1 < count else [i]
        for f in group:
            if f not in dropped:
                order += [f] * (1 + extra.get(f, 0))
        i += len(group)
    return order


def main():
    size, count, edit, order_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
    order = order_of(edit, count)
    with open(order_file, 'w') as f:
        f.write('\n'.join(map(str, order)) + '\n')
    last_use = {f: n for n, f in enumerate(order)}
    held, next_in = {}, 0
    source, sink = sys.stdin.buffer, sys.stdout.buffer
    for n, wanted in enumerate(order):
        while wanted not in held:
            frame = source.read(size)
            if len(frame) < size:
                sys.exit('edit_frames: input ended at frame %d' % next_in)
            if last_use.get(next_in, -1) >= n:
                held[next_in] = frame
            next_in += 1
        sink.write(held[wanted])
        if last_use[wanted] == n:
            del held[wanted]


if __name__ == '__main__':
    main()
