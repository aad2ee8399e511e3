#include "textfile/text_codec.h"

#include "textfile/codec.h"
#include "textfile/iconv_handle.h"
#include "textfile/iso2022jp.h"

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

namespace codec {

namespace {

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

constexpr char16_t kNone = 0xFFFF;

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

// glibc's name for each encoding that iconv reads and writes whole; the
// rest have codecs of their own here.
const char* iconvName(FileEncoding encoding) {
    switch (encoding) {
    case FileEncoding::Utf8:
        return "UTF-8";
    case FileEncoding::Utf16Le:
        return "UTF-16LE";
    case FileEncoding::Utf16Be:
        return "UTF-16BE";
    case FileEncoding::Utf32Le:
        return "UTF-32LE";
    case FileEncoding::Utf32Be:
        return "UTF-32BE";
    case FileEncoding::EucJpMs:
        return "EUC-JP-MS";
    case FileEncoding::ShiftJis2004:
        return "SHIFT_JISX0213";
    case FileEncoding::EucJis2004:
        return "EUC-JISX0213";
    default:
        return nullptr;
    }
}

// The bytes of one code unit: a bad sequence gives up that many as
// stand-ins, so that the units after it stay aligned.
int unitSize(FileEncoding encoding) {
    switch (encoding) {
    case FileEncoding::Utf16Le:
    case FileEncoding::Utf16Be:
        return 2;
    case FileEncoding::Utf32Le:
    case FileEncoding::Utf32Be:
        return 4;
    default:
        return 1;
    }
}

bool isIso2022(FileEncoding encoding) {
    return encoding == FileEncoding::Iso2022Jp || encoding == FileEncoding::Iso2022Jp2004;
}

} // namespace

QByteArrayView markOf(FileEncoding encoding) {
    switch (encoding) {
    case FileEncoding::Utf8:
        return "\xEF\xBB\xBF";
    case FileEncoding::Utf16Le:
        return {"\xFF\xFE", 2};
    case FileEncoding::Utf16Be:
        return {"\xFE\xFF", 2};
    case FileEncoding::Utf32Le:
        return {"\xFF\xFE\0\0", 4};
    case FileEncoding::Utf32Be:
        return {"\0\0\xFE\xFF", 4};
    default:
        return {};
    }
}

LineScanner::LineScanner(const TextFormat& format, QByteArrayView bytes)
    : bytes_(bytes), unit_(unitSize(format.encoding)),
      bigEndian_(format.encoding == FileEncoding::Utf16Be ||
                 format.encoding == FileEncoding::Utf32Be) {
    const QByteArrayView mark = markOf(format.encoding);
    if (format.bom && bytes.startsWith(mark))
        base_ = mark.size();
}

LineSpan LineScanner::lineAt(qsizetype pos) const {
    using Ending = LineSpan::LineEnd;
    const qsizetype size = bytes_.size();
    const char* data = bytes_.data();
    if (unit_ == 1) {
        qsizetype i = pos;
        while (i < size && data[i] != '\r' && data[i] != '\n')
            ++i;
        if (i == size)
            return {pos, i, i, Ending::None};
        if (data[i] == '\n')
            return {pos, i, i + 1, Ending::Lf};
        if (i + 1 < size && data[i + 1] == '\n')
            return {pos, i, i + 2, Ending::CrLf};
        return {pos, i, i + 1, Ending::Cr};
    }
    // Units count from the start of the text; a cut-off unit at the end is
    // no line end.
    auto unitAt = [&](qsizetype at) -> quint32 {
        if (at + unit_ > size)
            return 0xFFFFFFFF;
        if (unit_ == 2)
            return bigEndian_ ? qFromBigEndian<quint16>(data + at)
                              : qFromLittleEndian<quint16>(data + at);
        return bigEndian_ ? qFromBigEndian<quint32>(data + at)
                          : qFromLittleEndian<quint32>(data + at);
    };
    qsizetype i = pos;
    while (i < size && unitAt(i) != '\r' && unitAt(i) != '\n')
        i = std::min(i + unit_, size);
    if (i == size)
        return {pos, i, i, Ending::None};
    if (unitAt(i) == '\n')
        return {pos, i, i + unit_, Ending::Lf};
    if (unitAt(i + unit_) == '\n')
        return {pos, i, i + 2 * qsizetype(unit_), Ending::CrLf};
    return {pos, i, i + unit_, Ending::Cr};
}

struct Decoder::Impl {
    FileEncoding encoding;
    std::optional<Iconv> cd;
    int unit = 1;
};

Decoder::Decoder(const TextFormat& format) : d_(std::make_unique<Impl>()) {
    d_->encoding = format.encoding;
    d_->unit = unitSize(format.encoding);
    if (const char* name = iconvName(format.encoding))
        d_->cd.emplace(kUtf16, name);
}

Decoder::~Decoder() = default;

Decoder::Step Decoder::decode(QByteArrayView bytes, State& state, char16_t* out,
                              qsizetype maxUnits) {
    if (isIso2022(d_->encoding))
        return jis::decode(bytes, state, out, maxUnits);
    const auto* in = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    if (d_->encoding == FileEncoding::Cp932) {
        // A lead byte with a byte after it that does not complete a
        // character is kept as a stand-in alone, so that the byte after it
        // starts afresh.
        const Cp932Table& table = Cp932Table::get();
        qsizetype i = 0;
        qsizetype n = 0;
        for (; i < size && n < maxUnits;) {
            const uchar b = in[i];
            if (b < 0x80) {
                out[n++] = b;
                ++i;
                continue;
            }
            if (i + 1 < size) {
                const auto code = quint16(b << 8 | in[i + 1]);
                const char16_t c = table.decode[code];
                if (c != kNone && code >= 0x100) {
                    out[n++] = c;
                    if (table.duplicate[c] && cp932Codes && !cp932Codes->contains(c))
                        cp932Codes->insert(c, code);
                    i += 2;
                    continue;
                }
            }
            const char16_t c = table.decode[b];
            out[n++] = c == kNone ? char16_t(kStandIn | b) : c;
            ++i;
        }
        return {i, n};
    }
    Iconv& cd = *d_->cd;
    if (!cd.valid()) {
        for (qsizetype i = 0; i < std::min(size, maxUnits); ++i)
            out[i] = char16_t(kStandIn | in[i]);
        return {std::min(size, maxUnits), std::min(size, maxUnits)};
    }
    const char* src = bytes.data();
    auto srcLeft = static_cast<std::size_t>(size);
    char* dest = reinterpret_cast<char*>(out);
    auto destLeft = static_cast<std::size_t>(maxUnits) * 2;
    while (srcLeft > 0) {
        if (cd.convert(&src, &srcLeft, &dest, &destLeft))
            break;
        if (errno == E2BIG)
            break;
        // A sequence that is invalid (EILSEQ) or cut off by the end of the
        // line (EINVAL): its first unit's bytes are kept and the rest read
        // again on their own.
        const std::size_t k = std::min<std::size_t>(d_->unit, srcLeft);
        if (destLeft < k * 2)
            break;
        for (std::size_t j = 0; j < k; ++j) {
            const char16_t standIn = kStandIn | static_cast<uchar>(*src++);
            std::memcpy(dest, &standIn, 2);
            dest += 2;
        }
        destLeft -= k * 2;
        srcLeft -= k;
        cd.reset();
    }
    cd.reset();
    return {size - qsizetype(srcLeft), (dest - reinterpret_cast<char*>(out)) / 2};
}

QString Decoder::text(QByteArrayView bytes, State state) {
    QString text(bytes.size(), Qt::Uninitialized);
    const Step step = decode(bytes, state, reinterpret_cast<char16_t*>(text.data()), bytes.size());
    text.truncate(step.units);
    return text;
}

struct Encoder::Impl {
    TextFormat format;
    std::optional<Iconv> cd;
    std::optional<Decoder> check;
    QString scratch;
};

Encoder::Encoder(const TextFormat& format) : d_(std::make_unique<Impl>()) {
    d_->format = format;
    d_->format.kept = QByteArray();
    const FileEncoding e = format.encoding;
    if (e == FileEncoding::EucJpMs || e == FileEncoding::ShiftJis2004 ||
        e == FileEncoding::EucJis2004) {
        d_->cd.emplace(iconvName(e), kUtf16);
        d_->check.emplace(format);
    }
}

Encoder::~Encoder() = default;

bool Encoder::wholeLines() const {
    return isIso2022(d_->format.encoding);
}

QByteArray Encoder::escapeTo(State state) const {
    return isIso2022(d_->format.encoding) ? jis::escapeTo(state) : QByteArray();
}

QByteArray Encoder::lineEnd(TextFormat::LineEnd end) {
    const QStringView text = end == LineEnd::CrLf ? u"\r\n" : end == LineEnd::Lf ? u"\n" : u"\r";
    QByteArray bytes;
    encode(text, bytes);
    return bytes;
}

namespace {

void putUnicode(FileEncoding e, char32_t c, QByteArray& out) {
    auto put = [&out](auto value, bool big) {
        std::array<char, sizeof(value)> bytes{};
        if (big)
            qToBigEndian(value, bytes.data());
        else
            qToLittleEndian(value, bytes.data());
        out.append(bytes.data(), bytes.size());
    };
    switch (e) {
    case FileEncoding::Utf16Le:
    case FileEncoding::Utf16Be:
        if (QChar::requiresSurrogates(c)) {
            put(char16_t(QChar::highSurrogate(c)), e == FileEncoding::Utf16Be);
            put(char16_t(QChar::lowSurrogate(c)), e == FileEncoding::Utf16Be);
        } else {
            put(char16_t(c), e == FileEncoding::Utf16Be);
        }
        break;
    case FileEncoding::Utf32Le:
    case FileEncoding::Utf32Be:
        put(quint32(c), e == FileEncoding::Utf32Be);
        break;
    default:
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        break;
    }
}

} // namespace

qsizetype Encoder::encode(QStringView piece, QByteArray& out) {
    const FileEncoding e = d_->format.encoding;
    if (isIso2022(e))
        return jis::encode(piece, e == FileEncoding::Iso2022Jp2004, out);
    const qsizetype size = piece.size();
    const char16_t* s = piece.utf16();
    if (e == FileEncoding::Cp932) {
        const Cp932Table& table = Cp932Table::get();
        const bool ownCodes = !d_->format.cp932Codes.isEmpty();
        out.reserve(out.size() + size * 2);
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = s[i];
            if (isStandIn(c)) {
                out += static_cast<char>(c & 0xFF);
                continue;
            }
            if (!table.valid || table.encode[c] == kNone)
                return i;
            quint16 code = table.encode[c];
            if (ownCodes && table.duplicate[c])
                code = d_->format.cp932Codes.value(c, code);
            if (code >= 0x100)
                out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        }
        return -1;
    }
    if (!d_->cd) {
        // The Unicode forms hold every character; a lone surrogate that is
        // no stand-in has only a UTF-16 form, and else is written as U+FFFD.
        out.reserve(out.size() + size * (e == FileEncoding::Utf8 ? 3 : 4));
        const bool wide = e == FileEncoding::Utf16Le || e == FileEncoding::Utf16Be;
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = s[i];
            if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(s[i + 1])) {
                putUnicode(e, QChar::surrogateToUcs4(c, s[i + 1]), out);
                ++i;
            } else if (isStandIn(c)) {
                out += static_cast<char>(c & 0xFF);
            } else if (QChar::isSurrogate(c) && !wide) {
                putUnicode(e, 0xFFFD, out);
            } else {
                putUnicode(e, c, out);
            }
        }
        return -1;
    }
    // Through iconv, a run between stand-ins at a time; each run must read
    // back as itself, which refuses look-alike mappings. A low surrogate
    // after a high one is the second half of a character (the JIS X 0213
    // kanji beyond the BMP), not a stand-in.
    auto standIn = [s](qsizetype k) {
        return isStandIn(s[k]) && !(k > 0 && QChar::isHighSurrogate(s[k - 1]));
    };
    for (qsizetype i = 0; i < size;) {
        if (standIn(i)) {
            out += static_cast<char>(s[i++] & 0xFF);
            continue;
        }
        qsizetype j = i;
        while (j < size && !standIn(j))
            ++j;
        const QStringView run = piece.sliced(i, j - i);
        const qsizetype before = out.size();
        out.resize(before + run.size() * 4 + 16);
        const char* src = reinterpret_cast<const char*>(run.utf16());
        auto srcLeft = static_cast<std::size_t>(run.size()) * 2;
        char* dest = out.data() + before;
        auto destLeft = static_cast<std::size_t>(out.size() - before);
        Iconv& cd = *d_->cd;
        const bool ok = cd.convert(&src, &srcLeft, &dest, &destLeft) && cd.flush(&dest, &destLeft);
        const qsizetype done = run.size() - qsizetype(srcLeft / 2);
        cd.reset();
        out.truncate(dest - out.constData());
        if (!ok)
            return i + std::min(done, run.size() - 1);
        if (d_->check->text(QByteArrayView(out).sliced(before), 0) != run) {
            // Which character reads back otherwise: the first that does so
            // on its own.
            if (run.size() == (QChar::isHighSurrogate(run[0].unicode()) ? 2 : 1))
                return i;
            for (qsizetype k = 0; k < run.size(); ++k) {
                const qsizetype w = QChar::isHighSurrogate(run[k].unicode()) ? 2 : 1;
                QByteArray one;
                if (encode(run.sliced(k, std::min(w, run.size() - k)), one) >= 0 ||
                    d_->check->text(one, 0) != run.sliced(k, std::min(w, run.size() - k)))
                    return i + k;
                k += w - 1;
            }
            return i;
        }
        i = j;
    }
    return -1;
}

} // namespace codec

using codec::Decoder;
using codec::LineScanner;
using codec::LineSpan;

TextFormat nativeTextFormat() {
    return {};
}

TextFormat utf8Instead(const TextFormat& format) {
    TextFormat utf8;
    utf8.encoding = FileEncoding::Utf8;
    utf8.bom = format.kept.isNull() || format.encoding == FileEncoding::Cp932;
    utf8.lineEnd = format.lineEnd;
    return utf8;
}

DecodedText decodeText(const QByteArray& bytes) {
    return decodeText(bytes, detectEncoding(bytes));
}

DecodedText decodeText(const QByteArray& bytes, Detection as) {
    DecodedText result;
    TextFormat& format = result.format;
    format.encoding = as.encoding;
    format.bom = as.bom && bytes.startsWith(codec::markOf(as.encoding));
    format.kept = bytes;
    // Never more units than bytes, for any encoding.
    QString& text = result.text;
    text.resize(bytes.size());
    auto* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype n = 0;
    Decoder decoder(format);
    decoder.cp932Codes = &format.cp932Codes;
    const LineScanner lines(format, bytes);
    std::optional<TextFormat::LineEnd> first;
    codec::State state = 0;
    for (qsizetype pos = lines.textStart(); pos < bytes.size();) {
        const LineSpan line = lines.lineAt(pos);
        const QByteArrayView content(bytes.constData() + pos, line.contentEnd - pos);
        const qsizetype units = decoder.decode(content, state, out + n, content.size()).units;
        n += units;
        // A line that reads as nothing (only an escape) between a lone CR
        // and an LF would leave "\r\n" in the text, one line end where the
        // file has two; its LF is then given as a CR, which still ends a
        // line, so that every line of the file stays a line of the text.
        const bool joinsPreviousCr =
            line.ending == LineSpan::LineEnd::Lf && units == 0 && n > 0 && out[n - 1] == u'\r';
        if (joinsPreviousCr) {
            out[n++] = u'\r';
        } else if (line.ending != LineSpan::LineEnd::None) {
            if (line.ending != LineSpan::LineEnd::Lf)
                out[n++] = u'\r';
            if (line.ending != LineSpan::LineEnd::Cr)
                out[n++] = u'\n';
            if (!first)
                first = line.ending == LineSpan::LineEnd::CrLf ? TextFormat::LineEnd::CrLf
                        : line.ending == LineSpan::LineEnd::Lf ? TextFormat::LineEnd::Lf
                                                               : TextFormat::LineEnd::Cr;
        }
        pos = line.end;
    }
    text.truncate(n);
    // Codes the converter itself would choose need no record.
    const codec::Cp932Table& table = codec::Cp932Table::get();
    for (auto it = format.cp932Codes.begin(); it != format.cp932Codes.end();)
        it = table.encode[it.key()] == it.value() ? format.cp932Codes.erase(it) : std::next(it);
    // Without a line end to go by, a file keeps the line end its encoding
    // suggests: Unix's for UTF-8 and EUC without a mark, Windows' for the
    // rest.
    const bool unixLike = !format.bom && (format.encoding == FileEncoding::Utf8 ||
                                          format.encoding == FileEncoding::EucJpMs ||
                                          format.encoding == FileEncoding::EucJis2004);
    format.lineEnd = first.value_or(unixLike ? TextFormat::LineEnd::Lf : TextFormat::LineEnd::CrLf);
    return result;
}

} // namespace rt
