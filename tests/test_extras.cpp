// The About box and the pulsing icon, through the real window.

#include "extras/about.h"
#include "extras/icon_pulse.h"
#include "window_test.h"

using namespace Qt::StringLiterals;

class TestExtras : public WindowTest {
    Q_OBJECT

private:
    QSize icoPixels() { return f().Ico.widget()->size(); }

    void tick() { extras::Timer_Timer(f()); }

private slots:
    void initTestCase() { setUpRuntime(); }

    void init() { QVERIFY(start(true, false)); }

    void cleanup() { app_.reset(); }

    void aboutIsModalAndChangesNothing() {
        QTest::mouseClick(f().label.widget(), Qt::LeftButton);
        QTest::mouseClick(f().mnu_Font_N.button(), Qt::LeftButton);
        f().Tex.setText(u"kept\r\ntext"_s);

        QString title;
        QString prompt;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
        bool modal = false;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            modal = box->isModal();
            title = box->windowTitle();
            prompt = box->text();
            icon = box->icon();
            buttons = static_cast<int>(box->buttons().size());
            // While the box is open the window takes no clicks.
            QTest::mouseClick(window()->windowHandle(), Qt::LeftButton, {},
                              f().label.widget()->geometry().center());
            box->accept();
        });
        QTest::mouseClick(f().About.button(), Qt::LeftButton);

        QVERIFY(modal);
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons, 1);
        QCOMPARE(title, u"ﾊﾞｰﾁｬﾝ情報"_s);
        const QStringList lines = prompt.split(u'\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], u"ヨナミト ver"_s + QCoreApplication::applicationVersion());
        QVERIFY(lines[1].endsWith(extras::credits().author));
        QVERIFY(!lines[3].isEmpty());

        QVERIFY(f().Menuu.visible());
        QCOMPARE(f().Tex.text(), u"kept\r\ntext"_s);
        QCOMPARE(f().Tex.fontName(), u"ＭＳ ゴシック"_s);
        QCOMPARE(app_->form().height(), 4065.0F);
    }

    void ticksDoubleTheIconAndSnapBack() {
        extras::label_DblClick(f());
        QVERIFY(f().IcoPulse);
        QCOMPARE(f().Timer.interval(), 100); // ms: the pulse has always run at this pace
        const QList<float> cycle{960, 1920, 3840, 480, 960, 1920, 3840, 480};
        for (float expected : cycle) {
            tick();
            QCOMPARE(f().Ico.width(), expected);
            QCOMPARE(f().Ico.height(), expected);
        }
        QCOMPARE(f().Ico.widget()->pos(), QPoint(10, 12)); // It grows right and down.
    }

    void stopRestoresTheRestSize_data() {
        QTest::addColumn<int>("ticks");
        for (int ticks = 0; ticks < 5; ++ticks) {
            QTest::addRow("after %d ticks", ticks) << ticks;
        }
    }

    void stopRestoresTheRestSize() {
        QFETCH(int, ticks);
        extras::label_DblClick(f());
        for (int i = 0; i < ticks; ++i) {
            tick();
        }
        extras::label_DblClick(f());
        QVERIFY(!f().IcoPulse);
        QCOMPARE(f().Timer.interval(), 0);
        QCOMPARE(icoPixels(), QSize(32, 32));
        // Ticks that still arrive while resting change nothing.
        tick();
        tick();
        QCOMPARE(icoPixels(), QSize(32, 32));
    }

    void grownIconLiesUnderTheTextOverTheMessage() {
        extras::label_DblClick(f());
        tick();
        tick();
        tick();
        QCOMPARE(icoPixels(), QSize(256, 256));
        const QRect ico = f().Ico.widget()->geometry();
        const QRect tex = f().Tex.widget()->geometry();
        const QRect label = f().label.widget()->geometry();
        const QPoint overText = (ico & tex).center();
        const QPoint overMessage = (ico & label).center();
        QWidget* atText = window()->childAt(overText);
        QVERIFY(atText == f().Tex.widget() || f().Tex.widget()->isAncestorOf(atText));
        QCOMPARE(window()->childAt(overMessage), f().Ico.widget());

        // Drawn pixel for pixel: every 8×8 block of the grown icon is one
        // colour, and the picture's opaque corner of red shows on screen.
        const QImage shot = f().Ico.widget()->grab().toImage();
        for (int y = 0; y < 96; y += 8) {
            for (int x = 0; x < 96; x += 8) {
                const QRgb first = shot.pixel(x, y);
                for (int dy = 0; dy < 8; ++dy) {
                    for (int dx = 0; dx < 8; ++dx) {
                        QCOMPARE(shot.pixel(x + dx, y + dy), first);
                    }
                }
            }
        }
        QCOMPARE(qRed(shot.pixel(128, 100)), 255);
    }
};

QTEST_MAIN(TestExtras)
#include "test_extras.moc"
