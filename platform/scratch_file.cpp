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
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

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
