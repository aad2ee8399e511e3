// Writing text back into the bytes it was read from: what still reads as it
// did keeps its bytes, and only what changed is encoded.

#include "textfile/codec.h"
#include "textfile/detect.h"
#include "textfile/text_codec.h"

#include <QHash>

#include <algorithm>
#include <optional>
#include <vector>

namespace rt {

namespace {

using codec::LineSpan;
using codec::State;

// A line of the kept bytes, with the shift state before and after it.
struct OldLine {
    LineSpan span;
    State entry = 0;
    State exit = 0;
};

// A line of the new text.
struct NewLine {
    qsizetype start = 0;
    qsizetype size = 0;
};

// Splits text into lines at every CR LF, CR and LF; text without a break is
// one line.
std::vector<NewLine> splitLines(QStringView text, qsizetype from) {
    std::vector<NewLine> lines;
    qsizetype start = from;
    const char16_t* s = text.utf16();
    for (qsizetype i = from; i < text.size(); ++i) {
        if (s[i] != u'\r' && s[i] != u'\n')
            continue;
        lines.push_back({start, i - start});
        if (s[i] == u'\r' && i + 1 < text.size() && s[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    lines.push_back({start, text.size() - start});
    return lines;
}

class Writer {
public:
    Writer(QStringView text, const TextFormat& format)
        : text_(text), format_(format), kept_(format.kept), decoder_(format), encoder_(format),
          scanner_(format, kept_) {
        lineEnd_ = encoder_.lineEnd(format.lineEnd);
    }

    EncodedText run();

private:
    QStringView newText(const NewLine& line) const { return text_.sliced(line.start, line.size); }
    QString oldText(const OldLine& line) { return decoder_.text(content(line), line.entry); }
    QByteArrayView content(const OldLine& line) const {
        return kept_.sliced(line.span.start, line.span.contentEnd - line.span.start);
    }

    void writeKept(const OldLine& line, bool last);
    void writeNew(qsizetype index, bool last);
    void writePaired(const OldLine& old, qsizetype index, bool last);
    void writeEnd(bool last);
    void writeRange(qsizetype oldFrom, qsizetype oldTo, qsizetype newFrom, qsizetype newTo);
    bool failed() const { return unheld_.has_value(); }
    void fail(qsizetype index, qsizetype at);
    EncodedText done();

    QStringView text_;
    const TextFormat& format_;
    QByteArrayView kept_;
    codec::Decoder decoder_;
    codec::Encoder encoder_;
    codec::LineScanner scanner_;
    QByteArray lineEnd_;
    QByteArray out_;
    State written_ = 0;
    // The kept file ended without a line end; so does the new one.
    bool endedOpen_ = false;
    std::vector<OldLine> old_;
    std::vector<NewLine> new_;
    // Where the lines of new_ stand in the whole text, counted from 0.
    qsizetype firstNewLine_ = 0;
    qsizetype lastNewLine_ = 0;
    std::optional<Unheld> unheld_;
};

void Writer::fail(qsizetype index, qsizetype at) {
    if (failed())
        return;
    const QStringView line = newText(new_[std::size_t(index)]);
    char32_t c = line[at].unicode();
    if (QChar::isHighSurrogate(c) && at + 1 < line.size() && line[at + 1].isLowSurrogate())
        c = QChar::surrogateToUcs4(line[at], line[at + 1]);
    unheld_ = Unheld{c, firstNewLine_ + index + 1};
}

EncodedText Writer::done() {
    if (failed())
        return {QByteArray(), unheld_, false};
    // Text that starts with U+FEFF, written without a mark, would read back
    // as a mark and lose that character; with the encoding's own mark in
    // front it reads back as it is.
    const QByteArrayView mark = codec::markOf(format_.encoding);
    if (!format_.bom && !mark.isEmpty() &&
        detectEncoding(QByteArrayView(out_).first(std::min<qsizetype>(out_.size(), 4))).bom) {
        out_.prepend(mark);
        return {out_, std::nullopt, true};
    }
    return {out_, std::nullopt, format_.bom};
}

void Writer::writeEnd(bool last) {
    if (!(last && endedOpen_))
        out_ += lineEnd_;
}

void Writer::writeKept(const OldLine& line, bool last) {
    if (written_ != line.entry)
        out_ += encoder_.escapeTo(line.entry);
    out_ += kept_.sliced(line.span.start, line.span.end - line.span.start);
    written_ = line.exit;
    // The old last line, which had no line end, now has lines after it.
    if (line.span.ending == LineSpan::LineEnd::None && !last)
        out_ += lineEnd_;
}

void Writer::writeNew(qsizetype index, bool last) {
    if (written_ != 0)
        out_ += encoder_.escapeTo(0);
    written_ = 0;
    const qsizetype bad = encoder_.encode(newText(new_[std::size_t(index)]), out_);
    if (bad >= 0)
        fail(index, bad);
    writeEnd(last);
}

void Writer::writePaired(const OldLine& old, qsizetype index, bool last) {
    const QString before = oldText(old);
    const QStringView after = newText(new_[std::size_t(index)]);
    const QByteArrayView bytes = content(old);
    // The characters both share at the start and at the end.
    const qsizetype most = std::min(before.size(), after.size());
    qsizetype p = 0;
    while (p < most && before[p] == after[p])
        ++p;
    qsizetype s = 0;
    while (s < most - p && before[before.size() - 1 - s] == after[after.size() - 1 - s])
        ++s;
    // Where those stretches end in the bytes, at whole characters: the
    // prefix no longer, the suffix no longer than they are.
    QString scratch(std::max<qsizetype>(before.size(), 2), Qt::Uninitialized);
    auto* buffer = reinterpret_cast<char16_t*>(scratch.data());
    State state = old.entry;
    const codec::Decoder::Step head = decoder_.decode(bytes, state, buffer, p);
    qsizetype tailBytes = head.bytes;
    qsizetype tailUnits = head.units;
    const qsizetype target = before.size() - s;
    while (tailUnits < target) {
        const QByteArrayView rest = bytes.sliced(tailBytes);
        codec::Decoder::Step step = decoder_.decode(rest, state, buffer, target - tailUnits);
        if (step.units == 0)
            step = decoder_.decode(rest, state, buffer, target - tailUnits + 1);
        if (step.units == 0)
            break;
        tailBytes += step.bytes;
        tailUnits += step.units;
    }
    const bool exact =
        !encoder_.wholeLines() && tailUnits >= target &&
        decoder_.text(bytes.first(head.bytes), old.entry).size() == head.units &&
        decoder_.text(bytes.sliced(tailBytes), old.entry).size() == before.size() - tailUnits;
    if (!exact) {
        // Written afresh, with its own line end.
        if (written_ != 0)
            out_ += encoder_.escapeTo(0);
        written_ = 0;
        const qsizetype bad = encoder_.encode(after, out_);
        if (bad >= 0)
            fail(index, bad);
    } else {
        out_ += bytes.first(head.bytes);
        const qsizetype middle = after.size() - (before.size() - tailUnits) - head.units;
        const qsizetype bad = encoder_.encode(after.sliced(head.units, middle), out_);
        if (bad >= 0)
            fail(index, head.units + bad);
        out_ += bytes.sliced(tailBytes);
        written_ = old.exit;
    }
    if (old.span.ending != LineSpan::LineEnd::None)
        out_ += kept_.sliced(old.span.contentEnd, old.span.end - old.span.contentEnd);
    else
        writeEnd(last);
}

// The lines between two that stay: those equal from either end stay too,
// the rest are paired in order, each pair changed within the line.
void Writer::writeRange(qsizetype oldFrom, qsizetype oldTo, qsizetype newFrom, qsizetype newTo) {
    auto same = [this](qsizetype o, qsizetype n) {
        return oldText(old_[std::size_t(o)]) == newText(new_[std::size_t(n)]);
    };
    qsizetype headSame = 0;
    while (oldFrom + headSame < oldTo && newFrom + headSame < newTo &&
           same(oldFrom + headSame, newFrom + headSame))
        ++headSame;
    qsizetype tailSame = 0;
    while (oldTo - tailSame > oldFrom + headSame && newTo - tailSame > newFrom + headSame &&
           same(oldTo - tailSame - 1, newTo - tailSame - 1))
        ++tailSame;
    auto isLast = [this](qsizetype n) { return firstNewLine_ + n == lastNewLine_; };
    for (qsizetype k = 0; k < headSame; ++k)
        writeKept(old_[std::size_t(oldFrom + k)], isLast(newFrom + k));
    const qsizetype oldMid = oldTo - tailSame - oldFrom - headSame;
    const qsizetype newMid = newTo - tailSame - newFrom - headSame;
    for (qsizetype k = 0; k < newMid; ++k) {
        const qsizetype n = newFrom + headSame + k;
        if (k < oldMid)
            writePaired(old_[std::size_t(oldFrom + headSame + k)], n, isLast(n));
        else
            writeNew(n, isLast(n));
    }
    for (qsizetype k = 0; k < tailSame; ++k)
        writeKept(old_[std::size_t(oldTo - tailSame + k)], isLast(newTo - tailSame + k));
}

EncodedText Writer::run() {
    const QStringView text = text_;
    if (format_.kept.isNull()) {
        // Text of the program's own: every line written, each with the line
        // end.
        if (format_.bom)
            out_ += codec::markOf(format_.encoding);
        new_ = splitLines(text, 0);
        lastNewLine_ = qsizetype(new_.size()) - 1;
        for (qsizetype n = 0; n < qsizetype(new_.size()) && !failed(); ++n)
            writeNew(n, false);
        return done();
    }
    const qsizetype size = kept_.size();
    // The lines both share from the start, compared as they are read, with
    // nothing stored: an unchanged file costs one decode.
    qsizetype pos = scanner_.textStart();
    State state = 0;
    qsizetype np = 0;
    qsizetype same = 0;
    bool newDone = false;
    bool lastOpen = false;
    QString line;
    while (pos < size && !newDone) {
        const LineSpan span = scanner_.lineAt(pos);
        State after = state;
        line.resize(span.contentEnd - pos);
        line.truncate(decoder_
                          .decode(kept_.sliced(pos, span.contentEnd - pos), after,
                                  reinterpret_cast<char16_t*>(line.data()), line.size())
                          .units);
        qsizetype end = np;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        if (text.sliced(np, end - np) != line)
            break;
        state = after;
        pos = span.end;
        lastOpen = span.ending == LineSpan::LineEnd::None;
        ++same;
        if (end == text.size()) {
            newDone = true;
        } else {
            np = end +
                 (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? 2 : 1);
        }
    }
    // Unchanged. A file with no lines reads as the empty text too.
    if (pos == size && (newDone || (text.isEmpty() && pos == scanner_.textStart())))
        return {format_.kept, std::nullopt, format_.bom};

    // The rest of both, line by line.
    for (qsizetype at = pos; at < size;) {
        const LineSpan span = scanner_.lineAt(at);
        State after = state;
        line.resize(span.contentEnd - at);
        decoder_.decode(kept_.sliced(at, span.contentEnd - at), after,
                        reinterpret_cast<char16_t*>(line.data()), line.size());
        old_.push_back({span, state, after});
        state = after;
        at = span.end;
    }
    endedOpen_ = size > scanner_.textStart() &&
                 (old_.empty() ? lastOpen : old_.back().span.ending == LineSpan::LineEnd::None);
    if (!newDone)
        new_ = splitLines(text, np);
    firstNewLine_ = same;
    lastNewLine_ = same + qsizetype(new_.size()) - 1;

    out_.reserve(size + (text.size() - np) * 2);
    out_ += kept_.first(pos);
    written_ = old_.empty() ? state : old_.front().entry;
    if (lastOpen && !new_.empty())
        out_ += lineEnd_;

    // The lines both share at the end stay; lines found once in each, in
    // the same order, anchor the rest.
    qsizetype tail = 0;
    while (tail < qsizetype(old_.size()) && tail < qsizetype(new_.size()) &&
           oldText(old_[old_.size() - 1 - std::size_t(tail)]) ==
               newText(new_[new_.size() - 1 - std::size_t(tail)]))
        ++tail;
    const auto oldCount = qsizetype(old_.size()) - tail;
    const auto newCount = qsizetype(new_.size()) - tail;
    QHash<QString, qsizetype> oldOnce;
    QHash<QStringView, qsizetype> newOnce;
    std::vector<QString> oldTexts;
    if (oldCount > 0 && newCount > 0) {
        for (qsizetype o = 0; o < oldCount; ++o) {
            QString t = oldText(old_[std::size_t(o)]);
            auto it = oldOnce.find(t);
            if (it == oldOnce.end())
                oldOnce.insert(t, o);
            else
                *it = -1;
        }
        for (qsizetype n = 0; n < newCount; ++n) {
            auto it = newOnce.find(newText(new_[std::size_t(n)]));
            if (it == newOnce.end())
                newOnce.insert(newText(new_[std::size_t(n)]), n);
            else
                *it = -1;
        }
    }
    qsizetype oldAt = 0;
    qsizetype newAt = 0;
    for (qsizetype n = 0; n < newCount && !failed(); ++n) {
        const QStringView t = newText(new_[std::size_t(n)]);
        if (newOnce.value(t, -1) != n)
            continue;
        const qsizetype o = oldOnce.value(t.toString(), -1);
        if (o < oldAt)
            continue;
        writeRange(oldAt, o, newAt, n);
        writeKept(old_[std::size_t(o)], firstNewLine_ + n == lastNewLine_);
        oldAt = o + 1;
        newAt = n + 1;
    }
    if (!failed())
        writeRange(oldAt, oldCount, newAt, newCount);
    for (qsizetype k = 0; k < tail; ++k)
        writeKept(old_[std::size_t(oldCount + k)], newCount + k == qsizetype(new_.size()) - 1);
    return done();
}

} // namespace

EncodedText encodeText(QStringView text, const TextFormat& format) {
    // Save prints the text and a line end; that line end is the last line's.
    if (text.endsWith(u"\r\n"))
        text.chop(2);
    return Writer(text, format).run();
}

} // namespace rt
