#include "textfile/text_codec.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include <iconv.h>

namespace rt {

namespace {

using Encoding = TextFormat::Encoding;
using LineEnd = TextFormat::LineEnd;

// glibc's name for Windows-31J, the code page that Japanese Windows writes
// plain text files in.
constexpr const char kCp932[] = "CP932";

// iconv reads and writes raw bytes, so the Unicode side is named in the
// host's byte order to match QChar in memory.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr const char kUtf16[] = "UTF-16LE";
#else
constexpr const char kUtf16[] = "UTF-16BE";
#endif

constexpr char16_t kStandIn = 0xDC00;
constexpr char16_t kNone = 0xFFFF;

// More undecodable bytes than this and a file is not taken for UTF-8; the
// count stops there, so that reading a large CP932 file as UTF-8 first
// costs next to nothing.
constexpr qsizetype kMaxUtf8Errors = 1024;

// Owns one iconv conversion descriptor. A descriptor carries shift state, so
// each conversion gets its own instead of sharing one between threads.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return cd_ != invalid(); }

    // Converts as much as possible; returns false with errno set when iconv
    // stopped early.
    bool convert(const char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
        return iconv(cd_, const_cast<char**>(in), inLeft, out, outLeft) !=
               static_cast<std::size_t>(-1);
    }

    // Back to the initial state after an error, so that the bytes after a
    // bad one are read as if they started the input.
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    // iconv_open() reports failure with the all-ones handle; comparing with
    // it needs this one cast.
    static iconv_t invalid() {
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
    }

    iconv_t cd_;
};

// CP932 as glibc's converter defines it, asked once code by code. iconv
// stays the authority on every mapping; the table lets the codec do what
// iconv's streaming interface cannot report: keep a single bad byte while
// the byte after it starts afresh, see which of two codes a character was
// written with, and refuse the look-alike mappings iconv makes on the way
// out (U+00A5 to a backslash, U+301C to U+FF5E and the like), which would
// change the text.
struct Cp932Table {
    // The character for each one- or two-byte code, or kNone.
    std::array<char16_t, 0x10000> decode{};
    // The code iconv writes for each character, where that code reads back
    // as the same character; otherwise kNone.
    std::array<quint16, 0x10000> encode{};
    // The characters that more than one code reads as.
    std::bitset<0x10000> duplicate;
    bool valid = false;

    Cp932Table() {
        decode.fill(kNone);
        encode.fill(kNone);
        Iconv in(kUtf16, kCp932);
        Iconv out(kCp932, kUtf16);
        if (!in.valid() || !out.valid())
            return;
        auto read = [&in](const char* bytes, std::size_t size) -> char16_t {
            char16_t unit = kNone;
            std::array<char16_t, 2> buffer{};
            char* dest = reinterpret_cast<char*>(buffer.data());
            std::size_t destLeft = sizeof(buffer);
            const bool ok = in.convert(&bytes, &size, &dest, &destLeft);
            if (ok && size == 0 && destLeft == sizeof(buffer) - 2)
                unit = buffer[0];
            in.reset();
            return unit;
        };
        for (unsigned code = 0; code < 0x10000; ++code) {
            const std::array<char, 2> bytes{static_cast<char>(code >> 8), static_cast<char>(code)};
            const char16_t c = code < 0x100 ? read(&bytes[1], 1)
                               : (code >> 8) >= 0x81 && (code & 0xFF) >= 0x40
                                   ? read(bytes.data(), 2)
                                   : kNone;
            if (c == kNone || (c >= 0xD800 && c < 0xE000))
                continue;
            decode[code] = c;
            duplicate[c] = encode[c] != kNone;
            encode[c] = 0; // Reachable; iconv's choice is asked below.
        }
        for (unsigned c = 0; c < 0x10000; ++c) {
            if (encode[c] == kNone)
                continue;
            const auto unit = static_cast<char16_t>(c);
            const char* src = reinterpret_cast<const char*>(&unit);
            std::size_t srcLeft = sizeof(unit);
            std::array<uchar, 4> bytes{};
            char* dest = reinterpret_cast<char*>(bytes.data());
            std::size_t destLeft = bytes.size();
            const bool ok = out.convert(&src, &srcLeft, &dest, &destLeft);
            out.reset();
            const std::size_t n = bytes.size() - destLeft;
            const unsigned code = n == 1 ? bytes[0] : unsigned(bytes[0]) << 8 | bytes[1];
            encode[c] = ok && (n == 1 || n == 2) && decode[code] == c ? code : kNone;
        }
        valid = true;
    }

    static const Cp932Table& get() {
        static const std::unique_ptr<const Cp932Table> table = std::make_unique<Cp932Table>();
        return *table;
    }
};

// Decodes CP932. A lead byte with a byte after it that does not complete a
// character is kept as a stand-in alone, so one stray byte cannot swallow a
// line end that follows it.
QString decodeCp932(QByteArrayView bytes, QHash<char16_t, quint16>* codes, qsizetype* errors) {
    const Cp932Table& table = Cp932Table::get();
    QString text(bytes.size(), Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(text.data());
    const auto* in = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype bad = 0;
    for (qsizetype i = 0; i < size;) {
        const uchar b = in[i];
        if (b < 0x80) {
            *out++ = b;
            ++i;
            continue;
        }
        if (i + 1 < size) {
            const auto code = quint16(b << 8 | in[i + 1]);
            const char16_t c = table.decode[code];
            if (c != kNone && code >= 0x100) {
                *out++ = c;
                // A file that uses both codes of a character gets the first.
                if (table.duplicate[c] && !codes->contains(c))
                    codes->insert(c, code);
                i += 2;
                continue;
            }
        }
        const char16_t c = table.decode[b];
        if (c == kNone) {
            *out++ = char16_t(kStandIn | b);
            ++bad;
        } else {
            *out++ = c;
        }
        ++i;
    }
    text.truncate(out - reinterpret_cast<char16_t*>(text.data()));
    // Codes the converter itself would choose need no record.
    for (auto it = codes->begin(); it != codes->end();) {
        it = table.encode[it.key()] == it.value() ? codes->erase(it) : std::next(it);
    }
    *errors = bad;
    return text;
}

// Decodes UTF-8 or UTF-16 through iconv, each byte it rejects becoming a
// stand-in. Gives up, returning nothing, once more than maxErrors bytes were
// rejected.
std::optional<QString> decodeUnicode(QByteArrayView bytes, const char* from, qsizetype maxErrors,
                                     qsizetype* errors) {
    Iconv cd(kUtf16, from);
    if (!cd.valid())
        return std::nullopt;
    // Neither encoding takes more UTF-16 units than it has bytes, and a
    // stand-in takes one unit for one byte.
    QString text(bytes.size(), Qt::Uninitialized);
    char* out = reinterpret_cast<char*>(text.data());
    std::size_t outLeft = static_cast<std::size_t>(text.size()) * 2;
    const char* in = bytes.data();
    auto inLeft = static_cast<std::size_t>(bytes.size());
    const std::size_t unit = qstrcmp(from, "UTF-8") == 0 ? 1 : 2;
    qsizetype bad = 0;
    while (!cd.convert(&in, &inLeft, &out, &outLeft)) {
        // A sequence that is invalid (EILSEQ) or cut off by the end of the
        // input (EINVAL): its first unit's bytes are kept and the rest read
        // again on their own.
        for (std::size_t k = 0; k < std::min(unit, inLeft); ++k) {
            const char16_t standIn = kStandIn | static_cast<uchar>(*in++);
            std::memcpy(out, &standIn, 2);
            out += 2;
            outLeft -= 2;
            ++bad;
        }
        inLeft -= std::min(unit, inLeft);
        if (bad > maxErrors)
            return std::nullopt;
        cd.reset();
    }
    text.truncate((out - reinterpret_cast<char*>(text.data())) / 2);
    *errors = bad;
    return text;
}

// Whether the text holds a character beyond ASCII that was read from the
// file, not kept as a stand-in.
bool hasDecodedNonAscii(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() >= 0x80 && (c.unicode() & 0xFF80) != (kStandIn | 0x80);
    });
}

bool hasNonAsciiByte(QByteArrayView bytes) {
    return std::any_of(bytes.begin(), bytes.end(), [](char b) { return uchar(b) >= 0x80; });
}

LineEnd firstLineEnd(QStringView text, LineEnd fallback) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n')
            return LineEnd::Lf;
        if (text[i] == u'\r')
            return i + 1 < text.size() && text[i + 1] == u'\n' ? LineEnd::CrLf : LineEnd::Cr;
    }
    return fallback;
}

// Writes text into a buffer of `bytesPerUnit` bytes for each UTF-16 unit,
// enough for any character and any line end, through put(code point, out),
// turning every line break into the line end and every stand-in back into
// its byte. Stand-ins cover bytes from 0x80 in byte encodings and every byte
// in UTF-16, as the decoders make them. put() returns false for a character
// the encoding cannot hold, and so does this, with nothing.
template <class Put>
std::optional<QByteArray> encodeWith(QStringView text, LineEnd lineEnd, char16_t lowestStandIn,
                                     qsizetype bytesPerUnit, QByteArrayView head, Put put) {
    QByteArray bytes(head.size() + text.size() * bytesPerUnit, Qt::Uninitialized);
    std::memcpy(bytes.data(), head.data(), std::size_t(head.size()));
    char* out = bytes.data() + head.size();
    const qsizetype size = text.size();
    const char16_t* s = text.utf16();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = s[i];
        bool ok = true;
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < size && s[i + 1] == u'\n')
                ++i;
            ok = (lineEnd == LineEnd::Lf || put(U'\r', out)) &&
                 (lineEnd == LineEnd::Cr || put(U'\n', out));
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(s[i + 1])) {
            ok = put(QChar::surrogateToUcs4(c, s[i + 1]), out);
            ++i;
        } else if (c >= lowestStandIn && c <= (kStandIn | 0xFF)) {
            *out++ = static_cast<char>(c & 0xFF);
        } else {
            ok = put(c, out);
        }
        if (!ok)
            return std::nullopt;
    }
    bytes.truncate(out - bytes.constData());
    return bytes;
}

QByteArray encodeUtf8(QStringView text, LineEnd lineEnd, bool bom) {
    // Three bytes at most for one unit: a pair of units makes four, and
    // CR LF two.
    return *encodeWith(text, lineEnd, kStandIn | 0x80, 3, bom ? "\xEF\xBB\xBF" : "",
                       [](char32_t c, char*& out) {
                           // A lone surrogate that is no stand-in has no
                           // UTF-8 form.
                           if (c >= 0xD800 && c < 0xE000)
                               c = 0xFFFD;
                           if (c < 0x80) {
                               *out++ = static_cast<char>(c);
                           } else if (c < 0x800) {
                               *out++ = static_cast<char>(0xC0 | c >> 6);
                               *out++ = static_cast<char>(0x80 | (c & 0x3F));
                           } else if (c < 0x10000) {
                               *out++ = static_cast<char>(0xE0 | c >> 12);
                               *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
                               *out++ = static_cast<char>(0x80 | (c & 0x3F));
                           } else {
                               *out++ = static_cast<char>(0xF0 | c >> 18);
                               *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
                               *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
                               *out++ = static_cast<char>(0x80 | (c & 0x3F));
                           }
                           return true;
                       });
}

QByteArray encodeUtf16(QStringView text, LineEnd lineEnd, bool bigEndian) {
    auto putUnit = [bigEndian](char16_t unit, char*& out) {
        const char16_t stored = bigEndian ? qToBigEndian(unit) : qToLittleEndian(unit);
        std::memcpy(out, &stored, 2);
        out += 2;
    };
    return *encodeWith(text, lineEnd, kStandIn, 4, bigEndian ? "\xFE\xFF" : "\xFF\xFE",
                       [&putUnit](char32_t c, char*& out) {
                           if (QChar::requiresSurrogates(c)) {
                               putUnit(QChar::highSurrogate(c), out);
                               putUnit(QChar::lowSurrogate(c), out);
                           } else {
                               putUnit(static_cast<char16_t>(c), out);
                           }
                           return true;
                       });
}

std::optional<QByteArray> encodeCp932(QStringView text, const TextFormat& format) {
    const Cp932Table& table = Cp932Table::get();
    if (!table.valid)
        return std::nullopt;
    const bool ownCodes = !format.cp932Codes.isEmpty();
    return encodeWith(text, format.lineEnd, kStandIn | 0x80, 2, "", [&](char32_t c, char*& out) {
        if (c >= 0x10000 || table.encode[c] == kNone)
            return false;
        quint16 code = table.encode[c];
        if (ownCodes && table.duplicate[c])
            code = format.cp932Codes.value(static_cast<char16_t>(c), code);
        if (code >= 0x100)
            *out++ = static_cast<char>(code >> 8);
        *out++ = static_cast<char>(code & 0xFF);
        return true;
    });
}

} // namespace

TextFormat nativeTextFormat() {
    return {};
}

DecodedText decodeText(QByteArrayView bytes) {
    DecodedText result;
    TextFormat& format = result.format;
    qsizetype errors = 0;
    // A mark says it all; decoding then keeps bad bytes as stand-ins however
    // many there are.
    auto marked = [&](qsizetype markSize, const char* from, Encoding encoding) {
        result.text =
            decodeUnicode(bytes.sliced(markSize), from, bytes.size(), &errors).value_or(QString());
        format.encoding = encoding;
    };
    if (bytes.isEmpty())
        return result;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        marked(3, "UTF-8", Encoding::Utf8Bom);
    } else if (bytes.startsWith("\xFF\xFE")) {
        marked(2, "UTF-16LE", Encoding::Utf16Le);
    } else if (bytes.startsWith("\xFE\xFF")) {
        marked(2, "UTF-16BE", Encoding::Utf16Be);
    } else {
        qsizetype utf8Errors = 0;
        std::optional<QString> utf8 = decodeUnicode(bytes, "UTF-8", kMaxUtf8Errors, &utf8Errors);
        if (utf8 && utf8Errors == 0) {
            result.text = *std::move(utf8);
            format.encoding = Encoding::Utf8;
        } else {
            qsizetype cp932Errors = 0;
            result.text = decodeCp932(bytes, &format.cp932Codes, &cp932Errors);
            // UTF-8 wins only with fewer bad bytes, or as many and some real
            // UTF-8 besides: Latin-1 text reads no better either way, and
            // Windows wrote it in its code page.
            if (utf8 && (utf8Errors < cp932Errors ||
                         (utf8Errors == cp932Errors && hasDecodedNonAscii(*utf8)))) {
                result.text = *std::move(utf8);
                format.encoding = Encoding::Utf8;
                format.cp932Codes.clear();
            }
        }
    }
    // Without a line end to go by, a file keeps the line end its encoding
    // suggests: Unix's for UTF-8 without a mark, Windows' for the rest.
    format.lineEnd =
        firstLineEnd(result.text, format.encoding == Encoding::Utf8 ? LineEnd::Lf : LineEnd::CrLf);
    return result;
}

QByteArray encodeText(QStringView text, TextFormat& format) {
    if (format.encoding == Encoding::Cp932) {
        std::optional<QByteArray> bytes = encodeCp932(text, format);
        // Some CP932 byte strings read as UTF-8 ("ﾂ｡" is C2 A1, UTF-8 for
        // "¡") or start like its byte-order mark; such a file would open as
        // other text than was saved.
        qsizetype errors = 0;
        if (bytes && !bytes->startsWith("\xEF\xBB\xBF") &&
            !(hasNonAsciiByte(*bytes) && decodeUnicode(*bytes, "UTF-8", 0, &errors)))
            return *std::move(bytes);
        // Writing what CP932 cannot hold as '?' would lose it: the whole
        // text goes out as UTF-8 behind a byte-order mark instead.
        format.encoding = Encoding::Utf8Bom;
        format.cp932Codes.clear();
    }
    // Without a mark, a leading U+FEFF would read back as one.
    if (format.encoding == Encoding::Utf8 && text.startsWith(QChar(0xFEFF)))
        format.encoding = Encoding::Utf8Bom;
    switch (format.encoding) {
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        return encodeUtf16(text, format.lineEnd, format.encoding == Encoding::Utf16Be);
    default:
        return encodeUtf8(text, format.lineEnd, format.encoding == Encoding::Utf8Bom);
    }
}

} // namespace rt
