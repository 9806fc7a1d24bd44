#!/usr/bin/env python3
"""How zavrin-cli's cost grows with the number of entries, and with one huge file.

    python3 bench/scaling.py BUILD_DIR [--counts 1000,10000,100000,1000000] [--big-gb 4] [--scratch DIR]

For each count, a tree of that many tiny files (1 000 to a folder) is
compressed and the archive extracted; the table gives the time per entry,
the growth of that time against the 10 000-entry run, and peak memory. Then
one file of --big-gb GB (0 skips it) is compressed and extracted. Everything
is made in --scratch (default bench/out/scaling) and removed as it goes;
the free space is checked first.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(command, cwd=None):
    report = os.path.join(HERE, 'out', 'time.txt')
    start = time.monotonic()
    result = subprocess.run(['/usr/bin/time', '-f', '%U %S %M', '-o', report] + command, cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    if result.returncode != 0:
        sys.exit(f'scaling: {" ".join(command)} failed: {result.stderr.decode(errors="replace")[-400:]}')
    with open(report) as f:
        user, system, peak = f.read().split()[-3:]
    return wall, float(user) + float(system), int(peak) / 1024


def round_trip(cli, source, items, work):
    """Compresses `items` of the folder `source`, removes it, extracts the
    archive and removes what came out: the two timings and the archive's size."""
    archive = os.path.join(work, 'round-trip.zip')
    subprocess.run(['sync'], check=True)
    packed = timed([cli, 'compress', '-o', archive, '--level', '1'] + items, cwd=source)
    shutil.rmtree(source)
    subprocess.run(['sync'], check=True)
    unpacked = timed([cli, 'extract', archive, '-o', os.path.join(work, 'out')])
    size = os.path.getsize(archive)
    shutil.rmtree(os.path.join(work, 'out'))
    os.remove(archive)
    return packed, unpacked, size


def need_space(path, gb):
    free = shutil.disk_usage(path).free / 2**30
    if free < gb:
        sys.exit(f'scaling: {free:.1f} GB free in {path}, {gb:.1f} GB needed')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('build')
    parser.add_argument('--counts', default='1000,10000,100000,1000000')
    parser.add_argument('--big-gb', type=float, default=4)
    parser.add_argument('--scratch', default=os.path.join(HERE, 'out', 'scaling'))
    args = parser.parse_args()
    cli = os.path.join(os.path.abspath(args.build), 'bin', 'zavrin-cli')
    work = os.path.abspath(args.scratch)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.makedirs(os.path.join(HERE, 'out'), exist_ok=True)
    rows, base = [], {}
    for count in (int(c) for c in args.counts.split(',') if c):
        need_space(work, 1 + count * 12 / 2**20)  # inodes' blocks, the archive, the copy
        tree = os.path.join(work, 'tree')
        for i in range(count):
            if i % 1000 == 0:
                folder = os.path.join(tree, f'd{i // 1000:04}')
                os.makedirs(folder)
            with open(os.path.join(folder, f'f{i:07}.txt'), 'w') as f:
                f.write(f'entry {i}\n')
        packed, unpacked, size = round_trip(cli, tree, sorted(os.listdir(tree)), work)
        for job, (wall, cpu, peak) in (('compress', packed), ('extract', unpacked)):
            per = wall / count * 1e6
            base.setdefault(job, per) if count >= 10000 else None
            growth = f'{per / base[job]:.2f}x' if job in base else '-'
            rows.append(f'{count:>9} {job:<9} {wall:8.2f} {per:9.1f} {growth:>7} {cpu:8.2f} {peak:8.0f} '
                        f'{size / 1e6:9.1f}')
        print(rows[-2], rows[-1], sep='\n', flush=True)
    if args.big_gb > 0:
        need_space(work, args.big_gb * 2.2)
        big = os.path.join(work, 'big')
        os.makedirs(big)
        block = os.urandom(1 << 20)
        text = (b'the quick brown fox jumps over the lazy dog %d\n' * 23000)[: 1 << 20]
        with open(os.path.join(big, 'huge.bin'), 'wb') as f:
            for i in range(int(args.big_gb * 1024)):
                f.write(block if i % 2 else text)
        packed, unpacked, size = round_trip(cli, big, ['huge.bin'], work)
        for job, (wall, cpu, peak) in (('compress', packed), ('extract', unpacked)):
            rows.append(f'{"1 file":>9} {job:<9} {wall:8.2f} {"-":>9} {"-":>7} {cpu:8.2f} {peak:8.0f} '
                        f'{size / 1e6:9.1f}')
        print(rows[-2], rows[-1], sep='\n', flush=True)
    shutil.rmtree(work, ignore_errors=True)
    print(f'\n{"entries":>9} {"job":<9} {"seconds":>8} {"us/entry":>9} {"growth":>7} {"CPU s":>8} {"peak MB":>8} '
          f'{"zip MB":>9}')
    for row in rows:
        print(row)
    print('\ngrowth: time per entry against the 10 000-entry run. The big file: '
          f'{args.big_gb:g} GB, half text, half random.')


if __name__ == '__main__':
    main()
