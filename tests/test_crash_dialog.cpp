// The crash dialog as a user meets it: start-up, Details, Close and the
// keyboard, driven through real widgets on Qt's offscreen platform.

#include "window_test.h"

#include <QPushButton>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

class TestCrashDialog : public WindowTest {
    Q_OBJECT

private slots:
    void initTestCase() { setUpRuntime(); }

    void init() { QVERIFY(start(false, false)); }

    void cleanup() { app_.reset(); }

    void startsAsTheCompactCrashDialog() {
        QCOMPARE(app_->form().height(), 1755.0F);
        QCOMPARE(window()->size(), QSize(462, 92));

        // Five lines, the third empty, each short enough for the label:
        // the whole message shows without extra wrapping or clipping.
        const QStringList lines = f().label.caption().split(u"\r\n"_s);
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[2].isEmpty());
        const auto* label = qobject_cast<QLabel*>(f().label.widget());
        QVERIFY(label->heightForWidth(label->width()) <= label->height());
        const QFontMetrics metrics(label->font());
        for (const QString& line : lines) {
            QVERIFY2(metrics.horizontalAdvance(line) <= label->width(), qPrintable(line));
        }

        // The details area and the hidden bar lie wholly below the edge.
        QVERIFY(f().Tex.widget()->geometry().top() >= window()->height());
        QVERIFY(f().Menuu.widget()->geometry().top() >= window()->height());

        QCOMPARE(f().Tex.fontName(), u"Small Fonts"_s);
        QCOMPARE(f().Tex.fontSize(), 8.0F);
        QVERIFY(f().mnu_Font_N.enabled());
        QVERIFY(!f().mnu_Font_S.enabled());
        QVERIFY(!f().Menuu.visible());
        QCOMPARE(QApplication::focusWidget(), f().Close.button());
        QVERIFY(f().Close.isDefault());
    }

    void detailsGrowsTheWindowOnce() {
        const QPoint topLeft = window()->pos();
        click(f().ShowSui);
        QCOMPARE(app_->form().height(), 4065.0F);
        QCOMPARE(window()->size(), QSize(462, 246));
        QCOMPARE(window()->pos(), topLeft);
        QVERIFY(!f().ShowSui.enabled());
        QVERIFY(window()->rect().contains(f().Tex.widget()->geometry()));

        // A second click on the greyed button changes nothing.
        click(f().ShowSui);
        QCOMPARE(window()->size(), QSize(462, 246));
        QVERIFY(app_->form().isLoaded());
    }

    void closeEndsTheProgramWithoutAQuestion_data() {
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<bool>("edited");
        QTest::addColumn<int>("how");
        for (int how = 0; how < 4; ++how) {
            QTest::addRow("compact/%d", how) << false << false << how;
            QTest::addRow("expanded-edited/%d", how) << true << true << how;
        }
    }

    void closeEndsTheProgramWithoutAQuestion() {
        QFETCH(bool, expanded);
        QFETCH(bool, edited);
        QFETCH(int, how);
        if (expanded) {
            click(f().ShowSui);
        }
        if (edited) {
            f().Tex.edit()->setFocus();
            QTest::keyClicks(f().Tex.edit(), u"unsaved"_s);
        }
        QSignalSpy unloaded(&app_->form(), &rt::Form::unloaded);
        switch (how) {
        case 0:
            click(f().Close);
            break;
        case 1:
            window()->close(); // The title bar's close box.
            break;
        case 2:
            QTest::keyClick(window(), Qt::Key_C, Qt::AltModifier);
            break;
        default:
            f().Close.button()->setFocus();
            QTest::keyClick(f().Close.button(), Qt::Key_Return);
            break;
        }
        // An access key presses its button the way a click does, after the
        // button has shown itself pressed for a moment.
        QTRY_COMPARE(unloaded.count(), 1);
        QVERIFY(!app_->form().isLoaded());
        QVERIFY(!window()->isVisible());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void enterInTheTextBreaksTheLine() {
        click(f().ShowSui);
        QPlainTextEdit* edit = f().Tex.edit();
        edit->setFocus();
        edit->moveCursor(QTextCursor::End);
        QTest::keyClicks(edit, u"abc"_s);
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClicks(edit, u"def"_s);
        QVERIFY(app_->form().isLoaded());
        QVERIFY(f().Tex.text().endsWith(u"\r\nabc\r\n\r\ndef"_s));
    }

    void enterOnAButtonPressesIt() {
        f().ShowSui.button()->setFocus();
        QTest::keyClick(f().ShowSui.button(), Qt::Key_Return);
        QCOMPARE(window()->size(), QSize(462, 246));
        QVERIFY(app_->form().isLoaded());
    }

    void tabFollowsTheTabIndexes() {
        // Compact, with the bar shown below the edge, Tab reaches only what
        // the window shows. Expanded, ShowSui is greyed, so the tour goes
        // Close, Tex, About; the other buttons of the bar take no Tab stop.
        QTest::mouseClick(f().label.widget(), Qt::LeftButton);
        QVERIFY(f().Menuu.visible());
        const QList<QWidget*> expected{f().ShowSui.button(), f().Close.button(), f().Tex.edit(),
                                       f().About.button(), f().Close.button()};
        for (QWidget* next : expected) {
            if (next == f().Tex.edit()) {
                click(f().ShowSui);
                f().Close.button()->setFocus();
            }
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void doubleClickGivesOneClickThenOneDblClick() {
        QStringList events;
        connect(&f().label, &rt::Label::click, this, [&events] { events << u"Click"_s; });
        connect(&f().label, &rt::Label::dblClick, this, [&events] { events << u"DblClick"_s; });
        const QPoint inLabel = f().label.widget()->geometry().topRight() + QPoint(-10, 10);
        QTest::mouseDClick(window()->windowHandle(), Qt::LeftButton, {}, inLabel);
        QCOMPARE(events, (QStringList{u"Click"_s, u"DblClick"_s}));
    }

    void untrappedErrorReachesTheDefaultHandling() {
        QList<int> reported;
        rt::setErrorHook([&reported](const rt::RuntimeError& e) { reported << e.code(); });
        // A size no window can have is a runtime error that no handler of
        // the dialog traps.
        rt::dispatch([this] { app_->form().setHeight(-1); });
        rt::setErrorHook({});
        QCOMPARE(reported, QList<int>{rt::RuntimeError::InvalidPropertyValue});
    }
};

QTEST_MAIN(TestCrashDialog)
#include "test_crash_dialog.moc"
