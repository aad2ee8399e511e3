#pragma once

#include <QByteArrayView>

namespace rt {

// The encodings a Japanese text file comes in. The JIS X 0213 forms are
// read only where nothing older reads the file.
enum class FileEncoding {
    Utf8,
    Utf16Le,
    Utf16Be,
    Utf32Le,
    Utf32Be,
    Cp932,         // Windows-31J: Shift_JIS with the NEC and IBM rows
    EucJpMs,       // EUC-JP with the NEC and IBM rows (glibc's EUC-JP-MS)
    Iso2022Jp,     // 7-bit JIS with escapes
    ShiftJis2004,  // Shift_JIS with JIS X 0213
    EucJis2004,    // EUC-JP with JIS X 0213
    Iso2022Jp2004, // ISO-2022-JP with JIS X 0213
};

struct Detection {
    FileEncoding encoding = FileEncoding::Utf8;
    // The bytes start with the encoding's byte-order mark.
    bool bom = false;

    bool operator==(const Detection&) const = default;
};

// Tells which encoding the bytes of a text file are in. Pure, safe on any
// input, and fast on big files (a sample decides where it can).
Detection detectEncoding(QByteArrayView bytes);

} // namespace rt
