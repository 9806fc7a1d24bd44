#!/usr/bin/env python3
"""Writes the starting inputs of the fuzz targets into OUT/<target>/, from the
archives in tests/fixtures (and ../shared/fixtures when present) and a few
hand-made cases. Usage: make-seeds.py OUT"""
import bz2
import gzip
import io
import lzma
import os
import shutil
import stat
import subprocess
import sys
import tarfile
import tempfile
import zipfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
fixture_dirs = [os.path.join(root, 'tests', 'fixtures'), os.path.join(root, '..', 'shared', 'fixtures', 'rar4')]
out = sys.argv[1]


def fixtures(extension):
    for folder in fixture_dirs:
        if os.path.isdir(folder):
            for name in sorted(os.listdir(folder)):
                if name.endswith(extension):
                    yield os.path.join(folder, name)


def write(target, name, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def raw_name(info):
    # zipfile decodes names without the UTF-8 flag as CP437.
    return info.filename.encode('utf-8' if info.flag_bits & 0x800 else 'cp437')


for path in fixtures('.zip'):
    base = os.path.basename(path)
    write('zip_extract', base, open(path, 'rb').read())
    if not zipfile.is_zipfile(path):
        continue  # a damaged fixture
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        write('name_decoder', base, b'\0'.join(raw_name(i) for i in infos))
        script = []
        for info in infos:
            mode = info.external_attr >> 16
            name = info.filename.encode('utf-8')
            if stat.S_ISLNK(mode) and not info.flag_bits & 1:
                script.append(b'l' + name + b'\t' + archive.read(info))
            elif info.is_dir():
                script.append(b'd' + name + (b'\t%o' % (mode & 0o7777) if mode else b''))
            else:
                script.append(b'f' + name + (b'\t%o' % (mode & 0o7777) if mode else b''))
        write('safe_destination', base, b'\n'.join(script))

for path in fixtures('.rar'):
    write('rar_structure', os.path.basename(path), open(path, 'rb').read())

names = {
    'gbk': ('中文名.txt', '文件夹/说明.txt', 'gbk'),
    'shift_jis': ('日本語/表示.txt', 'ソフト.txt', 'shift_jis'),
    'big5': ('繁體中文.txt', '資料夾/說明.txt', 'big5'),
    'cp866': ('Документ.txt', 'Папка/файл.txt', 'cp866'),
    'euc_kr': ('한국어.txt', '폴더/설명.txt', 'euc_kr'),
    'utf8': ('naïve.txt', 'ünïcode/ファイル.txt', 'utf-8'),
}
for key, (a, b, codec) in names.items():
    write('name_decoder', key, a.encode(codec) + b'\0' + b.encode(codec) + b'\0plain.txt')

scripts = {
    'nul-target': b'lup\t..\0x',
    'chain': b'da/dd\nla/dd/y\t../..\nla/x\tdd/y/..\nfa/x/evil\nlz\ta/dd/y',
    'through-user-link': b'fext/evil\ndext/sub\nlext/l\t.',
    'staged': b'mm1\t../outside\nmm2\tdir/../..\nMdir\t../../x\nMdir2\tsub\ns setuid\t6755\nsplain\t644',
    'modes': b'dlocked\t0\nflocked/x\nfsticky\t1777\ndsgid\t2755\nfsgid/y\t4755',
    'existing': b'fexisting\nlexisting\tx\ndexisting\nfext\nmext\t.',
    'links-to-entries': b'fa\t755\nhb\ta\ncc\ta\nhd\text/keep\ncx\texisting\ndsub\nhsub/y\t../a\ncz\tsub',
}
for key, data in scripts.items():
    write('safe_destination', key, data)


def tar_of(entries, fmt=tarfile.GNU_FORMAT):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode='w', format=fmt, encoding='utf-8', errors='surrogateescape') as archive:
        for path, kind, payload in entries:
            info = tarfile.TarInfo(path)
            info.type, info.mode, info.mtime = kind, 0o644, 1000000000
            if kind in (tarfile.SYMTYPE, tarfile.LNKTYPE):
                info.linkname = payload
            data = payload if kind == tarfile.REGTYPE else b''
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def gzipped(data, single):
    # fuzz_tar_extract names compressed input by its length: odd for one
    # file alone, even for a tar inside. The stored name sets the parity.
    for name in ('a', 'ab'):
        out = io.BytesIO()
        with gzip.GzipFile(filename=name, mode='wb', fileobj=out, mtime=1000000000) as f:
            f.write(data)
        if len(out.getvalue()) % 2 == single:
            return out.getvalue()


tars = {
    'kinds': tar_of([('dir/', tarfile.DIRTYPE, b''), ('dir/file.txt', tarfile.REGTYPE, b'hello\n'),
                     ('link', tarfile.SYMTYPE, 'dir/file.txt'), ('hard', tarfile.LNKTYPE, 'dir/file.txt'),
                     ('fifo', tarfile.FIFOTYPE, b''), ('up', tarfile.SYMTYPE, '../x')]),
    'long-names': tar_of([('d' * 120 + '/' + 'f' * 120, tarfile.REGTYPE, b'long'),
                          ('l' * 110, tarfile.SYMTYPE, 't' * 130)]),
    'pax': tar_of([('中文名.txt', tarfile.REGTYPE, b'pax'), ('latin\udce9.txt', tarfile.REGTYPE, b'raw')],
                  tarfile.PAX_FORMAT),
    'through-link': tar_of([('esc', tarfile.SYMTYPE, '.'), ('esc/x', tarfile.REGTYPE, b'x'),
                            ('h', tarfile.LNKTYPE, '/etc/passwd')]),
}
if shutil.which('tar'):
    # A GNU sparse file, in the old GNU form and in pax's.
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, 'holes'), 'wb') as f:
            f.seek(20000)
            f.write(b'data')
            f.truncate(40000)
        for form in ('gnu', 'posix'):
            archive = os.path.join(work, form + '.tar')
            subprocess.run(['tar', '--format=' + form, '-S', '-cf', archive, '-C', work, 'holes'], check=True)
            tars['sparse-' + form] = open(archive, 'rb').read()
for key, data in tars.items():
    write('tar_extract', key + '.tar', data)
    write('tar_extract', key + '.tar.gz', gzipped(data, 0))
write('tar_extract', 'kinds.tar.bz2', bz2.compress(tars['kinds']))
write('tar_extract', 'kinds.tar.xz', lzma.compress(tars['kinds']))
write('tar_extract', 'notes.gz', gzipped(b'one file alone\n' * 40, 1))
for tool, suffix in (('zstd', '.tar.zst'), ('lz4', '.tar.lz4')):
    if shutil.which(tool):
        made = subprocess.run([tool, '-q', '-c'], input=tars['kinds'], stdout=subprocess.PIPE, check=True)
        write('tar_extract', 'kinds' + suffix, made.stdout)

arguments = {
    'extract': ['extract', 'a.zip', '-o', 'out', '--password-stdin'],
    'compress': ['compress', '-o', 'x.zip', '--level', '9', 'a', '--', '-b', '--help'],
    'help': ['--help'],
    'version': ['compress', '--version'],
    'dash': ['extract', '-', '--output', '-o'],
}
for key, words in arguments.items():
    write('command_line', key, '\0'.join(words).encode('utf-8'))
