#pragma once
// The user's files: where a path leads, and replacing a file's content
// without changing anything else about it.
//
// A path is resolved once, by the kernel (the file is opened and asked for
// its own path), so that `..` after a linked folder and links inside links
// lead where every system call would lead. That one answer then serves every
// later step; nothing re-reads the path as text.

#include <QString>
#include <QStringList>

#include <functional>
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

// Writes a file's whole new content into the open file `fd`, from its
// start, and returns its length.
using ContentWriter = std::function<qint64(int fd)>;

// Replaces the content of `file` with what `write` writes, or makes the
// file anew at its place (0666 less the umask) when it is gone. The file
// keeps its owner, group, mode, ACLs, extended attributes, inode flags and
// hard links: it is replaced atomically (an unnamed new file in the same
// folder, written, flushed, named and renamed over it) when the new file can
// carry all of these, and is otherwise rewritten in place after a safety
// copy beside it (a visible name, with the file's owner and mode where the
// saver may give them). Either way a failure leaves the old file as it was
// and no file of ours behind; where even the undo fails, the message names
// the copy.
//
// Only the file opened is ever written: when another file has been put at
// its place since, the name is replaced, never the other file's content
// (and a file that can't be replaced that way is refused). Two copies of
// the program never save one file at once: the second is refused.
//
// While a save runs, a journal in the folder given to useSaveJournalFolder
// says what it is doing, so that recoverUnfinishedSaves can undo or finish
// a save that was killed.
//
// The mode bits decide for every user, root included: a file or folder
// without any write bit is refused, as is anything the kernel refuses.
// Throws RuntimeError: path not found, permission denied, disk full, device
// I/O error (a failed flush or rename), or what `write` throws.
void replaceFileContent(const UserFile& file, const ContentWriter& write);

// Makes `path` and any folder missing on the way, each private (0700).
// Throws RuntimeError PathNotFound for `path` when it can't.
void makePrivateFolders(const QString& path);

// Where this process's saves keep their journals (the program's data
// folder, made when a save needs it); none when empty.
void useSaveJournalFolder(const QString& folder);

// Finishes what killed saves left: the journals in `folder` that no running
// copy holds. A file rewritten in part gets its old content back from its
// copy; a copy or new file left beside a file is removed. Returns, for the
// user, one Japanese paragraph for each save found.
QStringList recoverUnfinishedSaves(const QString& folder);

// For tests: called with the name of each stage a save reaches ("written",
// "linked", "renamed" when replacing; "copied", "rewritten", "done" in
// place), so that a test can stop the process there.
void setSaveStageHook(void (*hook)(const char* stage));

} // namespace penumbrix
