// Turns the program's 32x32 XPM icon into the PNG files a desktop icon theme
// expects, and bundles some of them into a Windows .ico file.
//
// The icon is pixel art, so every size is produced by nearest-neighbour
// sampling and never by smoothing: enlarged icons must stay as crisp as the
// original. Each target pixel takes the source pixel under its centre, that is
// source index floor((x + 0.5) * sourceSize / targetSize). For whole-number
// enlargements this repeats each source pixel as a solid block; 48 px is a
// factor of 1.5, so there every other source pixel becomes two pixels wide and
// the rest one; 16 px keeps every second pixel. The sampling is written out
// here instead of using QImage::scaled() with Qt::FastTransformation: that
// samples at the left edge of each target pixel rather than its centre, which
// for 48 and 16 px picks different source pixels, and its rounding is Qt's to
// change. Written out, the rule is fixed; the packaging tests check that the
// whole-number enlargements repeat every source pixel as a block.

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QList>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

namespace {

void fail(const QString& message) {
    std::fprintf(stderr, "icon_export: %s\n", qPrintable(message));
    std::exit(1);
}

QList<int> parseSizes(const QString& text) {
    QList<int> sizes;
    for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int size = item.trimmed().toInt(&ok);
        // Windows icon directories store a size in one byte where 0 means
        // 256, so nothing larger fits there.
        if (!ok || size < 1 || size > 256) {
            fail(QStringLiteral("not a usable icon size: %1").arg(item));
        }
        sizes.append(size);
    }
    if (sizes.isEmpty()) {
        fail(QStringLiteral("no icon sizes given"));
    }
    return sizes;
}

QImage nearestNeighbour(const QImage& source, int size) {
    QImage target(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        // Integer form of floor((y + 0.5) * height / size), free of floating
        // point rounding.
        const int sy = ((2 * y + 1) * source.height()) / (2 * size);
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(sy));
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const int sx = ((2 * x + 1) * source.width()) / (2 * size);
            out[x] = in[sx];
        }
    }
    return target;
}

QByteArray pngData(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        fail(QStringLiteral("could not encode a %1 px PNG").arg(image.width()));
    }
    return data;
}

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // A half-written icon must never be mistaken for a finished one by the
    // next incremental build, so the file only appears once complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        fail(QStringLiteral("could not write %1").arg(path));
    }
}

// Windows Vista and later read PNG-compressed images inside .ico files, which
// keeps the alpha channel exact and avoids writing DIB masks by hand.
QByteArray icoData(const QList<QImage>& images) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());

    QList<QByteArray> pngs;
    for (const QImage& image : images) {
        pngs.append(pngData(image));
    }
    quint32 offset = 6 + 16 * quint32(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const int size = images[i].width();
        const auto sizeByte = quint8(size == 256 ? 0 : size);
        out << sizeByte << sizeByte << quint8(0) << quint8(0) << quint16(1) << quint16(32)
            << quint32(pngs[i].size()) << offset;
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : pngs) {
        out.writeRawData(png.constData(), int(png.size()));
    }
    return data;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption sourceOption(u"source"_s, u"Square source image (XPM)."_s, u"file"_s);
    const QCommandLineOption hicolorOption(u"hicolor"_s, u"Root of the icon theme tree to write."_s,
                                           u"dir"_s);
    const QCommandLineOption nameOption(u"name"_s, u"Icon name, without extension."_s, u"name"_s);
    const QCommandLineOption sizesOption(u"sizes"_s, u"Comma-separated theme sizes in pixels."_s,
                                         u"list"_s);
    const QCommandLineOption icoOption(u"ico"_s, u"Windows icon file to write."_s, u"file"_s);
    const QCommandLineOption icoSizesOption(
        u"ico-sizes"_s, u"Comma-separated sizes bundled in the .ico file."_s, u"list"_s);
    parser.addOptions(
        {sourceOption, hicolorOption, nameOption, sizesOption, icoOption, icoSizesOption});
    parser.process(app);

    if (!parser.isSet(sourceOption) || !parser.isSet(hicolorOption) || !parser.isSet(nameOption) ||
        !parser.isSet(sizesOption) || parser.isSet(icoOption) != parser.isSet(icoSizesOption)) {
        fail(QStringLiteral(
            "needs --source, --hicolor, --name, --sizes, and --ico with --ico-sizes"));
    }

    QImage source(parser.value(sourceOption));
    if (source.isNull()) {
        fail(QStringLiteral("could not read %1").arg(parser.value(sourceOption)));
    }
    if (source.width() != source.height()) {
        fail(QStringLiteral("the source icon is not square"));
    }
    // XPM images arrive indexed; a plain 32-bit format lets every pixel be
    // copied as one value, transparency included.
    source = source.convertToFormat(QImage::Format_ARGB32);

    const QString hicolor = parser.value(hicolorOption);
    const QString name = parser.value(nameOption);
    for (int size : parseSizes(parser.value(sizesOption))) {
        const QString path =
            QStringLiteral("%1/%2x%2/apps/%3.png").arg(hicolor).arg(size).arg(name);
        writeFile(path, pngData(nearestNeighbour(source, size)));
    }

    if (parser.isSet(icoOption)) {
        QList<QImage> images;
        for (int size : parseSizes(parser.value(icoSizesOption))) {
            images.append(nearestNeighbour(source, size));
        }
        writeFile(parser.value(icoOption), icoData(images));
    }
    return 0;
}
