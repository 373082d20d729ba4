#include "platform/scratch_file.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/runtime_error.h"

namespace penumbrix {

namespace {
// Where the pixels start: past the headers, on a page of their own.
constexpr int kScratchPixelsOffset = 4096;
} // namespace

void SaveScratchPicture(const Picture& picture, const QString& path)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, path, QStringLiteral("no picture to save"));
    // The work file is rewritten in place only while it is a plain file of
    // its own: a link that leads elsewhere is removed and the file made anew,
    // so nothing but the work file is ever written.
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        struct stat st {};
        const bool own = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
        if (own)
            break;
        const int e = fd < 0 ? errno : EEXIST;
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (attempt > 0 || (e != ELOOP && e != EEXIST) || ::unlink(name.constData()) != 0)
            throw fileError(e == EEXIST ? EISDIR : e, path, true);
    }
    const FileDescriptor file(fd);

    // 32-bit pixels, top row first, with masks that put each picture word's
    // bytes where they are in memory: the file is the picture's memory after
    // a header, written and read back without converting a pixel.
    const Picture p = picture.format() == kPictureFormat ? picture : toPicture(picture);
    const qint64 rowBytes = qint64(p.width()) * 4;
    const qint64 fileBytes = kScratchPixelsOffset + rowBytes * p.height();
    uchar header[kScratchPixelsOffset] = {};
    const auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = uchar(v >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, fileBytes <= 0xFFFFFFFF ? quint32(fileBytes) : 0u);
    put32(10, kScratchPixelsOffset);
    put32(14, 40);
    put32(18, quint32(p.width()));
    put32(22, quint32(-p.height())); // top-down
    put32(26, 1 | 32 << 16);         // planes, bits per pixel
    put32(30, 3);                    // bit fields
    put32(34, quint32(fileBytes - kScratchPixelsOffset));
    put32(38, quint32(std::max(0, p.dotsPerMeterX())));
    put32(42, quint32(std::max(0, p.dotsPerMeterY())));
    put32(54, 0x000000FFu); // red
    put32(58, 0x0000FF00u); // green
    put32(62, 0x00FF0000u); // blue

    qint64 offset = 0;
    const auto write = [&](const void* data, qint64 length) {
        writeFully(fd, offset, data, length, path);
        offset += length;
    };
    write(header, kScratchPixelsOffset);
    if (p.bytesPerLine() == rowBytes) {
        write(p.constBits(), rowBytes * p.height());
    } else {
        for (int y = 0; y < p.height(); ++y)
            write(p.constScanLine(y), rowBytes);
    }
    if (::ftruncate(fd, offset) != 0)
        throw fileError(errno, path, true);
}

} // namespace penumbrix
