// The text-file codec, fuzzed the three ways text reaches a file.
//
// First byte 0 mod 3: the rest is a file, with a byte-order mark in front
// as bits 2-4 pick (none, UTF-8, UTF-16 LE/BE, UTF-32 LE/BE), so that each
// encoding is reached. Opened as Open does (lines joined by CR LF) and
// saved unchanged as Save does (the text and CR LF, in the format read),
// the bytes must come back exactly, whatever they are.
//
// 1 mod 3: the same, then the text edited as the next three bytes say (a
// few characters at a place replaced by "x"). Every line before the edited
// ones keeps its bytes, and (outside ISO-2022-JP, whose escapes carry
// state) every line after them too.
//
// 2 mod 3: the rest is text as UTF-16 units (lone surrogates included),
// saved fresh in the format that the next bytes pick. Reading the file
// back as that format must give the text again, line breaks as the
// format's line end and each lone surrogate that is no stand-in as U+FFFD;
// a Unicode file must read as having a mark exactly when it was given one.

#include "textfile/codec.h"
#include "textfile/text_codec.h"
#include "textfile/textfile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition, property)                                                            \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "\n==fuzz property failed== %s (%s:%d)\n", property, __FILE__,    \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

using namespace Qt::StringLiterals;

namespace {

using rt::TextFormat;

// What Open leaves in the text box: the lines joined by CR LF.
QString opened(QStringView text) {
    QString joined;
    joined.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            if (i + 1 < text.size())
                joined += u"\r\n";
        } else {
            joined += text[i];
        }
    }
    return joined;
}

void checkFile(const QByteArray& file) {
    const rt::DecodedText read = rt::decodeText(file);
    const rt::EncodedText saved = rt::encodeText(opened(read.text) + u"\r\n"_s, read.format);
    FUZZ_CHECK(!saved.unheld, "an unchanged text asks nothing");
    FUZZ_CHECK(saved.bytes == file, "an unchanged file comes back byte for byte");
}

void checkEdit(const QByteArray& file, const std::uint8_t* edit) {
    const rt::DecodedText read = rt::decodeText(file);
    const QString text = opened(read.text);
    const qsizetype at = (edit[0] << 8 | edit[1]) % (text.size() + 1);
    const qsizetype gone = std::min<qsizetype>(edit[2] % 4, text.size() - at);
    QString edited = text;
    edited.replace(at, gone, u"x"_s);
    const rt::EncodedText saved = rt::encodeText(edited + u"\r\n"_s, read.format);
    FUZZ_CHECK(!saved.unheld, "every encoding holds an x");
    // The lines the edit touches, and where they lie in the file.
    const qsizetype first = text.first(at).count(u"\r\n"_s);
    const qsizetype last = text.first(at + gone).count(u"\r\n"_s);
    const rt::codec::LineScanner lines(read.format, file);
    qsizetype before = lines.textStart();
    qsizetype after = before;
    for (qsizetype line = 0; after < file.size() && line <= last; ++line) {
        const qsizetype end = lines.lineAt(after).end;
        if (line < first)
            before = end;
        after = end;
    }
    FUZZ_CHECK(saved.bytes.startsWith(file.first(before)),
               "the lines before an edit keep their bytes");
    const bool iso = read.format.encoding == rt::FileEncoding::Iso2022Jp ||
                     read.format.encoding == rt::FileEncoding::Iso2022Jp2004;
    FUZZ_CHECK(iso || saved.bytes.endsWith(file.sliced(after)),
               "the lines after an edit keep their bytes");
}

void checkText(QStringView text, std::uint8_t mode) {
    TextFormat format;
    format.encoding = rt::FileEncoding(mode % 11);
    format.bom = (mode >> 4 & 1) != 0 && !rt::codec::markOf(format.encoding).isEmpty();
    format.lineEnd = TextFormat::LineEnd((mode >> 5) % 3);
    const rt::EncodedText saved = rt::encodeText(text, format);
    const bool unicode = !rt::codec::markOf(format.encoding).isEmpty();
    FUZZ_CHECK(!unicode || !saved.unheld, "the Unicode forms hold every character");
    if (saved.unheld)
        return;
    FUZZ_CHECK(!unicode || rt::detectEncoding(saved.bytes).bom == saved.bom,
               "a Unicode file reads as having a mark exactly when it was given one");

    // The text as it must read back: other lone surrogates become U+FFFD,
    // every line break the format's line end.
    const bool wide = format.encoding == rt::FileEncoding::Utf16Le ||
                      format.encoding == rt::FileEncoding::Utf16Be;
    const QStringView end = std::array{u"\r\n", u"\n", u"\r"}[int(format.lineEnd)];
    QString expected;
    bool standIns = false;
    const QStringView body = text.endsWith(u"\r\n") ? text.chopped(2) : text;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < body.size() && body[i + 1] == u'\n')
                ++i;
            expected += end;
        } else if (c.isHighSurrogate() && i + 1 < body.size() && body[i + 1].isLowSurrogate()) {
            expected += c;
            expected += body[++i];
        } else if (rt::codec::isStandIn(c.unicode())) {
            standIns = true;
        } else if (c.isSurrogate()) {
            // UTF-16 writes it as it is, and reads it back as two bytes.
            expected += QChar(QChar::ReplacementCharacter);
            standIns = standIns || wide;
        } else {
            expected += c;
        }
    }
    expected += end;
    if (standIns)
        return; // Raw bytes: only that they are written as bytes is certain.
    const rt::DecodedText read = rt::decodeText(saved.bytes, {format.encoding, saved.bom});
    FUZZ_CHECK(read.text == expected, "saved text reads back unchanged");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const QByteArrayView rest(reinterpret_cast<const char*>(data + 4), qsizetype(size - 4));
    const std::array<QByteArrayView, 6> marks{"",
                                              "\xEF\xBB\xBF",
                                              {"\xFF\xFE", 2},
                                              {"\xFE\xFF", 2},
                                              {"\xFF\xFE\0\0", 4},
                                              {"\0\0\xFE\xFF", 4}};
    const QByteArray file = marks[(data[0] >> 2) % 6].toByteArray() + rest.toByteArray();
    switch (data[0] % 3) {
    case 0:
        checkFile(file);
        break;
    case 1:
        checkEdit(file, data + 1);
        break;
    default: {
        QString text(rest.size() / 2, Qt::Uninitialized);
        std::memcpy(text.data(), rest.data(), std::size_t(text.size()) * 2);
        checkText(text, data[1]);
        break;
    }
    }
    return 0;
}
