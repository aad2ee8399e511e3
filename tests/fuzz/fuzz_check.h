#pragma once

// What the fuzz targets share: stopping on a broken property, and what must
// hold whenever text is saved.

#include "window/textfile.h"

#include <QList>
#include <QSysInfo>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include <iconv.h>

// A broken property aborts, so that libFuzzer keeps the input as a crash
// artifact. The message names the property, because that is what a regression
// test made from the input has to check.
#define FUZZ_CHECK(condition, property)                                                            \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "\n==fuzz property failed== %s (%s:%d)\n", property, __FILE__,    \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

inline constexpr QByteArrayView kBom("\xEF\xBB\xBF", 3);

// The text as CP932 from one strict iconv call, the plain way to write it, or
// nothing when some character has no CP932 form. The descriptor is opened
// once, because loading the converter would cost more than a small input.
inline std::optional<QByteArray> plainCp932(QStringView text) {
    static const iconv_t cd = iconv_open(
        "CP932", QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE");
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray bytes(text.size() * 2 + 16, Qt::Uninitialized);
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.utf16()));
    std::size_t inLeft = static_cast<std::size_t>(text.size()) * 2;
    char* out = bytes.data();
    std::size_t outLeft = static_cast<std::size_t>(bytes.size());
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == std::size_t(-1) ||
        iconv(cd, nullptr, nullptr, &out, &outLeft) == std::size_t(-1))
        return std::nullopt;
    bytes.truncate(out - bytes.constData());
    return bytes;
}

// Saved text must read back as itself with each lone surrogate as U+FFFD. It
// is written as plain CP932 exactly when those bytes read back as the text
// (glibc maps some characters to look-alikes, and some CP932 bytes are also
// valid UTF-8), and otherwise as UTF-8 behind a byte-order mark.
inline void checkEncode(QStringView text) {
    // toUcs4() replaces lone surrogates with U+FFFD by itself, so the
    // expected text owes nothing to the code under test. (fromUcs4() would
    // drop a leading U+FEFF, hence the loop.)
    QString expected;
    for (const uint c : text.toUcs4())
        expected += QChar::fromUcs4(c);
    const QByteArray saved = rt::encodeFileText(text);
    FUZZ_CHECK(rt::decodeFileText(saved) == expected,
               "saved text reads back unchanged, lone surrogates as U+FFFD");

    const std::optional<QByteArray> cp932 = plainCp932(expected);
    const bool plain = cp932 && rt::decodeFileText(*cp932) == expected;
    FUZZ_CHECK(saved.startsWith(kBom) != plain,
               "a byte-order mark is written exactly when plain CP932 would not read back");
}

} // namespace fuzz
