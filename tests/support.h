#pragma once
// Shared test helpers: temporary program folders and test pictures.

#include <QtTest>

#include "images/paths.h"
#include "pictures/picture_files.h"

namespace penumbrix::testing {

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
