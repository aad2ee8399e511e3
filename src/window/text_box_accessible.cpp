#include "window/text_box_accessible.h"

#include "window/text_box_edit.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace rt {

namespace {

// Whether the text may end a word at the cut in front of a continuing
// piece, as the characters on both sides tell. A piece that had to be cut
// where the line has no place to wrap splits a word.
bool wordBreaksAt(const QTextBlock& piece) {
    constexpr int kContext = 32;
    const QString before = piece.previous().text().right(kContext);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, before + piece.text().left(kContext));
    finder.setPosition(before.size());
    return finder.isAtBoundary();
}

} // namespace

TextBoxAccessible::TextBoxAccessible(TextBoxEdit* edit)
    : QAccessibleWidget(edit, QAccessible::EditableText) {}

TextBoxAccessible::~TextBoxAccessible() {
    QObject::disconnect(watch_);
}

QAccessibleInterface* TextBoxAccessible::create(const QString& /*className*/, QObject* object) {
    if (auto* edit = qobject_cast<TextBoxEdit*>(object)) {
        return new TextBoxAccessible(edit);
    }
    return nullptr;
}

TextBoxEdit* TextBoxAccessible::edit() const {
    return static_cast<TextBoxEdit*>(widget());
}

QTextDocument* TextBoxAccessible::document() const {
    return edit()->document();
}

void* TextBoxAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface) {
        return static_cast<QAccessibleTextInterface*>(this);
    }
    if (type == QAccessible::EditableTextInterface && !edit()->isReadOnly()) {
        return static_cast<QAccessibleEditableTextInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TextBoxAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.multiLine = true;
    s.selectableText = true;
    s.readOnly = edit()->isReadOnly();
    s.editable = !s.readOnly;
    return s;
}

QString TextBoxAccessible::text(QAccessible::Text type) const {
    if (type == QAccessible::Value) {
        return text(0, characterCount());
    }
    return QAccessibleWidget::text(type);
}

const std::vector<int>& TextBoxAccessible::cuts() const {
    QTextDocument* doc = document();
    if (cutsOf_ != doc) {
        // The text box builds a new document for every text it is given.
        QObject::disconnect(watch_);
        cutsOf_ = doc;
        watch_ = QObject::connect(doc, &QTextDocument::contentsChange, edit(),
                                  [this] { cutsValid_ = false; });
        cutsValid_ = false;
    }
    if (!cutsValid_) {
        cuts_.clear();
        if (mayHoldCuts(*doc)) {
            for (QTextBlock b = doc->begin().next(); b.isValid(); b = b.next()) {
                if (continuesLine(b)) {
                    cuts_.push_back(b.position());
                }
            }
        }
        cutsValid_ = true;
    }
    return cuts_;
}

int TextBoxAccessible::offsetOf(int position) const {
    const std::vector<int>& c = cuts();
    return position -
           static_cast<int>(std::upper_bound(c.cbegin(), c.cend(), position) - c.cbegin());
}

int TextBoxAccessible::positionOf(int offset) const {
    // The cut before the piece at index i lies at offset c[i] - (i + 1) of
    // the text; an offset takes every cut up to and including its own.
    const std::vector<int>& c = cuts();
    int before = 0;
    int count = static_cast<int>(c.size());
    while (count > 0) {
        const int half = count / 2;
        if (c[before + half] - (before + half + 1) <= offset) {
            before += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return std::clamp(offset + before, 0, document()->characterCount() - 1);
}

int TextBoxAccessible::characterCount() const {
    return document()->characterCount() - 1 - static_cast<int>(cuts().size());
}

QString TextBoxAccessible::text(int startOffset, int endOffset) const {
    const int count = characterCount();
    startOffset = std::clamp(startOffset, 0, count);
    endOffset = std::clamp(endOffset, startOffset, count);
    const int from = positionOf(startOffset);
    const int to = positionOf(endOffset);
    QTextCursor cursor(document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    const QString raw = cursor.selectedText();
    const std::vector<int>& c = cuts();
    auto cut = std::upper_bound(c.cbegin(), c.cend(), from);
    QString out;
    out.reserve(endOffset - startOffset);
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == QChar::ParagraphSeparator) {
            if (cut != c.cend() && *cut == from + i + 1) {
                ++cut;
                continue;
            }
            out += u'\n';
        } else {
            out += raw[i];
        }
    }
    return out;
}

void TextBoxAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = 0;
    *endOffset = 0;
    const QTextCursor cursor = edit()->textCursor();
    if (selectionIndex == 0 && cursor.hasSelection()) {
        *startOffset = offsetOf(cursor.selectionStart());
        *endOffset = offsetOf(cursor.selectionEnd());
    }
}

int TextBoxAccessible::selectionCount() const {
    return edit()->textCursor().hasSelection() ? 1 : 0;
}

void TextBoxAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void TextBoxAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0) {
        QTextCursor cursor = edit()->textCursor();
        cursor.clearSelection();
        edit()->setTextCursor(cursor);
    }
}

void TextBoxAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex != 0) {
        return;
    }
    QTextCursor cursor = edit()->textCursor();
    cursor.setPosition(positionOf(startOffset));
    cursor.setPosition(positionOf(endOffset), QTextCursor::KeepAnchor);
    edit()->setTextCursor(cursor);
}

int TextBoxAccessible::cursorPosition() const {
    return offsetOf(edit()->textCursor().position());
}

void TextBoxAccessible::setCursorPosition(int position) {
    QTextCursor cursor = edit()->textCursor();
    cursor.setPosition(positionOf(position));
    edit()->setTextCursor(cursor);
}

// The piece of text of the given kind around an offset, as offsets. Words
// and lines are what the text box's own cursor keys step over; a paragraph
// is a whole line of the text, however many pieces hold it.
std::pair<int, int> TextBoxAccessible::boundaries(int offset,
                                                  QAccessible::TextBoundaryType type) const {
    const int count = characterCount();
    offset = std::clamp(offset, 0, count);
    QTextCursor cursor(document());
    cursor.setPosition(positionOf(offset));
    switch (type) {
    case QAccessible::CharBoundary:
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        break;
    case QAccessible::WordBoundary: {
        // The text box's cursor finds words within a piece; a word that a
        // cut splits goes on into the pieces around it.
        cursor.movePosition(QTextCursor::StartOfWord);
        while (cursor.atBlockStart() && continuesLine(cursor.block()) &&
               !wordBreaksAt(cursor.block())) {
            cursor.setPosition(cursor.position() - 1);
            cursor.movePosition(QTextCursor::StartOfWord);
        }
        const int start = cursor.position();
        cursor.movePosition(QTextCursor::EndOfWord);
        while (cursor.atBlockEnd() && continuesLine(cursor.block().next()) &&
               !wordBreaksAt(cursor.block().next())) {
            cursor.setPosition(cursor.position() + 1);
            cursor.movePosition(QTextCursor::EndOfWord);
        }
        return {offsetOf(start), offsetOf(cursor.position())};
    }
    case QAccessible::LineBoundary:
        cursor.movePosition(QTextCursor::StartOfLine);
        cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
        break;
    case QAccessible::SentenceBoundary:
    case QAccessible::ParagraphBoundary: {
        const QTextBlock first = lineStart(cursor.block());
        const QTextBlock last = lastPiece(cursor.block());
        const int start = offsetOf(first.position());
        const int end = offsetOf(last.position() + last.length() - 1);
        if (type == QAccessible::ParagraphBoundary) {
            return {start, end};
        }
        // Sentences are looked for within the line only.
        const QString line = text(start, end);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, line);
        finder.setPosition(offset - start);
        const qsizetype from =
            finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
        const qsizetype to = finder.toNextBoundary();
        return {start + static_cast<int>(std::max<qsizetype>(from, 0)),
                to < 0 ? end : start + static_cast<int>(to)};
    }
    case QAccessible::NoBoundary:
        return {0, count};
    }
    return {offsetOf(cursor.selectionStart()), offsetOf(cursor.selectionEnd())};
}

QString TextBoxAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                        int* startOffset, int* endOffset) const {
    const auto [start, end] = boundaries(offset, boundaryType);
    *startOffset = start;
    *endOffset = end;
    return text(start, end);
}

QString TextBoxAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    *startOffset = -1;
    *endOffset = -1;
    const int at = boundaries(offset, boundaryType).first;
    if (at <= 0) {
        return {};
    }
    return textAtOffset(at - 1, boundaryType, startOffset, endOffset);
}

QString TextBoxAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int* startOffset, int* endOffset) const {
    *startOffset = -1;
    *endOffset = -1;
    const auto [start, end] = boundaries(offset, boundaryType);
    int next = end;
    // A line or a paragraph ends before its line break, which belongs to
    // neither it nor the next one.
    if (next == start || boundaries(next, boundaryType).first < end) {
        ++next;
    }
    if (next > characterCount() || (next == characterCount() && next == end)) {
        return {};
    }
    return textAtOffset(next, boundaryType, startOffset, endOffset);
}

QRect TextBoxAccessible::characterRect(int offset) const {
    QTextCursor cursor(document());
    cursor.setPosition(positionOf(offset));
    QRect rect = edit()->cursorRect(cursor);
    if (!cursor.atBlockEnd()) {
        cursor.movePosition(QTextCursor::NextCharacter);
        const QRect next = edit()->cursorRect(cursor);
        if (next.top() == rect.top()) {
            rect.setRight(std::max(rect.left(), next.left() - 1));
        }
    }
    return rect.translated(edit()->viewport()->mapToGlobal(QPoint(0, 0)));
}

int TextBoxAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint local = edit()->viewport()->mapFromGlobal(point);
    if (!edit()->viewport()->rect().contains(local)) {
        return -1;
    }
    return offsetOf(edit()->cursorForPosition(local).position());
}

void TextBoxAccessible::scrollToSubstring(int startIndex, int /*endIndex*/) {
    setCursorPosition(startIndex);
    edit()->ensureCursorVisible();
}

QString TextBoxAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // One font for the whole text: no runs to tell apart.
    *startOffset = std::clamp(offset, 0, characterCount()) == offset ? 0 : -1;
    *endOffset = *startOffset < 0 ? -1 : characterCount();
    return {};
}

void TextBoxAccessible::deleteText(int startOffset, int endOffset) {
    replaceText(startOffset, endOffset, QString());
}

void TextBoxAccessible::insertText(int offset, const QString& text) {
    replaceText(offset, offset, text);
}

void TextBoxAccessible::replaceText(int startOffset, int endOffset, const QString& text) {
    // Through a cursor, as typing goes: the text box keeps its pieces right
    // after any change to the document.
    QTextCursor cursor(document());
    cursor.setPosition(positionOf(startOffset));
    cursor.setPosition(positionOf(endOffset), QTextCursor::KeepAnchor);
    cursor.insertText(text);
}

} // namespace rt
