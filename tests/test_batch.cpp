// The batch: the built program run with --apply and no display, its files
// compared with what the window saves for the same picture and box values,
// and with the rule written out again.

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "files/journal.h"
#include "rig.h"

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

const char* const kOptions[] = {"--red", "--green", "--blue", "--light", "--contrast", "--range", "--czoom"};

// The box values as the bars hold them: a box shows the bar less 128, the multiplier's as it is.
QList<int> barValues(QList<int> boxes)
{
    for (int i = 0; i < 6; ++i)
        boxes[i] += 128;
    return boxes;
}

// What ⇒編集 and イメージを保存 save in the real window, for a copy of `source`.
QByteArray windowSaves(const QString& source, const QList<int>& boxes)
{
    Rig rig;
    const QString copy = rig.folders.file("window.bmp");
    QFile::copy(source, copy);
    rig.open(copy);
    for (int i = 0; i < 7; ++i)
        rig.bar(Setting(i))->setValue(barValues(boxes)[i]);
    rig.form.Command2_Click();
    rig.form.Command1_Click();
    return fileBytes(copy);
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
private slots:
    void runs_data()
    {
        // boxes: the seven value boxes, R G B light contrast range multiplier; arguments: before the files, OUT is the
        // output folder; files: NAME:WxH a picture, :text, :folder, :read-only, :missing, :placeholder, :link=NAME;
        // told: lines of standard error, in part.
        columns<QList<int>, QStringList, QStringList, int, QStringList>("boxes", "arguments", "files", "status", "told");

        const QList<int> start{0, 0, 0, 0, 0, 0, 1}, lows{-128, -128, -128, -128, -128, -128, 0},
                         highs{127, 127, 127, 127, 127, 128, 300}, cutting{-40, 90, 3, 20, 1, 128, 300};
        const QStringList two{"a.bmp:40x30", "odd.bmp:13x5"};
        QTest::newRow("start values, in place") << start << QStringList{} << two << 0 << QStringList{"2 of 2 pictures done"};
        QTest::newRow("every box at its lowest, to a folder, a file of no resolution") << lows << QStringList{"--output", "OUT"}
            << (QStringList(two) << "os2.bmp:os2") << 0 << QStringList{};
        QTest::newRow("every box at its highest, in place, one job") << highs << QStringList{"--jobs", "1", "--quiet"} << two << 0 << QStringList{};
        QTest::newRow("the cut-off at its widest, to a folder, --opt=N, a file missing") << cutting << QStringList{"--output=OUT", "--jobs=3"}
            << QStringList{"a.bmp:40x30", "gone.bmp:missing", "b.bmp:1x1", "c.bmp:300x200"} << 1 << QStringList{"3 of 4 pictures done, 1 failed"};
        QTest::newRow("bad files among good ones") << cutting << QStringList{"--jobs", "2"}
            << QStringList{"a.bmp:40x30", "text.bmp:text", "gone.bmp:missing", "dir.bmp:folder", "ro.bmp:read-only", "NoImage.bmp:placeholder", "z.bmp:9x9"}
            << 1 << QStringList{qs("text.bmp: 実行時エラー '481': ピクチャが不正です。"), qs("gone.bmp: 実行時エラー '53': ファイルが見つかりません。"),
                                qs("dir.bmp: 実行時エラー '70'"), qs("ro.bmp: 実行時エラー '70'"), qs("NoImage.bmp: 実行時エラー '70'"), "2 of 7 pictures done, 5 failed"};
        QTest::newRow("an ordinary user's files in place, one unreadable") << highs << QStringList{"AS-NOBODY"}
            << QStringList{"a.bmp:40x30", "secret.bmp:unreadable", "b.bmp:7x3"} << 1
            << QStringList{qs("secret.bmp: 実行時エラー '70': 書き込みできません。"), "2 of 3 pictures done, 1 failed"};
        // A file with a second name keeps its inode: rewritten in place while it is read a band at a time.
        QTest::newRow("files of two names each, in place") << cutting << QStringList{"HARD-LINKED"}
            << QStringList{"a.bmp:700x300", "b.bmp:13x5"} << 0 << QStringList{"2 of 2 pictures done"};
        QTest::newRow("a save of an earlier run killed part way, undone first") << start << QStringList{"KILLED-SAVE"}
            << QStringList{"a.bmp:60x40"} << 0 << QStringList{qs("前回中断された保存を取り消し")};
        // Wrong command lines: nothing is written.
        QTest::newRow("two files of one name to a folder") << start << QStringList{"--output", "OUT"} << QStringList{"a.bmp:8x8", "sub/a.bmp:9x9"} << 2 << QStringList{"would both be written as"};
        QTest::newRow("one file twice in place") << start << QStringList{} << QStringList{"a.bmp:8x8", "l.bmp:link=a.bmp"} << 2 << QStringList{"the same file"};
        QTest::newRow("a file to its own folder") << start << QStringList{"--output", "."} << QStringList{"a.bmp:8x8"} << 2 << QStringList{"would be written over"};
        QTest::newRow("an unknown option") << start << QStringList{"--bogus"} << two << 2 << QStringList{"unknown option --bogus", "Usage: penumbrix"};
        QTest::newRow("red past its end") << start << QStringList{"--red", "128"} << two << 2 << QStringList{"--red takes -128 to 127, not 128"};
        QTest::newRow("range past its start") << start << QStringList{"--range", "-129"} << two << 2 << QStringList{"--range takes -128 to 128"};
        QTest::newRow("multiplier below 0") << start << QStringList{"--czoom", "-1"} << two << 2 << QStringList{"--czoom takes 0 to 300"};
        QTest::newRow("a value that is no number") << start << QStringList{"--light", "1O"} << two << 2 << QStringList{"--light takes"};
        QTest::newRow("no jobs") << start << QStringList{"--jobs", "0"} << two << 2 << QStringList{"--jobs takes 1 to"};
        QTest::newRow("no file") << start << QStringList{} << QStringList{} << 2 << QStringList{"at least one FILE"};
        QTest::newRow("output to a file") << start << QStringList{"--output", "a.bmp"} << two << 2 << QStringList{"not a folder"};
        QTest::newRow("output to a missing folder") << start << QStringList{"--output", "nowhere"} << two << 2 << QStringList{"--output nowhere"};
        // Stopped: no picture starts after the signal; those done are whole.
        QStringList many;
        for (int i = 0; i < 150; ++i)
            many << QStringLiteral("f%1.bmp:200x150").arg(i, 3, 10, QLatin1Char('0'));
        QTest::newRow("SIGINT") << start << QStringList{"--output", "OUT", "--jobs", "1"} << many << 130 << QStringList{"stopped by SIGINT"};
        QTest::newRow("SIGTERM, in place") << lows << QStringList{"--jobs", "2"} << many << 143 << QStringList{"stopped by SIGTERM"};
    }
    void runs()
    {
        auto [boxes, arguments, files, status, told] = fetch<QList<int>, QStringList, QStringList, int, QStringList>(
            "boxes", "arguments", "files", "status", "told");
        const bool asNobody = arguments.removeAll("AS-NOBODY") > 0, killedSave = arguments.removeAll("KILLED-SAVE") > 0; // nobody: 65534
        const bool hardLinked = arguments.removeAll("HARD-LINKED") > 0;
        QTemporaryDir root;
        const QDir dir(root.path());
        QVERIFY(dir.mkpath("OUT") && dir.mkpath("sub"));
        const QString placeholder = QFileInfo(PENUMBRIX_EXECUTABLE).path() + "/../share/penumbrix/NoImage.bmp";
        QMap<QString, QByteArray> before, expected; // by name given
        QStringList given;
        for (const QString& file : files) {
            const QString name = file.section(':', 0, 0), kind = file.section(':', 1), path = dir.filePath(name);
            given << name;
            if (kind[0].isDigit() && files.size() > 100 && given.size() > 1) { // many alike: copies of the first
                QVERIFY(writeBytes(path, before[given[0]]));
                expected[name] = expected[given[0]];
            } else if (kind[0].isDigit()) {
                QVERIFY(writeBytes(path, expectedBmp(patternPicture(kind.section('x', 0, 0).toInt(), kind.section('x', 1).toInt(), quint32(given.size())))));
                expected[name] = windowSaves(path, boxes);
                // The window's file is the rule, run over the picture as read, in the BMP layout.
                QCOMPARE(expected[name], expectedBmp(ruled(LoadPicture(path), barValues(boxes))));
            } else if (kind == "os2") { // a header without resolution fields: the new file's is the usual screen's
                if (!QFile::copy(PENUMBRIX_TESTDATA_DIR "/bmpsuite/g/pal8os2.bmp", path))
                    QSKIP("needs the conformance pictures (PENUMBRIX_TESTDATA_DIR)");
                expected[name] = windowSaves(path, boxes);
            } else if (kind == "text") {
                QVERIFY(writeBytes(path, "no picture\n"));
            } else if (kind == "folder") {
                QVERIFY(dir.mkpath(name));
            } else if (kind == "unreadable" || kind == "read-only") { // unreadable to all but root, its owner
                QVERIFY(writeBytes(path, expectedBmp(patternPicture(4, 4))) && ::chmod(QFile::encodeName(path), kind == "read-only" ? 0444 : 0600) == 0);
            } else if (kind == "placeholder") { // another name of it
                QVERIFY(::link(QFile::encodeName(placeholder), QFile::encodeName(path)) == 0);
            } else if (kind.startsWith("link=")) {
                QVERIFY(QFile::link(dir.filePath(kind.mid(5)), path));
            }
            before[name] = fileBytes(path);
        }
        const QByteArray placeholderBefore = fileBytes(placeholder);
        QMap<QString, ino_t> inodes;
        for (const QString& name : given) {
            struct stat st;
            QVERIFY(!hardLinked || (::link(QFile::encodeName(dir.filePath(name)), QFile::encodeName(dir.filePath(name + ".other"))) == 0
                                    && ::stat(QFile::encodeName(dir.filePath(name)), &st) == 0));
            inodes[name] = hardLinked ? st.st_ino : 0;
        }
        if (killedSave) { // the first file half rewritten in place, its safety copy and the journal beside it
            const QString copy = given[0] + ".before-save-0000cafe.bmp";
            QByteArray fresh = before[given[0]]; // what the killed save was writing: its first and last pages differ
            fresh.replace(100, 1000, QByteArray(1000, '\0')), fresh.replace(fresh.size() - 10, 10, QByteArray(10, '\0'));
            QFile half(dir.filePath(given[0]));
            QVERIFY(writeBytes(dir.filePath(copy), before[given[0]]) && half.open(QIODevice::ReadWrite) && half.write(fresh.left(4096)) == 4096);
            struct stat file, kept, folder;
            QVERIFY(::stat(QFile::encodeName(half.fileName()), &file) == 0 && ::stat(QFile::encodeName(dir.filePath(copy)), &kept) == 0
                    && ::stat(QFile::encodeName(dir.path()), &folder) == 0 && dir.mkpath("data/penumbrix"));
            const auto n = [](auto v) { return QByteArray::number(qulonglong(v)); };
            const auto sums = [](const QByteArray& content) {
                QByteArray text;
                for (qsizetype at = 0; at < content.size(); at += 4096)
                    text += QByteArray::number(pageSum(content.constData() + at, size_t(std::min<qsizetype>(4096, content.size() - at))), 16).rightJustified(16, '0');
                return text;
            };
            QVERIFY(writeBytes(dir.filePath("data/penumbrix/save-0000cafe.journal"), "penumbrix-save W\nkind in%20place\nfolder "
                + QFile::encodeName(dir.path()).toPercentEncoding() + "\nname " + QFile::encodeName(given[0]) + "\nother " + QFile::encodeName(copy)
                + "\nfolderdevice " + n(folder.st_dev) + "\nfolderinode " + n(folder.st_ino) + "\ndevice " + n(file.st_dev) + "\ninode " + n(file.st_ino)
                + "\notherinode " + n(kept.st_ino) + "\nsize " + n(before[given[0]].size()) + "\nnewsize " + n(fresh.size())
                + "\noldsums " + sums(before[given[0]]) + "\nnewsums " + sums(fresh) + "\nend\n"));
            QVERIFY(::chmod(QFile::encodeName(dir.filePath("data/penumbrix/save-0000cafe.journal")), 0600) == 0);
        }
        if (asNobody) // the folder and the pictures become the user's; the unreadable file stays root's
            for (const QString& name : QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotDot))
                QVERIFY(name.startsWith("secret") || ::chown(QFile::encodeName(dir.filePath(name)), 65534, 65534) == 0);

        QStringList command{"--apply"};
        for (int i = 0; i < 7; ++i)
            if (boxes[i] != (i == 6 ? 1 : 0))
                command << kOptions[i] << QString::number(boxes[i]);
        command << arguments << "--" << given;
        QProcess batch;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY"), env.remove("WAYLAND_DISPLAY"), env.insert("QT_QPA_PLATFORM", "xcb"); // a display would be needed, and there is none
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        batch.setProcessEnvironment(env);
        batch.setWorkingDirectory(dir.path());
        if (asNobody)
            command = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--", PENUMBRIX_EXECUTABLE} + command;
        batch.start(asNobody ? "setpriv" : PENUMBRIX_EXECUTABLE, command);
        QVERIFY(batch.waitForStarted());
        const bool stop = status > 128, toFolder = arguments.contains("OUT") || arguments.contains("--output=OUT");
        const auto target = [&](const QString& name) { return toFolder ? dir.filePath("OUT/" + name.section('/', -1)) : dir.filePath(name); };
        if (stop) { // once the first picture is done, while the others wait
            while (fileBytes(target(given[0])) != expected[given[0]] && !batch.waitForFinished(1)) {}
            ::kill(pid_t(batch.processId()), status == 130 ? SIGINT : SIGTERM);
        }
        QVERIFY(batch.waitForFinished(120000));
        const QString errors = QString::fromLocal8Bit(batch.readAllStandardError());
        QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(batch.exitCode(), status);
        for (const QString& line : told)
            QVERIFY2(errors.contains(line), qPrintable(errors));
        QVERIFY2(batch.readAllStandardOutput().isEmpty(), "nothing on standard output");

        // Each file: the window's bytes where the batch says it is done, untouched otherwise.
        int done = 0;
        for (const QString& name : given) {
            const QByteArray now = fileBytes(target(name));
            if (status == 2 || errors.contains("penumbrix: " + name + ": ") || !expected.contains(name)) {
                QVERIFY2(fileBytes(dir.filePath(name)) == before[name], qPrintable(name));
                QVERIFY2(!toFolder || !QFile::exists(target(name)), qPrintable(name));
            } else if (stop && now != expected[name]) {
                QVERIFY2(toFolder ? !QFile::exists(target(name)) : now == before[name], qPrintable(name));
            } else {
                QVERIFY2(now == expected[name], qPrintable(name));
                ++done;
                struct stat st;
                QVERIFY2(!hardLinked || (::stat(QFile::encodeName(dir.filePath(name)), &st) == 0 && st.st_ino == inodes[name]
                                         && fileBytes(dir.filePath(name + ".other")) == now), qPrintable(name));
            }
            QVERIFY2(!toFolder || fileBytes(dir.filePath(name)) == before[name], qPrintable(name)); // FILE never written
        }
        QCOMPARE(fileBytes(placeholder), placeholderBefore);
        QVERIFY2(!stop || done < given.size(), "stopped before the end");
        QVERIFY2(!stop || errors.contains(QStringLiteral(": %1 of %2 pictures done").arg(done).arg(given.size())), qPrintable(errors));
        // No safety copy, new file or journal is left behind.
        for (const QString& folder : {QString("."), QString("OUT"), QString("data/penumbrix")})
            for (const QString& left : QDir(dir.filePath(folder)).entryList(QDir::Files | QDir::Hidden))
                QVERIFY2(!left.contains("before-save") && !left.startsWith(".penumbrix") && !left.endsWith(".journal"), qPrintable(left));
    }
};

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
