// The text box's mouse and drag and drop: Qt's editor finds its places
// by the rows of whole lines, which the text box holds in pieces.

#include "window/text_box_edit.h"
#include "window/text_box_pieces.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

namespace rt {

using namespace pieces;

// The right button's menu is Qt's own, but its entries that edit go
// through their keys: Qt's entries edit through its control directly, past
// the handling of the keys that keeps the cuts in place and the undo steps
// as Qt's editor has them. Qt's Cut and Delete entries, unlike the keys,
// leave the view where it stands.
void TextBoxEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu((QPointF(event->pos()) - contentOffset()).toPoint());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    struct Entry {
        const char* name;
        QKeySequence::StandardKey key;
    };
    static constexpr std::array entries{
        Entry{"edit-undo", QKeySequence::Undo}, Entry{"edit-redo", QKeySequence::Redo},
        Entry{"edit-cut", QKeySequence::Cut}, Entry{"edit-paste", QKeySequence::Paste},
        Entry{"edit-delete", QKeySequence::Delete}};
    for (QAction* action : menu->actions()) {
        for (const Entry& entry : entries) {
            const QList<QKeySequence> bindings = QKeySequence::keyBindings(entry.key);
            if (action->objectName() != QLatin1String(entry.name) || bindings.isEmpty()) {
                continue;
            }
            const QKeyCombination keys = bindings.first()[0];
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            const bool keepView =
                entry.key == QKeySequence::Delete || entry.key == QKeySequence::Cut;
            connect(action, &QAction::triggered, this, [this, keys, keepView] {
                const ViewStand stood = viewStand();
                QKeyEvent press(QEvent::KeyPress, keys.key(), keys.keyboardModifiers());
                keyPressEvent(&press);
                if (keepView) {
                    setViewStand(stood);
                }
            });
        }
    }
    menu->popup(event->globalPos());
}

// The point at which the text box finds the place that Qt's editor finds
// at `point`.
QPointF TextBoxEdit::qtPoint(const QPointF& point) const {
    const int hit = cursorForPosition(point.toPoint()).position();
    const QTextBlock block = document()->findBlock(hit);
    const QTextLayout* layout = block.layout();
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    const QPointF origin = blockBoundingGeometry(block).translated(contentOffset()).topLeft();
    const QPointF at = point - origin;
    const QRectF row = last.naturalTextRect();
    if (!last.isValid() || at.y() < row.top() || at.y() >= row.bottom() ||
        block.position() + last.xToCursor(at.x()) != hit) {
        return point;
    }
    const int qt = besideCut(hit, at.x()) - block.position();
    if (qt == hit - block.position()) {
        return point;
    }
    // Where the box's own screen line finds that place.
    for (const qreal nudge : {0.0, -0.5, -1.0}) {
        const qreal x = last.cursorToX(qt) + nudge;
        if (last.xToCursor(x) == qt) {
            return origin + QPointF(x, at.y());
        }
    }
    return point;
}

namespace {

// Hands `event` to `handle`, or in its place `moved`, the same event at
// another point, and answers `event` as `moved` was answered.
template <class Event, class Handle> void handleAt(Event* event, Event* moved, Handle&& handle) {
    if (moved == nullptr) {
        handle(event);
        return;
    }
    handle(moved);
    event->setAccepted(moved->isAccepted());
    if constexpr (std::is_base_of_v<QDropEvent, Event>) {
        event->setDropAction(moved->dropAction());
    }
}

} // namespace

// The event at the point where the text box finds the place that Qt's
// editor finds at the event's point, or null where that is the same point.
std::unique_ptr<QMouseEvent> TextBoxEdit::atQtPoint(const QMouseEvent* event) const {
    const QPointF at = qtPoint(event->position());
    if (at == event->position()) {
        return nullptr;
    }
    const QPointF by = at - event->position();
    auto moved = std::make_unique<QMouseEvent>(
        event->type(), at, event->scenePosition() + by, event->globalPosition() + by,
        event->button(), event->buttons(), event->modifiers(), event->pointingDevice());
    moved->setTimestamp(event->timestamp());
    return moved;
}

void TextBoxEdit::mouseMoveEvent(QMouseEvent* event) {
    const auto moved = event->buttons() != Qt::NoButton ? atQtPoint(event) : nullptr;
    handleAt(event, moved.get(), [this](QMouseEvent* e) { QPlainTextEdit::mouseMoveEvent(e); });
}

void TextBoxEdit::mouseReleaseEvent(QMouseEvent* event) {
    const auto moved = atQtPoint(event);
    handleAt(event, moved.get(), [this](QMouseEvent* e) { QPlainTextEdit::mouseReleaseEvent(e); });
}

// A drag that comes in ends the rows a run of typing left: the user aims
// the drop at the rows Qt's editor shows.
void TextBoxEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!isReadOnly()) {
        tidy();
        alignVisibleCuts(true);
    }
    QPlainTextEdit::dragEnterEvent(event);
}

void TextBoxEdit::dragMoveEvent(QDragMoveEvent* event) {
    const QPointF at = qtPoint(event->position());
    std::unique_ptr<QDragMoveEvent> moved;
    if (at != event->position()) {
        moved = std::make_unique<QDragMoveEvent>(at.toPoint(), event->possibleActions(),
                                                 event->mimeData(), event->buttons(),
                                                 event->modifiers());
        moved->setDropAction(event->dropAction());
    }
    handleAt(event, moved.get(), [this](QDragMoveEvent* e) { QPlainTextEdit::dragMoveEvent(e); });
}

void TextBoxEdit::dropEvent(QDropEvent* event) {
    const QPointF at = qtPoint(event->position());
    std::unique_ptr<QDropEvent> moved;
    if (at != event->position()) {
        moved = std::make_unique<QDropEvent>(at, event->possibleActions(), event->mimeData(),
                                             event->buttons(), event->modifiers());
        moved->setDropAction(event->dropAction());
    }
    const int revision = document()->revision();
    std::optional<LineBeforeDrop> line = lineBeforeDrop(at, *event);
    // Qt's drop is an edit block, whatever it drops.
    dropping_ = true;
    handleAt(event, moved.get(), [this](QDropEvent* e) { QPlainTextEdit::dropEvent(e); });
    dropping_ = false;
    if (document()->revision() != revision) {
        // Qt's drop takes the place of the steps an Undo took back, unless
        // the text box dropped the text in a step of its own, noted as such.
        if (ownRevision_ != document()->revision()) {
            dropStepsFrom(document()->availableUndoSteps());
        }
        noteQtBlock(false);
        if (line) {
            // Qt's editor has the rows of the split line's first part where
            // it wraps; so do the pieces before the drop, in the drop's step.
            QTextCursor start(document());
            start.setPosition(line->start);
            QTextCursor dropAt(document());
            dropAt.setPosition(line->dropAt);
            if (line->breaks) {
                alignCutsInPasses(Pages::Above, dropAt);
            }
            line->start = start.position();
            line->dropAt = dropAt.position();
            scrollAsAfterDrop(*line);
            // Once laid out, Qt's editor brings the caret into view again.
            const int scrolledFrom = verticalScrollBar()->value();
            ensureCursorVisible();
            keepTopMargin(scrolledFrom);
        }
        // Qt's editor shows the rows of the whole line as the drop left it:
        // the cuts a page above the view's top row, and its own, go in place
        // in the drop's step; the view keeps its row number, as Qt's does.
        alignCutsInPasses(Pages::Above, QTextCursor(firstVisibleBlock()));
    }
}

// Qt's editor brings the caret of a drop into view inside the drop's edit
// block. Where a line break in the drop splits a line, Qt has not yet laid
// out again the part before the split and counts all the rows the whole
// line had before the drop above the caret; it may scroll for them. The
// box splits a piece, or cuts a line that the drop makes long, inside the
// same edit block, and counts other rows. It notes the line's rows before
// the drop (for a line quick to lay out) to scroll as Qt's editor does
// after it. Once the edit block ends, Qt lays the line out again and brings
// the caret into view once more, from above if the first scroll went past.
std::optional<TextBoxEdit::LineBeforeDrop> TextBoxEdit::lineBeforeDrop(const QPointF& at,
                                                                       const QDropEvent& event) {
    const QMimeData* mime = event.mimeData();
    if (event.source() != nullptr || mime == nullptr || !mime->hasText()) {
        return std::nullopt;
    }
    const int position = cursorForPosition(at.toPoint()).position();
    const QTextBlock first = lineStart(document()->findBlock(position));
    const QString text = mime->text();
    LineBeforeDrop line{viewStand(),
                        verticalScrollBar()->maximum(),
                        first.position(),
                        position,
                        std::any_of(text.cbegin(), text.cend(), isLineBreak),
                        {},
                        {},
                        {},
                        0};
    // Qt's editor counts the rows of the whole line, which the pieces off
    // screen may not show yet.
    QString whole;
    for (QTextBlock b = first; b.isValid() && (b == first || continuesLine(b)); b = b.next()) {
        whole += b.text();
        if (whole.size() > kExactRowsLength) {
            return std::nullopt;
        }
    }
    blockBoundingRect(first);
    const std::optional<RowShape> shape = rowShape(first);
    if (!shape) {
        return std::nullopt;
    }
    const std::unique_ptr<QTextLayout> rows = rowsOf(whole, *shape, *document());
    for (int i = 0; i < rows->lineCount(); ++i) {
        line.rowTops.push_back(rows->lineAt(i).y());
        line.rowBottoms.push_back(rows->lineAt(i).naturalTextRect().bottom());
        line.rowEnds.push_back(rows->lineAt(i).textStart() + rows->lineAt(i).textLength());
    }
    // The rows alone: the margin below the last block is not the line's.
    line.height = rows->boundingRect().height();
    return line;
}

void TextBoxEdit::scrollAsAfterDrop(const LineBeforeDrop& line) {
    QTextDocument* doc = document();
    const QTextBlock first = doc->findBlock(line.start);
    const QTextBlock splitEnd = doc->findBlock(line.dropAt);
    const QTextCursor caret = textCursor();
    const QTextBlock caretBlock = caret.block();
    const bool split = line.breaks && caretBlock.blockNumber() > splitEnd.blockNumber();
    if (first.position() != line.start || caretBlock.blockNumber() < first.blockNumber()) {
        return;
    }
    // From the view as it was before the drop.
    setViewStand(line.stand);
    const auto top = [this](const QTextBlock& b) {
        return blockBoundingGeometry(b).translated(contentOffset()).top();
    };
    qreal firstPart = 0;
    int firstPartRows = 0;
    for (QTextBlock b = first; split && b.isValid(); b = b.next()) {
        firstPart += blockBoundingRect(b).height();
        firstPartRows += b.layout()->lineCount();
        if (b == splitEnd) {
            break;
        }
    }
    // How much lower than the box Qt's editor takes what follows the split
    // line to be.
    const qreal extra = split ? line.height - firstPart : 0;
    const QTextLine caretRow =
        caretBlock.layout()->lineForTextPosition(caret.position() - caretBlock.position());
    // In a line the drop did not split, Qt's editor finds the caret among
    // the line's rows from before the drop, each ending where it ended then.
    int staleRow = -1;
    if (!split) {
        int at = 0;
        int length = 0;
        for (QTextBlock p = first; p.isValid() && (p == first || continuesLine(p)); p = p.next()) {
            if (p == caretBlock) {
                at = length + caret.position() - p.position();
            }
            length += p.length() - 1;
        }
        const auto after = std::upper_bound(line.rowEnds.cbegin(), line.rowEnds.cend(), at);
        staleRow =
            at == length && !line.rowEnds.empty()
                ? static_cast<int>(std::ssize(line.rowEnds)) - 1
                : (after == line.rowEnds.cend() ? -1
                                                : static_cast<int>(after - line.rowEnds.cbegin()));
    }
    // The line's top in the view, added up from the view's top block: a
    // block more than a window away has no place in the view's geometry.
    const auto topOf = [&](const QTextBlock& block) {
        QTextBlock from = firstVisibleBlock();
        if (block.blockNumber() >= from.blockNumber()) {
            return top(block);
        }
        qreal y = top(from);
        for (QTextBlock c = block; c.isValid() && c != from; c = c.next()) {
            y -= blockBoundingRect(c).height();
        }
        return y;
    };
    const qreal bottom = staleRow >= 0
                             ? topOf(first) + line.rowBottoms[staleRow]
                             : top(caretBlock) + caretRow.naturalTextRect().bottom() + extra;
    const qreal height = viewport()->height();
    if (bottom < height) {
        return;
    }
    // The first screen line from which the caret's shows whole, as Qt's
    // editor counts the rows; in the text's first line, whose pieces are
    // one block to Qt, the margin above it shows too.
    const auto room = [&](const QTextBlock& b) {
        return lineStart(b) == doc->firstBlock() ? height - doc->documentMargin() : height;
    };
    const bool wholeRowsCount = split || staleRow >= 0;
    QTextBlock b = firstVisibleBlock();
    if (wholeRowsCount && first.blockNumber() < b.blockNumber()) {
        b = first;
    }
    if (b.blockNumber() > caretBlock.blockNumber()) {
        return;
    }
    // How far above the caret's foot each block starts, as Qt's editor
    // adds the heights up from the caret; where a block lies more than a
    // window away, the view's own geometry has no place for it.
    qreal toCaret = staleRow >= 0 ? line.rowBottoms[staleRow] : caretRow.naturalTextRect().bottom();
    const QTextBlock below = staleRow >= 0 ? first : caretBlock;
    for (QTextBlock c = b; c.isValid() && c != below; c = c.next()) {
        if (split && c == first) {
            toCaret += line.height;
            c = splitEnd;
        } else {
            toCaret += blockBoundingRect(c).height();
        }
    }
    // Qt's editor numbers the screen lines with the split line's rows from
    // before the drop, and its scroll bar keeps the range it had then.
    // Once the line is laid out again, it sets its view anew from the same
    // number, which counts the rows it has then.
    const int lineTop = first.firstLineNumber();
    const int wholeRows = static_cast<int>(std::ssize(line.rowTops));
    const int staleRows = split ? wholeRows - firstPartRows : 0;
    const int maximum =
        split ? qtRangeAfterSplit(line, first, firstPartRows, splitEnd, caretBlock) : line.maximum;
    const auto scrollTo = [&](int qtRow) {
        qtRow = std::min(qtRow, maximum);
        if (qtRow < lineTop + wholeRows) {
            verticalScrollBar()->setValue(qtRow);
            const int i = qtRow - lineTop;
            if (split && i > firstPartRows) {
                standAsAfterSplit(first, line.rowTops[i] - line.rowBottoms[i - 1]);
            }
        } else {
            verticalScrollBar()->setValue(qtRow - staleRows);
        }
    };
    for (; b.isValid(); b = b.next()) {
        if (wholeRowsCount && b == first) {
            for (int i = 0; i < wholeRows; ++i) {
                if (toCaret - line.rowTops[i] <= room(first)) {
                    scrollTo(lineTop + i);
                    return;
                }
            }
            if (!split) {
                return;
            }
            toCaret -= line.height;
            b = splitEnd;
            continue;
        }
        const QTextLayout* layout = b.layout();
        const int qtTop =
            b.firstLineNumber() + (b.blockNumber() > splitEnd.blockNumber() ? staleRows : 0);
        for (int i = 0; i < layout->lineCount(); ++i) {
            if (toCaret - layout->lineAt(i).y() <= room(b)) {
                scrollTo(qtTop + i);
                return;
            }
        }
        if (b == caretBlock) {
            return;
        }
        toCaret -= blockBoundingRect(b).height();
    }
}

// Qt's scroll bar keeps the range it had before the drop while it brings
// the caret into view, unless a line the drop made lays out in other than
// one row on the way to the caret: Qt then counts the range again, with
// the split line's rows from before the drop.
int TextBoxEdit::qtRangeAfterSplit(const LineBeforeDrop& line, const QTextBlock& first,
                                   int firstPartRows, const QTextBlock& splitEnd,
                                   const QTextBlock& caretBlock) {
    bool counted = false;
    for (QTextBlock b = splitEnd.next(); b.isValid() && b.blockNumber() <= caretBlock.blockNumber();
         b = b.next()) {
        int rows = 0;
        for (;; b = b.next()) {
            blockBoundingRect(b); // lays the block out
            rows += b.layout()->lineCount();
            if (!continuesLine(b.next())) {
                break;
            }
        }
        if (rows != 1) {
            counted = true;
            break;
        }
    }
    if (!counted) {
        return line.maximum;
    }
    // As Qt counts the range: the screen lines less those of the last page.
    const QTextDocument* doc = document();
    const int wholeRows = static_cast<int>(std::ssize(line.rowTops));
    const qreal visible = viewport()->height() - doc->documentMargin() - 1;
    qreal y = 0;
    int fromBottom = 0;
    for (QTextBlock end = doc->lastBlock(); end.isValid();) {
        const QTextBlock start = lineStart(end);
        std::vector<qreal> tops;
        qreal height = 0;
        if (start == first) {
            tops = line.rowTops;
            height = line.height;
        } else {
            for (QTextBlock b = start;; b = b.next()) {
                const qreal blockHeight = blockBoundingRect(b).height();
                const QTextLayout* layout = b.layout();
                for (int i = 0; i < layout->lineCount(); ++i) {
                    tops.push_back(height + layout->lineAt(i).y());
                }
                height += blockHeight;
                if (b == end) {
                    break;
                }
            }
        }
        y += height;
        const int count = static_cast<int>(std::ssize(tops));
        if (y > visible) {
            int row = 0;
            while (row < count && tops[row] < y - visible) {
                ++row;
            }
            fromBottom += count - row;
            break;
        }
        fromBottom += count;
        end = start == first ? first.previous() : start.previous();
    }
    return std::max(0, doc->lineCount() - firstPartRows + wholeRows - fromBottom);
}

void TextBoxEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    if (const auto moved = atQtPoint(event)) {
        handleAt(event, moved.get(), [this](QMouseEvent* e) { mouseDoubleClickEvent(e); });
        return;
    }
    QPlainTextEdit::mouseDoubleClickEvent(event);
    // Qt's own editor takes a press near here, before its timer runs out,
    // for a triple click; so does the text box, by a timer of its own.
    if (event->button() == Qt::LeftButton) {
        tripleClickTimer_.start(QApplication::doubleClickInterval(), this);
        tripleClickPoint_ = event->position();
    }
    QTextCursor cursor = textCursor();
    if (event->button() == Qt::LeftButton && inPiece(cursor.block())) {
        // The word under the pointer in the whole line.
        const int at = cursorForPosition(event->position().toPoint()).position();
        const auto [anchor, position] = inWholeLine(
            document(), at, [](QTextCursor& c) { c.select(QTextCursor::WordUnderCursor); });
        if (anchor != cursor.anchor() || position != cursor.position()) {
            cursor.setPosition(anchor);
            cursor.setPosition(position, QTextCursor::KeepAnchor);
            setTextCursor(cursor);
        }
    }
}

void TextBoxEdit::mousePressEvent(QMouseEvent* event) {
    const int scrolledFrom = verticalScrollBar()->value();
    pressMouse(event);
    keepTopMargin(scrolledFrom);
}

void TextBoxEdit::pressMouse(QMouseEvent* event) {
    if (const auto moved = atQtPoint(event)) {
        handleAt(event, moved.get(), [this](QMouseEvent* e) { pressMouse(e); });
        return;
    }
    // Qt's own editor tells a triple click by its timer and point, which the
    // text box keeps too, and by what Qt did: a triple click selects the
    // block of the caret, from its start to the start of the next; no other
    // press leaves that selection where the caret was before it, except a
    // shifted press at the very place the selection now ends. Where the
    // double click already selected just that block, only the timer tells.
    const QTextCursor before = textCursor();
    const bool timed = tripleClickTimer_.isActive() && event->button() == Qt::LeftButton &&
                       event->modifiers() != Qt::ShiftModifier &&
                       (event->position() - tripleClickPoint_).toPoint().manhattanLength() <
                           QApplication::startDragDistance();
    tripleClickTimer_.stop();
    QPlainTextEdit::mousePressEvent(event);
    QTextCursor cursor = textCursor();
    const QTextBlock pressed = before.block();
    const int blockEnd = pressed.next().isValid() ? pressed.next().position()
                                                  : pressed.position() + pressed.length() - 1;
    const bool tripleClick =
        (timed && cursor.hasSelection()) ||
        (event->button() == Qt::LeftButton && cursor.hasSelection() &&
         (cursor.anchor() != before.anchor() || cursor.position() != before.position()) &&
         cursor.anchor() == pressed.position() && cursor.position() == blockEnd &&
         !(event->modifiers().testFlag(Qt::ShiftModifier) &&
           cursorForPosition(event->position().toPoint()).position() == cursor.position()));
    if (!tripleClick) {
        return;
    }
    // A triple click selects a line: all of it, not one piece. The view
    // then scrolls to the caret after the line by the rows above it, which
    // go where the whole line wraps first.
    QTextCursor lineEnd(document());
    lineEnd.setPosition(lastPiece(document()->findBlock(cursor.selectionEnd() - 1)).position());
    alignCutsInPasses(Pages::Above, lineEnd);
    const QTextBlock first = lineStart(document()->findBlock(cursor.selectionStart()));
    const QTextBlock last = lastPiece(first);
    const int end = std::min(last.position() + last.length(), document()->characterCount() - 1);
    if (first.position() != cursor.selectionStart() || end != cursor.selectionEnd()) {
        cursor.setPosition(first.position());
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        setTextCursor(cursor);
    }
}

void TextBoxEdit::timerEvent(QTimerEvent* event) {
    if (event->timerId() == tripleClickTimer_.timerId()) {
        tripleClickTimer_.stop();
        return;
    }
    QPlainTextEdit::timerEvent(event);
}

} // namespace rt
