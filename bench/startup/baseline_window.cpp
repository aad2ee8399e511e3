// The yardstick for yonamito's start-up: the same window with the same
// controls, built directly on Qt Widgets in the most obvious way, with no
// window held as data and no runtime layer in between. Whatever yonamito
// costs beyond this program is the price of its runtime.

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

// The same eleven lines the details area shows.
const QString kReport =
    u"ヨナミト の一般保護違反です。\n"
    u"モジュール : USER.EXE、アドレス : 0008:00003e0f\n"
    u"Registers:\n"
    u"ENX=00032adc CS=174f EIP=00007e0f EFLGS=00000286\n"
    u"EKX=17770018 SS=5047 ESP=00008ac6 FNI=00008ad2\n"
    u"MCX=00018027 DS=1667 FBI=820b82d4 FS=8097\n"
    u"GHJ=81750000 ES=8027 EDI=00030000 GS=0000\n"
    u"Bytes at CS:EIP:\n"
    u"66 67 8b 3e 66 89 76 06 67 8a 46 34 a8 20 74 31 \n"
    u"Stack dump:\n"
    u"00032adc 00030000 ffff0000 7d178ae2 2adc0001 00050003 00000000 7cc68aee "
    u"2adc0001 16670003 30c78b04 2adc170f 16670003 011584b4 000003ca 8b180001 \n"_s;

const QString kMessage = u"このプログラムは不正な処理を行ったので強制終了されま\nす。\n\n"
                         u"終了しない場合は、プログラムの製造元に連絡してくださ\nい｡ "_s;

QPushButton* button(const QString& caption, QWidget* parent, const QRect& geometry) {
    auto* b = new QPushButton(caption, parent);
    b->setGeometry(geometry);
    b->setAutoDefault(true);
    return b;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);

    QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window.setWindowTitle(u"Baseline"_s);
    window.setWindowIcon(QIcon(u":/icons/program.xpm"_s));
    window.setBackgroundRole(QPalette::Button);
    window.setAutoFillBackground(true);
    window.setFixedSize(462, 92);

    // The same fonts as yonamito's window, so that both programs pay for
    // the same font files.
    auto* message = new QLabel(kMessage, &window);
    message->setGeometry(60, 12, 273, 65);
    message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    QFont messageFont(u"IPAPGothic"_s, 9);
    messageFont.setStretch(92);
    message->setFont(messageFont);

    auto* icon = new QLabel(&window);
    icon->setGeometry(10, 12, 32, 32);
    icon->setScaledContents(true);
    icon->setPixmap(QPixmap(u":/icons/error32.xpm"_s));

    button(u"閉じる(&C)"_s, &window, {361, 10, 88, 21})->setDefault(true);
    button(u"詳細(&D)>>"_s, &window, {361, 67, 88, 21});

    auto* details = new QPlainTextEdit(&window);
    details->setGeometry(11, 94, 438, 121);
    details->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    details->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = details->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    details->setPalette(palette);
    details->setFont(QFont(u"DejaVu Sans"_s, 8));
    details->setPlainText(kReport);

    auto* bar = new QFrame(&window);
    bar->setGeometry(11, 216, 438, 28);
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setAutoFillBackground(true);
    bar->setBackgroundRole(QPalette::Button);
    button(u"New"_s, bar, {0, 0, 73, 25});
    button(u"Open"_s, bar, {72, 0, 73, 25});
    button(u"Save"_s, bar, {144, 0, 73, 25});
    button(u"StyeFont"_s, bar, {224, 0, 73, 25})->setEnabled(false);
    button(u"NormalFont"_s, bar, {296, 0, 73, 25});
    button(u"About"_s, bar, {368, 0, 65, 25});
    bar->hide();

    // Created and left idle, as yonamito's timer is until the icon pulses.
    QTimer timer(&window);
    timer.setTimerType(Qt::PreciseTimer);

    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        const QRect area = screen->availableGeometry();
        window.move(area.x() + (area.width() - 468) / 2, area.y() + (area.height() - 117) / 2);
    }
    window.show();
    return QApplication::exec();
}
