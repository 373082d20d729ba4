#include "pictures/picture_files.h"

#include "pictures/bmp_reader.h"
#include "pictures/bmp_writer.h"
#include "files/save.h"
#include "files/runtime_error.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace penumbrix {
namespace {

class FileBmpSource final : public BmpSource {
public:
    FileBmpSource(int fd, qint64 size, const QString& path) : fd_(fd), size_(size), path_(path) {}
    qint64 size() const override { return size_; }
    qint64 read(qint64 offset, void* out, qint64 length) override
    {
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::pread(fd_, static_cast<char*>(out) + done, size_t(length - done),
                                      off_t(offset + done));
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw fileError(errno, path_, false);
            }
            done += n;
        }
        return done;
    }

private:
    int fd_;
    qint64 size_;
    QString path_;
};

} // namespace

Picture LoadPicture(const QString& path)
{
    // The path goes to the kernel as it is: no text of it is resolved here.
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that a named pipe can't hang the open.
    const int fd = name.isEmpty() ? -1 : ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw openFailure(name.isEmpty() ? ENOENT : errno, path);
    const FileDescriptor file(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw fileError(errno, path, false);
    if (S_ISDIR(st.st_mode))
        throw fileError(EISDIR, path, false);
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(RuntimeError::InvalidPicture, path, QStringLiteral("not a file"));
    FileBmpSource source(fd, st.st_size, path);
    return decodeBmp(source, path);
}

void SavePicture(const Picture& picture, const QString& path)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, path, QStringLiteral("no picture to save"));
    SavePicture(picture, saveTargetOf(path));
}

void SavePicture(const Picture& picture, const UserFile& file)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, file.path, QStringLiteral("no picture to save"));
    try {
        replaceFileContent(file, [&](int fd) {
            writeBmpFile(picture, fd, file.path);
            return encodedBmpSize(picture);
        });
    } catch (const std::bad_alloc&) {
        throw RuntimeError(RuntimeError::OutOfMemory, file.path);
    }
}

} // namespace penumbrix
