#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringView>

namespace rt {

// How a text file was stored: what it takes to write the text back into the
// very bytes it came from.
struct TextFormat {
    enum class Encoding { Cp932, Utf8, Utf8Bom, Utf16Le, Utf16Be };
    enum class LineEnd { CrLf, Lf, Cr };

    Encoding encoding = Encoding::Cp932;
    LineEnd lineEnd = LineEnd::CrLf;
    // CP932 has two codes for several hundred characters (the NEC and IBM
    // extensions repeat each other and some JIS symbols). For each such
    // character a file used, the code it used; the converter's own choice
    // applies to the rest.
    QHash<char16_t, quint16> cp932Codes;

    bool operator==(const TextFormat&) const = default;
};

// What the program writes for text of its own: the Japanese system code
// page with CR LF.
TextFormat nativeTextFormat();

struct DecodedText {
    QString text;
    TextFormat format;
};

// Turns the bytes of a text file into text and tells how they were stored.
// A byte-order mark picks UTF-8 or UTF-16 (the mark is not part of the text);
// otherwise the bytes are read as UTF-8 or as CP932, whichever reads them
// with fewer undecodable bytes (UTF-8 on a tie only when it found real
// UTF-8 sequences). An empty file has the program's own format.
//
// No byte is ever lost: each byte that the chosen encoding cannot decode is
// kept as a stand-in, the lone low surrogate U+DC00 plus the byte's value.
// Valid text never contains a lone surrogate, the text box shows one as a
// replacement mark, and encodeText() writes it back as the byte. The line
// ends are left in the text as they are; the format records the first one.
// Pure: no I/O, and safe on any input.
DecodedText decodeText(QByteArrayView bytes);

// Turns text into a file's bytes in the given format. Every line break
// (CR LF, CR or LF) is written as the format's line end, every stand-in as
// its byte. When the format is CP932 and some character has no CP932 code,
// the whole text is written as UTF-8 behind a byte-order mark instead, so
// that nothing is replaced; `format` then says so. Pure and safe on any
// input.
QByteArray encodeText(QStringView text, TextFormat& format);

} // namespace rt
