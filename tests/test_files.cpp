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

QByteArray cp932(const char* utf8) {
    rt::TextFormat format;
    return rt::encodeText(QString::fromUtf8(utf8), format);
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
    // own after New: what the text box shows, and the bytes saved. A null
    // `saved` means the file's own bytes.
    void bytesComeBack_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("saved");
        const QByteArray same;
        QTest::addRow("UTF-8, LF") << u"日本語\nabc\n"_s.toUtf8() << u"日本語\r\nabc"_s << same;
        QTest::addRow("UTF-8 with BOM, CR LF")
            << "\xEF\xBB\xBF" + u"〜😀\r\n"_s.toUtf8() << u"〜😀"_s << same;
        QTest::addRow("CP932, CR LF")
            << cp932("ヨナミト\r\nﾃｷｽﾄ\r\n") << u"ヨナミト\r\nﾃｷｽﾄ"_s << same;
        QTest::addRow("CP932, LF") << cp932("表示\n二行\n") << u"表示\r\n二行"_s << same;
        QTest::addRow("CP932, no line end")
            << cp932("日本語") << u"日本語"_s << cp932("日本語\r\n");
        QTest::addRow("Latin-1") << QByteArray("caf\xE9\r\nna\xEFve\r\n") << QString() << same;
        QTest::addRow("UTF-8, one stray 0xFF") << u"日本語"_s.toUtf8() + "\xFF\n"
                                               << u"日本語"_s + QChar(0xDCFF) << same;
        QTest::addRow("controls") << QByteArray("a\0b\x01\x1B\x7F\n", 7) << u"a\0b\x01\x1B\x7F"_s
                                  << same;
        QTest::addRow("CP932 NEC, IBM, NEC-selected IBM")
            << QByteArray("\x87\x40\xFA\x40\xED\x40\xFA\x4A\r\n") << u"①ⅰ纊Ⅰ"_s << same;
        QTest::addRow("UTF-16 LE with BOM") << QByteArray("\xFF\xFE"
                                                          "a\0\r\0\n\0\xE5\x65\r\0\n\0",
                                                          14)
                                            << u"a\r\n日"_s << same;
        QTest::addRow("UTF-16 BE with BOM")
            << QByteArray("\xFE\xFF\0a\0\n\x65\xE5\0\n", 10) << u"a\r\n日"_s << same;
        QTest::addRow("no final LF") << QByteArray("a\nb") << u"a\r\nb"_s << QByteArray("a\nb\n");
        QTest::addRow("no final CR LF")
            << QByteArray("a\r\nb") << QString() << QByteArray("a\r\nb\r\n");
        QTest::addRow("mixed, LF first")
            << QByteArray("a\nb\r\nc\rd") << u"a\r\nb\r\nc\r\nd"_s << QByteArray("a\nb\nc\nd\n");
        QTest::addRow("ends in an empty line") << QByteArray("a\r\n\r\n") << u"a\r\n"_s << same;
        QTest::addRow("empty file") << QByteArray("") << u""_s << QByteArray("\r\n");
        QTest::addRow("New, empty") << QByteArray() << u""_s << QByteArray("\r\n");
        QTest::addRow("New, Japanese")
            << QByteArray() << u"ヨナミト ﾃｽﾄ\r\n日本"_s << cp932("ヨナミト ﾃｽﾄ\r\n日本\r\n");
        // Characters CP932 cannot hold, or only as a look-alike, send the
        // whole text to UTF-8.
        QTest::addRow("New, outside CP932")
            << QByteArray() << u"〜 ¥ 😀"_s << "\xEF\xBB\xBF" + u"〜 ¥ 😀\r\n"_s.toUtf8();
    }

    void bytesComeBack() {
        QFETCH(QByteArray, file);
        QFETCH(QString, shown);
        QFETCH(QByteArray, saved);
        const QString name = path(u"file.txt"_s);
        if (file.isNull()) {
            // New forgets the text and the format of the file opened before.
            QVERIFY(writeAll(name, "utf-8\n"));
            open(name);
            click(f().mnu_New);
            QCOMPARE(f().Tex.text(), QString());
            f().Tex.setText(shown);
        } else {
            QVERIFY(writeAll(name, file));
            press(f().mnu_Open, name);
            QCOMPARE(boxes_, QStringList());
            if (!shown.isNull())
                QCOMPARE(f().Tex.text(), shown);
        }
        const QString text = f().Tex.text();
        press(f().mnu_Save, name);
        QCOMPARE(boxes_, QStringList());
        QCOMPARE(readAll(name), saved.isNull() ? file : saved);
        QCOMPARE(filter_, u"テキストファイル (*.txt)"_s);
        press(f().mnu_Open, name);
        QCOMPARE(f().Tex.text(), text);
    }

    // What the old file carried beside its bytes, and where it lives.
    void savedFileKeepsItsPlace_data() {
        QTest::addColumn<QString>("situation");
        for (const char* s : {"second hard link", "symbolic link", "read-only folder, as nobody",
                              "another owner's 0640 file, as root", "extended attribute"})
            QTest::addRow("%s", s) << QString::fromLatin1(s);
    }

    void savedFileKeepsItsPlace() {
        QFETCH(QString, situation);
        const QString folder = path(situation.section(u' ', 0, 0));
        QDir().mkpath(folder);
        const QByteArray native = QFile::encodeName(folder + u"/file.txt"_s);
        QVERIFY(writeAll(QFile::decodeName(native), "old\n"));
        QString saveAs = QFile::decodeName(native);
        QString readBack = saveAs;
        if (situation == u"second hard link"_s) {
            readBack = folder + u"/other.txt"_s;
            QVERIFY(link(native.constData(), QFile::encodeName(readBack).constData()) == 0);
        } else if (situation == u"symbolic link"_s) {
            saveAs = folder + u"/link.txt"_s;
            QVERIFY(QFile::link(readBack, saveAs));
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
        const struct stat old = statOf(QFile::decodeName(native));
        auto openEditSave = [&] {
            press(f().mnu_Open, saveAs);
            f().Tex.setText(f().Tex.text().replace(u"old"_s, u"new"_s));
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
        QVERIFY(ok);
        const struct stat now = statOf(QFile::decodeName(native));
        QCOMPARE(now.st_uid, old.st_uid);
        QCOMPARE(now.st_gid, old.st_gid);
        QCOMPARE(now.st_mode, old.st_mode);
        QVERIFY(QFileInfo(saveAs).isSymLink() == (situation == u"symbolic link"_s));
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
        const bool linked = name.endsWith(u"linked"_s);
        const bool tail = name.endsWith(u"tail"_s);
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
            QVERIFY(writeAll(name, "the old content\r\n"));
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
        QVERIFY2(ok, qPrintable(boxes_.join(u" / "_s)));
        QCOMPARE(f().Tex.text(), text);
        QCOMPARE(content(), bytes);
        // No temporary file is left behind.
        if (!smallFs_.isEmpty() && name.startsWith(smallFs_))
            QCOMPARE(QDir(smallFs_).entryList(QDir::Files | QDir::Hidden).size(), linked ? 2 : 1);
    }
};

QTEST_MAIN(TestFiles)
#include "test_files.moc"
