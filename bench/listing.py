#!/usr/bin/env python3
"""Listing big archives, and taking one entry out of a big one.

    python3 bench/listing.py BUILD_DIR [--entries 1000000] [--others 100000] [--scratch DIR]

Makes, in --scratch (default bench/out/listing), a zip of --entries tiny
entries and a 7z and a rar of --others, lists each with `zavrin-cli list`
and with `7zz l` (`unrar l` for the rar), and prints wall time and peak
memory of both. Then makes a zip of --others entries of 10 KB each (1 GB at 100 000) and takes its last
entry out with `zavrin-cli extract ARCHIVE ENTRY` and with `unzip ARCHIVE
ENTRY`. Everything made is removed at the end.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(command, cwd=None):
    report = os.path.join(os.environ.get('TMPDIR', '/tmp'), f'zavrin-listing-{os.getpid()}.txt')
    start = time.monotonic()
    result = subprocess.run(['/usr/bin/time', '-f', '%M', '-o', report] + command, cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    if result.returncode != 0:
        sys.exit(f'listing: {" ".join(command)} failed: {result.stderr.decode(errors="replace")[-400:]}')
    with open(report) as f:
        peak = int(f.read().split()[-1]) / 1024
    return wall, peak


def tiny_tree(folder, count):
    os.makedirs(folder)
    for i in range(count):
        sub = os.path.join(folder, f'd{i // 1000:04}')
        if i % 1000 == 0:
            os.makedirs(sub)
        with open(os.path.join(sub, f'f{i:07}.txt'), 'w') as f:
            f.write(f'entry {i}\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('build')
    parser.add_argument('--entries', type=int, default=1000000)
    parser.add_argument('--others', type=int, default=100000)
    parser.add_argument('--scratch', default=os.path.join(HERE, 'out', 'listing'))
    args = parser.parse_args()
    cli = os.path.join(os.path.abspath(args.build), 'bin', 'zavrin-cli')
    work = os.path.abspath(args.scratch)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    rows = []

    many = os.path.join(work, 'many.zip')
    with zipfile.ZipFile(many, 'w', zipfile.ZIP_STORED) as z:
        for i in range(args.entries):
            z.writestr(f'd{i // 1000:04}/f{i:07}.txt', f'entry {i}\n')
    tree = os.path.join(work, 'tree')
    tiny_tree(tree, args.others)
    seven, rar = os.path.join(work, 'others.7z'), os.path.join(work, 'others.rar')
    subprocess.run(['7zz', 'a', '-bso0', '-bsp0', seven, '.'], cwd=tree, check=True)
    subprocess.run(['rar', 'a', '-idq', '-r', rar, '.'], cwd=tree, check=True)
    shutil.rmtree(tree)
    # Debian's 7zz has no rar codec, so rar is listed against unrar.
    for archive, count, peer in ((many, args.entries, ['7zz', 'l']), (seven, args.others, ['7zz', 'l']),
                                 (rar, args.others, ['unrar', 'l'])):
        ours = timed([cli, 'list', archive])
        theirs = timed(peer + [archive])
        rows.append((f'list {os.path.basename(archive)} ({count} entries)', ours, ' '.join(peer), theirs))
    os.remove(many)

    big = os.path.join(work, 'big.zip')
    block = os.urandom(10 * 1024)
    with zipfile.ZipFile(big, 'w', zipfile.ZIP_STORED) as z:
        for i in range(args.others):
            z.writestr(f'd{i // 1000:04}/f{i:07}.bin', block[i % 64:] + block[:i % 64])
    last = f'd{(args.others - 1) // 1000:04}/f{args.others - 1:07}.bin'
    subprocess.run(['sync'], check=True)
    ours = timed([cli, 'extract', big, '-o', os.path.join(work, 'ours'), last])
    theirs = timed(['unzip', '-q', big, last, '-d', os.path.join(work, 'theirs')])
    rows.append((f'last entry of a {os.path.getsize(big) / 1e9:.1f} GB zip', ours, 'unzip', theirs))
    shutil.rmtree(work, ignore_errors=True)

    print(f'\n{"job":<44} {"seconds":>8} {"peak MB":>8}   {"peer":<8} {"seconds":>8} {"peak MB":>8} {"ratio":>6}')
    for job, (wall, peak), peer, (peer_wall, peer_peak) in rows:
        print(f'{job:<44} {wall:8.2f} {peak:8.0f}   {peer:<8} {peer_wall:8.2f} {peer_peak:8.0f} '
              f'{wall / peer_wall:6.2f}')


if __name__ == '__main__':
    main()
