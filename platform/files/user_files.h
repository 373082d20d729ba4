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
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
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

} // namespace penumbrix
