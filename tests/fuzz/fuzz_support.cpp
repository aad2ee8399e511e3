#include "fuzz_support.h"

#include "window/textfile.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <iconv.h>

namespace fuzz {

namespace {

// How much of two differing values a failure report shows on each side of
// the first difference; enough to recognise the spot without flooding CI.
constexpr qsizetype kContext = 48;

std::string escaped(QStringView text, qsizetype from, qsizetype to) {
    std::string out;
    char buffer[16];
    for (qsizetype i = std::max<qsizetype>(from, 0); i < std::min(to, text.size()); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit >= 0x20 && unit < 0x7F && unit != u'\\') {
            out += static_cast<char>(unit);
        } else {
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(unit));
            out += buffer;
        }
    }
    return out;
}

std::string escaped(QByteArrayView bytes, qsizetype from, qsizetype to) {
    std::string out;
    char buffer[8];
    for (qsizetype i = std::max<qsizetype>(from, 0); i < std::min(to, bytes.size()); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02X ",
                      static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
        out += buffer;
    }
    return out;
}

template <typename View> qsizetype firstDifference(View expected, View actual) {
    const qsizetype common = std::min(expected.size(), actual.size());
    qsizetype i = 0;
    while (i < common && expected[i] == actual[i])
        ++i;
    return i;
}

template <typename View>
[[noreturn]] void report(const char* property, View expected, View actual, const char* file,
                         int line) {
    const qsizetype at = firstDifference(expected, actual);
    std::fprintf(stderr,
                 "\n==fuzz property failed== %s\n  at %s:%d\n"
                 "  expected %lld units, got %lld; first difference at %lld\n"
                 "  expected [%lld..]: %s\n  actual   [%lld..]: %s\n",
                 property, file, line, static_cast<long long>(expected.size()),
                 static_cast<long long>(actual.size()), static_cast<long long>(at),
                 static_cast<long long>(std::max<qsizetype>(at - kContext, 0)),
                 escaped(expected, at - kContext, at + kContext).c_str(),
                 static_cast<long long>(std::max<qsizetype>(at - kContext, 0)),
                 escaped(actual, at - kContext, at + kContext).c_str());
    std::fflush(stderr);
    std::abort();
}

// One iconv descriptor per direction, reused across inputs: opening a glibc
// converter loads a module, which would dominate the time of a small input.
// Every use starts by returning it to its initial state.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) {
            std::fprintf(stderr, "iconv cannot convert from %s to %s\n", from, to);
            std::abort();
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of the input in one call. Returns 0, or iconv's errno
    // when any of it could not be converted.
    int convert(QByteArrayView in, QByteArray& out) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 4 + 16);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = static_cast<std::size_t>(in.size());
        char* outPtr = out.data();
        std::size_t outLeft = static_cast<std::size_t>(out.size());
        int error = 0;
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == std::size_t(-1) ||
            iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == std::size_t(-1))
            error = errno;
        out.truncate(outPtr - out.constData());
        return error;
    }

private:
    iconv_t cd_;
};

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr const char kUtf32[] = "UTF-32LE";
#else
constexpr const char kUtf32[] = "UTF-32BE";
#endif

Converter& fromCp932() {
    static Converter converter(kUtf32, "CP932");
    return converter;
}

Converter& toCp932() {
    static Converter converter("CP932", kUtf32);
    return converter;
}

void appendCodePoint(QString& text, char32_t c) {
    if (QChar::requiresSurrogates(c)) {
        text += QChar(QChar::highSurrogate(c));
        text += QChar(QChar::lowSurrogate(c));
    } else {
        text += QChar(static_cast<char16_t>(c));
    }
}

void appendUtf32(QString& text, const QByteArray& utf32) {
    const auto* units = reinterpret_cast<const char32_t*>(utf32.constData());
    for (qsizetype i = 0; i < utf32.size() / 4; ++i)
        appendCodePoint(text, units[i]);
}

// The code points of text that has no lone surrogates, as host-order UTF-32.
QByteArray utf32Of(QStringView text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        out.append(reinterpret_cast<const char*>(&c), sizeof c);
    }
    return out;
}

// UTF-8 of text that has no lone surrogates, byte by byte as RFC 3629 lays
// it out.
QByteArray utf8Of(QStringView text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

void fail(const char* property, const char* file, int line) {
    std::fprintf(stderr, "\n==fuzz property failed== %s\n  at %s:%d\n", property, file, line);
    std::fflush(stderr);
    std::abort();
}

void failWith(const char* property, QStringView expected, QStringView actual, const char* file,
              int line) {
    report(property, expected, actual, file, line);
}

void failWith(const char* property, QByteArrayView expected, QByteArrayView actual,
              const char* file, int line) {
    report(property, expected, actual, file, line);
}

std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QString text;
    const auto byteAt = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    qsizetype i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = byteAt(i);
        int length;
        char32_t c;
        char32_t lowest;
        if (lead < 0x80) {
            text += QChar(static_cast<char16_t>(lead));
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
            lowest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
            lowest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
            lowest = 0x10000;
        } else {
            return std::nullopt;
        }
        if (bytes.size() - i < length)
            return std::nullopt;
        for (int k = 1; k < length; ++k) {
            const unsigned char next = byteAt(i + k);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        appendCodePoint(text, c);
        i += length;
    }
    return text;
}

QString referenceCp932(QByteArrayView bytes) {
    QString text;
    QByteArray out;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int error = fromCp932().convert(bytes.sliced(i, 1), out);
        if (error == 0) {
            appendUtf32(text, out);
            i += 1;
            continue;
        }
        // Only a lead byte is incomplete on its own; it and the byte after it
        // either form one character or the lead byte alone is bad.
        if (error == EINVAL && i + 1 < bytes.size() &&
            fromCp932().convert(bytes.sliced(i, 2), out) == 0) {
            appendUtf32(text, out);
            i += 2;
            continue;
        }
        text += QChar(QChar::ReplacementCharacter);
        i += 1;
    }
    return text;
}

std::optional<QByteArray> strictCp932(QStringView text) {
    QByteArray out;
    if (toCp932().convert(utf32Of(text), out) != 0)
        return std::nullopt;
    return out;
}

std::optional<QString> strictFromCp932(QByteArrayView bytes) {
    QByteArray out;
    if (fromCp932().convert(bytes, out) != 0)
        return std::nullopt;
    QString text;
    appendUtf32(text, out);
    return text;
}

bool hasLoneSurrogate(QStringView text) {
    return withoutLoneSurrogates(text) != text;
}

QString withoutLoneSurrogates(QStringView text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            result += c;
            result += text[++i];
        } else if (c.isSurrogate()) {
            result += QChar(QChar::ReplacementCharacter);
        } else {
            result += c;
        }
    }
    return result;
}

QString normalizedLineEnds(QStringView text) {
    QString result;
    result.reserve(text.size() + 1);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            result += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            result += text[i];
        }
    }
    if (!result.isEmpty() && !result.endsWith(u'\n'))
        result += u'\n';
    return result;
}

QString joinLines(const QStringList& lines, QStringView lineEnd) {
    QString result;
    for (const QString& line : lines) {
        result += line;
        result += lineEnd;
    }
    return result;
}

QString charsBelow(QStringView text, char16_t limit) {
    QString result;
    for (const QChar c : text) {
        if (c.unicode() < limit)
            result += c;
    }
    return result;
}

QString bytesBelow(QByteArrayView bytes, char16_t limit) {
    QString result;
    for (const char b : bytes) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(b));
        if (unit < limit)
            result += QChar(unit);
    }
    return result;
}

void checkEncode(QStringView text) {
    const QString expected = withoutLoneSurrogates(text);
    const QByteArray encoded = rt::encodeFileText(text);
    FUZZ_CHECK_EQUAL(QStringView(expected), QStringView(rt::decodeFileText(encoded)),
                     "the encoded text reads back as the text, lone surrogates as U+FFFD");

    // CP932 carries the text when glibc encodes every character and reading
    // those bytes back, by the same rules as decodeFileText, gives the text:
    // the bytes must not look like a byte-order mark, and if they happen to
    // be valid UTF-8 they are read as UTF-8.
    bool cp932Carries = false;
    const std::optional<QByteArray> cp932 = strictCp932(expected);
    if (cp932 && !cp932->startsWith(kBom)) {
        if (const std::optional<QString> asUtf8 = strictUtf8(*cp932))
            cp932Carries = *asUtf8 == expected;
        else if (const std::optional<QString> back = strictFromCp932(*cp932))
            cp932Carries = *back == expected;
    }
    if (cp932Carries) {
        FUZZ_CHECK_EQUAL(QByteArrayView(*cp932), QByteArrayView(encoded),
                         "text that CP932 carries unchanged is written as CP932");
    } else {
        const QByteArray utf8 = kBom.toByteArray() + utf8Of(expected);
        FUZZ_CHECK_EQUAL(QByteArrayView(utf8), QByteArrayView(encoded),
                         "text that CP932 cannot carry is written as UTF-8 behind a BOM");
    }
}

} // namespace fuzz
