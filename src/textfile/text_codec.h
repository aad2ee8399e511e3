#pragma once

#include "textfile/detect.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringView>

#include <optional>

namespace rt {

// How a text file was stored: what it takes to write the text back into the
// very bytes it came from.
struct TextFormat {
    enum class LineEnd { CrLf, Lf, Cr };

    FileEncoding encoding = FileEncoding::Cp932;
    // The file starts with the encoding's byte-order mark.
    bool bom = false;
    // The file's first line end, which new lines get.
    LineEnd lineEnd = LineEnd::CrLf;
    // CP932 has two codes for several hundred characters (the NEC and IBM
    // extensions repeat each other and some JIS symbols). For each such
    // character a file used, the first code it used, which new text gets
    // too; the converter's own choice applies to the rest.
    QHash<char16_t, quint16> cp932Codes;
    // The file's bytes as they were opened (or last saved). Whatever text
    // still reads as it did is written back from them, so that nothing the
    // user did not change is rewritten. Null for text of the program's own.
    QByteArray kept;

    bool operator==(const TextFormat&) const = default;
};

// What the program writes for text of its own: the Japanese system code
// page with CR LF.
TextFormat nativeTextFormat();

// Where text that the file's encoding cannot hold goes instead: UTF-8, with
// a byte-order mark where the file was the program's own text or CP932 (as
// Windows tells UTF-8 apart from its code page), and the same line end.
TextFormat utf8Instead(const TextFormat& format);

struct DecodedText {
    QString text;
    TextFormat format;
};

// Turns the bytes of a text file into text and tells how they were stored;
// detectEncoding() chooses the encoding. The mark is not part of the text,
// and the line ends are left in it as they are.
//
// No byte is ever lost: each byte that the encoding cannot decode is kept as
// a stand-in, the lone low surrogate U+DC00 plus the byte's value. Valid
// text never contains a lone surrogate, the text box shows one as a
// replacement mark, and encodeText() writes it back as the byte. Pure: no
// I/O, and safe on any input.
DecodedText decodeText(const QByteArray& bytes);

// The same with the encoding given.
DecodedText decodeText(const QByteArray& bytes, Detection as);

// A character that the file's encoding cannot hold.
struct Unheld {
    char32_t character = 0;
    qsizetype line = 0; // counted from 1
};

struct EncodedText {
    QByteArray bytes;
    // Set, with no bytes, when some character cannot be written.
    std::optional<Unheld> unheld;
    // The bytes start with the encoding's byte-order mark: where the format
    // has one, and where text without one would read as if it had (text
    // that starts with U+FEFF), so that such text reads back unchanged.
    bool bom = false;
};

// Turns text, as Save prints it (ending in CR LF), into a file's bytes in
// the given format. With kept bytes, every line that still reads as it did
// is written from them with its own line end, and inside a changed line the
// characters before and after the change keep their bytes too (in the
// ISO-2022-JP forms, whose escapes carry state, the line is written
// afresh). New lines get the format's line end; a file that ended without
// a line end still does. Without kept bytes the whole text is written in
// the format, every line break as its line end. A character is never
// replaced: where one cannot be written, `unheld` names the first. Pure and
// safe on any input.
EncodedText encodeText(QStringView text, const TextFormat& format);

} // namespace rt
