#pragma once

#include <QBasicTimer>
#include <QPlainTextEdit>
#include <QPointF>
#include <QString>
#include <QTextCursor>

#include <memory>
#include <optional>
#include <span>
#include <vector>

class QMimeData;
class QMouseEvent;
class QTextBlock;
class QTextDocument;

namespace rt {

// Whether a block of a text box's document continues the line of the block
// before it: the break between them is a cut, not a line break.
bool continuesLine(const QTextBlock& block);
// The first and the last piece of the line that `block` is a piece of.
QTextBlock lineStart(QTextBlock block);
QTextBlock lastPiece(QTextBlock block);
// False when no block of the document can continue a line, which its few
// formats tell without a walk over every block; most documents hold no cut.
bool mayHoldCuts(const QTextDocument& doc);

// Where a stretch of the text lies in the document's store of characters,
// and the character format it has there: Qt joins removals into one undo
// step only over text stored in one stretch with one format.
struct StoredText {
    int first = -1;
    int end = -1;
    int format = -1;
};

// The document's store as Qt's own editor would hold it, which has none
// of the step marks, cuts and copies the text box puts in: `own` are where
// the text box's cuts, and the typing it typed again, lie in the store, in
// order. Left empty, the store as it is.
struct QtStore {
    QStringView text;
    std::span<const int> own;
    // Whether anything but the text box's own lies from `from` to `to`.
    bool parts(int from, int to) const;
};

// The editor inside a text box: Qt's plain-text editor, with the input
// methods, accessibility and clipboard of the desktop, holding the text in
// a shape Qt can lay out fast.
//
// Qt lays each paragraph of a document out as one piece and again after
// every keystroke in it; wrapping a paragraph with no break opportunity
// takes time that grows with the square of its length. So a line longer
// than kMaxBlockLength is held in several blocks of about kPieceLength,
// each after the first marked as continuing the line of its predecessor
// (the mark is the character format of the break in front of it, which
// nothing the user types can copy). text(), copy, cut and drag join such
// blocks without a line break, and editing keeps every block short and
// every mark right, so that only the speed shows the difference.
class TextBoxEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxBlockLength = 8192;
    static constexpr int kPieceLength = 4096;

    explicit TextBoxEdit(QWidget* parent);

    // The length of the pieces of a long line; a line is cut once it is
    // longer than two pieces. Short pieces let a test cross many cuts with
    // a short text. Applies to text set or edited afterwards.
    static void setPieceLength(int length);
    static int pieceLength();
    static int maxBlockLength() { return 2 * pieceLength(); }

    // Where a position in the document is in text() with each line break
    // counted as one character: a cut takes a position in the document but
    // none in the text.
    int textPosition(int documentPosition) const;
    // The first document position at a place in the text so counted.
    int documentPosition(int textPosition) const;

    // The whole text, with CR LF between lines.
    QString text() const;
    // Replaces the text and clears the undo history. CR LF, LF, CR and
    // U+2029 each end a line. Filling a large text keeps the window
    // repainting under the busy cursor once it takes longer than a moment;
    // user input and timers wait until it is done.
    void setText(const QString& text);

protected:
    QMimeData* createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QTextDocument* newDocument();
    int besideCut(int position, qreal x) const;
    qreal aimOf(const QTextCursor& caret) const;
    int aimedInNextRow(int from, int at, bool up) const;
    // The place on screen, in fractions of a pixel, that the last move up
    // or down aimed at, and where it left the caret in which text.
    qreal aimX_ = -1;
    int aimAt_ = -1;
    int aimRevision_ = -1;
    int columnAtCut(const QTextBlock& block, qreal x) const;
    int asQtShows(int position, qreal x) const;
    int pageAsQt(int from, int to, QTextCursor::MoveOperation op, int x) const;
    bool pageUpStopsAbove() const;
    int pageDownGoesFurther() const;
    int pageGoesRound(QTextCursor::MoveOperation op) const;
    QPointF qtPoint(const QPointF& point) const;
    // Where the view stands: its scroll, and where it starts below its top
    // row in Qt's editor and in the text box.
    struct ViewStand {
        int value;
        qreal fracture;
        qreal phase;
    };
    // A long line as it was before a drop into it, as Qt's editor counts
    // it while the drop goes in.
    struct LineBeforeDrop {
        ViewStand stand;
        // The scroll bar's range then, which Qt's editor keeps while the
        // drop goes in.
        int maximum;
        int start;
        int dropAt;
        // Whether the drop has a line break, which splits the line.
        bool breaks;
        std::vector<qreal> rowTops;
        std::vector<qreal> rowBottoms;
        // Where each row ends in the line's text.
        std::vector<int> rowEnds;
        qreal height;
    };
    std::optional<LineBeforeDrop> lineBeforeDrop(const QPointF& at, const QDropEvent& event);
    void scrollAsAfterDrop(const LineBeforeDrop& line);
    int qtRangeAfterSplit(const LineBeforeDrop& line, const QTextBlock& first, int firstPartRows,
                          const QTextBlock& splitEnd, const QTextBlock& caretBlock);
    void standAsAfterSplit(const QTextBlock& first, qreal gapBefore);
    std::unique_ptr<QMouseEvent> atQtPoint(const QMouseEvent* event) const;
    void pressKey(QKeyEvent* event);
    void leaveCutEnd();
    void commitInput(QInputMethodEvent* event);
    void pressMouse(QMouseEvent* event);
    void keepTopMargin(int scrolledFrom);
    void noteCuts(int from, int removed, int added);
    QtStore qtStore() const;
    // Where in the store the cuts lie that the text box put in since the
    // undo history began, and the typing it took back to type again, in
    // order.
    std::vector<int> ownInStore_;
    void noteOwnInStore(int kept);
    void noteCutsOf(const QTextBlock& from);
    void followQtScroll(int dy);
    void setCaretKeepingView(const QTextCursor& caret);
    // The view's top row as Qt's editor keeps it: the block's number and
    // the row in it, which stay through an edit; and how many blocks the
    // text had then.
    struct TopRow {
        int block;
        int line;
        int blocks;
    };
    TopRow topRow();
    void layOutCutAnew(QTextBlock from);
    void showCaretAtCutAsQt(const ViewStand& stood, const TopRow& top);
    ViewStand viewStand();
    void setViewStand(const ViewStand& stand);
    // Whether Qt's editor pages from the caret's row at the last page key,
    // which it does until the caret moves.
    bool pagesFromLastRow();
    void setPagesFromLastRow(bool kept);
    void alignAfterTyping(const ViewStand& stood);
    // The view's top row when it last scrolled, and where the view starts
    // from that row's top.
    int viewTopBlock_ = 0;
    int viewTopLine_ = 0;
    qreal viewPhase_ = 0;
    bool editKeyPressed(QKeyEvent* event);
    bool wordMoved(QKeyEvent* event);
    void tidyLater(int from, int removed, int added);
    Q_INVOKABLE void tidy();
    // Which cuts to align: those on screen, those that a page key can
    // reach and those of the last page, those a page above the block at
    // `at`, by whose rows the view scrolls to a caret there, those of the
    // whole line at `at` if it is quick to lay out, or in such a line those
    // after the block at `at` that an edit there moved off their rows.
    enum class Pages { Visible, Around, Above, Line, After };
    // Both return the number of cuts they moved.
    int alignVisibleCuts(bool leaving, Pages pages = Pages::Visible, int at = -1);
    int alignCutsInPasses(Pages pages, const QTextCursor& at = QTextCursor());
    template <class Open> bool alignCut(const QTextBlock& block, Open&& open);

    // True while the text box itself reshapes or fills the document, whose
    // changes need no tidying afterwards.
    bool shaping_ = false;
    // True while setText() fills the document.
    bool filling_ = false;
    // True while Qt drops a text in, in an edit block of its own.
    bool dropping_ = false;
    bool tidyPending_ = false;
    // The document's count of rows when the scroll bar's range last
    // followed it.
    int linesInRange_ = -1;
    int dirtyFrom_ = 0;
    int dirtyTo_ = 0;
    // Qt's own last run of typing, BackSpace or Delete: where it ended, the
    // document's revision and undo commands after it, and what it typed or
    // how much it took.
    struct QtRun {
        int edit = -1;
        int revision = -1;
        int end = -1;
        int steps = -1;
        QString typed;
        int removed = 0;
        // Typing that began over a selection, which Qt makes an edit block.
        bool block = false;
        // A BackSpace or Delete that took a line break, which Qt joins to
        // no other key.
        bool lineBreak = false;
        // Where the removals of the run lay in the store.
        StoredText stored{};
    };
    QtRun qtRun_;
    // Qt's runs by the undo commands up to and with each, in order: after
    // an Undo back to one, Qt joins a key to it as before.
    std::vector<QtRun> qtRunHistory_;
    void restoreUndoneRun();
    // The document's revision and the caret after a paste or an input
    // method's commit that ended in text, which typing right after it joins.
    int pasteRevision_ = -1;
    int pasteEnd_ = -1;
    // The undo steps right after that paste, its step the last: a Redo that
    // brings the step back lets typing join it again. -1 once another step
    // took its place.
    int pasteSteps_ = -1;
    bool pasteUndone_ = false;
    // The document's revision after an edit block of Qt's own that nothing
    // typed joins.
    int blockRevision_ = -1;
    void noteQtRun(const QtRun& was, const QString& typed);
    void noteRedoneTyping(const QtRun& was);
    void notePasteEnd(const QString& text, const QTextCursor& end);
    void noteOwnStep(int edit, int end);
    void noteQtBlock(bool endsInText);
    bool canJoinLastStep() const;
    bool caretXIsFresh() const;
    void joinLastStep(QTextCursor& cursor);
    bool qtRunIsLast() const;
    int qtRunGoesOnAs() const;
    bool removalJoins(bool back) const;
    bool startsStep(QKeyEvent* event) const;
    void redoQtRunInStep(QTextCursor& cursor);
    void removeInStep(QTextCursor& cursor, bool back, bool joinOwn, bool joinRun);
    // The undo steps after the text box's own last edit of a piece, which
    // the next in a row joins.
    int ownEdit_ = -1;
    int ownSteps_ = -1;
    int ownEnd_ = -1;
    // Where the removals of that edit took their text, before the step.
    int ownFrom_ = -1;
    int ownTo_ = -1;
    StoredText ownStored_;
    // The text box's own steps that a key may join, as Qt joins a key to
    // the command on top of its undo stack also once an Undo brought that
    // command back to the top: by the undo commands up to and with each,
    // in order, with what ends the step (for typing, where the typed text
    // ends in the store).
    struct OwnStep {
        int steps = -1;
        int edit = -1;
        int end = -1;
        int from = -1;
        int to = -1;
        StoredText stored;
    };
    std::vector<OwnStep> ownHistory_;
    const OwnStep* undoneToOwnStep() const;
    void dropStepsFrom(int steps);
    // The document's revision after the text box's own last edit block.
    int ownRevision_ = -1;
    // Runs from a double click for as long as a press makes it a triple.
    QBasicTimer tripleClickTimer_;
    QPointF tripleClickPoint_;
    // Where the caret stood, and the place on screen it kept, when cuts
    // moved under a caret whose place came from the rows before the move;
    // -1 for none.
    int staleAt_ = -1;
    int staleX_ = -1;
    void markXStale();
    bool xIsStale() const;
    // Where Redo of the last undo step leaves the caret.
    QTextCursor stepEnd_;
};

} // namespace rt
