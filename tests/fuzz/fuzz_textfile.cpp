// The text-file codec, fuzzed the two ways text reaches a file.
//
// First byte even: the rest is a file. Bits 1-2 put a byte-order mark in
// front (none, UTF-8, UTF-16 LE, UTF-16 BE), so that each encoding the
// reader can choose is reached. The file is opened as Open does (lines
// joined by CR LF) and saved as Save does (the text and CR LF, in the
// format read): the bytes must come back exactly, plus one line end where
// the file had no final one. Files whose line ends differ are written with
// the first throughout; files that use both CP932 codes of a character get
// the first code throughout.
//
// First byte odd: the rest is text as UTF-16 units (lone surrogates
// included), saved in the format that bits 1-3 and 4-5 pick. Reading the
// file back must give the text again, line breaks as the format's line end
// and each lone surrogate that is no stand-in as U+FFFD.

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

// The lines of a text: CR LF, LF and CR each end one, and a line end after
// the last line starts none.
QStringList splitLines(QStringView text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        lines << text.sliced(start, i - start).toString();
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.sliced(start).toString();
    return lines;
}

// What Open leaves in the text box and Save prints.
QString openedThenPrinted(QStringView text) {
    return splitLines(text).join(u"\r\n"_s) + u"\r\n"_s;
}

QByteArray lineEndBytes(const TextFormat& format) {
    const char* ends[] = {"\r\n", "\n", "\r"};
    QString end = QString::fromLatin1(ends[int(format.lineEnd)]);
    TextFormat plain = format;
    plain.encoding =
        format.encoding == TextFormat::Encoding::Utf16Be   ? TextFormat::Encoding::Utf16Be
        : format.encoding == TextFormat::Encoding::Utf16Le ? TextFormat::Encoding::Utf16Le
                                                           : TextFormat::Encoding::Utf8;
    QByteArray bytes = rt::encodeText(end, plain);
    return plain.encoding == TextFormat::Encoding::Utf8 ? bytes : bytes.sliced(2); // no mark
}

// Whether the bytes might use two codes of one CP932 character: some two
// bytes anywhere in them are a code of such a character, and another code
// of the same character is there too. Errs towards yes.
bool mayUseBothCodes(QByteArrayView bytes) {
    // Every two-byte code, read on its own; the characters that more than
    // one code reads as, with their codes.
    static const QHash<quint16, QChar> shared = [] {
        QHash<QChar, QList<quint16>> codes;
        for (unsigned code = 0x8140; code <= 0xFCFC; ++code) {
            const char pair[] = {char(code >> 8), char(code & 0xFF)};
            const rt::DecodedText d = rt::decodeText(QByteArrayView(pair, 2));
            if (d.format.encoding == TextFormat::Encoding::Cp932 && d.text.size() == 1 &&
                !d.text[0].isSurrogate())
                codes[d.text[0]] << quint16(code);
        }
        QHash<quint16, QChar> result;
        for (auto it = codes.begin(); it != codes.end(); ++it) {
            for (const quint16 code : it.value())
                if (it.value().size() > 1)
                    result.insert(code, it.key());
        }
        return result;
    }();
    QHash<QChar, quint16> seen;
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
        const quint16 code = quint16(uchar(bytes[i]) << 8 | uchar(bytes[i + 1]));
        const auto it = shared.constFind(code);
        if (it != shared.constEnd() && seen.value(*it, code) != code)
            return true;
        if (it != shared.constEnd())
            seen.insert(*it, code);
    }
    return false;
}

void checkFile(const QByteArray& file) {
    const rt::DecodedText read = rt::decodeText(file);
    TextFormat format = read.format;
    const QByteArray saved = rt::encodeText(openedThenPrinted(read.text), format);

    const QList<QStringView> breaks = [&] {
        QList<QStringView> found;
        const QString& t = read.text;
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (t[i] == u'\r' && i + 1 < t.size() && t[i + 1] == u'\n')
                found << QStringView(t).sliced(i++, 2);
            else if (t[i] == u'\r' || t[i] == u'\n')
                found << QStringView(t).sliced(i, 1);
        }
        return found;
    }();
    const bool oneKind = std::all_of(breaks.begin(), breaks.end(),
                                     [&](QStringView b) { return b == breaks.front(); });
    // A UTF-16 file cut off inside a unit keeps its odd byte, but the line
    // end that Save adds after it cannot be aligned: no promise there.
    if ((format.encoding == TextFormat::Encoding::Utf16Le ||
         format.encoding == TextFormat::Encoding::Utf16Be) &&
        file.size() % 2 != 0)
        return;
    if (file.isEmpty()) {
        FUZZ_CHECK(saved == "\r\n", "an empty file is saved as the program's own empty text");
        return;
    }
    const bool ended = read.text.endsWith(u'\r') || read.text.endsWith(u'\n');
    const QByteArray expected = ended ? file : file + lineEndBytes(read.format);
    if (read.format.encoding == TextFormat::Encoding::Cp932 && mayUseBothCodes(file)) {
        // The first code goes for all, which keeps the length (a stray byte
        // before a code may then read as part of it); or, should that read
        // as UTF-8, the whole text goes to UTF-8.
        FUZZ_CHECK(saved.size() == expected.size() || !oneKind ||
                       format.encoding == TextFormat::Encoding::Utf8Bom,
                   "CP932 with both codes of a character: only codes change");
        return;
    }
    FUZZ_CHECK(format == read.format, "a file read without loss is saved in its own format");
    if (!oneKind) {
        const rt::DecodedText again = rt::decodeText(saved);
        FUZZ_CHECK(splitLines(again.text) == splitLines(read.text),
                   "mixed line ends: the same lines come back");
        return;
    }
    FUZZ_CHECK(saved == expected, "a file with one kind of line end comes back byte for byte");
}

void checkText(QStringView text, std::uint8_t mode) {
    TextFormat format;
    format.encoding = TextFormat::Encoding((mode >> 1) % 5);
    format.lineEnd = TextFormat::LineEnd((mode >> 4) % 3);
    const TextFormat asked = format;
    const QByteArray saved = rt::encodeText(text, format);
    FUZZ_CHECK(format.encoding == asked.encoding ||
                   format.encoding == TextFormat::Encoding::Utf8Bom,
               "only CP932 may turn to UTF-8, and only with a mark");

    // The text as it must read back: stand-ins stay (the same bytes are
    // read again, though a run of them may now decode), other lone
    // surrogates become U+FFFD, every line break the format's line end.
    const bool wide = format.encoding == TextFormat::Encoding::Utf16Le ||
                      format.encoding == TextFormat::Encoding::Utf16Be;
    const QStringView end = std::array{u"\r\n", u"\n", u"\r"}[int(format.lineEnd)];
    QString expected;
    bool standIns = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            expected += end;
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            expected += c;
            expected += text[++i];
        } else if (c.unicode() >= (wide ? 0xDC00 : 0xDC80) && c.unicode() <= 0xDCFF) {
            standIns = true;
        } else if (c.isSurrogate()) {
            expected += wide ? c : QChar(QChar::ReplacementCharacter);
            standIns = standIns || wide;
        } else {
            expected += c;
        }
    }
    if (standIns)
        return; // Raw bytes: only that they are written as bytes is certain.
    const rt::DecodedText read = rt::decodeText(saved);
    if (saved.isEmpty())
        return;
    FUZZ_CHECK(read.text == expected, "saved text reads back unchanged");
    const bool ascii =
        std::all_of(saved.begin(), saved.end(), [](char b) { return uchar(b) < 0x80; });
    FUZZ_CHECK(read.format.encoding == format.encoding ||
                   (ascii && read.format.encoding == TextFormat::Encoding::Utf8),
               "saved text reads back in the encoding it was written in (ASCII as UTF-8)");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArrayView rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if ((data[0] & 1) == 0) {
        const char* marks[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
        checkFile(QByteArray(marks[(data[0] >> 1) & 3]) + rest.toByteArray());
    } else {
        QString text(rest.size() / 2, Qt::Uninitialized);
        std::memcpy(text.data(), rest.data(), std::size_t(text.size()) * 2);
        checkText(text, data[0]);
    }
    return 0;
}
