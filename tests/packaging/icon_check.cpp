// Checks the installed program icons against the 32x32 original.
//
// Every installed size must be a square PNG whose pixels are copied from the
// original by nearest-neighbour sampling: the target pixel (x, y) holds the
// source pixel under its centre. For whole-number enlargements that means
// each source pixel fills a solid k-by-k block, which is checked block by
// block so that a failure names the block; the other sizes are checked pixel
// by pixel. Any smoothing, shifting or colour change shows up as a mismatch.
// The Windows .ico file is read from its raw bytes and held to the same rule.
//
// Usage: yonamito_icon_check <source.xpm> <hicolor dir> <icon name>
//                            <sizes,...> <file.ico> <ico sizes,...>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <cstdio>

namespace {

int failures = 0;

void fail(const QString& message) {
    std::printf("FAIL: %s\n", qPrintable(message));
    ++failures;
}

void ok(const QString& message) {
    std::printf("ok: %s\n", qPrintable(message));
}

// Fully transparent pixels carry no colour worth comparing; an encoder may
// store them as any RGB value.
bool samePixel(QRgb a, QRgb b) {
    if (qAlpha(a) == 0 && qAlpha(b) == 0) {
        return true;
    }
    return a == b;
}

QString pixelText(QRgb p) {
    return QStringLiteral("#%1").arg(p, 8, 16, QLatin1Char('0'));
}

int sourceIndex(int target, int targetSize, int sourceSize) {
    return ((2 * target + 1) * sourceSize) / (2 * targetSize);
}

// Returns whether `image` is the nearest-neighbour picture of `source` at its
// size, reporting the first mismatch under `what`.
bool matchesSource(const QImage& source, const QImage& image, const QString& what) {
    const int size = image.width();
    const int sourceSize = source.width();
    if (size % sourceSize == 0) {
        const int k = size / sourceSize;
        for (int by = 0; by < sourceSize; ++by) {
            for (int bx = 0; bx < sourceSize; ++bx) {
                const QRgb expected = source.pixel(bx, by);
                for (int y = by * k; y < (by + 1) * k; ++y) {
                    for (int x = bx * k; x < (bx + 1) * k; ++x) {
                        if (!samePixel(image.pixel(x, y), expected)) {
                            fail(QStringLiteral("%1: the %2x%2 block for source pixel (%3,%4) has "
                                                "%5 at (%6,%7) instead of %8")
                                     .arg(what)
                                     .arg(k)
                                     .arg(bx)
                                     .arg(by)
                                     .arg(pixelText(image.pixel(x, y)))
                                     .arg(x)
                                     .arg(y)
                                     .arg(pixelText(expected)));
                            return false;
                        }
                    }
                }
            }
        }
        return true;
    }
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int sx = sourceIndex(x, size, sourceSize);
            const int sy = sourceIndex(y, size, sourceSize);
            if (!samePixel(image.pixel(x, y), source.pixel(sx, sy))) {
                fail(QStringLiteral("%1: pixel (%2,%3) is %4, the source pixel (%5,%6) is %7")
                         .arg(what)
                         .arg(x)
                         .arg(y)
                         .arg(pixelText(image.pixel(x, y)))
                         .arg(sx)
                         .arg(sy)
                         .arg(pixelText(source.pixel(sx, sy))));
                return false;
            }
        }
    }
    return true;
}

QList<int> parseSizes(const QString& text) {
    QList<int> sizes;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        sizes.append(item.toInt());
    }
    return sizes;
}

void checkThemeIcon(const QImage& source, const QString& path, int size) {
    QImageReader reader(path);
    const QByteArray format = reader.format();
    const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) {
        fail(QStringLiteral("%1 cannot be read: %2").arg(path, reader.errorString()));
        return;
    }
    if (format != "png") {
        fail(QStringLiteral("%1 is %2 data, not PNG").arg(path, QString::fromLatin1(format)));
        return;
    }
    if (image.width() != size || image.height() != size) {
        fail(QStringLiteral("%1 is %2x%3, not %4x%4")
                 .arg(path)
                 .arg(image.width())
                 .arg(image.height())
                 .arg(size));
        return;
    }
    if (matchesSource(source, image, path)) {
        ok(QStringLiteral("%1x%1 icon is square and a pixel-exact nearest-neighbour copy of the "
                          "original")
               .arg(size));
    }
}

void checkIco(const QImage& source, const QString& path, const QList<int>& sizes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1 cannot be opened").arg(path));
        return;
    }
    const QByteArray data = file.readAll();
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    if (data.size() < 6 || qFromLittleEndian<quint16>(bytes) != 0 ||
        qFromLittleEndian<quint16>(bytes + 2) != 1) {
        fail(QStringLiteral("%1 has no icon file header").arg(path));
        return;
    }
    const int count = qFromLittleEndian<quint16>(bytes + 4);
    if (count != sizes.size() || data.size() < 6 + 16 * count) {
        fail(QStringLiteral("%1 holds %2 images, expected %3")
                 .arg(path)
                 .arg(count)
                 .arg(sizes.size()));
        return;
    }
    for (int i = 0; i < count; ++i) {
        const uchar* entry = bytes + 6 + 16 * i;
        const int width = entry[0] == 0 ? 256 : entry[0];
        const int height = entry[1] == 0 ? 256 : entry[1];
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        const QString what = QStringLiteral("%1 image %2").arg(path).arg(i);
        if (width != sizes[i] || height != sizes[i]) {
            fail(QStringLiteral("%1 claims %2x%3, expected %4x%4")
                     .arg(what)
                     .arg(width)
                     .arg(height)
                     .arg(sizes[i]));
            continue;
        }
        if (qsizetype(offset) + qsizetype(length) > data.size()) {
            fail(QStringLiteral("%1 runs past the end of the file").arg(what));
            continue;
        }
        const QImage image = QImage::fromData(data.mid(offset, length), "PNG")
                                 .convertToFormat(QImage::Format_ARGB32);
        if (image.width() != sizes[i] || image.height() != sizes[i]) {
            fail(QStringLiteral("%1 does not decode to a %2x%2 PNG").arg(what).arg(sizes[i]));
            continue;
        }
        if (matchesSource(source, image, what)) {
            ok(QStringLiteral("%1x%1 image in the Windows icon matches the original")
                   .arg(sizes[i]));
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 7) {
        std::fprintf(stderr,
                     "usage: %s <source.xpm> <hicolor dir> <icon name> <sizes> "
                     "<file.ico> <ico sizes>\n",
                     argv[0]);
        return 2;
    }
    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    const QString hicolor = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);

    const QImage source = QImage(sourcePath).convertToFormat(QImage::Format_ARGB32);
    if (source.isNull() || source.width() != 32 || source.height() != 32) {
        std::printf("FAIL: %s is not a readable 32x32 image\n", argv[1]);
        return 1;
    }
    // A picture made only of transparent pixels would match any blank icon.
    bool opaque = false;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            opaque = opaque || qAlpha(source.pixel(x, y)) == 255;
        }
    }
    if (!opaque) {
        std::printf("FAIL: %s has no opaque pixel to compare\n", argv[1]);
        return 1;
    }

    for (int size : parseSizes(QString::fromLocal8Bit(argv[4]))) {
        checkThemeIcon(
            source, QStringLiteral("%1/%2x%2/apps/%3.png").arg(hicolor).arg(size).arg(name), size);
    }
    checkIco(source, QString::fromLocal8Bit(argv[5]), parseSizes(QString::fromLocal8Bit(argv[6])));

    return failures == 0 ? 0 : 1;
}
