#pragma once

#include <QAccessibleWidget>
#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <utility>
#include <vector>

class QTextDocument;

namespace rt {

class TextBoxEdit;

// What screen readers see of a text box: its text as the user knows it,
// one line where the user sees one line. Qt's own view of a plain-text
// editor counts in document positions, so a long line that the text box
// holds in several blocks would read as several paragraphs, and every
// offset after the first cut would be off. This one counts offsets in the
// text itself: a cut inside a line takes no place, every other block break
// is one LF.
class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit TextBoxAccessible(TextBoxEdit* edit);
    ~TextBoxAccessible() override;
    TextBoxAccessible(const TextBoxAccessible&) = delete;
    TextBoxAccessible& operator=(const TextBoxAccessible&) = delete;

    // For QAccessible::installFactory.
    static QAccessibleInterface* create(const QString& className, QObject* object);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

    // Offsets in the text and positions in the document, both ways. A cut
    // maps to the start of the piece after it.
    int offsetOf(int position) const;
    int positionOf(int offset) const;

private:
    TextBoxEdit* edit() const;
    QTextDocument* document() const;
    // The document positions where a continuing piece starts, kept until the
    // document changes.
    const std::vector<int>& cuts() const;
    std::pair<int, int> boundaries(int offset, QAccessible::TextBoundaryType type) const;

    mutable QPointer<QTextDocument> cutsOf_;
    mutable QMetaObject::Connection watch_;
    mutable std::vector<int> cuts_;
    mutable bool cutsValid_ = false;
};

} // namespace rt
