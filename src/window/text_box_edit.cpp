#include "window/text_box_edit.h"
#include "window/text_box_pieces.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextDocumentLayout>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QtGui/private/qtextdocument_p.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace rt {

using namespace pieces;

namespace {

// Set in the block format of a block that continues the line of the block
// before it, and in the character format of the break in front of it. The
// block format is a quick first test; the break decides, since a block
// that the user starts inside a continuation copies its block format but
// not the format of the break that the user typed.
constexpr int kContinuation = QTextFormat::UserProperty + 1;

// A fill that takes longer than this shows the busy cursor and lets the
// window repaint every kRepaintIntervalMs.
constexpr qint64 kBusyAfterMs = 300;
constexpr qint64 kRepaintIntervalMs = 40;
// How far edits may grow a block past the limit before it is cut. Qt keeps
// a run of typed characters one undo step; a cut would add a step of its
// own in the middle of the run.
constexpr int kGrowthLimit = 2;
// Characters of a line above which a cut is made where the line may wrap,
// not where the screen line starts: laying out more takes too long.
constexpr qsizetype kRowsLength = qsizetype(256) * 1024;
// Characters of short lines that a fill inserts at one go.
constexpr qsizetype kRunLength = qsizetype(64) * 1024;
// Characters of a text above which the fill first hands freed memory back.
constexpr qsizetype kTrimAbove = qsizetype(1024) * 1024;
// What the text box puts in and takes out again to end an undo step where
// it wants Redo's caret: a noncharacter, which no text holds in practice,
// so that it can tell these from text in Qt's store of characters.
constexpr QChar kStepMark{0xFDEF};
// The same where the step also ends a stretch of Qt's store: Qt's own
// commit of an input method puts the commit's text in the store first and
// its line breaks after it, so nothing typed later lies next to its text.
constexpr QChar kPartMark{0xFDEE};

const QTextBlockFormat& continuationBlockFormat() {
    static const QTextBlockFormat format = [] {
        QTextBlockFormat f;
        f.setProperty(kContinuation, true);
        return f;
    }();
    return format;
}

const QTextCharFormat& continuationBreakFormat() {
    static const QTextCharFormat format = [] {
        QTextCharFormat f;
        f.setProperty(kContinuation, true);
        return f;
    }();
    return format;
}

// Where to cut a long line near `target`: where the line may wrap if there
// is such a place shortly before, else between two graphemes, and never
// inside a surrogate pair. A cut where the line may wrap looks like an
// ordinary wrap on screen.
qsizetype cutNear(QStringView line, qsizetype target) {
    // Short test pieces look back a quarter of a piece at most, so that a
    // cut never falls on or before the one in front of it.
    const qsizetype kLookBack = std::min<qsizetype>(128, TextBoxEdit::pieceLength() / 4);
    constexpr qsizetype kContext = 32;
    const qsizetype from = std::max<qsizetype>(0, target - kLookBack - kContext);
    const qsizetype to = std::min(line.size(), target + kContext);
    const QStringView window = line.sliced(from, to - from);
    for (const auto type : {QTextBoundaryFinder::Line, QTextBoundaryFinder::Grapheme}) {
        QTextBoundaryFinder finder(type, window.data(), window.size());
        finder.setPosition(target - from);
        const qsizetype at =
            finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
        if (at >= 0 && from + at >= target - kLookBack) {
            return from + at;
        }
    }
    return line[target - 1].isHighSurrogate() && line[target].isLowSurrogate() ? target - 1
                                                                               : target;
}

// The places where a line is cut into pieces short enough for a block.
std::vector<qsizetype> cutsFor(QStringView line) {
    std::vector<qsizetype> cuts;
    qsizetype start = 0;
    while (line.size() - start > TextBoxEdit::maxBlockLength()) {
        start = cutNear(line, start + TextBoxEdit::pieceLength());
        cuts.push_back(start);
    }
    return cuts;
}

// The places where a line is cut that goes into a block whose screen lines
// have `shape`, the block's text up to the line being `prefix`: where
// the whole line's screen lines start, so that the pieces show the rows the
// whole line has, and where no screen line start will do (a line longer
// than two pieces may grow), as cutsFor() does. Places count from the
// start of `prefix`, none inside it. Empty without a shape, where the line
// is too long to lay out at one go, or where a place would fall into
// `prefix`.
std::vector<qsizetype> cutsAtRows(const std::optional<RowShape>& shape, const QTextDocument& doc,
                                  QStringView prefix, QStringView line) {
    const qsizetype size = prefix.size() + line.size();
    if (!shape || size > kRowsLength) {
        return {};
    }
    const QString text = prefix.toString() + line.toString();
    const qsizetype limit = qsizetype(kGrowthLimit) * TextBoxEdit::maxBlockLength();
    const std::unique_ptr<QTextLayout> laidOut = rowsOf(text, *shape, doc);
    const QTextLayout& rows = *laidOut;
    std::vector<qsizetype> cuts;
    qsizetype start = 0;
    while (size - start > TextBoxEdit::maxBlockLength()) {
        // The text already in the block stays whole.
        const qsizetype target = std::max(start + TextBoxEdit::pieceLength(), prefix.size() + 1);
        const QTextLine row = rows.lineForTextPosition(static_cast<int>(target));
        qsizetype at = row.textStart();
        if (at <= std::max(start, prefix.size())) {
            at = row.textStart() + row.textLength();
        }
        // The rest is one screen line, not too long for a piece.
        if (at >= size && size - start <= limit) {
            break;
        }
        if (at <= start || at >= size || at - start > limit) {
            at = cutNear(text, target);
        }
        if (at < prefix.size()) {
            return {};
        }
        cuts.push_back(at);
        start = at;
    }
    return cuts;
}

QString view(const QChar* data, qsizetype size) {
    // The document copies what it is given; no need to copy it first.
    return QString::fromRawData(data, size);
}

// Inserts a text at the cursor, lines that are too long in pieces, as one
// edit: the text box lays out no block before all are in. `pace` runs
// between steps and may end the edit for a moment. Given the shape of the
// screen lines, `rowsLike`, a line of a size quick to lay out is cut where
// its screen lines start.
template <class Pace>
void insertLines(QTextCursor& cursor, const QString& text, Pace&& pace,
                 const std::optional<RowShape>& rowsLike = std::nullopt) {
    const QTextCharFormat plain;
    const QChar* const data = text.constData();
    const qsizetype size = text.size();
    cursor.beginEditBlock();
    qsizetype runStart = 0;
    const auto insertRun = [&](qsizetype end) {
        // A break inserted as text copies the format of the block it is in,
        // which inside a piece would carry the piece's mark along.
        if (end > runStart && cursor.blockFormat().hasProperty(kContinuation)) {
            const qsizetype lineEnd = std::find_if(data + runStart, data + end, isLineBreak) - data;
            if (lineEnd < end) {
                cursor.insertText(view(data + runStart, lineEnd - runStart), plain);
                cursor.insertBlock(QTextBlockFormat(), plain);
                runStart =
                    lineEnd +
                    (data[lineEnd] == u'\r' && lineEnd + 1 < end && data[lineEnd + 1] == u'\n' ? 2
                                                                                               : 1);
            }
        }
        if (end > runStart) {
            // QTextCursor::insertText() stores a run's line breaks after its
            // text, and Qt joins typing to a paste only where the typed text
            // follows the pasted in that store: the last line goes in alone.
            const qsizetype last =
                std::find_if(std::make_reverse_iterator(data + end),
                             std::make_reverse_iterator(data + runStart), isLineBreak)
                    .base() -
                data;
            if (last > runStart && last < end) {
                cursor.insertText(view(data + runStart, last - runStart), plain);
                cursor.insertText(view(data + last, end - last), plain);
            } else {
                cursor.insertText(view(data + runStart, end - runStart), plain);
            }
            pace(cursor);
        }
        runStart = end;
    };
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype lineEnd = std::find_if(data + lineStart, data + size, isLineBreak) - data;
        qsizetype breakLength = 0;
        if (lineEnd < size) {
            breakLength =
                data[lineEnd] == u'\r' && lineEnd + 1 < size && data[lineEnd + 1] == u'\n' ? 2 : 1;
        }
        if (lineEnd - lineStart > TextBoxEdit::maxBlockLength()) {
            insertRun(lineStart);
            const QStringView line(data + lineStart, lineEnd - lineStart);
            // Qt joins the removals of a run of BackSpace or Delete into
            // one undo step only over characters stored one after another,
            // as a line's are in Qt's own editor, and the cuts move later:
            // a line goes in whole and is cut afterwards, also in a fill.
            // In an edit that Undo can take back, the last line of the text
            // is cut first and goes in after, piece by piece, since Qt joins
            // typing to a paste only if the paste ended by storing its text
            // last.
            const QString prefix =
                rowsLike ? cursor.block().text().left(cursor.positionInBlock()) : QString();
            std::vector<qsizetype> cuts = cutsAtRows(rowsLike, *cursor.document(), prefix, line);
            if (cuts.empty()) {
                cuts = cutsFor(line);
            } else {
                for (qsizetype& at : cuts) {
                    at -= prefix.size();
                }
            }
            const int start = cursor.position();
            if (breakLength > 0 || !cursor.document()->isUndoRedoEnabled()) {
                cursor.insertText(view(line.data(), line.size()), plain);
                QTextCursor cut(cursor.document());
                for (auto i = cuts.size(); i-- > 0;) {
                    cut.setPosition(start + static_cast<int>(cuts[i]));
                    cut.insertBlock(continuationBlockFormat(), continuationBreakFormat());
                }
                if (breakLength > 0) {
                    cursor.insertBlock(QTextBlockFormat(), plain);
                }
            } else {
                for (std::size_t i = 0; i < cuts.size(); ++i) {
                    cursor.insertBlock(continuationBlockFormat(), continuationBreakFormat());
                }
                // Text put in where `cursor` stands moves it along.
                QTextCursor piece(cursor.document());
                piece.setPosition(start);
                qsizetype from = 0;
                for (const qsizetype to : cuts) {
                    piece.insertText(view(line.data() + from, to - from), plain);
                    // Over the cut to the next piece; a move by blocks would
                    // lay the block out.
                    piece.setPosition(piece.position() + 1);
                    from = to;
                }
                cursor.insertText(view(line.data() + from, line.size() - from), plain);
            }
            runStart = lineEnd + breakLength;
            pace(cursor);
        } else if (lineEnd + breakLength - runStart >= kRunLength) {
            insertRun(lineEnd + breakLength);
        }
        if (breakLength == 0) {
            break;
        }
        lineStart = lineEnd + breakLength;
    }
    insertRun(size);
    cursor.endEditBlock();
}

// Brings the blocks around positions from..to into shape: a block longer
// than kMaxBlockLength is cut into pieces, and a continuation next to an
// empty block is joined to it, so that no empty line shows where the text
// has none. `change` runs before each change and may stop the walk by
// returning false; true if there was a change or one was due.
template <class Change> bool reshape(QTextDocument* doc, int from, int to, Change&& change) {
    bool changed = false;
    const int end = doc->characterCount() - 1;
    QTextBlock block = doc->findBlock(std::clamp(from, 0, end));
    if (block.previous().isValid()) {
        block = block.previous();
    }
    const QTextBlock after = doc->findBlock(std::clamp(to, 0, end)).next();
    // Follows the edits made here.
    QTextCursor stop(doc);
    stop.setPosition(after.isValid() ? after.position() : end);
    QTextCursor edit(doc);
    while (block.isValid() && block.position() <= stop.position()) {
        // A block that the user started inside a continuation copied its
        // block format; left there, it would make Qt treat the block as
        // formatted (Enter in it, empty, would only clear the format).
        if (block.blockFormat().hasProperty(kContinuation) && !continuesLine(block)) {
            if (!change()) {
                return true;
            }
            changed = true;
            QTextCursor(block).setBlockFormat(QTextBlockFormat());
        }
        // A removal from the start of a piece to another line keeps the cut
        // in front of it but takes the other line's block format.
        if (!block.blockFormat().hasProperty(kContinuation) &&
            block.charFormat().hasProperty(kContinuation) && block.previous().isValid()) {
            if (!change()) {
                return true;
            }
            changed = true;
            QTextCursor(block).setBlockFormat(continuationBlockFormat());
        }
        if (continuesLine(block) && (block.length() == 1 || block.previous().length() == 1)) {
            if (!change()) {
                return true;
            }
            changed = true;
            const int at = block.position() - 1;
            edit.setPosition(at);
            edit.setPosition(at + 1, QTextCursor::KeepAnchor);
            edit.removeSelectedText();
            block = doc->findBlock(at);
            continue;
        }
        if (block.length() - 1 > kGrowthLimit * TextBoxEdit::maxBlockLength()) {
            if (!change()) {
                return true;
            }
            changed = true;
            const int start = block.position();
            const QString text = block.text();
            // The block's own layout may be from before the edit that made
            // it long; its rows are laid out anew.
            std::vector<qsizetype> cuts = cutsAtRows(rowShape(block), *doc, {}, text);
            if (cuts.empty()) {
                cuts = cutsFor(text);
            }
            // From the last cut back, so that the earlier places stay put.
            for (auto i = cuts.size(); i-- > 0;) {
                edit.setPosition(start + static_cast<int>(cuts[i]));
                edit.insertBlock(continuationBlockFormat(), continuationBreakFormat());
            }
            block = doc->findBlock(start + static_cast<int>(text.size() + qsizetype(cuts.size())));
        }
        block = block.next();
    }
    return changed;
}

// Qt's Redo leaves the caret after the last change of its undo step, which
// after an edit that made or moved cuts would be a cut. A change that
// comes to nothing at `caret`, a mark put in and taken out again, ends
// the step so that Redo leaves the caret where the edit did.
void endStepAt(QTextDocument* doc, int caret, QChar kind = kStepMark) {
    QTextCursor mark(doc);
    mark.setPosition(caret);
    mark.insertText(QString(kind), QTextCharFormat());
    mark.setPosition(caret, QTextCursor::KeepAnchor);
    mark.removeSelectedText();
}

// Qt's drop puts its text in inside an edit block, which holds the layouts
// of the blocks it changes back until it ends: their rows are those from
// before the drop. Qt 6.4 brings the caret into view by them before the
// block ends, takes a caret past their rows and short of its block's end
// for one on a row, and crashes. A block with no rows Qt lays out afresh.
void layOutAfreshIfStale(const QTextCursor& caret) {
    QTextLayout* layout = caret.block().layout();
    if (layout->lineCount() > 0 &&
        !layout->lineForTextPosition(caret.positionInBlock()).isValid()) {
        layout->clearLayout();
    }
}

// The text of the document from position `from` on, given as Qt returns it
// (U+2029 between blocks), with the lines joined by `lineBreak` and the
// pieces of a long line joined by nothing.
QString joined(const QTextDocument& doc, const QString& raw, int from, QStringView lineBreak) {
    // Block formats that mark a continuation; most documents have none.
    const QList<QTextFormat> formats = doc.allFormats();
    std::vector<bool> marked(formats.size());
    bool anyMarked = false;
    for (qsizetype i = 0; i < formats.size(); ++i) {
        marked[i] = formats[i].isBlockFormat() && formats[i].hasProperty(kContinuation);
        anyMarked = anyMarked || marked[i];
    }
    std::vector<qsizetype> joins; // positions in `raw` of breaks that join pieces
    if (anyMarked) {
        const int to = from + static_cast<int>(raw.size());
        for (QTextBlock b = doc.findBlock(from).next(); b.isValid() && b.position() <= to;
             b = b.next()) {
            if (marked[b.blockFormatIndex()] && b.charFormat().hasProperty(kContinuation)) {
                joins.push_back(b.position() - 1 - from);
            }
        }
    }
    const qsizetype breaks =
        std::count(raw.cbegin(), raw.cend(), QChar(QChar::ParagraphSeparator)) -
        qsizetype(joins.size());
    QString out(raw.size() - qsizetype(joins.size()) + breaks * (lineBreak.size() - 1),
                Qt::Uninitialized);
    QChar* o = out.data();
    const QChar* const in = raw.constData();
    auto join = joins.cbegin();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (in[i] != QChar::ParagraphSeparator) {
            *o++ = in[i];
        } else if (join != joins.cend() && *join == i) {
            ++join;
        } else {
            o = std::copy(lineBreak.cbegin(), lineBreak.cend(), o);
        }
    }
    return out;
}

// Where a block that `next` continues may end so that it ends where the
// whole line wraps, counted from the start of the block: the start of the
// block's last screen line, and where the line wraps after that start. Qt
// wraps each block on its own, so a block that ends inside a screen line of
// the whole line shows a short line before the next piece.
std::pair<int, int> wrapsAround(const QTextBlock& block, const QTextBlock& next, const QFont& font,
                                const QTextOption& option, QPaintDevice* device) {
    return asInWholeLine(block, next, font, option, device, [](const QTextLine& line, int start) {
        return std::pair{start, start + line.textLength()};
    });
}

// Lets the window repaint under the busy cursor while a long fill runs.
// Only paint and window events get through: input and timers wait, and so
// does a click on a window's close box, so that no handler runs inside the
// one that fills the text box.
//
// A fill with the undo history on (a paste) keeps its edit open, so that it
// stays one undo step; the text box then shows its old picture until done.
class FillPace : public QObject {
public:
    explicit FillPace(bool keepEditOpen = false) : keepEditOpen_(keepEditOpen) { clock_.start(); }
    FillPace(const FillPace&) = delete;
    FillPace& operator=(const FillPace&) = delete;
    ~FillPace() override {
        if (!busy_) {
            return;
        }
        QCoreApplication::instance()->removeEventFilter(this);
        QGuiApplication::restoreOverrideCursor();
        for (const QPointer<QWidget>& window : closing_) {
            if (window) {
                QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
            }
        }
    }

    void operator()(QTextCursor& cursor) {
        const qint64 now = clock_.elapsed();
        if (now < kBusyAfterMs || now - lastRepaint_ < kRepaintIntervalMs) {
            return;
        }
        if (!busy_) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
            QCoreApplication::instance()->installEventFilter(this);
            busy_ = true;
        }
        lastRepaint_ = now;
        if (!keepEditOpen_) {
            cursor.endEditBlock();
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers |
                                        QEventLoop::X11ExcludeTimers);
        if (!keepEditOpen_) {
            cursor.beginEditBlock();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close || !watched->isWidgetType() ||
            !static_cast<QWidget*>(watched)->isWindow()) {
            return false;
        }
        closing_.append(static_cast<QWidget*>(watched));
        event->ignore();
        return true;
    }

private:
    QElapsedTimer clock_;
    qint64 lastRepaint_ = 0;
    bool busy_ = false;
    bool keepEditOpen_;
    QList<QPointer<QWidget>> closing_;
};

enum class Edit {
    None,
    DeleteBack,
    DeleteForward,
    DeleteWordBack,
    DeleteWordForward,
    DeleteToEnd,
    Break,
    Type
};

// The edits whose keys QWidgetTextControl handles itself, in its order.
Edit editFor(QKeyEvent* event) {
    if (event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier)) {
        return Edit::DeleteBack;
    }
    if (event->matches(QKeySequence::InsertParagraphSeparator)) {
        return Edit::Break;
    }
    if (event->matches(QKeySequence::Delete)) {
        return Edit::DeleteForward;
    }
    if (event->matches(QKeySequence::Backspace)) {
        return Edit::DeleteBack;
    }
    if (event->matches(QKeySequence::DeleteEndOfWord)) {
        return Edit::DeleteWordForward;
    }
    if (event->matches(QKeySequence::DeleteStartOfWord)) {
        return Edit::DeleteWordBack;
    }
    if (event->matches(QKeySequence::DeleteEndOfLine)) {
        return Edit::DeleteToEnd;
    }
    const QString text = event->text();
    const bool command =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!text.isEmpty() && !command && (text[0].isPrint() || text[0].isSurrogate())) {
        return Edit::Type;
    }
    return Edit::None;
}

bool isSideStep(QKeyEvent* event) {
    constexpr std::array keys{QKeySequence::MoveToNextChar, QKeySequence::MoveToPreviousChar,
                              QKeySequence::SelectNextChar, QKeySequence::SelectPreviousChar,
                              QKeySequence::MoveToNextWord, QKeySequence::MoveToPreviousWord,
                              QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord};
    return std::any_of(keys.begin(), keys.end(), [event](auto key) { return event->matches(key); });
}

// If the cursor stands where a long line is cut, joins the two pieces, so
// that an edit there acts on the text on both sides as on one line.
void joinAt(QTextCursor& cursor) {
    const QTextBlock block = cursor.block();
    int at = -1;
    if (cursor.position() == block.position() && continuesLine(block)) {
        at = block.position() - 1;
    } else if (cursor.atBlockEnd() && continuesLine(block.next())) {
        at = cursor.position();
    }
    if (at >= 0) {
        QTextCursor join(cursor.document());
        join.setPosition(at);
        join.setPosition(at + 1, QTextCursor::KeepAnchor);
        join.removeSelectedText();
    }
}

// True when an edit at the cursor may reach across the place where a long
// line is cut.
bool nearCut(const QTextCursor& cursor) {
    const QTextDocument* doc = cursor.document();
    const QTextBlock first = doc->findBlock(cursor.selectionStart());
    const QTextBlock last = doc->findBlock(cursor.selectionEnd());
    if (!cursor.hasSelection()) {
        return (cursor.position() == first.position() && continuesLine(first)) ||
               (cursor.atBlockEnd() && continuesLine(first.next()));
    }
    return continuesLine(first) || continuesLine(last) || continuesLine(last.next());
}

// Whether a piece begins inside a character that begins in the piece
// before it, as where a line of one long grapheme is cut: Qt, laying the
// piece out alone, takes the piece's first marks for characters of their
// own.
bool startsInsideGrapheme(const QTextBlock& block) {
    if (!continuesLine(block)) {
        return false;
    }
    constexpr int kContext = 8;
    const QString before = block.previous().text().right(kContext);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme,
                                  before + block.text().left(kContext));
    graphemes.setPosition(before.size());
    return !graphemes.isAtBoundary();
}

// Where a word move from the cursor ends, the line taken whole.
int wordTarget(const QTextCursor& cursor, QTextCursor::MoveOperation op) {
    return inWholeLine(cursor.document(), cursor.position(),
                       [op](QTextCursor& c) { c.movePosition(op); })
        .second;
}

bool isRemoval(int edit) {
    return edit == static_cast<int>(Edit::DeleteBack) ||
           edit == static_cast<int>(Edit::DeleteForward);
}

// Whether a BackSpace (`back`) or a Delete at the caret takes a line break,
// not a cut.
bool takesLineBreak(const QTextCursor& caret, bool back) {
    const QTextBlock block = caret.block();
    return back ? caret.atBlockStart() && block.previous().isValid() && !continuesLine(block)
                : caret.atBlockEnd() && block.next().isValid() && !continuesLine(block.next());
}

// What a BackSpace (`back`) or a Delete at the caret takes, from and to
// which position of the document: BackSpace one code point, past a cut the
// one before it and the cut with it; Delete a line break, or a grapheme of
// the whole line where it is cut. Empty where there is nothing to take.
std::pair<int, int> removalRange(const QTextCursor& caret, bool back) {
    const QTextDocument* doc = caret.document();
    const int at = caret.position();
    if (back) {
        const int end = caret.atBlockStart() && continuesLine(caret.block()) ? at - 1 : at;
        int from = end - 1;
        if (from < 0) {
            return {at, at};
        }
        if (from > 0 && doc->characterAt(from).isLowSurrogate() &&
            doc->characterAt(from - 1).isHighSurrogate()) {
            --from;
        }
        return {from, at};
    }
    if (takesLineBreak(caret, false)) {
        return {at, at + 1};
    }
    return {at, wordTarget(caret, QTextCursor::NextCharacter)};
}

} // namespace

// Whether the store holds nothing from `from` to `to` but what the text
// box put there of its own, step marks, cuts and typing it typed again:
// two stretches so parted lie one after the other in the store of Qt's own
// editor. With no text, the stretches are taken as they lie.
bool QtStore::parts(int from, int to) const {
    if (from == to) {
        return false;
    }
    if (from > to || to > text.size()) {
        return true;
    }
    for (int at = from; at < to; ++at) {
        if (text[at] != kStepMark && !std::binary_search(own.begin(), own.end(), at)) {
            return true;
        }
    }
    return false;
}

namespace {

// Where in the store the character at document position `at` lies, and
// its format.
std::pair<int, int> storedAt(const QTextDocumentPrivate* store, int at) {
    const auto fragment = store->find(at);
    return {static_cast<int>(fragment->stringPosition) + (at - fragment.position()),
            fragment->format};
}

// Where the text from `from` to `to` lies in the document's store, the
// cuts and the step marks left out; none (first -1) where it lies in more
// than one stretch or has more than one format. Qt gives no public view of
// its store, so this reads the document's fragments.
StoredText storedText(const QTextDocument* doc, int from, int to, const QtStore& qt) {
    const QTextDocumentPrivate* store = QTextDocumentPrivate::get(doc);
    StoredText stored;
    for (int at = from; at < to; ++at) {
        if (doc->characterAt(at) == QChar::ParagraphSeparator) {
            continue;
        }
        const auto [kept, format] = storedAt(store, at);
        if (stored.first < 0) {
            stored = {kept, kept + 1, format};
        } else if (!qt.parts(stored.end, kept) && format == stored.format) {
            stored.end = kept + 1;
        } else {
            return {};
        }
    }
    return stored;
}

// The stretch that a removal run that took `run` covers once it also takes
// `taken`, which lies before it in the text if `before`; none unless the
// two lie one after the other in `store`, as Qt joins only such removals.
StoredText joinStored(const StoredText& run, const StoredText& taken, bool before,
                      const QtStore& store) {
    if (run.first < 0 || taken.first < 0 || run.format != taken.format) {
        return {};
    }
    if (before && !store.parts(taken.end, run.first)) {
        return {taken.first, run.end, run.format};
    }
    if (!before && !store.parts(run.end, taken.first)) {
        return {run.first, taken.end, run.format};
    }
    return {};
}

// The stretch of a removal run that Qt joined `taken` to, on whichever
// side it lies.
StoredText joinedRun(const StoredText& run, const StoredText& taken, const QtStore& store) {
    const StoredText before = joinStored(run, taken, true, store);
    return before.first >= 0 ? before : joinStored(run, taken, false, store);
}

// Whether what a BackSpace (`back`) or a Delete at the caret takes lies
// next to `place`, where the removals of an undo step took their text
// (`run` in the store). Qt joins such removals into one step, wherever the
// caret went in between: it joins by where the text lay, in the document
// and in its store, not by where the caret is.
// `store` tells what parts two stretches: the store as it is for Qt's own
// removal, or as Qt's editor would hold it.
bool removalTouches(const QTextCursor& caret, bool back, int place, const StoredText& run,
                    const QtStore& store) {
    const auto [from, to] = removalRange(caret, back);
    const QTextDocument* doc = caret.document();
    if (from == to) {
        return false;
    }
    const bool before = samePlace(doc, to, place);
    if (!before && !samePlace(doc, from, place)) {
        return false;
    }
    return joinStored(run, storedText(doc, from, to, store), before, store).first >= 0;
}

// Whether `position` stands where a piece ends and the next goes on.
bool atCutEnd(const QTextDocument* doc, int position) {
    const QTextBlock block = doc->findBlock(position);
    return position == block.position() + block.length() - 1 && continuesLine(block.next());
}

// The position `chars` characters of the text before or after `position`,
// passing over the cuts on the way.
int textStep(const QTextDocument* doc, int position, int chars, bool back) {
    const int last = doc->characterCount() - 1;
    while (chars > 0 && position > 0 && position < last) {
        if (back) {
            const QTextBlock block = doc->findBlock(position);
            position -= position == block.position() && continuesLine(block) ? 1 : 0;
            --position;
        } else {
            position += atCutEnd(doc, position) ? 1 : 0;
            ++position;
        }
        --chars;
    }
    return position;
}

// Qt's Return over a selection whose caret end is in an empty line first
// sets the default formats on the selected lines and then on the selected
// text, two undo steps that change nothing in plain text but would take
// the marks off the cuts inside the selection. These are the same two
// steps, with the marks put back inside each.
//
// Undo gives the caret back where its step began, if a cursor began it
// elsewhere than at the step's first change, and else at the end of the
// first change: for the line formats, the end of the last line changed;
// for the text's, the end of the first stretch of text that went into the
// document together. Qt's steps begin at their first change. Here the
// text's first stretch ends at the first cut, where in Qt's editor the
// line goes on: the step begins at the end of the line instead.
void resetFormatsKeepingCuts(QTextCursor cursor) {
    QTextDocument* doc = cursor.document();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    std::vector<int> cuts; // where the pieces of the selected lines start
    const QTextBlock last = doc->findBlock(end);
    for (QTextBlock b = doc->findBlock(start); b.isValid(); b = b.next()) {
        if (continuesLine(b)) {
            cuts.push_back(b.position());
        }
        if (b == last) {
            break;
        }
    }
    QTextCursor mark(doc);
    const QTextBlock first = doc->findBlock(start);
    QTextCursor step(doc);
    step.setPosition(first.position());
    step.beginEditBlock();
    cursor.setBlockFormat(QTextBlockFormat());
    for (const int at : cuts) {
        mark.setPosition(at);
        mark.setBlockFormat(continuationBlockFormat());
    }
    step.endEditBlock();
    const QTextBlock firstLineEnd = lastPiece(first);
    // The caret end is in an empty line: a selection from another line
    // runs past the first line's end.
    step.setPosition(firstLineEnd == first ? start
                                           : firstLineEnd.position() + firstLineEnd.length() - 1);
    step.beginEditBlock();
    cursor.setCharFormat(QTextCharFormat());
    bool marked = false;
    for (const int at : cuts) {
        if (at - 1 >= start && at <= end) {
            mark.setPosition(at - 1);
            mark.setPosition(at, QTextCursor::KeepAnchor);
            mark.setCharFormat(continuationBreakFormat());
            marked = true;
        }
    }
    if (marked) {
        // Redo leaves the caret after the step's last change, which in Qt's
        // step is the selection's last character.
        const QTextBlock endBlock = doc->findBlock(end);
        mark.setPosition(end - 1);
        mark.setPosition(end, QTextCursor::KeepAnchor);
        mark.setCharFormat(endBlock.position() == end && continuesLine(endBlock)
                               ? continuationBreakFormat()
                               : QTextCharFormat());
    }
    step.endEditBlock();
}

int pieceLength_ = TextBoxEdit::kPieceLength;

} // namespace

bool continuesLine(const QTextBlock& block) {
    return block.isValid() && block.blockFormat().hasProperty(kContinuation) &&
           block.charFormat().hasProperty(kContinuation);
}

QTextBlock lineStart(QTextBlock block) {
    while (continuesLine(block)) {
        block = block.previous();
    }
    return block;
}

QTextBlock lastPiece(QTextBlock block) {
    while (continuesLine(block.next())) {
        block = block.next();
    }
    return block;
}

namespace {

// Whether the line from its first piece `first` is no longer than Qt lays
// out whole in a moment.
bool quickToLayOut(const QTextBlock& first) {
    int length = first.length();
    for (QTextBlock block = first.next(); continuesLine(block) && length <= kExactRowsLength;
         block = block.next()) {
        length += block.length();
    }
    return length <= kExactRowsLength;
}

} // namespace

bool mayHoldCuts(const QTextDocument& doc) {
    const QList<QTextFormat> formats = doc.allFormats();
    return std::any_of(formats.cbegin(), formats.cend(), [](const QTextFormat& f) {
        return f.isBlockFormat() && f.hasProperty(kContinuation);
    });
}

void TextBoxEdit::setPieceLength(int length) {
    pieceLength_ = std::max(length, 16);
}

int TextBoxEdit::pieceLength() {
    return pieceLength_;
}

int TextBoxEdit::textPosition(int documentPosition) const {
    int cuts = 0;
    for (QTextBlock b = document()->begin().next(); b.isValid() && b.position() <= documentPosition;
         b = b.next()) {
        cuts += continuesLine(b) ? 1 : 0;
    }
    return documentPosition - cuts;
}

int TextBoxEdit::documentPosition(int textPosition) const {
    int cuts = 0;
    for (QTextBlock b = document()->begin().next();
         b.isValid() && b.position() - 1 - cuts < textPosition; b = b.next()) {
        cuts += continuesLine(b) ? 1 : 0;
    }
    return textPosition + cuts;
}

TextBoxEdit::TextBoxEdit(QWidget* parent) : QPlainTextEdit(parent) {
    // Every document of the text box is its own, built alike.
    setDocument(newDocument());
    connect(this, &QPlainTextEdit::updateRequest, this,
            [this](const QRect&, int dy) { followQtScroll(dy); });
}

QTextDocument* TextBoxEdit::newDocument() {
    const QTextDocument* current = document();
    auto* doc = new QTextDocument(this);
    doc->setDefaultFont(font());
    doc->setDefaultTextOption(current->defaultTextOption());
    doc->setDocumentMargin(current->documentMargin());
    doc->setUseDesignMetrics(current->useDesignMetrics());
    auto* layout = new QPlainTextDocumentLayout(doc);
    if (const auto* currentLayout =
            qobject_cast<const QPlainTextDocumentLayout*>(current->documentLayout())) {
        layout->setCursorWidth(currentLayout->cursorWidth());
    }
    doc->setDocumentLayout(layout);
    // Qt's editor sets the scroll bar's range when the layout reports a new
    // size, which it does when a block's rows change or blocks come or go.
    // Moving a cut replaces two blocks by two others with other rows, which
    // it does not report: the range follows the rows as Qt's would.
    connect(layout, &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { linesInRange_ = document()->lineCount(); });
    connect(doc, &QTextDocument::contentsChanged, this, [this, layout] {
        if (shaping_ && document()->lineCount() != linesInRange_) {
            Q_EMIT layout->documentSizeChanged(layout->documentSize());
        }
    });
    connect(doc, &QTextDocument::contentsChange, this, &TextBoxEdit::tidyLater);
    connect(doc, &QTextDocument::contentsChange, this, &TextBoxEdit::noteCuts);
    connect(doc, &QTextDocument::undoCommandAdded, this, [this] {
        if (pasteUndone_ || document()->availableUndoSteps() != pasteSteps_) {
            pasteSteps_ = -1;
        }
        // A new step takes the place of the steps an Undo took back. A
        // drop's step ends after the text box noted it; see dropEvent().
        if (!dropping_) {
            dropStepsFrom(document()->availableUndoSteps());
        }
    });
    return doc;
}

// Notes where in the store the cuts that an edit put in lie.
void TextBoxEdit::noteCuts(int from, int /*removed*/, int added) {
    const QTextDocument* doc = document();
    const QTextDocumentPrivate* store = QTextDocumentPrivate::get(doc);
    if (!doc->isUndoRedoEnabled()) {
        // Without an undo history no step lies below the next.
        ownHistory_.clear();
        qtRunHistory_.clear();
        // The fill notes its cuts once it is done. Turning the history off
        // would pack Qt's store anew, were many letters taken out without
        // it; here only cuts move without it, which take out breaks alone.
        if (filling_) {
            return;
        }
    }
    for (QTextBlock b = doc->findBlock(from).next(); b.isValid() && b.position() <= from + added;
         b = b.next()) {
        if (continuesLine(b)) {
            noteOwnInStore(storedAt(store, b.position() - 1).first);
        }
    }
}

// Notes anew where the cuts from `from` on lie in the store.
void TextBoxEdit::noteCutsOf(const QTextBlock& from) {
    ownInStore_.clear();
    if (mayHoldCuts(*document())) {
        noteCuts(from.position(), 0, document()->characterCount() - from.position());
    }
}

void TextBoxEdit::noteOwnInStore(int kept) {
    const auto at = std::lower_bound(ownInStore_.begin(), ownInStore_.end(), kept);
    if (at == ownInStore_.end() || *at != kept) {
        ownInStore_.insert(at, kept);
    }
}

QtStore TextBoxEdit::qtStore() const {
    return {QTextDocumentPrivate::get(document())->buffer(), ownInStore_};
}

QString TextBoxEdit::text() const {
    return joined(*document(), document()->toRawText(), 0, u"\r\n");
}

void TextBoxEdit::setText(const QString& text) {
#ifdef __GLIBC__
    // A big text was just read and decoded, often on another thread; the
    // memory that freed stays in the C library's pools, where the document
    // about to be built may not reach it, unless it goes back to the system.
    if (text.size() > kTrimAbove) {
        malloc_trim(0);
    }
#endif
    QTextDocument* const old = document();
    QTextDocument* const doc = newDocument();
    // The new document goes in empty: Qt gives every block of a document
    // that a view takes over a layout object of its own, hundreds of bytes
    // each, where a document filled in place gets them only as they show.
    // Until it is full the old text stays on screen.
    const bool updates = updatesEnabled();
    if (updates) {
        setUpdatesEnabled(false);
    }
    tidyPending_ = false;
    ownEdit_ = -1;
    shaping_ = true;
    filling_ = true;
    setDocument(doc);
    doc->setUndoRedoEnabled(false);
    try {
        FillPace pace;
        QTextCursor cursor(doc);
        insertLines(cursor, text, pace);
        // Qt's own fill stores the text first and its line breaks after
        // it, so nothing typed at the end of a text of several lines lies
        // next to its last line in the store, where Qt joins removals over
        // both. Here the last line may come last: a mark put in and taken
        // out parts them. In a text of one line the cuts may follow it,
        // which are the text box's own.
        if (lineStart(doc->lastBlock()) != doc->firstBlock()) {
            endStepAt(doc, cursor.position(), kPartMark);
        }
    } catch (...) {
        setDocument(old);
        delete doc;
        shaping_ = false;
        filling_ = false;
        if (updates) {
            setUpdatesEnabled(true);
        }
        throw;
    }
    doc->setUndoRedoEnabled(true);
    filling_ = false;
    noteCutsOf(lineStart(doc->lastBlock()));
    shaping_ = false;
    // The caret starts at the start, as after QPlainTextEdit::setPlainText;
    // the fill moved it along.
    setTextCursor(QTextCursor(doc));
    if (updates) {
        setUpdatesEnabled(true);
    }
    delete old;
}

QMimeData* TextBoxEdit::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    auto* mime = new QMimeData;
    mime->setText(joined(*document(), cursor.selectedText(), cursor.selectionStart(), u"\n"));
    return mime;
}

void TextBoxEdit::insertFromMimeData(const QMimeData* source) {
    if (isReadOnly() || source == nullptr || !source->hasText()) {
        return;
    }
    tidy();
    const QString text = source->text();
    // Qt pastes nothing, not even over a selection, from an empty text.
    if (text.isEmpty()) {
        return;
    }
    alignVisibleCuts(true);
    QTextCursor cursor = textCursor();
    QTextDocument* doc = document();
    // Away from long lines, and making none, Qt's own paste does it, with
    // its own undo steps.
    qsizetype longest = 0;
    for (qsizetype start = 0; start <= text.size();) {
        const qsizetype end =
            std::find_if(text.cbegin() + start, text.cend(), isLineBreak) - text.cbegin();
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    const QTextBlock first = doc->findBlock(cursor.selectionStart());
    const QTextBlock last = doc->findBlock(cursor.selectionEnd());
    if (!inPiece(first) && !inPiece(last) &&
        first.length() + last.length() + longest <= maxBlockLength()) {
        // Qt inserts one line over no selection as a plain undo command,
        // which typing joins as it joins typing; anything else, and any
        // drop, as a block.
        const bool block = dropping_ || cursor.hasSelection() || longest < text.size();
        const QtRun was{static_cast<int>(Edit::Type),
                        doc->revision(),
                        cursor.position(),
                        doc->availableUndoSteps(),
                        {},
                        doc->characterCount(),
                        false};
        // Qt brings the caret into view before its drop's edit block ends;
        // the caret's block is laid out afresh where its rows from before
        // the drop will not reach the caret.
        if (dropping_ && !cursor.hasSelection() && longest == text.size()) {
            const QTextBlock into = cursor.block();
            QTextLayout* layout = into.layout();
            const int caret = cursor.position() - into.position() + static_cast<int>(text.size());
            if (layout->lineCount() > 0) {
                const QTextLine row = layout->lineAt(layout->lineCount() - 1);
                if (caret >= row.textStart() + row.textLength() &&
                    caret != into.length() - 1 + text.size()) {
                    layout->clearLayout();
                }
            }
        }
        QPlainTextEdit::insertFromMimeData(source);
        if (block) {
            notePasteEnd(text, textCursor());
        } else {
            noteQtRun(was, text);
        }
        return;
    }
    // A large text fills as Open's does: the window repaints under the busy
    // cursor, and input waits.
    const bool large = text.size() > kRunLength;
    const bool updates = updatesEnabled();
    if (large && updates) {
        setUpdatesEnabled(false);
    }
    // The rows of a block on screen tell how wide a screen line is; the
    // block itself may go with the selection. Cuts put in place just now
    // may have taken its layout.

    const std::optional<RowShape> rows = rowShape(cursor.block());
    shaping_ = true;
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    // Qt's paste at the very start of the document, of a text that does not
    // start with a line break, first sets the format of the first block, and
    // so Undo leaves the caret after the first line, not at the start; here
    // that line may be several blocks. Anywhere else Undo leaves the caret
    // where the text went in.
    if (cursor.position() == 0 && !isLineBreak(text.front())) {
        QTextBlock line = cursor.block();
        do {
            QTextCursor(line).setBlockFormat(line.blockFormat());
            line = line.next();
        } while (continuesLine(line));
    }
    const int from = cursor.position();
    if (large) {
        FillPace pace(true);
        insertLines(cursor, text, pace, rows);
    } else {
        insertLines(
            cursor, text, [](QTextCursor& /*unused*/) {}, rows);
    }
    const bool reshaped = reshape(doc, from, cursor.position(), [] { return true; });
    if (reshaped) {
        endStepAt(doc, cursor.position());
    }
    cursor.endEditBlock();
    shaping_ = false;
    // Qt joins text typed right after a paste that ends in text to the
    // paste's undo step; the end of the step above keeps that from Qt, so
    // the text box joins it as it joins its own typing.
    noteOwnStep(reshaped && !isLineBreak(text.back()) ? static_cast<int>(Edit::Type) : -1,
                cursor.position());
    if (large && updates) {
        setUpdatesEnabled(true);
    }
    // The cuts that the text moved off their rows go in place in its step,
    // which typing right after it still joins.
    notePasteEnd(text, cursor);
    if (dropping_) {
        layOutAfreshIfStale(cursor);
    } else {
        // Qt's editor scrolls to the caret by the rows of the whole line,
        // which it lays out afresh: the cuts a page above the caret go in
        // place before the view scrolls.
        alignCutsInPasses(Pages::Above, cursor);
    }
    // So do those after the caret where the line is quick to lay out, so
    // that the rows on screen are where Qt's editor wraps the line.
    alignCutsInPasses(Pages::After, cursor);
    setTextCursor(cursor);
    notePasteEnd(text, cursor);
}

// Qt joins typing right after a paste that ends in text to the paste's
// undo step, an edit block; the text box's key that joins such a run must
// join that block.
void TextBoxEdit::notePasteEnd(const QString& text, const QTextCursor& end) {
    pasteRevision_ = isLineBreak(text.back()) ? -1 : document()->revision();
    pasteEnd_ = end.position();
    pasteSteps_ = pasteRevision_ >= 0 ? document()->availableUndoSteps() : -1;
    pasteUndone_ = false;
    stepEnd_ = end;
    stepEnd_.clearSelection();
}

// A key's edit block of Qt's own. A paste by its key comes here too, after
// insertFromMimeData() noted it; the paste's end stays noted, for typing
// after it joins the paste's step.
void TextBoxEdit::noteQtBlock(bool endsInText) {
    if (endsInText) {
        pasteRevision_ = document()->revision();
        pasteEnd_ = textCursor().position();
        pasteSteps_ = document()->availableUndoSteps();
        pasteUndone_ = false;
    } else {
        blockRevision_ = document()->revision();
    }
    stepEnd_ = textCursor();
    stepEnd_.clearSelection();
}

void TextBoxEdit::noteOwnStep(int edit, int end) {
    QTextDocument* doc = document();
    ownEdit_ = edit;
    ownSteps_ = doc->availableUndoSteps();
    ownEnd_ = end;
    ownRevision_ = doc->revision();
    stepEnd_ = QTextCursor(doc);
    stepEnd_.setPosition(end);
    dropStepsFrom(ownSteps_);
    if (edit < 0 || !doc->isUndoRedoEnabled()) {
        return;
    }
    OwnStep step{ownSteps_, edit, end, ownFrom_, ownTo_, ownStored_};
    if (edit == static_cast<int>(Edit::Type)) {
        // Where the typed text ends in the store: its last character is
        // the one before the caret, or before the cut there.
        const int last = atCutEnd(doc, end - 1) ? end - 2 : end - 1;
        step.stored = {};
        if (last >= 0) {
            const auto [kept, format] = storedAt(QTextDocumentPrivate::get(doc), last);
            step.stored = {kept, kept + 1, format};
        }
    }
    ownHistory_.push_back(step);
}

void TextBoxEdit::dropStepsFrom(int steps) {
    while (!ownHistory_.empty() && ownHistory_.back().steps >= steps) {
        ownHistory_.pop_back();
    }
    while (!qtRunHistory_.empty() && qtRunHistory_.back().steps >= steps) {
        qtRunHistory_.pop_back();
    }
}

// Once an Undo brought Qt's run back to the top of the undo stack, the run
// is the last again.
void TextBoxEdit::restoreUndoneRun() {
    const QTextDocument* doc = document();
    if (!doc->isRedoAvailable()) {
        return;
    }
    const int steps = doc->availableUndoSteps();
    const auto run = std::find_if(qtRunHistory_.cbegin(), qtRunHistory_.cend(),
                                  [steps](const QtRun& r) { return r.steps == steps; });
    if (run != qtRunHistory_.cend()) {
        qtRun_ = *run;
        qtRun_.revision = doc->revision();
        stepEnd_ = QTextCursor(document());
        stepEnd_.setPosition(qtRun_.end);
    }
}

// The text box's own step that an Undo brought back to the top of the
// undo stack, or none.
const TextBoxEdit::OwnStep* TextBoxEdit::undoneToOwnStep() const {
    const QTextDocument* doc = document();
    if (!doc->isRedoAvailable() || ownHistory_.empty()) {
        return nullptr;
    }
    const int steps = doc->availableUndoSteps();
    const auto step = std::find_if(ownHistory_.cbegin(), ownHistory_.cend(),
                                   [steps](const OwnStep& s) { return s.steps == steps; });
    return step == ownHistory_.cend() ? nullptr : &*step;
}

namespace {

constexpr std::array kPageKeys{QKeySequence::MoveToPreviousPage, QKeySequence::MoveToNextPage,
                               QKeySequence::SelectPreviousPage, QKeySequence::SelectNextPage};

template <class Keys> bool matchesAny(const QKeyEvent* event, const Keys& keys) {
    return std::any_of(keys.begin(), keys.end(), [event](auto key) { return event->matches(key); });
}

// Qt's editor redoes on Ctrl+Y as well as on the platform's Redo key.
bool isRedo(const QKeyEvent* event) {
    return event->matches(QKeySequence::Redo) ||
           (event->key() == Qt::Key_Y && event->modifiers() == Qt::ControlModifier);
}

} // namespace

void TextBoxEdit::keyPressEvent(QKeyEvent* event) {
    const ViewStand stood = viewStand();
    const int revision = document()->revision();
    pressKey(event);
    const Edit edit = editFor(event);
    if (document()->revision() != revision &&
        (edit == Edit::Type || edit == Edit::DeleteBack || edit == Edit::DeleteForward ||
         event->matches(QKeySequence::Cut))) {
        alignAfterTyping(stood);
    }
    // Page keys scroll by pages, and to the caret only where it ends up
    // out of the view, whole pixels counted, as Qt's editor then does.
    const QRect caret = cursorRect();
    if (!matchesAny(event, kPageKeys) || caret.top() < 0 ||
        caret.bottom() > viewport()->rect().bottom()) {
        keepTopMargin(stood.value);
    }
}

// Qt's editor scrolls to the caret after a key or an input method's commit
// by the rows of the whole line as the edit left them. A run of typing,
// BackSpace or Delete, or of commits, leaves the cuts it passed where they
// were, and may so leave the caret in a row that Qt's editor has wrapped
// elsewhere. The cuts a page above the caret, by whose rows the view
// scrolls to it, go in place inside the run's undo step, which the next
// edit of the run still joins, and the view scrolls to the caret again
// from where the edit found it, as Qt's did.
void TextBoxEdit::alignAfterTyping(const ViewStand& stood) {
    if (!mayHoldCuts(*document())) {
        return;
    }
    // Where no cut moved, the edit's own scroll stands.
    const ViewStand scrolled = viewStand();
    // The pieces the edit cut anew have no rows yet, and the scroll bar's
    // value counts the old ones.
    layOutCutAnew(textCursor().block());
    setViewStand(stood);
    // The rows of the whole line count in the scroll bar's range, which
    // Qt's editor counts afresh after the edit: where the line is quick to
    // lay out, the cuts after the caret that the edit moved off their rows
    // go in place too.
    const int moved = alignCutsInPasses(Pages::Above, textCursor());
    if (moved + alignCutsInPasses(Pages::After, textCursor()) > 0) {
        ensureCursorVisible();
    } else {
        setViewStand(scrolled);
    }
}

// Typing or a deletion forward where a screen line wraps happens at the
// start of the next one in Qt's editor, whose caret shows there; in the
// next piece here, so that the row before neither grows a row of its own
// nor takes the caret, which would move the view.
void TextBoxEdit::leaveCutEnd() {
    if (!textCursor().hasSelection() && atCutEnd(document(), textCursor().position())) {
        QTextCursor caret = textCursor();
        caret.setPosition(caret.position() + 1);
        setCaretKeepingView(caret);
    }
}

void TextBoxEdit::pressKey(QKeyEvent* event) {
    tidy();
    restoreUndoneRun();
    // Cuts on screen that wait for the last undo step to end go into it
    // now: a key that starts another step leaves it for good, and Undo and
    // Redo would otherwise bring back a text whose cuts no step can move.
    // The cuts of the whole line the step edited go in place as well where
    // that is quick: Undo of the next step comes back to them, and no cut
    // moves after an Undo.
    if (!isReadOnly() && startsStep(event)) {
        alignVisibleCuts(true);
        alignCutsInPasses(Pages::Line, stepEnd_.isNull() ? textCursor() : stepEnd_);
    }
    // Text typed at the start of an empty block would take the format of
    // the break in front of it, and must not take a continuation's mark.
    // Over a selection Qt would set the format of the selected text, the
    // breaks of its cuts too, and so turn those cuts into line breaks.
    if (!textCursor().hasSelection() && textCursor().charFormat().hasProperty(kContinuation)) {
        setCurrentCharFormat(QTextCharFormat());
    }
    const Edit forward = editFor(event);
    if (!isReadOnly() && !overwriteMode() &&
        (forward == Edit::Type || forward == Edit::DeleteWordForward ||
         forward == Edit::DeleteToEnd)) {
        leaveCutEnd();
    }
    if (!isReadOnly() && editKeyPressed(event)) {
        return;
    }
    constexpr std::array verticalKeys{
        QKeySequence::MoveToPreviousLine, QKeySequence::MoveToNextLine,
        QKeySequence::MoveToPreviousPage, QKeySequence::MoveToNextPage,
        QKeySequence::SelectPreviousLine, QKeySequence::SelectNextLine,
        QKeySequence::SelectPreviousPage, QKeySequence::SelectNextPage};
    constexpr std::array lineEndKeys{QKeySequence::MoveToStartOfLine, QKeySequence::MoveToEndOfLine,
                                     QKeySequence::SelectStartOfLine,
                                     QKeySequence::SelectEndOfLine};
    // Keys that move the caret along the text and may scroll the view to
    // it: Qt's editor scrolls by its rows.
    constexpr std::array alongKeys{
        QKeySequence::MoveToNextChar,        QKeySequence::MoveToPreviousChar,
        QKeySequence::MoveToNextWord,        QKeySequence::MoveToPreviousWord,
        QKeySequence::SelectNextChar,        QKeySequence::SelectPreviousChar,
        QKeySequence::SelectNextWord,        QKeySequence::SelectPreviousWord,
        QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument};
    const bool vertical = matchesAny(event, verticalKeys);
    const bool lineEnd = matchesAny(event, lineEndKeys);
    const bool page = matchesAny(event, kPageKeys);
    // A move can leave the next cut off the rows it made; all go in place
    // before the key.
    // The view scrolls to the last page as far as the rows there let it.
    if (event->matches(QKeySequence::MoveToEndOfDocument) ||
        event->matches(QKeySequence::SelectEndOfDocument)) {
        alignCutsInPasses(Pages::Around);
    } else if (matchesAny(event, alongKeys)) {
        alignCutsInPasses(Pages::Visible);
    }
    // Keys that go by the rows on screen need the cuts where Qt's own
    // editor wraps the line.
    if (vertical || lineEnd) {
        alignCutsInPasses(page ? Pages::Around : Pages::Visible);
        QTextCursor caret = textCursor();
        // The place where a screen line wraps belongs to the next screen
        // line in Qt's editor; the end of a piece is that place.
        const bool atEnd = atCutEnd(document(), caret.position());
        if (xIsStale() || (atEnd && caretXIsFresh())) {
            // The caret keeps the place on screen it had when it got there,
            // in rows that have moved since, or on the row before; Qt takes
            // it afresh.
            caret.setVerticalMovementX(-1);
        }
        aimX_ = aimOf(caret);
        if (atEnd) {
            const int x = caret.verticalMovementX();
            caret.setPosition(caret.position() + 1, caret.hasSelection() ? QTextCursor::KeepAnchor
                                                                         : QTextCursor::MoveAnchor);
            caret.setVerticalMovementX(x);
            if (x < 0) {
                aimX_ = aimOf(caret);
            }
        }
        // The key's own move scrolls to the caret, as Qt's does.
        setCaretKeepingView(caret);
        staleAt_ = -1;
    }
    const int before = textCursor().position();
    if (wordMoved(event)) {
        return;
    }
    // A run of typing or of deletions that Qt does itself, which a key of
    // the text box's own may have to join to its step.
    const bool replacing = textCursor().hasSelection();
    Edit edit = isReadOnly() || overwriteMode() ? Edit::None : editFor(event);
    if (replacing && edit != Edit::Type) {
        edit = Edit::None;
    }
    const bool removal = !replacing && isRemoval(static_cast<int>(edit));
    const auto [takeFrom, takeTo] =
        removal ? removalRange(textCursor(), edit == Edit::DeleteBack) : std::pair{0, 0};
    const QtRun was{static_cast<int>(edit),
                    document()->revision(),
                    before,
                    document()->availableUndoSteps(),
                    {},
                    document()->characterCount(),
                    replacing,
                    removal && takesLineBreak(textCursor(), edit == Edit::DeleteBack),
                    storedText(document(), takeFrom, takeTo, qtStore())};
    const bool pageUp = event->matches(QKeySequence::MoveToPreviousPage) ||
                        event->matches(QKeySequence::SelectPreviousPage);
    const bool stopsAbove = pageUp && pageUpStopsAbove();
    const bool pageDown = event->matches(QKeySequence::MoveToNextPage) ||
                          event->matches(QKeySequence::SelectNextPage);
    const int further = pageDown ? pageDownGoesFurther() : 0;
    const int round = page ? pageGoesRound(pageUp ? QTextCursor::Up : QTextCursor::Down) : -1;
    const ViewStand stood = viewStand();
    const TopRow top = topRow();
    if (round < 0) {
        QPlainTextEdit::keyPressEvent(event);
    } else {
        // Where Qt's editor would never come back, the view goes a page as
        // its scroll bar's page step takes it, and the caret as far as the
        // rows went before they came round.
        verticalScrollBar()->triggerAction(pageUp ? QAbstractSlider::SliderPageStepSub
                                                  : QAbstractSlider::SliderPageStepAdd);
        QTextCursor caret = textCursor();
        const int x = caret.verticalMovementX();
        const bool select = event->matches(QKeySequence::SelectPreviousPage) ||
                            event->matches(QKeySequence::SelectNextPage);
        caret.setPosition(round, select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
        caret.setVerticalMovementX(x);
        setCaretKeepingView(caret);
    }
    // Qt's editor's view goes `rows` further down (up, where negative) than
    // the text box's went, and its caret with it.
    const auto goFurther = [this](int rows) {
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(bar->value() + rows);
        QTextCursor caret = textCursor();
        const int x = caret.verticalMovementX();
        caret.movePosition(rows > 0 ? QTextCursor::Down : QTextCursor::Up,
                           caret.hasSelection() ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor,
                           std::abs(rows));
        caret.setVerticalMovementX(x);
        setCaretKeepingView(caret);
    };
    if (further > 0 && round < 0) {
        goFurther(further);
    }
    if (stopsAbove) {
        // Qt's editor stops a row higher.
        goFurther(-1);
    }
    // Qt's own edit ends the text box's run of keys; one that changes
    // nothing, Delete at the end of the text, ends no run in Qt's editor.
    if (editFor(event) != Edit::None &&
        (document()->revision() != was.revision || document()->availableUndoSteps() != was.steps)) {
        ownEdit_ = -1;
    }
    if (vertical) {
        QTextCursor caret = textCursor();
        const int x = caret.verticalMovementX();
        int at = caret.position();
        if (page) {
            at = pageAsQt(before, at, pageUp ? QTextCursor::Up : QTextCursor::Down, x);
        } else {
            at = aimedInNextRow(before, at,
                                event->matches(QKeySequence::MoveToPreviousLine) ||
                                    event->matches(QKeySequence::SelectPreviousLine));
        }
        at = besideCut(at, aimX_);
        if (at != caret.position()) {
            caret.setPosition(at, caret.hasSelection() ? QTextCursor::KeepAnchor
                                                       : QTextCursor::MoveAnchor);
            caret.setVerticalMovementX(x);
            setTextCursor(caret);
        }
        aimAt_ = at;
        aimRevision_ = document()->revision();
    }
    if (lineEnd && (event->matches(QKeySequence::MoveToEndOfLine) ||
                    event->matches(QKeySequence::SelectEndOfLine))) {
        // Qt's editor ends a screen line that wraps after a space before
        // that space, unless it is a paragraph's last; a piece's last is not.
        // One that wraps elsewhere it ends where the next screen line
        // starts, and its caret shows there: at the next piece's start.
        QTextCursor caret = textCursor();
        const int at = caret.position();
        if (atCutEnd(document(), at) && at > caret.block().position()) {
            const int qt = document()->characterAt(at - 1).isSpace() ? at - 1 : at + 1;
            caret.setPosition(qt, caret.hasSelection() ? QTextCursor::KeepAnchor
                                                       : QTextCursor::MoveAnchor);
            setTextCursor(caret);
        }
    }
    const bool redo = isRedo(event);
    if (edit == Edit::Type || edit == Edit::DeleteBack || edit == Edit::DeleteForward) {
        noteQtRun(was, edit == Edit::Type ? event->text() : QString());
    } else if (redo && document()->revision() != was.revision) {
        noteRedoneTyping(was);
        showCaretAtCutAsQt(stood, top);
        const QTextCursor caret = textCursor();
        if (pasteSteps_ == document()->availableUndoSteps() && !caret.hasSelection() &&
            samePlace(document(), caret.position(), pasteEnd_)) {
            pasteRevision_ = document()->revision();
            pasteUndone_ = false;
            stepEnd_ = caret;
        }
    } else if (event->matches(QKeySequence::Undo)) {
        pasteUndone_ = pasteUndone_ || document()->availableUndoSteps() < pasteSteps_;
        showCaretAtCutAsQt(stood, top);
    } else if (document()->revision() != was.revision && !event->matches(QKeySequence::Undo) &&
               !redo) {
        // Every other edit of Qt's own is an edit block.
        noteQtBlock(false);
    }
    // Where a long line is cut, the one place in the text has two cursor
    // positions, the end of one piece and the start of the next; a step
    // from one to the other is no step in the text, so it goes on.
    const int after = textCursor().position();
    if (isSideStep(event) && std::abs(after - before) == 1) {
        const QTextBlock block = document()->findBlock(std::max(before, after));
        if (block.position() == std::max(before, after) && continuesLine(block)) {
            QPlainTextEdit::keyPressEvent(event);
        }
    }
}

bool TextBoxEdit::editKeyPressed(QKeyEvent* event) {
    const Edit edit = editFor(event);
    QTextCursor cursor = textCursor();
    const QTextBlock block = cursor.block();
    // Qt's own handling does it all where the edit does not reach a cut and
    // no block grows too long, and so it keeps Qt's own undo steps.
    QTextBlock joining; // the block that a deletion joins to this one
    if (!cursor.hasSelection() && edit == Edit::DeleteBack && cursor.atBlockStart()) {
        joining = block.previous();
    } else if (!cursor.hasSelection() && edit == Edit::DeleteForward && cursor.atBlockEnd()) {
        joining = block.next();
    }
    const bool inLongLine = inPiece(block);
    bool atCut = (cursor.hasSelection() && nearCut(cursor)) ||
                 (joining.isValid() && (continuesLine(block) || continuesLine(joining)));
    // Delete to the end takes the rest of the whole line, from the caret's
    // piece over the pieces after it, with a selection too.
    if (inLongLine &&
        ((edit == Edit::Break && !cursor.hasSelection()) || edit == Edit::DeleteToEnd)) {
        atCut = true;
    }
    if (edit == Edit::Break && cursor.hasSelection() && cursor.block().length() == 1 &&
        mayHoldCuts(*document())) {
        shaping_ = true;
        resetFormatsKeepingCuts(cursor);
        shaping_ = false;
        atCut = true;
    }
    if (!cursor.hasSelection() && inLongLine &&
        (edit == Edit::DeleteWordBack || edit == Edit::DeleteWordForward)) {
        const int target =
            wordTarget(cursor, edit == Edit::DeleteWordBack ? QTextCursor::PreviousWord
                                                            : QTextCursor::NextWord);
        if (target != cursor.position()) {
            cursor.setPosition(target, QTextCursor::KeepAnchor);
            atCut = true;
        }
    }
    // Delete takes a whole character, which in a line of one long character
    // may run on past the cut and over more pieces.
    if (!cursor.hasSelection() && inLongLine && edit == Edit::DeleteForward &&
        continuesLine(block.next())) {
        QTextCursor probe = cursor;
        probe.movePosition(QTextCursor::NextCharacter);
        if (!cursor.atBlockEnd() && probe.position() >= block.position() + block.length() - 1 &&
            wordTarget(cursor, QTextCursor::NextCharacter) > block.position() + block.length()) {
            atCut = true;
        }
    }
    const bool tooLong =
        (edit == Edit::Type &&
         block.length() + event->text().size() > qsizetype(kGrowthLimit) * maxBlockLength()) ||
        (joining.isValid() && block.length() + joining.length() > maxBlockLength());
    QTextDocument* doc = document();
    const bool single = !cursor.hasSelection() && (edit == Edit::Type || edit == Edit::DeleteBack ||
                                                   edit == Edit::DeleteForward);
    // A BackSpace or Delete that takes a line break is an undo step of its
    // own in Qt's editor; others join the removals they are next to.
    const bool back = edit == Edit::DeleteBack;
    const bool lineBreak =
        single && isRemoval(static_cast<int>(edit)) && takesLineBreak(cursor, back);
    const auto nextTo = [&](int place, const StoredText& run) {
        return single && isRemoval(static_cast<int>(edit)) && !lineBreak &&
               removalTouches(cursor, back, place, run, qtStore());
    };
    // Qt joins a character typed right after its like, or deleted next to
    // what the last removals took, to the same undo step; after one of
    // ours, so do we.
    bool inARow = single && ownSteps_ == doc->availableUndoSteps() && !doc->isRedoAvailable() &&
                  ((edit == Edit::Type && ownEdit_ == static_cast<int>(Edit::Type) &&
                    samePlace(doc, ownEnd_, cursor.position())) ||
                   (isRemoval(ownEdit_) && nextTo(ownEnd_, ownStored_)));
    // After an Undo, Qt joins a key to the command then on top of its undo
    // stack as it would have before: typing at the end of typing whose
    // store nothing followed but what the Undo took back, or a removal next
    // to removals.
    if (const OwnStep* undone = single && !inARow ? undoneToOwnStep() : nullptr) {
        const QtStore store = qtStore();
        inARow = (edit == Edit::Type && undone->edit == static_cast<int>(Edit::Type) &&
                  samePlace(doc, undone->end, cursor.position()) && undone->stored.end >= 0 &&
                  !store.parts(undone->stored.end, static_cast<int>(store.text.size()))) ||
                 (isRemoval(static_cast<int>(edit)) && isRemoval(undone->edit) &&
                  nextTo(undone->end, undone->stored));
        if (inARow) {
            ownEdit_ = undone->edit;
            ownSteps_ = undone->steps;
            ownEnd_ = undone->end;
            ownFrom_ = undone->from;
            ownTo_ = undone->to;
            ownStored_ = undone->stored;
        }
    }
    // Qt takes a character that the text box's cuts or marks part in the
    // store in two undo commands, where its editor has it in one stretch
    // and takes it in one.
    if (single && isRemoval(static_cast<int>(edit)) && !lineBreak) {
        const auto [from, to] = removalRange(cursor, back);
        atCut = atCut || (storedText(doc, from, to, QtStore()).first < 0 &&
                          storedText(doc, from, to, qtStore()).first >= 0);
    }
    // Qt's own removal would join its run only where nothing parts them
    // in the store; the marks of the text box's steps part stretches that
    // lie together in the store of Qt's editor.
    const bool markParts = single && !inARow && qtRunIsLast() && isRemoval(qtRun_.edit) &&
                           !qtRun_.lineBreak && nextTo(qtRun_.end, qtRun_.stored) &&
                           !removalTouches(cursor, back, qtRun_.end, qtRun_.stored, QtStore());
    // A key that moves the caret ends no run: Qt joins a key to the run
    // wherever the caret went in between, if it came back to the run's end.
    if (edit == Edit::None) {
        return false;
    }
    if (!atCut && !tooLong && !inARow && !markParts) {
        return false;
    }
    // Qt's removals and one next to them that the text box makes in a step
    // of its own (across a cut, or of a grapheme over pieces) are one undo
    // step in a text without cuts; so are Qt's run of typing and the key
    // that grows its block too long. Qt's run is a plain undo command,
    // which no edit block can join, so it is taken back and done again
    // inside this key's step.
    const bool absorb =
        markParts ||
        (single && !inARow &&
         (isRemoval(static_cast<int>(edit)) || (edit == Edit::Type && tooLong)) && qtRunIsLast() &&
         ((edit == Edit::Type && qtRun_.edit == static_cast<int>(Edit::Type) &&
           qtRun_.end == cursor.position()) ||
          (isRemoval(qtRun_.edit) && !qtRun_.lineBreak && nextTo(qtRun_.end, qtRun_.stored))));
    // Typing right after a paste or a commit that ended in text joins its
    // step, an edit block.
    const bool afterPaste = edit == Edit::Type && single && !inARow && !absorb &&
                            pasteRevision_ == doc->revision() &&
                            samePlace(doc, pasteEnd_, cursor.position()) && !doc->isRedoAvailable();
    // The edit, the joining and the cutting of pieces make one undo step,
    // as the edit alone would in a text without cuts.
    shaping_ = true;
    if (single && isRemoval(static_cast<int>(edit))) {
        removeInStep(cursor, back, inARow, absorb);
    } else if (absorb) {
        // The run is done again where it was; the key acts at the caret.
        const int at = cursor.position();
        redoQtRunInStep(cursor);
        cursor.setPosition(at);
    } else if (inARow || afterPaste) {
        cursor.joinPreviousEditBlock();
    } else {
        cursor.beginEditBlock();
    }
    qtRun_.edit = -1;
    if (edit != Edit::Type && !cursor.hasSelection()) {
        joinAt(cursor);
    }
    switch (edit) {
    case Edit::DeleteBack:
    case Edit::DeleteForward:
        // A single character was taken above; this takes a selection, or a
        // character that runs on over pieces.
        cursor.removeSelectedText();
        break;
    case Edit::DeleteWordBack:
    case Edit::DeleteWordForward:
        if (!cursor.hasSelection()) {
            cursor.movePosition(edit == Edit::DeleteWordBack ? QTextCursor::PreviousWord
                                                             : QTextCursor::NextWord,
                                QTextCursor::KeepAnchor);
        }
        cursor.removeSelectedText();
        break;
    case Edit::DeleteToEnd: {
        // To the end of the line, not just of its piece.
        const QTextBlock last = lastPiece(cursor.block());
        cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        break;
    }
    case Edit::Break:
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        break;
    case Edit::Type:
        if (overwriteMode() && !cursor.hasSelection() && !cursor.atBlockEnd()) {
            cursor.deleteChar();
        }
        cursor.insertText(event->text());
        break;
    case Edit::None:
        break;
    }
    if (reshape(doc, cursor.position(), cursor.position(), [] { return true; })) {
        endStepAt(doc, cursor.position());
    }
    cursor.endEditBlock();
    shaping_ = false;
    // Typing that replaced a selection ends in an insertion, which Qt's own
    // typing after it joins; so does the text box's.
    const bool runGoesOn = (single && !lineBreak) || edit == Edit::Type;
    noteOwnStep(runGoesOn ? static_cast<int>(edit) : -1, cursor.position());
    // Qt's editor scrolls to the caret by the rows of whole lines. The
    // edit may have left the cuts above the caret off them, which then go
    // in place, in the same step; a run of keys that may go on is left
    // alone, as its next key would not join the step.
    if (!runGoesOn) {
        alignCutsInPasses(Pages::Above, cursor);
    }
    setTextCursor(cursor);
    event->accept();
    return true;
}

bool TextBoxEdit::qtRunIsLast() const {
    const QTextDocument* doc = document();
    return qtRun_.edit >= 0 && qtRun_.revision == doc->revision() &&
           (!doc->isRedoAvailable() || qtRun_.steps == doc->availableUndoSteps());
}

// The edit that a key may join to Qt's run once the run is the text box's
// own step, or -1 for none.
int TextBoxEdit::qtRunGoesOnAs() const {
    if (qtRun_.lineBreak) {
        return -1;
    }
    return qtRun_.block ? static_cast<int>(Edit::Type) : qtRun_.edit;
}

// Whether a BackSpace (`back`) or a Delete at the caret would join the
// removals of the last undo step.
bool TextBoxEdit::removalJoins(bool back) const {
    int place = -1;
    StoredText run;
    if (qtRunIsLast() && isRemoval(qtRun_.edit) && !qtRun_.lineBreak) {
        place = qtRun_.end;
        run = qtRun_.stored;
    } else if (isRemoval(ownEdit_) && ownRevision_ == document()->revision()) {
        place = ownEnd_;
        run = ownStored_;
    } else {
        return false;
    }
    const QTextCursor caret = textCursor();
    return !caret.hasSelection() && !takesLineBreak(caret, back) &&
           removalTouches(caret, back, place, run, qtStore());
}

// Whether a key edits the text in an undo step of its own rather than
// joining the last one.
bool TextBoxEdit::startsStep(QKeyEvent* event) const {
    const Edit edit = editFor(event);
    if (edit == Edit::None) {
        return event->matches(QKeySequence::Undo) || isRedo(event) ||
               event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Paste);
    }
    const QTextCursor caret = textCursor();
    if (caret.hasSelection() || overwriteMode()) {
        return true;
    }
    const QTextDocument* doc = document();
    const int at = caret.position();
    const int type = static_cast<int>(Edit::Type);
    switch (edit) {
    case Edit::Type:
        return !(
            (qtRunIsLast() && qtRun_.edit == type && samePlace(doc, qtRun_.end, at)) ||
            (ownEdit_ == type && ownRevision_ == doc->revision() && samePlace(doc, ownEnd_, at)) ||
            (pasteRevision_ == doc->revision() && samePlace(doc, pasteEnd_, at)));
    case Edit::DeleteBack:
    case Edit::DeleteForward:
        return !removalJoins(edit == Edit::DeleteBack);
    default:
        return true;
    }
}

// Opens an edit block on `cursor` in which a BackSpace (`back`) or a
// Delete at the cursor takes its character, the cut beside it with it.
// Qt joins a removal next to the last removals, its own run or the text
// box's step (`joinRun`, `joinOwn`), into their undo command, which Undo
// gives back with the caret after the restored text: that step is taken
// back and the whole stretch taken again as one, Undo's caret at its end.
void TextBoxEdit::removeInStep(QTextCursor& cursor, bool back, bool joinOwn, bool joinRun) {
    QTextDocument* doc = document();
    auto [from, to] = removalRange(cursor, back);
    const StoredText taken = storedText(doc, from, to, qtStore());
    const StoredText run = joinOwn ? ownStored_ : qtRun_.stored;
    ownStored_ = taken;
    if (joinOwn || joinRun) {
        const int junction = joinOwn ? ownEnd_ : qtRun_.end;
        const int stepFrom = joinOwn ? ownFrom_ : qtRun_.end;
        const int stepTo = joinOwn ? ownTo_ : qtRun_.end + qtRun_.removed;
        const int chars = textLength(doc, from, to);
        const bool before = samePlace(doc, to, junction);
        ownStored_ = joinStored(run, taken, before, qtStore());
        doc->undo();
        from = before ? textStep(doc, stepFrom, chars, true) : stepFrom;
        to = before ? stepTo : textStep(doc, stepTo, chars, false);
    }
    cursor = QTextCursor(doc);
    cursor.setPosition(to);
    cursor.beginEditBlock();
    QTextCursor take(doc);
    take.setPosition(from);
    take.setPosition(to, QTextCursor::KeepAnchor);
    take.removeSelectedText();
    cursor.setPosition(from);
    ownFrom_ = from;
    ownTo_ = to;
}

// Opens an edit block on `cursor` that holds Qt's last run: takes the run
// back and does it again inside the block, unless it is a block already.
void TextBoxEdit::redoQtRunInStep(QTextCursor& cursor) {
    QTextDocument* doc = document();
    if (qtRun_.block) {
        // Typing over a selection: the run is an edit block already.
        cursor.joinPreviousEditBlock();
        return;
    }
    if (qtRun_.edit == static_cast<int>(Edit::Type)) {
        // The typing goes into the store again; Qt's editor has only the
        // first, which the copy stands for.
        const QTextDocumentPrivate* store = QTextDocumentPrivate::get(doc);
        for (int at = qtRun_.end - static_cast<int>(qtRun_.typed.size()); at < qtRun_.end; ++at) {
            noteOwnInStore(storedAt(store, at).first);
        }
    }
    doc->undo();
    cursor = QTextCursor(doc);
    if (qtRun_.edit == static_cast<int>(Edit::Type)) {
        cursor.setPosition(qtRun_.end - static_cast<int>(qtRun_.typed.size()));
        cursor.beginEditBlock();
        cursor.insertText(qtRun_.typed);
    } else {
        // Undo gives the caret back after the stretch, as after Qt's run.
        cursor.setPosition(qtRun_.end + qtRun_.removed);
        cursor.beginEditBlock();
        QTextCursor take(doc);
        take.setPosition(qtRun_.end);
        take.setPosition(qtRun_.end + qtRun_.removed, QTextCursor::KeepAnchor);
        take.removeSelectedText();
        ownFrom_ = qtRun_.end;
        ownTo_ = qtRun_.end + qtRun_.removed;
        ownStored_ = qtRun_.stored;
    }
}

// Redo of a step that put text in and nothing else, one undo command,
// leaves that command last, and Qt joins typing right after the text to
// it as to a run of typing: it is noted as Qt's run. `was` holds the
// document before the Redo (its `removed` the length of the document).
void TextBoxEdit::noteRedoneTyping(const QtRun& was) {
    const QTextDocument* doc = document();
    const int added = doc->characterCount() - was.removed;
    const int end = textCursor().position();
    qtRun_ = QtRun();
    if (doc->availableUndoSteps() != was.steps + 1 || added <= 0 || end < added ||
        textCursor().hasSelection()) {
        return;
    }
    QTextCursor typed(document());
    typed.setPosition(end - added);
    typed.setPosition(end, QTextCursor::KeepAnchor);
    const QString text = typed.selectedText();
    if (std::any_of(text.cbegin(), text.cend(), isLineBreak)) {
        return;
    }
    qtRun_ = QtRun{static_cast<int>(Edit::Type),
                   doc->revision(),
                   end,
                   doc->availableUndoSteps(),
                   text,
                   0,
                   false,
                   false};
}

// `was` holds the key's edit and the document before Qt did it (its
// `removed` the length of the document).
void TextBoxEdit::noteQtRun(const QtRun& was, const QString& typed) {
    const QTextDocument* doc = document();
    const int steps = doc->availableUndoSteps();
    if (doc->revision() == was.revision) {
        return;
    }
    // The run's record goes before the run grows, which then need not copy
    // what it typed.
    dropStepsFrom(steps);
    // Qt joins a key to its run's undo command, adding none; the run is an
    // undo step of its own if its first key added exactly one. Typing
    // right after a paste, for one, joins the paste's step instead.
    if (qtRun_.edit == was.edit && qtRun_.revision == was.revision && qtRun_.end == was.end &&
        qtRun_.steps == steps) {
        qtRun_.typed += typed;
        qtRun_.stored = joinedRun(qtRun_.stored, was.stored, qtStore());
    } else if (isRemoval(qtRun_.edit) && isRemoval(was.edit) && qtRun_.revision == was.revision &&
               qtRun_.steps == steps) {
        // A removal next to the run's, which Qt joined to it: the run
        // still takes one stretch of the text, starting at the caret.
        qtRun_.stored = joinedRun(qtRun_.stored, was.stored, qtStore());
    } else if (steps == was.steps + 1 || (was.block && steps > was.steps)) {
        // Qt counts two undo steps for a key typed over a selection, which
        // one Undo takes back together with the typing after it.
        qtRun_ = QtRun{was.edit, -1, -1, steps, typed, 0, was.block, was.lineBreak, was.stored};
    } else if (steps == was.steps && was.edit == static_cast<int>(Edit::Type)) {
        // Typing that Qt joined to the edit block on top of its undo stack,
        // a paste's or a commit's, right after it or after an Undo back to it.
        qtRun_ = QtRun{was.edit, -1, -1, steps, typed, 0, true};
    } else {
        qtRun_ = QtRun();
        return;
    }
    qtRun_.revision = doc->revision();
    qtRun_.end = textCursor().position();
    qtRun_.removed += was.removed - doc->characterCount();
    stepEnd_ = QTextCursor(document());
    stepEnd_.setPosition(qtRun_.end);
    qtRunHistory_.push_back(qtRun_);
}

template <class Open> bool TextBoxEdit::alignCut(const QTextBlock& block, Open&& open) {
    QTextDocument* doc = document();
    const QTextBlock next = block.next();
    if (lineWrapMode() == NoWrap || !continuesLine(next)) {
        return false;
    }
    doc->documentLayout()->blockBoundingRect(block); // lays the block out
    if (!block.layout()->preeditAreaText().isEmpty() ||
        !next.layout()->preeditAreaText().isEmpty()) {
        return false;
    }
    const int length = block.length() - 1;
    const auto [start, rowEnd] =
        wrapsAround(block, next, doc->defaultFont(), doc->defaultTextOption(), viewport());
    // Neither piece may grow past what an edit would cut again. The end
    // moves on to where the line wraps, or back to the start of the last
    // screen line if the block would grow long, or if the next would grow
    // too long.
    const int joinedLength = length + next.length() - 1;
    const int limit = kGrowthLimit * maxBlockLength();
    const auto fits = [&](int end) {
        return end > 0 && std::min(end, joinedLength) <= limit && joinedLength - end <= limit;
    };
    int wrap = rowEnd > maxBlockLength() && start > 0 ? start : rowEnd;
    if (!fits(wrap)) {
        wrap = wrap == start ? rowEnd : start;
    }
    if (wrap == length) {
        return false;
    }
    if (!fits(wrap)) {
        // The two pieces are too long together for the cut to move; a cut
        // where Qt wraps inside the block, at the end of the block's last
        // screen line or else at its start, lets the next move.
        const int at = rowEnd > 0 && rowEnd < length ? rowEnd : start;
        if (at <= 0 || at >= length) {
            return false;
        }
        open();
        QTextCursor split(doc);
        split.setPosition(block.position() + at);
        split.insertBlock(continuationBlockFormat(), continuationBreakFormat());
        split.endEditBlock();
        return true;
    }
    open();
    QTextCursor edit(doc);
    const int at = block.position() + length;
    edit.setPosition(at);
    edit.setPosition(at + 1, QTextCursor::KeepAnchor);
    edit.removeSelectedText();
    if (wrap < length + next.length() - 1) {
        edit.setPosition(block.position() + wrap);
        edit.insertBlock(continuationBlockFormat(), continuationBreakFormat());
    }
    edit.endEditBlock();
    return true;
}

void TextBoxEdit::paintEvent(QPaintEvent* event) {
    alignVisibleCuts(false);
    QPlainTextEdit::paintEvent(event);
}

// Moves each cut on screen to where the whole line wraps, so that the line
// shows as one wrapped paragraph, as in Qt's own editor.
//
// Moving a cut is an edit. Without an editing history it goes in unseen;
// with one, it joins the last undo step, so that Undo takes the step and
// the move back together and leaves the cuts where they were before the
// step, in place for the text then. It can do so only when that step is
// one whose end the text box knows and no step waits to be redone. A step
// that the next key may still join, typing with the caret at its end, is
// left alone until the caret leaves (`leaving`, or the caret elsewhere):
// the move would end Qt's own run of keys, whose rules for joining them
// only Qt knows.
int TextBoxEdit::alignVisibleCuts(bool leaving, Pages pages, int at) {
    QTextDocument* doc = document();
    const bool history = doc->isUndoAvailable() || doc->isRedoAvailable();
    // Before the first edit a cut moves freely; once Undo has a step to
    // take back, none moves until the caret leaves or the step can take it
    // along, and after an Undo none moves at all. Before the first key,
    // click or drop that may edit, the cuts a page above and below and on
    // the last page, where page keys go, go in place while they may.
    const bool beforeFirstEdit = !history && leaving;
    const bool around = pages == Pages::Around || beforeFirstEdit;
    // A paint moves a few cuts at a time and asks for another.
    const int most = beforeFirstEdit ? 64 : 8;
    if (history && !canJoinLastStep()) {
        return 0;
    }
    if (history && !leaving && !textCursor().hasSelection() &&
        ((samePlace(doc, textCursor().position(), stepEnd_.position()) &&
          (qtRunIsLast() || pasteRevision_ == doc->revision() || ownEdit_ >= 0)) ||
         removalJoins(true) || removalJoins(false))) {
        return 0;
    }
    QTextCursor step(doc);
    bool joined = false;
    const auto open = [&] {
        if (!history) {
            doc->setUndoRedoEnabled(false);
            step.joinPreviousEditBlock();
        } else if (!joined) {
            joinLastStep(step);
            joined = true;
        } else {
            step.joinPreviousEditBlock();
        }
    };
    const bool freshX = caretXIsFresh();
    // A cut that moves before the caret changes its position, not where
    // it stands in the text, so Qt's editor would still page from the row
    // the caret stood in at the last page key.
    const bool lastPageRow = pagesFromLastRow();
    int moves = 0;
    // Puts the cut after `block` in place; true if it moved.
    const auto alignOne = [&](const QTextBlock& block) {
        if (!alignCut(block, open)) {
            return false;
        }
        ++moves;
        if (!history) {
            doc->setUndoRedoEnabled(true);
        }
        return true;
    };
    // Aligns the cuts of the blocks from `block`, whose top is at `top`,
    // down to `bottom`.
    const auto alignDown = [&](QTextBlock block, qreal top, qreal bottom) {
        while (block.isValid() && top <= bottom && moves < most) {
            if (!alignOne(block)) {
                top += blockBoundingRect(block).height();
                block = block.next();
            }
        }
    };
    // The first block of the `height` above `block`, and its top. A piece's
    // rows start where the whole line's do only below a cut in place, so in
    // a line quick to lay out the cuts go in place from its first piece on.
    const auto above = [this](QTextBlock block, qreal height) {
        qreal top = 0;
        while (block.previous().isValid() && top > -height) {
            block = block.previous();
            top -= blockBoundingRect(block).height();
        }
        QTextBlock first = block;
        int length = 0;
        while (continuesLine(first) && length <= kExactRowsLength) {
            first = first.previous();
            length += first.length();
        }
        if (continuesLine(first)) {
            return std::pair{block, top};
        }
        for (QTextBlock b = first; b != block; b = b.next()) {
            top -= blockBoundingRect(b).height();
        }
        return std::pair{first, top};
    };
    const qreal height = viewport()->height();
    shaping_ = true;
    if (around) {
        // A page key goes a page up or down, no further than the view can
        // scroll, which the rows of the last page decide.
        const auto [first, top] = above(firstVisibleBlock(), height);
        alignDown(first, contentOffset().y() + top, 2 * height);
        const auto [last, lastTop] = above(doc->lastBlock(), height);
        alignDown(last, lastTop, height);
    } else if (pages == Pages::Visible) {
        alignDown(firstVisibleBlock(), contentOffset().y(), height);
    }
    if (pages == Pages::Above) {
        const auto [first, top] = above(doc->findBlock(at), height);
        alignDown(first, top, 0);
    }
    if (pages == Pages::Line) {
        const QTextBlock first = lineStart(doc->findBlock(at));
        if (quickToLayOut(first)) {
            for (QTextBlock block = first; continuesLine(block.next()) && moves < most;) {
                if (!alignOne(block)) {
                    block = block.next();
                }
            }
        }
    }
    if (pages == Pages::After) {
        // Only the rows from the edited block on changed: once a cut stays
        // where it was, the pieces after it start, and so wrap, as before.
        // The edit may have cut its block again, into a few pieces whose
        // cuts are checked in any case. The walk goes on to its end in one
        // pass, for the next pass starts again at the edited block.
        // A cut goes in place in a move or two; the bound keeps a cut that
        // would not settle from holding the key up.
        constexpr int kRecut = 3;
        constexpr int kMovesPerCut = 4;
        QTextBlock block = doc->findBlock(at);
        if (quickToLayOut(lineStart(block))) {
            for (int checked = 1; continuesLine(block.next()); ++checked) {
                bool moved = false;
                for (int again = 0; again < kMovesPerCut && alignOne(block); ++again) {
                    moved = true;
                }
                if (!moved && checked >= kRecut) {
                    break;
                }
                block = block.next();
            }
        }
    }
    if (joined) {
        // Redo of the step leaves the caret where the step's own edit did.
        step.joinPreviousEditBlock();
        endStepAt(doc, stepEnd_.position());
        step.endEditBlock();
        // The step is the text box's own now, whatever made it.
        noteOwnStep(ownEdit_, stepEnd_.position());
    }
    if (moves > 0 && freshX) {
        markXStale();
    }
    setPagesFromLastRow(lastPageRow);
    shaping_ = false;
    return moves;
}

// Puts the cuts of `pages` (for Above, a page above `at`) where the lines
// wrap, pass after pass while any moves: a pass moves only a few. Returns
// the number of cuts it moved.
int TextBoxEdit::alignCutsInPasses(Pages pages, const QTextCursor& at) {
    constexpr int kMaxPasses = 8;
    int moves = 0;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        const int moved = alignVisibleCuts(true, pages, at.position());
        if (moved == 0) {
            break;
        }
        moves += moved;
    }
    return moves;
}

// Notes that the caret's place on screen, which Up and Down keep, comes
// from rows that have moved since. Anything that moves the caret or takes
// its place afresh ends that, a key like Shift alone does not.
void TextBoxEdit::markXStale() {
    staleAt_ = textCursor().position();
    staleX_ = textCursor().verticalMovementX();
}

bool TextBoxEdit::xIsStale() const {
    return staleAt_ == textCursor().position() && staleX_ == textCursor().verticalMovementX();
}

// Whether the caret's place on screen, which Up and Down keep, was taken
// from the rows as they are now rather than kept from a move up or down.
bool TextBoxEdit::caretXIsFresh() const {
    const QTextCursor caret = textCursor();
    const QTextBlock block = caret.block();
    const QTextLine line = block.layout()->lineForTextPosition(caret.position() - block.position());
    return caret.verticalMovementX() == -1 ||
           (line.isValid() &&
            caret.verticalMovementX() ==
                static_cast<int>(line.cursorToX(caret.position() - block.position())));
}

bool TextBoxEdit::canJoinLastStep() const {
    const QTextDocument* doc = document();
    if (doc->isRedoAvailable() || !doc->isUndoAvailable() || stepEnd_.isNull()) {
        return false;
    }
    return qtRunIsLast() || ownRevision_ == doc->revision() || pasteRevision_ == doc->revision() ||
           blockRevision_ == doc->revision();
}

// Opens an edit block on `cursor` that joins the last undo step.
void TextBoxEdit::joinLastStep(QTextCursor& cursor) {
    if (qtRunIsLast()) {
        // Taking the run back and doing it again moves the caret, which
        // may have left the run: it goes back where it was.
        const int anchor = textCursor().anchor();
        const int position = textCursor().position();
        const int x = textCursor().verticalMovementX();
        redoQtRunInStep(cursor);
        QTextCursor back(document());
        back.setPosition(anchor);
        back.setPosition(position, QTextCursor::KeepAnchor);
        back.setVerticalMovementX(x);
        setCaretKeepingView(back);
        // Qt's run goes on in the text box's own steps.
        ownEdit_ = qtRunGoesOnAs();
        qtRun_ = QtRun();
        return;
    }
    if (pasteRevision_ == document()->revision()) {
        // After a paste that ends in text, typing joins the paste's step.
        ownEdit_ = static_cast<int>(Edit::Type);
    } else if (ownRevision_ != document()->revision()) {
        ownEdit_ = -1;
    }
    cursor.joinPreviousEditBlock();
}

void TextBoxEdit::inputMethodEvent(QInputMethodEvent* event) {
    const ViewStand stood = viewStand();
    const int revision = document()->revision();
    commitInput(event);
    if (document()->revision() != revision) {
        alignAfterTyping(stood);
    }
    keepTopMargin(stood.value);
}

// Qt's editor scrolls down to a caret below the view by whole lines, and
// in the text's first line it keeps the margin above the line in view
// too. Each piece of a first line that is cut is a line to Qt, and only
// the first keeps the margin: where the view stops in a later piece, it
// goes on by the rows that Qt's editor goes on by.
void TextBoxEdit::keepTopMargin(int scrolledFrom) {
    QScrollBar* bar = verticalScrollBar();
    const auto inFirstLine = [](const QTextBlock& block) {
        return lineStart(block).blockNumber() == 0;
    };
    const qreal margin = document()->documentMargin();
    const qreal height = viewport()->height();
    // The caret's foot in the view.
    const auto caretBottom = [this] {
        const QTextCursor caret = textCursor();
        const QTextBlock block = caret.block();
        const QTextLine row =
            block.layout()->lineForTextPosition(caret.position() - block.position());
        return row.isValid()
                   ? std::optional(blockBoundingGeometry(block).translated(contentOffset()).top() +
                                   row.naturalTextRect().bottom())
                   : std::nullopt;
    };
    // The top of the view's top row in the view, where Qt's editor
    // measures from.
    const auto topRow = [this, bar] {
        const QTextBlock top = firstVisibleBlock();
        return blockBoundingGeometry(top).translated(contentOffset()).top() +
               top.layout()->lineAt(bar->value() - top.firstLineNumber()).y();
    };
    const QTextBlock top = firstVisibleBlock();
    if (top.blockNumber() == 0 || !inFirstLine(top)) {
        return;
    }
    // Where the view did not move, Qt's editor scrolls yet if the caret's
    // foot reaches the view's.
    if (const std::optional<qreal> bottom = caretBottom();
        bar->value() <= scrolledFrom && (!bottom || *bottom < height)) {
        return;
    }
    while (bar->value() < bar->maximum() && firstVisibleBlock().blockNumber() > 0 &&
           inFirstLine(firstVisibleBlock())) {
        const std::optional<qreal> bottom = caretBottom();
        if (!bottom || *bottom - topRow() + margin <= height || *bottom - topRow() > height) {
            return;
        }
        bar->setValue(bar->value() + 1);
    }
}

void TextBoxEdit::commitInput(QInputMethodEvent* event) {
    tidy();
    if (!isReadOnly() && !event->commitString().isEmpty()) {
        alignVisibleCuts(true);
    }
    // A commit alone, with a line break or reaching a cut, goes in as Qt
    // would put it, but with blocks that take no piece's mark.
    QTextCursor cursor = textCursor();
    const QString commit = event->commitString();
    const bool breaks = std::any_of(commit.cbegin(), commit.cend(), isLineBreak);
    if (isReadOnly() || commit.isEmpty() || !event->preeditString().isEmpty() ||
        event->replacementLength() != 0 || !event->attributes().isEmpty() ||
        (!(breaks && inPiece(cursor.block())) && !nearCut(cursor))) {
        const int revision = document()->revision();
        QPlainTextEdit::inputMethodEvent(event);
        // Qt's commit is an edit block; typing right after one that ends
        // in text joins it.
        if (document()->revision() != revision) {
            noteQtBlock(!commit.isEmpty() && event->preeditString().isEmpty() && !breaks);
        }
        return;
    }
    shaping_ = true;
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    const int from = cursor.position();
    insertLines(cursor, commit, [](QTextCursor& /*unused*/) {});
    const bool reshaped = reshape(document(), from, cursor.position(), [] { return true; });
    // Qt puts a commit's line breaks in after its text, and so joins no
    // typing to a commit that holds one; the step ends here for Qt too.
    if (reshaped || breaks) {
        endStepAt(document(), cursor.position(), breaks ? kPartMark : kStepMark);
    }
    cursor.endEditBlock();
    shaping_ = false;
    // Typing right after a commit that ends in text, and holds no line
    // break, joins its step, as after a paste.
    const bool joinable = !breaks && !isLineBreak(commit.back());
    noteOwnStep(reshaped && joinable ? static_cast<int>(Edit::Type) : -1, cursor.position());
    setTextCursor(cursor);
    notePasteEnd(commit, textCursor());
    if (!joinable) {
        pasteRevision_ = -1;
        pasteSteps_ = -1;
    }
    event->accept();
}

// Word moves over a long line go by the words of the whole line, not those
// of its piece. True when the key was such a move and is done.
bool TextBoxEdit::wordMoved(QKeyEvent* event) {
    constexpr std::array moves{
        std::pair{QKeySequence::MoveToNextWord, QTextCursor::WordRight},
        std::pair{QKeySequence::MoveToPreviousWord, QTextCursor::WordLeft},
        std::pair{QKeySequence::MoveToNextChar, QTextCursor::NextCharacter},
        std::pair{QKeySequence::MoveToPreviousChar, QTextCursor::PreviousCharacter},
        std::pair{QKeySequence::SelectNextWord, QTextCursor::WordRight},
        std::pair{QKeySequence::SelectPreviousWord, QTextCursor::WordLeft},
        std::pair{QKeySequence::SelectNextChar, QTextCursor::NextCharacter},
        std::pair{QKeySequence::SelectPreviousChar, QTextCursor::PreviousCharacter}};
    QTextCursor cursor = textCursor();
    if (!inPiece(cursor.block())) {
        return false;
    }
    for (std::size_t i = 0; i < moves.size(); ++i) {
        if (!event->matches(moves[i].first)) {
            continue;
        }
        // A character move that stays inside its piece is Qt's own; one
        // that reaches a cut may have to go on, past the cut and past the
        // rest of a character the cut splits.
        QTextCursor probe = cursor;
        probe.movePosition(moves[i].second);
        // With a selection, Qt's own move just ends it at one of its ends.
        if (i % 4 >= 2 && ((probe.block() == cursor.block() && !probe.atBlockStart() &&
                            !probe.atBlockEnd() && !cursor.atBlockStart() && !cursor.atBlockEnd() &&
                            !startsInsideGrapheme(cursor.block())) ||
                           (i < 4 && cursor.hasSelection()))) {
            return false;
        }
        const int target = wordTarget(cursor, moves[i].second);
        // At the ends of the line Qt's own move goes on to the next line.
        if (target == cursor.position()) {
            return false;
        }
        cursor.setPosition(target, i < 4 ? QTextCursor::MoveAnchor : QTextCursor::KeepAnchor);
        setTextCursor(cursor);
        event->accept();
        return true;
    }
    return false;
}

void TextBoxEdit::tidyLater(int from, int removed, int added) {
    if (shaping_) {
        return;
    }
    if (!tidyPending_) {
        tidyPending_ = true;
        dirtyFrom_ = from;
        dirtyTo_ = from + added;
        QMetaObject::invokeMethod(this, "tidy", Qt::QueuedConnection);
        return;
    }
    if (dirtyTo_ > from) {
        dirtyTo_ = std::max(from, dirtyTo_ + added - removed);
    }
    dirtyFrom_ = std::min(dirtyFrom_, from);
    dirtyTo_ = std::max(dirtyTo_, from + added);
}

void TextBoxEdit::tidy() {
    if (!tidyPending_) {
        return;
    }
    tidyPending_ = false;
    QTextDocument* doc = document();
    // After an undo the text is back in a shape it had before; reshaping it
    // now would throw the redo steps away.
    if (doc->availableRedoSteps() > 0) {
        return;
    }
    if (!reshape(doc, dirtyFrom_, dirtyTo_, [] { return false; })) {
        return;
    }
    QTextCursor group(doc);
    shaping_ = true;
    const int revision = doc->revision();
    // Joining or cutting pieces under the caret moves it on screen.
    const bool stale = xIsStale() || caretXIsFresh();
    // A change that Qt's own run of typing or deletions made is an undo
    // command that no edit block joins: the run goes into the step too.
    const bool run = qtRunIsLast();
    if (run) {
        redoQtRunInStep(group);
    } else {
        group.joinPreviousEditBlock();
    }
    reshape(doc, dirtyFrom_, dirtyTo_, [] { return true; });
    endStepAt(doc, textCursor().position());
    group.endEditBlock();
    if (run) {
        // The run goes on in the text box's own steps.
        noteOwnStep(qtRunGoesOnAs(), textCursor().position());
        qtRun_ = QtRun();
    } else if (pasteRevision_ == revision) {
        // Typing after the paste joins the step, now the text box's own.
        noteOwnStep(static_cast<int>(Edit::Type), stepEnd_.position());
    } else if (ownRevision_ == revision) {
        noteOwnStep(ownEdit_, ownEnd_);
    } else if (blockRevision_ == revision) {
        blockRevision_ = doc->revision();
    }
    if (stale) {
        markXStale();
    }
    shaping_ = false;
}

} // namespace rt
