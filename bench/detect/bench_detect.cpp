// Encoding detection on real Japanese text, beside uchardet and nkf.
//
// From the corpus bench/detect.sh extracts (message catalogues and manual
// pages of Debian packages) it cuts strings of 2, 4, 8 and 16 Japanese
// characters, stretches holding 64 and whole paragraphs, writes each in
// every encoding a Japanese user meets and asks yonamito's detection,
// `uchardet` and `nkf --guess` which encoding each file is in. Then it times
// the detection of 20 MB files against a plain scan and an iconv decoding of
// the same bytes.

#include "../median.h"
#include "textfile/detect.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <iconv.h>

using rt::FileEncoding;

namespace {

// Converts UTF-8 to another encoding with glibc's iconv; empty on any
// failure (a character the encoding cannot hold).
bool convert(const QByteArray& utf8, const char* to, QByteArray* out) {
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) // NOLINT(performance-no-int-to-ptr)
        return false;
    out->resize(utf8.size() * 4 + 16);
    char* in = const_cast<char*>(utf8.constData()); // NOLINT
    std::size_t inLeft = utf8.size();
    char* dest = out->data();
    std::size_t destLeft = out->size();
    bool ok = iconv(cd, &in, &inLeft, &dest, &destLeft) != static_cast<std::size_t>(-1);
    ok = ok && iconv(cd, nullptr, nullptr, &dest, &destLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out->resize(out->size() - static_cast<qsizetype>(destLeft));
    return ok && inLeft == 0;
}

QList<QByteArray> readRecords(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "bench_detect: cannot read %s\n", qPrintable(path));
        std::exit(2);
    }
    return f.readAll().split('\0');
}

bool japanese(char32_t c) {
    return c >= 0x3000 && c < 0xFFF0;
}

int japaneseCount(const QString& s) {
    int n = 0;
    for (char32_t c : s.toUcs4())
        n += japanese(c) ? 1 : 0;
    return n;
}

// The paragraphs of roff source, with its requests and escapes taken out.
QStringList manParagraphs(const QByteArray& roff) {
    static const QRegularExpression escapes(
        R"(\\(f[BIRP1-4]|f\(..|f\[[^\]]*\]|\(..|\*.|s[-+]?\d|[&,/|^:%]))");
    QStringList paragraphs;
    QString current;
    for (const QByteArray& line : roff.split('\n')) {
        if (line.startsWith('.') || line.startsWith('\'')) {
            if (!current.trimmed().isEmpty())
                paragraphs << current.trimmed();
            current.clear();
            continue;
        }
        QString text = QString::fromUtf8(line);
        text.replace(escapes, QString());
        text.replace(u"\\-"_qs, u"-"_qs).replace(u"\\e"_qs, u"\\"_qs);
        current += text + u'\n';
    }
    if (!current.trimmed().isEmpty())
        paragraphs << current.trimmed();
    return paragraphs;
}

struct Sample {
    QString text;
    QString length; // the cell's column
};

// Takes up to `count` distinct texts from `pool`, in an order fixed by the
// seed, so that every run measures the same files.
QStringList pick(QStringList pool, int count, unsigned seed) {
    pool.removeDuplicates();
    std::mt19937 random(seed);
    std::shuffle(pool.begin(), pool.end(), random);
    return pool.mid(0, std::min<qsizetype>(count, pool.size()));
}

// Legacy encodings can hold only JIS X 0208, so a text joins the corpus
// only when all of them can hold it: every encoding gets the same texts.
bool holdable(const QString& text) {
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    return convert(utf8, "CP932", &out) && convert(utf8, "EUC-JP-MS", &out) &&
           convert(utf8, "ISO-2022-JP", &out);
}

std::vector<Sample> japaneseSamples(const QStringList& texts, const QStringList& paragraphs,
                                    int count) {
    std::vector<Sample> samples;
    // Runs of Japanese characters, cut to 2, 4, 8 and 16.
    std::map<int, QStringList> runs;
    for (const QString& t : texts) {
        const QList<uint> ucs = t.toUcs4();
        qsizetype i = 0;
        while (i < ucs.size()) {
            if (!japanese(ucs[i])) {
                ++i;
                continue;
            }
            qsizetype j = i;
            while (j < ucs.size() && japanese(ucs[j]))
                ++j;
            for (int n : {2, 4, 8, 16}) {
                if (j - i >= n) {
                    const QString run = QString::fromUcs4(
                        reinterpret_cast<const char32_t*>(ucs.constData() + i), n);
                    if (holdable(run))
                        runs[n] << run;
                }
            }
            i = j;
        }
    }
    for (auto& [n, pool] : runs) {
        for (const QString& s : pick(pool, count, 1000 + n))
            samples.push_back({s, QString::number(n)});
    }
    // Stretches of text holding 64 Japanese characters, ASCII and line
    // breaks between them as they come.
    QStringList stretches;
    for (const QString& t : texts + paragraphs) {
        if (japaneseCount(t) < 64)
            continue;
        int seen = 0;
        qsizetype end = 0;
        const QList<uint> ucs = t.toUcs4();
        while (seen < 64)
            seen += japanese(ucs[end++]) ? 1 : 0;
        const QString s =
            QString::fromUcs4(reinterpret_cast<const char32_t*>(ucs.constData()), end);
        if (holdable(s))
            stretches << s;
    }
    for (const QString& s : pick(stretches, count, 64))
        samples.push_back({s, u"64"_qs});
    QStringList whole;
    for (const QString& p : paragraphs) {
        if (japaneseCount(p) >= 100 && holdable(p))
            whole << p;
    }
    for (const QString& s : pick(whole, count, 100))
        samples.push_back({s, u"para"_qs});
    return samples;
}

std::vector<Sample> asciiSamples(const QStringList& english, int count) {
    static const QRegularExpression ascii(u"^[\\x20-\\x7e\\n\\t]+$"_qs);
    QStringList plain;
    for (const QString& t : english) {
        if (ascii.match(t).hasMatch())
            plain << t.trimmed();
    }
    std::vector<Sample> samples;
    for (int n : {2, 4, 8, 16, 64}) {
        QStringList pool;
        for (const QString& t : plain) {
            if (t.size() >= n)
                pool << t.left(n);
        }
        for (const QString& s : pick(pool, count, 2000 + n))
            samples.push_back({s, QString::number(n)});
    }
    QStringList long_;
    for (const QString& t : plain) {
        if (t.size() >= 200)
            long_ << t;
    }
    for (const QString& s : pick(long_, count, 2100))
        samples.push_back({s, u"para"_qs});
    return samples;
}

// One encoding the files are written in, and the names under which each
// tool counts as right.
struct Target {
    const char* label;
    const char* iconvName;
    QByteArray mark;
    rt::Detection expected;
    std::set<std::string> toolNames; // lower case
    bool goal;                       // held to the accuracy goals
    bool ascii = false;              // the texts are English
    bool lineEnd = true;             // the text ends in a line end
};

std::vector<Target> targets() {
    const std::set<std::string> sjis{"shift_jis", "windows-31j", "cp932", "sjis"};
    const std::set<std::string> euc{"euc-jp", "eucjp-ms", "cp51932", "eucjp"};
    const std::set<std::string> utf8{"utf-8"};
    const std::set<std::string> utf16le{"utf-16le", "utf-16"};
    const std::set<std::string> utf16be{"utf-16be", "utf-16"};
    const std::set<std::string> utf32le{"utf-32le", "utf-32"};
    const std::set<std::string> utf32be{"utf-32be", "utf-32"};
    const QByteArray utf32leMark("\xFF\xFE\0\0", 4);
    const QByteArray utf32beMark("\0\0\xFE\xFF", 4);
    using E = FileEncoding;
    std::vector<Target> list;
    auto add = [&list](const char* label, const char* iconvName, const QByteArray& mark,
                       rt::Detection expected, const std::set<std::string>& names) -> Target& {
        return list.emplace_back(Target{label, iconvName, mark, expected, names, false});
    };
    add("CP932", "CP932", {}, {E::Cp932, false}, sjis).goal = true;
    add("EUC-JP", "EUC-JP-MS", {}, {E::EucJpMs, false}, euc).goal = true;
    add("ISO-2022-JP", "ISO-2022-JP", {}, {E::Iso2022Jp, false}, {"iso-2022-jp"}).goal = true;
    add("UTF-8", "UTF-8", {}, {E::Utf8, false}, utf8).goal = true;
    add("UTF-16LE", "UTF-16LE", {}, {E::Utf16Le, false}, utf16le).goal = true;
    add("UTF-16BE", "UTF-16BE", {}, {E::Utf16Be, false}, utf16be).goal = true;
    add("UTF-8+mark", "UTF-8", "\xEF\xBB\xBF", {E::Utf8, true}, utf8);
    add("UTF-16LE+mark", "UTF-16LE", "\xFF\xFE", {E::Utf16Le, true}, utf16le);
    add("UTF-16BE+mark", "UTF-16BE", "\xFE\xFF", {E::Utf16Be, true}, utf16be);
    add("UTF-32LE+mark", "UTF-32LE", utf32leMark, {E::Utf32Le, true}, utf32le);
    add("UTF-32BE+mark", "UTF-32BE", utf32beMark, {E::Utf32Be, true}, utf32be);
    Target& ascii = add("ASCII", "UTF-8", {}, {E::Utf8, false}, {"ascii", "us-ascii", "utf-8"});
    ascii.goal = ascii.ascii = true;
    // Files cut off without a last line end, shown for what they tell: a
    // short UTF-16 text of kana may then be nothing but ASCII bytes.
    add("CP932.noEOL", "CP932", {}, {E::Cp932, false}, sjis).lineEnd = false;
    add("EUC-JP.noEOL", "EUC-JP-MS", {}, {E::EucJpMs, false}, euc).lineEnd = false;
    add("UTF-8.noEOL", "UTF-8", {}, {E::Utf8, false}, utf8).lineEnd = false;
    add("UTF-16LE.noEOL", "UTF-16LE", {}, {E::Utf16Le, false}, utf16le).lineEnd = false;
    add("UTF-16BE.noEOL", "UTF-16BE", {}, {E::Utf16Be, false}, utf16be).lineEnd = false;
    return list;
}

// What a tool says of each file: runs it on the files in batches and reads
// "name: ENCODING" lines (nkf adds " (LF)" and the like, which goes).
std::map<QString, std::string> ask(const QString& program, const QStringList& options,
                                   const QString& dir, const QStringList& files) {
    std::map<QString, std::string> answers;
    for (qsizetype at = 0; at < files.size(); at += 500) {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start(program, options + files.mid(at, 500));
        if (!p.waitForFinished(600000)) {
            std::fprintf(stderr, "bench_detect: %s did not finish\n", qPrintable(program));
            break;
        }
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            const qsizetype colon = line.indexOf(": ");
            if (colon < 0)
                continue;
            QByteArray name = line.mid(colon + 2).trimmed();
            const qsizetype paren = name.indexOf(" (");
            if (paren >= 0)
                name.truncate(paren);
            answers[QString::fromUtf8(line.left(colon))] = name.toLower().toStdString();
        }
    }
    return answers;
}

struct Cell {
    int files = 0;
    int ours = 0;
    int uchardet = 0;
    int nkf = 0;
};

double percent(int right, int files) {
    return files == 0 ? 0.0 : 100.0 * right / files;
}

// Reads the text of each line of a big file the way Open would have to at
// the least: once through iconv into UTF-16.
double iconvDecodeMs(const QByteArray& bytes, const char* from) {
    QElapsedTimer t;
    t.start();
    iconv_t cd = iconv_open("UTF-16LE", from);
    QByteArray out(bytes.size() * 2 + 16, Qt::Uninitialized);
    char* in = const_cast<char*>(bytes.constData()); // NOLINT
    std::size_t inLeft = bytes.size();
    char* dest = out.data();
    std::size_t destLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dest, &destLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno != EILSEQ)
            break;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString messagesPath, englishPath, manPath, workPath;
    int perCell = 500;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        const QString& a = args[i];
        if (a == u"--messages")
            messagesPath = args[i + 1];
        else if (a == u"--english")
            englishPath = args[i + 1];
        else if (a == u"--manpages")
            manPath = args[i + 1];
        else if (a == u"--work")
            workPath = args[i + 1];
        else if (a == u"-n")
            perCell = args[i + 1].toInt();
    }
    if (messagesPath.isEmpty() || englishPath.isEmpty() || manPath.isEmpty() ||
        workPath.isEmpty() || perCell <= 0) {
        std::fprintf(stderr, "usage: bench_detect --messages F --english F --manpages F "
                             "--work DIR [-n PER_CELL]\n(run it through bench/detect.sh)\n");
        return 2;
    }

    QStringList messages;
    for (const QByteArray& r : readRecords(messagesPath))
        messages << QString::fromUtf8(r);
    QStringList english;
    for (const QByteArray& r : readRecords(englishPath))
        english << QString::fromUtf8(r);
    QFile manFile(manPath);
    manFile.open(QIODevice::ReadOnly);
    const QStringList paragraphs = manParagraphs(manFile.readAll());

    const std::vector<Sample> jaSamples = japaneseSamples(messages, paragraphs, perCell);
    const std::vector<Sample> enSamples = asciiSamples(english, perCell);

    // BENCH_DETECT_MISSES=1 lists each file yonamito gets wrong.
    const bool showMisses = qEnvironmentVariableIntValue("BENCH_DETECT_MISSES") != 0;
    QDir().mkpath(workPath);
    const std::vector<Target> all = targets();
    // Cells by encoding and length, in the order they are made.
    std::map<std::pair<int, QString>, Cell> cells;
    std::vector<QString> lengths{u"2"_qs, u"4"_qs, u"8"_qs, u"16"_qs, u"64"_qs, u"para"_qs};
    struct File {
        int target;
        QString length;
        QString name;
    };
    std::vector<File> files;
    QStringList names;
    for (int t = 0; t < int(all.size()); ++t) {
        const Target& target = all[t];
        const std::vector<Sample>& samples = target.ascii ? enSamples : jaSamples;
        int index = 0;
        for (const Sample& s : samples) {
            // Half the files end their lines in CR LF, half in LF.
            const QString lineEnd = index % 2 == 1 ? u"\r\n"_qs : u"\n"_qs;
            QString text = s.text;
            text.replace(u'\n', lineEnd);
            if (target.lineEnd)
                text += lineEnd;
            QByteArray bytes;
            if (!convert(text.toUtf8(), target.iconvName, &bytes))
                continue;
            bytes.prepend(target.mark);
            const QString name =
                u"%1-%2-%3.txt"_qs.arg(QString::fromLatin1(target.label), s.length).arg(index++);
            QFile f(workPath + u'/' + name);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                return 2;
            f.close();
            Cell& cell = cells[{t, s.length}];
            ++cell.files;
            const rt::Detection got = rt::detectEncoding(bytes);
            cell.ours += got == target.expected ? 1 : 0;
            if (showMisses && got != target.expected)
                std::printf("miss %s: %s as %d\n", qPrintable(name), bytes.toHex(' ').constData(),
                            int(got.encoding));
            files.push_back({t, s.length, name});
            names << name;
        }
    }
    const auto uchardet = ask(u"uchardet"_qs, {}, workPath, names);
    const auto nkf = ask(u"nkf"_qs, {u"--guess"_qs}, workPath, names);
    for (const File& f : files) {
        Cell& cell = cells[{f.target, f.length}];
        const auto& accepted = all[f.target].toolNames;
        auto right = [&](const std::map<QString, std::string>& answers) {
            const auto it = answers.find(f.name);
            return it != answers.end() && accepted.count(it->second) > 0 ? 1 : 0;
        };
        cell.uchardet += right(uchardet);
        cell.nkf += right(nkf);
    }

    std::printf("\n%% of files right, by encoding and length in Japanese characters "
                "(ASCII: in characters)\n");
    std::printf("%-14s %-5s %6s %10s %9s %6s\n", "encoding", "len", "files", "yonamito", "uchardet",
                "nkf");
    for (int t = 0; t < int(all.size()); ++t) {
        for (const QString& len : lengths) {
            const auto it = cells.find({t, len});
            if (it == cells.end())
                continue;
            const Cell& c = it->second;
            std::printf("%-14s %-5s %6d %9.1f%% %8.1f%% %5.1f%%\n", all[t].label, qPrintable(len),
                        c.files, percent(c.ours, c.files), percent(c.uchardet, c.files),
                        percent(c.nkf, c.files));
        }
    }

    std::printf("\nGoals (yonamito):\n");
    for (int t = 0; t < int(all.size()); ++t) {
        if (!all[t].goal)
            continue;
        for (const QString& len : lengths) {
            const auto it = cells.find({t, len});
            if (it == cells.end())
                continue;
            const Cell& c = it->second;
            const double p = percent(c.ours, c.files);
            double goal = len == u"2" ? 95.0 : 99.0;
            if (all[t].ascii)
                goal = 100.0;
            std::printf("%s  %-14s %-5s %6.1f%% >= %5.1f%%  (%d of %d)\n",
                        p >= goal && c.files > 0 ? "PASS" : "MISS", all[t].label, qPrintable(len),
                        p, goal, c.ours, c.files);
        }
    }

    // Detection of 20 MB files: whole paragraphs, one after the other.
    std::printf("\nDetection of a 20 MB file, median of 11 runs (ms), against a plain scan "
                "(counting its line ends) and an iconv decoding of the same bytes:\n");
    std::printf("%-12s %9s %9s %9s %10s %10s\n", "encoding", "detect", "scan", "decode", "det/scan",
                "det/decode");
    QString jaBig;
    for (qsizetype i = 0; jaBig.size() < 8'000'000; ++i) {
        const QString& p = paragraphs[i % paragraphs.size()];
        if (japaneseCount(p) > 0 && holdable(p))
            jaBig += p + u"\r\n"_qs;
    }
    QString enBig;
    for (qsizetype i = 0; enBig.size() < 21'000'000; ++i)
        enBig += english[i % english.size()] + u'\n';
    struct Big {
        const char* label;
        const char* iconvName;
        const QString* text;
        FileEncoding expected;
    };
    const Big bigs[] = {{"UTF-8", "UTF-8", &jaBig, FileEncoding::Utf8},
                        {"CP932", "CP932", &jaBig, FileEncoding::Cp932},
                        {"EUC-JP", "EUC-JP-MS", &jaBig, FileEncoding::EucJpMs},
                        {"ISO-2022-JP", "ISO-2022-JP", &jaBig, FileEncoding::Iso2022Jp},
                        {"UTF-16LE", "UTF-16LE", &jaBig, FileEncoding::Utf16Le},
                        {"ASCII", "UTF-8", &enBig, FileEncoding::Utf8}};
    bool allRight = true;
    double worst = 0;
    for (const Big& b : bigs) {
        QByteArray bytes;
        convert(b.text->toUtf8(), b.iconvName, &bytes);
        while (bytes.size() < 20'000'000)
            bytes += bytes.left(20'000'000 - bytes.size());
        bytes.truncate(20'000'000);
        if (b.iconvName == std::string("UTF-16LE"))
            bytes.truncate(bytes.size() & ~qsizetype(1));
        std::vector<double> detect, scan, decode;
        rt::Detection d;
        for (int run = 0; run < 11; ++run) {
            QElapsedTimer t;
            t.start();
            d = rt::detectEncoding(bytes);
            detect.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            volatile auto lines = std::count(bytes.cbegin(), bytes.cend(), '\n');
            (void)lines;
            scan.push_back(t.nsecsElapsed() / 1e6);
            decode.push_back(iconvDecodeMs(bytes, b.iconvName));
        }
        const double md = median(detect), ms = median(scan), mc = median(decode);
        worst = std::max(worst, md);
        const bool right = d == rt::Detection{b.expected, false};
        allRight = allRight && right;
        std::printf("%-12s %9.2f %9.2f %9.2f %9.2fx %9.3fx  %s\n", b.label, md, ms, mc, md / ms,
                    md / mc, right ? "right" : "WRONG");
    }
    std::printf("%s  20 MB detected in %.2f ms at the slowest <= 50 ms\n",
                worst <= 50.0 ? "PASS" : "MISS", worst);
    std::printf("%s  every 20 MB file detected right\n", allRight ? "PASS" : "MISS");
    return 0;
}
