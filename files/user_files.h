#pragma once
// The user's files: where a path leads, found once.
//
// A path is resolved once, by the kernel (the file is opened and asked for
// its own path), so that `..` after a linked folder and links inside links
// lead where every system call would lead. That one answer then serves every
// later step; nothing re-reads the path as text.

#include <QString>

#include <sys/types.h>

namespace penumbrix {

class RuntimeError;

struct UserFile {
    QString path; // absolute, with every link, "." and ".." resolved
    dev_t device = 0;
    ino_t inode = 0; // of the file found; 0 when there was none yet

    bool isNull() const { return path.isEmpty(); }
    QString folder() const;
    QString name() const;
};

// Why `path` can't be opened for reading (`errnoValue` from open).
RuntimeError openFailure(int errnoValue, const QString& path);

// The file `path` leads to now. Throws RuntimeError as a load does: file not
// found, path not found, permission denied; a bad file name for a name that
// doesn't survive the way from bytes to text and back (it held bytes that
// are no text, now U+FFFD, and would lead to another file).
UserFile findUserFile(const QString& path);

// Where saving to `path` lands: the file it leads to, or, when there is
// none, the name in the folder the kernel finds. Throws RuntimeError, a bad
// file name as findUserFile.
UserFile saveTargetOf(const QString& path);

// True when `path` leads to the file that `file` was found as, or to the file
// now at its place.
bool isSameFile(const UserFile& file, const QString& path);

// An open file descriptor, closed when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    int get() const { return fd_; }
    int release(); // hands the descriptor over, no longer closed here
    void reset(int fd); // closes the one held, holds `fd`

private:
    int fd_;
};

// Writes `length` bytes at `offset` of the open file `fd`, however many
// calls that takes. Throws RuntimeError for `path`: disk full when the file
// takes no more, or what the kernel reports.
void writeFully(int fd, qint64 offset, const void* data, qint64 length, const QString& path);

// Makes `path` and any folder missing on the way, each private (0700).
// Throws RuntimeError PathNotFound for `path` when it can't.
void makePrivateFolders(const QString& path);

// The program's data folder, open for reading as a folder (O_DIRECTORY |
// O_NOFOLLOW), to find and make its files from (openat, unlinkat ...). A
// missing folder is made private (0700), with any folder missing on the way,
// unless `makeWhenMissing` is false: then nothing is made and the descriptor
// returned is -1. A folder that is there is trusted as ssh trusts ~/.ssh:
// only a real folder (no symbolic link as its last name), owned by the
// effective user and writable by no group and no others. Throws RuntimeError
// naming the folder, with a note that says why: a bad file name (its name
// lost bytes that were no text), path not found (it can't be made, or
// something else is in its place), permission denied (a link, another
// owner's folder, one that others may write). Nothing is ever written in a
// folder refused.
FileDescriptor openDataFolder(const QString& folder, bool makeWhenMissing = true);

} // namespace penumbrix
