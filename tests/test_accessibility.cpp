// The window as a screen reader reads it: the accessible tree that Qt hands
// to AT-SPI, queried in-process.

#include "window_test.h"

#include <QAccessible>
#include <QPlainTextEdit>
#include <QTextBlock>

using namespace Qt::StringLiterals;

class TestAccessibility : public WindowTest {
    Q_OBJECT

    static QAccessibleInterface* of(QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget);
    }

private slots:
    void initTestCase() { setUpRuntime(); }

    void init() { QVERIFY(start(true, false)); }

    void cleanup() { app_.reset(); }

    void theWindowReadsAsTheCrashDialog() {
        QAccessibleInterface* alert = of(window());
        QCOMPARE(alert->role(), QAccessible::AlertMessage);
        QCOMPARE(alert->text(QAccessible::Name), u"ヨナミト"_s);
        // The label's hand-made line breaks are gone, the paragraphs stay.
        QCOMPARE(alert->text(QAccessible::Description),
                 u"このプログラムは不正な処理を行ったので強制終了されます。\n\n"
                 u"終了しない場合は、プログラムの製造元に連絡してください｡"_s);

        struct Row {
            QWidget* widget;
            QAccessible::Role role;
            QString name;
            QString shortcut;
        };
        const Row rows[] = {
            {f().Ico.widget(), QAccessible::Graphic, u"エラー"_s, {}},
            {f().Tex.widget(), QAccessible::EditableText, u"詳細"_s, {}},
            {f().Close.button(), QAccessible::Button, u"閉じる"_s, u"Alt+C"_s},
            {f().ShowSui.button(), QAccessible::Button, u"詳細>>"_s, u"Alt+D"_s},
            {f().About.button(), QAccessible::Button, u"About"_s, {}},
        };
        for (const Row& row : rows) {
            QAccessibleInterface* iface = of(row.widget);
            const QByteArray where = row.widget->objectName().toUtf8();
            QVERIFY2(iface->role() == row.role, where);
            QCOMPARE(iface->text(QAccessible::Name), row.name);
            if (row.role == QAccessible::Graphic) {
                QCOMPARE(iface->imageInterface()->imageDescription(), row.name);
            }
            QVERIFY2(iface->parent() == alert || iface->parent()->parent()->parent() == alert,
                     where);
            if (!row.shortcut.isEmpty()) {
                QAccessibleActionInterface* actions = iface->actionInterface();
                QVERIFY2(actions != nullptr, where);
                QVERIFY2(actions->keyBindingsForAction(QAccessibleActionInterface::pressAction())
                             .contains(row.shortcut),
                         where);
            }
        }
    }

    // A line long enough that the text box holds it in pieces reads as one
    // line, and the caret offset is where the text box's cursor stands in
    // the text, which the unique words around it tell.
    void theTextReadsAsTheTextAcrossCuts() {
        QString longLine;
        for (int i = 0; longLine.size() < qsizetype{3} * rt::TextBoxEdit::kMaxBlockLength; ++i) {
            longLine += u"w%1 "_s.arg(i, 5, 10, QChar(u'0'));
        }
        f().Tex.setText(u"first\r\nsecond\r\n"_s + longLine + u"\r\nlast"_s);
        QPlainTextEdit* edit = f().Tex.edit();
        QVERIFY(edit->document()->blockCount() > 6); // the long line is cut

        QAccessibleTextInterface* reader = of(edit)->textInterface();
        QVERIFY(reader != nullptr);
        const QString text = rt::fromCrLf(f().Tex.text());
        QCOMPARE(reader->characterCount(), text.size());
        QCOMPARE(reader->text(0, reader->characterCount()), text);
        int start = 0;
        int end = 0;
        // From the first piece and from the last, the paragraph is the whole
        // line, and the ones before and after it are its neighbours.
        const auto lineStart = static_cast<int>(text.indexOf(longLine));
        for (const int at : {lineStart + 40, lineStart + static_cast<int>(longLine.size()) - 1}) {
            QCOMPARE(reader->textAtOffset(at, QAccessible::ParagraphBoundary, &start, &end),
                     longLine);
            QCOMPARE(reader->textBeforeOffset(at, QAccessible::ParagraphBoundary, &start, &end),
                     u"second"_s);
            QCOMPARE(reader->textAfterOffset(at, QAccessible::ParagraphBoundary, &start, &end),
                     u"last"_s);
        }

        // Right at each cut: the caret both ways, a selection over it both
        // ways, and the characters on either side.
        for (QTextBlock b = edit->document()->findBlockByNumber(3); b.next().isValid();
             b = b.next()) {
            const auto at = static_cast<int>(text.indexOf(b.text().left(12)));
            edit->setTextCursor(QTextCursor(b));
            QCOMPARE(reader->cursorPosition(), at);
            QCOMPARE(reader->text(at - 1, at + 1), text.mid(at - 1, 2));
            reader->setSelection(0, at - 1, at + 1);
            reader->selection(0, &start, &end);
            QCOMPARE(std::pair(start, end), std::pair(at - 1, at + 1));
            QCOMPARE(edit->textCursor().selectionStart(), b.position() - 2);
            QCOMPARE(edit->textCursor().selectionEnd(), b.position() + 1);
            reader->setCursorPosition(at);
            QCOMPARE(edit->textCursor().position(), b.position());
        }

        edit->setFocus();
        edit->moveCursor(QTextCursor::Start);
        std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys(20, {Qt::Key_Down, {}});
        keys.emplace_back(Qt::Key_End, Qt::NoModifier);
        for (int i = 0; i < 6; ++i) {
            keys.insert(keys.end(), 20, {Qt::Key_Down, {}});
            keys.emplace_back(Qt::Key_PageDown, Qt::NoModifier);
        }
        keys.emplace_back(Qt::Key_End, Qt::ControlModifier);
        int piece = 0;
        for (const auto& [key, modifiers] : keys) {
            QTest::keyClick(edit, key, modifiers);
            const QTextCursor cursor = edit->textCursor();
            const QString block = cursor.block().text();
            const QString before = block.left(cursor.positionInBlock()).right(12);
            const QString around = before + block.mid(cursor.positionInBlock(), 12);
            QVERIFY(text.count(around) == 1);
            const int caret = reader->cursorPosition();
            QCOMPARE(caret, text.indexOf(around) + before.size());
            QCOMPARE(reader->text(caret, caret + 1), text.mid(caret, 1));
            piece = std::max(piece, cursor.blockNumber() - 2);
        }
        QVERIFY(piece >= 2); // the caret went past two cuts
        QCOMPARE(reader->cursorPosition(), text.size());

        // Typing in front of the cuts moves every one of them.
        QTest::keyClick(edit, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClicks(edit, u"x"_s);
        const QString typed = rt::fromCrLf(f().Tex.text());
        QCOMPARE(reader->text(0, reader->characterCount()), typed);
        QCOMPARE(of(edit)->text(QAccessible::Value), typed);

        // A word too long for a piece is cut where the line cannot wrap, and
        // still reads as one word.
        const QString word(qsizetype{3} * rt::TextBoxEdit::kMaxBlockLength, u'a');
        f().Tex.setText(u"b "_s + word + u" c"_s);
        reader = of(edit)->textInterface();
        for (const int at : {2, 5000, 20000, static_cast<int>(word.size()) + 1}) {
            QCOMPARE(reader->textAtOffset(at, QAccessible::WordBoundary, &start, &end), word);
        }
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
