#pragma once
// Replacing the content of a user's file without changing anything else
// about it, and finishing the saves that a killed process left.

#include <QString>
#include <QStringList>

#include <functional>

#include "files/journal.h"
#include "files/user_files.h"

namespace penumbrix {

// Writes a file's whole new content into the open file `fd`, from its
// start, and returns its length.
using ContentWriter = std::function<qint64(int fd)>;

// Replaces the content of `file` with what `write` writes, or makes the
// file anew at its place (0666 less the umask) when it is gone. The file
// keeps its owner, group, mode, ACLs, extended attributes, inode flags and
// hard links: it is replaced atomically (an unnamed new file in the same
// folder, written, flushed, named and renamed over it) when the new file can
// carry all of these, for any user, and is otherwise rewritten in place after
// a safety copy beside it (a visible name, with the file's owner and mode
// where the saver may give them). Either way a failure leaves the old file as
// it was and no file of ours behind; where even the undo fails, the message
// names the copy.
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

// For tests: called with the name of each stage a save reaches ("written",
// "linked", "renamed" when replacing; "copied", "rewritten", "done" in
// place), so that a test can stop the process there.
void setSaveStageHook(void (*hook)(const char* stage));

} // namespace penumbrix
