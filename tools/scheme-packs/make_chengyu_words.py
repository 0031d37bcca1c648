#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the word list of the "chengyu" scheme pack: the idioms of CC-CEDICT with their pinyin.

usage: make_chengyu_words.py CEDICT.u8[.gz] OUTPUT.txt

The input is kavi-service's dictionary (service/data/cedict_ts.u8.gz). Every entry whose
definition is marked "(idiom)" and whose simplified form is four to eight Chinese characters
with one plain syllable each becomes a line "词语 pin'yin 0" (libime_pinyindict's text form,
cost 0: the language model ranks). The build compiles the list with libime_pinyindict.
"""
import gzip
import re
import sys
from pathlib import Path

ENTRY = re.compile(r"^(\S+) (\S+) \[([^\]]+)\] /(.*)/$")
HAN = re.compile(r"^[\u3400-\u4dbf\u4e00-\u9fff]{4,8}$")
SYLLABLE = re.compile(r"^([a-z]+)[1-5]$")


def pinyin(reading: str, length: int):
    """The syllables joined by apostrophes, or None when one is not plain pinyin."""
    syllables = []
    for part in reading.lower().replace("u:", "v").split():
        match = SYLLABLE.match(part)
        if not match:
            return None
        syllables.append(match.group(1))
    return "'".join(syllables) if len(syllables) == length else None


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    source = Path(sys.argv[1])
    opener = gzip.open if source.suffix == ".gz" else open
    words = {}
    with opener(source, "rt", encoding="utf-8") as lines:
        for line in lines:
            match = ENTRY.match(line.rstrip("\n"))
            if not match or "(idiom)" not in match.group(4):
                continue
            simplified = match.group(2)
            if not HAN.match(simplified):
                continue
            spelled = pinyin(match.group(3), len(simplified))
            if spelled:
                words.setdefault((simplified, spelled), None)
    if len(words) < 3000:
        print(f"{source}: only {len(words)} idioms", file=sys.stderr)
        return 1
    out = Path(sys.argv[2])
    tmp = out.with_suffix(out.suffix + ".tmp")
    with open(tmp, "w", encoding="utf-8") as text:
        for word, spelled in sorted(words):
            text.write(f"{word} {spelled} 0\n")
    tmp.replace(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
