// Arbitrary file contents through decodeFileText and splitLines, the path
// every opened file takes.
//
// Built with FUZZ_AT_CUTS, this becomes fuzz_decode_chunks: decodeFileText
// cuts a large file into pieces (UTF-8 in chunks of 1 MiB of input, CP932
// through a buffer of 65536 characters), which fuzzed inputs are far too
// small to reach, so a run of ASCII is put in front of them that ends just
// before a cut. ASCII is the same in UTF-8 and CP932 and ends any sequence
// before it, so it must change nothing about how the bytes after it decode.
// Bit 0 of the first input byte puts a byte-order mark in front, bit 1 picks
// the CP932 buffer instead of the UTF-8 chunk, the second byte says how far
// before the cut the rest of the input starts.

#include "fuzz_check.h"

#include <QStringDecoder>

#include <cstddef>
#include <cstdint>

namespace {

QString checkDecode(QByteArrayView bytes) {
    const QString text = rt::decodeFileText(bytes);
    const bool bom = bytes.startsWith(fuzz::kBom);
    const QByteArrayView body = bom ? bytes.sliced(fuzz::kBom.size()) : bytes;

    // QString::fromUtf8() would drop a second byte-order mark at the start of
    // the body, which the file keeps as a character; a strict decoder that
    // keeps it says both whether the body is valid and what it must read as.
    QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
    const QString utf8 = strict(body);
    const bool valid = !strict.hasError();
    FUZZ_CHECK(!valid || text == utf8, "valid UTF-8, with or without a BOM, decodes as itself");
    FUZZ_CHECK(text.size() <= body.size(), "decoding never gives more UTF-16 units than bytes");
    FUZZ_CHECK(QStringView(text).isValidUtf16(), "decoded text has no lone surrogates");

    // A byte below 0x40 never belongs to a longer CP932 character, nor one
    // below 0x80 to a longer UTF-8 one. Each must come out as itself and in
    // order, whatever bad bytes stand next to it: a bad byte that took a line
    // end with it would join two lines.
    const int single = bom || valid ? 0x80 : 0x40;
    QString fromBytes, fromText;
    for (const char byte : body) {
        if (static_cast<uchar>(byte) < single)
            fromBytes += QLatin1Char(byte);
    }
    for (const QChar c : text) {
        if (c.unicode() < single)
            fromText += c;
    }
    FUZZ_CHECK(fromBytes == fromText, "bytes that start no longer character decode as themselves");

    const QStringList lines = rt::splitLines(text);
    QString rejoined;
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'), "no line contains CR or LF");
        rejoined += line + QLatin1String("\r\n");
    }
    FUZZ_CHECK(rt::splitLines(rejoined) == lines, "lines ended by CR LF split into the same lines");
    QString ends = text;
    ends.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    if (!ends.isEmpty() && !ends.endsWith(u'\n'))
        ends += u'\n';
    FUZZ_CHECK(rejoined.replace(QLatin1String("\r\n"), QLatin1String("\n")) == ends,
               "lines are the text cut at CR LF, LF, CR");

    // Whatever a file reads as must also save and read back unchanged.
    fuzz::checkEncode(text);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifndef FUZZ_AT_CUTS
    checkDecode(QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
#else
    constexpr qsizetype kUtf8Chunk = qsizetype(1) << 20;
    constexpr qsizetype kCp932Buffer = qsizetype(1) << 16;
    if (size < 2)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data + 2),
                          static_cast<qsizetype>(size - 2));
    const QByteArray prefix = (data[0] & 1) ? fuzz::kBom.toByteArray() : QByteArray();
    // Without a mark in front, bytes that start with one would read
    // differently alone (mark dropped) and behind the ASCII (U+FEFF kept).
    if (prefix.isEmpty() && rest.startsWith(fuzz::kBom))
        return 0;
    const qsizetype ascii = ((data[0] & 2) ? kCp932Buffer : kUtf8Chunk) - data[1];
    const QString alone = checkDecode(prefix + rest);

    // The megabyte-sized buffers are kept between runs: allocating them
    // afresh costs more than the decoding being tested.
    static QByteArray whole;
    static const QString asciiText(kUtf8Chunk, u'a');
    whole.resize(0);
    whole += prefix;
    whole.append(ascii, 'a');
    whole += rest;
    const QString text = rt::decodeFileText(whole);
    FUZZ_CHECK(text.size() == ascii + alone.size() &&
                   QStringView(text).first(ascii) == QStringView(asciiText).first(ascii) &&
                   QStringView(text).sliced(ascii) == alone,
               "bytes decode the same wherever a large file is cut into pieces");
#endif
    return 0;
}
