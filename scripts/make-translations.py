#!/usr/bin/env python3
"""Writes the Qt Linguist tables resources/translations/zavrin_{zh_CN,zh_TW,en}.ts
from resources/translations/strings.tsv (key, English, Traditional Chinese).

The keys are the product's Chinese texts, so the zh_CN table maps each key to
itself. Run it after adding or changing a row; the build compiles the tables.
"""
import pathlib
from xml.sax.saxutils import escape

here = pathlib.Path(__file__).resolve().parent.parent / "resources" / "translations"
rows = []
for line in (here / "strings.tsv").read_text(encoding="utf-8").splitlines():
    if not line.strip() or line.startswith("#"):
        continue
    key, en, tw = line.split("\t")
    rows.append((key, en, tw))

for language, column in (("zh_CN", 0), ("en", 1), ("zh_TW", 2)):
    out = ['<?xml version="1.0" encoding="utf-8"?>', "<!DOCTYPE TS>",
           f'<TS version="2.1" language="{language}">', "<context>", "    <name>Zavrin</name>"]
    for row in rows:
        out += ["    <message>", f"        <source>{escape(row[0])}</source>",
                f"        <translation>{escape(row[column])}</translation>", "    </message>"]
    out += ["</context>", "</TS>", ""]
    (here / f"zavrin_{language}.ts").write_text("\n".join(out), encoding="utf-8")
