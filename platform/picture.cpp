#include "platform/picture.h"

#include "platform/bmp_codec.h"
#include "platform/runtime_error.h"

#include <QFileInfo>
#include <QSaveFile>

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

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { ::close(fd_); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

QByteArray nativePath(const QString& path) { return QFile::encodeName(QFileInfo(path).absoluteFilePath()); }

bool isFolder(const QByteArray& path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QByteArray parentOf(const QString& path) { return QFile::encodeName(QFileInfo(path).absolutePath()); }

// Why the file at `path` can't be opened for reading.
RuntimeError openError(int e, const QString& path)
{
    // A missing file in a missing folder is a missing path.
    if (e == ENOENT && !isFolder(parentOf(path)))
        return RuntimeError(RuntimeError::PathNotFound, path);
    return fileError(e, path, false);
}

// Refuses, before any temporary file exists, a save the user's rights don't
// allow: a missing folder, or a folder or target file the user can't write
// to. (QSaveFile checks the target with the real user's rights, not the
// effective ones the kernel applies.)
void checkSaveTarget(const QString& path)
{
    const QByteArray folder = parentOf(path);
    struct stat st;
    if (::stat(folder.constData(), &st) != 0)
        throw fileError(errno, path, true);
    if (!S_ISDIR(st.st_mode))
        throw RuntimeError(RuntimeError::PathNotFound, path);
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        throw fileError(errno, path, true);
    const QByteArray target = nativePath(path);
    if (::stat(target.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw fileError(EISDIR, path, true);
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            throw fileError(errno, path, true);
    }
}

// Maps a failed QSaveFile call; `e` is errno right after it.
RuntimeError saveError(const QSaveFile& file, int e, const QString& path)
{
    if (file.error() == QFileDevice::ResourceError || e == ENOSPC)
        return RuntimeError(RuntimeError::DiskFull, path, file.errorString());
    if (e == 0)
        return RuntimeError(RuntimeError::DeviceIoError, path, file.errorString());
    RuntimeError error = fileError(e, path, true);
    return RuntimeError(error.code(), path, file.errorString());
}

} // namespace

Picture LoadPicture(const QString& path)
{
    const QByteArray name = nativePath(path);
    // Non-blocking, so that a named pipe can't hang the open.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw openError(errno, path);
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
    checkSaveTarget(path);

    struct stat old;
    const bool replacing = ::stat(nativePath(path).constData(), &old) == 0;

    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw saveError(file, errno, path);
    if (replacing) {
        // QSaveFile copies the mode as Qt permissions, which add the owner's
        // read and write bits whenever the saving user may read or write
        // (root always may): the exact mode is set again. The owners stay
        // too, where allowed.
        if (::fchown(file.handle(), old.st_uid, old.st_gid) != 0) {
            // not allowed: the file becomes the saving user's
        }
        if (::fchmod(file.handle(), old.st_mode & 07777) != 0) {
            // the mode Qt set stays
        }
    }

    try {
        writeBmpFile(picture, file.handle(), path);
    } catch (const RuntimeError& e) {
        file.cancelWriting(); // the temporary file goes with `file`
        if (e.path().isEmpty())
            throw RuntimeError(e.code(), path, e.detail());
        throw;
    } catch (const std::bad_alloc&) {
        file.cancelWriting();
        throw RuntimeError(RuntimeError::OutOfMemory, path);
    }
    errno = 0;
    if (!file.commit())
        throw saveError(file, errno, path);
}

Picture toPicture(const QImage& image)
{
    if (image.isNull() || image.format() == kPictureFormat)
        return image;
    // Qt keeps the colour of non-premultiplied pixels and un-premultiplies
    // the others; the alpha becomes opaque.
    Picture picture = image.convertToFormat(kPictureFormat);
    if (picture.isNull())
        throw RuntimeError(RuntimeError::OutOfMemory);
    return picture;
}

} // namespace penumbrix
