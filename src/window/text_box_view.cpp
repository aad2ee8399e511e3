// Where the text box's view stands below its top row. Qt's editor scrolls
// by whole pixels and keeps the rest of each move, a fraction of a pixel,
// for the next one; a view whose top row is inside a paragraph starts at
// the foot of the row above as Qt measures it, which is up to a pixel
// above the row's own top. A long line cut into pieces starts a piece
// where Qt's editor has a row inside one paragraph, so the two views would
// stand a pixel apart, and where a page key or the scroll to the caret
// lands depends on that pixel. After every scroll the text box puts its
// view where Qt's editor, holding the line whole, would have put it.

#include "window/text_box_edit.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QtWidgets/private/qplaintextedit_p.h>

namespace rt {

namespace {

// Qt's editor keeps its view's top row and fraction in its private part.
QPlainTextEditPrivate* viewOf(QPlainTextEdit* edit) {
    return static_cast<QPlainTextEditPrivate*>(QObjectPrivate::get(edit));
}

// How far the top of row `line` of `block` lies below where a view whose
// top is that row starts: the top margin above the first row of the text,
// the rest of the row above past its text, else nothing.
qreal rowGap(const QTextBlock& block, int line, qreal margin) {
    if (line > 0) {
        const QTextLayout* layout = block.layout();
        return layout->lineAt(line).y() - layout->lineAt(line - 1).naturalTextRect().bottom();
    }
    return block.blockNumber() == 0 ? margin : 0;
}

} // namespace

// Called whenever Qt's editor asks for the view to be painted again, with
// the pixels it scrolled by; acts only where the top row changed.
void TextBoxEdit::followQtScroll(int dy) {
    QPlainTextEditPrivate* d = viewOf(this);
    const QTextBlock top = firstVisibleBlock();
    const int line = d->topLine;
    if (top.blockNumber() == viewTopBlock_ && line == viewTopLine_) {
        return;
    }
    const qreal margin = document()->documentMargin();
    const qreal boxGap = rowGap(top, line, margin);
    qreal qtGap = boxGap;
    if (line == 0 && continuesLine(top)) {
        const QTextBlock above = top.previous();
        const qreal height = blockBoundingRect(above).height(); // lays the block out
        const QTextLayout* layout = above.layout();
        if (layout->lineCount() > 0) {
            qtGap = height - layout->lineAt(layout->lineCount() - 1).naturalTextRect().bottom();
        }
    }
    qreal fracture = d->topLineFracture;
    if (dy != 0) {
        // The move Qt's editor makes to the same row, whose start it puts
        // qtGap - boxGap higher; a move of less than a pixel starts the
        // view at the row's start.
        const qreal qtMove = dy + fracture + (qtGap - boxGap);
        const int qtDy = static_cast<int>(qtMove);
        fracture = qtDy == 0 ? boxGap - qtGap : fracture + dy - qtDy;
    } else if (viewTopBlock_ >= document()->blockCount()) {
        // The top block went with an edit: the view starts at the row's
        // start.
        fracture = boxGap - qtGap;
    } else {
        // The same row under another block: the view stays where it was.
        fracture = viewPhase_ + boxGap;
    }
    if (fracture != d->topLineFracture) {
        d->topLineFracture = fracture;
        viewport()->update();
    }
    viewTopBlock_ = top.blockNumber();
    viewTopLine_ = line;
    viewPhase_ = fracture - boxGap;
}

TextBoxEdit::ViewStand TextBoxEdit::viewStand() {
    return {verticalScrollBar()->value(), viewOf(this)->topLineFracture, viewPhase_};
}

void TextBoxEdit::setViewStand(const ViewStand& stand) {
    QPlainTextEditPrivate* d = viewOf(this);
    verticalScrollBar()->setValue(stand.value);
    if (d->topLineFracture != stand.fracture || viewPhase_ != stand.phase) {
        d->topLineFracture = stand.fracture;
        viewPhase_ = stand.phase;
        viewport()->update();
    }
}

// Once a drop that split a line has gone in, Qt's editor lays the line's
// first part out again and sets its view anew from the same screen line
// number. Where the view's top row was one of the whole line's that the
// first part no longer has, Qt measures the move from that row as if from
// the line's top, and keeps the rest of that move, a fraction of a pixel,
// below its new top row. The box's view has that top row already; it takes
// the fraction Qt's editor ends with. `first` is the split line's first
// block; `gapBefore` is how far the old top row lay below the foot of the
// row above it.
void TextBoxEdit::standAsAfterSplit(const QTextBlock& first, qreal gapBefore) {
    const int value = verticalScrollBar()->value();
    const QTextBlock block = document()->findBlockByLineNumber(value);
    const int row = value - block.firstLineNumber();
    if (!block.isValid() || row < 0 || row >= block.layout()->lineCount()) {
        return;
    }
    const auto top = [this](const QTextBlock& b) {
        return blockBoundingGeometry(b).translated(contentOffset()).top();
    };
    // Where Qt's editor starts a view whose top is that row: the foot of
    // the row above it in the same paragraph, else the paragraph's top.
    qreal start = top(block);
    if (row > 0) {
        start += block.layout()->lineAt(row - 1).naturalTextRect().bottom();
    } else if (continuesLine(block)) {
        const QTextBlock above = block.previous();
        const QTextLayout* layout = above.layout();
        if (layout->lineCount() > 0) {
            start = top(above) + layout->lineAt(layout->lineCount() - 1).naturalTextRect().bottom();
        }
    }
    const qreal move = top(first) + viewPhase_ + gapBefore - start;
    const qreal rest = move - static_cast<int>(move);
    const qreal phase = start + rest - (top(block) + block.layout()->lineAt(row).y());
    setViewStand({value, phase + rowGap(block, row, document()->documentMargin()), phase});
}

bool TextBoxEdit::pagesFromLastRow() {
    return viewOf(this)->pageUpDownLastCursorYIsValid;
}

void TextBoxEdit::setPagesFromLastRow(bool kept) {
    viewOf(this)->pageUpDownLastCursorYIsValid = kept;
}

// Puts the caret in place with the view where it stands; Qt's editor sets
// its caret anew and scrolls to it.
void TextBoxEdit::setCaretKeepingView(const QTextCursor& caret) {
    const QTextCursor now = textCursor();
    if (caret.position() == now.position() && caret.anchor() == now.anchor() &&
        caret.verticalMovementX() == now.verticalMovementX()) {
        return;
    }
    const ViewStand stand = viewStand();
    setTextCursor(caret);
    if (verticalScrollBar()->value() != stand.value) {
        setViewStand(stand);
    }
}

// Lays out `from` and the few blocks before it where an edit took their
// rows, so that the scroll bar's line numbers count them again.
void TextBoxEdit::layOutCutAnew(QTextBlock from) {
    constexpr int kNear = 8;
    for (int n = 0; from.isValid() && n < kNear; from = from.previous(), ++n) {
        if (from.layout()->lineCount() == 0) {
            blockBoundingRect(from);
        }
    }
}

TextBoxEdit::TopRow TextBoxEdit::topRow() {
    const QPlainTextEditPrivate* d = viewOf(this);
    return {static_cast<const QPlainTextEditControl*>(d->control)->topBlock, d->topLine,
            document()->blockCount()};
}

// A caret at the end of a piece stands where Qt's editor wraps the line,
// which puts such a caret at the start of its next screen line and
// scrolls to that; the text box shows it at the end of the row before.
// The scroll is Qt's own to a caret (not centring), for that next row.
// `stood` and `top` are where the view stood before the key.
void TextBoxEdit::showCaretAtCutAsQt(const ViewStand& stood, const TopRow& top) {
    const QTextCursor caret = textCursor();
    const QTextBlock piece = caret.block();
    if (centerOnScroll() || caret.position() != piece.position() + piece.length() - 1 ||
        !continuesLine(piece.next())) {
        return;
    }
    const TopRow now = topRow();
    const QTextBlock before = document()->findBlockByNumber(top.block);
    if (now.block == piece.blockNumber() && now.line == piece.layout()->lineCount() - 1 &&
        (now.block != top.block || now.line != top.line) && before.isValid() &&
        top.line < std::max(1, before.layout()->lineCount())) {
        // The key scrolled up to the caret's own row. Qt's editor measures
        // the next row against the view as it stood before, whose top row
        // it keeps through the edit, and scrolls up to that row if it is
        // above the view, else not at all. (Where the key took pieces out
        // or put some in, their numbers are not those of Qt's rows, and the
        // text box keeps its own scroll unless the row is above the view.)
        qreal start = before.blockNumber() == 0 ? -document()->documentMargin() : 0;
        if (top.line > 0) {
            start = before.layout()->lineAt(top.line - 1).naturalTextRect().bottom();
        }
        const qreal viewTop = blockBoundingGeometry(before).top() + start + stood.fracture;
        const QTextBlock next = piece.next();
        const qreal nextTop =
            blockBoundingGeometry(next).top() + next.layout()->lineAt(0).naturalTextRect().top();
        if (nextTop < viewTop || top.blocks == document()->blockCount()) {
            // From the view before, for the fraction Qt's move leaves.
            setViewStand({before.firstLineNumber() + top.line, stood.fracture, stood.phase});
        }
        if (nextTop < viewTop) {
            verticalScrollBar()->setValue(next.firstLineNumber());
        }
        return;
    }
    QTextCursor next(document());
    next.setPosition(caret.position() + 1);
    const QRect shown = cursorRect(next);
    if (shown.top() >= 0 && shown.bottom() <= viewport()->rect().bottom()) {
        return;
    }
    QTextBlock block = next.block();
    const QRectF visible = QRectF(viewport()->rect()).translated(-contentOffset());
    const QRectF blockRect = blockBoundingGeometry(block); // lays the block out
    const QTextLine row = block.layout()->lineAt(0);
    if (!row.isValid()) {
        return;
    }
    const QRectF rowRect = row.naturalTextRect().translated(blockRect.topLeft());
    QScrollBar* bar = verticalScrollBar();
    if (rowRect.top() < visible.top()) {
        bar->setValue(block.firstLineNumber());
        return;
    }
    if (rowRect.bottom() < visible.bottom()) {
        return;
    }
    // The view's new top: the row a view's height above the caret's foot.
    qreal h = row.naturalTextRect().bottom();
    QTextBlock below = block;
    while (h < visible.height() && block.previous().isValid()) {
        below = block;
        block = block.previous();
        h += blockBoundingRect(block).height();
    }
    const qreal margin = block.blockNumber() == 0 ? document()->documentMargin() : 0;
    const QTextLayout* layout = block.layout();
    int line = 0;
    while (line < layout->lineCount() &&
           h + margin - layout->lineAt(line).naturalTextRect().top() > visible.height()) {
        ++line;
    }
    if (line >= layout->lineCount()) {
        block = below;
        line = 0;
    }
    bar->setValue(block.firstLineNumber() + line);
}

} // namespace rt
