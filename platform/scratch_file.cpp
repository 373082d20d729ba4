#include "platform/scratch_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/bmp_codec.h"
#include "platform/runtime_error.h"

namespace penumbrix {

void SaveScratchPicture(const Picture& picture, const QString& path)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, path, QStringLiteral("no picture to save"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw fileError(errno, path, true);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw fileError(errno, path, true);
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(RuntimeError::PermissionDenied, path, QStringLiteral("not a file"));

    off_t offset = 0;
    encodeBmp(picture, [&](const char* data, qint64 length) {
        while (length > 0) {
            const ssize_t n = ::pwrite(fd, data, std::size_t(length), offset);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw fileError(errno, path, true);
            }
            data += n;
            length -= n;
            offset += n;
        }
    });
    if (::ftruncate(fd, offset) != 0)
        throw fileError(errno, path, true);
}

} // namespace penumbrix
