#include "window/textfile.h"

#include "window/runtime_error.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF", 3);

// glibc's name for Windows-31J, the code page that Japanese Windows writes
// plain text files in.
constexpr const char kCp932[] = "CP932";

// iconv reads and writes raw bytes, so the Unicode side is named in the
// host's byte order to match QChar and char32_t in memory.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr const char kUtf16[] = "UTF-16LE";
constexpr const char kUtf32[] = "UTF-32LE";
#else
constexpr const char kUtf16[] = "UTF-16BE";
constexpr const char kUtf32[] = "UTF-32BE";
#endif

// Large inputs are decoded and written piecewise so that a failed UTF-8 guess
// is noticed early and no single step needs a second copy of the whole file.
constexpr qsizetype kChunkBytes = qsizetype(1) << 20;
constexpr std::size_t kDecodeChunkChars = std::size_t(1) << 16;

[[noreturn]] void fail(int code) {
    throw RuntimeError(code);
}

// Owns one iconv conversion descriptor. A descriptor carries shift state, so
// each conversion gets its own instead of sharing one between threads.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return cd_ != invalid(); }

    // Converts as much as possible; returns false with errno set when iconv
    // stopped early. A null input flushes the shift state.
    bool convert(char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
        return iconv(cd_, in, inLeft, out, outLeft) != static_cast<std::size_t>(-1);
    }

    // Returns to the initial shift state after an error, so that the bytes
    // after a bad one are read as if they started the input.
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    // iconv_open() reports failure with the all-ones handle; comparing with
    // it needs this one cast.
    static iconv_t invalid() {
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
    }

    iconv_t cd_;
};

// Decodes UTF-8 into text. With strict set, returns nothing as soon as any
// byte sequence is invalid; otherwise each invalid sequence becomes U+FFFD.
// A byte-order mark inside the bytes is a character like any other.
std::optional<QString> decodeUtf8(QByteArrayView bytes, bool strict) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text;
    qsizetype written = 0;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = std::min(bytes.size(), pos + kChunkBytes);
        // Cut only where a new sequence starts. A sequence has at most three
        // continuation bytes, so the cut moves back at most three bytes. If
        // it still lands on a continuation byte, that byte is the fourth or
        // later of its run and belongs to no sequence: cutting right before
        // the original position then splits nothing that could be valid.
        const qsizetype limit = end;
        for (int step = 0; step < 3 && end < bytes.size() && end > pos + 1; ++step) {
            if ((static_cast<uchar>(bytes[end]) & 0xC0) != 0x80)
                break;
            --end;
        }
        if (end < bytes.size() && (static_cast<uchar>(bytes[end]) & 0xC0) == 0x80)
            end = limit;
        const QByteArrayView chunk = bytes.sliced(pos, end - pos);
        const qsizetype needed = written + decoder.requiredSpace(chunk.size());
        if (text.size() < needed)
            text.resize(std::max(needed, text.size() * 2));
        const QChar* last = decoder.appendToBuffer(text.data() + written, chunk);
        written = last - text.constData();
        if (strict && decoder.hasError())
            return std::nullopt;
        pos = end;
    }
    text.truncate(written);
    return text;
}

// Decodes CP932. Every byte that does not start a valid character becomes
// U+FFFD and decoding goes on with the next byte, so one stray byte cannot
// swallow a line end that follows it.
QString decodeCp932(QByteArrayView bytes) {
    Iconv cd(kUtf32, kCp932);
    QString text;
    if (!cd.valid()) {
        // Without the converter only ASCII can be read for sure.
        text.reserve(bytes.size());
        for (const char byte : bytes)
            text += static_cast<uchar>(byte) < 0x80 ? QChar(QLatin1Char(byte))
                                                    : QChar(QChar::ReplacementCharacter);
        return text;
    }

    // One CP932 byte never yields more than one UTF-16 unit, so the text
    // normally fits into as many units as there are bytes; growth is there
    // only so that this is not an assumption.
    text.resize(bytes.size());
    qsizetype written = 0;
    auto reserveFor = [&](qsizetype units) {
        if (text.size() - written < units)
            text.resize(std::max(written + units, text.size() * 2));
    };

    std::vector<char32_t> buffer(kDecodeChunkChars);
    char* in = const_cast<char*>(bytes.data());
    auto inLeft = static_cast<std::size_t>(bytes.size());
    bool flushing = false;
    for (;;) {
        char* out = reinterpret_cast<char*>(buffer.data());
        std::size_t outLeft = buffer.size() * sizeof(char32_t);
        const bool done = flushing ? cd.convert(nullptr, nullptr, &out, &outLeft)
                                   : cd.convert(&in, &inLeft, &out, &outLeft);
        const int error = errno;

        const auto produced =
            static_cast<qsizetype>((out - reinterpret_cast<char*>(buffer.data())) / 4);
        reserveFor(produced * 2);
        QChar* dest = text.data() + written;
        for (qsizetype i = 0; i < produced; ++i) {
            const char32_t c = buffer[static_cast<std::size_t>(i)];
            if (QChar::requiresSurrogates(c)) {
                *dest++ = QChar(QChar::highSurrogate(c));
                *dest++ = QChar(QChar::lowSurrogate(c));
            } else {
                *dest++ = QChar(static_cast<char16_t>(c));
            }
        }
        written = dest - text.constData();

        if (done) {
            if (flushing)
                break;
            flushing = true;
            continue;
        }
        // A full output buffer has just been emptied; anything else is a bad
        // or truncated sequence at the current byte.
        if (error == E2BIG && produced > 0)
            continue;
        if (flushing || inLeft == 0)
            break;
        reserveFor(1);
        text[written++] = QChar::ReplacementCharacter;
        ++in;
        --inLeft;
        cd.reset();
    }
    text.truncate(written);
    return text;
}

// Encodes the text as CP932, or returns nothing when some character has no
// CP932 form at all.
std::optional<QByteArray> encodeCp932(QStringView text) {
    if (text.isEmpty())
        return QByteArray();
    Iconv cd(kCp932, kUtf16);
    if (!cd.valid())
        return std::nullopt;

    // Two bytes per UTF-16 unit is the most CP932 needs; growth covers the
    // converter's flush all the same.
    QByteArray bytes(text.size() * 2 + 16, Qt::Uninitialized);
    qsizetype written = 0;
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.utf16()));
    std::size_t inLeft = static_cast<std::size_t>(text.size()) * sizeof(char16_t);
    bool flushing = false;
    for (;;) {
        char* out = bytes.data() + written;
        auto outLeft = static_cast<std::size_t>(bytes.size() - written);
        const bool done = flushing ? cd.convert(nullptr, nullptr, &out, &outLeft)
                                   : cd.convert(&in, &inLeft, &out, &outLeft);
        const int error = errno;
        written = out - bytes.constData();
        if (done) {
            if (flushing)
                break;
            flushing = true;
            continue;
        }
        if (error != E2BIG)
            return std::nullopt;
        bytes.resize(bytes.size() * 2);
    }
    bytes.truncate(written);
    return bytes;
}

// A lone surrogate is not a character: neither CP932 nor UTF-8 can store it,
// and Qt's UTF-8 encoder would turn it into '?'. It is written as U+FFFD
// instead, which at least reads back as "something was lost here".
bool hasLoneSurrogate(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return true;
    }
    return false;
}

QString replaceLoneSurrogates(QStringView text) {
    QString result = text.toString();
    for (qsizetype i = 0; i < result.size(); ++i) {
        if (result[i].isHighSurrogate() && i + 1 < result.size() && result[i + 1].isLowSurrogate())
            ++i;
        else if (result[i].isSurrogate())
            result[i] = QChar::ReplacementCharacter;
    }
    return result;
}

// Owns a file descriptor so that every early exit closes it.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// The path as the system sees it. An empty name and a name with a NUL in it
// (which the system would silently cut short) are refused outright.
QByteArray nativePath(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        fail(RuntimeError::BadFileName);
    return QFile::encodeName(path);
}

bool isDirectory(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Maps a failed stat() or open() of a file to read to the runtime's error.
int lookupFailureCode(int error, const QString& path) {
    switch (error) {
    case ENOENT:
        // The file may be missing, or already the folder it should be in.
        return isDirectory(QFileInfo(path).absolutePath()) ? RuntimeError::FileNotFound
                                                           : RuntimeError::PathNotFound;
    case ENOTDIR:
        return RuntimeError::PathNotFound;
    case ENAMETOOLONG:
        return RuntimeError::BadFileName;
    case EACCES:
    case EPERM:
        return RuntimeError::PermissionDenied;
    case ENOMEM:
        return RuntimeError::OutOfMemory;
    case EIO:
        return RuntimeError::DeviceIoError;
    default:
        return RuntimeError::PathFileAccessError;
    }
}

// Works out why QSaveFile could not create its temporary file. Qt does not
// report the cause, so the file system is asked; errno from the failed call
// only breaks the tie where the answer is not visible from outside.
int saveOpenFailureCode(int error, const QString& path) {
    // QSaveFile writes next to the file that a chain of links ends at.
    QFileInfo target(path);
    for (int hops = 0; hops < 40 && target.isSymLink(); ++hops)
        target.setFile(target.symLinkTarget());
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir())
        return RuntimeError::PathNotFound;
    if (error == EACCES || error == EPERM || error == EROFS ||
        (target.exists() && !target.isWritable()) || !folder.isWritable())
        return RuntimeError::PermissionDenied;
    if (error == ENAMETOOLONG)
        return RuntimeError::BadFileName;
    if (error == ENOSPC || error == EDQUOT)
        return RuntimeError::DiskFull;
    return RuntimeError::PathFileAccessError;
}

// Maps a failed write, flush, sync or commit to the runtime's error.
int saveFailureCode(int error, const QSaveFile& file) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return RuntimeError::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return RuntimeError::PermissionDenied;
    default:
        // Qt reports a full disk as a resource error even when errno has
        // been overwritten since.
        return file.error() == QFileDevice::ResourceError ? RuntimeError::DiskFull
                                                          : RuntimeError::DeviceIoError;
    }
}

int openForReading(const QByteArray& native) {
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads the whole file. More than the limit is never read, even if the file
// grows after its size was checked.
QByteArray readAll(int fd, qint64 sizeHint) {
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(
        std::clamp<qint64>(sizeHint + 1, qint64(64) * 1024, kMaxInputFileSize + 1)));
    qsizetype total = 0;
    for (;;) {
        if (total == bytes.size()) {
            if (total > kMaxInputFileSize)
                fail(RuntimeError::OutOfMemory);
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, kMaxInputFileSize + 1));
        }
        const ssize_t n =
            ::read(fd, bytes.data() + total, static_cast<std::size_t>(bytes.size() - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(RuntimeError::DeviceIoError);
        }
        if (n == 0)
            break;
        total += n;
    }
    bytes.truncate(total);
    return bytes;
}

} // namespace

QString decodeFileText(QByteArrayView bytes) {
    if (bytes.startsWith(kUtf8Bom))
        return *decodeUtf8(bytes.sliced(kUtf8Bom.size()), false);
    if (std::optional<QString> text = decodeUtf8(bytes, true))
        return *std::move(text);
    return decodeCp932(bytes);
}

QStringList splitLines(QStringView text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.sliced(start, i - start).toString());
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.sliced(start).toString());
    return lines;
}

QByteArray encodeFileText(QStringView text) {
    QString cleaned;
    if (hasLoneSurrogate(text)) {
        cleaned = replaceLoneSurrogates(text);
        text = cleaned;
    }
    // ASCII is the same in CP932, and needs no converter to say so.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1();
    // CP932 is used only when reading the bytes back gives exactly this text.
    // That one comparison catches both the characters glibc maps to a
    // look-alike (U+00A5 to a backslash, U+301C to U+FF5E and so on) and the
    // CP932 byte strings that happen to be valid UTF-8 (half-width katakana
    // "ﾂ｡" is C2 A1, which is UTF-8 for "¡") or start like a byte-order mark.
    if (std::optional<QByteArray> cp932 = encodeCp932(text)) {
        if (QStringView(decodeFileText(*cp932)) == text)
            return *std::move(cp932);
    }
    // Otherwise the whole text goes out as UTF-8 behind a byte-order mark,
    // which decodeFileText always reads back unchanged; mixing encodings or
    // replacing characters with '?' would lose text.
    QByteArray bytes = kUtf8Bom.toByteArray();
    bytes += text.toUtf8();
    return bytes;
}

InputFile::InputFile(const QString& path) {
    const QByteArray native = nativePath(path);

    // Look before opening: opening a FIFO or a device just to find out what
    // it is could block or have side effects.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        fail(lookupFailureCode(errno, path));
    if (!S_ISREG(st.st_mode))
        fail(RuntimeError::PathFileAccessError);

    // O_NONBLOCK keeps a FIFO swapped in after the check from blocking the
    // open; the second check then refuses it.
    FileDescriptor fd(openForReading(native));
    if (!fd.valid())
        fail(lookupFailureCode(errno, path));
    if (::fstat(fd.get(), &st) != 0)
        fail(RuntimeError::DeviceIoError);
    if (!S_ISREG(st.st_mode))
        fail(RuntimeError::PathFileAccessError);
    if (st.st_size > kMaxInputFileSize)
        fail(RuntimeError::OutOfMemory);

    try {
        const QByteArray bytes = readAll(fd.get(), st.st_size);
        fd.close();
        lines_ = splitLines(decodeFileText(bytes));
    } catch (const std::bad_alloc&) {
        fail(RuntimeError::OutOfMemory);
    }
    open_ = true;
}

InputFile::InputFile(InputFile&& other) noexcept
    : lines_(std::move(other.lines_)), next_(std::exchange(other.next_, 0)),
      open_(std::exchange(other.open_, false)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        lines_ = std::move(other.lines_);
        other.lines_.clear();
        next_ = std::exchange(other.next_, 0);
        open_ = std::exchange(other.open_, false);
    }
    return *this;
}

bool InputFile::eof() const {
    if (!open_)
        fail(RuntimeError::BadFileName);
    return next_ >= lines_.size();
}

QString InputFile::lineInput() {
    if (!open_)
        fail(RuntimeError::BadFileName);
    if (next_ >= lines_.size())
        fail(RuntimeError::InputPastEndOfFile);
    // Each line is handed out once, so it can leave the list.
    return std::move(lines_[next_++]);
}

void InputFile::close() noexcept {
    lines_.clear();
    next_ = 0;
    open_ = false;
}

OutputFile::OutputFile(const QString& path) {
    const QByteArray native = nativePath(path);

    // Replacing a folder fails anyway; replacing a FIFO or a device with a
    // regular file would be worse than failing, so nothing but a regular
    // file is overwritten.
    struct stat st {};
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        fail(RuntimeError::PathFileAccessError);

    // QSaveFile writes a temporary file next to the target and renames it
    // over the target on commit. It follows symbolic links (the link's
    // target is replaced, the link stays) and gives the new file the old
    // one's permissions. Its fallback to writing the target directly, which
    // would defeat the atomic replace, stays off.
    auto file = std::make_unique<QSaveFile>(path);
    errno = 0;
    if (!file->open(QIODevice::WriteOnly))
        fail(saveOpenFailureCode(errno, path));
    file_ = std::move(file);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : file_(std::move(other.file_)), text_(std::move(other.text_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        file_ = std::move(other.file_);
        text_ = std::move(other.text_);
        other.text_.clear();
    }
    return *this;
}

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::discard() noexcept {
    if (file_) {
        // Deleting an uncommitted QSaveFile removes its temporary file.
        file_->cancelWriting();
        file_.reset();
    }
    text_.clear();
}

void OutputFile::print(QStringView text) {
    if (!file_)
        fail(RuntimeError::BadFileName);
    try {
        text_ += text;
        text_ += u"\r\n";
    } catch (const std::bad_alloc&) {
        fail(RuntimeError::OutOfMemory);
    }
}

void OutputFile::close() {
    if (!file_)
        return;
    // The file counts as closed from here on, whether or not this succeeds.
    const std::unique_ptr<QSaveFile> file = std::move(file_);
    const QString text = std::exchange(text_, QString());

    QByteArray bytes;
    try {
        bytes = encodeFileText(text);
    } catch (const std::bad_alloc&) {
        file->cancelWriting();
        fail(RuntimeError::OutOfMemory);
    }

    // Qt 6.4's commit() still renames the file into place when its own final
    // flush fails, so every step is checked here first: each write, the
    // flush, and the sync that brings out errors a network or delayed-
    // allocation file system reports only then.
    int code = 0;
    for (qsizetype pos = 0; pos < bytes.size() && code == 0;) {
        const qsizetype length = std::min(kChunkBytes, bytes.size() - pos);
        errno = 0;
        if (file->write(bytes.constData() + pos, length) != length)
            code = saveFailureCode(errno, *file);
        pos += length;
    }
    if (code == 0) {
        errno = 0;
        if (!file->flush())
            code = saveFailureCode(errno, *file);
    }
    if (code == 0 && ::fsync(file->handle()) != 0 && errno != EINVAL && errno != EROFS)
        code = saveFailureCode(errno, *file);
    if (code == 0) {
        errno = 0;
        if (file->commit())
            return;
        code = saveFailureCode(errno, *file);
    } else {
        // Once cancelled, commit() removes the temporary file and leaves the
        // old one as it was.
        file->cancelWriting();
        file->commit();
    }
    fail(code);
}

} // namespace rt
