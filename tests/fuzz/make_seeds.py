#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: make_seeds.py OUTPUT_DIR.

Each target gets a folder of small inputs that already reach the corners of
the text-file layer, so that a short run spends its time around them rather
than rediscovering UTF-8 and CP932. Only the standard library is needed."""
import hashlib
import os
import sys

BOM = b"\xef\xbb\xbf"
# glibc's CP932 maps these to look-alikes, so they must not be saved as CP932.
LOSSY = "\u00a2\u00a3\u00a5\u00ac\u2014\u2016\u203e\u2212\u301c"
TEXTS = ["", "a", "a\r\nb\nc\rd\r\r\n\n\re", "\r\n\r\n", "こんにちは、世界。\r\n二行目\r三行目",
         "ｱｲｳｴｵ ﾃｷｽﾄ ｶﾞｷﾞ\r\n", "①② ㈱ № 纊褜 ～＼￤", "値段は\u00a5100\u301c", "😀👍🏽 絵文字\r\n",
         "\ufeffmark", "\u0000\uffff\ufffd", LOSSY,
         # CP932 writes "ﾂ｡" as C2 A1, which is also UTF-8 for "¡".
         "ﾂ｡", "ﾃｽﾄ｡ﾂ｡ﾂ｢"] + list(LOSSY)
# NEC row 13, IBM and NEC-selected IBM codes of the same characters, one way
# and both ways.
DUPLICATES = [b"\x87\x40\xfa\x40\xed\x40\x87\x54\r\n", b"\x81\xca\xfa\x54\xee\xef\r\n",
              b"\xfa\x54\x81\xca\n", b"\x87\x90\x81\xe0\x87\x90\r"]
LONE_SURROGATES = ["\ud800", "a\udc00b", "\ude00\ud83d", "日本\ud83d\r\n"]
INVALID = [b"\x80", b"\xff\xfe", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
           b"\xe3\x81\x81\x81\x81", b"abc\xe3\x81", b"abc\xf0\x9f\x98", b"\x82", b"\x82\r\n",
           b"\x81\n\x81\r", b"\x82\xa0\x82", b"\xa1\xb1\xdf\x81", b"\x00\x81\x00\x8e\x7f"]


# Files in the encodings the reader tells apart, with their untidy corners.
ENCODED = [b"\x1b$B$3$s\x1b(B\n", b"\x1b$@F|\x1b(J\\~\r\nK\\", b"\x1b$B\x1b$BF|",
           b"\x1b$B$+\x1b$(O&n\x1b(B\n", b"\xa4\xa2\xa4\xa4\n", b"\xad\xa1\x8f\xf3\xf3\n",
           b"\x82\xa9\x83\xec\n", b"\xa4\xab\xa6\xee\n", b"B0D0\n\0", b"0B0D\0\n"]


def file_seeds():
    """First byte 0 or 1 mod 3: a file (unchanged, or edited as the next
    three bytes say), (first byte >> 2) % 6 choosing the mark put in front:
    none, UTF-8, UTF-16 LE/BE, UTF-32 LE/BE."""
    files = [t.encode("utf-8") for t in TEXTS] + INVALID + DUPLICATES + ENCODED
    for t in TEXTS:
        try:
            files.append(t.encode("cp932"))
            files.append(t.encode("euc-jp"))
        except UnicodeEncodeError:
            pass
    seeds = []
    for kind in (0, 1):
        seeds += [bytes([kind, 0, 3, 2]) + f for f in files]
        for mark, codec in ((2, "utf-16-le"), (3, "utf-16-be"), (4, "utf-32-le"), (5, "utf-32-be")):
            seeds += [bytes([kind | mark << 2, 0, 1, 1]) + t.encode(codec, "surrogatepass")
                      for t in TEXTS + LONE_SURROGATES]
    return seeds


def text_seeds():
    """First byte 2 mod 3: UTF-16 units in host order (little-endian on every
    machine this runs on); the second byte picks the encoding (mod 11), the
    mark (bit 4) and the line end (bits 5-6)."""
    texts = TEXTS + LONE_SURROGATES + ["a\udcff\udc81b", "\udc00x"]
    return [bytes([2, enc | bom << 4 | end << 5, 0, 0]) + t.encode("utf-16-le", "surrogatepass")
            for t in texts for enc in range(11) for bom in range(2) for end in range(3)]


folder = os.path.join(sys.argv[1], "fuzz_textfile")
os.makedirs(folder, exist_ok=True)
for seed in file_seeds() + text_seeds():
    with open(os.path.join(folder, hashlib.sha1(seed).hexdigest()), "wb") as out:
        out.write(seed)
