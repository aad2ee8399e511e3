// How the caret goes up and down by rows and pages in the text box: as in
// Qt's editor, which has the rows of whole lines where the text box has
// pieces.

#include "window/text_box_edit.h"
#include "window/text_box_pieces.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <set>

namespace rt {

using namespace pieces;

namespace {

// The most rows a page key's replay of Qt's row moves goes through: more
// than any window holds.
constexpr int kMaxPageRows = 4096;

} // namespace

// Qt keeps the place on screen that Up and Down aim at in fractions of a
// pixel and gives it out cut to whole pixels, which at the very end of a
// screen line finds the line's end where Qt finds the character before it.
// The place whole: the one Qt takes afresh from the caret, or the one the
// last move up or down kept, which the caret still keeps if it stayed.
qreal TextBoxEdit::aimOf(const QTextCursor& caret) const {
    const int kept = caret.verticalMovementX();
    const QTextLine line = caret.block().layout()->lineForTextPosition(caret.positionInBlock());
    const qreal here = line.isValid() ? line.cursorToX(caret.positionInBlock()) : kept;
    if (kept >= 0 && aimAt_ == caret.position() && aimRevision_ == document()->revision() &&
        static_cast<int>(aimX_) == kept) {
        return aimX_;
    }
    return kept < 0 || static_cast<int>(here) == kept ? here : kept;
}

// Where Qt's Up (`up`) or Down from `from` lands aimed at the whole place,
// if it landed at `at` in the same screen line; else `at`.
int TextBoxEdit::aimedInNextRow(int from, int at, bool up) const {
    QTextBlock block = document()->findBlock(from);
    const QTextLine line = block.layout()->lineForTextPosition(from - block.position());
    if (!line.isValid()) {
        return at;
    }
    int row = line.lineNumber() + (up ? -1 : 1);
    if (row < 0 || row >= block.layout()->lineCount()) {
        block = up ? block.previous() : block.next();
        if (!block.isValid()) {
            return at;
        }
        document()->documentLayout()->blockBoundingRect(block);
        row = up ? block.layout()->lineCount() - 1 : 0;
    }
    const QTextLine target = block.layout()->lineAt(row);
    if (!target.isValid()) {
        return at;
    }
    const int start = block.position() + target.textStart();
    return at < start || at > start + target.textLength()
               ? at
               : block.position() + target.xToCursor(aimX_);
}

// Qt's editor puts a caret aimed right of where a wrapped screen line ends
// before the line's last character, by Up, Down or the pointer: it takes
// the character between two screen lines for a space. The last screen line
// of a piece ends no paragraph where the line goes on, yet Qt lays it out
// as one. Gives where Qt's editor puts a caret that the text box put at
// `position`, aimed at `x` as the block's layout counts.
int TextBoxEdit::besideCut(int position, qreal x) const {
    const QTextBlock block = document()->findBlock(position);
    const int end = block.length() - 1;
    if (position != block.position() + end) {
        return position;
    }
    const int qt = columnAtCut(block, x);
    return qt >= 0 && qt < end ? block.position() + qt : position;
}

// Where Qt's editor, in the whole line, finds `x` on the screen line that
// ends `block` at a cut; -1 where no cut ends the block.
int TextBoxEdit::columnAtCut(const QTextBlock& block, qreal x) const {
    const QTextDocument* doc = document();
    if (!continuesLine(block.next())) {
        return -1;
    }
    const QTextLayout* layout = block.layout();
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    if (!last.isValid() || last.textStart() >= block.length() - 1) {
        return -1;
    }
    return asInWholeLine(
        block, block.next(), doc->defaultFont(), doc->defaultTextOption(), viewport(),
        [x](const QTextLine& line, int start) { return start + line.xToCursor(x); });
}

// Qt's editor can find the very end of a wrapped screen line for a caret
// aimed at `x` (in a line that starts with a wide grapheme, say). That is
// the place where the next screen line starts, and the caret shows there.
// Gives the place, at the start of the next piece, where such a caret that
// the box put at `position`, the end of a piece, shows in Qt's editor; else
// `position`.
int TextBoxEdit::asQtShows(int position, qreal x) const {
    const QTextBlock block = document()->findBlock(position);
    const int end = block.length() - 1;
    return position == block.position() + end && columnAtCut(block, x) >= end ? position + 1
                                                                              : position;
}

// PageUp and PageDown move the caret a row at a time until it reaches the
// height the page goes to. Where a step finds the end of a screen line
// that wraps at a cut, Qt's caret is already on the next screen line; the
// box's is on the one before and goes a row further. Replays the rows that
// Qt's editor goes, between the same heights, from `from` where the box's
// move went to `to`, and gives where Qt's editor ends.
int TextBoxEdit::pageAsQt(int from, int to, QTextCursor::MoveOperation op, int x) const {
    const auto top = [this](int position) {
        QTextCursor at(document());
        at.setPosition(position);
        return cursorRect(at).top();
    };
    QTextCursor step(document());
    step.setPosition(from);
    bool wraps = false;
    for (int n = 0; step.position() != to && n < kMaxPageRows; ++n) {
        step.setVerticalMovementX(x);
        if (!step.movePosition(op)) {
            return to;
        }
        wraps = wraps || asQtShows(step.position(), x) != step.position();
    }
    if (!wraps || step.position() != to) {
        return to;
    }
    // Qt's editor goes on while a row is short of the height the box's
    // move stopped at. Its caret keeps the place it aims at to a fraction
    // of a pixel from row to row: cut to whole pixels, the end of a full
    // screen line would pass for the start of the next.
    const int stop = top(to);
    const bool up = op == QTextCursor::Up;
    int at = from;
    for (int n = 0; n < kMaxPageRows; ++n) {
        step.setPosition(asQtShows(at, aimX_));
        step.setVerticalMovementX(x);
        step.movePosition(op);
        const int next = step.position();
        const int shown = asQtShows(next, aimX_);
        if (samePlace(document(), next, at)) {
            return at;
        }
        at = next;
        if (up ? top(shown) <= stop : top(shown) >= stop) {
            return at;
        }
    }
    return to;
}

// PageDown goes down from the view's first block past each block that
// ends in view, then to the first row of the next block whose text's foot
// is below the view, or that block's last row. Where that block is a piece
// whose rows all end in view, Qt's editor, holding the line whole, goes on
// to the rows of the pieces after it. Gives how many rows further Qt's
// editor's view goes.
int TextBoxEdit::pageDownGoesFurther() const {
    const qreal bottom = -contentOffset().y() + viewport()->rect().height();
    QTextBlock block = firstVisibleBlock();
    qreal y = 0;
    for (qreal height = blockBoundingRect(block).height(); y + height <= bottom;
         height = blockBoundingRect(block).height()) {
        if (!block.next().isValid()) {
            return 0;
        }
        y += height;
        block = block.next();
    }
    // The first row of `b`, whose top is at `top`, whose text's foot is
    // below the view, or -1.
    const auto footBelow = [bottom](const QTextBlock& b, qreal top) {
        const QTextLayout* layout = b.layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            if (top + layout->lineAt(i).naturalTextRect().bottom() > bottom) {
                return i;
            }
        }
        return -1;
    };
    if (footBelow(block, y) >= 0 || !continuesLine(block.next())) {
        return 0;
    }
    const int box = block.firstLineNumber() + block.layout()->lineCount() - 1;
    int qt = box;
    for (QTextBlock next = block.next(); continuesLine(next); next = next.next()) {
        y += blockBoundingRect(next.previous()).height();
        const int row = footBelow(next, y);
        qt = next.firstLineNumber() + (row >= 0 ? row : next.layout()->lineCount() - 1);
        if (row >= 0) {
            break;
        }
    }
    const int most = verticalScrollBar()->maximum();
    return std::min(qt, most) - std::min(box, most);
}

// PageUp goes back from the view's first block to the one whose top is a
// page above the view's, then to its first row at that height or below;
// where the block has none, to the next block's first row, unless that is
// the view's first block, where it stays on the block's last row. The
// view's first block is a piece to the box and its whole line to Qt's
// editor: where the next block is that line's first piece, Qt's editor
// stays a row higher than the box goes.
bool TextBoxEdit::pageUpStopsAbove() const {
    const QTextBlock first = firstVisibleBlock();
    const QTextBlock line = lineStart(first);
    if (line == first) {
        return false;
    }
    const qreal top = -contentOffset().y() - viewport()->rect().height();
    QTextBlock block = first;
    qreal h = 0;
    while (h >= top && block.previous().isValid()) {
        block = block.previous();
        h -= blockBoundingRect(block).height();
    }
    const QTextLayout* layout = block.layout();
    for (int i = 0; i < layout->lineCount(); ++i) {
        if (layout->lineAt(i).naturalTextRect().top() >= top - h) {
            return false;
        }
    }
    return block.next() == line;
}

// A page key moves the caret row by row until it reaches the page's
// height. Within one grapheme wider than the window, a row key can find a
// place on a row it came from, and Qt's editor would then go round for
// ever. Gives the farthest place the rows reach before they come round,
// or -1 where they reach a page's height or the text's end first.
int TextBoxEdit::pageGoesRound(QTextCursor::MoveOperation op) const {
    QTextCursor step(document());
    step.setPosition(textCursor().position());
    step.setVerticalMovementX(textCursor().verticalMovementX());
    const int from = cursorRect(step).top();
    const int height = viewport()->height();
    std::set<int> seen{step.position()};
    int farthest = step.position();
    int reached = 0;
    for (int n = 0; n < kMaxPageRows; ++n) {
        if (!step.movePosition(op)) {
            return -1;
        }
        const int down =
            op == QTextCursor::Down ? cursorRect(step).top() - from : from - cursorRect(step).top();
        if (down > height) {
            return -1;
        }
        if (!seen.insert(step.position()).second) {
            return farthest;
        }
        if (down > reached) {
            reached = down;
            farthest = step.position();
        }
    }
    return -1;
}

} // namespace rt
