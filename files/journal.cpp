#include "files/journal.h"

#include "files/runtime_error.h"
#include "files/user_files.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace penumbrix {

QByteArray randomName(const char* pattern)
{
    char name[64];
    std::snprintf(name, sizeof name, pattern, QRandomGenerator::global()->generate());
    return name;
}

QString inFolder(const QByteArray& folder, const QByteArray& name)
{
    return QFile::decodeName(folder == "/" ? folder + name : folder + '/' + name);
}

QString copyKeptNote(const QString& copy)
{
    return QStringLiteral("保存前の内容は次のファイルに残っています:\n%1").arg(copy);
}

quint64 pageSum(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    quint64 h = 0x9E3779B97F4A7C15ull ^ length;
    const auto mix = [&h](quint64 word) {
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    };
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        quint64 word;
        std::memcpy(&word, bytes + i, 8);
        mix(word);
    }
    if (i < length) {
        quint64 word = 0;
        std::memcpy(&word, bytes + i, length - i);
        mix(word);
    }
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

namespace {

// Reads up to `length` bytes at `offset`; the count read, -1 on an error.
qint64 readAt(int fd, qint64 offset, char* out, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

constexpr qint64 kChunk = 1 << 20; // a whole number of pages

qulonglong pages(qulonglong size) { return (size + kSumPage - 1) / kSumPage; }

} // namespace

bool pageSums(int fd, qint64 size, std::vector<quint64>& sums)
{
    sums.clear();
    std::vector<char> buffer(std::size_t(std::min(size, kChunk)));
    for (qint64 offset = 0; offset < size; offset += kChunk) {
        const qint64 length = std::min(kChunk, size - offset);
        if (readAt(fd, offset, buffer.data(), length) != length)
            return false;
        for (qint64 at = 0; at < length; at += kSumPage)
            sums.push_back(pageSum(buffer.data() + at, std::size_t(std::min(kSumPage, length - at))));
    }
    return true;
}

namespace {

bool validName(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

// The name a save gives the file it makes beside the file (`random` the
// pattern's random part).
bool madeName(const QByteArray& name, const char* prefix, const char* suffix)
{
    const QByteArray p(prefix), s(suffix);
    if (!name.startsWith(p) || !name.endsWith(s) || name.size() != p.size() + 8 + s.size())
        return false;
    const QByteArray random = name.mid(p.size(), 8);
    return std::all_of(random.begin(), random.end(), [](char c) { return std::isxdigit(uchar(c)) && !std::isupper(uchar(c)); });
}

// A journal file of the user's own, of one name, that nobody else may write.
bool ownJournal(int fd, struct stat& st)
{
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1
        && (st.st_mode & 022) == 0 && st.st_size <= (qint64(1) << 26);
}

QByteArray readJournal(int fd, const struct stat& st)
{
    QByteArray text(st.st_size, '\0');
    return readAt(fd, 0, text.data(), text.size()) == text.size() ? text : QByteArray();
}

// Calls `each` with the name and open descriptor of every journal in the
// folder `dir` that no running copy holds (it is held for the call).
template <class Each>
void forEachJournal(int dir, Each each)
{
    const int listFd = ::dup(dir);
    DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!listing) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith("save-") && name.endsWith(".journal"))
            names.push_back(name);
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names) {
        const FileDescriptor fd(::openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        // A journal still held is a save running in another copy.
        if (fd.get() >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            each(name, fd.get());
    }
}

QByteArray field(const char* key, const QByteArray& value)
{
    return QByteArray(key) + ' ' + value.toPercentEncoding() + '\n';
}

QByteArray number(const char* key, qulonglong value) { return QByteArray(key) + ' ' + QByteArray::number(value) + '\n'; }

QByteArray sumsText(const std::vector<quint64>& sums)
{
    QByteArray text;
    text.reserve(qsizetype(sums.size()) * 16);
    char word[17];
    for (const quint64 sum : sums) {
        std::snprintf(word, sizeof word, "%016llx", static_cast<unsigned long long>(sum));
        text.append(word, 16);
    }
    return text;
}

std::vector<quint64> parseSums(const QByteArray& text)
{
    std::vector<quint64> sums;
    if (text.size() % 16)
        return sums;
    sums.reserve(std::size_t(text.size() / 16));
    for (qsizetype i = 0; i < text.size(); i += 16) {
        bool ok = false;
        sums.push_back(text.mid(i, 16).toULongLong(&ok, 16));
        if (!ok)
            return {};
    }
    return sums;
}

void syncFolder(const QByteArray& folder)
{
    const FileDescriptor dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        (void)::fsync(dir.get());
}

} // namespace

QByteArray& SaveJournal::folder()
{
    static QByteArray folder;
    return folder;
}

void useSaveJournalFolder(const QString& folder) { SaveJournal::folder() = QFile::encodeName(folder); }

void SaveJournal::begin(const Record& r)
{
    const QByteArray at = folder();
    if (at.isEmpty())
        return;
    FileDescriptor dir;
    try {
        dir = openDataFolder(QFile::decodeName(at));
    } catch (const RuntimeError&) {
        return; // never written in a folder that others may write or that isn't the user's
    }
    const QByteArray name = randomName("save-%08x.journal");
    fd_ = ::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    const bool unnamed = fd_ >= 0;
    if (!unnamed)
        fd_ = ::openat(dir.get(), name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        leave();
        return;
    }
    name_ = at + '/' + name;
    const QByteArray text = QByteArray("penumbrix-save ") + char(Begun) + '\n' + field("kind", r.kind)
        + field("folder", r.folder) + field("name", r.name) + field("other", r.other)
        + number("folderdevice", r.folderDevice) + number("folderinode", r.folderInode) + number("device", r.device)
        + number("inode", r.inode) + number("otherinode", r.otherInode) + number("size", r.size);
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    if (::pwrite(fd_, text.constData(), size_t(text.size()), 0) != text.size()
        || (unnamed && ::linkat(AT_FDCWD, self, dir.get(), name.constData(), AT_SYMLINK_FOLLOW) != 0)) {
        if (unnamed)
            name_.clear(); // never named: nothing to remove
        finish();
    }
}

bool SaveJournal::recordWritten(const Record& r)
{
    if (fd_ < 0)
        return true; // a save without a journal
    struct stat st;
    const QByteArray text = number("newsize", r.newSize) + "oldsums " + sumsText(r.oldSums) + "\nnewsums "
        + sumsText(r.newSums) + "\nend\n";
    const char phase = char(Written);
    // The fingerprints reach the disk before the phase that makes them count.
    if (::fstat(fd_, &st) != 0 || ::pwrite(fd_, text.constData(), size_t(text.size()), st.st_size) != text.size()
        || ::fsync(fd_) != 0 || ::pwrite(fd_, &phase, 1, kPhaseAt) != 1 || ::fsync(fd_) != 0) {
        finish();
        return false;
    }
    syncFolder(folder());
    return true;
}

void SaveJournal::setPhase(Phase phase)
{
    const char c = char(phase);
    if (fd_ >= 0)
        (void)::pwrite(fd_, &c, 1, kPhaseAt);
}

void SaveJournal::finish()
{
    if (fd_ >= 0 && !name_.isEmpty())
        ::unlink(name_.constData());
    leave();
}

void SaveJournal::leave()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    name_.clear();
}

SaveJournal::Record SaveJournal::parse(const QByteArray& text)
{
    Record r;
    if (!text.startsWith("penumbrix-save ") || text.size() <= kPhaseAt)
        return r;
    bool ended = false;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = space < 0 ? line : line.left(space), raw = space < 0 ? QByteArray() : line.mid(space + 1);
        const QByteArray value = QByteArray::fromPercentEncoding(raw);
        if (key == "kind")
            r.kind = value;
        else if (key == "folder")
            r.folder = value;
        else if (key == "name")
            r.name = value;
        else if (key == "other")
            r.other = value;
        else if (key == "folderdevice")
            r.folderDevice = value.toULongLong();
        else if (key == "folderinode")
            r.folderInode = value.toULongLong();
        else if (key == "device")
            r.device = value.toULongLong();
        else if (key == "inode")
            r.inode = value.toULongLong();
        else if (key == "otherinode")
            r.otherInode = value.toULongLong();
        else if (key == "size")
            r.size = value.toULongLong();
        else if (key == "newsize")
            r.newSize = value.toULongLong();
        else if (key == "oldsums")
            r.oldSums = parseSums(raw);
        else if (key == "newsums")
            r.newSums = parseSums(raw);
        else if (key == "end")
            ended = true;
    }
    // Fingerprints that don't cover both contents prove nothing.
    if (!ended || r.oldSums.size() != pages(r.size) || r.newSums.size() != pages(r.newSize))
        r.oldSums.clear(), r.newSums.clear(), r.newSize = ~0ull;
    if (!r.kind.isEmpty() && !r.folder.isEmpty() && !r.name.isEmpty() && !r.other.isEmpty())
        r.phase = text[kPhaseAt];
    return r;
}

namespace {

// What became of one killed save, and whether its journal is done with.
struct Outcome {
    QString told;
    bool retire = true;
};

// The file as a killed in-place rewrite left it, page by page against its
// old content (the copy, already proven) and the new one's fingerprints.
enum class Found { Old, New, Mixed, Unproven };

Found compare(int target, int copy, const SaveJournal::Record& r)
{
    struct stat st;
    if (::fstat(target, &st) != 0)
        return Found::Unproven;
    const qulonglong size = qulonglong(st.st_size), oldSize = r.size, newSize = r.newSize;
    if (size < std::min(oldSize, newSize) || size > std::max(oldSize, newSize))
        return Found::Unproven;
    bool allOld = size == oldSize, allNew = size == newSize;
    std::vector<char> file(kChunk), before(kChunk);
    for (qulonglong offset = 0; offset < size; offset += kChunk) {
        const qint64 length = qint64(std::min<qulonglong>(kChunk, size - offset));
        const qint64 oldLength = qint64(std::min<qulonglong>(kChunk, oldSize > offset ? oldSize - offset : 0));
        if (readAt(target, qint64(offset), file.data(), length) != length
            || readAt(copy, qint64(offset), before.data(), oldLength) != oldLength)
            return Found::Unproven;
        for (qint64 at = 0; at < length; at += kSumPage) {
            const qulonglong page = (offset + qulonglong(at)) / kSumPage;
            const qint64 here = std::min(kSumPage, length - at);
            // Old: the same bytes as the copy, within the old length.
            const bool old = at + here <= oldLength && std::memcmp(file.data() + at, before.data() + at, size_t(here)) == 0;
            // New: the new page's bytes, and past the new length (an old,
            // longer file not yet cut) the old ones.
            const qint64 fresh = qint64(std::min<qulonglong>(kSumPage, newSize > page * kSumPage ? newSize - page * kSumPage : 0));
            bool isNew = false;
            if (fresh > 0 && fresh <= here && pageSum(file.data() + at, size_t(fresh)) == r.newSums[page])
                isNew = fresh == here
                    || (at + here <= oldLength && std::memcmp(file.data() + at + fresh, before.data() + at + fresh, size_t(here - fresh)) == 0);
            if (!old && !isNew)
                return Found::Unproven;
            allOld = allOld && old;
            allNew = allNew && isNew && fresh == here;
        }
    }
    return allNew ? Found::New : allOld ? Found::Old : Found::Mixed;
}

// Puts the old content back from the copy, cut to its old length and flushed.
bool restore(int copy, int target, qint64 size)
{
    std::vector<char> buffer(kChunk);
    for (qint64 offset = 0; offset < size; offset += kChunk) {
        const qint64 length = std::min(kChunk, size - offset);
        if (readAt(copy, offset, buffer.data(), length) != length)
            return false;
        try {
            writeFully(target, offset, buffer.data(), length, QString());
        } catch (const RuntimeError&) {
            return false;
        }
    }
    return ::ftruncate(target, size) == 0 && ::fsync(target) == 0;
}

bool isFile(const struct stat& st, qulonglong device, qulonglong inode)
{
    return S_ISREG(st.st_mode) && st.st_dev == dev_t(device) && st.st_ino == ino_t(inode);
}

Outcome recover(const SaveJournal::Record& r)
{
    const QString path = inFolder(r.folder, r.name), copyPath = inFolder(r.folder, r.other);
    const bool inPlace = r.kind == "in place";
    const QString asBefore = QStringLiteral("前回の保存は中断されました。ファイルは保存前のままです。\n%1").arg(path);
    const QString saved = QStringLiteral("前回の保存は中断されましたが、新しい画像は保存されています。\n%1").arg(path);
    const QString notUndone = QStringLiteral("前回中断された保存を元に戻せませんでした。\n%1\n\n%2").arg(path, copyKeptNote(copyPath));
    // The folder as it was when the save ran: a disk not mounted, or a folder
    // gone, leaves the journal for a later start.
    const FileDescriptor dir(::open(r.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st, other, now;
    if (dir.get() < 0 || ::fstat(dir.get(), &st) != 0 || st.st_dev != dev_t(r.folderDevice) || st.st_ino != ino_t(r.folderInode)) {
        const QString missing = QStringLiteral("前回中断された保存のフォルダーが見つかりません。次の起動時にもう一度確かめます。\n%1").arg(path);
        return {inPlace && r.phase == SaveJournal::Written ? missing + QStringLiteral("\n\n") + copyKeptNote(copyPath) : missing, false};
    }
    // Only the very file the save made beside the file is ever removed.
    const bool hasOther = ::fstatat(dir.get(), r.other.constData(), &other, AT_SYMLINK_NOFOLLOW) == 0
        && isFile(other, r.device, r.otherInode) && other.st_nlink == 1;
    const bool hasFile = ::fstatat(dir.get(), r.name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    const auto removeOther = [&] {
        if (hasOther)
            ::unlinkat(dir.get(), r.other.constData(), 0);
    };
    if (!inPlace) {
        // The new file either never got its name, or got the file's.
        const bool replaced = hasFile && isFile(now, r.device, r.otherInode);
        if (!replaced)
            removeOther();
        return {replaced ? saved : asBefore};
    }
    if (r.phase == SaveJournal::Begun || r.phase == SaveJournal::Done) {
        // Killed before the file was touched, or after it was all written:
        // only the copy is ours to remove.
        removeOther();
        return {r.phase == SaveJournal::Done ? saved : asBefore};
    }
    const FileDescriptor copy(hasOther ? ::openat(dir.get(), r.other.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
    std::vector<quint64> sums;
    if (copy.get() < 0 || ::fstat(copy.get(), &other) != 0 || !isFile(other, r.device, r.otherInode)
        || r.oldSums.size() != pages(r.size) || qulonglong(other.st_size) != r.size || !pageSums(copy.get(), other.st_size, sums)
        || sums != r.oldSums) {
        // The old content can't be proven: nothing is put back, nothing removed.
        return {hasOther ? notUndone : QStringLiteral("前回中断された保存を元に戻せませんでした。\n%1").arg(path)};
    }
    const FileDescriptor target(hasFile ? ::openat(dir.get(), r.name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
    const Found found = target.get() >= 0 && ::fstat(target.get(), &now) == 0 && isFile(now, r.device, r.inode)
        ? compare(target.get(), copy.get(), r)
        : Found::Unproven;
    switch (found) {
    case Found::New:
        removeOther();
        return {saved};
    case Found::Old:
        removeOther();
        return {asBefore};
    case Found::Mixed:
        if (!restore(copy.get(), target.get(), qint64(r.size)))
            return {notUndone, false}; // tried again at the next start
        removeOther();
        return {QStringLiteral("前回中断された保存を取り消し、ファイルを保存前の画像に戻しました。\n%1").arg(path)};
    case Found::Unproven:
        break;
    }
    // Changed, replaced or removed since the save was killed: whatever is
    // there now is the user's, and so is the copy.
    return {QStringLiteral("前回中断された保存のあとでファイルが変更されたため、ファイルには手を加えませんでした。\n%1\n\n%2")
                .arg(path, copyKeptNote(copyPath))};
}

// A record that names only what a save of this program writes.
bool trusted(const SaveJournal::Record& r)
{
    if (!r.folder.startsWith('/') || !validName(r.name) || !validName(r.other))
        return false;
    if (r.kind == "replace")
        return madeName(r.other, ".penumbrix-", "");
    return r.kind == "in place"
        && (madeName(r.other, r.name + ".before-save-", ".bmp") || madeName(r.other, "before-save-", ".bmp"));
}

} // namespace

void retireSettledJournals(dev_t folderDevice, ino_t folderInode, const QByteArray& name)
{
    const QByteArray at = SaveJournal::folder();
    FileDescriptor dir;
    try {
        if (!at.isEmpty())
            dir = openDataFolder(QFile::decodeName(at), false);
    } catch (const RuntimeError&) {
    }
    if (dir.get() < 0)
        return;
    forEachJournal(dir.get(), [&](const QByteArray& journal, int fd) {
        struct stat st;
        if (!ownJournal(fd, st))
            return;
        const SaveJournal::Record r = SaveJournal::parse(readJournal(fd, st));
        if (r.kind == "in place" && r.folderDevice == folderDevice && r.folderInode == folderInode && r.name == name)
            ::unlinkat(dir.get(), journal.constData(), 0);
    });
}

QStringList recoverUnfinishedSaves(const QString& folder)
{
    QStringList told;
    const QByteArray at = QFile::encodeName(folder);
    if (at.isEmpty())
        return told;
    FileDescriptor dir;
    try {
        dir = openDataFolder(folder, false);
    } catch (const RuntimeError& e) {
        return {e.message()}; // nothing in it is looked at
    }
    if (dir.get() < 0)
        return told;
    forEachJournal(dir.get(), [&](const QByteArray& journal, int fd) {
        struct stat st;
        const QString untrusted = QStringLiteral("保存の記録を信頼できないため、何もせずに残しました。\n%1").arg(inFolder(at, journal));
        if (!ownJournal(fd, st)) {
            told << untrusted;
            return;
        }
        const SaveJournal::Record r = SaveJournal::parse(readJournal(fd, st));
        if (!r.phase && r.kind.isEmpty()) {
            ::unlinkat(dir.get(), journal.constData(), 0); // begun and killed before it said anything
            return;
        }
        if (!r.phase || !trusted(r)) {
            told << untrusted;
            return;
        }
        const Outcome outcome = recover(r);
        told << outcome.told;
        if (outcome.retire)
            ::unlinkat(dir.get(), journal.constData(), 0);
    });
    return told;
}

} // namespace penumbrix
