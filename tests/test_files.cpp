// Files through the real Open and Save buttons, with scripted file dialogs:
// what a user opens comes back byte for byte, what the file carried on disk
// survives a save, and every failure is told in exactly one message box
// while the text and the file stay as they were.

#include "textfile/textfile.h"
#include "window_test.h"

#include <QDir>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <iconv.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using testfiles::readAll;
using testfiles::writeAll;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

// Text in an encoding, as glibc writes it.
QByteArray in(const char* encoding, const QString& text) {
    iconv_t cd = iconv_open(encoding, "UTF-16LE");
    QByteArray out(text.size() * 8 + 16, '\0');
    const char* src = reinterpret_cast<const char*>(text.utf16());
    std::size_t srcLeft = std::size_t(text.size()) * 2;
    char* dest = out.data();
    std::size_t destLeft = std::size_t(out.size());
    iconv(cd, const_cast<char**>(&src), &srcLeft, &dest, &destLeft);
    iconv(cd, nullptr, nullptr, &dest, &destLeft);
    iconv_close(cd);
    out.truncate(out.size() - qsizetype(destLeft));
    return out;
}

QByteArray cp932(const char* utf8) {
    return in("CP932", QString::fromUtf8(utf8));
}

int failingSync(int) {
    errno = EIO;
    return -1;
}

struct stat statOf(const QString& path) {
    struct stat st {};
    stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Runs a step with the file permissions of the unprivileged user when the
// tests run as root, so that the permission rows mean something either way.
// Only the file-system identity changes, and only for this thread.
bool asNobody(const std::function<bool()>& step) {
    if (geteuid() != 0)
        return step();
    setfsgid(kNoGroup);
    setfsuid(kNobody);
    const bool ok = step();
    setfsuid(0);
    setfsgid(0);
    return ok;
}

} // namespace

class TestFiles : public WindowTest {
    Q_OBJECT

private:
    QString smallFs_;

    // Exactly one critical box, titled with the program's name, naming the
    // file. A test fails with the boxes it saw.
    bool toldOnce(const QString& name) const {
        return boxes_.size() == 1 && boxes_[0].startsWith(u"ヨナミト|"_s) &&
               boxes_[0].contains(name) && boxes_[0].contains(u"実行時エラー"_s);
    }

private slots:
    void initTestCase() {
        setUpRuntime();
        QVERIFY(dir_.isValid());
        // Others may pass through, so that the rows run as nobody reach
        // their files.
        chmod(QFile::encodeName(dir_.path()).constData(), 0711);
    }

    void init() { QVERIFY(start(true, true)); }

    void cleanup() { app_.reset(); }

    void cleanupTestCase() {
        if (!smallFs_.isEmpty())
            umount(QFile::encodeName(smallFs_).constData());
    }

    // A file opened and saved again, or (no file) a text of the program's
    // own after New: what the text box shows (null: not compared), the edit
    // made (every `from` in the text becomes `to`; none: unchanged) and the
    // bytes saved (null: the file's own bytes; for an edit, the file's bytes
    // with every `fromBytes` replaced by `toBytes`, so that all the rest is
    // compared byte for byte).
    void bytesComeBack_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QByteArray>("fromBytes");
        QTest::addColumn<QByteArray>("toBytes");
        const QByteArray same;
        const QString none;
        auto row = [&](const char* name, const QByteArray& file, const QString& shown) {
            QTest::addRow("%s", name) << file << shown << none << none << same << same;
        };
        auto edit = [&](const char* name, const QByteArray& file, const QString& from,
                        const QString& to, const QByteArray& fromBytes, const QByteArray& toBytes) {
            QTest::addRow("%s, edited", name)
                << file << QString() << from << to << fromBytes << toBytes;
        };
        const QString jp = u"日本語の名前「テスト」\r\n二行目\r\n"_s;
        row("UTF-8, LF", u"日本語\nabc\n"_s.toUtf8(), u"日本語\r\nabc"_s);
        row("UTF-8 with BOM, CR LF", "\xEF\xBB\xBF" + u"〜😀\r\n"_s.toUtf8(), u"〜😀"_s);
        row("CP932, CR LF", cp932("ヨナミト\r\nﾃｷｽﾄ\r\n"), u"ヨナミト\r\nﾃｷｽﾄ"_s);
        row("CP932, no line end", cp932("日本語"), u"日本語"_s);
        row("Latin-1", "caf\xE9\r\nna\xEFve\r\n", none);
        row("UTF-8, one stray 0xFF", u"日本語"_s.toUtf8() + "\xFF\n", u"日本語"_s + QChar(0xDCFF));
        row("controls", QByteArray("a\0b\x01\x1B\x7F\n", 7), u"a\0b\x01\x1B\x7F"_s);
        row("CP932 NEC, IBM, NEC-selected IBM", "\x87\x40\xFA\x40\xED\x40\xFA\x4A\r\n", u"①ⅰ纊Ⅰ"_s);
        row("CP932, both codes of ≒ and ∵", "\x87\x90\x81\xE0\x87\x9A\x81\xE6\r\n", u"≒≒∵∵"_s);
        row("CP932, stray bytes next to codes", "\x82\x82\xA0\x81\r\n\x80\x82\xA0\xFF", none);
        row("UTF-16 LE with BOM", in("UTF-16", u"a\r\n日"_s), u"a\r\n日"_s);
        row("UTF-16 LE without BOM", in("UTF-16LE", jp), jp.chopped(2));
        row("UTF-16 BE without BOM", in("UTF-16BE", jp), jp.chopped(2));
        row("UTF-16 LE, lone surrogate, odd length", QByteArray("\xFF\xFEx\0\0\xD8z\0\n\0y", 11),
            u"x"_s + QChar(0xDC00) + QChar(0xDCD8) + u"z\r\n"_s + QChar(0xDC79));
        row("UTF-32 LE with BOM", in("UTF-32", jp), jp.chopped(2));
        row("UTF-32 BE with BOM", "\0\0\xFE\xFF" + in("UTF-32BE", jp), jp.chopped(2));
        row("EUC-JP with NEC row 13", in("EUC-JP-MS", u"①プログラム\n"_s + jp), none);
        row("EUC-JP read as something else", "\xA4\xA2", none);
        row("Shift_JIS-2004", in("SHIFT_JISX0213", u"か゚𠀋\r\n"_s + jp),
            u"か゚𠀋\r\n"_s + jp.chopped(2));
        row("EUC-JIS-2004", in("EUC-JISX0213", u"か゚𠀋\n"_s + jp), none);
        row("ISO-2022-JP", in("ISO-2022-JP", jp), jp.chopped(2));
        row("ISO-2022-JP, ESC $ @ and ESC ( J", "\x1B$@F|\x1B(J\\~\r\n", u"日¥‾"_s);
        row("ISO-2022-JP, redundant escapes, no final ESC ( B",
            "\x1B(B\x1B$B\x1B$BF|\x1B$BK\\\r\nF|", u"日本\r\n日"_s);
        const QByteArray escapeLast = "\x1B$BF|\x1B(B\r\nb\r\n\x1B(B";
        row("ISO-2022-JP, an escape after the last line end", escapeLast, u"日\r\nb"_s);
        row("ISO-2022-JP, a line of only an escape between CR and LF",
            "\x1B$BF|\x1B(B\r\x1B&@\nb\n", u"日\r\n\r\nb"_s);
        row("ISO-2022-JP-2004", "\x1B$B$+\x1B$(O&n\x1B(B\n", none);
        row("no final LF", "a\nb", u"a\r\nb"_s);
        row("mixed, LF first", "a\nb\r\nc\rd", u"a\r\nb\r\nc\r\nd"_s);
        row("ends in an empty line", "a\r\n\r\n", u"a\r\n"_s);
        row("empty file", "", u""_s);
        row("exactly the size limit", QByteArray(1000, 'x') + "\r\n", none);
        QTest::addRow("New, empty")
            << QByteArray() << u""_s << none << none << same << QByteArray("\r\n");
        QTest::addRow("New, Japanese") << QByteArray() << u"ヨナミト ﾃｽﾄ\r\n日本"_s << none << none
                                       << same << cp932("ヨナミト ﾃｽﾄ\r\n日本\r\n");

        // Lines between two edits keep their own line ends; new lines take
        // the first.
        edit("mixed line ends, two edits", "x\nm\rx\nq\r\n", u"x"_s, u"y\r\nz"_s, "x", "y\nz");
        edit("ISO-2022-JP, an escape after the last line end", escapeLast, u"b"_s, u"c日"_s, "b",
             "c\x1B$BF|\x1B(B");
        edit("CP932, mixed line ends", cp932("一\n二\r\n三\r四"), u"二"_s, u"ニ"_s, cp932("二"),
             cp932("ニ"));
        edit("CP932, both codes kept", "\x87\x90\x81\xE0\r\nx\r\n", u"x"_s, u"y"_s, "x", "y");
        // New text takes the code the file used first.
        edit("CP932, NEC row 13 codes for new text", "\x87\x90\x81\xE0\x87\x9A\r\n", u"≒≒∵"_s,
             u"≒≒∵\r\n∵≒"_s, "\x87\x90\x81\xE0\x87\x9A\r\n",
             "\x87\x90\x81\xE0\x87\x9A\r\n\x87\x9A\x87\x90\r\n");
        edit("CP932, a stray 0x80 copied to a new line",
             "a\x80"
             "b\r\n",
             u"b"_s, u"b\r\na"_s + QChar(0xDC80) + u"b"_s, "b\r\n",
             "b\r\na\x80"
             "b\r\n");
        edit("CP932, one character of a long line", cp932("あ").repeated(5000) + "x\r\n", u"あx"_s,
             u"アx"_s, QByteArray(), QByteArray());
        // Without a line end to go by the code page's CR LF applies, and
        // Japanese stays in the code page.
        edit("Latin-1 without a line end", "caf\xE9", u"caf"_s + QChar(0xDCE9),
             u"caf"_s + QChar(0xDCE9) + u"\r\n日本"_s, "caf\xE9", "caf\xE9\r\n\x93\xFA\x96\x7B");
        // U+FEFF at the start of a file without a mark would read back as
        // one; the mark in front keeps it.
        edit("UTF-8, U+FEFF put first", "abc\n", u"abc"_s, u"\uFEFFabc"_s, "abc",
             "\xEF\xBB\xBF\xEF\xBB\xBF"
             "abc");
        edit("UTF-16 LE without BOM", in("UTF-16LE", jp), u"二"_s, u"ニ😀"_s,
             in("UTF-16LE", u"二"_s), in("UTF-16LE", u"ニ😀"_s));
        edit("UTF-32 BE with BOM", "\0\0\xFE\xFF" + in("UTF-32BE", jp), u"二"_s, u"ニ"_s,
             in("UTF-32BE", u"二"_s), in("UTF-32BE", u"ニ"_s));
        edit("EUC-JP, mixed line ends", in("EUC-JP-MS", u"①\r\n二\n三"_s), u"二"_s, u"ニ"_s,
             in("EUC-JP-MS", u"二"_s), in("EUC-JP-MS", u"ニ"_s));
        edit("Shift_JIS-2004", in("SHIFT_JISX0213", u"か゚𠀋\r\n二\r\n"_s), u"二"_s, u"ニ𠀋"_s,
             in("SHIFT_JISX0213", u"二"_s), in("SHIFT_JISX0213", u"ニ𠀋"_s));
        // The edited line is written afresh, a NUL after a character kept as
        // a NUL; the next line still starts in the set it relied on.
        edit("ISO-2022-JP, state across lines", "\x1B$@F|\r\nK\\\x1B(J\\\r\nF|", u"日"_s,
             u"日\0a"_s, "\x1B$@F|\r\n", QByteArray("\x1B$BF|\0\x1B(Ba\r\n\x1B$B", 15));
    }

    void bytesComeBack() {
        QFETCH(QByteArray, file);
        QFETCH(QString, shown);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QByteArray, fromBytes);
        QFETCH(QByteArray, toBytes);
        const QString name = path(u"file.txt"_s);
        const bool limit = QTest::currentDataTag() == "exactly the size limit"_ba;
        if (file.isNull()) {
            // New forgets the text and the format of the file opened before.
            QVERIFY(writeAll(name, "utf-8\n"));
            open(name);
            click(f().mnu_New);
            QCOMPARE(f().Tex.text(), QString());
            f().Tex.setText(shown);
        } else {
            QVERIFY(writeAll(name, file));
            // One byte more is refused.
            if (limit) {
                rt::setMaxInputFileSize(file.size() - 1);
                press(f().mnu_Open, name);
                QCOMPARE(boxes_.size(), 1);
                rt::setMaxInputFileSize(file.size());
            }
            press(f().mnu_Open, name);
            rt::setMaxInputFileSize(rt::kMaxInputFileSize);
            QCOMPARE(boxes_, QStringList());
            if (!shown.isNull())
                QCOMPARE(f().Tex.text(), shown);
        }
        QByteArray saved = toBytes.isNull() || !file.isNull() ? file : toBytes;
        if (!from.isNull()) {
            QVERIFY(f().Tex.text().contains(from));
            f().Tex.setText(f().Tex.text().replace(from, to));
            saved.replace(fromBytes, toBytes);
        }
        const QString text = f().Tex.text();
        press(f().mnu_Save, name);
        QCOMPARE(boxes_, QStringList());
        if (QTest::currentDataTag() == "CP932, one character of a long line, edited"_ba) {
            // Only the two bytes of the one character differ.
            saved = file;
            saved.replace(2 * 4999, 2, cp932("ア"));
        }
        QCOMPARE(readAll(name), saved);
        QCOMPARE(filter_, u"テキストファイル (*.txt)"_s);
        press(f().mnu_Open, name);
        QCOMPARE(f().Tex.text(), text);
    }

    // A character the file's encoding cannot hold: one question naming it
    // and its line; はい saves all as UTF-8 (with a mark for CP932 and the
    // program's own text), いいえ leaves the file as it was.
    void unheldCharacterAsks_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QString>("typed");
        const QByteArray cp = cp932("一\r\n二\r\n");
        const QByteArray euc = in("EUC-JP-MS", u"一\n二\n"_s);
        const QString emoji = u"😀"_s;
        QTest::addRow("CP932, いいえ") << cp << false << cp << emoji;
        // The code page writes ¥ only as a backslash, which reads back as one.
        QTest::addRow("CP932, ¥, はい")
            << cp << true << "\xEF\xBB\xBF" + u"一\r\n二¥\r\n"_s.toUtf8() << u"¥"_s;
        QTest::addRow("EUC-JP, はい") << euc << true << u"一\n二😀\n"_s.toUtf8() << emoji;
        QTest::addRow("ISO-2022-JP, いいえ") << in("ISO-2022-JP", u"一\n二\n"_s) << false
                                             << in("ISO-2022-JP", u"一\n二\n"_s) << emoji;
        QTest::addRow("New, はい")
            << QByteArray() << true << "\xEF\xBB\xBF" + u"一\r\n二😀\r\n"_s.toUtf8() << emoji;
    }

    void unheldCharacterAsks() {
        QFETCH(QByteArray, file);
        QFETCH(bool, yes);
        QFETCH(QByteArray, saved);
        QFETCH(QString, typed);
        const QString name = path(u"file.txt"_s);
        if (file.isNull()) {
            click(f().mnu_New);
            f().Tex.setText(u"一\r\n二"_s);
            QVERIFY(writeAll(name, "before\n"));
            saved = yes ? saved : "before\n";
        } else {
            QVERIFY(writeAll(name, file));
            open(name);
        }
        f().Tex.setText(f().Tex.text().replace(u"二"_s, u"二"_s + typed));
        reply_ = yes ? QMessageBox::Yes : QMessageBox::No;
        save(name);
        reply_ = QMessageBox::Yes;
        QCOMPARE(boxes_.size(), 1);
        QVERIFY2(boxes_[0].startsWith(u"ヨナミト|2 行目の文字「%1」"_s.arg(typed)),
                 qPrintable(boxes_[0]));
        QCOMPARE(readAll(name), saved);
    }

    // What the old file carried beside its bytes, and where it lives.
    void savedFileKeepsItsPlace_data() {
        QTest::addColumn<QString>("situation");
        for (const char* s :
             {"second hard link", "symbolic link", "read-only folder, as nobody",
              "link-to-read-only-folder, as nobody", "another owner's 0640 file, as root",
              "set-id and sticky bits", "extended attribute"})
            QTest::addRow("%s", s) << QString::fromLatin1(s);
    }

    void savedFileKeepsItsPlace() {
        QFETCH(QString, situation);
        const QString folder = path(situation.section(u' ', 0, 0));
        QDir().mkpath(folder);
        const QByteArray native = QFile::encodeName(folder + u"/file.txt"_s);
        QVERIFY(writeAll(QFile::decodeName(native), "old and longer\nsecond line\n"));
        QString saveAs = QFile::decodeName(native);
        QString readBack = saveAs;
        if (situation == u"second hard link"_s) {
            readBack = folder + u"/other.txt"_s;
            QVERIFY(link(native.constData(), QFile::encodeName(readBack).constData()) == 0);
        } else if (situation == u"symbolic link"_s) {
            saveAs = folder + u"/link.txt"_s;
            QVERIFY(QFile::link(readBack, saveAs));
        } else if (situation.startsWith(u"link-to"_s)) {
            // The link's folder is writable, the file's is not: the file is
            // written in place.
            const QString locked = folder + u"/locked"_s;
            QDir().mkpath(locked);
            readBack = locked + u"/file.txt"_s;
            QVERIFY(QFile::rename(QFile::decodeName(native), readBack));
            QVERIFY(QFile::link(readBack, QFile::decodeName(native)));
            chmod(QFile::encodeName(readBack).constData(), 0666);
            chmod(QFile::encodeName(folder).constData(), 0777);
            chmod(QFile::encodeName(locked).constData(), 0555);
        } else if (situation.startsWith(u"set-id"_s)) {
            QVERIFY(chmod(native.constData(), 03664) == 0);
        } else if (situation.startsWith(u"read-only"_s)) {
            chmod(native.constData(), 0666);
            chmod(QFile::encodeName(folder).constData(), 0555);
        } else if (situation.startsWith(u"another"_s)) {
            if (geteuid() != 0)
                QSKIP("only root can give a file to another user");
            QVERIFY(chown(native.constData(), 4321, 4321) == 0 &&
                    chmod(native.constData(), 0640) == 0);
        } else if (setxattr(native.constData(), "user.yonamito", "kept", 4, 0) != 0) {
            QSKIP("this file system takes no user attributes");
        }
        const struct stat old = statOf(readBack);
        // A shorter text, so that an old tail left behind shows.
        auto openEditSave = [&] {
            press(f().mnu_Open, saveAs);
            f().Tex.setText(u"new"_s);
            press(f().mnu_Save, saveAs);
            return boxes_.isEmpty() && readAll(readBack) == "new\n";
        };
        const bool asOther = situation.endsWith(u"nobody"_s);
        if (asOther && !asNobody([this] {
                return faccessat(AT_FDCWD, QFile::encodeName(dir_.path()).constData(), X_OK,
                                 AT_EACCESS) == 0;
            })) {
            chmod(QFile::encodeName(folder).constData(), 0777);
            QSKIP("nobody cannot reach the test folder: a folder above it is closed");
        }
        const bool ok = asOther ? asNobody(openEditSave) : openEditSave();
        chmod(QFile::encodeName(folder).constData(), 0777);
        chmod(QFile::encodeName(folder + u"/locked"_s).constData(), 0777);
        QVERIFY(ok);
        const struct stat now = statOf(readBack);
        QCOMPARE(now.st_uid, old.st_uid);
        QCOMPARE(now.st_gid, old.st_gid);
        QCOMPARE(now.st_mode, old.st_mode);
        QVERIFY(QFileInfo(saveAs).isSymLink() ==
                (situation == u"symbolic link"_s || situation.startsWith(u"link-to"_s)));
        char value[8] = {};
        if (situation == u"extended attribute"_s)
            QCOMPARE(getxattr(native.constData(), "user.yonamito", value, sizeof value), 4);
    }

    // Each failure: exactly one box naming the file; the text and the
    // file as they were. A cancelled dialog says nothing.
    void failuresAreTold_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name");
        QTest::addRow("open: missing file") << false << path(u"missing.txt"_s);
        QTest::addRow("open: a folder") << false << dir_.path();
        QTest::addRow("open: a FIFO") << false << path(u"fifo"_s);
        QTest::addRow("open: over 256 MiB") << false << path(u"huge.txt"_s);
        QTest::addRow("open: unreadable, as nobody") << false << path(u"secret.txt"_s);
        QTest::addRow("open: cancelled") << false << QString();
        QTest::addRow("save: a folder") << true << dir_.path();
        QTest::addRow("save: missing folder") << true << path(u"none/a.txt"_s);
        QTest::addRow("save: a FIFO") << true << path(u"fifo"_s);
        QTest::addRow("save: read-only file, as nobody") << true << path(u"locked.txt"_s);
        QTest::addRow("save: full disk") << true << u"full"_s;
        // Few enough bytes that they all wait in the write buffer for the flush.
        QTest::addRow("save: full disk, the last bytes") << true << u"full, tail"_s;
        QTest::addRow("save: full disk, in place") << true << u"full, linked"_s;
        QTest::addRow("save: over the file size limit, in place")
            << true << u"full, linked, tail"_s;
        // A sync that fails must be told, in place and atomically.
        QTest::addRow("save: sync fails") << true << path(u"sync.txt"_s);
        QTest::addRow("save: sync fails, in place") << true << path(u"sync, linked"_s);
        QTest::addRow("save: cancelled") << true << QString();
    }

    void failuresAreTold() {
        QFETCH(bool, save);
        QFETCH(QString, name);
        mkfifo(QFile::encodeName(path(u"fifo"_s)).constData(), 0600);
        QFile huge(path(u"huge.txt"_s));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(rt::kMaxInputFileSize + 1));
        QVERIFY(writeAll(path(u"secret.txt"_s), "secret\r\n"));
        chmod(QFile::encodeName(path(u"secret.txt"_s)).constData(), 0200);
        QVERIFY(writeAll(path(u"locked.txt"_s), "locked\r\n"));
        chmod(QFile::encodeName(path(u"locked.txt"_s)).constData(), 0444);

        struct rlimit limit {};
        getrlimit(RLIMIT_FSIZE, &limit);
        const struct rlimit unlimited = limit;
        const bool linked = name.contains(u"linked"_s);
        const bool tail = name.endsWith(u"tail"_s);
        const bool sync = name.contains(u"sync"_s);
        if (sync) {
            QVERIFY(writeAll(name, "the old content\r\n"));
            if (linked)
                QVERIFY(link(QFile::encodeName(name).constData(),
                             QFile::encodeName(name + u".link"_s).constData()) == 0);
            rt::setSyncFunction(failingSync);
        }
        if (name.startsWith(u"full"_s)) {
            // As root a small file system fills up; otherwise a file size
            // limit stands in for it.
            const QString folder = path(u"small"_s);
            if (smallFs_.isEmpty() && QDir().mkpath(folder) && geteuid() == 0 &&
                mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=256k") == 0)
                smallFs_ = folder;
            name = folder + u"/full.txt"_s;
            const QByteArray other = QFile::encodeName(name + u".link"_s);
            unlink(other.constData());
            // Longer than the new text in place, so that cutting the file to
            // that length hides no failed write.
            QVERIFY(
                writeAll(name, linked && tail ? QByteArray(20000, 'o') : "the old content\r\n"));
            QVERIFY(!linked || link(QFile::encodeName(name).constData(), other.constData()) == 0);
            std::signal(SIGXFSZ, SIG_IGN);
            limit.rlim_cur = tail ? 4096 : smallFs_.isEmpty() ? 128 * 1024 : limit.rlim_cur;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        f().Tex.setText((QString(99, u'y') + u"\r\n"_s).repeated(tail ? 100 : 4096));
        const QString text = f().Tex.text();
        // Reading a FIFO would block; what is not a file counts as empty.
        auto content = [&name] { return QFileInfo(name).isFile() ? readAll(name) : QByteArray(); };
        const QByteArray bytes = content();
        auto check = [&] {
            press(save ? f().mnu_Save : f().mnu_Open, name);
            return name.isEmpty() ? boxes_.isEmpty() : toldOnce(name);
        };
        const bool asOther = QString::fromLatin1(QTest::currentDataTag()).endsWith(u"nobody"_s);
        const bool ok = asOther ? asNobody(check) : check();
        setrlimit(RLIMIT_FSIZE, &unlimited);
        rt::setSyncFunction(nullptr);
        QVERIFY2(ok, qPrintable(boxes_.join(u" / "_s)));
        QCOMPARE(f().Tex.text(), text);
        // Written in place, the bytes are there; only their sync failed.
        if (!(linked && (sync || tail)))
            QCOMPARE(content(), bytes);
        // No temporary file is left behind.
        if (!smallFs_.isEmpty() && name.startsWith(smallFs_))
            QCOMPARE(QDir(smallFs_).entryList(QDir::Files | QDir::Hidden).size(), linked ? 2 : 1);
    }
};

QTEST_MAIN(TestFiles)
#include "test_files.moc"
