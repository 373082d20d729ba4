#pragma once
// Shared test helpers: temporary program folders and test pictures.

#include <QtTest>

#include "images/paths.h"
#include "platform/pictures/picture_files.h"

namespace penumbrix::testing {

inline QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

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

// The BMP a save writes, by the format's rule: 24 bits, bottom-up, rows padded to 4 bytes.
inline QByteArray expectedBmp(const QImage& picture)
{
    const QImage p = toPicture(picture);
    const qsizetype rowBytes = (p.width() * 3 + 3) / 4 * 4;
    QByteArray bmp(54 + rowBytes * p.height(), '\0');
    const auto put = [&](qsizetype at, quint32 v, int n = 4) {
        for (int i = 0; i < n; ++i)
            bmp[at + i] = char(v >> 8 * i);
    };
    bmp[0] = 'B', bmp[1] = 'M';
    put(2, bmp.size()), put(10, 54), put(14, 40), put(18, p.width()), put(22, p.height()), put(26, 1, 2), put(28, 24, 2);
    put(34, rowBytes * p.height()), put(38, p.dotsPerMeterX()), put(42, p.dotsPerMeterY());
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x) {
            const quint32 c = quint32(colourAt(p, x, y));
            put(54 + (p.height() - 1 - y) * rowBytes + 3 * x, c >> 16 | (c & 0xFF00) | (c & 0xFF) << 16, 3);
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
