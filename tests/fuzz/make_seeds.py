#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets.

Usage: make_seeds.py OUTPUT_DIR

OUTPUT_DIR gets one folder per fuzz target, each filled with small inputs
that already reach the interesting corners of the text-file layer, so that
a one-minute run spends its time around them instead of rediscovering
UTF-8 and CP932 from nothing. Each file is named after the SHA-1 of its
contents, as libFuzzer names the inputs it keeps. Only the standard library
is used; the CP932 codec ships with Debian's python3.
"""

import hashlib
import os
import sys

BOM = b"\xef\xbb\xbf"

# Text that a user of the editor writes: Japanese with kana, kanji and
# punctuation, half-width katakana, the NEC and IBM extension characters of
# Windows-31J, and plain ASCII with every kind of line end.
TEXTS = [
    "",
    "a",
    "Hello, world.\r\n",
    "a\r\nb\nc\rd\r\r\n\n\re",
    "\r\n\r\n",
    "\n",
    "\r",
    "こんにちは、世界。\r\nヨナミトで文字を書く。\r\n",
    "日本語のテキスト\n二行目\r三行目",
    "ｱｲｳｴｵ ﾃｷｽﾄ ｶﾞｷﾞ\r\n",
    # CP932 writes these two as C2 A1, which is also UTF-8 for "¡".
    "ﾂ｡",
    "ﾃｽﾄ｡ﾂ｡ﾂ｢",
    "①②③ ㈱ № ≒ ∵",
    "纊褜鍈銈",
    "～＼￤＇＂",
    "\ue000\ue757",
    "表示\\パス\\ファイル.txt",
    # The characters glibc's CP932 maps to a look-alike, so that they do not
    # read back as themselves: each on its own and all together.
    "\u00a2", "\u00a3", "\u00a5", "\u00ac", "\u2014", "\u2016", "\u203e", "\u2212",
    "\u301c",
    "\u00a2\u00a3\u00a5\u00ac\u2014\u2016\u203e\u2212\u301c",
    "値段は\u00a5100\u301c\u00a5200です",
    "😀👍🏽 絵文字\r\n",
    "e\u0301 combining",
    "\ufeffstarts with a byte-order mark",
    "\ufeff",
    "\u0000nul\u0000",
    "\uffff\ufffe\ufdd0",
    "\ufffd",
]

# Text with unpaired surrogates, which only the UTF-16 target can express.
LONE_SURROGATE_TEXTS = [
    "\ud800",
    "\udc00",
    "a\ud83db",
    "\ude00\ud83d",
    "end\ud83d",
    "\udfff\r\n\ud800\r\n",
    "日本\udc00語",
]

# Bytes that are neither clean UTF-8 nor clean CP932.
INVALID = [
    b"\x80",
    b"\xff",
    b"\xff\xfe",
    b"\xc0\xaf",
    b"\xe0\x80\xaf",
    b"\xed\xa0\x80",
    b"\xed\xbf\xbf",
    b"\xf4\x90\x80\x80",
    b"\xf8\x88\x80\x80\x80",
    b"\xe3\x81\x81\x81\x81",
    b"\xe3\x81\r\n\xe3",
    b"abc\xe3\x81",
    b"abc\xf0\x9f\x98",
    b"\x82",
    b"\x82\r\n",
    b"\x81\n\x81\r",
    b"\x82\xa0\x82",
    b"\x85\x40\x86\x9f",
    b"\xf0\x40\xf9\xfc",
    b"\x80\xa0\xfd\xfe\xff",
    b"\x81\x60\x81\x5f\x81\x50",
    b"\xa1\xb1\xdf\x81",
    b"\x00\x00\x81\x00",
    b"\x8e\x7f\x8e\x80",
]


def cp932(text):
    try:
        return text.encode("cp932")
    except UnicodeEncodeError:
        return None


def utf8(text):
    return text.encode("utf-8", "surrogatepass")


def utf16(text):
    # The UTF-16 target reads host-order units; every machine it runs on is
    # little-endian.
    return text.encode("utf-16-le", "surrogatepass")


def file_contents():
    """Whole files as the decoder meets them."""
    seeds = []
    for text in TEXTS:
        encoded = cp932(text)
        if encoded is not None:
            seeds.append(encoded)
        seeds.append(utf8(text))
        seeds.append(BOM + utf8(text))
    for bad in INVALID:
        seeds.append(bad)
        seeds.append(BOM + bad)
        seeds.append(b"line\r\n" + bad + b"\r\nnext\n")
        seeds.append(cp932("日本語\r\n") + bad)
        seeds.append(utf8("日本語\r\n") + bad)
    # Nothing but a byte-order mark, or the start of one.
    seeds += [BOM, BOM + BOM, b"\xef\xbb", b"\xef", BOM + b"\r\n"]
    return seeds


def chunk_inputs():
    """Inputs of fuzz_decode_chunks: a mode byte (bit 0: byte-order mark,
    bit 1: CP932 buffer instead of UTF-8 chunk), how many bytes before the
    boundary the rest starts, and the rest."""
    payloads = [
        b"\xe3\x81\x81\x81\x81",
        b"\xf0\x9f\x98\x80\x80\x80",
        b"\xe3\x81\x81",
        b"\xf0\x9f\x98\x80",
        b"abc\xe3\x81",
        b"\x82\xa0\x82\xa2\xff",
        b"\x82\xa0\x82",
        cp932("こんにちは\r\nｱｲｳ"),
        utf8("こんにちは😀\r\n"),
        b"\x80\x80\x80\x80\x80\x80",
    ]
    seeds = []
    for mode in range(4):
        for offset in (0, 1, 2, 3, 4, 5, 8):
            for payload in payloads:
                seeds.append(bytes([mode, offset]) + payload)
    return seeds


def write(folder, seeds):
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()
        with open(os.path.join(folder, name), "wb") as out:
            out.write(seed)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_seeds.py OUTPUT_DIR")
    out = sys.argv[1]
    files = file_contents()
    write(os.path.join(out, "fuzz_decode"), files)
    write(os.path.join(out, "fuzz_decode_chunks"), chunk_inputs())
    write(os.path.join(out, "fuzz_encode"),
          [utf16(t) for t in TEXTS + LONE_SURROGATE_TEXTS])
    write(os.path.join(out, "fuzz_encode_utf8"),
          [utf8(t) for t in TEXTS + LONE_SURROGATE_TEXTS])
    # U+0000 separates the prints of fuzz_lines, so a few inputs hold some.
    write(os.path.join(out, "fuzz_lines"),
          files + [b"a\0b\r\nc\0", utf8("一\0二\r三\0"), cp932("一\0二\n")])


if __name__ == "__main__":
    main()
