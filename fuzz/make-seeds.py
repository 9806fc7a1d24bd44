#!/usr/bin/env python3
"""Writes the starting inputs of the fuzz targets into OUT/<target>/, from the
archives in tests/fixtures (and ../shared/fixtures when present) and a few
hand-made cases. Usage: make-seeds.py OUT"""
import os
import stat
import sys
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

arguments = {
    'extract': ['extract', 'a.zip', '-o', 'out', '--password-stdin'],
    'compress': ['compress', '-o', 'x.zip', '--level', '9', 'a', '--', '-b', '--help'],
    'help': ['--help'],
    'version': ['compress', '--version'],
    'dash': ['extract', '-', '--output', '-o'],
}
for key, words in arguments.items():
    write('command_line', key, '\0'.join(words).encode('utf-8'))
