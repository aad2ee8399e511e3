#include "textfile/textfile.h"

#include "window/runtime_error.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace rt {

using namespace Qt::StringLiterals;

namespace {

qint64 sizeLimit = kMaxInputFileSize;
SyncFunction syncFile = ::fsync;

// Large files are written piecewise, so that no single call has to move
// the whole file.
constexpr qsizetype kChunkBytes = qsizetype(1) << 20;

[[noreturn]] void fail(int code) {
    throw RuntimeError(code);
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

// A file that cannot be read says so: the runtime's own message for a
// permission error speaks of writing.
[[noreturn]] void failLookup(int error, const QString& path) {
    const int code = lookupFailureCode(error, path);
    if (code == RuntimeError::PermissionDenied)
        throw RuntimeError(code, u"読み込みできません。"_s);
    fail(code);
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

// Maps the errno of a failed write, reservation or sync to the runtime's
// error, or 0 when there was none.
int writeFailureCode(int error) {
    switch (error) {
    case 0:
        return 0;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return RuntimeError::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return RuntimeError::PermissionDenied;
    default:
        return RuntimeError::DeviceIoError;
    }
}

// Maps a failed write, flush, sync or commit to the runtime's error.
int saveFailureCode(int error, const QSaveFile& file) {
    // Qt reports a full disk as a resource error even when errno has been
    // overwritten since.
    if (error == 0 || error == EIO)
        return file.error() == QFileDevice::ResourceError ? RuntimeError::DiskFull
                                                          : RuntimeError::DeviceIoError;
    return writeFailureCode(error);
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
    bytes.resize(
        static_cast<qsizetype>(std::clamp<qint64>(sizeHint + 1, qint64(64) * 1024, sizeLimit + 1)));
    qsizetype total = 0;
    for (;;) {
        if (total == bytes.size()) {
            if (total > sizeLimit)
                fail(RuntimeError::OutOfMemory);
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, sizeLimit + 1));
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

// Whether a new file may be made beside the one a path (through any links)
// names, as the atomic replace needs.
bool folderWritable(const QByteArray& native) {
    const QByteArray resolved =
        QFile::encodeName(QFileInfo(QFile::decodeName(native)).canonicalFilePath());
    const QByteArray folder =
        QFile::encodeName(QFileInfo(QFile::decodeName(resolved)).absolutePath());
    // Asked as the process acts, not as it was started.
    return ::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Gives the new file what the old one carries beside its content: owner and
// group, mode, extended attributes (ACLs among them). False when any of it
// cannot be given.
bool takeOver(int fd, const QByteArray& native, const struct stat& old) {
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    // After the owner: a change of owner clears the set-id bits.
    if (::fchmod(fd, old.st_mode & 07777) != 0)
        return false;
    const ssize_t listSize = ::listxattr(native.constData(), nullptr, 0);
    if (listSize < 0)
        return errno == ENOTSUP;
    QByteArray names(listSize, '\0');
    const ssize_t got = ::listxattr(native.constData(), names.data(), names.size());
    if (got < 0)
        return false;
    names.truncate(got);
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty())
            continue;
        const ssize_t valueSize = ::getxattr(native.constData(), name.constData(), nullptr, 0);
        if (valueSize < 0)
            return false;
        QByteArray value(valueSize, '\0');
        const ssize_t read =
            ::getxattr(native.constData(), name.constData(), value.data(), value.size());
        if (read < 0 || ::fsetxattr(fd, name.constData(), value.constData(),
                                    static_cast<std::size_t>(read), 0) != 0)
            return false;
    }
    return true;
}

// Writes the bytes over a file's old content. The space is reserved first
// (or, where the file system cannot reserve, looked for), so that a full
// disk fails before a single old byte changes; then the bytes go in, the
// file is cut to their length and synced. Returns the runtime's error, or 0.
int writeInPlace(int fd, QByteArrayView bytes) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return RuntimeError::DeviceIoError;
    const auto size = static_cast<off_t>(bytes.size());
    if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0) {
        if (errno != EOPNOTSUPP && errno != ENOSYS)
            return writeFailureCode(errno);
        struct statvfs fs {};
        if (::fstatvfs(fd, &fs) != 0)
            return RuntimeError::DeviceIoError;
        if (size > st.st_size && static_cast<unsigned long long>(size - st.st_size) >
                                     static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize)
            return RuntimeError::DiskFull;
    }
    for (off_t pos = 0; pos < size;) {
        const auto length = static_cast<std::size_t>(std::min<off_t>(kChunkBytes, size - pos));
        const ssize_t n = ::pwrite(fd, bytes.data() + pos, length, pos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? writeFailureCode(errno) : RuntimeError::DeviceIoError;
        pos += n;
    }
    if (::ftruncate(fd, size) != 0)
        return writeFailureCode(errno);
    if (syncFile(fd) != 0 && errno != EINVAL && errno != EROFS)
        return writeFailureCode(errno);
    return 0;
}

} // namespace

qint64 maxInputFileSize() {
    return sizeLimit;
}

void setSyncFunction(SyncFunction sync) {
    syncFile = sync ? sync : ::fsync;
}

void setMaxInputFileSize(qint64 limit) {
    sizeLimit = std::clamp<qint64>(limit, 0, kMaxInputFileSize);
}

InputFile::InputFile(const QString& path) {
    const QByteArray native = nativePath(path);

    // Look before opening: opening a FIFO or a device just to find out what
    // it is could block or have side effects.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        failLookup(errno, path);
    if (!S_ISREG(st.st_mode))
        fail(RuntimeError::PathFileAccessError);

    // O_NONBLOCK keeps a FIFO swapped in after the check from blocking the
    // open; the second check then refuses it.
    FileDescriptor fd(openForReading(native));
    if (!fd.valid())
        failLookup(errno, path);
    if (::fstat(fd.get(), &st) != 0)
        fail(RuntimeError::DeviceIoError);
    if (!S_ISREG(st.st_mode))
        fail(RuntimeError::PathFileAccessError);
    if (st.st_size > sizeLimit)
        throw RuntimeError(RuntimeError::OutOfMemory, u"ファイルが大きすぎます。"_s);

    try {
        const QByteArray bytes = readAll(fd.get(), st.st_size);
        fd.close();
        DecodedText decoded = decodeText(bytes);
        text_ = std::move(decoded.text);
        format_ = std::move(decoded.format);
    } catch (const std::bad_alloc&) {
        fail(RuntimeError::OutOfMemory);
    }
    open_ = true;
}

bool InputFile::eof() const {
    if (!open_)
        fail(RuntimeError::BadFileName);
    return next_ >= text_.size();
}

QString InputFile::lineInput() {
    if (!open_)
        fail(RuntimeError::BadFileName);
    if (next_ >= text_.size())
        fail(RuntimeError::InputPastEndOfFile);
    const qsizetype start = next_;
    qsizetype end = start;
    while (end < text_.size() && text_[end] != u'\r' && text_[end] != u'\n')
        ++end;
    next_ = end + 1;
    if (end + 1 < text_.size() && text_[end] == u'\r' && text_[end + 1] == u'\n')
        ++next_;
    return text_.sliced(start, end - start);
}

void InputFile::close() noexcept {
    text_.clear();
    next_ = 0;
    open_ = false;
}

OutputFile::OutputFile(const QString& path, TextFormat format) : format_(std::move(format)) {
    const QByteArray native = nativePath(path);

    // Replacing a folder fails anyway; replacing a FIFO or a device with a
    // regular file would be worse than failing, so nothing but a regular
    // file is overwritten.
    struct stat st {};
    const bool exists = ::stat(native.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        fail(RuntimeError::PathFileAccessError);

    // A new file with other links to the old one's content would part them;
    // a folder we may not write in takes no new file, though the file itself
    // may be writable.
    if (exists && (st.st_nlink > 1 || !folderWritable(native))) {
        openInPlace(native);
        return;
    }

    // QSaveFile writes a temporary file next to the target and renames it
    // over the target on commit. It follows symbolic links (the link's
    // target is replaced, the link stays). Its fallback to writing the
    // target directly, which would defeat the atomic replace, stays off.
    auto file = std::make_unique<QSaveFile>(path);
    errno = 0;
    if (!file->open(QIODevice::WriteOnly))
        fail(saveOpenFailureCode(errno, path));
    if (exists && !takeOver(file->handle(), native, st)) {
        // The new file could not become what the old one was; the old one
        // is written instead.
        file->cancelWriting();
        file.reset();
        openInPlace(native);
        return;
    }
    file_ = std::move(file);
}

void OutputFile::openInPlace(const QByteArray& native) {
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        fail(errno == EACCES || errno == EPERM || errno == EROFS
                 ? RuntimeError::PermissionDenied
                 : RuntimeError::PathFileAccessError);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(RuntimeError::PathFileAccessError);
    }
    inPlace_ = fd;
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
    if (inPlace_ >= 0)
        ::close(std::exchange(inPlace_, -1));
    text_.clear();
    bytes_.reset();
}

void OutputFile::print(QStringView text) {
    if (!isOpen())
        fail(RuntimeError::BadFileName);
    bytes_.reset();
    try {
        text_ += text;
        text_ += u"\r\n";
    } catch (const std::bad_alloc&) {
        fail(RuntimeError::OutOfMemory);
    }
}

std::optional<Unheld> OutputFile::encode(const TextFormat& format) {
    if (!isOpen())
        fail(RuntimeError::BadFileName);
    bytes_.reset();
    try {
        EncodedText encoded = encodeText(text_, format);
        if (encoded.unheld)
            return encoded.unheld;
        format_ = format;
        format_.bom = encoded.bom;
        bytes_ = std::move(encoded.bytes);
    } catch (const std::bad_alloc&) {
        fail(RuntimeError::OutOfMemory);
    }
    return std::nullopt;
}

void OutputFile::close() {
    if (!isOpen())
        return;
    if (!bytes_ && encode()) {
        discard();
        fail(RuntimeError::InvalidPropertyValue);
    }
    // The file counts as closed from here on, whether or not this succeeds.
    const std::unique_ptr<QSaveFile> file = std::move(file_);
    const FileDescriptor inPlace(std::exchange(inPlace_, -1));
    text_.clear();
    const QByteArray bytes = *std::exchange(bytes_, std::nullopt);
    format_.kept = QByteArray();

    if (inPlace.valid()) {
        if (const int code = writeInPlace(inPlace.get(), bytes))
            fail(code);
        format_.kept = bytes;
        return;
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
    if (code == 0 && syncFile(file->handle()) != 0 && errno != EINVAL && errno != EROFS)
        code = saveFailureCode(errno, *file);
    if (code == 0) {
        errno = 0;
        if (file->commit()) {
            format_.kept = bytes;
            return;
        }
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
