#!/usr/bin/env python3
"""Keeps the string tables in step with the code.

Writes the Qt Linguist tables resources/translations/zavrin_{zh_CN,zh_TW,en}.ts
from resources/translations/strings.tsv (key, English, Traditional Chinese).
The keys are the product's Chinese texts, so the zh_CN table maps each key to
itself. With --check it writes nothing: it scans the sources for
L(QStringLiteral("…")) lookups and fails when one of their keys has no row.
"""
import pathlib
import re
import sys
from xml.sax.saxutils import escape

root = pathlib.Path(__file__).resolve().parent.parent
here = root / "resources" / "translations"
rows = []
for line in (here / "strings.tsv").read_text(encoding="utf-8").splitlines():
    if not line.strip() or line.startswith("#"):
        continue
    key, en, tw = line.split("\t")
    rows.append((key, en, tw))

if "--check" in sys.argv:
    known = {row[0] for row in rows}
    lookup = re.compile(r'\bL\(\s*(?:QStringLiteral\(|u)"((?:[^"\\]|\\.)*)"')
    missing = set()
    for folder in ("app", "home", "ui", "engine", "screens", "feedback", "telemetry", "platform"):
        for path in (root / folder).rglob("*.cpp"):
            for key in lookup.findall(path.read_text(encoding="utf-8")):
                if key not in known:
                    missing.add((key, path.relative_to(root)))
    for key, path in sorted(missing):
        print(f"{path}: no row for key {key!r} in strings.tsv")
    sys.exit(1 if missing else 0)

for language, column in (("zh_CN", 0), ("en", 1), ("zh_TW", 2)):
    out = ['<?xml version="1.0" encoding="utf-8"?>', "<!DOCTYPE TS>",
           f'<TS version="2.1" language="{language}">', "<context>", "    <name>Zavrin</name>"]
    for row in rows:
        out += ["    <message>", f"        <source>{escape(row[0])}</source>",
                f"        <translation>{escape(row[column])}</translation>", "    </message>"]
    out += ["</context>", "</TS>", ""]
    (here / f"zavrin_{language}.ts").write_text("\n".join(out), encoding="utf-8")
