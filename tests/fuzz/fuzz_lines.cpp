// The whole open and save path on real files: InputFile must hand out exactly
// the lines that decodeFileText and splitLines give for the file's bytes, and
// what OutputFile writes must be exactly encodeFileText of the printed lines,
// each followed by CR LF, and must read back as those lines.
//
// The files live in a folder of their own under $FUZZ_TMPDIR, /dev/shm or the
// system's temporary folder, in that order of preference: a RAM-backed folder
// keeps the file system from dominating the run time.

#include "fuzz_support.h"

#include "window/runtime_error.h"
#include "window/textfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString makeWorkFolder() {
    QByteArray base = qgetenv("FUZZ_TMPDIR");
    if (base.isEmpty())
        base = ::access("/dev/shm", W_OK) == 0 ? QByteArray("/dev/shm")
                                               : QDir::tempPath().toLocal8Bit();
    QByteArray pattern = base + "/yonamito-fuzz-lines-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return QFile::decodeName(pattern);
}

const QString& workFolder() {
    static const QString folder = [] {
        QString made = makeWorkFolder();
        // libFuzzer ends a timed run through exit(), so the folder goes then.
        std::atexit([] { QDir(workFolder()).removeRecursively(); });
        return made;
    }();
    return folder;
}

void writeBytes(const QString& path, QByteArrayView bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes.data(), bytes.size()) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        std::abort();
    }
    return file.readAll();
}

template <typename Call> int errorCodeOf(Call&& call) {
    try {
        call();
    } catch (const rt::RuntimeError& error) {
        return error.code();
    }
    return 0;
}

// Reads every line the way the editor's Open does, then checks that the end
// of the file and closing behave.
QStringList readLines(const QString& path) {
    rt::InputFile file(path);
    QStringList lines;
    while (!file.eof())
        lines.append(file.lineInput());
    FUZZ_CHECK(errorCodeOf([&] { file.lineInput(); }) == rt::RuntimeError::InputPastEndOfFile,
               "reading past the last line fails with InputPastEndOfFile");
    file.close();
    FUZZ_CHECK(errorCodeOf([&] { (void)file.eof(); }) == rt::RuntimeError::BadFileName,
               "a closed input file refuses eof() with BadFileName");
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const QString inPath = workFolder() + QStringLiteral("/in.txt");
    const QString outPath = workFolder() + QStringLiteral("/out.txt");

    writeBytes(inPath, bytes);
    const QString text = rt::decodeFileText(bytes);
    FUZZ_CHECK(readLines(inPath) == rt::splitLines(text),
               "an opened file gives the lines of its decoded bytes");

    // The pieces printed may hold line ends of their own; U+0000 marks where
    // one print ends and the next begins, so the fuzzer controls both.
    const QStringList pieces = text.split(QChar(u'\0'));
    {
        rt::OutputFile out(outPath);
        for (const QString& piece : pieces)
            out.print(piece);
        out.close();
        FUZZ_CHECK(!out.isOpen(), "an output file is closed after close()");
    }
    const QString printed = fuzz::joinLines(pieces, u"\r\n");
    const QByteArray expectedBytes = rt::encodeFileText(printed);
    FUZZ_CHECK_EQUAL(QByteArrayView(expectedBytes), QByteArrayView(readBytes(outPath)),
                     "a saved file holds the encoded text of every print and its CR LF");
    FUZZ_CHECK(readLines(outPath) == rt::splitLines(printed),
               "a saved file reads back as the lines that were printed");

    // An output file dropped without close() must leave the old file alone.
    {
        rt::OutputFile abandoned(inPath);
        abandoned.print(u"replacement");
    }
    FUZZ_CHECK_EQUAL(bytes, QByteArrayView(readBytes(inPath)),
                     "an output file that is never closed leaves the file as it was");
    return 0;
}
