// Checks the installed theme icons against the program's 32x32 original.
//
// Desktops pick among 16, 32, 48, 64, 128 and 256 px, so each of these must
// be a square PNG of its size. The icon is pixel art: the 32 px icon must be
// the original itself, and the whole-number enlargements must repeat every
// original pixel as a solid block, so that any smoothing filter shows up.
//
// Usage: yonamito_icon_check <original.xpm> <hicolor dir> <icon name>

#include <QImage>
#include <QImageReader>
#include <QPoint>
#include <QString>

#include <cstdio>

namespace {

// Returns the first original pixel whose k-by-k block in `icon` is not solid
// in that pixel's colour, or (-1,-1) when every block is.
QPoint firstWrongBlock(const QImage& original, const QImage& icon, int k) {
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            if (icon.pixel(x, y) != original.pixel(x / k, y / k))
                return {x / k, y / k};
    return {-1, -1};
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <original.xpm> <hicolor dir> <icon name>\n", argv[0]);
        return 2;
    }
    const QImage original =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_ARGB32);
    if (original.size() != QSize(32, 32)) {
        std::printf("FAIL: %s is not a 32x32 picture\n", argv[1]);
        return 1;
    }
    int failures = 0;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("%1/%2x%2/apps/%3.png")
                                 .arg(QString::fromLocal8Bit(argv[2]))
                                 .arg(size)
                                 .arg(QString::fromLocal8Bit(argv[3]));
        QImageReader reader(path);
        const QByteArray format = reader.format();
        const QImage icon = reader.read().convertToFormat(QImage::Format_ARGB32);
        if (format != "png" || icon.size() != QSize(size, size)) {
            std::printf("FAIL: %s is not a %dx%d PNG\n", qPrintable(path), size, size);
            ++failures;
        } else if (size % 32 != 0) {
            // 48 and 16 px are no whole multiples, so no block of theirs
            // stands for exactly one original pixel.
            std::printf("ok: the %d px icon is a square PNG\n", size);
        } else if (const QPoint p = firstWrongBlock(original, icon, size / 32); p.x() >= 0) {
            std::printf("FAIL: in the %d px icon the block of original pixel (%d,%d) is not "
                        "solid in that pixel's colour\n",
                        size, p.x(), p.y());
            ++failures;
        } else {
            std::printf("ok: the %d px icon is a square PNG repeating each original pixel as a "
                        "%dx%d block\n",
                        size, size / 32, size / 32);
        }
    }
    return failures == 0 ? 0 : 1;
}
