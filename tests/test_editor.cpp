// The hidden editor through its real buttons: the panel toggle, New, Open
// and Save with scripted file dialogs on real files, and the font pair.

#include "window_test.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QTextBlock>

using namespace Qt::StringLiterals;

namespace {

using testfiles::readAll;

} // namespace

class TestEditor : public WindowTest {
    Q_OBJECT

private slots:
    void initTestCase() {
        setUpRuntime();
        QVERIFY(dir_.isValid());
    }

    void init() { QVERIFY(start(true, true)); }

    void cleanup() { app_.reset(); }

    void labelClicksToggleTheBar() {
        QWidget* bar = f().Menuu.widget();
        QVERIFY(bar->isVisible());
        QVERIFY(f().mnu_New.button()->isVisible());
        QTest::mouseClick(f().label.widget(), Qt::LeftButton);
        QVERIFY(!f().Menuu.visible());
        QVERIFY(!f().mnu_New.button()->isVisible());
        // Hiding the bar leaves the buttons' own states alone.
        QVERIFY(f().mnu_Font_N.enabled());
        QVERIFY(!f().mnu_Font_S.enabled());
        // Clicks on the icon are not clicks on the message.
        QTest::mouseClick(f().Ico.widget(), Qt::LeftButton);
        QVERIFY(!f().Menuu.visible());
        QTest::mouseClick(f().label.widget(), Qt::LeftButton);
        QVERIFY(bar->isVisible());
    }

    void typedTextSurvivesSaveAndOpen() {
        // Characters typed by the user, not set by the program: the raw text
        // of the widget must reach the file unchanged.
        click(f().mnu_New);
        QPlainTextEdit* edit = f().Tex.edit();
        edit->setFocus();
        QTest::keyClicks(edit, u"line one"_s);
        // A no-break space from the keyboard, then Japanese committed by an
        // input method, the way it is typed.
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, u"\u00A0"_s, Qt::NoModifier);
        QTest::keyClick(edit, Qt::Key_Return);
        QInputMethodEvent commit;
        commit.setCommitString(u"〜二行目"_s);
        QApplication::sendEvent(edit, &commit);
        const QString typed = f().Tex.text();
        QCOMPARE(typed, u"line one\u00A0\r\n〜二行目"_s);
        save(path(u"typed"_s));
        QVERIFY(QFile::exists(path(u"typed"_s))); // No suffix was added.
        click(f().mnu_New);
        open(path(u"typed"_s));
        QCOMPARE(f().Tex.text(), typed);
    }

    // A line far too long for one paragraph of Qt's layout, and a great many
    // lines: the text comes back whole, and copies and keys where the text
    // box holds the line in pieces act on it as on one line.
    void longLinesAndManyLines_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("between"); // the text between the first two blocks
        QByteArray line;
        while (line.size() < 10'000'000)
            line += "0123456789abcdefghijklmnopqrstuvwxyz";
        QTest::addRow("10 MB line") << line + "\r\n" << QString();
        QByteArray lines;
        for (int i = 0; i < 100'000; ++i)
            lines += "line " + QByteArray::number(i) + "\r\n";
        QTest::addRow("100,000 lines") << lines << u"\r\n"_s;
    }

    void longLinesAndManyLines() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, between);
        testfiles::writeAll(path(u"big.txt"_s), bytes);
        open(path(u"big.txt"_s));
        QString text = QString::fromLatin1(bytes.chopped(2));
        QCOMPARE(f().Tex.text(), text);
        save(path(u"back.txt"_s));
        QCOMPARE(readAll(path(u"back.txt"_s)), bytes);
        QPlainTextEdit* edit = f().Tex.edit();
        edit->setFocus();
        const auto cursorAt = [edit](int anchor, int position) {
            QTextCursor cursor = edit->textCursor();
            cursor.setPosition(anchor);
            cursor.setPosition(position, QTextCursor::KeepAnchor);
            edit->setTextCursor(cursor);
            return edit->document()->firstBlock().length() - 1;
        };
        int end = cursorAt(0, 0);
        cursorAt(end - 3, end + 4);
        edit->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 text.mid(end - 3, 6 + between.size()).replace(u"\r\n"_s, u"\n"_s));
        // Each key on one side of the place between the first two blocks.
        const qsizetype gap = between.isEmpty() ? 1 : 2; // what a deletion there takes
        for (const auto& [after, key] : {std::pair{true, Qt::Key_Backspace},
                                         {false, Qt::Key_Delete},
                                         {true, Qt::Key_A},
                                         {false, Qt::Key_Return}}) {
            end = cursorAt(0, 0);
            cursorAt(end + int(after), end + int(after));
            QTest::keyClick(edit, key);
            if (key == Qt::Key_Backspace)
                text.remove(between.isEmpty() ? end - 1 : end, gap);
            else if (key == Qt::Key_Delete)
                text.remove(end, gap);
            else
                text.insert(end + between.size(), key == Qt::Key_A ? u"a"_s : u"\r\n"_s);
            QCOMPARE(f().Tex.text(), text);
        }
    }

    void fontButtonsAlternate() {
        const QString text = f().Tex.text();
        QPlainTextEdit* edit = f().Tex.edit();
        // The blinking text cursor would make two grabs of one face differ.
        edit->setCursorWidth(0);
        const QImage small = edit->viewport()->grab().toImage();
        for (int round = 0; round < 2; ++round) {
            QVERIFY(f().mnu_Font_N.enabled());
            QVERIFY(!f().mnu_Font_S.enabled());
            click(f().mnu_Font_S); // Greyed: nothing happens.
            QVERIFY(!f().mnu_Font_S.enabled());

            click(f().mnu_Font_N);
            QVERIFY(!f().mnu_Font_N.enabled());
            QVERIFY(f().mnu_Font_S.enabled());
            QCOMPARE(f().Tex.fontName(), u"ＭＳ ゴシック"_s);
            QCOMPARE(f().Tex.fontSize(), 8.0F);
            QCOMPARE(f().Tex.text(), text);
            // The two faces must look different on screen.
            QVERIFY(edit->viewport()->grab().toImage() != small);

            click(f().mnu_Font_S);
            QCOMPARE(f().Tex.fontName(), u"Small Fonts"_s);
            QCOMPARE(f().Tex.fontSize(), 8.0F);
            QCOMPARE(edit->viewport()->grab().toImage(), small);
        }
    }
};

QTEST_MAIN(TestEditor)
#include "test_editor.moc"
