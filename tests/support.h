#pragma once
// Shared test helpers: temporary program folders and test pictures.

#include <QtTest>

#include "document/paths.h"
#include "pictures/picture_files.h"

namespace penumbrix::testing {

inline QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// A data table's columns, one type to each name; a row's values, fetched by the same names.
template <class... T> void columns(std::same_as<const char*> auto... names) { (QTest::addColumn<T>(names), ...); }
template <class... T> std::tuple<T...> fetch(std::same_as<const char*> auto... names)
{
    return {*static_cast<T*>(QTest::qData(names, qMetaTypeId<T>()))...};
}

// A picture whose every pixel differs from its neighbours.
inline Picture patternPicture(int width, int height, quint32 seed = 1)
{
    QImage image(width, height, kPictureFormat);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000u | ((quint32(x) * 2654435761u + quint32(y) * 40503u + seed * 97u) & 0xFFFFFFu);
    }
    return image;
}

// The colour value 0x00BBGGRR of a pixel of a picture.
inline std::int32_t colourAt(const QImage& picture, int x, int y)
{
    return std::int32_t(reinterpret_cast<const quint32*>(picture.constScanLine(y))[x] & 0xFFFFFFu);
}

// One colour 0x00BBGGRR adjusted under the sliders as they stand: R, G, B, light, contrast, range, multiplier.
inline int rule(int v, const QList<int>& s)
{
    if (v < s[5] * 100 * s[6] && s[4] > 0)
        return 0;
    const int common = (s[3] - 128) + (s[4] - 128);
    auto channel = [&](int offset, int c) { return std::clamp(offset - 128 + c + common, 0, 255); };
    return channel(s[0], v % 256) + channel(s[1], v / 256 % 256) * 256 + channel(s[2], v / 65536) * 65536;
}

// `picture` with the rule run over the pixels inside `area` (all of it by default); alpha, the words' top byte, as it was.
inline Picture ruled(const Picture& picture, const QList<int>& settings, QRect area = {0, 0, 1 << 30, 1 << 30})
{
    Picture out = picture.copy();
    for (int y = area.top(); y <= std::min(area.bottom(), out.height() - 1); ++y)
        for (int x = area.left(); x <= std::min(area.right(), out.width() - 1); ++x)
            reinterpret_cast<quint32*>(out.scanLine(y))[x] = quint32(out.constScanLine(y)[4 * x + 3]) << 24 | quint32(rule(colourAt(out, x, y), settings));
    return out;
}

// How a BMP file is laid out beyond its pixels: the header's size (40; 108 or
// 124 with alpha) and its pixels per metre (-1: the picture's own, Qt's 3780).
struct BmpForm {
    int header = 40;
    int ppmX = -1, ppmY = -1;
    bool alpha() const { return header > 40; }
};

// A BMP by the format's rule: bottom-up, rows padded to 4 bytes; 24 bits, or
// with alpha 32 bits B, G, R, A (alpha from the words' top byte) described by
// bit fields 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000 and 'sRGB'.
// What a save writes, by default.
inline QByteArray expectedBmp(const QImage& picture, const BmpForm& form = {})
{
    const QImage p = toPicture(picture);
    const int bytes = form.alpha() ? 4 : 3, at = 14 + form.header;
    const qsizetype rowBytes = (p.width() * bytes + 3) / 4 * 4;
    QByteArray bmp(at + rowBytes * p.height(), '\0');
    const auto put = [&](qsizetype at, quint32 v, int n = 4) {
        for (int i = 0; i < n; ++i)
            bmp[at + i] = char(v >> 8 * i);
    };
    bmp[0] = 'B', bmp[1] = 'M';
    put(2, bmp.size()), put(10, at), put(14, form.header), put(18, p.width()), put(22, p.height()), put(26, 1, 2);
    put(28, 8 * bytes, 2), put(34, rowBytes * p.height());
    put(38, form.ppmX < 0 ? p.dotsPerMeterX() : form.ppmX), put(42, form.ppmY < 0 ? p.dotsPerMeterY() : form.ppmY);
    if (form.alpha())
        put(30, 3), put(54, 0x00FF0000), put(58, 0x0000FF00), put(62, 0x000000FF), put(66, 0xFF000000), put(70, 0x73524742);
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const quint32 w = reinterpret_cast<const quint32*>(p.constScanLine(y))[x], c = w & 0xFFFFFF;
            put(at + (p.height() - 1 - y) * rowBytes + bytes * x, c >> 16 | (c & 0xFF00) | (c & 0xFF) << 16 | (w & 0xFF000000), bytes);
        }
    return bmp;
}

inline QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// An install folder holding the placeholder, and an empty data folder.
struct ProgramFolders {
    QTemporaryDir root;
    ProgramPaths paths;

    ProgramFolders()
    {
        paths.installFolder = root.filePath(QStringLiteral("share/penumbrix"));
        paths.dataFolder = root.filePath(QStringLiteral("data/penumbrix"));
        QDir().mkpath(paths.installFolder);
        QFile::copy(QStringLiteral(PENUMBRIX_SOURCE_DIR "/assets/NoImage.bmp"), paths.placeholder());
    }
    QString file(const QString& name) const { return root.filePath(name); }
};

} // namespace penumbrix::testing
