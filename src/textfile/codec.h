#pragma once

// The pieces the text codec is made of, shared by reading a file and by
// writing text back into its kept bytes.

#include "textfile/text_codec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <memory>

namespace rt::codec {

// A stand-in is the lone low surrogate U+DC00 plus the byte it keeps.
inline constexpr char16_t kStandIn = 0xDC00;

inline bool isStandIn(char16_t c) {
    return (c & 0xFF00) == kStandIn;
}

// The shift state of an ISO-2022-JP file at a point: the character set its
// last escape chose. Every other encoding has only the state 0.
using State = quint8;

// Where a line lies in a file's bytes: its text from `start` to
// `contentEnd`, its line end (none after a last line without one) up to
// `end`.
struct LineSpan {
    enum class LineEnd : quint8 { None, CrLf, Lf, Cr };
    qsizetype start = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0;
    LineEnd ending = LineEnd::None;
};

// Splits a file's bytes into lines as the text read from them splits: CR LF,
// CR and LF in the encoding's own code units.
class LineScanner {
public:
    LineScanner(const TextFormat& format, QByteArrayView bytes);

    // Where the text starts, after any byte-order mark.
    qsizetype textStart() const { return base_; }
    // The line starting at `pos`, which must be before the end.
    LineSpan lineAt(qsizetype pos) const;

private:
    QByteArrayView bytes_;
    qsizetype base_ = 0;
    int unit_ = 1;
    bool bigEndian_ = false;
};

// The byte-order mark of the format's encoding, empty where it has none.
QByteArrayView markOf(FileEncoding encoding);

// Reads text in one encoding, a line at a time. Bytes it cannot read become
// stand-ins, so that every byte is accounted for.
class Decoder {
public:
    explicit Decoder(const TextFormat& format);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    struct Step {
        qsizetype bytes = 0; // read
        qsizetype units = 0; // written
    };

    // Decodes `bytes` (no line end among them) into `out`, which has room
    // for `maxUnits` UTF-16 units: no more than that are written, and no
    // character is cut. `state` is the shift state before, and after.
    // Never more units than bytes.
    Step decode(QByteArrayView bytes, State& state, char16_t* out, qsizetype maxUnits);

    // The text of some bytes, from a state.
    QString text(QByteArrayView bytes, State state);

    // For CP932: the first code used of each character that has two.
    QHash<char16_t, quint16>* cp932Codes = nullptr;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Writes text in one encoding.
class Encoder {
public:
    explicit Encoder(const TextFormat& format);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Appends a piece of text without line breaks, each stand-in as its
    // byte. Returns the index of the first character the encoding cannot
    // hold (or holds only as a look-alike), or -1. In ISO-2022-JP the piece
    // starts and ends in ASCII.
    qsizetype encode(QStringView piece, QByteArray& out);

    // The bytes of a line end.
    QByteArray lineEnd(TextFormat::LineEnd end);

    // The escape that brings ISO-2022-JP to a state; empty elsewhere.
    QByteArray escapeTo(State state) const;

    // Whether a line must be written afresh rather than piecewise.
    bool wholeLines() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace rt::codec
