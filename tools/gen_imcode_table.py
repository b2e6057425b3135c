#!/usr/bin/env python3
"""Generates src/textutil/imcode_readings_table.cpp, the reading table of the mnemonic code generator.

Usage (from the project root):
    python3 tools/gen_imcode_table.py > src/textutil/imcode_readings_table.cpp
    python3 tools/gen_imcode_table.py src/textutil/imcode_readings_table.cpp
    python3 tools/gen_imcode_table.py --unihan /path/to/Unihan_Readings.txt[.bz2] OUTPUT

The table holds one syllable number (1-405, 0 = no reading) per GBK double-byte code, lead byte
0x81-0xFE by trail byte 0x40-0xFE, at (lead - 0x81) * 191 + (trail - 0x40).

Sources:
  - the kMandarin field of the Unihan database installed by Debian's unicode-data package
    (first reading only, tone marks dropped, u-umlaut written v);
  - the GBK decoder of glibc iconv, called through ctypes (each code on its own).

The number of zero entries is printed to stderr when the table goes to stdout, else to stdout.
Re-running the script on the same inputs gives the same file.
"""

import argparse
import bz2
import ctypes
import ctypes.util
import os
import subprocess
import sys
import unicodedata

# Syllable table of the generator, numbers 1-405 in order; "" is entry 394, which is empty.
SYLLABLES = """
a ai an ang ao ba bai ban bang bao bei ben beng bi bian biao bie bin bing bo
bu ca cai can cang cao ce ceng cha chai chan chang chao che chen cheng chi chong chou chu
chuai chuan chuang chui chun chuo ci cong cou cu cuan cui cun cuo da dai dan dang dao de
deng di dian diao die ding diu dong dou du duan dui dun duo e en er fa fan fang
fei fen feng fu fou ga gai gan gang gao ge ji gen geng gong gou gu gua guai guan
guang gui gun guo ha hai han hang hao he hei hen heng hong hou hu hua huai huan huang
hui hun huo jia jian jiang qiao jiao jie jin jing jiong jiu ju juan jue jun ka kai kan
kang kao ke ken keng kong kou ku kua kuai kuan kuang kui kun kuo la lai lan lang lao
le lei leng li lia lian liang liao lie lin ling liu long lou lu luan lue lun luo ma
mai man mang mao me mei men meng mi mian miao mie min ming miu mo mou mu na nai
nan nang nao ne nei nen neng ni nian niang niao nie nin ning niu nong nu nuan nue yao
nuo o ou pa pai pan pang pao pei pen peng pi pian piao pie pin ping po pou pu
qi qia qian qiang qie qin qing qiong qiu qu quan que qun ran rang rao re ren reng ri
rong rou ru ruan rui run ruo sa sai san sang sao se sen seng sha shai shan shang shao
she shen sheng shi shou shu shua shuai shuan shuang shui shun shuo si song sou su suan sui sun
suo ta tai tan tang tao te teng ti tian tiao tie ting tong tou tu tuan tui tun tuo
wa wai wan wang wei wen weng wo wu xi xia xian xiang xiao xie xin xing xiong xiu xu
xuan xue xun ya yan yang ye yi yin ying yo yong you yu yuan yue yun za zai zan
zang zao ze zei zen zeng zha zhai zhan zhang zhao zhe zhen zheng zhi zhong zhou zhu zhua zhuai
zhuan zhuang zhui zhun zhuo zi zong zou zu zuan zui zun zuo - ei m n dia cen nou
jv qv xv lv nv
""".split()
SYLLABLES = ["" if s == "-" else s for s in SYLLABLES]
assert len(SYLLABLES) == 405 and SYLLABLES[393] == ""
SYLLABLE_NUMBER = {s: i + 1 for i, s in enumerate(SYLLABLES) if s}

# Characters with several readings carry the one below, whatever Unihan lists first; None means no reading.
OVERRIDES = {
    "丂": "yu",    # Unihan: kao
    "佛": None,    # Unihan: fu; its reading fo has no syllable in the table
    "长": "zhang",  # Unihan agrees; pinned against changes of the database
    "行": "hang",   # Unihan: xing
    "了": "le",     # Unihan agrees; pinned
    "乐": "le",     # Unihan agrees; pinned
    "谁": "shui",   # Unihan: shei, not in the table; the only other GB2312 hanzi that would lose its reading
}

# Spellings of Unihan that the table writes differently.
SPELLING = {"lve": "lue", "nve": "nue"}

# Characters whose number is fixed; the script refuses to write a table that disagrees.
REQUIRED = {"啊": 1, "中": 376, "国": 104, "的": 60, "一": 348, "女": 405, "绿": 404, "丂": 354,
            "给": 0, "佛": 0, "长": 370, "行": 108, "了": 161, "乐": 161, "谁": 291}

LEADS = range(0x81, 0xFF)
TRAILS = range(0x40, 0xFF)


def find_unihan():
    """Unihan_Readings.txt(.bz2) as listed by dpkg for unicode-data, else the usual place."""
    candidates = []
    try:
        listing = subprocess.run(["dpkg", "-L", "unicode-data"], capture_output=True, text=True, check=True)
        candidates += [p for p in listing.stdout.split() if os.path.basename(p).startswith("Unihan_Readings.txt")]
    except (OSError, subprocess.CalledProcessError):
        pass
    candidates += ["/usr/share/unicode/Unihan_Readings.txt.bz2", "/usr/share/unicode/Unihan_Readings.txt"]
    for path in candidates:
        if os.path.isfile(path):
            return path
    sys.exit("gen_imcode_table: Unihan_Readings.txt not found; install unicode-data or pass --unihan")


def read_mandarin(path):
    opener = bz2.open if path.endswith(".bz2") else open
    readings = {}
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            if not line.startswith("U+"):
                continue
            code, field, value = line.rstrip("\n").split("\t", 2)
            if field == "kMandarin":
                readings[int(code[2:], 16)] = value.split()[0]
    return readings


def read_compatibility_variants(unihan_path):
    """Compatibility ideograph -> unified ideograph, from the Unihan file next to the readings."""
    folder = os.path.dirname(unihan_path)
    suffix = ".bz2" if unihan_path.endswith(".bz2") else ""
    path = os.path.join(folder, "Unihan_IRGSources.txt" + suffix)
    variants = {}
    if not os.path.isfile(path):
        return variants
    opener = bz2.open if suffix else open
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("U+"):
                code, field, value = line.rstrip("\n").split("\t", 2)
                if field == "kCompatibilityVariant":
                    variants[int(code[2:], 16)] = int(value.split()[0][2:], 16)
    return variants


class GlibcGbk:
    """Decodes one GBK code with glibc iconv; None when glibc has no mapping for it."""

    def __init__(self):
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        libc.iconv_open.restype = ctypes.c_void_p
        libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        libc.iconv.restype = ctypes.c_size_t
        libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t),
                               ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]
        libc.iconv_close.argtypes = [ctypes.c_void_p]
        self.libc = libc
        self.cd = libc.iconv_open(b"UTF-32LE", b"GBK")
        if self.cd is None or self.cd == ctypes.c_void_p(-1).value:
            sys.exit("gen_imcode_table: glibc iconv has no GBK converter")

    def decode(self, data):
        inbuf = ctypes.create_string_buffer(data, len(data))
        outbuf = ctypes.create_string_buffer(16)
        inptr = ctypes.c_char_p(ctypes.addressof(inbuf))
        inleft = ctypes.c_size_t(len(data))
        outptr = ctypes.c_char_p(ctypes.addressof(outbuf))
        outleft = ctypes.c_size_t(16)
        self.libc.iconv(self.cd, None, None, None, None)
        rc = self.libc.iconv(self.cd, ctypes.byref(inptr), ctypes.byref(inleft), ctypes.byref(outptr),
                             ctypes.byref(outleft))
        if rc == ctypes.c_size_t(-1).value or inleft.value != 0 or 16 - outleft.value != 4:
            return None
        return int.from_bytes(outbuf.raw[:4], "little")


def toneless(reading):
    """Pinyin with tone marks to the table's spelling: tones dropped, u-umlaut as v (e-circumflex as e)."""
    letters = []
    for ch in unicodedata.normalize("NFD", reading.lower()):
        if ch == "\u0308":          # combining diaeresis: u-umlaut
            letters[-1] = "v"
        elif unicodedata.combining(ch):
            continue
        else:
            letters.append(ch)
    syllable = "".join(letters)
    return SPELLING.get(syllable, syllable)


def in_symbol_area(lead, trail):
    """Codes that carry no reading whatever the character databases say."""
    return 0xA1 <= lead <= 0xA9 or lead == 0xFE or trail == 0x7F or (0xAA <= lead <= 0xAF and trail >= 0xA1)


def decode_all(gbk):
    """Code point of every double-byte code of the table's range (None where glibc has none)."""
    return {(lead, trail): gbk.decode(bytes([lead, trail])) for lead in LEADS for trail in TRAILS}


def build_table(decoded, mandarin, variants):
    overrides = {ord(ch): reading for ch, reading in OVERRIDES.items()}
    table = []
    for lead in LEADS:
        for trail in TRAILS:
            number = 0
            code = None if in_symbol_area(lead, trail) else decoded[(lead, trail)]
            if code is not None:
                if code in overrides:
                    reading = overrides[code]
                else:
                    reading = mandarin.get(code)
                    if reading is None and code in variants:
                        reading = mandarin.get(variants[code])
                    if reading is not None:
                        reading = toneless(reading)
                number = SYLLABLE_NUMBER.get(reading, 0) if reading else 0
            table.append(number)
    return table


def render(table):
    lines = [
        "// Generated by tools/gen_imcode_table.py from Unihan kMandarin and the glibc GBK mapping. Do not edit.",
        "// Syllable number of every GBK double-byte code, lead 0x81-0xFE by trail 0x40-0xFE; 0 means no reading.",
        "",
        '#include "textutil/imcode_readings_table.h"',
        "",
        "namespace textutil {",
        "",
        "// clang-format off",
        "const std::uint16_t kImReadings[24066] = {",
    ]
    width = len(TRAILS)
    for row, lead in enumerate(LEADS):
        lines.append(f"    // lead 0x{lead:02X}")
        cells = table[row * width:(row + 1) * width]
        for start in range(0, width, 16):
            lines.append("    " + " ".join(f"{n}," for n in cells[start:start + 16]))
    lines += ["};", "// clang-format on", "", "} // namespace textutil", ""]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description="Generate the GBK reading table of the mnemonic code generator.")
    parser.add_argument("output", nargs="?", help="file to write (default: stdout)")
    parser.add_argument("--unihan", help="path of Unihan_Readings.txt or Unihan_Readings.txt.bz2")
    args = parser.parse_args()

    unihan = args.unihan or find_unihan()
    decoded = decode_all(GlibcGbk())
    table = build_table(decoded, read_mandarin(unihan), read_compatibility_variants(unihan))
    assert len(table) == 24066

    gbk_code = {code: key for key, code in decoded.items() if code is not None}
    for ch, expected in REQUIRED.items():
        if ord(ch) not in gbk_code:
            sys.exit(f"gen_imcode_table: {ch} has no GBK code")
        lead, trail = gbk_code[ord(ch)]
        got = table[(lead - 0x81) * 191 + (trail - 0x40)]
        if got != expected:
            sys.exit(f"gen_imcode_table: {ch} (0x{lead:02X}{trail:02X}) has {got}, expected {expected}")

    text = render(table)
    zeros = table.count(0)
    if args.output:
        with open(args.output, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
        print(f"zero entries: {zeros}")
    else:
        sys.stdout.write(text)
        print(f"zero entries: {zeros}", file=sys.stderr)


if __name__ == "__main__":
    main()
