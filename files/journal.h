#pragma once
// The journal a save keeps while it runs, and what the next start does with
// the journals of saves that were killed.
//
// A journal is a small file in the program's data folder, the user's own,
// held locked (flock) while its save runs. It names the file, the folder
// (with its device and inode), the new file or safety copy beside it and
// how far the save got. An in-place rewrite also records, before any byte of
// the file is touched, a fingerprint of every 4 KiB page of the old content
// and of the new, so that the next start can prove that the file is exactly
// as the killed save left it before it puts anything back.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>
#include <vector>

namespace penumbrix {

// The fingerprint of one page of content: a fast 64-bit hash, no defence
// against an attacker, but no two pages a save meets are mistaken for each
// other by chance.
quint64 pageSum(const void* data, std::size_t length);
inline constexpr qint64 kSumPage = 4096;

// The fingerprints of `size` bytes of the open file `fd`, a page each.
// False when it can't be read to the end.
bool pageSums(int fd, qint64 size, std::vector<quint64>& sums);

// A name made from `pattern` with one random 32-bit number (%08x) in it.
QByteArray randomName(const char* pattern);
// `name` in `folder`, for the user.
QString inFolder(const QByteArray& folder, const QByteArray& name);
// What the user is told of a safety copy that holds a file's old content.
QString copyKeptNote(const QString& copy);

class SaveJournal {
public:
    enum Phase : char { Begun = 'B', Written = 'W', Done = 'D' };

    struct Record {
        char phase = 0;
        QByteArray kind;   // "replace" or "in place"
        QByteArray folder; // absolute, as the kernel gave it
        QByteArray name, other;
        qulonglong folderDevice = 0, folderInode = 0;
        qulonglong device = 0, inode = 0, otherInode = 0;
        qulonglong size = 0, newSize = 0; // of the old content and of the new, in place
        std::vector<quint64> oldSums, newSums;
    };

    SaveJournal() = default;
    ~SaveJournal() { finish(); }
    SaveJournal(const SaveJournal&) = delete;
    SaveJournal& operator=(const SaveJournal&) = delete;

    // Begins the journal in the journal folder (useSaveJournalFolder); a save
    // without a journal folder, or whose folder is not the user's own private
    // folder, or whose journal can't be made, goes on without one.
    void begin(const Record& r);
    bool active() const { return fd_ >= 0; }
    // Adds what the next start needs to prove an in-place rewrite's file
    // (the pages' fingerprints and the new length), flushed, then marks the
    // journal Written, flushed again: only then may the file be touched.
    // False when the journal can't say it: the file is not to be touched.
    bool recordWritten(const Record& r);
    void setPhase(Phase phase);
    // The save is over, whichever way: the journal goes.
    void finish();
    // The save is left unfinished: the journal stays for the next start.
    void leave();

    static Record parse(const QByteArray& text);
    static QByteArray& folder();

private:
    static constexpr int kPhaseAt = 15; // just after "penumbrix-save "
    int fd_ = -1;
    QByteArray name_;
};

// Retires the journals left by earlier saves of the file `name` in the
// folder (device, inode) now that a save of it has completed: the file is
// whole again. Journals held by a running copy are not touched; the safety
// copies they name stay where the user was told they are.
void retireSettledJournals(dev_t folderDevice, ino_t folderInode, const QByteArray& name);

// Where this process's saves keep their journals (the program's data
// folder, made when a save needs it); none when empty.
void useSaveJournalFolder(const QString& folder);

// Finishes what killed saves left: the journals in `folder` that no running
// copy holds. A file rewritten in part gets its old content back from its
// copy, once its every page is proven to be the old content or the new; a
// copy or new file left beside a file is removed. Whatever can't be proven
// is left as it is, and the user is told where both pictures are. Journals
// that are not the user's own, in a folder that is not the user's own
// private folder, are never acted on. Returns, for the user, one Japanese
// paragraph for each save found.
QStringList recoverUnfinishedSaves(const QString& folder);

} // namespace penumbrix
