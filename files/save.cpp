#include "files/save.h"

#include "files/runtime_error.h"

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
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/ioctl.h>
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

// A new file of ours in the folder `dir`: unnamed while it is written
// (O_TMPFILE), so that nothing is left when the process dies, and named only
// by link(); where the file system has no unnamed files it is made under its
// name at once. Removed when it goes, unless kept.
class NewFile {
public:
    NewFile(int dir, mode_t mode, const QByteArray& name, const QString& path) : dir_(dir), name_(name)
    {
        fd_ = ::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (fd_ >= 0)
            return;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
            throw fileError(errno, path, true);
        fd_ = ::openat(dir, name_.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd_ < 0)
            throw fileError(errno, path, true);
        named_ = true;
    }
    ~NewFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (named_ && !kept_)
            ::unlinkat(dir_, name_.constData(), 0);
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    int fd() const { return fd_; }
    const QByteArray& name() const { return name_; }
    bool named() const { return named_; }
    void link(const QString& path)
    {
        if (named_)
            return;
        char self[40];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
        if (::linkat(AT_FDCWD, self, dir_, name_.constData(), AT_SYMLINK_FOLLOW) != 0
            && ::linkat(fd_, "", dir_, name_.constData(), AT_EMPTY_PATH) != 0)
            throw fileError(errno, path, true);
        named_ = true;
    }
    // Some file systems report a failed write only here.
    bool close()
    {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0 || errno == EINTR;
    }
    void keep() { kept_ = true; }
    // The file is no longer needed: its name goes now, its blocks when its
    // descriptor closes, away from the user's wait.
    void discardInBackground()
    {
        if (named_ && !kept_)
            ::unlinkat(dir_, name_.constData(), 0);
        kept_ = true;
        closeInBackground(std::exchange(fd_, -1));
    }

private:
    int dir_;
    int fd_ = -1;
    QByteArray name_;
    bool named_ = false;
    bool kept_ = false;
};

void (*stageHook)(const char*) = nullptr;

void stage(const char* name)
{
    if (stageHook)
        stageHook(name);
}

// Copies `size` bytes of the open file `from` into `to`, at the same
// offsets. With `sums`, also the fingerprints of the pages copied; false
// when a short read left them unaligned, for the caller to take them anew.
bool copyBytes(int from, int to, off_t size, const QString& path, std::vector<quint64>* sums = nullptr)
{
    std::vector<char> buffer(std::size_t(1) << 20);
    bool whole = true;
    for (off_t offset = 0; offset < size;) {
        const off_t wanted = std::min<off_t>(size - offset, off_t(buffer.size()));
        const ssize_t n = ::pread(from, buffer.data(), size_t(wanted), offset);
        if (n < 0 && errno == EINTR)
            continue;
        check(n >= 0, path);
        if (n == 0)
            break;
        writeFully(to, offset, buffer.data(), n, path);
        whole = whole && n == wanted;
        for (ssize_t at = 0; sums && whole && at < n; at += kSumPage)
            sums->push_back(pageSum(buffer.data() + at, size_t(std::min<ssize_t>(kSumPage, n - at))));
        offset += n;
    }
    return whole;
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

// Gives the new file `fd` the inode flags of the old one (chattr's "no dump",
// "no atime" and the like); false when it can't have them.
bool takeOverFlags(int fd, int from)
{
    int old = 0, now = 0;
    if (::ioctl(from, FS_IOC_GETFLAGS, &old) != 0)
        old = 0; // a file system without flags
    if (::ioctl(fd, FS_IOC_GETFLAGS, &now) != 0)
        return old == 0;
    if (now == old)
        return true;
    return ::ioctl(fd, FS_IOC_SETFLAGS, &old) == 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &now) == 0 && now == old;
}

// Gives the new file `fd` the owner, group, mode, extended attributes (ACLs
// among them) and inode flags of the old one; false when it can't have them all.
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
        && now.st_gid == old.st_gid && (now.st_mode & 07777) == (old.st_mode & 07777) && takeOverFlags(fd, from);
}

// Replaces the file `name` (opened as `current`, with `old` its status; -1
// when there is none) by a new file. False, before anything is written,
// when the new file can't carry everything the old one has.
bool replaceAtomically(int dir, bool canSyncDir, const SaveJournal::Record& names, int current,
                       const struct stat* old, const ContentWriter& write, const QString& path)
{
    SaveJournal journal; // goes after the new file
    NewFile next(dir, old ? 0600 : 0666, randomName(".penumbrix-%08x"), path);
    if (old && !takeOver(next.fd(), current, *old))
        return false;
    struct stat own;
    check(::fstat(next.fd(), &own) == 0, path);
    SaveJournal::Record r = names;
    r.kind = "replace";
    r.other = next.name();
    r.device = own.st_dev;
    r.otherInode = own.st_ino;
    journal.begin(r);
    write(next.fd());
    check(::fsync(next.fd()) == 0, path);
    stage("written");
    next.link(path);
    stage("linked");
    check(next.close(), path);
    check(::renameat(dir, next.name().constData(), dir, r.name.constData()) == 0, path);
    next.keep();
    stage("renamed");
    if (canSyncDir && ::fsync(dir) != 0) {
        journal.finish();
        throw fileError(errno, path, true)
            .withNote(QStringLiteral("新しい画像は保存されましたが、フォルダーへの書き込みを確認できませんでした。"));
    }
    return true;
}

// Puts a file's old content back from its copy, cut to its old length and flushed.
void restore(int copy, int target, off_t size, const QString& path)
{
    copyBytes(copy, target, size, path);
    check(::ftruncate(target, size) == 0, path);
    check(::fsync(target) == 0, path);
}

// Rewrites the file itself (`target`, open for writing), after a safety
// copy beside it, from which a failed write is undone. The new content is
// first written into memory, so that the journal holds the fingerprints of
// the old content's pages and the new one's before the file is touched: the
// next start can then tell a file the killed save left from one changed since.
void rewriteInPlace(int dir, bool canSyncDir, const SaveJournal::Record& names, int target, const struct stat& old,
                    const ContentWriter& write, const QString& path)
{
    // The copy is named after the file, visibly, so that it is found
    // should everything else fail; it takes the file's owner and mode
    // where the saver may give them.
    QByteArray copyName = names.name + randomName(".before-save-%08x.bmp");
    if (copyName.size() > NAME_MAX)
        copyName = randomName("before-save-%08x.bmp");
    SaveJournal journal; // goes after the copy
    NewFile copy(dir, 0600, copyName, path);
    if (::fchown(copy.fd(), old.st_uid, old.st_gid) != 0)
        (void)::fchown(copy.fd(), uid_t(-1), old.st_gid);
    (void)::fchmod(copy.fd(), old.st_mode & 0666);
    struct stat own;
    check(::fstat(copy.fd(), &own) == 0, path);
    SaveJournal::Record r = names;
    r.kind = "in place";
    r.other = copyName;
    r.device = old.st_dev;
    r.inode = old.st_ino;
    r.otherInode = own.st_ino;
    r.size = qulonglong(old.st_size);
    journal.begin(r);
    // The old content's fingerprints are taken as it is copied.
    const bool summed = copyBytes(target, copy.fd(), old.st_size, path, journal.active() ? &r.oldSums : nullptr);
    check(::fsync(copy.fd()) == 0, path);
    copy.link(path);
    if (canSyncDir)
        check(::fsync(dir) == 0, path);
    const FileDescriptor content(::memfd_create("penumbrix-save", MFD_CLOEXEC));
    if (content.get() < 0)
        throw RuntimeError(RuntimeError::OutOfMemory, path);
    r.newSize = qulonglong(write(content.get()));
    if (journal.active() && ((!summed && !pageSums(copy.fd(), old.st_size, r.oldSums))
                             || !pageSums(content.get(), qint64(r.newSize), r.newSums)))
        throw fileError(errno ? errno : EIO, path, true);
    journal.recordWritten(r);
    stage("copied");
    // Puts the old content back; where even that fails, the copy and the
    // journal stay, and the message names the copy.
    const auto undo = [&](RuntimeError error) {
        try {
            restore(copy.fd(), target, old.st_size, path);
        } catch (const RuntimeError&) {
            copy.keep();
            journal.leave();
            throw error.withNote(copyKeptNote(inFolder(r.folder, copyName)));
        }
    };
    try {
        copyBytes(content.get(), target, off_t(r.newSize), path);
        stage("rewritten");
        check(::ftruncate(target, off_t(r.newSize)) == 0, path);
        check(::fsync(target) == 0, path);
    } catch (const RuntimeError& e) {
        undo(e);
        throw;
    } catch (const std::bad_alloc&) {
        undo(RuntimeError(RuntimeError::OutOfMemory, path));
        throw;
    }
    journal.setPhase(SaveJournal::Done);
    stage("done");
    copy.discardInBackground();
}

} // namespace

void replaceFileContent(const UserFile& file, const ContentWriter& write)
{
    const QString& path = file.path;
    const QByteArray folder = native(file.folder()), name = native(file.name());
    int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool canSyncDir = fd >= 0;
    if (fd < 0 && errno == EACCES) // a folder that may be written but not listed
        fd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    check(fd >= 0, path);
    const FileDescriptor dir(fd);
    struct stat st;
    check(::fstat(fd, &st) == 0 && mayWrite(fd, ".", st, W_OK | X_OK), path);
    SaveJournal::Record names;
    names.folder = folder;
    names.name = name;
    names.folderDevice = st.st_dev;
    names.folderInode = st.st_ino;

    // Whatever is at the name now, opened without following a link and
    // without waiting on a named pipe: a link put in the file's place is
    // replaced, never followed.
    FileDescriptor current(::openat(fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (current.get() < 0) {
        check(errno == ENOENT || errno == ELOOP, path);
        replaceAtomically(fd, canSyncDir, names, -1, nullptr, write, path);
        retireSettledJournals(st.st_dev, st.st_ino, name);
        return;
    }
    struct stat old;
    check(::fstat(current.get(), &old) == 0, path);
    if (!S_ISREG(old.st_mode))
        throw fileError(EISDIR, path, true);
    check(mayWrite(fd, name.constData(), old, W_OK), path);
    if (::flock(current.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        throw RuntimeError(RuntimeError::PermissionDenied, path)
            .withNote(QStringLiteral("別の Penumbrix がこのファイルを保存しています。"));

    const bool opened = file.inode == 0 || (old.st_dev == file.device && old.st_ino == file.inode);
    if (!opened) {
        // Another file has been put at the opened file's place: its name is
        // replaced, its content never written.
        if (!replaceAtomically(fd, canSyncDir, names, current.get(), &old, write, path))
            throw RuntimeError(RuntimeError::PermissionDenied, path)
                .withNote(QStringLiteral("開いた後で別のファイルに置き換えられたため、保存しませんでした。"));
    } else if (old.st_nlink > 1
               || !replaceAtomically(fd, canSyncDir, names, current.get(), &old, write, path)) {
        // Hard links, another owner's file, attributes a new file can't
        // have: the inode is kept. (Attributes that only privileged programs
        // see, trusted.*, are no reason: only such programs keep them.) It
        // is written through the descriptor that was checked, reopened for
        // writing.
        char self[40];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", current.get());
        FileDescriptor target(::open(self, O_RDWR | O_NONBLOCK | O_CLOEXEC));
        struct stat now;
        if (target.get() < 0 && errno == ENOENT) // without /proc
            target.reset(::openat(fd, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        check(target.get() >= 0 && ::fstat(target.get(), &now) == 0, path);
        if (now.st_ino != old.st_ino || now.st_dev != old.st_dev)
            throw fileError(EBUSY, path, true);
        rewriteInPlace(fd, canSyncDir, names, target.get(), old, write, path);
        retireSettledJournals(st.st_dev, st.st_ino, name);
        return;
    }
    // The replaced file's blocks are given back when its last descriptor
    // closes, which takes long for a large file: not while the user waits.
    closeInBackground(current.release());
    retireSettledJournals(st.st_dev, st.st_ino, name);
}

void setSaveStageHook(void (*hook)(const char*)) { stageHook = hook; }

} // namespace penumbrix
