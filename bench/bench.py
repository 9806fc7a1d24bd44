#!/usr/bin/env python3
"""Times zavrin-cli against the peer tools on one corpus made at run time.

    python3 bench/bench.py BUILD_DIR [--quick] [--mb N] [--rounds N] [--scratch DIR] [--only GROUP,...] [--all-peers]

Each group (a job done by Zavrin and its peers) runs round by round: every
tool once per round, the order reversed every other round, `sync` before
each run. The table gives the median wall time, Zavrin's time as a ratio of
each peer's (the median of the per-round ratios), the output's size, CPU
seconds (user + system) and peak memory. The corpus and the archives stay in
bench/out/ (git-ignored) between runs; scratch output is removed at the end.
"""
import argparse
import itertools
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PASSWORD = 'bench-password'


def make_corpus(root, total_mb):
    """About a third text, a quarter binaries, a fifth incompressible data and
    the rest small files (20 000 at 300 MB), all from fixed seeds."""
    tmp = root + '.tmp'
    shutil.rmtree(tmp, ignore_errors=True)
    total = total_mb << 20
    rng = random.Random(20240601)
    vocabulary = [''.join(rng.choice('etaoinshrdlucmfwypvbgkjqxz') for _ in range(rng.randint(2, 11)))
                  for _ in range(20000)]
    weights = [1.0 / (rank + 1) for rank in range(len(vocabulary))]

    def text(size):
        out, length = [], 0
        while length < size:
            line = ' '.join(rng.choices(vocabulary, weights, k=2000)) + '.\n'
            out.append(line)
            length += len(line)
        return ''.join(out).encode()[:size]

    def write(path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)

    # Text: the system's C headers (real source text), topped up with generated text.
    headers = sorted(os.path.join(d, f) for d, _, fs in os.walk('/usr/include') for f in fs if f.endswith('.h'))
    text_total = total * 33 // 100
    for i in range(max(1, text_total // (8 << 20))):
        parts, length = [], 0
        size = min(8 << 20, text_total)
        while headers and length < size:
            with open(headers.pop(0), 'rb') as f:
                parts.append(f.read())
            length += len(parts[-1])
        data = b''.join(parts)
        write(f'{tmp}/text/doc{i:02}.txt', data[:size] if len(data) >= size else data + text(size - len(data)))
    # Binaries: the system's shared libraries, as found.
    binary_total, done = total * 25 // 100, 0
    libs = sorted(os.path.join(d, f) for d in ('/usr/lib/x86_64-linux-gnu', '/usr/lib') if os.path.isdir(d)
                  for f in os.listdir(d) if '.so' in f and os.path.isfile(os.path.join(d, f)))
    for lib in libs:
        if done >= binary_total:
            break
        with open(lib, 'rb') as f:
            data = f.read(binary_total - done)
        write(f'{tmp}/bin/{done:012}-{os.path.basename(lib)}', data)
        done += len(data)
    noise_total = total * 20 // 100
    for i in range(4):
        write(f'{tmp}/noise/blob{i}.bin', rng.randbytes(noise_total // 4))
    count = min(20000, max(100, 20000 * total_mb // 300))
    small_total = total - text_total - binary_total - noise_total
    for i in range(count):
        size = max(16, int(rng.expovariate(count / small_total)))
        write(f'{tmp}/small/d{i // 100:03}/f{i:05}.dat', text(size) if i % 4 else rng.randbytes(size))
    os.rename(tmp, root)


def run(command, cwd, stdin_text=None):
    """Runs `command`; answers (wall seconds, CPU seconds, peak MB) or raises.
    GNU time measures: a child forked from this process would count the
    interpreter's own memory as its peak."""
    report = os.path.join(HERE, 'out', 'time.txt')
    start = time.monotonic()
    result = subprocess.run(['/usr/bin/time', '-f', '%U %S %M', '-o', report] + command, cwd=cwd,
                            input=(stdin_text or '').encode(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    if result.returncode != 0:
        error = result.stderr.decode(errors='replace').strip()[-400:]
        raise RuntimeError(f'{" ".join(command)} exited with {result.returncode}: {error}')
    with open(report) as f:
        user, system, peak = f.read().split()[-3:]
    return wall, float(user) + float(system), int(peak) / 1024


def tree_summary(path):
    files, size = 0, 0
    for folder, _, names in os.walk(path):
        for name in names:
            full = os.path.join(folder, name)
            if os.path.isfile(full) and not os.path.islink(full):
                files += 1
                size += os.path.getsize(full)
    return files, size


class Tool:
    def __init__(self, name, command, output, stdin_text=None, cwd=None):
        self.name, self.command, self.output, self.stdin_text, self.cwd = name, command, output, stdin_text, cwd
        self.walls, self.cpus, self.peak, self.size = [], [], 0.0, 0


def run_group(title, tools, rounds, extract, numbers):
    """Every tool once a round, in turns; returns the printed rows.

    Extraction goes into a new folder each run, numbered from `numbers`,
    and nothing is removed until the whole run is over: on a file system without a
    journal, files created within a minute or so of many deletions wait
    while the allocator skips the inodes just freed, and whichever tool ran
    after a removal would pay for it (up to ten times over on this
    machine's disk)."""
    for r in range(rounds):
        order = tools if r % 2 == 0 else list(reversed(tools))
        for tool in order:
            if os.path.exists(tool.output) and not extract:
                os.remove(tool.output)
            output = tool.output
            if extract:
                output = f'{tool.output}-{next(numbers)}'
                os.makedirs(output)
            subprocess.run(['sync'], check=True)
            command = [part.replace(tool.output, output) for part in tool.command]
            wall, cpu, peak = run(command, tool.cwd, tool.stdin_text)
            tool.walls.append(wall)
            tool.cpus.append(cpu)
            tool.peak = max(tool.peak, peak)
            if extract:
                tool.size = tree_summary(output)
            else:
                tool.size = os.path.getsize(tool.output)
    ours = tools[0]
    rows = []
    for tool in tools:
        ratio = statistics.median(o / p for o, p in zip(ours.walls, tool.walls)) if tool is not ours else 1.0
        if extract:
            size = f'{tool.size[0]} files' + ('' if tool.size == ours.size else ' DIFFERS')
        else:
            size = f'{tool.size / 1e6:.1f} MB'
        rows.append(f'{title:<22} {tool.name:<16} {statistics.median(tool.walls):8.2f} {ratio:8.2f} '
                    f'{size:>16} {statistics.median(tool.cpus):8.2f} {tool.peak:8.0f}')
    return rows


def tar_groups(cli, corpus, items, archives, s, rounds, numbers):
    """The tar family against GNU tar, which runs the decompressor in a second
    process. The .tar.xz is made by xz on every core (several blocks); xz 5.4
    still decompresses it on one."""
    if not os.path.isdir(archives):
        print('making the tar archives to extract ...', flush=True)
        tmp = archives + '.tmp'
        shutil.rmtree(tmp, ignore_errors=True)
        os.makedirs(tmp)
        run(['tar', '-czf', os.path.join(tmp, 'corpus.tar.gz')] + items, corpus)
        run(['tar', '--zstd', '-cf', os.path.join(tmp, 'corpus.tar.zst')] + items, corpus)
        run(['tar', '-I', 'xz -T0', '-cf', os.path.join(tmp, 'corpus.tar.xz')] + items, corpus)
        os.rename(tmp, archives)
    a = lambda name: os.path.join(archives, name)
    subprocess.run(['cat'] + [a(n) for n in os.listdir(archives)], stdout=subprocess.DEVNULL, check=True)
    probe = tempfile.mkdtemp(prefix='probe-', dir=s(''))
    if subprocess.run([cli, 'extract', a('corpus.tar.zst'), '-o', probe], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        print('bench: zavrin-cli does not extract tar archives in this build; the tar groups are skipped')
        return []
    rows = []
    for suffix, option in (('gz', '-z'), ('zst', '--zstd'), ('xz', '-J')):
        archive = a('corpus.tar.' + suffix)
        rows += run_group(f'extract tar.{suffix}', [
            Tool('zavrin', [cli, 'extract', archive, '-o', s('zx')], s('zx')),
            Tool(f'tar {option} -x', ['tar', option, '-xf', archive, '-C', s('tx')], s('tx')),
        ], rounds, True, numbers)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('build')
    parser.add_argument('--quick', action='store_true', help='a 30 MB corpus')
    parser.add_argument('--mb', type=int, default=300, help='corpus size (default 300)')
    parser.add_argument('--rounds', type=int, default=3)
    parser.add_argument('--scratch', default=None, help='where outputs go (default bench/out/scratch)')
    parser.add_argument('--only', default='', help='comma-separated groups: compress,aes,extract,tar,create')
    parser.add_argument('--all-peers', action='store_true', help="also 7zz's level 9 zip (slow)")
    args = parser.parse_args()
    mb = 30 if args.quick else args.mb
    cli = os.path.join(os.path.abspath(args.build), 'bin', 'zavrin-cli')
    for tool in (cli, 'zip', 'unzip', '7zz', 'rar', 'unrar', 'tar', 'zstd', 'xz', '/usr/bin/time'):
        if not shutil.which(tool):
            sys.exit(f'bench: {tool} is missing (scripts/install-deps.sh installs the peers)')
    out = os.path.join(HERE, 'out')
    corpus = os.path.join(out, f'corpus-{mb}')
    if not os.path.isdir(corpus):
        print(f'making a {mb} MB corpus in {corpus} ...', flush=True)
        make_corpus(corpus, mb)
    scratch = os.path.abspath(args.scratch or os.path.join(out, 'scratch'))
    os.makedirs(scratch, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix='run-', dir=scratch)  # nothing left by an earlier run is in the way
    items = ['text', 'bin', 'noise', 'small']
    only = set(filter(None, args.only.split(',')))
    want = lambda group: not only or group in only
    s = lambda name: os.path.join(scratch, name)
    started = time.monotonic()
    rows = []

    files, size = tree_summary(corpus)
    if want('extract') or want('tar'):
        # Every extraction's output stays until the end (see run_group).
        need = size * ((9 if want('extract') else 0) + (6 if want('tar') else 0)) * args.rounds
        if shutil.disk_usage(scratch).free < need * 1.1:
            sys.exit(f'bench: {scratch} needs {need / 1e9:.1f} GB free for the extracted trees')
    numbers = itertools.count()
    try:
        subprocess.run(['cat'] + [os.path.join(d, f) for d, _, fs in os.walk(corpus) for f in fs],
                       stdout=subprocess.DEVNULL, check=True)  # the same warm cache for all
        if want('compress'):
            for level in (1, 9):
                tools = [
                    Tool('zavrin', [cli, 'compress', '-o', s('z.zip'), '--level', str(level)] + items, s('z.zip'), cwd=corpus),
                    Tool('zip -r', ['zip', '-r', '-q', f'-{level}', s('p.zip')] + items, s('p.zip'), cwd=corpus),
                ]
                # 7zz's level 9 zip makes many passes (two minutes a round on the
                # full corpus) and would take the run past fifteen minutes.
                if level == 1 or args.all_peers:
                    tools.append(Tool('7zz -tzip', ['7zz', 'a', '-tzip', f'-mx{level}', '-bd', '-bso0', s('s.zip')] + items,
                                      s('s.zip'), cwd=corpus))
                rows += run_group(f'zip level {level}', tools, args.rounds, False, numbers)
        if want('aes'):
            rows += run_group('zip level 1 + AES', [
                Tool('zavrin', [cli, 'compress', '-o', s('z.zip'), '--level', '1', '--password-stdin'] + items, s('z.zip'),
                     PASSWORD + '\n', corpus),
                Tool('7zz AES-256', ['7zz', 'a', '-tzip', '-mx1', '-mem=AES256', f'-p{PASSWORD}', '-bd', '-bso0',
                                     s('s.zip')] + items, s('s.zip'), cwd=corpus),
                Tool('zip -P (ZipCrypto)', ['zip', '-r', '-q', '-1', '-P', PASSWORD, s('p.zip')] + items, s('p.zip'),
                     cwd=corpus),
            ], args.rounds, False, numbers)
        if want('extract'):
            archives = os.path.join(out, f'archives-{mb}')
            if not os.path.isdir(archives):
                print('making the archives to extract ...', flush=True)
                tmp = archives + '.tmp'
                shutil.rmtree(tmp, ignore_errors=True)
                os.makedirs(tmp)
                run(['zip', '-r', '-q', '-6', os.path.join(tmp, 'corpus.zip')] + items, corpus)
                run(['rar', 'a', '-idq', '-r', '-m3', os.path.join(tmp, 'corpus.rar')] + items, corpus)
                run(['7zz', 'a', '-bd', '-bso0', '-mx1', os.path.join(tmp, 'corpus.7z')] + items, corpus)
                run(['7zz', 'a', '-tzip', '-mx1', '-mem=AES256', f'-p{PASSWORD}', '-bd', '-bso0',
                     os.path.join(tmp, 'aes.zip')] + items, corpus)
                os.rename(tmp, archives)
            a = lambda name: os.path.join(archives, name)
            subprocess.run(['cat'] + [a(n) for n in os.listdir(archives)], stdout=subprocess.DEVNULL, check=True)
            ours = lambda archive, stdin=None: Tool('zavrin', [cli, 'extract', a(archive), '-o', s('zx')]
                                                    + (['--password-stdin'] if stdin else []), s('zx'), stdin)
            rows += run_group('extract zip', [
                ours('corpus.zip'),
                Tool('unzip', ['unzip', '-q', '-o', a('corpus.zip'), '-d', s('px')], s('px')),
                Tool('7zz x', ['7zz', 'x', '-y', '-bso0', '-bsp0', a('corpus.zip'), '-o' + s('sx')], s('sx')),
            ], args.rounds, True, numbers)
            rows += run_group('extract zip AES', [
                ours('aes.zip', PASSWORD + '\n'),
                Tool('7zz x', ['7zz', 'x', '-y', '-bso0', '-bsp0', f'-p{PASSWORD}', a('aes.zip'), '-o' + s('sx')], s('sx')),
            ], args.rounds, True, numbers)
            rows += run_group('extract 7z', [
                ours('corpus.7z'),
                Tool('7zz x', ['7zz', 'x', '-y', '-bso0', '-bsp0', a('corpus.7z'), '-o' + s('sx')], s('sx')),
            ], args.rounds, True, numbers)
            rows += run_group('extract rar', [
                ours('corpus.rar'),
                Tool('unrar x', ['unrar', 'x', '-idq', '-o+', a('corpus.rar'), s('ux') + '/'], s('ux')),
            ], args.rounds, True, numbers)

        if want('create'):
            # The other formats of the compression sheet's custom panel, each
            # against the tool users would reach for otherwise.
            rows += run_group('create 7z level 1', [
                Tool('zavrin', [cli, 'compress', '-o', s('z.7z'), '--format', '7z', '--level', '1'] + items, s('z.7z'),
                     cwd=corpus),
                Tool('7zz a -mx1', ['7zz', 'a', '-mx1', '-bd', '-bso0', s('s.7z')] + items, s('s.7z'), cwd=corpus),
            ], args.rounds, False, numbers)
            rows += run_group('create tar.zst', [
                Tool('zavrin', [cli, 'compress', '-o', s('z.tar.zst'), '--format', 'tar.zst', '--level', '1'] + items,
                     s('z.tar.zst'), cwd=corpus),
                # The same zstd level (1) on every core.
                Tool('tar zstd -T0 -1', ['tar', '-I', 'zstd -T0 -1', '-cf', s('t.tar.zst')] + items, s('t.tar.zst'),
                     cwd=corpus),
            ], args.rounds, False, numbers)
        if want('tar'):
            rows += tar_groups(cli, corpus, items, os.path.join(out, f'tar-archives-{mb}'), s, args.rounds, numbers)

    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    print(f'\ncorpus: {size / 1e6:.0f} MB in {files} files; {os.cpu_count()} cores; {args.rounds} rounds; '
          f'output in {scratch}; {time.monotonic() - started:.0f} s in all')
    print(f'\n{"job":<22} {"tool":<16} {"seconds":>8} {"zavrin/x":>8} {"output":>16} {"CPU s":>8} {"peak MB":>8}')
    for row in rows:
        print(row)
    print('\nzavrin/x: Zavrin\'s wall time over the tool\'s, the median of the per-round ratios.')


if __name__ == '__main__':
    main()
