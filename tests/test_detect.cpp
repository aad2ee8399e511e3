// The rules of encoding detection that no amount of real text shows: which
// mark wins where two marks begin alike, that ASCII stays UTF-8 even with
// escapes in it, and the cases the likeliness of the text has to settle
// when the bytes alone cannot.

#include "textfile/detect.h"

#include <QTest>

using rt::FileEncoding;

Q_DECLARE_METATYPE(rt::FileEncoding)

class TestDetect : public QObject {
    Q_OBJECT

private slots:
    void detects_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<FileEncoding>("encoding");
        QTest::addColumn<bool>("bom");
        auto row = [](const char* name, QByteArray bytes, FileEncoding e, bool bom = false) {
            QTest::newRow(name) << bytes << e << bom;
        };
        using namespace Qt::StringLiterals;
        row("empty", {}, FileEncoding::Utf8);
        row("ascii", "plain text\r\n"_ba, FileEncoding::Utf8);
        row("ascii with terminal escapes", "\x1b[31mred\x1b[0m \x1b(B\n"_ba, FileEncoding::Utf8);
        row("utf-32 le mark before utf-16 le", "\xff\xfe\0\0A\0\0\0"_ba, FileEncoding::Utf32Le,
            true);
        row("utf-32 be mark", "\0\0\xfe\xff\0\0\0A"_ba, FileEncoding::Utf32Be, true);
        row("utf-16 le mark",
            "\xff\xfe"
            "A\0"_ba,
            FileEncoding::Utf16Le, true);
        row("utf-16 be mark", "\xfe\xff\0A"_ba, FileEncoding::Utf16Be, true);
        row("utf-8 mark",
            "\xef\xbb\xbf"
            "A"_ba,
            FileEncoding::Utf8, true);
        row("iso-2022-jp", "\x1b$B$3$s\x1b(B\n"_ba, FileEncoding::Iso2022Jp);
        row("iso-2022-jp-2004", "\x1b$B$+\x1b$(O&n\x1b(B\n"_ba, FileEncoding::Iso2022Jp2004);
        // "あい" in UTF-16 is ASCII bytes; its line end gives it away.
        row("utf-16 le of ascii bytes", "B0D0\n\0"_ba, FileEncoding::Utf16Le);
        row("utf-16 be of ascii bytes", "0B0D\0\n"_ba, FileEncoding::Utf16Be);
        // EUC-JP's kana are valid CP932 half-width katakana.
        row("euc-jp kana", "\xa4\xa2\xa4\xa4\n"_ba, FileEncoding::EucJpMs);
        row("cp932 kana", "\x82\xa0\x82\xa2\r\n"_ba, FileEncoding::Cp932);
        // "é" in UTF-8 is a valid EUC-JP kanji.
        row("utf-8 latin", "caf\xc3\xa9\n"_ba, FileEncoding::Utf8);
        // Nothing reads these without an error: fewest undecodable bytes.
        row("utf-8 with a stray byte", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xff\n"_ba,
            FileEncoding::Utf8);
        row("cp932 with a stray byte", "\x83\x65\x83\x4c\x83\x58\x83\x67\x80\r\n"_ba,
            FileEncoding::Cp932);
        row("iso-2022-jp with a stray byte", "\x1b$B$3$s\x1b(B\xff\n"_ba, FileEncoding::Iso2022Jp);
        // Bytes that fail UTF-8 without one sequence of it are no UTF-8.
        row("latin-1 without a line end", "caf\xe9"_ba, FileEncoding::Cp932);
        // A UTF-8 lead byte whose next byte is no continuation.
        row("cp932 shaped like utf-8",
            "\xe3\xc3"
            "A\n"_ba,
            FileEncoding::Cp932);
        // A big file is read in samples; Japanese late in it still counts.
        row("euc-jp after 300 kB of ascii", QByteArray(300000, 'a') + "\n\xa4\xa2\xa4\xa4\n"_ba,
            FileEncoding::EucJpMs);
        row("shift_jis-2004 only", "\x82\xa9\x83\xec\n"_ba, FileEncoding::ShiftJis2004);
        row("euc-jis-2004 only", "\xa4\xab\xa6\xee\n"_ba, FileEncoding::EucJis2004);
    }
    void detects() {
        QFETCH(QByteArray, bytes);
        QFETCH(FileEncoding, encoding);
        QFETCH(bool, bom);
        const rt::Detection d = rt::detectEncoding(bytes);
        QCOMPARE(int(d.encoding), int(encoding));
        QCOMPARE(d.bom, bom);
    }
};

QTEST_APPLESS_MAIN(TestDetect)
#include "test_detect.moc"
