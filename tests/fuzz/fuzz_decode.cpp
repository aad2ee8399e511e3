// Arbitrary file contents through decodeFileText and splitLines, the path
// every opened file takes.

#include "fuzz_support.h"

#include "window/textfile.h"

#include <cstddef>
#include <cstdint>

namespace {

// Both split at what is below 0x80. In a UTF-8 decoding those characters come
// from ASCII bytes and nothing else, so the runs between them line up one to
// one with the runs of non-ASCII bytes in the input.
QList<QByteArrayView> runsBetweenAscii(QByteArrayView bytes) {
    QList<QByteArrayView> pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || static_cast<unsigned char>(bytes[i]) < 0x80) {
            pieces.append(bytes.sliced(start, i - start));
            start = i + 1;
        }
    }
    return pieces;
}

QList<QStringView> runsBetweenAscii(QStringView text) {
    QList<QStringView> pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i].unicode() < 0x80) {
            pieces.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    return pieces;
}

// After a byte-order mark, invalid bytes become U+FFFD but must take nothing
// else with them: every run of valid UTF-8 between ASCII bytes comes out as
// itself, and every invalid run comes out as at most one character per byte,
// at least one of them U+FFFD.
void checkLenientUtf8(QByteArrayView body, QStringView text) {
    const QList<QByteArrayView> byteRuns = runsBetweenAscii(body);
    const QList<QStringView> textRuns = runsBetweenAscii(text);
    FUZZ_CHECK(byteRuns.size() == textRuns.size(),
               "each run of non-ASCII bytes gives one run of non-ASCII text");
    for (qsizetype i = 0; i < byteRuns.size(); ++i) {
        if (const std::optional<QString> valid = fuzz::strictUtf8(byteRuns[i])) {
            FUZZ_CHECK_EQUAL(QStringView(*valid), textRuns[i],
                             "valid UTF-8 next to invalid bytes decodes unchanged");
        } else {
            FUZZ_CHECK(textRuns[i].contains(QChar(QChar::ReplacementCharacter)),
                       "an invalid UTF-8 run shows U+FFFD");
            FUZZ_CHECK(textRuns[i].size() <= byteRuns[i].size(),
                       "an invalid UTF-8 run gives at most one unit per byte");
        }
    }
}

void checkLines(QStringView text, std::size_t seed) {
    const QStringList lines = rt::splitLines(text);
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'), "no line contains CR or LF");
    }
    FUZZ_CHECK_EQUAL(QStringView(fuzz::normalizedLineEnds(text)),
                     QStringView(fuzz::joinLines(lines, u"\n")),
                     "the lines are the text cut at CR LF, LF and CR");

    // Writing the lines back with any of the three line ends and splitting
    // again must give the same lines; which one is tried varies with the
    // input so that each run stays cheap.
    static constexpr const char16_t* kLineEnds[] = {u"\r\n", u"\n", u"\r"};
    const QString rejoined = fuzz::joinLines(lines, kLineEnds[seed % 3]);
    FUZZ_CHECK(rt::splitLines(rejoined) == lines,
               "lines joined by line ends split into the same lines");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const QString text = rt::decodeFileText(bytes);

    const bool bom = bytes.startsWith(fuzz::kBom);
    const QByteArrayView body = bom ? bytes.sliced(fuzz::kBom.size()) : bytes;
    const std::optional<QString> utf8 = fuzz::strictUtf8(body);
    const bool readAsUtf8 = bom || utf8;

    if (utf8) {
        FUZZ_CHECK_EQUAL(QStringView(*utf8), QStringView(text),
                         "valid UTF-8, with or without a BOM, decodes exactly");
    } else if (!bom) {
        FUZZ_CHECK_EQUAL(QStringView(fuzz::referenceCp932(bytes)), QStringView(text),
                         "anything else decodes as CP932, each bad byte as U+FFFD");
    }

    FUZZ_CHECK(!fuzz::hasLoneSurrogate(text), "decoded text has no lone surrogates");
    FUZZ_CHECK(text.size() <= body.size(), "decoding never gives more units than bytes");

    // In UTF-8 no ASCII byte belongs to a longer sequence; in CP932 the bytes
    // below 0x40 never are (trail bytes start at 0x40). Those bytes, line ends
    // among them, must each come out as themselves and in the same order, no
    // matter what invalid bytes stand next to them.
    const char16_t kept = readAsUtf8 ? 0x80 : 0x40;
    FUZZ_CHECK_EQUAL(QStringView(fuzz::bytesBelow(body, kept)),
                     QStringView(fuzz::charsBelow(text, kept)),
                     "bytes that cannot belong to a longer character decode as themselves");
    if (bom && !utf8)
        checkLenientUtf8(body, text);

    checkLines(text, size);

    // Whatever a file decodes to must save and read back unchanged.
    fuzz::checkEncode(text);
    return 0;
}
