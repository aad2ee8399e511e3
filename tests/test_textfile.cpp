// The text-file statements on real files: what bytes a text becomes, what
// text bytes become, and that a save never harms the file it replaces.

#include "test_files.h"
#include "window/runtime_error.h"
#include "window/textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <cstdint>
#include <optional>
#include <set>

#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// Strict conversions straight from glibc, so that expected bytes never come
// from the code under test. Empty on any byte or character the target
// cannot take.
std::optional<QByteArray> strictIconv(const char* to, const char* from, QByteArrayView in) {
    iconv_t cd = iconv_open(to, from);
    QByteArray out(in.size() * 4 + 16, Qt::Uninitialized);
    char* src = const_cast<char*>(in.data());
    char* dst = out.data();
    std::size_t srcLeft = std::size_t(in.size());
    std::size_t dstLeft = std::size_t(out.size());
    const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != std::size_t(-1) &&
                    iconv(cd, nullptr, nullptr, &dst, &dstLeft) != std::size_t(-1);
    iconv_close(cd);
    if (!ok) {
        return std::nullopt;
    }
    out.truncate(dst - out.constData());
    return out;
}

QByteArray cp932Of(const QString& text) {
    return strictIconv("CP932", "UTF-8", text.toUtf8()).value_or("<not CP932>");
}

QByteArray readBytes(const QString& path) {
    return testfiles::readAll(path);
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    return testfiles::writeAll(path, bytes);
}

QStringList readLines(const QString& path) {
    rt::InputFile file(path);
    QStringList lines;
    while (!file.eof()) {
        lines.append(file.lineInput());
    }
    return lines;
}

void saveLines(const QString& path, const QStringList& lines) {
    rt::OutputFile file(path);
    for (const QString& line : lines) {
        file.print(line);
    }
    file.close();
}

} // namespace

class TestTextFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
    QStringList entries() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void init() {
        for (const QString& name : entries()) {
            QFile::remove(path(name));
        }
    }

    void everyCp932CharacterRoundTripsAsCp932() {
        // Ask glibc which characters CP932 has: every one- and two-byte
        // sequence that decodes strictly to exactly one character.
        std::set<char32_t> characters;
        for (int first = 0; first < 256; ++first) {
            for (int second = -1; second < 256; ++second) {
                const char bytes[] = {char(first), char(second)};
                const auto utf32 =
                    strictIconv("UTF-32LE", "CP932", QByteArrayView(bytes, second < 0 ? 1 : 2));
                if (utf32 && utf32->size() == 4) {
                    characters.insert(qFromLittleEndian<char32_t>(utf32->constData()));
                }
            }
        }
        characters.erase(U'\r');
        characters.erase(U'\n');
        QVERIFY2(characters.size() > 7000, "iconv's CP932 table looks incomplete");

        QStringList lines;
        for (const char32_t c : characters) {
            lines.append(QString::fromUcs4(&c, 1));
        }
        saveLines(path(u"cp932.txt"_s), lines);
        const QByteArray bytes = readBytes(path(u"cp932.txt"_s));
        QCOMPARE(bytes, cp932Of(lines.join(u"\r\n"_s) + u"\r\n"_s));
        QCOMPARE(readLines(path(u"cp932.txt"_s)), lines);
    }

    void textOutsideCp932IsWrittenAsUtf8_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("readBack");
        // glibc maps these to look-alikes; they must not be written lossily.
        for (const char16_t c : {u'\u00A2', u'\u00A3', u'\u00A5', u'\u00AC', u'\u2014', u'\u2016',
                                 u'\u203E', u'\u2212', u'\u301C'}) {
            const QString text = u"価格"_s + QChar(c) + u"abc"_s;
            QTest::addRow("U+%04X", unsigned(c)) << text << text;
        }
        QTest::addRow("emoji") << u"😀 です"_s << u"😀 です"_s;
        QTest::addRow("no-break space") << u"a\u00A0b"_s << u"a\u00A0b"_s;
        // These half-width pairs are valid UTF-8 as CP932 bytes, so CP932
        // would read back as other text.
        QTest::addRow("CP932 bytes that look like UTF-8") << u"ﾂ｡ﾗｲ"_s << u"ﾂ｡ﾗｲ"_s;
        QTest::addRow("lone surrogates")
            << u"a"_s + QChar(0xD800) + u"b"_s + QChar(0xDC00) << u"a\uFFFDb\uFFFD"_s;
    }

    void textOutsideCp932IsWrittenAsUtf8() {
        QFETCH(QString, text);
        QFETCH(QString, readBack);
        saveLines(path(u"utf8.txt"_s), {text});
        // The whole file is UTF-8, not just the characters CP932 lacks.
        QCOMPARE(readBytes(path(u"utf8.txt"_s)), kBom + (readBack + u"\r\n"_s).toUtf8());
        QCOMPARE(readLines(path(u"utf8.txt"_s)), QStringList{readBack});
    }

    void readsWhatOthersWrote_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::addRow("Shift-JIS")
            << cp932Of(u"テスト\r\nです"_s) << QStringList{u"テスト"_s, u"です"_s};
        QTest::addRow("0x5C trail bytes")
            << cp932Of(u"ソフト表示\\能力"_s) << QStringList{u"ソフト表示\\能力"_s};
        QTest::addRow("UTF-8") << u"日本語\nabc😀"_s.toUtf8() << QStringList{u"日本語"_s, u"abc😀"_s};
        QTest::addRow("UTF-8 with BOM") << kBom + "x\r\n" << QStringList{u"x"_s};
        QTest::addRow("two BOMs") << kBom + kBom + "x" << QStringList{u"\uFEFFx"_s};
        QTest::addRow("mixed line ends")
            << QByteArray("a\rb\nc\r\nd\n\re")
            << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u""_s, u"e"_s};
        QTest::addRow("invalid single bytes") << QByteArray("a\x80\xA0\xFD\xFE\xFFz")
                                              << QStringList{u"a\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz"_s};
        QTest::addRow("lead byte before a line end")
            << QByteArray("\x83\r\nz") << QStringList{u"\uFFFD"_s, u"z"_s};
        QTest::addRow("BOM and invalid UTF-8")
            << kBom + "\x83z\xFF" << QStringList{u"\uFFFDz\uFFFD"_s};
    }

    void readsWhatOthersWrote() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QVERIFY(writeBytes(path(u"in.txt"_s), bytes));
        QCOMPARE(readLines(path(u"in.txt"_s)), lines);
    }

    // Big files are decoded in pieces; the pieces must join without losing
    // or doubling a character where they meet.
    void largeInputsConvertAcrossPieces() {
        const QString unit = u"表示ｶﾀｶﾅ漢字abc\r\n"_s; // Odd length: characters straddle cuts.
        const QString text = unit.repeated(5 * 1024 * 1024 / 24);
        QVERIFY(writeBytes(path(u"big.txt"_s), cp932Of(text)));
        QCOMPARE(readLines(path(u"big.txt"_s)), rt::splitLines(text));

        const QString utf8Text = text + QChar(0x301C);
        saveLines(path(u"big-utf8.txt"_s), {utf8Text});
        QCOMPARE(readLines(path(u"big-utf8.txt"_s)).join(u"\r\n"_s), utf8Text);

        // A valid character just before a 1 MiB piece ends, then stray
        // continuation bytes across the cut: only the stray bytes are bad.
        const QByteArray cut = kBom + QByteArray(1024 * 1024 - 4, 'a') + "\xE3\x81\x81\x81\x81";
        QCOMPARE(rt::decodeFileText(cut).right(3), u"\u3041\uFFFD\uFFFD"_s);
    }

    void failedWriteLeavesTheOldFile_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("lines");
        // Small enough to sit in Qt's write buffer, so that the failure first
        // shows when the buffer is flushed: the case where an unchecked
        // commit would replace the file with a truncated one.
        QTest::addRow("failure at flush") << 4096 << 80;
        QTest::addRow("failure at write") << 64 * 1024 << 10000;
    }

    void failedWriteLeavesTheOldFile() {
        QFETCH(int, limit);
        QFETCH(int, lines);
        const QString target = path(u"doc.txt"_s);
        QVERIFY(writeBytes(target, "old content\r\n"));
        rt::OutputFile file(target);
        file.print((QString(98, u'x') + u"\r\n"_s).repeated(lines));

        // The file size limit makes the write fail as a full disk would.
        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto* previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = rlim_t(limit);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        int code = 0;
        try {
            file.close();
        } catch (const rt::RuntimeError& error) {
            code = error.code();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        QCOMPARE(code, int(rt::RuntimeError::DiskFull));
        QCOMPARE(readBytes(target), QByteArray("old content\r\n"));
        QCOMPARE(entries(), QStringList{u"doc.txt"_s});
    }

    void unclosedOutputLeavesTheOldFile() {
        QVERIFY(writeBytes(path(u"doc.txt"_s), "old\r\n"));
        {
            rt::OutputFile file(path(u"doc.txt"_s));
            file.print(u"new");
            rt::OutputFile fresh(path(u"new.txt"_s));
            fresh.print(u"never saved");
        }
        QCOMPARE(readBytes(path(u"doc.txt"_s)), QByteArray("old\r\n"));
        QCOMPARE(entries(), QStringList{u"doc.txt"_s});
    }

    void permissionsAreKept() {
        const QByteArray name = QFile::encodeName(path(u"kept.txt"_s));
        QVERIFY(writeBytes(path(u"kept.txt"_s), "old\r\n"));
        QCOMPARE(chmod(name.constData(), 0640), 0);
        saveLines(path(u"kept.txt"_s), {u"new"_s});
        struct stat st {};
        QCOMPARE(stat(name.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(readBytes(path(u"kept.txt"_s)), QByteArray("new\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "test_textfile.moc"
