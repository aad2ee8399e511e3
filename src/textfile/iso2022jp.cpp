#include "textfile/iso2022jp.h"

#include <array>
#include <cstring>
#include <memory>

#include <iconv.h>

namespace rt::jis {

namespace {

using codec::kStandIn;

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr const char kUtf16[] = "UTF-16LE";
#else
constexpr const char kUtf16[] = "UTF-16BE";
#endif

constexpr int kCells = 94 * 94;

// One 94 x 94 set as glibc's EUC converter reads it: each code's one or two
// UTF-16 units (JIS X 0213 has characters with a combining mark, and some
// beyond the BMP), and the way back.
struct SetTable {
    std::array<std::array<char16_t, 2>, kCells> chars{};
    QHash<quint32, quint16> codes; // units (first << 16 | second) -> row << 8 | cell

    SetTable(const char* euc, bool plane2) {
        iconv_t cd = iconv_open(kUtf16, euc);
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)))
            return;
        for (int i = 0; i < kCells; ++i) {
            const std::array<char, 3> bytes{'\x8F', static_cast<char>(0xA1 + i / 94),
                                            static_cast<char>(0xA1 + i % 94)};
            const char* in = bytes.data() + (plane2 ? 0 : 1);
            std::size_t inLeft = plane2 ? 3 : 2;
            std::array<char16_t, 4> units{};
            char* out = reinterpret_cast<char*>(units.data());
            std::size_t outLeft = sizeof(units);
            const bool ok =
                iconv(cd, const_cast<char**>(&in), &inLeft, &out, &outLeft) !=
                    static_cast<std::size_t>(-1) &&
                iconv(cd, nullptr, nullptr, &out, &outLeft) != static_cast<std::size_t>(-1);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const std::size_t n = (sizeof(units) - outLeft) / 2;
            if (!ok || inLeft != 0 || n == 0 || n > 2)
                continue;
            chars[i] = {units[0], n == 2 ? units[1] : char16_t(0)};
            const quint32 key = quint32(units[0]) << 16 | (n == 2 ? units[1] : 0);
            if (!codes.contains(key))
                codes.insert(key, quint16((0x21 + i / 94) << 8 | (0x21 + i % 94)));
        }
        iconv_close(cd);
    }
};

const SetTable& table(Set set) {
    static const std::unique_ptr<const SetTable> x0208 =
        std::make_unique<SetTable>("EUC-JP-MS", false);
    static const std::unique_ptr<const SetTable> x0212 =
        std::make_unique<SetTable>("EUC-JP-MS", true);
    static const std::unique_ptr<const SetTable> plane1 =
        std::make_unique<SetTable>("EUC-JISX0213", false);
    static const std::unique_ptr<const SetTable> plane2 =
        std::make_unique<SetTable>("EUC-JISX0213", true);
    switch (set) {
    case X0212:
        return *x0212;
    case X0213p1:
        return *plane1;
    case X0213p2:
        return *plane2;
    default:
        return *x0208;
    }
}

struct Escape {
    const char* bytes;
    Set set;
};

// Every escape the sets are chosen by, the one written for each first.
constexpr std::array kEscapes{
    Escape{"\x1B(B", Ascii},    Escape{"\x1B(J", Roman},    Escape{"\x1B(I", Kana},
    Escape{"\x1B$B", X0208},    Escape{"\x1B$(D", X0212},   Escape{"\x1B$(Q", X0213p1},
    Escape{"\x1B$(P", X0213p2}, Escape{"\x1B(H", Roman},    Escape{"\x1B$@", X0208},
    Escape{"\x1B$(B", X0208},   Escape{"\x1B$(O", X0213p1},
};

} // namespace

codec::Decoder::Step decode(QByteArrayView bytes, codec::State& state, char16_t* out,
                            qsizetype maxUnits) {
    const auto* in = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    qsizetype n = 0;
    while (i < size) {
        const uchar b = in[i];
        if (b == 0x1B) {
            // The 1990 revision's prefix (ESC & @) changes nothing by itself.
            if (bytes.sliced(i).startsWith("\x1B&@")) {
                i += 3;
                continue;
            }
            bool known = false;
            for (const Escape& e : kEscapes) {
                if (bytes.sliced(i).startsWith(e.bytes)) {
                    state = e.set;
                    i += qsizetype(std::strlen(e.bytes));
                    known = true;
                    break;
                }
            }
            if (known)
                continue;
        }
        if (n == maxUnits)
            break;
        if (b >= 0x80) {
            out[n++] = char16_t(kStandIn | b);
            ++i;
        } else if (b < 0x21 || b == 0x7F || state == Ascii) {
            out[n++] = b;
            ++i;
        } else if (state == Roman) {
            out[n++] = b == 0x5C ? u'\u00A5' : b == 0x7E ? u'\u203E' : char16_t(b);
            ++i;
        } else if (state == Kana) {
            out[n++] = b <= 0x5F ? char16_t(0xFF61 + b - 0x21) : char16_t(kStandIn | b);
            ++i;
        } else {
            const uchar c = i + 1 < size ? in[i + 1] : 0;
            const std::array<char16_t, 2>* chars =
                c >= 0x21 && c <= 0x7E ? &table(Set(state)).chars[(b - 0x21) * 94 + c - 0x21]
                                       : nullptr;
            if (chars && (*chars)[0] != 0) {
                const qsizetype units = (*chars)[1] != 0 ? 2 : 1;
                if (n + units > maxUnits)
                    break;
                out[n++] = (*chars)[0];
                if (units == 2)
                    out[n++] = (*chars)[1];
                i += 2;
            } else {
                out[n++] = char16_t(kStandIn | b);
                ++i;
            }
        }
    }
    return {i, n};
}

QByteArray escapeTo(codec::State state) {
    for (const Escape& e : kEscapes) {
        if (e.set == state)
            return {e.bytes};
    }
    return {};
}

qsizetype encode(QStringView piece, bool x0213, QByteArray& out) {
    codec::State state = Ascii;
    auto to = [&](Set set) {
        if (state != set)
            out += escapeTo(set);
        state = set;
    };
    // The sets a character of two bytes is looked for in, in order.
    const std::array<Set, 4> wide =
        x0213 ? std::array{X0208, X0213p1, X0213p2, X0212} : std::array{X0208, X0212, X0208, X0208};
    const qsizetype size = piece.size();
    for (qsizetype i = 0; i < size;) {
        const char16_t c = piece[i].unicode();
        if (codec::isStandIn(c)) {
            out += char(c & 0xFF);
            ++i;
            continue;
        }
        if (c < 0x80) {
            // Controls and spaces read the same in every set; the rest need
            // ASCII.
            if (c >= 0x21 && c != 0x7F && !(state == Roman && c != 0x5C && c != 0x7E))
                to(Ascii);
            out += char(c);
            ++i;
            continue;
        }
        if (c == 0xA5 || c == 0x203E) {
            to(Roman);
            out += c == 0xA5 ? '\x5C' : '\x7E';
            ++i;
            continue;
        }
        if (c >= 0xFF61 && c <= 0xFF9F) {
            to(Kana);
            out += char(c - 0xFF61 + 0x21);
            ++i;
            continue;
        }
        bool found = false;
        // A pair (a character and its mark, or a surrogate pair) before
        // a lone unit.
        // A pair's second unit is never 0, which is how the tables tell a
        // lone unit from a pair: a NUL after a character stays a NUL.
        for (const qsizetype units : {2, 1}) {
            if (i + units > size || (units == 2 && piece[i + 1].unicode() == 0))
                continue;
            const quint32 key = quint32(c) << 16 | (units == 2 ? piece[i + 1].unicode() : 0);
            for (const Set set : wide) {
                const auto it = table(set).codes.constFind(key);
                if (it == table(set).codes.constEnd())
                    continue;
                to(set);
                out += char(*it >> 8);
                out += char(*it & 0xFF);
                i += units;
                found = true;
                break;
            }
            if (found)
                break;
        }
        if (!found)
            return i;
    }
    to(Ascii);
    return -1;
}

} // namespace rt::jis
