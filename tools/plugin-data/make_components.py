#!/usr/bin/env python3
"""Writes radical_pinyin.txt, radical_pinyin_full.txt and pinyin_lookup.txt for `uu`.

A component line is `character TAB codes`, the codes being the toneless pinyin of the
character's components joined by "'" (好 -> nv'zi), so `uunv` finds every character that
contains 女. The components of a character are:
  - its Kangxi radical (Unihan kRSUnicode, mapped to an ideograph through CJKRadicals.txt);
  - the parts of its ideographic structure in the CHISE character database, taken apart
    recursively (想 -> 相 心 -> 木 目 心); a character CHISE does not describe borrows the
    structure of its first described variant (Unihan kTraditionalVariant, kSimplifiedVariant,
    kSemanticVariant, kZVariant), whose parts have the same readings.
A component is named by its first Mandarin reading (Unihan kMandarin, tone marks dropped,
ü written v); components without a reading are left out.

radical_pinyin.txt holds the common characters (those of GB 2312 and of Big5 level 1),
radical_pinyin_full.txt every character Unihan gives a radical for. Lines are ordered by
Unihan kFrequency, then by code point, so frequent characters come first in a list.
pinyin_lookup.txt maps a character to its readings with tone marks, joined by ",".

Inputs (Debian packages):
  unicode-data: /usr/share/unicode/Unihan_*.txt.bz2, /usr/share/unicode/CJKRadicals.txt
  chise-db:     /usr/lib/xemacs-21.4.15/etc/chise-db/feature/ideographic-structure
  db5.3-util:   db5.3_dump reads that Berkeley DB file
"""
import bz2
import os
import re
import subprocess
import sys
import unicodedata

UNICODE = "/usr/share/unicode/"
CHISE_STRUCTURE = "/usr/lib/xemacs-21.4.15/etc/chise-db/feature/ideographic-structure"
VARIANT_FIELDS = ("kTraditionalVariant", "kSimplifiedVariant", "kSemanticVariant", "kZVariant")


def unihan(file_name, fields):
    values = {}
    with bz2.open(UNICODE + file_name, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            code, field, value = line.rstrip("\n").split("\t", 2)
            if field in fields:
                values.setdefault(field, {})[chr(int(code[2:], 16))] = value
    return values


def radical_ideographs():
    radicals = {}
    with open(UNICODE + "CJKRadicals.txt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            number, _, ideograph = [part.strip() for part in line.split(";")]
            if ideograph:
                radicals[number] = chr(int(ideograph, 16))
    return radicals


def decode_dump_field(text):
    out, i = bytearray(), 0
    while i < len(text):
        if text[i] == "\\" and text[i + 1] == "\\":
            out += b"\\"
            i += 2
        elif text[i] == "\\":
            out.append(int(text[i + 1:i + 3], 16))
            i += 3
        else:
            out += text[i].encode("latin-1")
            i += 1
    return out.decode("utf-8", "replace")


def chise_structures():
    dump = subprocess.run(["db5.3_dump", "-p", CHISE_STRUCTURE], check=True,
                          capture_output=True, text=True, encoding="latin-1").stdout.split("\n")
    start = dump.index("HEADER=END") + 1
    structures = {}
    for i in range(start, len(dump) - 1, 2):
        if not dump[i].startswith(" "):
            break
        key = decode_dump_field(dump[i][1:])
        value = decode_dump_field(dump[i + 1][1:])
        if len(key) != 2 or key[0] != "?":
            continue
        parts = [c for c in re.findall(r"\?(.)", value) if not 0x2FF0 <= ord(c) <= 0x2FFF]
        parts += [chr(int(n)) for n in re.findall(r"=ucs \. (\d+)", value)]
        structures[key[1]] = [p for p in parts if p != key[1] and 0x2E80 <= ord(p) < 0xF0000]
    return structures


def toneless(reading):
    text = unicodedata.normalize("NFD", reading.lower()).replace("u\u0308", "v")
    return "".join(c for c in text if c.isascii() and c.isalpha()).lower()


def main(out_dir):
    readings = unihan("Unihan_Readings.txt.bz2", {"kMandarin", "kHanyuPinyin"})
    mandarin = readings["kMandarin"]
    hanyu = readings["kHanyuPinyin"]
    radical_strokes = unihan("Unihan_IRGSources.txt.bz2", {"kRSUnicode"})["kRSUnicode"]
    frequency = unihan("Unihan_DictionaryLikeData.txt.bz2", {"kFrequency"})["kFrequency"]
    mappings = unihan("Unihan_OtherMappings.txt.bz2", {"kGB0", "kBigFive"})
    radicals = radical_ideographs()
    structures = chise_structures()
    variants = unihan("Unihan_Variants.txt.bz2", VARIANT_FIELDS)

    def described_variant(char):
        for field in VARIANT_FIELDS:
            for entry in variants.get(field, {}).get(char, "").split():
                variant = chr(int(entry.split("<")[0][2:], 16))
                if variant in structures:
                    return variant
        return None

    def parts_of(char, seen):
        for part in structures.get(char, []):
            if part not in seen:
                seen.append(part)
                parts_of(part, seen)
        return seen

    def codes_of(char):
        components = []
        radical = radicals.get(radical_strokes[char].split()[0].split(".")[0])
        if radical:
            components.append(radical)
        described = char if char in structures else described_variant(char)
        if described:
            components += parts_of(described, [described])[1:]
        codes = []
        for part in components:
            if part in mandarin:
                code = toneless(mandarin[part].split()[0])
                if code and code not in codes:
                    codes.append(code)
        return codes

    big5_level1 = {c for c, v in mappings["kBigFive"].items() if 0xA440 <= int(v, 16) <= 0xC67E}
    common = set(mappings["kGB0"]) | big5_level1
    order = sorted(radical_strokes, key=lambda c: (int(frequency.get(c, 9)), ord(c)))
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
        for char in sorted(set(mandarin) | set(hanyu)):
            values = mandarin.get(char, "").split()
            for entry in hanyu.get(char, "").split():
                values += entry.split(":")[1].split(",")
            values = list(dict.fromkeys(values))[:4]
            f.write(char + "\t" + ",".join(values) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/plugin")
