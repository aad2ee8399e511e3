#include "window/runtime_error.h"
#include "window/textfile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <set>

#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using rt::RuntimeError;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// A strict iconv conversion, used to get reference bytes from glibc itself
// rather than from the code under test. It fails on any byte or character
// that the target cannot take.
class StrictConverter {
public:
    StrictConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~StrictConverter() {
        if (valid())
            iconv_close(cd_);
    }
    StrictConverter(const StrictConverter&) = delete;
    StrictConverter& operator=(const StrictConverter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(std::intptr_t(-1)); }

    std::optional<QByteArray> operator()(QByteArrayView in) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        QByteArray out(in.size() * 4 + 16, Qt::Uninitialized);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = std::size_t(in.size());
        char* outPtr = out.data();
        std::size_t outLeft = std::size_t(out.size());
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == std::size_t(-1) ||
            iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == std::size_t(-1))
            return std::nullopt;
        out.truncate(outPtr - out.constData());
        return out;
    }

private:
    iconv_t cd_;
};

// UTF-8 to text without Qt's habit of dropping a leading byte-order mark.
std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QByteArray> cp932Of(const QString& text) {
    StrictConverter toCp932("CP932", "UTF-8");
    return toCp932(text.toUtf8());
}

std::optional<QString> textOfCp932(QByteArrayView bytes) {
    StrictConverter fromCp932("UTF-8", "CP932");
    const std::optional<QByteArray> utf8 = fromCp932(bytes);
    return utf8 ? strictUtf8(*utf8) : std::nullopt;
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool writeBytes(const QString& path, QByteArrayView bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bytes.data(), bytes.size()) == bytes.size();
}

QStringList readLines(const QString& path) {
    rt::InputFile file(path);
    QStringList lines;
    while (!file.eof())
        lines.append(file.lineInput());
    return lines;
}

void saveLines(const QString& path, const QStringList& lines) {
    rt::OutputFile file(path);
    for (const QString& line : lines)
        file.print(line);
    file.close();
}

// The code of the RuntimeError that the call throws, or 0 when it throws none.
template <typename Call> int errorCodeOf(Call&& call) {
    try {
        call();
    } catch (const RuntimeError& error) {
        return error.code();
    }
    return 0;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return mode_t(-1);
    return st.st_mode & 07777;
}

bool isSymLink(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Lowers the largest file this process may write and ignores SIGXFSZ, so an
// oversized write fails with EFBIG the way a full disk fails with ENOSPC.
// Both are restored when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGXFSZ, &ignore, &oldAction_);
        ::getrlimit(RLIMIT_FSIZE, &oldLimit_);
        rlimit limit = oldLimit_;
        limit.rlim_cur = bytes;
        active_ = bytes <= oldLimit_.rlim_max && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &oldLimit_);
        ::sigaction(SIGXFSZ, &oldAction_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return active_; }

private:
    rlimit oldLimit_{};
    struct sigaction oldAction_ {};
    bool active_ = false;
};

// Gives a path its mode back when the test leaves, so that a read-only
// folder can still be cleaned up.
class ModeRestorer {
public:
    ModeRestorer(QString path, mode_t mode) : path_(std::move(path)), mode_(mode) {}
    ~ModeRestorer() { ::chmod(QFile::encodeName(path_).constData(), mode_); }
    ModeRestorer(const ModeRestorer&) = delete;
    ModeRestorer& operator=(const ModeRestorer&) = delete;

private:
    QString path_;
    mode_t mode_;
};

} // namespace

class TestTextFile : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;

    QString path(const QString& name) const { return dir_->filePath(name); }

private slots:
    void init();
    void cleanup();

    // Line ends.
    void readLineEnds_data();
    void readLineEnds();
    void readingPastTheEndFails();
    void writtenLineEnds_data();
    void writtenLineEnds();
    void savedTextReadsBackUnchanged_data();
    void savedTextReadsBackUnchanged();

    // Encodings.
    void everyCp932CharacterRoundTripsAsCp932();
    void textOutsideCp932IsWrittenAsUtf8_data();
    void textOutsideCp932IsWrittenAsUtf8();
    void cp932BytesThatLookLikeUtf8AreWrittenAsUtf8_data();
    void cp932BytesThatLookLikeUtf8AreWrittenAsUtf8();
    void loneSurrogatesAreWrittenAsReplacementCharacters();
    void readsForeignFiles_data();
    void readsForeignFiles();
    void invalidBytesBecomeReplacementCharacters_data();
    void invalidBytesBecomeReplacementCharacters();
    void anyTextRoundTrips();
    void largeInputsConvertAcrossChunks();

    // Refusals.
    void openingForInputFails_data();
    void openingForInputFails();
    void openingAFifoForInputDoesNotBlock();
    void tooLargeFileIsRefused();
    void openingForOutputFails_data();
    void openingForOutputFails();
    void permissionDenied();
    void closedFilesRefuseFurtherUse();

    // Saving.
    void failedWriteLeavesOldFileUntouched_data();
    void failedWriteLeavesOldFileUntouched();
    void unclosedOutputLeavesOldFileUntouched();
    void movedOutputFileSavesOnce();
    void permissionsAreKept();
    void savingThroughSymlinkReplacesTarget();
};

void TestTextFile::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestTextFile::cleanup() {
    dir_.reset();
}

void TestTextFile::readLineEnds_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("only a line end") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("empty last line") << QByteArray("a\r\n\r\n") << QStringList{"a", ""};
    QTest::newRow("no final line end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("LF only") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("CR only") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("mixed") << QByteArray("a\rb\nc\r\nd") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("LF then CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("blank lines") << QByteArray("\n\n\r\r") << QStringList{"", "", "", ""};
}

void TestTextFile::readLineEnds() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);

    QVERIFY(writeBytes(path("in.txt"), bytes));
    QCOMPARE(readLines(path("in.txt")), lines);
}

void TestTextFile::readingPastTheEndFails() {
    QVERIFY(writeBytes(path("empty.txt"), ""));
    rt::InputFile empty(path("empty.txt"));
    QVERIFY(empty.eof());
    QCOMPARE(errorCodeOf([&] { empty.lineInput(); }), int(RuntimeError::InputPastEndOfFile));

    QVERIFY(writeBytes(path("one.txt"), "only"));
    rt::InputFile one(path("one.txt"));
    QVERIFY(!one.eof());
    QCOMPARE(one.lineInput(), QString("only"));
    QVERIFY(one.eof());
    QCOMPARE(errorCodeOf([&] { one.lineInput(); }), int(RuntimeError::InputPastEndOfFile));
}

void TestTextFile::writtenLineEnds_data() {
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("nothing printed") << QStringList() << QByteArray();
    QTest::newRow("empty text") << QStringList{""} << QByteArray("\r\n");
    QTest::newRow("two lines") << QStringList{"a", "b"} << QByteArray("a\r\nb\r\n");
    QTest::newRow("text with its own line end")
        << QStringList{"a\r\nb\r\n"} << QByteArray("a\r\nb\r\n\r\n");
}

void TestTextFile::writtenLineEnds() {
    QFETCH(QStringList, printed);
    QFETCH(QByteArray, bytes);

    saveLines(path("out.txt"), printed);
    QCOMPARE(readBytes(path("out.txt")), bytes);
}

// The editor saves its whole text with one print and reads it back line by
// line; joining the lines with CR LF must give the text it saved.
void TestTextFile::savedTextReadsBackUnchanged_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString();
    QTest::newRow("one line without line end") << QString("abc");
    QTest::newRow("one line with line end") << QString("abc\r\n");
    QTest::newRow("two lines without line end") << QString("abc\r\ndef");
    QTest::newRow("two lines with line end") << QString("abc\r\ndef\r\n");
    QTest::newRow("only line ends") << QString("\r\n\r\n");
    QTest::newRow("Japanese with line end") << QString::fromUtf8("日本語\r\nテキスト\r\n");
}

void TestTextFile::savedTextReadsBackUnchanged() {
    QFETCH(QString, text);

    saveLines(path("doc.txt"), {text});
    QCOMPARE(readLines(path("doc.txt")).join(u"\r\n"), text);
}

void TestTextFile::everyCp932CharacterRoundTripsAsCp932() {
    // Ask glibc which characters CP932 has: every one- and two-byte sequence
    // that decodes strictly to exactly one character.
    StrictConverter decode("UTF-32LE", "CP932");
    QVERIFY(decode.valid());
    std::set<char32_t> characters;
    auto collect = [&](QByteArrayView sequence) {
        const std::optional<QByteArray> utf32 = decode(sequence);
        if (utf32 && utf32->size() == 4)
            characters.insert(qFromLittleEndian<char32_t>(utf32->constData()));
    };
    for (int first = 0; first < 256; ++first) {
        const char one[] = {char(first)};
        collect(QByteArrayView(one, 1));
        for (int second = 0; second < 256; ++second) {
            const char two[] = {char(first), char(second)};
            collect(QByteArrayView(two, 2));
        }
    }
    // Line ends cannot be part of a line; they have tests of their own.
    characters.erase(U'\r');
    characters.erase(U'\n');
    QVERIFY2(characters.size() > 7000, "iconv's CP932 table looks incomplete");

    QStringList lines;
    for (const char32_t c : characters)
        lines.append(QString::fromUcs4(&c, 1));
    saveLines(path("cp932.txt"), lines);

    const QByteArray bytes = readBytes(path("cp932.txt"));
    QVERIFY(!bytes.startsWith(kBom));
    const std::optional<QString> strictlyDecoded = textOfCp932(bytes);
    QVERIFY2(strictlyDecoded, "the file is not plain CP932");
    QCOMPARE(*strictlyDecoded, lines.join(u"\r\n") + "\r\n");
    QCOMPARE(readLines(path("cp932.txt")), lines);
}

void TestTextFile::textOutsideCp932IsWrittenAsUtf8_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("wave dash U+301C") << QString(QChar(0x301C));
    QTest::newRow("emoji U+1F600") << QString::fromUcs4(U"\U0001F600");
    QTest::newRow("no-break space U+00A0") << QString(QChar(0x00A0));
    QTest::newRow("yen sign U+00A5") << QString(QChar(0x00A5));
    QTest::newRow("em dash U+2014") << QString(QChar(0x2014));
    QTest::newRow("overline U+203E") << QString(QChar(0x203E));
    QTest::newRow("byte-order mark as text") << QString(QChar(0xFEFF)) + "x";
    QTest::newRow("mixed with CP932 text")
        << QString::fromUtf8("価格は¥100です") + QChar(0x301C) + QString::fromUcs4(U"\U0001F600");
    QTest::newRow("ASCII before and after") << QString("abc") + QChar(0x2014) + "def";
}

void TestTextFile::textOutsideCp932IsWrittenAsUtf8() {
    QFETCH(QString, text);

    saveLines(path("utf8.txt"), {text, text});
    // All of the file is UTF-8, not just the parts CP932 lacks.
    QCOMPARE(readBytes(path("utf8.txt")), kBom + (text + "\r\n" + text + "\r\n").toUtf8());
    QCOMPARE(readLines(path("utf8.txt")), QStringList({text, text}));
}

void TestTextFile::cp932BytesThatLookLikeUtf8AreWrittenAsUtf8_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("half-width tsu and full stop") << QString::fromUtf8("ﾂ｡");
    QTest::newRow("half-width ra and i") << QString::fromUtf8("ﾗｲ");
}

// Some CP932 byte strings are valid UTF-8 as well. Writing such text as CP932
// would make it read back as something else.
void TestTextFile::cp932BytesThatLookLikeUtf8AreWrittenAsUtf8() {
    QFETCH(QString, text);

    const std::optional<QByteArray> cp932 = cp932Of(text);
    QVERIFY(cp932);
    const std::optional<QString> misread = strictUtf8(*cp932);
    QVERIFY2(misread && *misread != text, "the CP932 bytes should read as other UTF-8 text");

    saveLines(path("kana.txt"), {text});
    QVERIFY(readBytes(path("kana.txt")).startsWith(kBom));
    QCOMPARE(readLines(path("kana.txt")), QStringList{text});
}

void TestTextFile::loneSurrogatesAreWrittenAsReplacementCharacters() {
    const QString pair = QString::fromUcs4(U"\U0001F600");
    const QString text = QString("a") + QChar(0xD800) + "b" + QChar(0xDC00) + pair + QChar(0xD83D);
    const QString expected = QString("a") + QChar::ReplacementCharacter + "b" +
                             QChar::ReplacementCharacter + pair + QChar::ReplacementCharacter;

    saveLines(path("surrogates.txt"), {text});
    QCOMPARE(readLines(path("surrogates.txt")), QStringList{expected});
    QCOMPARE(rt::decodeFileText(rt::encodeFileText(text)), expected);
}

void TestTextFile::readsForeignFiles_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    const QString shiftJis = QString::fromUtf8("テスト\r\nです");
    QTest::newRow("Shift-JIS") << cp932Of(shiftJis).value_or("<no CP932>")
                               << QStringList{QString::fromUtf8("テスト"),
                                              QString::fromUtf8("です")};
    // Several CP932 characters end in 0x5C, the byte of a backslash.
    const QString backslashTrail = QString::fromUtf8("ソフト表示\\能力");
    QTest::newRow("Shift-JIS with 0x5C trail bytes")
        << cp932Of(backslashTrail).value_or("<no CP932>") << QStringList{backslashTrail};
    QTest::newRow("Shift-JIS half-width katakana")
        << cp932Of(QString::fromUtf8("ｶﾀｶﾅ\n")).value_or("<no CP932>")
        << QStringList{QString::fromUtf8("ｶﾀｶﾅ")};

    const QString utf8 = QString::fromUtf8("日本語\nabc") + QString::fromUcs4(U"\U0001F600");
    QTest::newRow("UTF-8 without BOM")
        << utf8.toUtf8()
        << QStringList{QString::fromUtf8("日本語"), "abc" + QString::fromUcs4(U"\U0001F600")};
    QTest::newRow("UTF-8 with BOM") << kBom + QByteArray("x\r\n") << QStringList{"x"};
    QTest::newRow("UTF-8 with a second BOM")
        << kBom + kBom + QByteArray("x") << QStringList{QString(QChar(0xFEFF)) + "x"};
    QTest::newRow("only a BOM") << kBom << QStringList();
}

void TestTextFile::readsForeignFiles() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);

    QVERIFY(writeBytes(path("foreign.txt"), bytes));
    QCOMPARE(readLines(path("foreign.txt")), lines);
}

void TestTextFile::invalidBytesBecomeReplacementCharacters_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    const QString r(QChar::ReplacementCharacter);
    const QByteArray te = cp932Of(QString::fromUtf8("テ")).value_or("<no CP932>");
    QTest::newRow("0x80") << QByteArray("a\x80z") << QStringList{"a" + r + "z"};
    QTest::newRow("0xA0") << QByteArray("\xA0") << QStringList{r};
    QTest::newRow("0xFD to 0xFF") << QByteArray("\xFD\xFE\xFF") << QStringList{r + r + r};
    QTest::newRow("truncated lead byte at end")
        << te + "\x83" << QStringList{QString::fromUtf8("テ") + r};
    QTest::newRow("lead byte before a line end") << QByteArray("\x83\r\nz") << QStringList{r, "z"};
    QTest::newRow("lead byte before ASCII") << QByteArray("\x83 z") << QStringList{r + " z"};
    QTest::newRow("BOM and invalid UTF-8") << kBom + "\x83z\xFF" << QStringList{r + "z" + r};
}

void TestTextFile::invalidBytesBecomeReplacementCharacters() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);

    QVERIFY(writeBytes(path("bad.txt"), bytes));
    QCOMPARE(readLines(path("bad.txt")), lines);
}

// Encoding and decoding give back the text for any text: random mixes of
// characters that pull the choice of encoding both ways, and whatever text a
// file of random bytes reads as (invalid bytes, stray BOMs, truncations).
void TestTextFile::anyTextRoundTrips() {
    QRandomGenerator random(20240601);
    const QString pool = QString::fromUtf8("a\\~\r\nﾂ｡ｲﾗ表ソ～〜¥—―＼") + QChar(0xFEFF) +
                         QChar(0xFFFD) + QChar(0) + QString::fromUcs4(U"\U0001F600");
    for (int round = 0; round < 2000; ++round) {
        QString text;
        const int length = random.bounded(8);
        for (int i = 0; i < length; ++i) {
            const qsizetype at = random.bounded(int(pool.size()));
            // Take a surrogate pair whole, never half of it.
            if (pool[at].isLowSurrogate())
                text += pool.mid(at - 1, 2);
            else if (pool[at].isHighSurrogate())
                text += pool.mid(at, 2);
            else
                text += pool[at];
        }
        QCOMPARE(rt::decodeFileText(rt::encodeFileText(text)), text);
    }

    const QByteArray interesting[] = {kBom,           "\r\n",     "\x81", "\xEF", "\xC2\xA1",
                                      "\xE3\x81\x82", "\x83\x5C", "\xFF", "\xA1"};
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes;
        const int pieces = random.bounded(12);
        for (int i = 0; i < pieces; ++i) {
            if (random.bounded(2) == 0)
                bytes += interesting[random.bounded(int(std::size(interesting)))];
            else
                bytes += char(random.bounded(256));
        }
        const QString text = rt::decodeFileText(bytes);
        QCOMPARE(rt::decodeFileText(rt::encodeFileText(text)), text);
    }
}

// A big CP932 file is the slow case: it is first tried as UTF-8, then decoded
// by iconv in pieces. The pieces must join without losing or doubling a
// character where they meet.
void TestTextFile::largeInputsConvertAcrossChunks() {
    const QString unit = QString::fromUtf8("表示ｶﾀｶﾅ漢字abc\r\n");
    const std::optional<QByteArray> unitBytes = cp932Of(unit);
    QVERIFY(unitBytes);
    QString text;
    QByteArray bytes;
    // An odd unit length makes two-byte characters straddle every boundary.
    while (bytes.size() < 5 * 1024 * 1024) {
        text += unit;
        bytes += *unitBytes;
    }
    QVERIFY(writeBytes(path("big.txt"), bytes));
    QCOMPARE(readLines(path("big.txt")), rt::splitLines(text));

    const QString utf8Text = text + QChar(0x301C);
    saveLines(path("big-utf8.txt"), {utf8Text});
    QCOMPARE(readLines(path("big-utf8.txt")).join(u"\r\n"), utf8Text);

    // A valid character just before a 1 MiB piece ends, followed by stray
    // continuation bytes across the cut: only the stray bytes are invalid.
    QByteArray cut("\xEF\xBB\xBF");
    cut += QByteArray(1024 * 1024 - 4, 'a');
    cut += "\xE3\x81\x81\x81\x81";
    QCOMPARE(rt::decodeFileText(cut).right(3), QString::fromUtf8("\u3041\uFFFD\uFFFD"));
}

void TestTextFile::openingForInputFails_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");

    QTest::newRow("empty name") << QString() << int(RuntimeError::BadFileName);
    QTest::newRow("missing file") << QString("missing.txt") << int(RuntimeError::FileNotFound);
    QTest::newRow("missing folder")
        << QString("nowhere/file.txt") << int(RuntimeError::PathNotFound);
    QTest::newRow("file used as folder")
        << QString("file.txt/x") << int(RuntimeError::PathNotFound);
    QTest::newRow("folder") << QString("folder") << int(RuntimeError::PathFileAccessError);
    QTest::newRow("dangling link") << QString("dangling") << int(RuntimeError::FileNotFound);
    QTest::newRow("device") << QString("/dev/null") << int(RuntimeError::PathFileAccessError);
}

void TestTextFile::openingForInputFails() {
    QFETCH(QString, name);
    QFETCH(int, code);

    QVERIFY(writeBytes(path("file.txt"), "x"));
    QVERIFY(QDir(dir_->path()).mkdir("folder"));
    QVERIFY(QFile::link(path("nothing.txt"), path("dangling")));
    const QString target = name.isEmpty() || name.startsWith('/') ? name : path(name);

    QCOMPARE(errorCodeOf([&] { rt::InputFile file(target); }), code);
}

void TestTextFile::openingAFifoForInputDoesNotBlock() {
    const QString fifo = path("pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    auto attempt = std::async(std::launch::async,
                              [fifo] { return errorCodeOf([&] { rt::InputFile file(fifo); }); });
    if (attempt.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // The open is stuck waiting for a writer. Be that writer for a moment
        // so that the test fails instead of hanging.
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        attempt.wait();
        QFAIL("opening a FIFO for input blocked");
    }
    QCOMPARE(attempt.get(), int(RuntimeError::PathFileAccessError));
}

void TestTextFile::tooLargeFileIsRefused() {
    // A sparse file: it has the size without taking the space.
    QFile file(path("huge.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(rt::kMaxInputFileSize + 1));
    file.close();

    QCOMPARE(errorCodeOf([&] { rt::InputFile input(path("huge.txt")); }),
             int(RuntimeError::OutOfMemory));
}

void TestTextFile::openingForOutputFails_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");

    QTest::newRow("empty name") << QString() << int(RuntimeError::BadFileName);
    QTest::newRow("missing folder")
        << QString("nowhere/new.txt") << int(RuntimeError::PathNotFound);
    QTest::newRow("file used as folder")
        << QString("file.txt/x") << int(RuntimeError::PathNotFound);
    QTest::newRow("folder") << QString("folder") << int(RuntimeError::PathFileAccessError);
    QTest::newRow("link to folder")
        << QString("folder-link") << int(RuntimeError::PathFileAccessError);
    QTest::newRow("FIFO") << QString("pipe") << int(RuntimeError::PathFileAccessError);
}

void TestTextFile::openingForOutputFails() {
    QFETCH(QString, name);
    QFETCH(int, code);

    QVERIFY(writeBytes(path("file.txt"), "x"));
    QVERIFY(QDir(dir_->path()).mkdir("folder"));
    QVERIFY(QFile::link(path("folder"), path("folder-link")));
    QCOMPARE(::mkfifo(QFile::encodeName(path("pipe")).constData(), 0600), 0);
    const QStringList before = entriesOf(dir_->path());

    QCOMPARE(errorCodeOf([&] { rt::OutputFile file(name.isEmpty() ? name : path(name)); }), code);
    QCOMPARE(entriesOf(dir_->path()), before);
    QCOMPARE(entriesOf(path("folder")), QStringList());
    QCOMPARE(readBytes(path("file.txt")), QByteArray("x"));
}

void TestTextFile::permissionDenied() {
    if (::geteuid() == 0)
        QSKIP("root may read and write regardless of permissions");

    // A file that may not be read.
    QVERIFY(writeBytes(path("secret.txt"), "secret"));
    const ModeRestorer secretMode(path("secret.txt"), 0600);
    QCOMPARE(::chmod(QFile::encodeName(path("secret.txt")).constData(), 0), 0);
    QCOMPARE(errorCodeOf([&] { rt::InputFile file(path("secret.txt")); }),
             int(RuntimeError::PermissionDenied));

    // A read-only file in a read-only folder, and a new file beside it.
    QVERIFY(QDir(dir_->path()).mkdir("locked"));
    const QString locked = path("locked");
    const QString old = locked + "/old.txt";
    QVERIFY(writeBytes(old, "old\r\n"));
    QCOMPARE(::chmod(QFile::encodeName(old).constData(), 0444), 0);
    const ModeRestorer folderMode(locked, 0755);
    QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0555), 0);

    QCOMPARE(errorCodeOf([&] { rt::OutputFile file(old); }), int(RuntimeError::PermissionDenied));
    QCOMPARE(errorCodeOf([&] { rt::OutputFile file(locked + "/new.txt"); }),
             int(RuntimeError::PermissionDenied));
    QCOMPARE(readBytes(old), QByteArray("old\r\n"));
    QCOMPARE(entriesOf(locked), QStringList{"old.txt"});
}

void TestTextFile::closedFilesRefuseFurtherUse() {
    QVERIFY(writeBytes(path("in.txt"), "a\r\n"));
    rt::InputFile input(path("in.txt"));
    input.close();
    input.close();
    QVERIFY(!input.isOpen());
    QCOMPARE(errorCodeOf([&] { input.eof(); }), int(RuntimeError::BadFileName));
    QCOMPARE(errorCodeOf([&] { input.lineInput(); }), int(RuntimeError::BadFileName));

    rt::OutputFile output(path("out.txt"));
    output.print(u"first");
    output.close();
    output.close();
    QVERIFY(!output.isOpen());
    QCOMPARE(errorCodeOf([&] { output.print(u"second"); }), int(RuntimeError::BadFileName));
    QCOMPARE(readBytes(path("out.txt")), QByteArray("first\r\n"));
}

void TestTextFile::failedWriteLeavesOldFileUntouched_data() {
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("length");

    // Small enough to sit in Qt's write buffer, so the failure first shows
    // when that buffer is flushed.
    QTest::newRow("failure at flush") << 4096 << 8000;
    QTest::newRow("failure at write") << 64 * 1024 << 1024 * 1024;
}

void TestTextFile::failedWriteLeavesOldFileUntouched() {
    QFETCH(int, limit);
    QFETCH(int, length);

    const QString target = path("doc.txt");
    const QByteArray old("old content\r\n");
    QVERIFY(writeBytes(target, old));

    rt::OutputFile file(target);
    file.print(QString(length, u'x'));
    int code = 0;
    {
        const FileSizeLimit fileSizeLimit(static_cast<rlim_t>(limit));
        if (!fileSizeLimit.active())
            QSKIP("cannot lower the file size limit");
        code = errorCodeOf([&] { file.close(); });
    }
    QCOMPARE(code, int(RuntimeError::DiskFull));
    QCOMPARE(readBytes(target), old);
    QCOMPARE(entriesOf(dir_->path()), QStringList{"doc.txt"});
    QVERIFY(!file.isOpen());
}

void TestTextFile::unclosedOutputLeavesOldFileUntouched() {
    const QByteArray old("old content\r\n");
    QVERIFY(writeBytes(path("doc.txt"), old));
    {
        rt::OutputFile file(path("doc.txt"));
        file.print(u"new content");
        rt::OutputFile fresh(path("new.txt"));
        fresh.print(u"never saved");
    }
    QCOMPARE(readBytes(path("doc.txt")), old);
    QCOMPARE(entriesOf(dir_->path()), QStringList{"doc.txt"});
}

void TestTextFile::movedOutputFileSavesOnce() {
    rt::OutputFile first(path("a.txt"));
    first.print(u"one");
    rt::OutputFile second(std::move(first));
    QVERIFY(!first.isOpen());
    first.close();
    second.print(u"two");

    rt::OutputFile third(path("b.txt"));
    third.print(u"discarded");
    third = std::move(second);
    third.close();

    QCOMPARE(readBytes(path("a.txt")), QByteArray("one\r\ntwo\r\n"));
    QCOMPARE(entriesOf(dir_->path()), QStringList{"a.txt"});
}

void TestTextFile::permissionsAreKept() {
    QVERIFY(writeBytes(path("kept.txt"), "old\r\n"));
    QCOMPARE(::chmod(QFile::encodeName(path("kept.txt")).constData(), 0640), 0);
    saveLines(path("kept.txt"), {"new"});
    QCOMPARE(readBytes(path("kept.txt")), QByteArray("new\r\n"));
    QCOMPARE(modeOf(path("kept.txt")), mode_t(0640));

    // A new file gets the mode any program's new file gets, not the private
    // mode of a temporary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    saveLines(path("fresh.txt"), {"new"});
    QCOMPARE(modeOf(path("fresh.txt")), mode_t(0666 & ~mask));
}

void TestTextFile::savingThroughSymlinkReplacesTarget() {
    QVERIFY(QDir(dir_->path()).mkdir("real"));
    QVERIFY(QDir(dir_->path()).mkdir("links"));
    const QString target = path("real/doc.txt");
    QVERIFY(writeBytes(target, "old\r\n"));
    QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    const QString link = path("links/doc.txt");
    QCOMPARE(::symlink("../real/doc.txt", QFile::encodeName(link).constData()), 0);
    const QString chain = path("links/chain.txt");
    QCOMPARE(::symlink("doc.txt", QFile::encodeName(chain).constData()), 0);

    saveLines(link, {"through the link"});
    QVERIFY(isSymLink(link));
    QCOMPARE(QFile::symLinkTarget(link), target);
    QCOMPARE(readBytes(target), QByteArray("through the link\r\n"));
    QCOMPARE(modeOf(target), mode_t(0640));

    saveLines(chain, {"through two links"});
    QVERIFY(isSymLink(chain));
    QVERIFY(isSymLink(link));
    QCOMPARE(readBytes(target), QByteArray("through two links\r\n"));
    QCOMPARE(entriesOf(path("real")), QStringList{"doc.txt"});
    QCOMPARE(entriesOf(path("links")), QStringList({"chain.txt", "doc.txt"}));

    // A link to a file that does not exist yet creates that file.
    const QString dangling = path("links/later.txt");
    QCOMPARE(::symlink("../real/later.txt", QFile::encodeName(dangling).constData()), 0);
    saveLines(dangling, {"created"});
    QVERIFY(isSymLink(dangling));
    QCOMPARE(readBytes(path("real/later.txt")), QByteArray("created\r\n"));
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "test_textfile.moc"
