#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes symbols.txt (code TAB symbols separated by spaces) for the `fh` command.

Most categories are whole Unicode blocks or ranges, filtered through
/usr/share/unicode/UnicodeData.txt (Debian unicode-data) so that only assigned code points
are written; the rest are lists of ideographs (trigram, hexagram and chess piece names)
written out below. Categories are written in the order of the `fh` page.
"""
import sys

UNICODE_DATA = "/usr/share/unicode/UnicodeData.txt"


def assigned_code_points():
    points = set()
    first = None
    with open(UNICODE_DATA, encoding="utf-8") as f:
        for line in f:
            fields = line.split(";")
            cp, name, category = int(fields[0], 16), fields[1], fields[2]
            if name.endswith(", First>"):
                first = cp
                continue
            if name.endswith(", Last>"):
                points.update(range(first, cp + 1))
                continue
            if category[0] in "LNPSM" or category == "Zs":
                points.add(cp)
    return points


ASSIGNED = assigned_code_points()


def span(first, last):
    return [chr(cp) for cp in range(first, last + 1) if cp in ASSIGNED and chr(cp) != " "]


def chars(text):
    return list(text.replace(" ", ""))


def words(text):
    return text.split()


CATEGORIES = [
    ("fh", chars("★☆○●◎◇◆□■△▲▽▼※〓＃＆＠§№☉⊙♀♂♠♥♣♦♤♡♧♢☏☎☑☒✓✔✕✖✗✘☐☓"
                  "◐◑◒◓◔◕◖◗❖❤❥❦❧✿❀❁❂❃❄❅❆❇❈❉❊❋✪✫✬✭✮✯✰✱✲✳✴✵✶✷✸✹✺✻✼✽✾")),
    ("dn", chars("⌘⌥⇧⌃⎋⏎↩⌫⌦⇥⇤⏏⌨⎇⎈⌤⇪⌧⌚⌛⏻⏼⏽⭘⏾⎙⌬⍾⏏")
        + chars("💻🖥🖨🖱🖲💽💾💿📀🔌🔋📱📲☎📞📟📠📡🛜")),
    ("xq", span(0x1FA60, 0x1FA6D) + chars("帥仕相俥傌炮兵將士象車馬砲卒")),
    ("mj", span(0x1F000, 0x1F02B)),
    ("sz", span(0x2680, 0x2685) + chars("🎲")),
    ("pk", chars("♠♥♦♣♤♡♢♧") + span(0x1F0A0, 0x1F0F5)),
    ("bq", span(0x1F600, 0x1F64F)),
    ("tq", chars("☀☁☂☃☄★☼☽☾⛅⛆⛈⛄⛇❄☔⚡🌀🌁🌂🌈🌙🌚🌛🌜🌝🌞🌟🌠🌡🌤🌥🌦🌧🌨🌩🌪🌫🌬🔥💧🌊")),
    ("yy", chars("♩♪♫♬♭♮♯") + span(0x1D100, 0x1D126) + span(0x1D129, 0x1D1EA)),
    ("lx", chars("♀♂⚢⚣⚤⚥⚦⚧⚨⚩⚲⚪⚫")),
    ("bg", span(0x2630, 0x2637)),
    ("bgm", chars("乾兌離震巽坎艮坤")),
    ("lssg", span(0x4DC0, 0x4DFF)),
    ("lssgm", words(
        "乾 坤 屯 蒙 需 訟 師 比 小畜 履 泰 否 同人 大有 謙 豫 隨 蠱 臨 觀 噬嗑 賁 剝 復 無妄 大畜 "
        "頤 大過 坎 離 咸 恆 遯 大壯 晉 明夷 家人 睽 蹇 解 損 益 夬 姤 萃 升 困 井 革 鼎 震 艮 漸 歸妹 "
        "豐 旅 巽 兌 渙 節 中孚 小過 既濟 未濟")),
    ("txj", span(0x268A, 0x268F) + span(0x1D300, 0x1D356)),
    ("sx", chars("±×÷∶¬¹²³¼½¾") + span(0x2200, 0x22FF) + span(0x2A00, 0x2AFF)),
    ("jh", span(0x25A0, 0x25FF) + span(0x2B12, 0x2B2F)),
    ("jt", span(0x2190, 0x21FF) + span(0x27F0, 0x27FF) + span(0x2900, 0x297F)
        + span(0x2B00, 0x2B11)),
    ("fk", span(0x2500, 0x257F) + span(0x2580, 0x259F)),
    ("pp", span(0x2E80, 0x2EF3) + span(0x31C0, 0x31E3)
        + chars("亻氵扌忄犭纟讠钅饣礻衤艹宀冖亠丷丬阝刂卩厶廴辶彳彡攵灬爫牜王罒疒")),
    ("bd", chars("，。、；：？！…—·ˉˇ¨‘’“”〃〔〕〈〉《》「」『』【】〖〗〘〙〚〛（）［］｛｝"
                  "＂＇｀～﹏＿﹋﹌︴︵︶︷︸︹︺︻︼︽︾︿﹀﹁﹂﹃﹄﹙﹚﹛﹜﹝﹞")
        + span(0x3001, 0x3003) + span(0x3008, 0x3011) + span(0x3014, 0x301F)
        + span(0xFF01, 0xFF0F) + span(0xFF1A, 0xFF20) + span(0xFF3B, 0xFF40)
        + span(0xFF5B, 0xFF65)),
    ("dw", chars("℃℉°′″‰‱Å㏄㎎㎏㎜㎝㎞㎡㏑㏒㏕") + span(0x3380, 0x33DF) + span(0x3371, 0x337A)),
    ("hb", chars("$¢£¤¥￠￡￥￦円元圓") + span(0x20A0, 0x20C0)),
    ("ts", span(0x2100, 0x214F) + chars("©®™§¶†‡•‣‥‧※⁂⁑⁕⁜")),
    ("xh", span(0x2460, 0x24FF) + span(0x2160, 0x2188) + span(0x2776, 0x2793)
        + span(0x3220, 0x3243) + span(0x3280, 0x32B0) + span(0x3251, 0x325F)),
    ("xl", span(0x0391, 0x03A9) + span(0x03B1, 0x03C9)),
    ("ey", span(0x0410, 0x0415) + chars("Ё") + span(0x0416, 0x0435) + chars("ё")
        + span(0x0436, 0x044F)),
    ("rb", span(0x3041, 0x3096) + span(0x309B, 0x309F) + span(0x30A1, 0x30FF)
        + span(0x31F0, 0x31FF)),
    ("pf", words("ā á ǎ à ē é ě è ī í ǐ ì ō ó ǒ ò ū ú ǔ ù ǖ ǘ ǚ ǜ ü ê ê̄ ế ê̌ ề ń ň ǹ ḿ m̀ "
                 "Ā Á Ǎ À Ē É Ě È Ī Í Ǐ Ì Ō Ó Ǒ Ò Ū Ú Ǔ Ù Ǖ Ǘ Ǚ Ǜ Ü Ê")),
    ("hz", span(0x3105, 0x312F) + span(0x31A0, 0x31BF) + chars("ˉˊˇˋ˙")),
]


def main(out_path):
    with open(out_path, "w", encoding="utf-8", newline="\n") as f:
        for code, symbols in CATEGORIES:
            unique = list(dict.fromkeys(s for s in symbols if s.strip()))
            f.write(code + "\t" + " ".join(unique) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/plugin/symbols.txt")
