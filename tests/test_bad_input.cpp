// Hostile input through the real Open and Save buttons, with scripted file
// dialogs. Each row states what must hold afterwards: a failed Open leaves
// the text as it was, a failed Save leaves the file as it was, and the
// window keeps answering. The table of outcomes is printed as it runs.

#include "main_window.h"
#include "test_files.h"
#include "window/runtime.h"
#include "window/textfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using testfiles::readAll;
using testfiles::writeAll;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<yonamito::MainWindow> app_;
    QTemporaryDir dir_;
    QString answer_;
    QString smallFs_;
    bool mounted_ = false;

    rt::FrmMain& f() { return app_->controls(); }
    QString path(const QString& name) const { return dir_.filePath(name); }

    void report(const char* input, const QString& outcome, qint64 ms) {
        qInfo("| %-34s | %-44s | %6lld ms |", input, qPrintable(outcome),
              static_cast<long long>(ms));
    }

    // The window still takes a click and answers it.
    void checkResponsive() {
        const bool bar = f().Menuu.visible();
        QTest::mouseClick(f().label.widget(), Qt::LeftButton);
        QCOMPARE(f().Menuu.visible(), !bar);
        QTest::mouseClick(f().label.widget(), Qt::LeftButton);
    }

    qint64 press(rt::CommandButton& button, const QString& answer) {
        answer_ = answer;
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(button.button(), Qt::LeftButton);
        return clock.elapsed();
    }

    // Runs a step in a child process, as the unprivileged user when the
    // tests run as root, so that the permission rows mean something either
    // way. The child reports through its exit status.
    static int asNobody(const std::function<bool()>& step) {
        const bool root = geteuid() == 0;
        const pid_t child = fork();
        if (child == 0) {
            const bool dropped = !root || (setgid(kNoGroup) == 0 && setuid(kNobody) == 0);
            const bool ok = dropped && step();
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
    }

private slots:
    void initTestCase() {
        rt::setUpApplication(rt::versionRecord());
        QVERIFY(dir_.isValid());
        QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther);
        rt::CommonDialog::setScript(
            [this](rt::CommonDialog::Mode, const QString&) { return answer_; });
        qInfo("| %-34s | %-44s | %9s |", "input", "outcome", "time");
    }

    void init() {
        app_ = std::make_unique<yonamito::MainWindow>();
        app_->form().load();
        app_->form().show();
        QVERIFY(QTest::qWaitForWindowExposed(app_->form().window()));
        QTest::mouseClick(f().ShowSui.button(), Qt::LeftButton);
        QTest::mouseClick(f().label.widget(), Qt::LeftButton);
        f().Tex.setText(u"the user's text\r\n"_s);
    }

    void cleanup() { app_.reset(); }

    void cleanupTestCase() {
        if (mounted_) {
            umount(QFile::encodeName(smallFs_).constData());
        }
    }

    void failedOpenKeepsTheText_data() {
        QTest::addColumn<QString>("name");
        QTest::addRow("nonexistent path") << path(u"missing.txt"_s);
        QTest::addRow("empty name") << QString();
        QTest::addRow("directory") << dir_.path();
        QTest::addRow("FIFO") << path(u"fifo"_s);
        QTest::addRow("/dev/zero") << u"/dev/zero"_s;
        QTest::addRow("/dev/urandom") << u"/dev/urandom"_s;
        QTest::addRow("over the size limit") << path(u"huge.txt"_s);
        QTest::addRow("path through a file") << path(u"plain.txt/x.txt"_s);
    }

    void failedOpenKeepsTheText() {
        QFETCH(QString, name);
        mkfifo(QFile::encodeName(path(u"fifo"_s)).constData(), 0600);
        writeAll(path(u"plain.txt"_s), "plain\r\n");
        if (!QFile::exists(path(u"huge.txt"_s))) {
            // Sparse, so the row costs no disk space.
            QFile huge(path(u"huge.txt"_s));
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.resize(rt::kMaxInputFileSize + 1));
        }
        const QString before = f().Tex.text();
        const qint64 ms = press(f().mnu_Open, name);
        QCOMPARE(f().Tex.text(), before);
        QVERIFY(ms < 5000);
        checkResponsive();
        report(QTest::currentDataTag(), u"refused, text unchanged"_s, ms);
    }

    void unreadableFileAsAnotherUser() {
        const QString secret = path(u"secret.txt"_s);
        QVERIFY(writeAll(secret, "secret\r\n"));
        QFile::setPermissions(secret, QFileDevice::WriteOwner);
        const QString before = f().Tex.text();
        const int status = asNobody([this, &secret, &before] {
            answer_ = secret;
            f().mnu_Open.button()->click();
            return f().Tex.text() == before;
        });
        QCOMPARE(status, 0);
        report("no read permission (as nobody)", u"refused, text unchanged"_s, 0);
    }

    void strangeFilesOpen_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QByteArray binary(64 * 1024, '\0');
        QRandomGenerator generator(20261206);
        for (char& byte : binary) {
            byte = static_cast<char>(generator.bounded(256));
        }
        for (int i = 0; i < binary.size(); i += 97) {
            binary[i] = '\0';
        }
        QTest::addRow("binary, random bytes and NULs") << binary << QString();
        QTest::addRow("lone CR") << QByteArray("a\rb\r") << u"a\r\nb"_s;
        QTest::addRow("UTF-8 BOM, then invalid bytes")
            << QByteArray("\xEF\xBB\xBFok\xFF\xFE\r\n") << u"ok\uFFFD\uFFFD"_s;
        QTest::addRow("truncated Shift-JIS lead byte at the end")
            << QByteArray("\x83\x65\x83\x58\x83") << u"テス\uFFFD"_s;
    }

    void strangeFilesOpen() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QString name = path(u"strange.bin"_s);
        QVERIFY(writeAll(name, bytes));
        const qint64 ms = press(f().mnu_Open, name);
        const QString text = f().Tex.text();
        if (!expected.isEmpty()) {
            QCOMPARE(text, expected);
        } else {
            // The whole file arrives: every byte gives at least part of a
            // character, and nothing comes from the text before.
            QVERIFY(!text.isEmpty());
            QVERIFY(!text.contains(u"the user's text"_s));
        }
        QCOMPARE(readAll(name), bytes);
        checkResponsive();
        report(QTest::currentDataTag(), u"opened, %1 characters"_s.arg(text.size()), ms);
    }

    void failedSaveKeepsTheFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("untouched");
        QTest::addRow("save to a directory path") << dir_.path() << QString();
        QTest::addRow("save into a missing folder") << path(u"none/a.txt"_s) << QString();
        QTest::addRow("save to a FIFO") << path(u"fifo"_s) << QString();
        QTest::addRow("save to /dev/null") << u"/dev/null"_s << QString();
    }

    void failedSaveKeepsTheFile() {
        QFETCH(QString, name);
        mkfifo(QFile::encodeName(path(u"fifo"_s)).constData(), 0600);
        const QFileInfo before(name);
        const qint64 ms = press(f().mnu_Save, name);
        const QFileInfo after(name);
        QCOMPARE(after.exists(), before.exists());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.isFile(), before.isFile());
        QVERIFY(!QFile::exists(path(u"none"_s)));
        QVERIFY(ms < 5000);
        checkResponsive();
        report(QTest::currentDataTag(), u"refused, nothing written"_s, ms);
    }

    void readOnlyFileAsAnotherUser() {
        const QString locked = path(u"locked.txt"_s);
        QVERIFY(writeAll(locked, "locked\r\n"));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ReadOther);
        const int status = asNobody([this, &locked] {
            answer_ = locked;
            f().mnu_Save.button()->click();
            return true;
        });
        QCOMPARE(status, 0);
        QCOMPARE(readAll(locked), QByteArray("locked\r\n"));
        report("save onto a read-only file (nobody)", u"refused, file unchanged"_s, 0);
    }

    void fullFilesystemInTheMiddleOfASave() {
        QString how;
        QString target;
        if (geteuid() == 0) {
            smallFs_ = path(u"small"_s);
            QDir().mkpath(smallFs_);
            mounted_ = mount("tmpfs", QFile::encodeName(smallFs_).constData(), "tmpfs", 0,
                             "size=256k") == 0;
        }
        QByteArray old("the old content\r\n");
        if (mounted_) {
            how = u"a 256 KiB tmpfs"_s;
            target = smallFs_ + u"/full.txt"_s;
        } else {
            how = u"RLIMIT_FSIZE (no tmpfs: not root)"_s;
            QDir().mkpath(path(u"limited"_s));
            target = path(u"limited/full.txt"_s);
        }
        QVERIFY(writeAll(target, old));
        f().Tex.setText((QString(99, u'y') + u"\r\n"_s).repeated(4096));

        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto* previous = std::signal(SIGXFSZ, SIG_IGN);
        if (!mounted_) {
            struct rlimit small = saved;
            small.rlim_cur = 128 * 1024;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const qint64 ms = press(f().mnu_Save, target);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        QCOMPARE(readAll(target), old);
        QCOMPARE(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        checkResponsive();
        report("full filesystem during a save", u"refused, old file intact (%1)"_s.arg(how), ms);
    }

    void saveThroughASymbolicLink() {
        const QString target = path(u"target.txt"_s);
        const QString link = path(u"link.txt"_s);
        QVERIFY(writeAll(target, "old\r\n"));
        QFile::remove(link);
        QVERIFY(QFile::link(target, link));
        f().Tex.setText(u"new"_s);
        const qint64 ms = press(f().mnu_Save, link);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readAll(target), QByteArray("new\r\n"));
        report("save through a symbolic link", u"target replaced, link kept"_s, ms);
    }
};

QTEST_MAIN(TestBadInput)
#include "test_bad_input.moc"
