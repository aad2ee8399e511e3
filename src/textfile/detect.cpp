#include "textfile/detect.h"

#include "textfile/iconv_handle.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <iconv.h>

// How the encoding of a file is told. A byte-order mark decides at once.
// Otherwise what can be settled over the whole file is settled there with
// one fast pass (is it strict UTF-8, is it 7-bit, where are its escapes and
// zero bytes), and the rest is decided on a sample of at most a couple of
// hundred kilobytes: each encoding still in question reads the sample, and
// the reading with no undecodable bytes that looks most like text wins.
// "Looks like text" is a score per character: kana, common kanji and ASCII
// count for a reading, rare kanji, half-width katakana, unassigned and
// control characters against it. That is what tells apart CP932 and EUC-JP
// (whose bytes are valid in the other encoding surprisingly often: EUC-JP's
// kana are CP932's half-width katakana) and UTF-16 without a mark from both.

namespace rt {

namespace {

// How typical a character is of Japanese text. The order matters: a
// character that several rows name keeps the most typical kind.
enum class Kind : std::uint8_t {
    Bad,       // controls, zero, private use, unpaired surrogates
    Other,     // assigned or not, nothing a Japanese text holds
    Rare,      // kanji outside JIS X 0208, JIS X 0213 additions
    HalfWidth, // half-width katakana: legal, but rare in text of today
    Extension, // the NEC and IBM rows of CP932
    Latin,     // accented Latin letters
    Symbol,    // JIS X 0208 symbols, Greek, Cyrillic, box drawing
    Level2,    // the second level of JIS X 0208 kanji
    Ascii,     // printable ASCII, tab and line ends
    Common,    // punctuation, kana, full-width letters, first-level kanji
};

constexpr int weight(Kind kind) {
    switch (kind) {
    case Kind::Bad:
        return -6;
    case Kind::Other:
        return -3;
    case Kind::Rare:
    case Kind::HalfWidth:
        return -2;
    case Kind::Extension:
        return 0;
    case Kind::Latin:
    case Kind::Symbol:
    case Kind::Level2:
    case Kind::Ascii:
        return 1;
    case Kind::Common:
        return 3;
    }
    return 0;
}

using codec::Iconv;

// glibc's wchar_t is UCS-4, which is what the scores are looked up by.
static_assert(sizeof(wchar_t) == 4);
constexpr const char kUcs4[] = "WCHAR_T";

// The kind of every character of the Basic Multilingual Plane, built once
// from glibc's own CP932 table, so that "a JIS X 0208 kanji" means exactly
// what the converters mean by it.
class KindTable {
public:
    KindTable() {
        kinds_.fill(Kind::Other);
        for (char32_t c = 0; c < 0x20; ++c)
            kinds_[c] = Kind::Bad;
        kinds_[U'\t'] = kinds_[U'\n'] = kinds_[U'\r'] = kinds_[U'\f'] = Kind::Ascii;
        for (char32_t c = 0x20; c < 0x7F; ++c)
            kinds_[c] = Kind::Ascii;
        for (char32_t c = 0x7F; c < 0xA0; ++c)
            kinds_[c] = Kind::Bad;
        for (char32_t c = 0xC0; c < 0x250; ++c)
            kinds_[c] = Kind::Latin;
        for (char32_t c = 0x3400; c < 0xA000; ++c)
            kinds_[c] = Kind::Rare;
        for (char32_t c = 0xF900; c < 0xFB00; ++c)
            kinds_[c] = Kind::Rare;
        for (char32_t c = 0xD800; c < 0xF900; ++c)
            kinds_[c] = Kind::Bad;
        for (char32_t c = 0xFF61; c < 0xFFA0; ++c)
            kinds_[c] = Kind::HalfWidth;
        kinds_[0xFEFF] = kinds_[0xFFFE] = kinds_[0xFFFF] = Kind::Bad;
        fromCp932();
    }

    Kind of(char32_t c) const {
        if (c < kinds_.size())
            return kinds_[c];
        if (c >= 0x20000 && c < 0x30000)
            return Kind::Rare;
        return c < 0x110000 ? Kind::Other : Kind::Bad;
    }

    static const KindTable& get() {
        static const std::unique_ptr<const KindTable> table = std::make_unique<KindTable>();
        return *table;
    }

private:
    // Every two-byte code of CP932 gives its character the kind of the JIS
    // row it sits in.
    void fromCp932() {
        Iconv cd(kUcs4, "CP932");
        if (!cd.valid())
            return;
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (lead >= 0xA0 && lead < 0xE0)
                continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F)
                    continue;
                std::array<char, 2> code{static_cast<char>(lead), static_cast<char>(trail)};
                const char* in = code.data();
                std::size_t inLeft = code.size();
                wchar_t c = 0;
                char* out = reinterpret_cast<char*>(&c);
                std::size_t outLeft = sizeof(c);
                const bool done = cd.convert(&in, &inLeft, &out, &outLeft);
                cd.reset();
                if (!done || inLeft != 0 || outLeft != 0)
                    continue;
                const auto u = static_cast<char32_t>(c);
                if (u >= kinds_.size() || kinds_[u] == Kind::Bad)
                    continue;
                const Kind kind = rowKind(jisRow(lead, trail));
                kinds_[u] = std::max(kinds_[u], kind);
            }
        }
    }

    static unsigned jisRow(unsigned lead, unsigned trail) {
        const unsigned pair = lead < 0xA0 ? lead - 0x81 : lead - 0xC1;
        return pair * 2 + (trail >= 0x9F ? 2 : 1);
    }

    static Kind rowKind(unsigned row) {
        if (row == 2 || (row >= 6 && row <= 8))
            return Kind::Symbol;
        if (row <= 5 || (row >= 16 && row <= 47))
            return Kind::Common;
        if (row >= 48 && row <= 84)
            return Kind::Level2;
        return Kind::Extension; // row 13 and the IBM rows
    }

    std::array<Kind, 0x10000> kinds_{};
};

// What one encoding makes of the sample.
struct Reading {
    FileEncoding encoding = FileEncoding::Utf8;
    long long errors = 0; // bytes it cannot decode
    long long chars = 0;
    long long implausible = 0; // characters of kind Bad or Other
    long long score = 0;
    long long nonAscii = 0; // characters above U+007F
    bool usable = false;    // the encoding was asked at all

    void add(char32_t c, const KindTable& table) {
        const Kind kind = table.of(c);
        ++chars;
        nonAscii += c > 0x7F ? 1 : 0;
        score += weight(kind);
        implausible += kind <= Kind::Other ? 1 : 0;
    }

    // The encoding reads the sample: no undecodable byte, hardly anything
    // a text does not hold, and more that is typical of one than not.
    bool reads() const { return usable && errors == 0 && implausible * 20 <= chars && score > 0; }
};

// A stretch of the file that the sample takes in. `start` is a multiple of
// four, so that UTF-16 and UTF-32 can read from it as it is; the 8-bit
// encodings begin after its first line end.
struct Chunk {
    std::size_t start = 0;
    std::size_t size = 0;
};

using Bytes = const unsigned char*;

constexpr std::size_t kNowhere = SIZE_MAX;

constexpr std::size_t kWholeLimit = std::size_t(256) * 1024;
constexpr std::size_t kHeadSize = std::size_t(64) * 1024;
constexpr std::size_t kMiddleSize = std::size_t(16) * 1024;
constexpr std::size_t kMiddleChunks = 4;

std::vector<Chunk> sampleOf(std::size_t size, std::size_t firstHigh) {
    if (size <= kWholeLimit)
        return {{0, size}};
    std::vector<Chunk> chunks{{0, kHeadSize}};
    // A file that starts in ASCII has its first non-ASCII line read too.
    if (firstHigh != kNowhere && firstHigh > kHeadSize / 2) {
        const std::size_t start =
            (firstHigh - std::min(firstHigh, kMiddleSize / 2)) & ~std::size_t(3);
        chunks.push_back({start, std::min(kHeadSize, size - start)});
    }
    for (std::size_t i = 1; i <= kMiddleChunks; ++i) {
        const std::size_t start = (size / (kMiddleChunks + 1) * i) & ~std::size_t(3);
        chunks.push_back({start, std::min(kMiddleSize, size - start)});
    }
    return chunks;
}

// The length of the UTF-8 sequence at `i`, or 0 where none begins there
// that is complete before `end` and strictly valid.
std::size_t utf8Sequence(Bytes data, std::size_t i, std::size_t end) {
    const unsigned char b = data[i];
    if (b < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        lo = b == 0xE0 ? 0xA0 : 0x80;
        hi = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (end - i < length || data[i + 1] < lo || data[i + 1] > hi)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((data[i + k] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// The whole file, read once as fast as a byte loop allows: is it strict
// UTF-8, does it hold bytes above 0x7F, and sequences of three and four
// bytes (the ones a Japanese UTF-8 text is made of).
struct Scan {
    bool utf8 = true;
    bool high = false;
    bool longSequences = false;
    std::size_t firstHigh = kNowhere;
};

Scan scan(Bytes data, std::size_t size) {
    Scan s;
    std::size_t i = 0;
    while (i < size) {
        // ASCII 32 bytes at a time.
        while (i + 32 <= size) {
            std::array<std::uint64_t, 4> words{};
            std::memcpy(words.data(), data + i, 32);
            if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ULL) != 0)
                break;
            i += 32;
        }
        // Then sequence by sequence until the next stretch of ASCII.
        const std::size_t stop = std::min(size, i + 32);
        while (i < stop) {
            if (data[i] < 0x80) {
                ++i;
                continue;
            }
            if (!s.high) {
                s.high = true;
                s.firstHigh = i;
            }
            // Japanese is a run of three-byte sequences: taken in a tight
            // loop, which leaves the rest to the full rules.
            const std::size_t run = i;
            while (size - i >= 3) {
                const unsigned char b = data[i];
                if ((b & 0xF0) != 0xE0 || b == 0xE0 || b == 0xED ||
                    (((data[i + 1] ^ 0x80) | (data[i + 2] ^ 0x80)) & 0xC0) != 0)
                    break;
                i += 3;
            }
            if (i != run) {
                s.longSequences = true;
                continue;
            }
            const std::size_t length = utf8Sequence(data, i, size);
            if (length == 0) {
                s.utf8 = false;
                return s;
            }
            s.longSequences = s.longSequences || length > 2;
            i += length;
        }
    }
    return s;
}

// ISO-2022-JP and its relatives are 7-bit; what gives them away is an
// escape that designates a Japanese character set. A lone ESC ( B, or the
// escapes of a terminal, leave the text plain ASCII.
struct Escapes {
    bool japanese = false;
    bool jisx0213 = false;
};

Escapes escapes(Bytes data, std::size_t size) {
    Escapes e;
    const auto* p = static_cast<const unsigned char*>(std::memchr(data, 0x1B, size));
    while (p != nullptr) {
        const auto at = static_cast<std::size_t>(p - data);
        const std::size_t left = size - at - 1;
        const unsigned char a = left >= 1 ? p[1] : 0;
        const unsigned char b = left >= 2 ? p[2] : 0;
        const unsigned char c = left >= 3 ? p[3] : 0;
        // ESC $ ( O, P and Q designate the planes of JIS X 0213.
        const bool jisx0213 = a == '$' && b == '(' && (c == 'O' || c == 'P' || c == 'Q');
        // The rest: JIS X 0208 (ESC $ @, ESC $ B, ESC & @ before a
        // revision), JIS X 0212 (ESC $ ( D) and the sets of ISO-2022-JP-2,
        // JIS Roman (ESC ( J) and half-width katakana (ESC ( I).
        const bool other = (a == '$' && (b == '@' || b == 'B' || b == 'A')) ||
                           (a == '$' && b == '(' && (c == 'B' || c == 'D' || c == 'C')) ||
                           (a == '(' && (b == 'J' || b == 'I')) || (a == '&' && b == '@');
        e.japanese = e.japanese || jisx0213 || other;
        e.jisx0213 = jisx0213;
        if (e.jisx0213)
            break;
        p = static_cast<const unsigned char*>(std::memchr(p + 1, 0x1B, size - at - 1));
    }
    return e;
}

// The first byte an 8-bit encoding may begin to read a chunk at: the first
// chunk from its start, the others after their first line end, where every
// one of these encodings is between characters.
std::size_t eightBitStart(Bytes data, const Chunk& chunk) {
    if (chunk.start == 0)
        return 0;
    const std::size_t look = std::min<std::size_t>(chunk.size, 4096);
    const void* lf = std::memchr(data + chunk.start, '\n', look);
    if (lf == nullptr)
        return chunk.start;
    return static_cast<std::size_t>(static_cast<Bytes>(lf) - data) + 1;
}

// An 8-bit encoding through glibc's converter: each byte it rejects counts
// as one error and the reading goes on at the next byte. A character cut by
// the end of a chunk is no error, nor is one cut by a chunk's start that
// had no line end to begin at.
Reading readIconv(FileEncoding encoding, const char* name, Bytes data, std::size_t size,
                  const std::vector<Chunk>& chunks) {
    Reading r;
    r.encoding = encoding;
    Iconv cd(kUcs4, name);
    if (!cd.valid())
        return r;
    r.usable = true;
    const KindTable& table = KindTable::get();
    std::array<wchar_t, 1024> buffer{};
    for (const Chunk& chunk : chunks) {
        const std::size_t begin = eightBitStart(data, chunk);
        const std::size_t end = chunk.start + chunk.size;
        if (begin >= end)
            continue;
        cd.reset();
        const char* in = reinterpret_cast<const char*>(data + begin);
        std::size_t inLeft = end - begin;
        const std::size_t forgiveUntil = begin == chunk.start && begin > 0 ? 2 : 0;
        while (inLeft > 0) {
            char* out = reinterpret_cast<char*>(buffer.data());
            std::size_t outLeft = sizeof(buffer);
            const bool done = cd.convert(&in, &inLeft, &out, &outLeft);
            const auto produced = (sizeof(buffer) - outLeft) / sizeof(wchar_t);
            for (std::size_t k = 0; k < produced; ++k)
                r.add(static_cast<char32_t>(buffer[k]), table);
            if (done)
                break;
            if (errno == E2BIG)
                continue;
            if (errno == EINVAL && end == size) {
                // A character the file itself ends inside.
                r.errors += static_cast<long long>(inLeft);
                break;
            }
            if (errno != EILSEQ)
                break; // EINVAL: a character cut by the end of the chunk
            const auto at = static_cast<std::size_t>(reinterpret_cast<Bytes>(in) - data);
            if (at >= begin + forgiveUntil)
                ++r.errors;
            ++in;
            --inLeft;
            cd.reset();
        }
    }
    return r;
}

// UTF-16 read unit by unit; an unpaired surrogate is an error, and so is a
// last byte without its partner.
Reading readUtf16(bool bigEndian, Bytes data, std::size_t size, const std::vector<Chunk>& chunks) {
    Reading r;
    r.encoding = bigEndian ? FileEncoding::Utf16Be : FileEncoding::Utf16Le;
    r.usable = true;
    const KindTable& table = KindTable::get();
    auto unit = [&](std::size_t i) -> char32_t {
        return bigEndian ? char32_t(data[i]) << 8 | data[i + 1]
                         : char32_t(data[i + 1]) << 8 | data[i];
    };
    for (const Chunk& chunk : chunks) {
        const std::size_t end = chunk.start + chunk.size;
        std::size_t i = chunk.start;
        for (; i + 2 <= end; i += 2) {
            const char32_t u = unit(i);
            if (u >= 0xD800 && u < 0xDC00 && i + 4 <= end) {
                const char32_t low = unit(i + 2);
                if (low >= 0xDC00 && low < 0xE000) {
                    r.add(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), table);
                    i += 2;
                    continue;
                }
            }
            // A pair cut by either end of a chunk inside the file is no
            // error.
            const bool cut = (u >= 0xD800 && u < 0xDC00 && i + 2 == end && end < size) ||
                             (u >= 0xDC00 && u < 0xE000 && i == chunk.start && i > 0);
            if (u >= 0xD800 && u < 0xE000 && !cut)
                r.errors += 2;
            else if (!cut)
                r.add(u, table);
        }
        if (i < end && end == size)
            ++r.errors;
    }
    return r;
}

Reading readUtf32(bool bigEndian, Bytes data, std::size_t size, const std::vector<Chunk>& chunks) {
    Reading r;
    r.encoding = bigEndian ? FileEncoding::Utf32Be : FileEncoding::Utf32Le;
    r.usable = size % 4 == 0;
    if (!r.usable)
        return r;
    const KindTable& table = KindTable::get();
    for (const Chunk& chunk : chunks) {
        const std::size_t end = chunk.start + chunk.size;
        for (std::size_t i = chunk.start; i + 4 <= end; i += 4) {
            const unsigned char* p = data + i;
            const char32_t u =
                bigEndian
                    ? char32_t(p[0]) << 24 | char32_t(p[1]) << 16 | char32_t(p[2]) << 8 | p[3]
                    : char32_t(p[3]) << 24 | char32_t(p[2]) << 16 | char32_t(p[1]) << 8 | p[0];
            if (u > 0x10FFFF || (u >= 0xD800 && u < 0xE000))
                r.errors += 4;
            else
                r.add(u, table);
        }
    }
    return r;
}

// UTF-8 read for its score, and for its undecodable bytes where the scan
// found some. Valid UTF-8 made of two-byte sequences alone is also valid
// EUC-JP more often than not, and "é" scores less than the kanji EUC-JP
// reads there. An accented letter beside an ASCII letter is how European
// words look, though, and rarely how a kanji sits in Japanese text, so such
// a letter counts for UTF-8 as much as a kanji does.
Reading readUtf8(Bytes data, std::size_t size, const std::vector<Chunk>& chunks) {
    Reading r;
    r.encoding = FileEncoding::Utf8;
    r.usable = true;
    const KindTable& table = KindTable::get();
    auto asciiLetter = [](char32_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
    for (const Chunk& chunk : chunks) {
        const std::size_t end = chunk.start + chunk.size;
        std::size_t i = chunk.start;
        // A chunk may begin inside a sequence.
        for (int k = 0; k < 3 && i < end && i > 0 && (data[i] & 0xC0) == 0x80; ++k)
            ++i;
        char32_t previous = 0;
        bool previousLatin = false;
        while (i < end) {
            const std::size_t length = utf8Sequence(data, i, end);
            if (length == 0) {
                // A sequence cut by the end of a chunk inside the file is
                // no error.
                if (end < size && end - i < 4 && utf8Sequence(data, i, size) != 0)
                    break;
                ++r.errors;
                ++i;
                previous = 0;
                previousLatin = false;
                continue;
            }
            const unsigned char b = data[i];
            char32_t c = length == 1 ? b : b & (0x3F >> (length - 1));
            for (std::size_t k = 1; k < length; ++k)
                c = c << 6 | (data[i + k] & 0x3F);
            r.add(c, table);
            const bool latin = table.of(c) == Kind::Latin;
            if ((latin && asciiLetter(previous)) || (previousLatin && asciiLetter(c)))
                r.score += 3;
            previous = c;
            previousLatin = latin;
            i += length;
        }
    }
    return r;
}

// The best of the readings that read the sample: highest score, and on a
// tie the one earlier in the list.
const Reading* best(const std::vector<Reading>& readings) {
    const Reading* winner = nullptr;
    for (const Reading& r : readings) {
        if (r.reads() && (winner == nullptr || r.score > winner->score))
            winner = &r;
    }
    return winner;
}

} // namespace

Detection detectEncoding(QByteArrayView bytes) {
    const auto* data = reinterpret_cast<Bytes>(bytes.data());
    const auto size = static_cast<std::size_t>(bytes.size());
    auto startsWith = [&](std::initializer_list<unsigned char> mark) {
        return size >= mark.size() && std::equal(mark.begin(), mark.end(), data);
    };
    // UTF-32 LE's mark begins with UTF-16 LE's, so it is asked first.
    if (startsWith({0xFF, 0xFE, 0x00, 0x00}))
        return {FileEncoding::Utf32Le, true};
    if (startsWith({0x00, 0x00, 0xFE, 0xFF}))
        return {FileEncoding::Utf32Be, true};
    if (startsWith({0xEF, 0xBB, 0xBF}))
        return {FileEncoding::Utf8, true};
    if (startsWith({0xFF, 0xFE}))
        return {FileEncoding::Utf16Le, true};
    if (startsWith({0xFE, 0xFF}))
        return {FileEncoding::Utf16Be, true};

    if (size == 0)
        return {};
    const Scan s = scan(data, size);
    const bool zeros = std::memchr(data, 0, size) != nullptr;
    const Escapes e = escapes(data, size);
    const FileEncoding jis = e.jisx0213 ? FileEncoding::Iso2022Jp2004 : FileEncoding::Iso2022Jp;
    if (!s.high) {
        if (e.japanese)
            return {jis, false};
        // Plain ASCII is UTF-8, unless zero bytes make it UTF-16 or UTF-32.
        if (!zeros)
            return {};
    }
    // Japanese in valid UTF-8 is three-byte sequences; no other encoding
    // makes a whole text of them by chance.
    if (s.utf8 && s.longSequences && !zeros)
        return {};

    const std::vector<Chunk> chunks = sampleOf(size, s.firstHigh);
    std::vector<Reading> readings;
    // Escapes with bytes above 0x7F: a damaged ISO-2022-JP file, which the
    // last resort below may still find the best reading of. glibc's
    // ISO-2022-JP-2 reads every set of the older forms, ISO-2022-JP-3 those
    // of JIS X 0213.
    if (e.japanese) {
        readings.push_back(
            readIconv(jis, e.jisx0213 ? "ISO-2022-JP-3" : "ISO-2022-JP-2", data, size, chunks));
    }
    if (s.utf8)
        readings.push_back(readUtf8(data, size, chunks));
    // On a tie the 8-bit encodings go first: UTF-16 shows itself by the
    // zero bytes of its ASCII and line ends, and a text of kanji alone
    // that reads as well in UTF-16 as in CP932 does so by chance.
    readings.push_back(readIconv(FileEncoding::Cp932, "CP932", data, size, chunks));
    readings.push_back(readIconv(FileEncoding::EucJpMs, "EUC-JP-MS", data, size, chunks));
    readings.push_back(readUtf16(false, data, size, chunks));
    readings.push_back(readUtf16(true, data, size, chunks));
    readings.push_back(readUtf32(false, data, size, chunks));
    readings.push_back(readUtf32(true, data, size, chunks));
    if (const Reading* r = best(readings))
        return {r->encoding, false};

    // Nothing older reads the file: perhaps a JIS X 0213 form does.
    std::vector<Reading> jisx0213;
    jisx0213.push_back(readIconv(FileEncoding::ShiftJis2004, "SHIFT_JISX0213", data, size, chunks));
    jisx0213.push_back(readIconv(FileEncoding::EucJis2004, "EUC-JISX0213", data, size, chunks));
    if (const Reading* r = best(jisx0213))
        return {r->encoding, false};

    // No encoding reads these bytes: the one that leaves the fewest bytes
    // undecodable, then the likelier text, then the earlier in the list.
    // UTF-8 heads the list where it found real sequences of its own; bytes
    // that merely fail it (a Latin-1 "é") stay the system's code page.
    if (!s.utf8) {
        const Reading utf8 = readUtf8(data, size, chunks);
        const FileEncoding before = utf8.nonAscii > 0 ? FileEncoding::Cp932 : FileEncoding::EucJpMs;
        const auto at = std::find_if(readings.begin(), readings.end(),
                                     [before](const Reading& r) { return r.encoding == before; });
        readings.insert(at, utf8);
    }
    readings.insert(readings.end(), jisx0213.begin(), jisx0213.end());
    // A control character counts as an undecodable byte: UTF-16 and UTF-32
    // decode almost any bytes, and EUC-JP-MS reads the bytes 0x80 to 0x9F
    // that begin no character of it as the C1 controls.
    auto bad = [](const Reading& r) { return r.errors + r.implausible; };
    const Reading* winner = nullptr;
    for (const Reading& r : readings) {
        // UTF-16 and UTF-32 make characters of almost any bytes; where
        // those are no likelier text than not (two bytes of Latin-1 make a
        // kanji, a rare one), they are no reading at all.
        const bool wide =
            r.encoding == FileEncoding::Utf16Le || r.encoding == FileEncoding::Utf16Be ||
            r.encoding == FileEncoding::Utf32Le || r.encoding == FileEncoding::Utf32Be;
        if (!r.usable || (wide && r.score <= 0))
            continue;
        if (winner == nullptr || bad(r) < bad(*winner) ||
            (bad(r) == bad(*winner) && r.score > winner->score))
            winner = &r;
    }
    return {winner != nullptr ? winner->encoding : FileEncoding::Utf8, false};
}

} // namespace rt
