#pragma once

// Small file helpers shared by the tests that look at what reached the disk.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testfiles {

// The file's bytes, or a marker no real content equals when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace testfiles
