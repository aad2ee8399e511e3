#pragma once

// ISO-2022-JP and its JIS X 0213 form: the escapes that switch between
// character sets, read and written here; the characters of each set come
// from glibc's EUC converters, which number them the same way.

#include "textfile/codec.h"

namespace rt::jis {

// The character sets an escape can choose.
enum Set : codec::State {
    Ascii = 0, // ESC ( B
    Roman,     // ESC ( J, ESC ( H: JIS X 0201, ¥ and ‾ for \ and ~
    Kana,      // ESC ( I: half-width katakana
    X0208,     // ESC $ @, ESC $ B
    X0212,     // ESC $ ( D
    X0213p1,   // ESC $ ( O, ESC $ ( Q
    X0213p2,   // ESC $ ( P
};

// Reads bytes from a state, as codec::Decoder::decode() does. CR and LF
// are line ends in every set; a byte no set reads becomes a stand-in.
codec::Decoder::Step decode(QByteArrayView bytes, codec::State& state, char16_t* out,
                            qsizetype maxUnits);

// Appends a piece of text from and back to ASCII, choosing for each
// character the first set that holds it (JIS X 0213 only where `x0213`).
// Returns the index of the first character no set holds, or -1.
qsizetype encode(QStringView piece, bool x0213, QByteArray& out);

// The escape that chooses a set.
QByteArray escapeTo(codec::State state);

} // namespace rt::jis
