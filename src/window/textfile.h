#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>

class QSaveFile;

namespace rt {

// Largest file that open-for-input accepts. A larger one is refused with
// RuntimeError::OutOfMemory before a single byte of it is read.
inline constexpr qint64 kMaxInputFileSize = qint64(256) * 1024 * 1024;

// Turns the bytes of a text file into text. A file that starts with the UTF-8
// byte-order mark is UTF-8 (the mark itself is dropped); a file whose bytes
// are all valid UTF-8 is UTF-8; anything else is Windows-31J (CP932). Bytes
// that are not valid in the chosen encoding become U+FFFD. Pure: no I/O, and
// safe on any input.
QString decodeFileText(QByteArrayView bytes);

// Splits text at line ends. CR LF, a lone LF and a lone CR each end a line; a
// line end after the last line does not start another one, so "" gives no
// lines and "a\r\n" gives just "a".
QStringList splitLines(QStringView text);

// Turns text into the bytes of a text file: CP932 when every character
// survives that, otherwise the whole text as UTF-8 behind a byte-order mark.
// decodeFileText(encodeFileText(t)) == t for every t without lone surrogates;
// lone surrogates come back as U+FFFD. Pure: no I/O, and safe on any input.
QByteArray encodeFileText(QStringView text);

// A file opened for input. The whole file is read, decoded and split into
// lines when it is opened, so the file itself is not held open afterwards.
// Every error is reported as an rt::RuntimeError.
class InputFile {
public:
    // Opens an existing regular file. Throws BadFileName, FileNotFound,
    // PathNotFound, PathFileAccessError, PermissionDenied, OutOfMemory or
    // DeviceIoError.
    explicit InputFile(const QString& path);

    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() = default;

    bool isOpen() const noexcept { return open_; }

    // True once every line has been read. Throws BadFileName when closed.
    bool eof() const;

    // The next line without its line end. Throws InputPastEndOfFile at the
    // end of the file and BadFileName when closed.
    QString lineInput();

    // Closes the file; closing a closed file does nothing.
    void close() noexcept;

private:
    QStringList lines_;
    qsizetype next_ = 0;
    bool open_ = false;
};

// A file opened for output. Printed text is collected in memory and written
// by close(), which replaces the file atomically: until close() succeeds, an
// existing file keeps its old content. Saving through a symbolic link
// replaces the link's target, and an existing file keeps its permissions.
// Every error is reported as an rt::RuntimeError.
class OutputFile {
public:
    // Opens a file for output, creating it on close() if it does not exist.
    // Throws BadFileName, PathNotFound, PermissionDenied, DiskFull or
    // PathFileAccessError.
    explicit OutputFile(const QString& path);

    OutputFile(OutputFile&& other) noexcept;
    // Discards whatever this file had collected, as the destructor does.
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Without a successful close(), nothing is written: an existing file
    // stays as it was.
    ~OutputFile();

    bool isOpen() const noexcept { return file_ != nullptr; }

    // Appends the text followed by CR LF. Throws BadFileName when closed and
    // OutOfMemory when the text no longer fits in memory.
    void print(QStringView text);

    // Encodes everything printed, writes it and commits it. Throws DiskFull
    // or DeviceIoError (or another file error) when that fails; the old file
    // is then left untouched. The file is closed afterwards either way, and
    // closing a closed file does nothing.
    void close();

private:
    void discard() noexcept;

    std::unique_ptr<QSaveFile> file_;
    QString text_;
};

} // namespace rt
