#pragma once

// What the parts of the text box share about the pieces it holds a long
// line in, and about laying such a line out whole as Qt's editor does.

#include "window/text_box_edit.h"

#include <QChar>
#include <QFont>
#include <QPaintDevice>
#include <QPointF>
#include <QString>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace rt::pieces {

// The length of a line that is quick to lay out whole, as Qt's editor
// does: sixteen pieces of the usual length.
constexpr int kExactRowsLength = 16 * TextBoxEdit::kPieceLength;

// The characters that QTextCursor::insertText() turns into a paragraph
// break (the last two are Qt's frame markers).
inline bool isLineBreak(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xFDD0) ||
           c == QChar(0xFDD1);
}

// How wide the screen lines of a block are, and where they start.
struct RowShape {
    qreal width;
    qreal x;
};

// The shape of the screen lines of `block`, if Qt has laid it out.
std::optional<RowShape> rowShape(const QTextBlock& block);

// `text`, one whole line, laid out as the editor lays out a block whose
// screen lines have `shape`: the same font, wrapping and row heights.
std::unique_ptr<QTextLayout> rowsOf(const QString& text, const RowShape& shape,
                                    const QTextDocument& doc);

// Whether two positions in the document are one place in the text: the
// same position, or the end of a piece and the start of the next.
bool samePlace(const QTextDocument* doc, int a, int b);

// The characters of the text from `from` to `to`, a cut counting for none.
int textLength(const QTextDocument* doc, int from, int to);

// Whether `block` is one of several pieces of a line.
inline bool inPiece(const QTextBlock& block) {
    return continuesLine(block) || continuesLine(block.next());
}

// Runs `act` on a cursor at `position` in a copy of the long line around
// it, as one block, so that Qt's own word rules see the whole line rather
// than one piece; gives back where its anchor and position end, in the
// document. The copy widens until the answer lies well inside it.
std::pair<int, int> inWholeLine(const QTextDocument* doc, int position,
                                const std::function<void(QTextCursor&)>& act);

// Runs `use` on the last screen line of a block that `next` continues, laid
// out as Qt lays out the whole line: with the text of the next piece after
// it, not as the last screen line of a paragraph. `use` gets the screen
// line and where it starts in the block.
template <class Use>
auto asInWholeLine(const QTextBlock& block, const QTextBlock& next, const QFont& font,
                   const QTextOption& option, QPaintDevice* device, Use&& use) {
    constexpr int kLookAhead = 512;
    const QTextLayout* layout = block.layout();
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    const int start = last.textStart();
    // What follows, over as many pieces as it takes: where the line wraps
    // depends on how long the next word is.
    QString text = block.text().mid(start);
    const qsizetype until = text.size() + kLookAhead;
    for (QTextBlock b = next; b.isValid() && text.size() < until; b = b.next()) {
        text += b.text().left(until - text.size());
        if (!continuesLine(b.next())) {
            break;
        }
    }
    QTextLayout probe(text, font, device);
    probe.setTextOption(option);
    probe.beginLayout();
    QTextLine line = probe.createLine();
    line.setLineWidth(last.width());
    // Where the block's screen lines start, past the document's margin.
    line.setPosition(QPointF(last.x(), 0));
    // A screen line after it, for Qt treats the last screen line of a
    // layout as a paragraph's last.
    QTextLine after = probe.createLine();
    if (after.isValid()) {
        after.setLineWidth(last.width());
    }
    probe.endLayout();
    return use(line, start);
}

} // namespace rt::pieces
