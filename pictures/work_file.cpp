#include "pictures/work_file.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/runtime_error.h"
#include "files/user_files.h"
#include "pictures/bmp_format.h"

namespace penumbrix {

namespace {
// Where the pixels start: past the headers, on a page of their own.
constexpr int kPixelsOffset = 4096;
// How many running copies find a work file of their own.
constexpr int kMostCopies = 100;
} // namespace

WorkFile::WorkFile(QString folder, QString name) : folder_(std::move(folder)), name_(std::move(name))
{
    path_ = folder_ + QLatin1Char('/') + name_;
}

WorkFile::~WorkFile()
{
    // This copy's file ends with it; a file put at its name since stays.
    if (fd_ >= 0 && stillNamed(dir_.get()))
        ::unlinkat(dir_.get(), leaf_.constData(), 0);
    release();
}

void WorkFile::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool WorkFile::stillNamed(int folder) const
{
    struct stat held, named;
    return fd_ >= 0 && ::fstat(fd_, &held) == 0 && S_ISREG(held.st_mode) && held.st_nlink == 1
        && ::fstatat(folder, leaf_.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == held.st_ino
        && named.st_dev == held.st_dev;
}

void WorkFile::claim(FileDescriptor folder)
{
    const qsizetype dot = name_.lastIndexOf(QLatin1Char('.'));
    int firstError = 0;
    for (int copy = 1; copy <= kMostCopies; ++copy) {
        const QString leaf = copy == 1 ? name_ : name_.left(dot) + QStringLiteral("-%1").arg(copy) + name_.mid(dot);
        const QByteArray name = QFile::encodeName(leaf);
        // Only a plain file of its own, of this user, is ever written:
        // anything else at the name (a link, a named pipe, a file with
        // another name, another owner's file) is removed and the file made
        // anew; what can't be removed is passed over for the next name.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const int fd = ::openat(folder.get(), name.constData(),
                                    O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
            struct stat st {};
            const bool own = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1
                && st.st_uid == ::geteuid();
            if (own && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
                ::close(fd); // another running copy's
                break;
            }
            if (own) {
                fd_ = fd;
                leaf_ = name;
                // The copy that held it may have removed it meanwhile.
                if (!stillNamed(folder.get())) {
                    release();
                    continue;
                }
                (void)::fchmod(fd, 0600);
                dir_.reset(folder.release());
                path_ = folder_ + QLatin1Char('/') + leaf;
                return;
            }
            const int e = fd < 0 ? errno : EEXIST;
            if (fd >= 0)
                ::close(fd);
            if (!firstError)
                firstError = e == EEXIST || e == ENXIO || e == ELOOP ? EACCES : e;
            if (attempt > 0 || ::unlinkat(folder.get(), name.constData(), 0) != 0)
                break;
        }
    }
    throw fileError(firstError ? firstError : EBUSY, folder_ + QLatin1Char('/') + name_, true);
}

QString WorkFile::save(const Picture& picture)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, path_, QStringLiteral("no picture to save"));
    // The folder is looked at again on every apply: it may have changed.
    FileDescriptor folder = openDataFolder(folder_);
    if (fd_ >= 0 && !stillNamed(folder.get()))
        release();
    if (fd_ < 0)
        claim(std::move(folder));
    const int fd = fd_;
    const QString path = path_;

    // 32-bit pixels, top row first, with masks that put each picture word's
    // bytes where they are in memory: the file is the picture's memory after
    // a header, written and read back without converting a pixel.
    const Picture p = picture.format() == kPictureFormat ? picture : toPicture(picture);
    const qint64 rowBytes = qint64(p.width()) * 4;
    const qint64 fileBytes = kPixelsOffset + rowBytes * p.height();
    uchar header[kPixelsOffset] = {};
    using bmp::put32;
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, fileBytes <= 0xFFFFFFFF ? quint32(fileBytes) : 0u);
    put32(header + 10, kPixelsOffset);
    uchar* info = header + bmp::kFileHeaderSize;
    put32(info, bmp::kInfoHeaderSize);
    put32(info + 4, quint32(p.width()));
    put32(info + 8, quint32(-p.height())); // top-down
    put32(info + 12, 1 | 32 << 16);        // planes, bits per pixel
    put32(info + 16, 3);                   // bit fields
    put32(info + 20, quint32(fileBytes - kPixelsOffset));
    put32(info + 24, quint32(std::max(0, p.dotsPerMeterX())));
    put32(info + 28, quint32(std::max(0, p.dotsPerMeterY())));
    put32(info + 40, 0x000000FFu); // red
    put32(info + 44, 0x0000FF00u); // green
    put32(info + 48, 0x00FF0000u); // blue

    try {
        qint64 offset = 0;
        const auto write = [&](const void* data, qint64 length) {
            writeFully(fd, offset, data, length, path);
            offset += length;
        };
        write(header, kPixelsOffset);
        if (p.bytesPerLine() == rowBytes) {
            write(p.constBits(), rowBytes * p.height());
        } else {
            for (int y = 0; y < p.height(); ++y)
                write(p.constScanLine(y), rowBytes);
        }
        if (::ftruncate(fd, offset) != 0)
            throw fileError(errno, path, true);
    } catch (...) {
        // Nothing half written stays, nor holds the disk's space.
        if (stillNamed(dir_.get()))
            ::unlinkat(dir_.get(), leaf_.constData(), 0);
        release();
        throw;
    }
    // Read back through the descriptor held: a file put at the name since
    // is never read. Without /proc, the name, which led to it just now.
    const QString held = QStringLiteral("/proc/self/fd/%1").arg(fd);
    struct stat st, opened;
    if (::stat(QFile::encodeName(held).constData(), &st) == 0 && ::fstat(fd, &opened) == 0
        && st.st_ino == opened.st_ino && st.st_dev == opened.st_dev)
        return held;
    return path;
}

} // namespace penumbrix
