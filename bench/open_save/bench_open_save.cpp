// Open and Save on big files: the real commands of the real window against
// the floor that Qt itself sets, and how soon the window answers input.
//
// The benchmark writes its files itself, the same bytes on every run: a
// typical text of 20 MB and of 2 MB (mixed Japanese and ASCII lines), a
// million short lines, one line of 100 KB and one of 10 MB, each in CP932
// with CR LF and in UTF-8 with LF. Every file is measured in two fresh
// processes, so that each peak of memory belongs to one file only:
//
// - the program: yonamito's window with the Open and Save commands answered
//   by scripted dialogs. It times each command, the time from Open to the
//   first paint of the text box that shows the file, the time from Open to
//   the moment the text box acts on a key sent through the X server at that
//   paint (the window answers input), and, for a few keystrokes sent the
//   same way, the time to the end of the text box's first paint after it
//   changed its text. An Open that leaves the text box without the file, or
//   that shows an error, is a failure and is never timed as a success.
// - the floor: read the bytes, decode them once, setPlainText on a plain
//   QPlainTextEdit of the text box's size and font, take the text back,
//   encode it once (with the file's line ends) and write it.
//
// Usage: bench_open_save [--reps N] [--limit SECONDS] [--only TEXT]
// Needs the xcb platform: bench/open_save.sh starts a virtual X display.

#include "../median.h"
#include "main_window.h"
#include "window/controls.h"
#include "window/frm_main_description.h"
#include "window/runtime.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QCursor>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// ---------------------------------------------------------------- Keyboard

// Sends key presses and releases to a window through the X server, as a
// keyboard would: they reach the program through its X connection and its
// event queue like any other input. Defined at the end of the file.
class Keyboard {
public:
    explicit Keyboard(WId window);
    ~Keyboard();
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;
    bool ok() const { return display_ != nullptr; }
    void type(const char* keysym);

private:
    void* display_;
    WId window_;
};

// ---------------------------------------------------------------- Helpers

QElapsedTimer& benchClock() {
    static QElapsedTimer clock;
    return clock;
}

qint64 nowNs() {
    return benchClock().nsecsElapsed();
}

double ms(qint64 ns) {
    return static_cast<double>(ns) / 1.0e6;
}

void settle(int milliseconds) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Runs events until the condition holds; false when the time ran out.
bool waitFor(const std::function<bool()>& condition, qint64 milliseconds) {
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The peak resident memory of a process (by default this one).
qint64 peakKiB(const QString& pid = u"self"_s) {
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:")) {
                return line.mid(6).trimmed().split(' ').first().toLongLong();
            }
        }
    }
    return 0;
}

// What a text says, whatever line ends it uses and however many it has at
// its end: the number of characters and a hash of them with every CR LF
// read as LF and the final line ends left out. The text box and the file
// agree on it exactly when the text box shows the file.
struct Digest {
    qsizetype chars = 0;
    QByteArray hash;
};

Digest digestOf(QStringView text) {
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1] == u'\n' || text[end - 1] == u'\r')) {
        --end;
    }
    QCryptographicHash hash(QCryptographicHash::Sha1);
    Digest digest;
    std::vector<char16_t> chunk;
    chunk.reserve(1 << 16);
    for (qsizetype i = 0; i < end; ++i) {
        if (text[i] == u'\r' && i + 1 < end && text[i + 1] == u'\n') {
            continue;
        }
        chunk.push_back(text[i].unicode());
        if (chunk.size() == chunk.capacity() || i + 1 == end) {
            hash.addData(QByteArrayView(reinterpret_cast<const char*>(chunk.data()),
                                        static_cast<qsizetype>(chunk.size() * 2)));
            digest.chars += static_cast<qsizetype>(chunk.size());
            chunk.clear();
        }
    }
    digest.hash = hash.result().toHex();
    return digest;
}

// ---------------------------------------------------------------- The files

enum class Shape { Typical, ShortLines, OneLine };

struct Case {
    const char* name;
    Shape shape;
    qint64 size; // Bytes in the file's encoding; lines for ShortLines.
    bool cp932;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = [] {
        std::vector<Case> list;
        for (const bool cp932 : {true, false}) {
            list.push_back({"20MB typical", Shape::Typical, 20'000'000, cp932});
            list.push_back({"2MB typical", Shape::Typical, 2'000'000, cp932});
            list.push_back({"1M short lines", Shape::ShortLines, 1'000'000, cp932});
            // Short enough that every cut in it goes in place after an edit.
            list.push_back({"60KB line", Shape::OneLine, 60'000, cp932});
            list.push_back({"100KB line", Shape::OneLine, 100'000, cp932});
            list.push_back({"10MB line", Shape::OneLine, 10'000'000, cp932});
        }
        return list;
    }();
    return all;
}

QString caseName(const Case& c) {
    return QString::fromLatin1(c.name) + (c.cp932 ? u" CP932"_s : u" UTF-8"_s);
}

// A fixed pseudo-random sequence (splitmix64), so every run writes the same files.
class Sequence {
public:
    quint32 below(quint32 n) {
        state_ += 0x9e3779b97f4a7c15ULL;
        quint64 z = state_;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return static_cast<quint32>((z ^ (z >> 31)) % n);
    }

private:
    quint64 state_ = 20240601;
};

// Words of both scripts, all with the same code in CP932 and Shift_JIS.
const QStringList kJapanese = {
    u"日本語"_s,   u"文字列"_s,   u"表示"_s,         u"ファイル"_s, u"保存"_s,     u"開く"_s,
    u"テキスト"_s, u"エラー"_s,   u"一般保護違反"_s, u"です"_s,     u"ました"_s,   u"の"_s,
    u"を"_s,       u"に"_s,       u"は"_s,           u"が"_s,       u"設定"_s,     u"画面"_s,
    u"東京"_s,     u"漢字"_s,     u"ひらがな"_s,     u"カタカナ"_s, u"メモリ"_s,   u"アドレス"_s,
    u"実行時"_s,   u"読み込み"_s, u"、"_s,           u"。"_s,       u"「報告」"_s, u"（全角）"_s};
const QStringList kAscii = {u"the"_s,   u"error"_s, u"file"_s,       u"module"_s,   u"0008:3e0f"_s,
                            u"stack"_s, u"dump"_s,  u"Registers:"_s, u"EIP=7e0f"_s, u"return"_s,
                            u"value"_s, u"="_s,     u"//"_s,         u"#include"_s, u"42"_s};
const QString kShortLineChars = u"あいうえおかきくけこ日本語文字列表示漢字カタカナabcxyz"_s;

qint64 encodedSize(QStringView text, bool cp932) {
    qint64 size = 0;
    for (const QChar c : text) {
        size += c.unicode() < 0x80 ? 1 : (cp932 ? 2 : 3);
    }
    return size;
}

// A case's text with LF line ends, every line ended.
QString makeText(const Case& c) {
    Sequence next;
    auto pick = [&](const auto& list) {
        return list[next.below(static_cast<quint32>(list.size()))];
    };
    const qint64 lineEnd = c.cp932 ? 2 : 1;
    QString text;
    if (c.shape == Shape::ShortLines) {
        for (qint64 i = 0; i < c.size; ++i) {
            text += QString::number(i).rightJustified(6, u'0') + u' ';
            for (quint32 k = 3 + next.below(6); k > 0; --k) {
                text += pick(kShortLineChars);
            }
            text += u'\n';
        }
    } else if (c.shape == Shape::OneLine) {
        // The hardest line to wrap: nowhere to break it, as in the data of
        // an embedded picture, behind a short Japanese label.
        text = u"埋め込み画像 data:image/png;base64,"_s;
        static const QString alphabet =
            u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"_s;
        for (qint64 n = c.size - encodedSize(text, c.cp932) - lineEnd; n > 0; --n) {
            text += pick(alphabet);
        }
        text += u'\n';
    } else {
        // Lines of up to 15 words, a sixteenth of them empty; Japanese words
        // run together, any other pair of words has a space between.
        for (qint64 size = 0; size < c.size; size += lineEnd) {
            const qsizetype start = text.size();
            bool lastJapanese = true;
            for (quint32 i = next.below(16); i > 0; --i) {
                const bool japanese = next.below(2) == 0;
                if (text.size() > start && !(japanese && lastJapanese)) {
                    text += u' ';
                }
                text += pick(japanese ? kJapanese : kAscii);
                lastJapanese = japanese;
            }
            size += encodedSize(QStringView(text).mid(start), c.cp932);
            text += u'\n';
        }
    }
    return text;
}

QByteArray encode(const QString& text, bool cp932) {
    if (!cp932) {
        return text.toUtf8();
    }
    QStringEncoder encoder("CP932");
    return encoder.encode(text);
}

// ---------------------------------------------------------------- In the program

// What the program's process watches: the paints of the text box, and the
// moment the text box acted on a key (moved its cursor or changed its text),
// which is when the key was really handled, however long it waited.
struct Watch {
    QObject* viewport = nullptr;
    std::function<bool()> shows;        // The text box holds the whole file.
    std::function<void()> onShownPaint; // Once, right after the first paint that shows it.
    qint64 shownPaintEnd = 0;
    bool keySent = false;
    qint64 keyAt = 0;
    qint64 paintAfterKeyEnd = 0;

    void sent() {
        keySent = true;
        keyAt = paintAfterKeyEnd = 0;
    }
    void acted() {
        if (keySent && keyAt == 0) {
            keyAt = nowNs();
        }
    }
};

class BenchApplication : public QApplication {
public:
    using QApplication::QApplication;
    Watch watch;

    bool notify(QObject* receiver, QEvent* event) override {
        Watch& w = watch;
        if (receiver != w.viewport || event->type() != QEvent::Paint) {
            return QApplication::notify(receiver, event);
        }
        const qint64 start = nowNs();
        const bool showing = w.shows && w.shows();
        const bool result = QApplication::notify(receiver, event);
        const qint64 end = nowNs();
        if (showing && w.shownPaintEnd == 0) {
            w.shownPaintEnd = end;
            if (w.onShownPaint) {
                w.onShownPaint();
            }
        }
        if (w.keyAt != 0 && start >= w.keyAt && w.paintAfterKeyEnd == 0) {
            w.paintAfterKeyEnd = end;
        }
        return result;
    }
};

bool busy(const QWidget* top) {
    const auto isBusy = [](Qt::CursorShape s) {
        return s == Qt::WaitCursor || s == Qt::BusyCursor;
    };
    const QCursor* override = QGuiApplication::overrideCursor();
    return (override != nullptr && isBusy(override->shape())) || isBusy(top->cursor().shape());
}

// One line of figures per repetition on standard output, "fail WHY" when
// the file could not be opened or saved, and the peak memory at the end.
int runProgram(BenchApplication& app, const QString& path, const QString& savePath,
               const Digest& expected, int reps, int limitS) {
    rt::setUpApplication(rt::versionRecord());
    yonamito::MainWindow window;
    rt::FrmMain& f = window.controls();
    window.form().load();
    window.form().show();
    f.ShowSui.button()->click();
    auto* edit = qobject_cast<QPlainTextEdit*>(f.Tex.widget());
    if (edit == nullptr) {
        edit = f.Tex.widget()->findChild<QPlainTextEdit*>();
    }
    QWidget* top = window.form().window();
    if (edit == nullptr || !waitFor([&] { return top->windowHandle()->isExposed(); }, 10000)) {
        std::puts("fail the window never showed");
        return 1;
    }
    top->activateWindow();
    waitFor([&] { return top->isActiveWindow(); }, 3000);
    edit->setFocus();
    settle(300);

    Keyboard keyboard(top->winId());
    if (!keyboard.ok()) {
        std::puts("fail cannot reach the X display");
        return 1;
    }
    // Whatever reports an error (the runtime's default handling, or a
    // message box of the command's own) ends the repetition as a failure;
    // a box is closed at once so that nothing waits for a user.
    QString failure;
    rt::setErrorHook([&](const rt::RuntimeError& e) {
        failure = u"runtime error %1: %2"_s.arg(e.code()).arg(e.message());
    });
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, &boxCloser, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            const auto* box = qobject_cast<QMessageBox*>(dialog);
            failure = u"message box: "_s + (box != nullptr ? box->text() : dialog->windowTitle());
            dialog->done(QDialog::Rejected);
        }
    });
    boxCloser.start(50);
    rt::CommonDialog::setScript([&](rt::CommonDialog::Mode mode, const QString&) {
        return mode == rt::CommonDialog::Mode::Open ? path : savePath;
    });

    Watch& w = app.watch;
    w.viewport = edit->viewport();
    QObject::connect(edit, &QPlainTextEdit::cursorPositionChanged, edit, [&w] { w.acted(); });
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [&w] { w.acted(); });
    w.shows = [&] { return edit->document()->characterCount() - 1 >= expected.chars; };
    auto fail = [&](const QString& why) {
        std::printf("fail %s\n", qPrintable(QString(why).replace(u'\n', u' ')));
        return 0;
    };
    const qint64 limitNs = qint64(limitS) * 1'000'000'000;
    for (int rep = 0; rep < reps; ++rep) {
        failure.clear();
        f.mnu_New.button()->click();
        QFile::remove(savePath);
        settle(300);

        // Open, and at the first paint that shows the file a key that moves
        // the cursor, as a user who starts as soon as the text appears.
        w.shownPaintEnd = w.keyAt = 0;
        w.keySent = false;
        w.onShownPaint = [&] {
            w.sent();
            keyboard.type(edit->textCursor().atEnd() ? "Left" : "Right");
        };
        const qint64 t0 = nowNs();
        f.mnu_Open.button()->click();
        const qint64 returned = nowNs();
        qint64 readyAt = w.shows() ? returned : 0;
        // The command may still be at work after it returned; it says so
        // with the busy cursor. Without it, a short grace decides.
        while (readyAt == 0 && failure.isEmpty() && nowNs() - t0 < limitNs &&
               (nowNs() - returned < 2'000'000'000 || busy(top))) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            readyAt = w.shows() ? nowNs() : 0;
        }
        if (!failure.isEmpty()) {
            return fail(u"Open: "_s + failure);
        }
        if (readyAt == 0) {
            return fail(
                nowNs() - t0 >= limitNs
                    ? u"Open: no text after %1 s"_s.arg(limitS)
                    : u"Open refused without a word: the text box does not show the file"_s);
        }
        if (!waitFor([&] { return w.keyAt != 0; }, qint64(limitS) * 1000)) {
            return fail(u"Open: the window never answered a key"_s);
        }
        w.onShownPaint = nullptr;
        const qint64 answeredAt = w.keyAt;
        const Digest shown = digestOf(f.Tex.text());
        if (shown.chars != expected.chars || shown.hash != expected.hash) {
            return fail(
                u"Open: the text box shows another text (%1 characters, not %2)"_s.arg(shown.chars)
                    .arg(expected.chars));
        }

        const qint64 s0 = nowNs();
        f.mnu_Save.button()->click();
        const qint64 saved = nowNs() - s0;
        if (!failure.isEmpty() || !QFile::exists(savePath)) {
            return fail(u"Save: "_s + (failure.isEmpty() ? u"no file written"_s : failure));
        }

        std::printf("rep open=%.3f shown=%.3f answer=%.3f save=%.3f\n", ms(readyAt - t0),
                    ms(w.shownPaintEnd - t0), ms(answeredAt - t0), ms(saved));
        std::fflush(stdout);

        // Typing at the cursor, where the view is, and taking it back.
        QStringList keys;
        for (const char* key : {"x", "BackSpace", "x", "BackSpace"}) {
            settle(60);
            const qint64 k0 = nowNs();
            w.sent();
            keyboard.type(key);
            if (!waitFor([&] { return w.paintAfterKeyEnd != 0; }, qint64(limitS) * 1000)) {
                std::printf("keysfail no paint within %d s of a keystroke\n", limitS);
                return 0;
            }
            keys << QString::number(ms(w.paintAfterKeyEnd - k0), 'f', 3);
        }
        std::printf("keys %s\n", qPrintable(keys.join(u' ')));
        std::fflush(stdout);
    }
    std::printf("peak %lld\n", peakKiB());
    return 0;
}

// ---------------------------------------------------------------- The floor

int runFloor(const QString& path, const QString& outPath, bool cp932, int reps) {
    rt::setUpApplication(rt::versionRecord());
    const rt::ControlDescription* tex = nullptr;
    for (const rt::ControlDescription& d : rt::frmMainDescription().controls) {
        if (d.name == u"Tex"_s) {
            tex = &d;
        }
    }
    QPlainTextEdit edit;
    edit.resize(rt::toPixels(tex->width), rt::toPixels(tex->height));
    QFont font = edit.font();
    rt::setFace(font, tex->font->name);
    font.setPointSizeF(tex->font->points);
    edit.setFont(font);
    edit.show();
    waitFor([&] { return edit.windowHandle()->isExposed(); }, 10000);
    settle(300);
    for (int rep = 0; rep < reps; ++rep) {
        edit.clear();
        settle(300);
        const qint64 t0 = nowNs();
        // A read or a write that fails shows in the bytes written, which
        // the driver compares with the file.
        QFile in(path);
        in.open(QIODevice::ReadOnly);
        const QByteArray bytes = in.readAll();
        in.close();
        QString text;
        if (cp932) {
            QStringDecoder decoder("CP932");
            text = decoder.decode(bytes);
        } else {
            text = QString::fromUtf8(bytes);
        }
        edit.setPlainText(text);
        text.clear();
        QString back = edit.toPlainText();
        if (cp932) {
            back.replace(u'\n', u"\r\n"_s);
        }
        const QByteArray out = encode(back, cp932);
        QFile file(outPath);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(out);
        file.close();
        std::printf("rep floor=%.3f\n", ms(nowNs() - t0));
        std::fflush(stdout);
    }
    std::printf("peak %lld\n", peakKiB());
    return 0;
}

// ---------------------------------------------------------------- The driver

// What one child process reported.
struct Child {
    std::vector<std::map<QString, double>> reps;
    std::vector<double> keys;
    QString failure;     // Empty when every repetition completed.
    QString keysFailure; // Empty when every keystroke was painted.
    double peakMiB = std::nan("");

    double med(const QString& key) const {
        std::vector<double> values;
        for (const auto& rep : reps) {
            values.push_back(rep.at(key));
        }
        return median(values);
    }
};

// Runs this program again with the arguments, reading its lines as they
// come; a child that reports nothing for the time limit is stopped.
Child runChild(const QStringList& arguments, int limitS) {
    Child child;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    QElapsedTimer quiet;
    quiet.start();
    QByteArray pending;
    QString lastKind;
    bool stopped = false;
    bool running = process.waitForStarted();
    while (running) {
        running = process.state() != QProcess::NotRunning;
        process.waitForReadyRead(100);
        pending += process.readAllStandardOutput();
        qsizetype nl = 0;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(nl));
            pending.remove(0, nl + 1);
            quiet.restart();
            const QString kind = line.section(u' ', 0, 0);
            const QString rest = line.section(u' ', 1);
            if (kind == u"fail"_s) {
                child.failure = rest;
            } else if (kind == u"keysfail"_s) {
                child.keysFailure = rest;
            } else if (kind == u"peak"_s) {
                child.peakMiB = rest.toDouble() / 1024.0;
            } else if (kind == u"keys"_s) {
                for (const QString& k : rest.split(u' ')) {
                    child.keys.push_back(k.toDouble());
                }
            } else if (kind == u"rep"_s) {
                std::map<QString, double> rep;
                for (const QString& field : rest.split(u' ')) {
                    rep[field.section(u'=', 0, 0)] = field.section(u'=', 1).toDouble();
                }
                child.reps.push_back(rep);
            }
            lastKind = kind;
        }
        if (running && quiet.elapsed() > qint64(limitS) * 1000) {
            // Stuck after an Open and a Save that went well: in a keystroke.
            (lastKind == u"rep"_s ? child.keysFailure : child.failure) =
                u"stopped after %1 s without a result"_s.arg(limitS);
            child.peakMiB =
                static_cast<double>(peakKiB(QString::number(process.processId()))) / 1024.0;
            process.kill();
            process.waitForFinished();
            stopped = true;
            running = false;
        }
    }
    if (!stopped && child.failure.isEmpty() &&
        (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)) {
        child.failure = u"ended abnormally"_s;
    }
    return child;
}

QString number(double value, int decimals = 1) {
    return std::isnan(value) ? u"-"_s : QString::number(value, 'f', decimals);
}

struct Result {
    Case c;
    double mib = 0;
    Child program;
    Child floor;
    QString saved; // Whether Save wrote the bytes that were opened.

    double openSave() const {
        std::vector<double> sums;
        for (const auto& rep : program.reps) {
            sums.push_back(rep.at(u"open"_s) + rep.at(u"save"_s));
        }
        return program.failure.isEmpty() ? median(sums) : std::nan("");
    }
    double med(const QString& key) const {
        return program.failure.isEmpty() ? program.med(key) : std::nan("");
    }
    double floorMs() const {
        return floor.failure.isEmpty() ? floor.med(u"floor"_s) : std::nan("");
    }
    // Why the program's figures are missing, in a word; empty when none is.
    QString miss() const {
        const QString& f = program.failure;
        return f.isEmpty()                  ? QString()
               : f.startsWith(u"stopped"_s) ? u"timed out"_s
               : f.startsWith(u"Open"_s)    ? u"refused"_s
                                            : u"failed"_s;
    }
};

Result measure(const Case& c, const QTemporaryDir& dir, int reps, int limitS) {
    Result r{c, 0, {}, {}, {}};
    const QString path = dir.filePath(u"file.txt"_s);
    const QString saved = dir.filePath(u"saved.txt"_s);
    const QString floorOut = dir.filePath(u"floor.txt"_s);
    QByteArray bytes;
    Digest digest;
    {
        QString text = makeText(c);
        digest = digestOf(text);
        if (c.cp932) {
            text.replace(u'\n', u"\r\n"_s);
        }
        bytes = encode(text, c.cp932);
    }
    r.mib = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        r.program.failure = r.floor.failure = u"cannot write the file"_s;
        return r;
    }
    file.close();
    const QStringList common{u"--reps"_s, QString::number(reps), u"--limit"_s,
                             QString::number(limitS)};
    r.program = runChild(QStringList{u"--program"_s, path, u"--out"_s, saved, u"--chars"_s,
                                     QString::number(digest.chars), u"--hash"_s,
                                     QString::fromLatin1(digest.hash)} +
                             common,
                         limitS + 30);
    r.floor = runChild(QStringList{u"--floor"_s, path, u"--out"_s, floorOut, u"--encoding"_s,
                                   c.cp932 ? u"CP932"_s : u"UTF-8"_s} +
                           common,
                       limitS + 30);
    auto sameBytes = [&](const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) && f.readAll() == bytes;
    };
    r.saved = !QFile::exists(saved) ? u"-"_s : sameBytes(saved) ? u"same"_s : u"differ"_s;
    if (r.floor.failure.isEmpty() && !sameBytes(floorOut)) {
        r.floor.failure = u"the floor wrote other bytes"_s;
    }
    for (const QString& p : {path, saved, floorOut}) {
        QFile::remove(p);
    }
    return r;
}

void printTable(const std::vector<Result>& results) {
    const char* row = "%-20s %6s %7s %6s %9s %7s %6s %7s %7s %6s %7s %6s %6s %6s\n";
    std::printf(row, "file", "MiB", "open", "save", "open+save", "floor", "ratio", "shown",
                "answer", "key", "key max", "peak", "floor", "saved");
    std::printf(row, "", "", "ms", "ms", "ms", "ms", "", "ms", "ms", "ms", "ms", "MiB", "MiB",
                "bytes");
    for (const Result& r : results) {
        const std::vector<double>& keys = r.program.keys;
        const bool ok = r.program.failure.isEmpty();
        const double keyMax =
            keys.empty() ? std::nan("") : *std::max_element(keys.begin(), keys.end());
        std::printf(row, qPrintable(caseName(r.c)), qPrintable(number(r.mib, 2)),
                    qPrintable(number(r.med(u"open"_s))), qPrintable(number(r.med(u"save"_s))),
                    qPrintable(number(r.openSave())), qPrintable(number(r.floorMs())),
                    qPrintable(number(r.openSave() / r.floorMs(), 2)),
                    qPrintable(number(r.med(u"shown"_s))), qPrintable(number(r.med(u"answer"_s))),
                    qPrintable(number(median(keys), 2)), qPrintable(number(keyMax, 2)),
                    qPrintable(number(r.program.peakMiB)), qPrintable(number(r.floor.peakMiB)),
                    qPrintable(ok ? r.saved : u"-"_s));
        if (!ok) {
            std::printf("%-20s program %s: %s\n", "", qPrintable(r.miss()),
                        qPrintable(r.program.failure));
        }
        if (!r.program.keysFailure.isEmpty()) {
            std::printf("%-20s keystrokes: %s\n", "", qPrintable(r.program.keysFailure));
        }
        if (!r.floor.failure.isEmpty()) {
            std::printf("%-20s floor: %s\n", "", qPrintable(r.floor.failure));
        }
    }
}

// One line per goal that the measured files allow to judge.
void printGoals(const std::vector<Result>& results) {
    auto find = [&](const char* name, bool cp932) -> const Result* {
        for (const Result& r : results) {
            if (std::strcmp(r.c.name, name) == 0 && r.c.cp932 == cp932) {
                return &r;
            }
        }
        return nullptr;
    };
    std::printf("\n%-62s %11s %11s  %s\n", "goal", "measured", "limit", "result");
    auto goal = [](const QString& what, double value, const char* unit, double limit,
                   const QString& miss) {
        const bool pass = miss.isEmpty() && value <= limit;
        const int decimals = std::strcmp(unit, "x") == 0 ? 2 : 1;
        std::printf("%-62s %11s %11s  %s\n", qPrintable(what),
                    qPrintable(std::isnan(value) ? u"-"_s : number(value, decimals) + u' ' + unit),
                    qPrintable(u"<= "_s + QString::number(limit) + u' ' + unit),
                    qPrintable(pass             ? u"PASS"_s
                               : miss.isEmpty() ? u"MISS"_s
                                                : u"MISS ("_s + miss + u')'));
    };
    auto openGoals = [&](const Result* r, double limitMs) {
        if (r != nullptr) {
            goal(caseName(r->c) + u": open to answering input"_s, r->med(u"answer"_s), "ms",
                 limitMs, r->miss());
            goal(caseName(r->c) + u": peak memory"_s, r->program.peakMiB, "MiB", 300, r->miss());
        }
    };
    openGoals(find("10MB line", true), 1000);
    openGoals(find("10MB line", false), 1000);
    openGoals(find("1M short lines", true), 4000);
    for (const bool cp932 : {true, false}) {
        const Result* big = find("20MB typical", cp932);
        const Result* small = find("2MB typical", cp932);
        if (big != nullptr) {
            goal(caseName(big->c) + u": Open+Save / floor"_s, big->openSave() / big->floorMs(), "x",
                 1.2,
                 big->miss().isEmpty() && std::isnan(big->floorMs()) ? u"no floor"_s : big->miss());
        }
        if (big != nullptr && small != nullptr) {
            goal(caseName(big->c) + u": Open+Save / that of 2MB"_s,
                 big->openSave() / small->openSave(), "x", 11,
                 big->miss().isEmpty() ? small->miss() : big->miss());
        }
    }
    // The keystroke goal holds for every document, so the worst one decides.
    const Result* worst = nullptr;
    QStringList unopened;
    for (const Result& r : results) {
        if (!r.miss().isEmpty() || !r.program.keysFailure.isEmpty()) {
            unopened << caseName(r.c);
        } else if (worst == nullptr || median(r.program.keys) > median(worst->program.keys)) {
            worst = &r;
        }
    }
    if (!results.empty()) {
        goal(u"keystroke to repaint, every file (worst: "_s +
                 (worst != nullptr ? caseName(worst->c) : u"-"_s) + u')',
             worst != nullptr ? median(worst->program.keys) : std::nan(""), "ms", 16,
             unopened.isEmpty() ? QString() : u"not measured: "_s + unopened.join(u", "_s));
    }
}

int runDriver(int reps, int limitS, const QString& only) {
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_open_save: no temporary folder\n");
        return 2;
    }
    std::vector<Result> results;
    for (const Case& c : cases()) {
        if (only.isEmpty() || caseName(c).contains(only, Qt::CaseInsensitive)) {
            std::fprintf(stderr, "bench_open_save: %s\n", qPrintable(caseName(c)));
            results.push_back(measure(c, dir, reps, limitS));
        }
    }
    std::printf("open/save benchmark: %d repetitions of each file, medians; "
                "Open+Save against the floor, time limit %d s a repetition\n",
                reps, limitS);
    printTable(results);
    printGoals(results);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    benchClock().start();
    // Every option takes a value; the driver starts its children with the
    // ones it does not take itself.
    std::map<QString, QString> option{
        {u"--reps"_s, u"5"_s}, {u"--limit"_s, u"30"_s}, {u"--only"_s, {}},
        {u"--program"_s, {}},  {u"--floor"_s, {}},      {u"--out"_s, {}},
        {u"--chars"_s, {}},    {u"--hash"_s, {}},       {u"--encoding"_s, {}}};
    for (int i = 1; i < argc; i += 2) {
        const auto known = option.find(QString::fromLocal8Bit(argv[i]));
        if (known == option.end() || i + 1 == argc) {
            std::fprintf(stderr,
                         "usage: bench_open_save [--reps N] [--limit SECONDS] [--only TEXT]\n");
            return 2;
        }
        known->second = QString::fromLocal8Bit(argv[i + 1]);
    }
    const int reps = std::max(1, option[u"--reps"_s].toInt());
    const int limitS = std::max(1, option[u"--limit"_s].toInt());
    const QString& program = option[u"--program"_s];
    if (program.isEmpty() && option[u"--floor"_s].isEmpty()) {
        QCoreApplication app(argc, argv);
        return runDriver(reps, limitS, option[u"--only"_s]);
    }
    BenchApplication app(argc, argv);
    if (QGuiApplication::platformName() != u"xcb"_s) {
        std::puts("fail needs the xcb platform (a virtual X display: bench/open_save.sh)");
        return 2;
    }
    const Digest expected{option[u"--chars"_s].toLongLong(), option[u"--hash"_s].toLatin1()};
    return program.isEmpty() ? runFloor(option[u"--floor"_s], option[u"--out"_s],
                                        option[u"--encoding"_s] == u"CP932"_s, reps)
                             : runProgram(app, program, option[u"--out"_s], expected, reps, limitS);
}

// ---------------------------------------------------------------- Keyboard
// Xlib comes last: its macros (KeyPress, None, Bool, ...) would rename
// Qt's own names in everything after it.

#include <X11/Xlib.h>

namespace {

Keyboard::Keyboard(WId window) : display_(XOpenDisplay(nullptr)), window_(window) {}

Keyboard::~Keyboard() {
    if (display_ != nullptr) {
        XCloseDisplay(static_cast<Display*>(display_));
    }
}

void Keyboard::type(const char* keysym) {
    auto* display = static_cast<Display*>(display_);
    XKeyEvent key{};
    key.display = display;
    key.window = window_;
    key.root = DefaultRootWindow(display);
    key.time = CurrentTime;
    key.same_screen = True;
    key.keycode = XKeysymToKeycode(display, XStringToKeysym(keysym));
    // Sent to the program that made the window, as the server sends the
    // keys of the window that has the focus.
    for (const int type : {KeyPress, KeyRelease}) {
        key.type = type;
        XEvent event{};
        event.xkey = key;
        XSendEvent(display, window_, False, NoEventMask, &event);
    }
    XFlush(display);
}

} // namespace
