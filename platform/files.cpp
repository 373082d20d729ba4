#include "platform/files.h"

#include "platform/runtime_error.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <new>
#include <vector>

namespace penumbrix {
namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

void closeInBackground(int fd)
{
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error&) {
        ::close(fd); // no thread to be had
    }
}

void check(bool ok, const QString& path)
{
    if (!ok)
        throw fileError(errno, path, true);
}

// The text before the last slash: the folder in which the kernel looks up
// the last name. Never cleaned: "a/link/.." stays as it is.
QByteArray folderText(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// The path of an open descriptor, as the kernel has it.
QByteArray pathOf(int fd, const QByteArray& openedAs)
{
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink(link, buffer.data(), buffer.size());
    if (n > 0 && size_t(n) < buffer.size() && buffer[0] == '/')
        return QByteArray(buffer.data(), n);
    // Without /proc: realpath follows links one name at a time, as the kernel does.
    char* real = ::realpath(openedAs.constData(), nullptr);
    const QByteArray result = real ? QByteArray(real) : QByteArray();
    std::free(real);
    return result;
}

// The mode bits and the kernel must both allow it: the kernel lets root
// write anything, the mode bits say what the file's users meant.
bool mayWrite(int dir, const char* name, const struct stat& st, int how)
{
    if ((st.st_mode & 0222) == 0) {
        errno = EACCES;
        return false;
    }
    return ::faccessat(dir, name, how, AT_EACCESS) == 0;
}

// A file of ours in the folder, with a short name whatever the length of the
// name it stands in for; removed when it goes, unless kept.
class OwnFile {
public:
    OwnFile(int dir, mode_t mode, const QString& path) : dir_(dir)
    {
        for (int attempt = 0;; ++attempt) {
            std::snprintf(name_, sizeof name_, ".penumbrix-%08x", QRandomGenerator::global()->generate());
            fd_ = ::openat(dir, name_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (fd_ >= 0)
                return;
            if (errno != EEXIST || attempt == 100)
                throw fileError(errno, path, true);
        }
    }
    ~OwnFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!kept_)
            ::unlinkat(dir_, name_, 0);
    }
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
    int fd() const { return fd_; }
    const char* name() const { return name_; }
    // Some file systems report a failed write only here.
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || errno == EINTR;
    }
    void keep() { kept_ = true; }

private:
    int dir_;
    int fd_ = -1;
    char name_[32];
    bool kept_ = false;
};

void copyBytes(int from, int to, off_t size, const QString& path)
{
    std::vector<char> buffer(std::size_t(1) << 20);
    for (off_t offset = 0; offset < size;) {
        const ssize_t n = ::pread(from, buffer.data(), std::min<off_t>(size - offset, buffer.size()), offset);
        if (n < 0 && errno == EINTR)
            continue;
        check(n >= 0, path);
        if (n == 0)
            break;
        writeFully(to, offset, buffer.data(), n, path);
        offset += n;
    }
}

// The names of a file's extended attributes; false when they can't be read.
bool attributeNames(int fd, std::vector<char>& names)
{
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    names.clear();
    if (size < 0)
        return errno == ENOTSUP;
    names.resize(std::size_t(size));
    return ::flistxattr(fd, names.data(), names.size()) == size;
}

bool listed(const std::vector<char>& names, const char* name)
{
    for (std::size_t i = 0; i < names.size(); i += std::strlen(names.data() + i) + 1) {
        if (std::strcmp(names.data() + i, name) == 0)
            return true;
    }
    return false;
}

// Gives the new file `fd` the owner, group, mode and extended attributes
// (ACLs among them) of the old one; false when it can't have them all.
bool takeOver(int fd, int from, const struct stat& old)
{
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    std::vector<char> names, own, value;
    if (!attributeNames(from, names) || !attributeNames(fd, own))
        return false;
    for (std::size_t i = 0; i < names.size(); i += std::strlen(names.data() + i) + 1) {
        const char* name = names.data() + i;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        value.resize(std::size_t(std::max<ssize_t>(size, 1)));
        if (size < 0 || ::fgetxattr(from, name, value.data(), value.size()) != size
            || ::fsetxattr(fd, name, value.data(), std::size_t(size), 0) != 0)
            return false;
    }
    // What the new file was given of its own, such as a folder's default ACL.
    for (std::size_t i = 0; i < own.size(); i += std::strlen(own.data() + i) + 1) {
        if (!listed(names, own.data() + i) && ::fremovexattr(fd, own.data() + i) != 0)
            return false;
    }
    struct stat now;
    return ::fchmod(fd, old.st_mode & 07777) == 0 && ::fstat(fd, &now) == 0 && now.st_uid == old.st_uid
        && now.st_gid == old.st_gid && (now.st_mode & 07777) == (old.st_mode & 07777);
}

// Writes the new file, flushes it and puts it in the old one's place.
void commit(OwnFile& next, int dir, bool canSyncDir, const char* name,
            const ContentWriter& write, const QString& path)
{
    write(next.fd());
    check(::fsync(next.fd()) == 0, path);
    check(next.close(), path);
    check(::renameat(dir, next.name(), dir, name) == 0, path);
    next.keep();
    if (canSyncDir)
        check(::fsync(dir) == 0, path);
}

// Rewrites the file itself, after a safety copy from which a failed write
// is undone.
void rewriteInPlace(int dir, const char* name, const ContentWriter& write,
                    const QString& path)
{
    const FileDescriptor target(::openat(dir, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    check(target.get() >= 0, path);
    struct stat old;
    check(::fstat(target.get(), &old) == 0, path);
    OwnFile copy(dir, 0600, path);
    copyBytes(target.get(), copy.fd(), old.st_size, path);
    check(::fsync(copy.fd()) == 0, path);
    // Puts the old content back; where even that fails, the copy stays.
    const auto undo = [&](RuntimeError::Code code) {
        try {
            copyBytes(copy.fd(), target.get(), old.st_size, path);
            check(::ftruncate(target.get(), old.st_size) == 0, path);
            check(::fsync(target.get()) == 0, path);
        } catch (const RuntimeError&) {
            copy.keep();
            throw RuntimeError(code, path,
                               QStringLiteral("the old content is kept in %1").arg(QString::fromLatin1(copy.name())));
        }
    };
    try {
        const qint64 size = write(target.get());
        check(::ftruncate(target.get(), off_t(size)) == 0, path);
        check(::fsync(target.get()) == 0, path);
    } catch (const RuntimeError& e) {
        undo(e.code());
        throw;
    } catch (const std::bad_alloc&) {
        undo(RuntimeError::OutOfMemory);
        throw;
    }
}

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int FileDescriptor::release() { return std::exchange(fd_, -1); }

void writeFully(int fd, qint64 offset, const void* data, qint64 length, const QString& path)
{
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, bytes, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw fileError(n < 0 ? errno : ENOSPC, path, true);
        bytes += n;
        length -= n;
        offset += n;
    }
}

QString UserFile::folder() const
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString UserFile::name() const { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

RuntimeError openFailure(int e, const QString& path)
{
    // A missing file in a missing folder is a missing path.
    struct stat st;
    if (e == ENOENT && !(::stat(folderText(native(path)).constData(), &st) == 0 && S_ISDIR(st.st_mode)))
        return RuntimeError(RuntimeError::PathNotFound, path);
    return fileError(e, path, false);
}

UserFile findUserFile(const QString& path)
{
    const QByteArray name = native(path);
    const int fd = name.isEmpty() ? (errno = ENOENT, -1) : ::open(name.constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        throw openFailure(errno, path);
    const FileDescriptor file(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw fileError(errno, path, false);
    const QByteArray real = pathOf(fd, name);
    if (st.st_nlink == 0 || real.isEmpty())
        throw fileError(ENOENT, path, false); // removed meanwhile
    return UserFile{QFile::decodeName(real), st.st_dev, st.st_ino};
}

UserFile saveTargetOf(const QString& path)
{
    try {
        return findUserFile(path);
    } catch (const RuntimeError& e) {
        if (e.code() != RuntimeError::FileNotFound)
            throw;
    }
    const QByteArray name = native(path);
    const QByteArray folder = folderText(name);
    const QByteArray leaf = name.mid(name.lastIndexOf('/') + 1);
    if (leaf.isEmpty() || leaf == "." || leaf == "..")
        throw fileError(EISDIR, path, true);
    const FileDescriptor dir(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        throw fileError(errno, path, true);
    const QByteArray real = pathOf(dir.get(), folder);
    if (real.isEmpty())
        throw fileError(ENOENT, path, true);
    return UserFile{QFile::decodeName(real == "/" ? real + leaf : real + '/' + leaf)};
}

bool isSameFile(const UserFile& file, const QString& path)
{
    struct stat st, now;
    if (file.isNull() || path.isEmpty() || ::stat(native(path).constData(), &st) != 0)
        return false;
    if (file.inode != 0 && st.st_dev == file.device && st.st_ino == file.inode)
        return true;
    return ::stat(native(file.path).constData(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

void replaceFileContent(const UserFile& file, const ContentWriter& write)
{
    const QString& path = file.path;
    const QByteArray folder = native(file.folder()), leaf = native(file.name());
    const char* name = leaf.constData();
    int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool canSyncDir = fd >= 0;
    if (fd < 0 && errno == EACCES) // a folder that may be written but not listed
        fd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    check(fd >= 0, path);
    const FileDescriptor dir(fd);
    struct stat st;
    check(::fstat(fd, &st) == 0 && mayWrite(fd, ".", st, W_OK | X_OK), path);

    struct stat old;
    bool exists = ::fstatat(fd, name, &old, AT_SYMLINK_NOFOLLOW) == 0;
    check(exists || errno == ENOENT, path);
    if (exists && S_ISLNK(old.st_mode))
        exists = false; // a link put in the file's place is replaced, never followed
    if (exists && !S_ISREG(old.st_mode))
        throw fileError(EISDIR, path, true);
    if (exists)
        check(mayWrite(fd, name, old, W_OK), path);

    if (exists && old.st_nlink > 1) {
        rewriteInPlace(fd, name, write, path);
        return;
    }
    if (exists) {
        FileDescriptor current(::openat(fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        check(current.get() >= 0, path);
        bool replaced = false;
        {
            OwnFile next(fd, 0600, path);
            if (takeOver(next.fd(), current.get(), old)) {
                commit(next, fd, canSyncDir, name, write, path);
                replaced = true;
            }
        }
        // The replaced file's blocks are given back when its last descriptor
        // closes, which takes long for a large file: not while the user waits.
        if (replaced)
            closeInBackground(current.release());
        // Another owner's file, or attributes a new file can't have: in place.
        if (!replaced)
            rewriteInPlace(fd, name, write, path);
        return;
    }
    OwnFile next(fd, 0666, path);
    commit(next, fd, canSyncDir, name, write, path);
}

} // namespace penumbrix
