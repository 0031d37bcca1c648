#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes emoji.txt (keyword TAB emoji) from the Unicode CLDR annotations.

Only what can be typed after the trigger is worth a line, since the plug-in page receives
ASCII keys alone:
  - English names and keywords, folded to lower case with accents, spaces and punctuation
    dropped ("thumbs up" -> "thumbsup"); "+1" and "-1" stay.
  - Chinese names and keywords (zh and zh_Hant) spelled in toneless pinyin without separators
    ("笑" -> "xiao", "愛心" -> "aixin"). Traditional text is first converted to Simplified with
    OpenCC's t2s, as the engine does; each keyword is then cut into the longest words of the
    engine's pinyin dictionary (libime's sc.dict), and a character that no word covers takes
    its first Unihan reading (kMandarin, else kHanyuPinlu). Letters and digits inside a keyword
    are kept as typed, in lower case.
Lines follow the emoji order of emoji-test.txt; for each emoji its English name comes first,
then its English keywords, then the pinyin of its Chinese name and keywords, so exact and
equal-length matches list the most familiar emoji first.

Inputs (Debian packages):
  unicode-cldr-core: /usr/share/unicode/cldr/common/annotations{,Derived}/{en,zh,zh_Hant}.xml
      (flags, keycaps and people sequences come from annotationsDerived; variants with a
      skin-tone modifier are left out)
  unicode-data: /usr/share/unicode/emoji/emoji-test.txt (order, fully-qualified forms),
      /usr/share/unicode/Unihan_Readings.txt.bz2 (readings of single characters)
  libime-data: /usr/share/libime/sc.dict, dumped to text with libime_pinyindict (libime-bin)
  libopencc1.1: t2s.json, through OpenCC's C interface
"""
import bz2
import ctypes
import os
import subprocess
import sys
import tempfile
import unicodedata
import xml.etree.ElementTree as ET

CLDR = "/usr/share/unicode/cldr/common/"
EMOJI_TEST = "/usr/share/unicode/emoji/emoji-test.txt"
UNIHAN_READINGS = "/usr/share/unicode/Unihan_Readings.txt.bz2"
PINYIN_DICT = "/usr/share/libime/sc.dict"
ENGLISH = "en"
CHINESE = ["zh", "zh_Hant"]
MAX_WORD = 8  # characters; longer words of the dictionary are never needed for a keyword


def toneless(reading):
    text = unicodedata.normalize("NFD", reading.lower()).replace("u\u0308", "v")
    return "".join(c for c in text if c.isascii() and c.isalpha())


def fold_english(keyword):
    text = unicodedata.normalize("NFKD", keyword.lower())
    return "".join(c for c in text if c.isascii() and (c.isalnum() or c in "+-"))


class Simplifier:
    """OpenCC's t2s conversion through its C interface."""

    def __init__(self):
        self.lib = ctypes.CDLL("libopencc.so.1.1")
        self.lib.opencc_open.restype = ctypes.c_void_p
        self.lib.opencc_open.argtypes = [ctypes.c_char_p]
        self.lib.opencc_convert_utf8.restype = ctypes.c_void_p
        self.lib.opencc_convert_utf8.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t]
        self.lib.opencc_convert_utf8_free.argtypes = [ctypes.c_void_p]
        self.handle = self.lib.opencc_open(b"t2s.json")
        if self.handle in (None, ctypes.c_void_p(-1).value):
            raise RuntimeError("OpenCC t2s.json cannot be opened")

    def __call__(self, text):
        data = text.encode("utf-8")
        result = self.lib.opencc_convert_utf8(self.handle, data, len(data))
        converted = ctypes.string_at(result).decode("utf-8")
        self.lib.opencc_convert_utf8_free(result)
        return converted


def pinyin_dictionary():
    """Word -> toneless pinyin of its first entry in the engine's dictionary."""
    words = {}
    with tempfile.TemporaryDirectory() as tmp:
        dump = os.path.join(tmp, "sc.txt")
        subprocess.run(["libime_pinyindict", "-d", PINYIN_DICT, dump], check=True)
        with open(dump, encoding="utf-8") as f:
            for line in f:
                parts = line.split()
                if len(parts) >= 2 and 1 < len(parts[0]) <= MAX_WORD:
                    words.setdefault(parts[0], parts[1].replace("'", ""))
    return words


def character_readings():
    readings = {}
    with bz2.open(UNIHAN_READINGS, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            code, field, value = line.rstrip("\n").split("\t", 2)
            char = chr(int(code[2:], 16))
            if field == "kMandarin":
                readings[char] = toneless(value.split()[0])
            elif field == "kHanyuPinlu" and char not in readings:
                readings[char] = toneless(value.split("(")[0])
    return readings


class PinyinSpeller:
    def __init__(self):
        self.simplify = Simplifier()
        self.words = pinyin_dictionary()
        self.readings = character_readings()

    def __call__(self, keyword):
        text = self.simplify(keyword)
        out, i = [], 0
        while i < len(text):
            for length in range(min(MAX_WORD, len(text) - i), 1, -1):
                word = self.words.get(text[i:i + length])
                if word:
                    out.append(word)
                    i += length
                    break
            else:
                char = text[i]
                if char in self.readings:
                    out.append(self.readings[char])
                elif char.isascii() and char.isalnum():
                    out.append(char.lower())
                i += 1
        return "".join(out)


def load_annotations(locale):
    names, keywords = {}, {}
    nodes = []
    for folder in ("annotations/", "annotationsDerived/"):
        nodes += ET.parse(CLDR + folder + locale + ".xml").getroot().iter("annotation")
    for node in nodes:
        cp = node.get("cp")
        words = [w.strip() for w in (node.text or "").split("|") if w.strip()]
        if node.get("type") == "tts":
            names[cp] = words
        else:
            keywords[cp] = words
    return names, keywords


def emoji_in_order():
    order = []
    with open(EMOJI_TEST, encoding="utf-8") as f:
        for line in f:
            if "; fully-qualified" not in line:
                continue
            codes = line.split(";")[0].split()
            if any(0x1F3FB <= int(c, 16) <= 0x1F3FF for c in codes):
                continue
            order.append("".join(chr(int(c, 16)) for c in codes))
    return order


def main(out_path):
    spell = PinyinSpeller()
    annotations = {loc: load_annotations(loc) for loc in [ENGLISH] + CHINESE}
    lines, seen = [], set()

    def add(keyword, emoji):
        if keyword and (keyword, emoji) not in seen:
            seen.add((keyword, emoji))
            lines.append(keyword + "\t" + emoji)

    for emoji in emoji_in_order():
        key = emoji.replace("\ufe0f", "")
        names, keywords = annotations[ENGLISH]
        for word in names.get(key, []) + keywords.get(key, []):
            add(fold_english(word), emoji)
        chinese_names, chinese_keywords = [], []
        for loc in CHINESE:
            names, keywords = annotations[loc]
            chinese_names += names.get(key, [])
            chinese_keywords += keywords.get(key, [])
        for word in chinese_names + chinese_keywords:
            add(spell(word), emoji)
    with open(out_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("# Emoji keywords from the Unicode CLDR annotations: English, and the pinyin of\n")
        f.write("# the Chinese (zh, zh_Hant). Generated by tools/plugin-data/make_emoji.py.\n")
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/plugin/emoji.txt")
