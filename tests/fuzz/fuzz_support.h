#pragma once

// Reference implementations that the fuzz targets hold the text-file layer
// against. Each one is written the plain, slow way on purpose, so that it
// shares none of the buffering, chunking or early-exit logic of the code
// under test; where both have to ask glibc's iconv about CP932, the reference
// asks one character at a time.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace fuzz {

inline constexpr QByteArrayView kBom("\xEF\xBB\xBF", 3);

// Reports a broken property and aborts, so that libFuzzer keeps the input as
// a crash artifact. The message names the property in words, because that is
// what whoever reads the log has to turn into a regression test.
[[noreturn]] void fail(const char* property, const char* file, int line);

// Like fail(), but also prints what was expected and what came out.
[[noreturn]] void failWith(const char* property, QStringView expected, QStringView actual,
                           const char* file, int line);
[[noreturn]] void failWith(const char* property, QByteArrayView expected, QByteArrayView actual,
                           const char* file, int line);

// The bytes libFuzzer hands over, as Qt sees them.
inline QByteArrayView bytesOf(const std::uint8_t* data, std::size_t size) {
    return QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Strict UTF-8 as RFC 3629 defines it: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF. Noncharacters such as U+FFFF are valid
// characters here, as they are in UTF-8 itself. A byte-order mark is kept as
// U+FEFF. Returns nothing when any byte is out of place.
std::optional<QString> strictUtf8(QByteArrayView bytes);

// CP932 decoded one character at a time through iconv: a byte that does not
// start a valid character (alone or with the byte after it) becomes U+FFFD
// and decoding goes on at the next byte.
QString referenceCp932(QByteArrayView bytes);

// The text encoded as CP932 by a single strict iconv call, or nothing when
// any character has no CP932 form.
std::optional<QByteArray> strictCp932(QStringView text);

// CP932 bytes decoded by a single strict iconv call, or nothing when any byte
// is invalid.
std::optional<QString> strictFromCp932(QByteArrayView bytes);

bool hasLoneSurrogate(QStringView text);

// The text with every unpaired surrogate replaced by U+FFFD.
QString withoutLoneSurrogates(QStringView text);

// What the lines of the text must be, worked out without splitting: every
// line end is rewritten to LF and a final LF is added when the text does not
// end with one, so the result must equal the lines each followed by LF.
QString normalizedLineEnds(QStringView text);

// The lines, each followed by the given line end.
QString joinLines(const QStringList& lines, QStringView lineEnd);

// The characters of the text, or bytes of the input, that are below the
// given code, in order. Those are the ones no decoder may drop, add or move.
QString charsBelow(QStringView text, char16_t limit);
QString bytesBelow(QByteArrayView bytes, char16_t limit);

// Checks everything that must hold for encodeFileText(text): it reads back as
// the text with lone surrogates replaced, and it is CP932 exactly when CP932
// carries that text unchanged, otherwise UTF-8 behind a byte-order mark.
void checkEncode(QStringView text);

} // namespace fuzz

#define FUZZ_CHECK(condition, property)                                                            \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::fuzz::fail(property, __FILE__, __LINE__);                                            \
    } while (0)

#define FUZZ_CHECK_EQUAL(expected, actual, property)                                               \
    do {                                                                                           \
        if (!((expected) == (actual)))                                                             \
            ::fuzz::failWith(property, expected, actual, __FILE__, __LINE__);                      \
    } while (0)
