#include "files/user_files.h"

#include "files/runtime_error.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace penumbrix {
namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

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

// A name given as text that doesn't lead where its bytes led: bytes that
// were no text became U+FFFD on the way in, and U+FFFD's own bytes name
// another file.
void refuseLostBytes(const QString& path)
{
    if (path.contains(QChar::ReplacementCharacter))
        throw RuntimeError(RuntimeError::BadFileName, path);
}

QString decodedName(const QByteArray& real, const QString& path)
{
    const QString name = QFile::decodeName(real);
    if (QFile::encodeName(name) != real)
        throw RuntimeError(RuntimeError::BadFileName, path);
    return name;
}

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int FileDescriptor::release() { return std::exchange(fd_, -1); }

void FileDescriptor::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

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
    refuseLostBytes(path);
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
    return UserFile{decodedName(real, path), st.st_dev, st.st_ino};
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
    return UserFile{decodedName(real == "/" ? real + leaf : real + '/' + leaf, path)};
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

void makePrivateFolders(const QString& path)
{
    const QByteArray name = native(path);
    for (qsizetype at = name.indexOf('/', 1); ; at = name.indexOf('/', at + 1)) {
        const QByteArray part = at < 0 ? name : name.left(at);
        if (!part.isEmpty() && ::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            break;
        if (at < 0)
            break;
    }
    struct stat st;
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw RuntimeError(RuntimeError::PathNotFound, path);
}

FileDescriptor openDataFolder(const QString& folder, bool makeWhenMissing)
{
    const auto refused = [&](RuntimeError::Code code, const QString& why) {
        return RuntimeError(code, folder).withNote(why);
    };
    if (folder.isEmpty())
        throw refused(RuntimeError::PathNotFound,
                      QStringLiteral("データフォルダーが決まりません。HOME か XDG_DATA_HOME を設定してください。"));
    if (folder.contains(QChar::ReplacementCharacter))
        throw refused(RuntimeError::BadFileName,
                      QStringLiteral("データフォルダーの名前に文字として読めないバイトがあるため、使いませんでした。"
                                     "XDG_DATA_HOME に、名前が文字だけのフォルダーを指定してください。"));
    const QByteArray name = native(folder);
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    FileDescriptor dir(::open(name.constData(), kFlags));
    if (dir.get() < 0 && errno == ENOENT) {
        if (!makeWhenMissing)
            return dir;
        makePrivateFolders(folder);
        dir.reset(::open(name.constData(), kFlags));
    }
    if (dir.get() < 0) {
        const int e = errno;
        struct stat st;
        const bool there = ::lstat(name.constData(), &st) == 0;
        if (there && S_ISLNK(st.st_mode))
            throw refused(RuntimeError::PermissionDenied,
                          QStringLiteral("データフォルダーがシンボリックリンクのため、使いませんでした。"
                                         "本物のフォルダーにしてください。"));
        if (there && !S_ISDIR(st.st_mode))
            throw refused(RuntimeError::PathNotFound,
                          QStringLiteral("データフォルダーの場所に、フォルダーでないものがあります。"));
        throw fileError(e, folder, true);
    }
    struct stat st;
    if (::fstat(dir.get(), &st) != 0)
        throw fileError(errno, folder, true);
    if (st.st_uid != ::geteuid())
        throw refused(RuntimeError::PermissionDenied,
                      QStringLiteral("データフォルダーがほかのユーザー (uid %1) のものなので、使いませんでした。")
                          .arg(st.st_uid));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        throw refused(RuntimeError::PermissionDenied,
                      QStringLiteral("データフォルダーにほかのユーザーも書き込めるため (モード %1)、使いませんでした。"
                                     "chmod 700 で直せます。")
                          .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')));
    return dir;
}

} // namespace penumbrix
