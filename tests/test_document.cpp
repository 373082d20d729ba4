// The document's operations on real files, run by the main window's event procedures.

#include <QDirIterator>
#include <QScopeGuard>

#include <optional>

#include <csignal>
#include <dirent.h>
#include <grp.h>
#include <sys/file.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "files/save.h"
#include "document/event_boundary.h"
#include "rig.h"

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

bool samePixels(const QImage& a, const QImage& b) { return toPicture(a) == toPicture(b); }

// While alive, the process acts as another user: "uid:gid[,group...]"; "" stays root.
bool actAs(const QString& who)
{
    const QStringList ids = who.split(QRegularExpression("[:,]"), Qt::SkipEmptyParts);
    std::vector<gid_t> groups;
    for (const QString& id : ids.mid(1))
        groups.push_back(id.toUInt());
    return ids.isEmpty() || (::setgroups(groups.size(), groups.data()) == 0 && ::setegid(groups[0]) == 0 && ::seteuid(ids[0].toUInt()) == 0);
}
struct ActingAs {
    explicit ActingAs(const QString& who) : active_(!who.isEmpty())
    {
        saved_.resize(std::size_t(::getgroups(0, nullptr)));
        ::getgroups(int(saved_.size()), saved_.data());
        QVERIFY(actAs(who));
    }
    ~ActingAs()
    {
        if (active_ && (::seteuid(0) != 0 || ::setegid(0) != 0 || ::setgroups(saved_.size(), saved_.data()) != 0))
            qFatal("could not act as root again");
    }
    bool active_;
    std::vector<gid_t> saved_;
};

// fsync and renameat are wrapped at link time: faultCall's calls numbered in faultsAt fail with EIO.
QString faultCall;
QList<int> faultsAt;
int faultCalls = 0;
bool injected(const char* call) { return faultCall == QLatin1String(call) && faultsAt.contains(++faultCalls) && (errno = EIO); }

// A save in a child process (this program again), killed with SIGKILL when it reaches `stage`.
QByteArray killAt;
int killedSave(char** argv)
{
    killAt = argv[2];
    faultCall = qEnvironmentVariable("FAULT_CALL");
    if (!actAs(QString::fromLatin1(argv[6])))
        return 2;
    useSaveJournalFolder(QFile::decodeName(argv[3]));
    setSaveStageHook([](const char* stage) {
        if (killAt == stage)
            ::raise(SIGKILL);
    });
    SavePicture(LoadPicture(QFile::decodeName(argv[4])), findUserFile(QFile::decodeName(argv[5])));
    return 3; // the stage was never reached
}

// What the next start tells of a killed save.
QString recoveryNote(const QString& stage)
{
    return qs(stage == "written" || stage == "linked" || stage == "copied" ? "前回の保存は中断されました。ファイルは保存前のままです。"
              : stage == "half" ? "前回中断された保存を取り消し、ファイルを保存前の画像に戻しました。"
                                : "前回の保存は中断されましたが、新しい画像は保存されています。");
}

} // namespace

extern "C" {
int __real_fsync(int fd);
int __real_renameat(int from, const char* a, int to, const char* b);
int __wrap_fsync(int fd) { return injected("fsync") ? -1 : __real_fsync(fd); }
int __wrap_renameat(int from, const char* a, int to, const char* b) { return injected("renameat") ? -1 : __real_renameat(from, a, to, b); }
// "tmpfile": a file system without unnamed files.
int __real_openat(int dir, const char* name, int flags, mode_t mode);
int __wrap_openat(int dir, const char* name, int flags, mode_t mode)
{
    return faultCall == "tmpfile" && (flags & O_TMPFILE) == O_TMPFILE ? (errno = EOPNOTSUPP, -1) : __real_openat(dir, name, flags, mode);
}
}

class TestDocument : public QObject {
    Q_OBJECT
private slots:
    // Start-up, an open and a clear, each filling the slots as they should.
    void startOpenAndClear()
    {
        Rig f;
        const QString placeholder = f.folders.paths.placeholder();
        // Three loads, three pictures: none shares another's pixels.
        const QImage held[] = {f.image1.picture(), f.image2.picture(), f.picture2.picture()};
        for (const QImage& slot : held)
            QVERIFY(samePixels(slot, f.placeholder()) && (&slot == held || slot.constBits() != held[0].constBits()));
        QVERIFY(f.picture1.picture().isNull() && !f.doc().isPictureOpen());
        QCOMPARE(f.doc().currentFileName(), placeholder);

        // The first open proposes the placeholder; one load fills both views, not the preview.
        const qint64 previewKey = f.picture2.image().cacheKey();
        const QString path = f.userPicture("photo.bmp", 31, 17);
        f.open(path);
        QCOMPARE(f.dialog.proposed, QStringList{placeholder});
        QCOMPARE(f.dialog.filters, QStringList{qs("画像(*.BMP)|*.BMP")});
        QVERIFY(samePixels(f.image1.picture(), LoadPicture(path)));
        QCOMPARE(f.image2.picture().constBits(), f.image1.picture().constBits());
        QCOMPARE(f.doc().currentFileName(), path);
        QVERIFY(f.doc().isPictureOpen() && f.messages.texts.isEmpty() && !QFile::exists(f.folders.paths.workFile()));

        // Clearing asks, then loads the placeholder into each view.
        f.form.cmdDelete_Click();
        QCOMPARE(f.messages.texts, QStringList{qs("全てのイメージを削除します。")});
        QCOMPARE(f.messages.buttons.last(), MessageButtons::OkCancel);
        QVERIFY(samePixels(f.image1.picture(), f.placeholder()) && samePixels(f.image2.picture(), f.placeholder()));
        QVERIFY(f.image1.picture().constBits() != f.image2.picture().constBits());
        QCOMPARE(f.doc().currentFileName(), placeholder);
        QVERIFY(!f.doc().isPictureOpen() && QFile::exists(path));
        QCOMPARE(f.picture2.image().cacheKey(), previewKey);
        QCOMPARE(f.doc().proposedFileName(), path);
    }

    void linkLayouts_data()
    {
        // "d:folder", "f:file", "l:link>text", "h:name>file" (hard link); "a:", "A:": the same after opening.
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QString>("chosen"); // the name given to the dialog
        QTest::addColumn<QString>("file");   // the file the kernel finds when saving: written by save
        const QString P = QStringLiteral("share/penumbrix/NoImage.bmp");
        QTest::newRow("the placeholder itself") << QStringList() << P << P;
        QTest::newRow("the placeholder with ./ and ../") << QStringList() << "share/penumbrix/./../penumbrix/NoImage.bmp" << P;
        QTest::newRow("the placeholder through a link") << QStringList{"l:link.bmp>" + P} << "link.bmp" << P;
        QTest::newRow("the placeholder through a hard link") << QStringList{"h:hard.bmp>" + P} << "hard.bmp" << P;
        QTest::newRow("another file, differing only in case")
            << QStringList{"f:share/penumbrix/NOIMAGE.BMP"} << "share/penumbrix/NOIMAGE.BMP" << "share/penumbrix/NOIMAGE.BMP";
        const QStringList linkedFolder{"d:pictures/2024", "f:pictures/shared/cover.bmp", "l:cur>pictures/2024",
                                       "l:pictures/2024/cover.bmp>../shared/cover.bmp"};
        QTest::newRow("a linked folder holding a relative link")
            << linkedFolder + QStringList{"f:shared/cover.bmp"} << "cur/cover.bmp" << "pictures/shared/cover.bmp";
        QTest::newRow("the same, the text's folder missing") << linkedFolder << "cur/cover.bmp" << "pictures/shared/cover.bmp";
        QTest::newRow("a linked folder pointed elsewhere after opening")
            << linkedFolder + QStringList{"f:pictures/2025/cover.bmp", "a:cur>pictures/2025"} << "cur/cover.bmp"
            << "pictures/shared/cover.bmp";
        QTest::newRow("a linked folder, then ..") << QStringList{"d:a/b", "f:a/pic.bmp", "f:pic.bmp", "l:L>a/b"}
                                                  << "L/../pic.bmp" << "a/pic.bmp";
        QTest::newRow("a link whose text climbs to the placeholder")
            << QStringList{"d:u/x/y", "f:u/" + P, "l:u/L>x/y", "l:u/climb.bmp>L/../../" + P} << "u/climb.bmp" << "u/" + P;
        QTest::newRow("a link reaching the placeholder through a linked folder")
            << QStringList{"d:share/penumbrix/sub", "f:u/NoImage.bmp", "l:u/L>../share/penumbrix/sub",
                           "l:u/back.bmp>L/../NoImage.bmp"}
            << "u/back.bmp" << P;
        QTest::newRow("another file hard-linked over it after opening")
            << QStringList{"f:pics/photo.bmp", "f:other.bmp", "A:pics/photo.bmp>other.bmp"} << "pics/photo.bmp" << "pics/photo.bmp";
        QTest::newRow("the placeholder hard-linked over it after opening")
            << QStringList{"f:photo.bmp", "A:photo.bmp>" + P} << "photo.bmp" << P;
    }

    void linkLayouts()
    {
        QFETCH(QStringList, layout);
        QFETCH(QString, chosen);
        QFETCH(QString, file);
        Rig f;
        const QDir root(f.folders.root.path());
        quint32 seed = 10;
        const auto build = [&](bool afterOpening) {
            for (const QString& entry : layout) {
                if ((entry.startsWith("a:") || entry.startsWith("A:")) != afterOpening)
                    continue;
                const QString name = root.filePath(entry.mid(2).section('>', 0, 0)), target = entry.section('>', 1);
                QDir().mkpath(QFileInfo(name).path());
                if (entry.startsWith("d:"))
                    QVERIFY(QDir().mkpath(name));
                if (entry.startsWith("f:"))
                    SavePicture(patternPicture(20, 10, ++seed), name);
                if (afterOpening)
                    QFile::remove(name);
                if (entry.startsWith("l:") || entry.startsWith("a:"))
                    QCOMPARE(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(name).constData()), 0);
                if (entry.startsWith("h:") || entry.startsWith("A:"))
                    QCOMPARE(::link(QFile::encodeName(root.filePath(target)).constData(), QFile::encodeName(name).constData()), 0);
            }
        };
        build(false);
        // Every entry under the root (the data folder aside): what each file holds, what each link says.
        const auto tree = [&] {
            QMap<QString, QByteArray> all;
            QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QFileInfo info(it.next());
                if (!root.relativeFilePath(info.filePath()).startsWith("data"))
                    all[root.relativeFilePath(info.filePath())] =
                        info.isSymLink() ? "link " + QFile::encodeName(info.symLinkTarget()) : info.isDir() ? "dir" : fileBytes(info.filePath());
            }
            return all;
        };
        const Picture opened = LoadPicture(root.filePath(chosen));
        f.open(root.filePath(chosen));
        build(true);
        QMap<QString, QByteArray> expected = tree();
        QCOMPARE(f.doc().currentFileName(), root.filePath(chosen));
        QVERIFY(samePixels(f.image1.picture(), opened));
        const QString P = QStringLiteral("share/penumbrix/NoImage.bmp");
        const bool pictureOpen = file != P;
        QCOMPARE(f.doc().isPictureOpen(), pictureOpen);

        // Save writes that file and nothing else; never the placeholder.
        f.bar(Setting::Light)->setValue(200);
        f.form.Command2_Click();
        f.form.Command1_Click();
        QMap<QString, QByteArray> now = tree();
        QCOMPARE(f.messages.texts.contains(QStringLiteral("画像の保存が完了しました")), pictureOpen);
        // A save refused because the name leads to the placeholder says so, unless it is its own path.
        QCOMPARE(f.lastIsError(70), !pictureOpen && chosen != P);
        if (pictureOpen) {
            const Picture saved = LoadPicture(root.filePath(file));
            QVERIFY(samePixels(saved, f.image2.picture()) && !samePixels(saved, opened));
            expected.remove(file);
            now.remove(file);
        }
        QCOMPARE(now, expected);
    }

    void applyThatDoesNothingOrFails_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("error"); // -1: the apply works, and writes only the work file
        QTest::newRow("apply cancelled") << "cancel" << 0;
        QTest::newRow("apply with no picture open") << "no picture" << 0;
        QTest::newRow("apply: work file a symbolic link to the user's file") << "symlink" << -1;
        QTest::newRow("apply: work file a hard link to the user's file") << "hardlink" << -1;
        QTest::newRow("apply: work file a named pipe") << "fifo" << -1;
        QTest::newRow("apply: a longer work file, readable by all, from an earlier run") << "longer" << -1;
        QTest::newRow("apply: disk full") << "full" << 61;
        QTest::newRow("apply: data folder is a file") << "data folder is a file" << 76;
        QTest::newRow("apply: work file unreadable") << "work file unreadable" << 481;
        QTest::newRow("apply: memory runs out") << "no memory" << 7;
        QTest::newRow("save: folder removed") << "folder removed" << 76;
        QTest::newRow("apply: another picture put at the work file's name before it is read back") << "swapped" << -1;
        QTest::newRow("apply as a user: root's work file in the user's folder") << "root's work file" << -1;
        QTest::newRow("apply: a folder at the work file's name") << "folder at its name" << -1;
        // A data folder others could have touched is never used: the apply fails, the start goes on.
        QTest::newRow("apply: data folder a symbolic link to a folder") << "data folder a link" << 70;
        QTest::newRow("apply: data folder another owner's") << "data folder of uid 2000" << 70;
        QTest::newRow("apply: data folder writable by its group") << "data folder mode 0770" << 70;
        QTest::newRow("apply: data folder writable by others") << "data folder mode 0703" << 70;
    }

    void applyThatDoesNothingOrFails()
    {
        QFETCH(QString, how);
        QFETCH(int, error);
        ProgramFolders outer; // outlives the program
        std::optional<Rig> program(std::in_place, &outer.paths);
        Rig& f = *program;
        const QString folder = outer.file("pictures"), data = outer.paths.dataFolder, elsewhere = outer.file("elsewhere");
        const QString user = how == "root's work file" ? "2001:2001" : "";
        const bool refused = error == 70;
        const bool made = refused || QStringList{"symlink", "hardlink", "fifo", "longer", "full", "root's work file",
                                                 "folder at its name"}.contains(how); // the data folder, before the program
        QDir().mkpath(folder), made && QDir().mkpath(data);
        const QString path = folder + "/a.bmp";
        SavePicture(patternPicture(640, 300, 7), path);
        const QByteArray original = fileBytes(path), workFile = QFile::encodeName(outer.paths.workFile());
        if (how == "full" && ::mount("tmpfs", QFile::encodeName(data), "tmpfs", 0, "size=256k,mode=0700") != 0)
            QSKIP("needs root to mount a small file system");
        const auto unmount = qScopeGuard([&] { if (how == "full") ::umount2(QFile::encodeName(data), MNT_DETACH); });
        if (how == "fifo")
            QCOMPARE(::mkfifo(workFile, 0600), 0);
        if (how == "longer" || how == "root's work file")
            QVERIFY(writeBytes(workFile, QByteArray(1 << 20, 'x')) && ::chmod(workFile, 0644) == 0);
        if (!user.isEmpty())
            QVERIFY(::chmod(QFile::encodeName(outer.root.path()), 0755) == 0 && ::chown(QFile::encodeName(data), 2001, 2001) == 0);
        if (how == "folder at its name")
            QVERIFY(QDir().mkpath(outer.paths.workFile() + "/kept"));
        if (how == "data folder a link")
            QVERIFY(QDir().rmdir(data) && QDir().mkpath(elsewhere) && ::symlink(QFile::encodeName(elsewhere), QFile::encodeName(data)) == 0);
        if (how.startsWith("data folder of uid "))
            QCOMPARE(::chown(QFile::encodeName(data), how.section(' ', -1).toUInt(), 0), 0);
        if (how.startsWith("data folder mode "))
            QCOMPARE(::chmod(QFile::encodeName(data), how.section(' ', -1).toUInt(nullptr, 8)), 0);
        if (how != "no picture")
            f.open(path);
        f.bar(Setting::Light)->setValue(250);
        if (how == "folder removed")
            f.form.Command2_Click(); // the result differs from the file
        const auto views = f.views();
        if (how == "symlink")
            QCOMPARE(::symlink(QFile::encodeName(path).constData(), workFile.constData()), 0);
        if (how == "hardlink")
            QCOMPARE(::link(QFile::encodeName(path).constData(), workFile.constData()), 0);
        if (how == "data folder is a file")
            QDir(data).removeRecursively(), writeBytes(data, "in the way");
        if (how == "folder removed")
            QDir(folder).removeRecursively();
        // The loader is asked for the work file: what it is given leads to the file now at the work file's name.
        const auto isWorkFile = [&](const QString& p) {
            struct stat a, b;
            return ::stat(QFile::encodeName(p), &a) == 0 && ::stat(QFile::encodeName(f.doc().workFile()), &b) == 0
                && a.st_ino == b.st_ino && a.st_dev == b.st_dev;
        };
        const QString planted = outer.file("planted.bmp");
        SavePicture(patternPicture(640, 300, 99), planted);
        const QByteArray plantedBytes = fileBytes(planted);
        Picture loaded; // the result view shows the picture loaded from the work file
        const_cast<Document&>(f.doc()).setPictureLoader([&](const QString& p) -> Picture {
            if (how == "work file unreadable" && isWorkFile(p))
                throw RuntimeError(RuntimeError::InvalidPicture, p);
            if (how == "no memory" && isWorkFile(p))
                throw std::bad_alloc();
            if (how == "swapped" && isWorkFile(p)) // between the write and the read
                if (::rename(QFile::encodeName(planted), workFile) != 0)
                    throw RuntimeError(RuntimeError::DeviceIoError, "the swap failed");
            return loaded = LoadPicture(p);
        });
        f.messages.texts.clear();
        f.messages.answers = {how == "cancel" ? kMessageCancel : kMessageOk};
        {
            ActingAs as(user);
            how == "folder removed" ? f.form.Command1_Click() : f.form.Command2_Click();
        }

        // Only the question and the error are shown; no hourglass left on; views and files as they were.
        QStringList expected = how == "folder removed" ? QStringList() : QStringList{qs(text::kApplyConfirm)};
        expected += error == -1 ? QStringList{qs(text::kApplyDone)} : QStringList();
        QCOMPARE(f.messages.texts.mid(0, expected.size()), expected);
        QCOMPARE(f.messages.texts.size(), std::size_t(expected.size() + (error > 0)));
        QCOMPARE(f.lastIsError(error), error > 0);
        QVERIFY(f.form.cursor().shape() != Qt::WaitCursor && !f.picture1.autoRedraw());
        QVERIFY(error == -1 ? f.image2.picture().constBits() == loaded.constBits() : f.views() == views);
        if (error == 0 || how == "full")
            QVERIFY(!QFile::exists(outer.paths.workFile()) && (error || f.picture1.picture().isNull()));
        // A data folder made is private, the work file the user's alone: a header, the memory, cut to length.
        struct stat st {};
        if (!made && error && error != 76)
            QVERIFY(::stat(QFile::encodeName(data), &st) == 0 && (st.st_mode & 0777) == 0700);
        // The copy's work file: the first free name, a folder being no file of its own.
        const QString held = data + (how == "folder at its name" ? "/Image1-2.BMP" : "/Image1.BMP");
        if (error == -1 || error == 481) // and a work file that can't be read is named as the user knows it
            QVERIFY(f.doc().workFile() == held && (error == -1 || f.messages.texts.last().endsWith('\n' + held)));
        if ((error == -1 && how != "swapped") || error == 481 || error == 7)
            QVERIFY(::stat(QFile::encodeName(held), &st) == 0 && (st.st_mode & 0777) == 0600 && st.st_uid == (user.isEmpty() ? 0 : 2001));
        if (error == -1 && how != "swapped") // as another reader sees it, and no longer
            QVERIFY(QImage(held, "bmp").convertToFormat(kPictureFormat) == toPicture(f.image2.picture())
                    && QFileInfo(held).size() == 4096 + f.image2.picture().sizeInBytes());
        if (error == -1) { // the picture applied, never the one put in its place
            QImage applied = toPicture(LoadPicture(path));
            for (int y = 0; y < applied.height(); ++y)
                for (int x = 0; x < applied.width(); ++x)
                    reinterpret_cast<quint32*>(applied.scanLine(y))[x] = 0xFF000000u | quint32(rule(colourAt(applied, x, y), {128, 128, 128, 250, 128, 128, 1}));
            QVERIFY(toPicture(f.image2.picture()) == applied);
        }
        if (how != "folder removed") {
            QCOMPARE(fileBytes(path), original);
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"a.bmp"});
        }
        // A refused folder, named with the reason, gets nothing; the next start says the same and goes on.
        if (refused) {
            const QString told = f.messages.texts.last();
            QVERIFY2(told.contains(data + "\n\n" + qs("データフォルダー")), qPrintable(told));
            QCOMPARE(QDir(how == "data folder a link" ? elsewhere : data).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System), QStringList());
            f.messages.texts.clear();
            QVERIFY(f.form.Form_Load());
            QCOMPARE(f.messages.texts, QStringList{told});
            QVERIFY(samePixels(f.image1.picture(), f.placeholder()));
        }
        // The work file goes when the program ends; a file put at its name stays, as does what was passed over.
        program.reset();
        if (how == "swapped")
            QCOMPARE(fileBytes(outer.paths.workFile()), plantedBytes);
        QVERIFY(how != "folder at its name" || QFileInfo(outer.paths.workFile() + "/kept").isDir());
        QVERIFY(how == "swapped" || !QFileInfo(held).exists());
    }

    void saveTargets_data()
    {
        QTest::addColumn<QString>("owner");  // of the file and its folder, uid:gid
        QTest::addColumn<int>("mode");       // of the file
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<QString>("saver");  // "" root, or uid:gid[,group...]
        QTest::addColumn<QString>("extra");  // what else is there, or happens
        QTest::addColumn<int>("error");
        QTest::newRow("shared group file of another owner, saved by a group member")
            << "2000:1000" << 0660 << 0770 << "2001:2001,1000" << "" << 0;
        QTest::newRow("own file in another of the saver's groups") << "2001:1000" << 0640 << 0750 << "2001:2001,1000" << "" << 0;
        QTest::newRow("own file in a folder the owner may write but not list") << "2001:2001" << 0644 << 0300 << "2001:2001" << "new inode" << 0;
        QTest::newRow("ACL granting the saver write") << "2000:2000" << 0640 << 0777 << "2001:2001" << "acl" << 0;
        QTest::newRow("ACL and extended attribute, saved by root") << "2000:1000" << 0660 << 0755 << "" << "acl xattr" << 0;
        QTest::newRow("inode flags, saved by root") << "0:0" << 0644 << 0755 << "" << "flags" << 0;
        QTest::newRow("own file, saved by its owner, an ordinary user") << "2001:2001" << 0644 << 0755 << "2001:2001" << "new inode" << 0;
        QTest::newRow("second hard link, longer than the new picture") << "0:0" << 0644 << 0755 << "" << "hardlink longer" << 0;
        QTest::newRow("name of 255 bytes") << "0:0" << 0644 << 0755 << "" << "long name" << 0;
        QTest::newRow("path of 4090 characters") << "0:0" << 0644 << 0755 << "" << "long path" << 0;
        QTest::newRow("removed since it was opened") << "0:0" << 0644 << 0755 << "" << "removed" << 0;
        QTest::newRow("a named pipe put in its place") << "0:0" << 0644 << 0755 << "" << "fifo" << 70;
        QTest::newRow("0444 file, saved by root") << "0:0" << 0444 << 0755 << "" << "" << 70;
        QTest::newRow("file in a 0555 folder, saved by root") << "0:0" << 0644 << 0555 << "" << "" << 70;
        QTest::newRow("another owner's 0644 file") << "2000:2000" << 0644 << 0777 << "2001:2001" << "" << 70;
        QTest::newRow("rename fails") << "0:0" << 0644 << 0755 << "" << "fail renameat 1" << 57;
        QTest::newRow("flush of the new file fails") << "0:0" << 0644 << 0755 << "" << "fail fsync 1" << 57;
        QTest::newRow("folder's flush fails after the rename") << "0:0" << 0644 << 0755 << "" << "fail fsync 2 saved" << 57;
        QTest::newRow("flush fails, in place") << "0:0" << 0644 << 0755 << "" << "hardlink fail fsync 6" << 57;
        QTest::newRow("flush fails, in place, the file shorter than the new picture") << "0:0" << 0644 << 0755 << "" << "hardlink shorter fail fsync 6" << 57;
        QTest::newRow("flush and undo fail, in place") << "0:0" << 0644 << 0755 << "" << "hardlink fail fsync 6,7 copy kept" << 57;
        QTest::newRow("flush and undo fail, in place, then a good save") << "0:0" << 0644 << 0755 << "" << "hardlink fail fsync 6,7 copy kept then good save" << 57;
        QTest::newRow("disk full") << "0:0" << 0644 << 0755 << "" << "tmpfs full" << 61;
        QTest::newRow("disk full, in place") << "0:0" << 0644 << 0755 << "" << "tmpfs full hardlink" << 61;
        QTest::newRow("read-only file system") << "0:0" << 0644 << 0755 << "" << "tmpfs read-only" << 70;
        QTest::newRow("a file system without unnamed files") << "0:0" << 0644 << 0755 << "" << "fail tmpfile" << 0;
        QTest::newRow("the same, in place") << "0:0" << 0644 << 0755 << "" << "hardlink fail tmpfile" << 0;
        QTest::newRow("the same, disk full in place") << "0:0" << 0644 << 0755 << "" << "tmpfs full hardlink fail tmpfile" << 61;
        QTest::newRow("the same, killed when written") << "0:0" << 0644 << 0755 << "" << "killed written fail tmpfile" << 0;
        // A save killed (SIGKILL) at each stage, then a start of the program.
        for (const char* stage : {"written", "linked", "renamed"})
            QTest::newRow(qPrintable(QString("killed when %1").arg(stage))) << "0:0" << 0644 << 0755 << "" << QString("killed %1").arg(stage) << 0;
        for (const char* stage : {"copied", "rewritten", "done"})
            QTest::newRow(qPrintable(QString("killed when %1, in place").arg(stage))) << "0:0" << 0644 << 0755 << "" << QString("hardlink killed %1").arg(stage) << 0;
        QTest::newRow("a group member's save killed half-way") << "2000:1000" << 0660 << 0770 << "2001:2001,1000" << "killed rewritten" << 0;
    }

    void saveTargets()
    {
        QFETCH(QString, owner);
        QFETCH(int, mode);
        QFETCH(int, folderMode);
        QFETCH(QString, saver);
        QFETCH(QString, extra);
        QFETCH(int, error);
        Rig f;
        QVERIFY(QFile::setPermissions(f.folders.root.path(), QFile::permissions(f.folders.root.path()) | QFileDevice::ExeOther));
        QString folder = f.folders.file("pictures");
        if (extra.contains("long path")) {
            while (folder.size() < 4090 - 256) // then a name of 5 to 255 bytes
                folder += '/' + QString(250, 'd');
        }
        QVERIFY(QDir().mkpath(folder));
        const QByteArray at = QFile::encodeName(folder);
        const bool mounted = extra.contains("tmpfs");
        if (mounted && ::mount("tmpfs", at, "tmpfs", 0, "size=256k") != 0)
            QSKIP("needs root to mount a small file system");
        const auto unmount = qScopeGuard([&] { if (mounted) ::umount2(at, MNT_DETACH); });
        const QString name = extra.contains("long name") ? QString(251, 'n') + ".bmp"
                           : extra.contains("long path") ? QString(4090 - folder.size() - 5, 'n') + ".bmp" : "a.bmp";
        const QString path = folder + '/' + name, link = folder + "/link.bmp";
        const QByteArray file = QFile::encodeName(path);
        f.userPicture(path.mid(f.folders.root.path().size() + 1));
        if (extra.contains("longer"))
            QVERIFY(QFile::resize(path, QFileInfo(path).size() + 5000));
        const uid_t uid = owner.section(':', 0, 0).toUInt(), gid = owner.section(':', 1).toUInt();
        QVERIFY(::chown(file, uid, gid) == 0 && ::chmod(file, mode_t(mode)) == 0 && ::chown(at, uid, gid) == 0);
        if (extra.contains("hardlink"))
            QCOMPARE(::link(file, QFile::encodeName(link)), 0);
        if (extra.contains("acl")) { // user::rw- user:2001:rw- group::r-- mask::rw- other::---
            const QByteArray acl = QByteArray::fromHex("02000000" "01000600ffffffff" "02000600d1070000"
                                                       "04000400ffffffff" "10000600ffffffff" "20000000ffffffff");
            if (::setxattr(file, "system.posix_acl_access", acl.constData(), acl.size(), 0) != 0)
                QSKIP("no ACLs on this file system");
        }
        if (extra.contains("xattr") && ::setxattr(file, "user.penumbrix.note", "kept", 4, 0) != 0)
            QSKIP("no extended attributes on this file system");
        struct stat opened {};
        QCOMPARE(::stat(file, &opened), 0);
        const auto flags = [&](int set = 0) { // chattr's flags, after setting `set`
            const int fd = ::open(file, O_RDONLY | O_NONBLOCK);
            int value = 0;
            const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &value) == 0 && (!set || (value |= set, ::ioctl(fd, FS_IOC_SETFLAGS, &value) == 0));
            return ::close(fd) == 0 && ok ? value : -1;
        };
        if (extra.contains("flags") && flags(FS_NODUMP_FL | FS_NOATIME_FL) == -1) // chattr +d +A
            QSKIP("no inode flags on this file system");
        const auto attributes = [&] { // owner, group, mode, links, inode flags and every extended attribute
            struct stat st {};
            ::stat(file, &st);
            QStringList all{QString::number(st.st_uid), QString::number(st.st_gid), QString::number(st.st_mode, 8),
                            QString::number(st.st_nlink), QString::number(flags(), 16)};
            char names[1024];
            const ssize_t n = ::listxattr(file, names, sizeof names);
            for (ssize_t i = 0; i < n; i += ssize_t(std::strlen(names + i)) + 1) {
                char value[256];
                const ssize_t size = ::getxattr(file, names + i, value, sizeof value);
                all << QString::fromLatin1(names + i) + '=' + QByteArray(value, int(std::max<ssize_t>(size, 0))).toHex();
            }
            return all;
        };
        f.open(path);
        f.bar(Setting::Light)->setValue(250);
        f.form.Command2_Click(); // the result differs from the file
        if (extra.contains("shorter")) // the same file, a smaller picture now
            QVERIFY(writeBytes(path, expectedBmp(patternPicture(5, 5))));
        QVERIFY(::chmod(at, mode_t(folderMode)) == 0);
        const QByteArray before = fileBytes(path);
        const QImage result = f.image2.picture();
        const QStringList kept = attributes();
        const auto entries = [&] { return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System); };
        const QStringList entriesBefore = entries();
        if (extra.contains("removed") || extra.contains("fifo"))
            QVERIFY(QFile::remove(path));
        if (extra.contains("fifo"))
            QCOMPARE(::mkfifo(file, 0644), 0);
        if (extra.contains("read-only"))
            QVERIFY(::mount(nullptr, at, nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        const QString filler = folder + "/filler";
        if (extra.contains("full"))
            QVERIFY(!writeBytes(filler, QByteArray(1 << 20, 'x'))); // more than fits
        const QString killed = extra.section("killed ", 1).section(' ', 0, 0);
        if (killed.isEmpty()) {
            ActingAs as(saver);
            faultCall = extra.section("fail ", 1).section(' ', 0, 0);
            faultsAt.clear(), faultCalls = 0;
            for (const QString& n : extra.section("fail ", 1).section(' ', 1, 1).split(',', Qt::SkipEmptyParts))
                faultsAt << n.toInt();
            f.form.Command1_Click();
            faultCall.clear();
            if (extra.contains("then good save"))
                f.form.Command1_Click();
        } else {
            // The save runs in a child that kills itself at the stage, on the saver's own data folder.
            const QString next = f.folders.file("next.bmp"), data = f.folders.paths.dataFolder;
            SavePicture(result, next);
            QVERIFY(::chmod(QFile::encodeName(QFileInfo(data).path()), 0755) == 0 && ::chown(QFile::encodeName(data), uid_t(saver.section(':', 0, 0).toUInt()), gid_t(-1)) == 0);
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("FAULT_CALL", extra.section("fail ", 1).section(' ', 0, 0));
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {"--killed-save", killed, data, next, path, saver});
            QVERIFY(child.waitForFinished(-1) && child.exitStatus() == QProcess::CrashExit);
            // A copy kept through the kill has the file's group and mode, and its owner where the saver may give it.
            const QString copy = folder + '/' + name + ".before-save-" + entries().filter(name + ".before-save-").value(0).section('-', -1);
            struct stat st {};
            if (killed == "copied" || killed == "rewritten")
                QVERIFY(::stat(QFile::encodeName(copy), &st) == 0 && st.st_gid == gid && (st.st_mode & 0777) == mode_t(mode)
                        && (st.st_uid == uid || !saver.isEmpty()) && fileBytes(copy) == before);
        }
        QFile::remove(filler);
        const bool saved = killed.isEmpty() ? !error || extra.contains("saved") || extra.contains("good save") : killed != "written" && killed != "linked" && killed != "copied";
        if (extra.contains("then good save"))
            QCOMPARE(f.messages.texts.last(), qs(text::kSaveDone));
        else if (killed.isEmpty())
            QVERIFY2(error ? f.lastIsError(error) : f.messages.texts.last() == qs(text::kSaveDone), qPrintable(f.messages.texts.last().left(40)));
        // What is told of a file the save changed after all, or of the copy that holds the old content.
        if (extra.contains("saved"))
            QVERIFY(f.messages.texts.last().endsWith(qs("新しい画像は保存されましたが、フォルダーへの書き込みを確認できませんでした。")));
        const QString copy = f.messages.texts.filter(qs("保存前の内容は")).value(0).section(qs("保存前の内容は次のファイルに残っています:\n"), 1);
        QVERIFY(!extra.contains("copy kept") || (copy.startsWith(path + ".before-save-") && fileBytes(copy) == before));
        // The next start finishes a killed save, or undoes what a failed undo left; a later good save settled it.
        if (!killed.isEmpty() || extra.contains("copy kept")) {
            ActingAs as(saver);
            const qsizetype told = f.messages.texts.size();
            f.form.Form_Load();
            if (extra.contains("then good save"))
                QVERIFY(f.messages.texts.mid(told).filter(qs("前回")).isEmpty() && fileBytes(copy) == before);
            else
                QCOMPARE(f.messages.texts.last(), (killed.isEmpty() ? recoveryNote("copied") : recoveryNote(killed)) + '\n' + path);
        }
        QStringList entriesAfter = entriesBefore;
        if (extra.contains("then good save"))
            entriesAfter << copy.section('/', -1), entriesAfter.sort();
        QCOMPARE(entries(), entriesAfter);
        struct stat st {};
        QVERIFY(extra.contains("fifo") ? ::lstat(file, &st) == 0 && S_ISFIFO(st.st_mode)
                : saved ? fileBytes(path) == expectedBmp(result) : fileBytes(path) == before);
        if (!extra.contains("removed") && !extra.contains("fifo"))
            QCOMPARE(attributes(), kept);
        QVERIFY(!extra.contains("new inode") || (::stat(file, &st) == 0 && st.st_ino != opened.st_ino));
        const mode_t umask = ::umask(022); // a file made anew is made as any new file
        QVERIFY(::umask(umask) == 022 && (!extra.contains("removed") || (::stat(file, &st) == 0 && (st.st_mode & 07777) == (0666 & ~umask))));
        if (extra.contains("hardlink"))
            QCOMPARE(fileBytes(link), fileBytes(path));
    }

    // An in-place save killed once its copy was made, what happened before the next start, and what that start does.
    void journalsFound_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("told");  // how the next start's message begins; "" nothing
        QTest::addColumn<QString>("file");  // what the file holds then: "before", "new" or "as changed"
        QTest::addColumn<bool>("copyKept");
        QTest::addColumn<bool>("journalKept");
        const QString asBefore = qs("前回の保存は中断されました。ファイルは保存前のままです。"), saved = qs("前回の保存は中断されましたが");
        const QString changed = qs("前回中断された保存のあとでファイルが変更されたため"), missing = qs("前回中断された保存のフォルダーが見つかりません");
        const QString untrusted = qs("保存の記録を信頼できないため"), folder = qs("実行時エラー '70'");
        QTest::newRow("nothing since") << "" << asBefore << "before" << false << false;
        QTest::newRow("its first page rewritten") << "first page" << qs("前回中断された保存を取り消し") << "before" << false << false;
        QTest::newRow("all of it rewritten") << "all new" << saved << "new" << false << false;
        QTest::newRow("the file edited since") << "edit" << changed << "as changed" << true << false;
        QTest::newRow("the file longer since") << "grow" << changed << "as changed" << true << false;
        QTest::newRow("the file cut short since") << "cut" << changed << "as changed" << true << false;
        QTest::newRow("its first page rewritten, and undoing it fails") << "first page, undo fails" << qs("前回中断された保存を元に戻せませんでした") << "before" << true << true;
        QTest::newRow("another file put in its place") << "replace" << changed << "as changed" << true << false;
        QTest::newRow("the copy edited") << "edit copy" << qs("前回中断された保存を元に戻せませんでした") << "before" << true << false;
        QTest::newRow("the folder gone, then back") << "move folder" << missing << "before" << true << true;
        QTest::newRow("a journal naming another folder") << "journal folder" << missing << "before" << true << true;
        QTest::newRow("a journal whose copy climbs out with ..") << "journal climbs" << untrusted << "before" << true << true;
        QTest::newRow("another owner's journal") << "journal owner" << untrusted << "before" << true << true;
        QTest::newRow("a data folder others may write") << "folder mode" << folder << "before" << true << true;
        QTest::newRow("another owner's data folder") << "folder owner" << folder << "before" << true << true;
        QTest::newRow("a journal held by a running copy") << "held" << "" << "before" << true << true;
    }

    void journalsFound()
    {
        QFETCH(QString, change);
        QFETCH(QString, told);
        QFETCH(QString, file);
        QFETCH(bool, copyKept);
        QFETCH(bool, journalKept);
        Rig f;
        QVERIFY(QDir().mkpath(f.folders.file("pictures")));
        const QString data = f.folders.paths.dataFolder, path = f.userPicture("pictures/a.bmp", 100, 100), next = f.folders.file("next.bmp");
        QCOMPARE(::link(QFile::encodeName(path), QFile::encodeName(f.folders.file("pictures/b.bmp"))), 0); // kept in place
        f.open(path);
        f.bar(Setting::Light)->setValue(250);
        f.form.Command2_Click();
        const QByteArray before = fileBytes(path), after = expectedBmp(f.image2.picture());
        SavePicture(f.image2.picture(), next);
        QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {"--killed-save", "copied", data, next, path, ""}), -1);
        const QString journal = data + '/' + QDir(data).entryList({"save-*.journal"}).value(0);
        const QString copy = f.folders.file("pictures/") + QDir(f.folders.file("pictures")).entryList({"a.bmp.before-save-*"}).value(0);
        QVERIFY(QFile::exists(journal) && fileBytes(copy) == before && fileBytes(path) == before);
        const auto patch = [](const QString& at, qint64 offset, const QByteArray& bytes) {
            QFile f(at);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(offset) && f.write(bytes) == bytes.size());
        };
        const auto rewriteJournal = [&](const char* key, const QByteArray& value) {
            QByteArray text = fileBytes(journal);
            text.replace(QRegularExpression(QString("\n%1 [^\n]*").arg(key)).match(QString::fromLatin1(text)).captured().toLatin1(), "\n" + QByteArray(key) + ' ' + value);
            QVERIFY(writeBytes(journal, text));
        };
        if (change.startsWith("first page"))
            patch(path, 0, after.left(4096));
        if (change == "cut")
            QVERIFY(QFile::resize(path, 4096));
        if (change == "all new")
            patch(path, 0, after);
        if (change == "edit")
            patch(path, 5000, "edited");
        if (change == "grow")
            patch(path, before.size(), "more");
        if (change == "replace")
            QVERIFY(QFile::remove(path) && writeBytes(path, before));
        if (change == "edit copy")
            patch(copy, 100, "edited");
        if (change == "move folder")
            QVERIFY(QDir().rename(f.folders.file("pictures"), f.folders.file("moved")));
        if (change == "journal folder") { // a folder holding a file of that name, which must never be written
            QVERIFY(QDir().mkpath(f.folders.file("other")) && writeBytes(f.folders.file("other/a.bmp"), "victim"));
            rewriteJournal("folder", QFile::encodeName(f.folders.file("other")).toPercentEncoding());
        }
        if (change == "journal climbs")
            rewriteJournal("other", "..%2Fa.bmp");
        if (change == "journal owner")
            QCOMPARE(::chown(QFile::encodeName(journal), 2001, 2001), 0);
        if (change == "folder mode")
            QVERIFY(QFile::setPermissions(data, QFile::permissions(data) | QFileDevice::WriteGroup));
        if (change == "folder owner")
            QCOMPARE(::chown(QFile::encodeName(data), 2001, 2001), 0);
        const int held = change == "held" ? ::open(QFile::encodeName(journal), O_RDONLY) : -1;
        if (held >= 0)
            QCOMPARE(::flock(held, LOCK_EX), 0);
        const QByteArray changed = fileBytes(change == "move folder" ? f.folders.file("moved/a.bmp") : path);

        faultCall = change.endsWith("undo fails") ? "fsync" : "", faultsAt = {1}, faultCalls = 0;
        const QStringList said = recoverUnfinishedSaves(data);
        faultCall.clear();
        QVERIFY2(told.isEmpty() ? said.isEmpty() : said.size() == 1 && said[0].startsWith(told), qPrintable(said.join('|')));
        // A message about a copy kept names it.
        QVERIFY(!(told.startsWith(qs("前回中断された保存の")) || told.startsWith(qs("前回中断された保存を元に"))) || said[0].endsWith(copy.section('/', -1)));
        if (change == "move folder") {
            QVERIFY(said[0].endsWith(copy) && QDir().rename(f.folders.file("moved"), f.folders.file("pictures")));
            QCOMPARE(recoverUnfinishedSaves(data), QStringList{qs("前回の保存は中断されました。ファイルは保存前のままです。\n") + path});
            journalKept = copyKept = false;
        }
        QCOMPARE(fileBytes(path), file == "before" ? before : file == "new" ? after : changed);
        QCOMPARE(QFile::exists(copy), copyKept);
        QVERIFY(!copyKept || change == "edit copy" || fileBytes(copy) == before);
        QCOMPARE(QFile::exists(journal), journalKept);
        QVERIFY(change != "journal folder" || fileBytes(f.folders.file("other/a.bmp")) == "victim");
        if (held >= 0)
            ::close(held);
    }

    // The data folder from the environment's bytes; nothing, the program's or Qt's, goes to a name read as text.
    void dataFolderFromTheEnvironment_data()
    {
        QTest::addColumn<QByteArray>("home"); // under a temporary root; made unless it ends in "missing"
        QTest::addColumn<QByteArray>("dataHome"); // XDG_DATA_HOME; "-": unset
        QTest::addColumn<QByteArray>("expected"); // the data folder under the root; empty: none can be used
        QTest::newRow("HOME of non-text bytes") << QByteArray("/x/caf\xe9") << QByteArray("-") << QByteArray("/x/caf\xe9/.local/share/penumbrix");
        QTest::newRow("HOME of non-text bytes, its data folder there") << QByteArray("/x/caf\xe9") << QByteArray("-") << QByteArray("/x/caf\xe9/.local/share/penumbrix/");
        QTest::newRow("HOME of non-text bytes, missing") << QByteArray("/x/caf\xe9/missing") << QByteArray("-") << QByteArray();
        QTest::newRow("relative XDG_DATA_HOME") << QByteArray("/home") << QByteArray("rel/data") << QByteArray("/home/.local/share/penumbrix");
        QTest::newRow("empty XDG_DATA_HOME") << QByteArray("/home") << QByteArray("") << QByteArray("/home/.local/share/penumbrix");
        QTest::newRow("XDG_DATA_HOME of non-text bytes") << QByteArray("/home") << QByteArray("/d\xe9ta") << QByteArray("/d\xe9ta/penumbrix");
    }
    void dataFolderFromTheEnvironment()
    {
        QFETCH(QByteArray, home);
        QFETCH(QByteArray, dataHome);
        QFETCH(QByteArray, expected);
        QTemporaryDir root;
        const QByteArray at = QFile::encodeName(root.path());
        const auto remove = qScopeGuard([&] { QProcess::execute("rm", {"-rf", root.path()}); }); // names that are no text
        QVERIFY(home.endsWith("missing") || QDir().mkpath(QFile::decodeName(at + "/x")) & (::mkdir(at + home, 0700) == 0));
        QVERIFY(!dataHome.startsWith('/') || ::mkdir(at + dataHome, 0700) == 0);
        if (expected.endsWith('/')) // made by an earlier run
            QVERIFY(::mkdir(at + home + "/.local", 0700) == 0 && ::mkdir(at + home + "/.local/share", 0700) == 0 && ::mkdir(at + expected, 0700) == 0);
        expected = expected.isEmpty() ? QByteArray() : at + expected;
        const QByteArray saved[] = {qgetenv("HOME"), qgetenv("XDG_DATA_HOME"), qgetenv("XDG_CONFIG_HOME")};
        const QString cwd = QDir::currentPath();
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", saved[0]), qputenv("XDG_DATA_HOME", saved[1]), qputenv("XDG_CONFIG_HOME", saved[2]);
            QDir::setCurrent(cwd);
        });
        qputenv("HOME", at + home), qunsetenv("XDG_CONFIG_HOME");
        dataHome == "-" ? qunsetenv("XDG_DATA_HOME") : dataHome.startsWith('/') ? qputenv("XDG_DATA_HOME", at + dataHome) : qputenv("XDG_DATA_HOME", dataHome);
        QDir::setCurrent(root.path()); // where a relative XDG_DATA_HOME would lead
        ProgramFolders install;
        ProgramPaths paths = ProgramPaths::forThisProgram();
        paths.installFolder = install.paths.installFolder;
        {
            Rig f(&paths);
            f.open(f.userPicture("a.bmp"));
            f.messages.texts.clear();
            f.form.Command2_Click();
            struct stat st {};
            QCOMPARE(f.messages.texts.last(), expected.isEmpty() ? f.messages.texts.last() : qs(text::kApplyDone));
            QVERIFY(expected.isEmpty() ? f.lastIsError(52) : ::stat(expected + "/Image1.BMP", &st) == 0 && st.st_size > 4096);
            delete new QFileDialog; // Qt's dialog keeps its settings as it goes
        }
        // Qt's settings beside the real home's; no name anywhere with U+FFFD's bytes.
        struct stat st {};
        QCOMPARE(::stat(at + home + "/.config/QtProject.conf", &st) == 0, !home.endsWith("missing"));
        std::function<QStringList(const QByteArray&)> lost = [&](const QByteArray& folder) {
            QStringList found;
            if (DIR* listing = ::opendir(folder.constData())) {
                while (const dirent* entry = ::readdir(listing)) {
                    const QByteArray name(entry->d_name);
                    if (name.contains("\xef\xbf\xbd"))
                        found << QFile::decodeName(folder + '/' + name);
                    if (entry->d_type == DT_DIR && name != "." && name != "..")
                        found += lost(folder + '/' + name);
                }
                ::closedir(listing);
            }
            return found;
        };
        QVERIFY2(lost(at).isEmpty(), qPrintable(lost(at).join(' ')));
        QVERIFY(!QFileInfo::exists(root.filePath("rel")));
    }

    // Two running copies on one data folder: each reads its own work file; two saves of one file never mix.
    void twoCopiesShareTheDataFolder()
    {
        Rig a, b(&a.folders.paths);
        const QString red = a.userPicture("red.bmp", 30, 20, 1), blue = a.userPicture("blue.bmp", 30, 80, 2);
        a.open(red), b.open(blue);
        a.bar(Setting::Light)->setValue(200);
        const_cast<Document&>(a.doc()).setPictureLoader([&](const QString& p) { // while a reads back, b applies
            b.form.Command2_Click();
            return LoadPicture(p);
        });
        a.form.Command2_Click();
        const_cast<Document&>(a.doc()).setPictureLoader(LoadPicture);
        QVERIFY(a.image2.picture().size() == QSize(30, 20) && b.image2.picture().size() == QSize(30, 80));
        QVERIFY(!samePixels(a.image2.picture(), LoadPicture(red)) && a.doc().workFile() != b.doc().workFile());
        a.form.Command1_Click();
        QCOMPARE(fileBytes(red), expectedBmp(a.image2.picture()));

        // b saves the same file, hard-linked, while a's save is half-way.
        QCOMPARE(::link(QFile::encodeName(red), QFile::encodeName(a.folders.file("red2.bmp"))), 0);
        b.open(red);
        b.form.Command2_Click();
        static std::function<void(const char*)> onStage;
        onStage = [&](const char* stage) { if (QByteArray(stage) == "rewritten") b.form.Command1_Click(); };
        setSaveStageHook([](const char* stage) { onStage(stage); });
        a.form.Command1_Click();
        setSaveStageHook(nullptr);
        QVERIFY(b.lastIsError(70) && b.messages.texts.last().endsWith(qs("別の Penumbrix がこのファイルを保存しています。")));
        QVERIFY(a.messages.texts.last() == qs(text::kSaveDone) && fileBytes(red) == expectedBmp(a.image2.picture()));
    }

    // Whatever left the pointer busy, the boundary puts it back and reports the error.
    void boundaryPutsThePointerBack()
    {
        struct : BusyPointer {
            bool busy = false;
            void setBusy(bool b) override { busy = b; }
        } pointer;
        fakes::Messages messages;
        EventBoundary boundary(messages, pointer);
        QVERIFY(!boundary.run([&] { pointer.setBusy(true), throw RuntimeError(RuntimeError::PathNotFound, "p"); }));
        QVERIFY(!pointer.busy && messages.texts.size() == 1 && messages.texts[0].startsWith(qs("実行時エラー '76'")));
    }
};

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication app(argc, argv);
    if (argc == 7 && QByteArray(argv[1]) == "--killed-save")
        return killedSave(argv);
    TestDocument test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_document.moc"
