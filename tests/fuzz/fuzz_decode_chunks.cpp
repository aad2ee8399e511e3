// decodeFileText works on large files piece by piece: UTF-8 in chunks of
// 1 MiB of input, CP932 through an output buffer of 65536 characters. Inputs
// that small fuzzing produces never reach either boundary, so this target
// puts an ASCII run in front of the fuzzed bytes that ends just before one,
// and checks that the piecewise decoding gives what decoding the fuzzed
// bytes alone gives.
//
// The first input byte picks the boundary and whether the file has a
// byte-order mark; the second says how far before the boundary the fuzzed
// bytes start; the rest are the fuzzed bytes.

#include "fuzz_support.h"

#include "window/textfile.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr qsizetype kUtf8ChunkBytes = qsizetype(1) << 20;
constexpr qsizetype kCp932BufferChars = qsizetype(1) << 16;

// ASCII is the same character in UTF-8 and in CP932 and ends any sequence in
// both, so a run of it in front changes nothing about how the bytes after it
// decode; it only moves them to where the pieces meet.
const QByteArray& padding() {
    static const QByteArray ascii(kUtf8ChunkBytes, 'a');
    return ascii;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const bool bom = data[0] & 1;
    const qsizetype boundary = (data[0] & 2) ? kCp932BufferChars : kUtf8ChunkBytes;
    const qsizetype padLength = boundary - data[1];
    const QByteArrayView fuzzed = fuzz::bytesOf(data + 2, size - 2);
    const QByteArrayView pad = QByteArrayView(padding()).first(padLength);

    // Without a mark in front, fuzzed bytes that start with one would be read
    // differently alone (mark dropped) and behind the padding (U+FEFF kept).
    if (!bom && fuzzed.startsWith(fuzz::kBom))
        return 0;

    const QByteArray prefix = bom ? fuzz::kBom.toByteArray() : QByteArray();
    // The megabyte-sized buffer is kept between runs: allocating it afresh
    // each time costs more than the decoding being tested.
    static QByteArray whole;
    whole.resize(0);
    whole += prefix;
    whole += pad;
    whole += fuzzed;
    const QString actual = rt::decodeFileText(whole);
    const QString alone = rt::decodeFileText(prefix + fuzzed.toByteArray());

    static const QString paddingText = QString::fromLatin1(padding());
    FUZZ_CHECK(actual.size() >= padLength && QStringView(actual).first(padLength) ==
                                                 QStringView(paddingText).first(padLength),
               "the ASCII in front of the fuzzed bytes decodes unchanged");
    FUZZ_CHECK_EQUAL(QStringView(alone), QStringView(actual).sliced(padLength),
                     "bytes decode the same wherever the chunks of a large file are cut");
    return 0;
}
