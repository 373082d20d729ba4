#include "platform/pictures/work_file.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/runtime_error.h"
#include "platform/files/user_files.h"
#include "platform/pictures/bmp_format.h"

namespace penumbrix {

namespace {
// Where the pixels start: past the headers, on a page of their own.
constexpr int kPixelsOffset = 4096;
// How many running copies find a work file of their own.
constexpr int kMostCopies = 100;

// The file at `path` is the one open as `fd`, a plain file of one name.
bool stillOurs(int fd, const QByteArray& path)
{
    struct stat held, named;
    return ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_nlink == 1
        && ::lstat(path.constData(), &named) == 0 && named.st_ino == held.st_ino && named.st_dev == held.st_dev;
}
} // namespace

WorkFile::WorkFile(QString folder, QString name) : folder_(std::move(folder)), name_(std::move(name))
{
    path_ = folder_ + QLatin1Char('/') + name_;
}

WorkFile::~WorkFile() { release(); }

void WorkFile::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void WorkFile::claim()
{
    makePrivateFolders(folder_);
    const qsizetype dot = name_.lastIndexOf(QLatin1Char('.'));
    for (int copy = 1; copy <= kMostCopies; ++copy) {
        const QString path = folder_ + QLatin1Char('/')
            + (copy == 1 ? name_ : name_.left(dot) + QStringLiteral("-%1").arg(copy) + name_.mid(dot));
        const QByteArray name = QFile::encodeName(path);
        // Only a plain file of its own, of this user, is ever written: a
        // link, a named pipe or a file with another name is removed and the
        // file made anew.
        for (int attempt = 0;; ++attempt) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
            struct stat st {};
            const bool own = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1
                && st.st_uid == ::geteuid();
            if (own && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
                ::close(fd); // another running copy's
                break;
            }
            if (own) {
                (void)::fchmod(fd, 0600);
                fd_ = fd;
                path_ = path;
                return;
            }
            const int e = fd < 0 ? errno : EEXIST;
            if (fd >= 0)
                ::close(fd);
            if (attempt > 0 || (e != ELOOP && e != EEXIST && e != ENXIO) || ::unlink(name.constData()) != 0)
                throw fileError(e == EEXIST || e == ENXIO ? EISDIR : e, path, true);
        }
    }
    throw fileError(EBUSY, path_, true);
}

QString WorkFile::save(const Picture& picture)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, path_, QStringLiteral("no picture to save"));
    if (fd_ >= 0 && !stillOurs(fd_, QFile::encodeName(path_)))
        release();
    if (fd_ < 0)
        claim();
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
        ::unlink(QFile::encodeName(path).constData());
        release();
        throw;
    }
    return path;
}

} // namespace penumbrix
