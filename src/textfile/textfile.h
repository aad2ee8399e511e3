#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include "textfile/text_codec.h"

#include <memory>
#include <optional>

class QSaveFile;

namespace rt {

// Largest file that open-for-input accepts. A larger one is refused with
// RuntimeError::OutOfMemory before a single byte of it is read.
inline constexpr qint64 kMaxInputFileSize = qint64(256) * 1024 * 1024;

// The limit in force: kMaxInputFileSize, unless a test asked for a smaller
// one to try the edge cheaply.
qint64 maxInputFileSize();
void setMaxInputFileSize(qint64 limit);

// How a saved file is made durable: fsync(), unless a test stands in a
// failing one to see that its error is reported. Null restores fsync().
using SyncFunction = int (*)(int fd);
void setSyncFunction(SyncFunction sync);

// A file opened for input. The whole file is read and decoded when it is
// opened, so the file itself is not held open afterwards. CR LF, a lone LF
// and a lone CR each end a line; a line end after the last line does not
// start another one, so an empty file has no lines and "a\r\n" just "a".
// format() tells how it was stored, for writing the text back alike.
// Every error is reported as an rt::RuntimeError.
class InputFile {
public:
    // Opens an existing regular file. Throws BadFileName, FileNotFound,
    // PathNotFound, PathFileAccessError, PermissionDenied, OutOfMemory or
    // DeviceIoError.
    explicit InputFile(const QString& path);

    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() = default;

    bool isOpen() const noexcept { return open_; }
    const TextFormat& format() const noexcept { return format_; }

    // True once every line has been read. Throws BadFileName when closed.
    bool eof() const;

    // The next line without its line end. Throws InputPastEndOfFile at the
    // end of the file and BadFileName when closed.
    QString lineInput();

    // Closes the file; closing a closed file does nothing.
    void close() noexcept;

private:
    QString text_;
    TextFormat format_;
    // Where the next line starts.
    qsizetype next_ = 0;
    bool open_ = false;
};

// A file opened for output. Printed text is collected in memory, encoded in
// the given format (into its kept bytes, where it has them) and written by
// close(). An existing file is replaced atomically
// (until close() succeeds it keeps its old content), and the new file gets
// the old one's owner, group, mode, extended attributes and ACLs. Where that
// cannot be done (the folder is not writable, the file has other hard
// links, the owner cannot be given away, an attribute cannot be copied),
// the file is written in place instead: the space for the new content is
// reserved first, so that a full disk fails before a single old byte
// changes. Saving through a symbolic link writes the link's target.
// Every error is reported as an rt::RuntimeError.
class OutputFile {
public:
    // Opens a file for output, creating it on close() if it does not exist.
    // Throws BadFileName, PathNotFound, PermissionDenied, DiskFull or
    // PathFileAccessError.
    OutputFile(const QString& path, TextFormat format);

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Without a successful close(), nothing is written: an existing file
    // stays as it was.
    ~OutputFile();

    bool isOpen() const noexcept { return file_ != nullptr || inPlace_ >= 0; }
    // The format the text is written in; after close(), its kept bytes are
    // the bytes written.
    const TextFormat& format() const noexcept { return format_; }

    // Appends the text followed by CR LF. Throws BadFileName when closed and
    // OutOfMemory when the text no longer fits in memory.
    void print(QStringView text);

    // Encodes everything printed. Returns the first character that the
    // format cannot hold, if any; nothing is written then, and close() writes
    // nothing unless the text is encoded again in another format.
    std::optional<Unheld> encode(const TextFormat& format);
    std::optional<Unheld> encode() { return encode(format_); }

    // Encodes everything printed unless encode() did, writes it and
    // commits it. A character the format cannot hold fails with
    // InvalidPropertyValue and writes nothing. Throws DiskFull
    // or DeviceIoError (or another file error) when that fails; the old file
    // is then left untouched. The file is closed afterwards either way, and
    // closing a closed file does nothing.
    void close();

private:
    void discard() noexcept;
    void openInPlace(const QByteArray& native);

    std::unique_ptr<QSaveFile> file_;
    // The existing file, when it is written in place; -1 otherwise.
    int inPlace_ = -1;
    QString text_;
    TextFormat format_;
    std::optional<QByteArray> bytes_;
};

} // namespace rt
