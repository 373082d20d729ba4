#pragma once
// Shared test helpers: temporary program folders, test pictures, and a way
// to meet real permission errors even when the tests run as root.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "images/paths.h"
#include "platform/picture.h"

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

// While alive, the process is subject to file permissions even as root:
// the capabilities that override them are dropped from the effective set
// (they stay permitted and come back afterwards).
class PermissionsEnforced {
public:
    PermissionsEnforced()
    {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        const unsigned overrides =
            (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        reduced[0].effective &= ~overrides;
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~PermissionsEnforced()
    {
        if (active_)
            syscall(SYS_capset, &header_, saved_);
    }
    PermissionsEnforced(const PermissionsEnforced&) = delete;
    PermissionsEnforced& operator=(const PermissionsEnforced&) = delete;

    // True when writing a read-only file now fails as it would for a user.
    static bool effective(const QString& scratchFolder)
    {
        const QString probe = scratchFolder + QStringLiteral("/.probe");
        writeBytes(probe, "x");
        QFile::setPermissions(probe, QFileDevice::ReadOwner);
        QFile f(probe);
        const bool refused = !f.open(QIODevice::WriteOnly | QIODevice::Append);
        f.close();
        QFile::setPermissions(probe, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::remove(probe);
        return refused;
    }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

} // namespace penumbrix::testing
