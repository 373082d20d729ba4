#include "platform/files/save.h"

#include "platform/files/runtime_error.h"

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
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

// What the user is told about a file that a save left other than expected.
QString copyKeptNote(const QString& copy)
{
    return QStringLiteral("保存前の内容は次のファイルに残っています:\n%1").arg(copy);
}

QString inFolder(const QByteArray& folder, const QByteArray& name)
{
    return QFile::decodeName(folder == "/" ? folder + name : folder + '/' + name);
}

QByteArray randomName(const char* pattern)
{
    char name[64];
    std::snprintf(name, sizeof name, pattern, QRandomGenerator::global()->generate());
    return name;
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

private:
    int dir_;
    int fd_ = -1;
    QByteArray name_;
    bool named_ = false;
    bool kept_ = false;
};

// The journal of one save, in the journal folder, holding what the next
// start needs to undo or finish the save should the process die: what kind
// of save, the file, the new file or safety copy beside it and how far the
// save got. Held locked (flock) while the save runs, so that no other copy
// of the program takes it for the journal of a killed save; made unnamed and
// named only when complete.
class Journal {
public:
    enum Phase : char { Begun = 'B', Written = 'W', Done = 'D' };

    struct Record {
        char phase = 0;
        QByteArray kind, folder, name, other;
        qulonglong device = 0, inode = 0, otherInode = 0, size = 0;
    };

    Journal() = default;
    ~Journal() { finish(); }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Begins the journal; a save without a journal folder, or whose journal
    // can't be made, goes on without one.
    void begin(const Record& r)
    {
        const QByteArray folder = journalFolder();
        if (folder.isEmpty())
            return;
        try {
            makePrivateFolders(QFile::decodeName(folder));
        } catch (const RuntimeError&) {
            return;
        }
        const FileDescriptor dir(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() < 0)
            return;
        name_ = folder + '/' + randomName("save-%08x.journal");
        fd_ = ::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        const bool unnamed = fd_ >= 0;
        if (!unnamed)
            fd_ = ::open(name_.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            finish();
            return;
        }
        const auto field = [](const char* key, const QByteArray& value) {
            return QByteArray(key) + ' ' + value.toPercentEncoding() + '\n';
        };
        const auto number = [](const char* key, qulonglong value) {
            return QByteArray(key) + ' ' + QByteArray::number(value) + '\n';
        };
        const QByteArray text = QByteArray("penumbrix-save ") + char(Begun) + '\n' + field("kind", r.kind)
            + field("folder", r.folder) + field("name", r.name) + field("other", r.other)
            + number("device", r.device) + number("inode", r.inode) + number("otherinode", r.otherInode)
            + number("size", r.size);
        char self[40];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
        if (::pwrite(fd_, text.constData(), size_t(text.size()), 0) != text.size()
            || (unnamed && ::linkat(AT_FDCWD, self, AT_FDCWD, name_.constData(), AT_SYMLINK_FOLLOW) != 0)) {
            if (!unnamed)
                ::unlink(name_.constData());
            name_.clear();
            finish();
        }
    }
    void setPhase(Phase phase)
    {
        const char c = char(phase);
        if (fd_ >= 0)
            (void)::pwrite(fd_, &c, 1, kPhaseAt);
    }
    // Makes the journal outlast a power cut, not only a killed process: an
    // in-place rewrite cut short by one must still be undone at the next start.
    void flush()
    {
        if (fd_ < 0)
            return;
        (void)::fsync(fd_);
        const FileDescriptor dir(::open(journalFolder().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0)
            (void)::fsync(dir.get());
    }
    // The save is over, whichever way: the journal goes.
    void finish()
    {
        if (fd_ >= 0 && !name_.isEmpty())
            ::unlink(name_.constData());
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        name_.clear();
    }
    // The save is left unfinished: the journal stays for the next start.
    void leave()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        name_.clear();
    }

    static Record parse(const QByteArray& text)
    {
        Record r;
        if (!text.startsWith("penumbrix-save ") || text.size() <= kPhaseAt)
            return r;
        for (const QByteArray& line : text.split('\n')) {
            const qsizetype space = line.indexOf(' ');
            const QByteArray key = line.left(space), value = QByteArray::fromPercentEncoding(line.mid(space + 1));
            if (key == "kind")
                r.kind = value;
            else if (key == "folder")
                r.folder = value;
            else if (key == "name")
                r.name = value;
            else if (key == "other")
                r.other = value;
            else if (key == "device")
                r.device = value.toULongLong();
            else if (key == "inode")
                r.inode = value.toULongLong();
            else if (key == "otherinode")
                r.otherInode = value.toULongLong();
            else if (key == "size")
                r.size = value.toULongLong();
        }
        if (!r.kind.isEmpty() && !r.folder.isEmpty() && !r.name.isEmpty() && !r.other.isEmpty())
            r.phase = text[kPhaseAt];
        return r;
    }

    static QByteArray& journalFolder()
    {
        static QByteArray folder;
        return folder;
    }

private:
    static constexpr int kPhaseAt = 15; // just after "penumbrix-save "
    int fd_ = -1;
    QByteArray name_;
};

void (*stageHook)(const char*) = nullptr;

void stage(const char* name)
{
    if (stageHook)
        stageHook(name);
}

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

// Puts a file's old content back from its copy, cut to its old length and flushed.
void restore(int copy, int target, off_t size, const QString& path)
{
    copyBytes(copy, target, size, path);
    check(::ftruncate(target, size) == 0, path);
    check(::fsync(target) == 0, path);
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

// Whether the saver sees every extended attribute a file may have: the
// trusted.* ones are listed only to holders of CAP_SYS_ADMIN.
bool seesEveryAttribute(int fd)
{
    if (::flistxattr(fd, nullptr, 0) < 0 && errno == ENOTSUP)
        return true; // no attributes on this file system at all
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return ::syscall(SYS_capget, &header, data) == 0
        && (data[CAP_SYS_ADMIN / 32].effective & (1u << (CAP_SYS_ADMIN % 32))) != 0;
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
bool replaceAtomically(int dir, bool canSyncDir, const QByteArray& folder, const QByteArray& name, int current,
                       const struct stat* old, const ContentWriter& write, const QString& path)
{
    Journal journal; // goes after the new file
    NewFile next(dir, old ? 0600 : 0666, randomName(".penumbrix-%08x"), path);
    if (old && !takeOver(next.fd(), current, *old))
        return false;
    struct stat own;
    check(::fstat(next.fd(), &own) == 0, path);
    journal.begin({0, "replace", folder, name, next.name(), own.st_dev, 0, own.st_ino, 0});
    write(next.fd());
    check(::fsync(next.fd()) == 0, path);
    stage("written");
    next.link(path);
    stage("linked");
    check(next.close(), path);
    check(::renameat(dir, next.name().constData(), dir, name.constData()) == 0, path);
    next.keep();
    stage("renamed");
    if (canSyncDir && ::fsync(dir) != 0) {
        journal.finish();
        throw fileError(errno, path, true)
            .withNote(QStringLiteral("新しい画像は保存されましたが、フォルダーへの書き込みを確認できませんでした。"));
    }
    return true;
}

// Rewrites the file itself (`target`, open for writing), after a safety
// copy beside it, from which a failed write is undone.
void rewriteInPlace(int dir, bool canSyncDir, const QByteArray& folder, const QByteArray& name, int target,
                    const struct stat& old, const ContentWriter& write, const QString& path)
{
    // The copy is named after the file, visibly, so that it is found
    // should everything else fail; it takes the file's owner and mode
    // where the saver may give them.
    QByteArray copyName = name + randomName(".before-save-%08x.bmp");
    if (copyName.size() > NAME_MAX)
        copyName = randomName("before-save-%08x.bmp");
    Journal journal; // goes after the copy
    NewFile copy(dir, 0600, copyName, path);
    if (::fchown(copy.fd(), old.st_uid, old.st_gid) != 0)
        (void)::fchown(copy.fd(), uid_t(-1), old.st_gid);
    (void)::fchmod(copy.fd(), old.st_mode & 0666);
    struct stat own;
    check(::fstat(copy.fd(), &own) == 0, path);
    journal.begin({0, "in place", folder, name, copyName, old.st_dev, old.st_ino, own.st_ino, qulonglong(old.st_size)});
    copyBytes(target, copy.fd(), old.st_size, path);
    check(::fsync(copy.fd()) == 0, path);
    copy.link(path);
    if (canSyncDir)
        check(::fsync(dir) == 0, path);
    journal.setPhase(Journal::Written);
    journal.flush();
    stage("copied");
    // Puts the old content back; where even that fails, the copy and the
    // journal stay, and the message names the copy.
    const auto undo = [&](RuntimeError error) {
        try {
            restore(copy.fd(), target, old.st_size, path);
        } catch (const RuntimeError&) {
            copy.keep();
            journal.leave();
            throw error.withNote(copyKeptNote(inFolder(folder, copyName)));
        }
    };
    try {
        const qint64 size = write(target);
        stage("rewritten");
        check(::ftruncate(target, off_t(size)) == 0, path);
        check(::fsync(target) == 0, path);
    } catch (const RuntimeError& e) {
        undo(e);
        throw;
    } catch (const std::bad_alloc&) {
        undo(RuntimeError(RuntimeError::OutOfMemory, path));
        throw;
    }
    journal.setPhase(Journal::Done);
    stage("done");
}

// One killed save's journal: undoes or finishes what it was doing, and says
// what became of the file.
QString recover(const Journal::Record& r)
{
    const QString path = inFolder(r.folder, r.name);
    const QString asBefore = QStringLiteral("前回の保存は中断されました。ファイルは保存前のままです。\n%1").arg(path);
    const QString saved = QStringLiteral("前回の保存は中断されましたが、新しい画像は保存されています。\n%1").arg(path);
    const FileDescriptor dir(::open(r.folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat other, now;
    const bool hasOther = dir.get() >= 0 && ::fstatat(dir.get(), r.other.constData(), &other, AT_SYMLINK_NOFOLLOW) == 0
        && other.st_ino == r.otherInode && S_ISREG(other.st_mode);
    const bool hasFile = dir.get() >= 0 && ::fstatat(dir.get(), r.name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    if (r.kind == "replace") {
        // The new file either never got its name, or got the file's.
        if (hasOther)
            ::unlinkat(dir.get(), r.other.constData(), 0);
        return hasFile && now.st_ino == r.otherInode && now.st_dev == r.device ? saved : asBefore;
    }
    const QString copyPath = inFolder(r.folder, r.other);
    if (r.phase == Journal::Begun || r.phase == Journal::Done) {
        // Killed before the file was touched, or after it was all written.
        if (hasOther)
            ::unlinkat(dir.get(), r.other.constData(), 0);
        return r.phase == Journal::Done ? saved : asBefore;
    }
    try {
        const FileDescriptor copy(hasOther ? ::openat(dir.get(), r.other.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
        const FileDescriptor target(hasFile ? ::openat(dir.get(), r.name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
        struct stat st;
        if (copy.get() < 0 || target.get() < 0 || ::fstat(target.get(), &st) != 0 || st.st_ino != r.inode
            || st.st_dev != r.device || !S_ISREG(st.st_mode))
            throw RuntimeError(RuntimeError::FileNotFound, path);
        restore(copy.get(), target.get(), off_t(r.size), path);
    } catch (const RuntimeError&) {
        return hasOther ? QStringLiteral("前回中断された保存を元に戻せませんでした。\n%1\n\n%2").arg(path, copyKeptNote(copyPath))
                        : QStringLiteral("前回中断された保存を元に戻せませんでした。\n%1").arg(path);
    }
    ::unlinkat(dir.get(), r.other.constData(), 0);
    return QStringLiteral("前回中断された保存を取り消し、ファイルを保存前の画像に戻しました。\n%1").arg(path);
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

    // Whatever is at the name now, opened without following a link and
    // without waiting on a named pipe: a link put in the file's place is
    // replaced, never followed.
    FileDescriptor current(::openat(fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (current.get() < 0) {
        check(errno == ENOENT || errno == ELOOP, path);
        replaceAtomically(fd, canSyncDir, folder, name, -1, nullptr, write, path);
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
        if (!replaceAtomically(fd, canSyncDir, folder, name, current.get(), &old, write, path))
            throw RuntimeError(RuntimeError::PermissionDenied, path)
                .withNote(QStringLiteral("開いた後で別のファイルに置き換えられたため、保存しませんでした。"));
    } else if (old.st_nlink > 1 || !seesEveryAttribute(current.get())
               || !replaceAtomically(fd, canSyncDir, folder, name, current.get(), &old, write, path)) {
        // Hard links, attributes the saver can't see, another owner's file,
        // attributes a new file can't have: the inode is kept. It is written
        // through the descriptor that was checked, reopened for writing.
        char self[40];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", current.get());
        FileDescriptor target(::open(self, O_RDWR | O_NONBLOCK | O_CLOEXEC));
        struct stat now;
        if (target.get() < 0 && errno == ENOENT) // without /proc
            target.reset(::openat(fd, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        check(target.get() >= 0 && ::fstat(target.get(), &now) == 0, path);
        if (now.st_ino != old.st_ino || now.st_dev != old.st_dev)
            throw fileError(EBUSY, path, true);
        rewriteInPlace(fd, canSyncDir, folder, name, target.get(), old, write, path);
        return;
    }
    // The replaced file's blocks are given back when its last descriptor
    // closes, which takes long for a large file: not while the user waits.
    closeInBackground(current.release());
}

void useSaveJournalFolder(const QString& folder) { Journal::journalFolder() = native(folder); }

QStringList recoverUnfinishedSaves(const QString& folder)
{
    QStringList told;
    const QByteArray at = native(folder);
    DIR* listing = at.isEmpty() ? nullptr : ::opendir(at.constData());
    if (!listing)
        return told;
    std::vector<QByteArray> journals;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith("save-") && name.endsWith(".journal"))
            journals.push_back(at + '/' + name);
    }
    ::closedir(listing);
    for (const QByteArray& journal : journals) {
        const FileDescriptor fd(::open(journal.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        // A journal still held is a save running in another copy.
        if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        struct stat st;
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 16))
            continue;
        QByteArray text(st.st_size, '\0');
        if (::pread(fd.get(), text.data(), size_t(text.size()), 0) != text.size())
            continue;
        const Journal::Record r = Journal::parse(text);
        if (r.phase)
            told << recover(r);
        ::unlink(journal.constData());
    }
    return told;
}

void setSaveStageHook(void (*hook)(const char*)) { stageHook = hook; }

} // namespace penumbrix
