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
LONE_SURROGATES = ["\ud800", "a\udc00b", "\ude00\ud83d", "日本\ud83d\r\n"]
INVALID = [b"\x80", b"\xff\xfe", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
           b"\xe3\x81\x81\x81\x81", b"abc\xe3\x81", b"abc\xf0\x9f\x98", b"\x82", b"\x82\r\n",
           b"\x81\n\x81\r", b"\x82\xa0\x82", b"\xa1\xb1\xdf\x81", b"\x00\x81\x00\x8e\x7f"]


def encodings(text):
    out = [text.encode("utf-8"), BOM + text.encode("utf-8")]
    try:
        out.append(text.encode("cp932"))
    except UnicodeEncodeError:
        pass
    return out


def decode_seeds():
    files = [BOM, BOM + BOM, b"\xef\xbb"] + [s for t in TEXTS for s in encodings(t)]
    for bad in INVALID:
        files += [bad, BOM + bad, b"line\r\n" + bad + b"\r\nnext", "日本\r\n".encode("cp932") + bad]
    return files


def chunk_seeds():
    """Mode byte (bit 0: byte-order mark, bit 1: CP932 buffer), how far before
    the cut the rest starts, the rest. 01 04 E3 81 81 81 81 is the character
    once lost at the 1 MiB cut behind a byte-order mark."""
    ends = [b"\xe3\x81\x81\x81\x81", b"\xf0\x9f\x98\x80\x80", b"abc\xe3\x81", b"\x82\xa0\x82",
            b"\x82\xa0\x82\xa2\xff", "こんにちは😀\r\n".encode(), "ｱｲｳ\r\nこ".encode("cp932")]
    return [bytes([mode, offset]) + end for mode in range(4) for offset in range(6) for end in ends]


def encode_seeds():
    # A first byte of 0 means UTF-16 units in host order, little-endian on
    # every machine this runs on; 1 means UTF-8.
    texts = TEXTS + LONE_SURROGATES
    return ([b"\0" + t.encode("utf-16-le", "surrogatepass") for t in texts] +
            [b"\1" + t.encode("utf-8", "surrogatepass") for t in texts])


for target, seeds in (("fuzz_decode", decode_seeds()), ("fuzz_decode_chunks", chunk_seeds()),
                      ("fuzz_encode", encode_seeds())):
    folder = os.path.join(sys.argv[1], target)
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        with open(os.path.join(folder, hashlib.sha1(seed).hexdigest()), "wb") as out:
            out.write(seed)
