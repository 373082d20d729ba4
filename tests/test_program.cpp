// The built program on its own X display (Xvfb, xdotool, xwd, xprop); its start-up also runs here, for drops.

#include <QtTest>
#include <QtWidgets>

#include "fakes.h"
#include "support.h"
#include "ui/form1.h"
#include "ui/frm_about.h"
#include "ui/start_up.h"

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

// Waits for `done`, looking again and again; false when it never came.
bool waitFor(const std::function<bool()>& done, int seconds = 60) { return QTest::qWaitFor(done, seconds * 1000); }

// The program installed in a temporary prefix, with its placeholder when one is given.
struct Session {
    QTemporaryDir root;
    QProcess xvfb;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    explicit Session(const Picture& placeholder, const QStringList& arguments = {})
    {
        QDir(root.path()).mkpath("bin"), QDir(root.path()).mkpath("share/penumbrix");
        QFile::copy(QStringLiteral(PENUMBRIX_EXECUTABLE), root.filePath("bin/penumbrix"));
        QFile::setPermissions(root.filePath("bin/penumbrix"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!placeholder.isNull())
            SavePicture(placeholder, root.filePath("share/penumbrix/NoImage.bmp"));

        for (int tries = 0; tries < 10 && !startDisplay(); ++tries) {
            xvfb.kill();
            xvfb.waitForFinished(-1);
        }
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_DATA_HOME", root.filePath("data"));
        env.insert("XDG_RUNTIME_DIR", root.path());
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(root.path());
        program.setProcessChannelMode(QProcess::ForwardedChannels); // its warnings, in the test's log
        program.start(root.filePath("bin/penumbrix"), arguments);
        program.waitForStarted(-1);
    }
    // A display of its own, on the loopback (servers starting beside it unlink /tmp/.X11-unix sockets),
    // numbered where they don't look for free numbers, never resetting when its last client leaves.
    bool startDisplay()
    {
        xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        xvfb.start("Xvfb", {":" + QString::number(200 + QRandomGenerator::global()->bounded(800)), "-displayfd", "1",
                            "-screen", "0", "1024x768x24", "-noreset", "-listen", "tcp", "-nolisten", "unix", "-nolisten", "local"});
        waitFor([&] {
            return xvfb.canReadLine() || (xvfb.waitForReadyRead(1000) && xvfb.canReadLine()) ||
                   xvfb.state() == QProcess::NotRunning;
        });
        const QByteArray number = xvfb.readLine().trimmed();
        env.insert("DISPLAY", "127.0.0.1:" + QString::fromLatin1(number));
        return !number.isEmpty() && waitFor([&] { return !run("xdotool", {"getdisplaygeometry"}).isEmpty(); }, 10) &&
               !xvfb.waitForFinished(200);
    }
    ~Session()
    {
        program.kill();
        program.waitForFinished(-1);
        // Ended in order, taking its lock and socket with it.
        xvfb.terminate();
        if (!xvfb.waitForFinished(60000))
            xvfb.kill();
        xvfb.waitForFinished(-1);
    }

    QByteArray run(const QString& tool, const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(tool, args);
        p.waitForFinished(-1);
        return p.readAllStandardOutput();
    }
    // The shown windows whose title matches.
    QStringList windows(const QString& title)
    {
        return QString::fromLatin1(run("xdotool", {"search", "--onlyvisible", "--name", title}))
            .split('\n', Qt::SkipEmptyParts);
    }
    // The shown window whose title matches and which is `narrower` than the main window or not, once it shows.
    QString window(const QString& title, bool narrower = false)
    {
        QString found;
        waitFor([&] {
            for (const QString& id : windows(title))
                if ((width(id) < 562) == narrower)
                    found = id;
            return !found.isEmpty();
        });
        if (found.isEmpty())
            qWarning() << "no window" << title << "; program ended:" << program.waitForFinished(100)
                       << program.exitCode() << "; display ended:" << xvfb.waitForFinished(100);
        return found;
    }
    // What a tool says after `marker`, empty if it says nothing of it.
    QByteArray after(const QString& tool, const QStringList& args, const QByteArray& marker)
    {
        const QByteArray said = run(tool, args);
        return said.contains(marker) ? said.mid(said.indexOf(marker) + marker.size()).trimmed() : QByteArray();
    }
    int width(const QString& window) { return after("xdotool", {"getwindowgeometry", window}, "Geometry: ").split('x').first().toInt(); }
    // Focuses `window` and types; until `done`, when given, types again (keys harmless twice).
    bool key(const QString& window, const QString& keys, const std::function<bool()>& done = {})
    {
        for (int tries = 0; tries < 12; ++tries) {
            waitFor([&] {
                run("xdotool", {"windowfocus", "--sync", window});
                return run("xdotool", {"getwindowfocus"}).trimmed() == window.toLatin1();
            });
            run("xdotool", QStringList{"key", "--clearmodifiers"} + keys.split(' '));
            if (!done || waitFor(done, 5))
                return true;
        }
        return false;
    }
    int exitCode() { return program.waitForFinished(60000) ? program.exitCode() : -1; }
    // The window that `window` is kept over (X11's WM_TRANSIENT_FOR), 0 if none.
    qulonglong owner(const QString& window) { return after("xprop", {"-id", window, "WM_TRANSIENT_FOR"}, "# ").toULongLong(nullptr, 16); }

    // How many pixels of the window have `colour`, from an xwd dump (big-endian header, 32-bit pixels).
    int pixelsOf(const QString& window, QRgb colour)
    {
        const QByteArray d = run("xwd", {"-silent", "-id", window});
        auto field = [&](int i) { return qFromBigEndian<quint32>(d.constData() + 4 * i); };
        if (d.size() < 100 || field(11) != 32)
            return 0;
        const qsizetype pixels = field(0) + 12 * qsizetype(field(19)), end = pixels + field(5) * qsizetype(field(12));
        int n = 0;
        for (qsizetype at = pixels; at + 4 <= std::min(end, d.size()); at += 4)
            n += ((field(7) ? qFromBigEndian<quint32>(d.constData() + at) : qFromLittleEndian<quint32>(d.constData() + at)) & 0xFFFFFF) == (colour & 0xFFFFFF);
        return n;
    }
};

const QString kMain = QStringLiteral("^Penumbrix$");
const QString kAbout = QString::fromUtf8("^ﾊﾞｰｼﾞｮﾝ情報$");
const QRgb kPlaceholderColour = qRgb(0x3C, 0x9A, 0x5B);
const QRgb kUserColour = qRgb(0xC8, 0x32, 0x64);

Picture filled(int width, int height, QRgb colour)
{
    QImage picture(width, height, kPictureFormat);
    picture.fill(QColor(colour));
    return picture;
}

// Two views of 215 x 215 inside their borders, and the shown part of the preview surface.
constexpr int kViews = 2 * 215 * 215;
constexpr int kPreviewShown = 150 * 100;

} // namespace

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        for (const char* tool : {"Xvfb", "xdotool", "xwd", "xprop"}) // the start-up's own tests run in this process
            if (QStandardPaths::findExecutable(tool).isEmpty() && !QByteArray(QTest::currentTestFunction()).contains("tartUp"))
                QSKIP("needs Xvfb, xdotool, xwd and xprop (scripts/deps.sh installs them)");
    }

    // The placeholder fills both views and the preview (without it: an error, and the end); a named file
    // takes both views, or is reported in a box kept over the main window, which goes on. Ctrl+Q ends it,
    // and takes its work file with it.
    void startsWithItsPlaceholderAndTheNamedFile_data()
    {
        // The file named, if any; its content, empty: a BMP of the user's colour; ⇒編集 pressed before the end.
        columns<QString, QByteArray, bool, bool>("file", "content", "opens", "applies");
        QTest::newRow("nothing named") << QString() << QByteArray() << false << false;
        QTest::newRow("no placeholder: an error box alone, then the end") << QString() << QByteArray("no placeholder") << false << false;
        QTest::newRow("a BMP with a Japanese name") << qs("写真.bmp") << QByteArray() << true << false;
        QTest::newRow("text named .bmp") << qs("notes.bmp") << QByteArray("just text\n") << false << false;
        QTest::newRow("a name starting with a dash, after --") << qs("-scan.bmp") << QByteArray() << true << false;
        QTest::newRow("a BMP applied, then the end") << qs("写真.bmp") << QByteArray() << true << true;
    }
    void startsWithItsPlaceholderAndTheNamedFile()
    {
        const auto [file, content, opens, applies] = fetch<QString, QByteArray, bool, bool>("file", "content", "opens", "applies");
        QTemporaryDir pictures;
        if (!file.isEmpty()) // a BMP as a save writes it, or the row's content
            QVERIFY(writeBytes(pictures.filePath(file), content.isEmpty() ? expectedBmp(filled(60, 40, kUserColour)) : content));
        QStringList arguments = file.startsWith('-') ? QStringList{"--"} : QStringList();
        if (!file.isEmpty())
            arguments << pictures.filePath(file);
        const bool placeholder = content != "no placeholder";
        Session s(placeholder ? filled(217, 217, kPlaceholderColour) : Picture(), arguments);
        const QString main = s.window(kMain, !placeholder); // the error box, narrower than the main window
        QVERIFY(!main.isEmpty());
        if (!placeholder) {
            s.key(main, "Return");
            QVERIFY(s.exitCode() > 0);
            return;
        }
        if (!file.isEmpty() && !opens) {
            const QString box = s.window(kMain, true);
            QVERIFY(!box.isEmpty());
            QCOMPARE(s.owner(box), main.toULongLong());
            s.key(box, "Return");
            QVERIFY(waitFor([&] { return s.windows(kMain).size() == 1; }));
        }
        const QRgb views = opens ? kUserColour : kPlaceholderColour;
        const int expected = opens ? kViews : kViews + kPreviewShown;
        int seen = 0;
        QVERIFY2(waitFor([&] { return (seen = s.pixelsOf(main, views)) >= expected; }), qPrintable(QString::number(seen)));
        if (opens) // the preview surface keeps the placeholder
            QVERIFY(waitFor([&] { return s.pixelsOf(main, kPlaceholderColour) >= kPreviewShown; }));
        const QString workFile = s.root.filePath("data/penumbrix/Image1.BMP");
        if (applies) { // a click on ⇒編集 (3480, 1440 twips and 1455 by 1080 under the menu bar), then OK twice
            s.run("xdotool", {"mousemove", "--window", main, "280", "150", "click", "1"});
            QVERIFY(s.key(s.window(kMain, true), "Return", [&] { return QFile::exists(workFile); }));
            QVERIFY(s.key(s.window(kMain, true), "Return", [&] { return s.windows(kMain).size() == 1; }));
        }
        s.key(main, "ctrl+q");
        QCOMPARE(s.exitCode(), 0);
        QVERIFY(!QFile::exists(workFile) && QFileInfo(workFile).dir().exists() == applies);
    }

    // The program ends when both windows are closed, in either order; Enter and Esc close the about window,
    // which is kept over the main window.
    void programEndsWithItsLastWindow_data()
    {
        columns<bool, QString>("mainFirst", "keys"); // the keys that close the about window
        QTest::newRow("main closed, then Enter on OK") << true << "Return";
        QTest::newRow("main closed, then Esc on the picture") << true << "Tab Escape";
        QTest::newRow("Enter on the picture, then main closed") << false << "Tab Return";
        QTest::newRow("keypad Enter, then main closed") << false << "KP_Enter";
    }
    void programEndsWithItsLastWindow()
    {
        const auto [mainFirst, keys] = fetch<bool, QString>("mainFirst", "keys");
        Session s(LoadPicture(QStringLiteral(PENUMBRIX_SOURCE_DIR "/assets/NoImage.bmp")));
        const QString main = s.window(kMain);
        QVERIFY(!main.isEmpty());
        QVERIFY(s.key(main, "ctrl+v", [&] { return !s.windows(kAbout).isEmpty(); }));
        const QString about = s.window(kAbout, true);
        QVERIFY(s.owner(about) != main.toULongLong()); // no owner: either window may be in front
        const auto close = [&](bool isMain) { // Ctrl+Q on the main window, the row's keys on the about window
            return s.key(isMain ? main : about, isMain ? "ctrl+q" : keys, [&] { return s.windows(isMain ? kMain : kAbout).isEmpty(); });
        };
        QVERIFY(close(mainFirst));
        QVERIFY(!s.program.waitForFinished(500)); // still running, with the other window
        QCOMPARE(s.windows(mainFirst ? kAbout : kMain), QStringList{mainFirst ? about : main});
        close(!mainFirst);
        QCOMPARE(s.exitCode(), 0);
    }

    // The start-up, in this process: a drop of one local file opens it, all else is refused.
    void startUpAndDrops_data()
    {
        // The drop's addresses ("@name": a file in a temporary folder) and text; opened, or refused while still dragged.
        columns<QStringList, QString, bool>("urls", "text", "opens");
        QTest::newRow("a BMP") << QStringList{"@写真.bmp"} << "" << true;
        QTest::newRow("two BMPs") << QStringList{"@写真.bmp", "@other.bmp"} << "" << false;
        QTest::newRow("text") << QStringList{} << "/tmp/写真.bmp" << false;
        QTest::newRow("another host's file") << QStringList{"file://far/tmp/a.bmp"} << "" << false;
        QTest::newRow("a web address") << QStringList{"https://penumbrix.example/a.bmp"} << "" << false;
    }
    void startUpAndDrops()
    {
        const auto [urls, text, opens] = fetch<QStringList, QString, bool>("urls", "text", "opens");
        ProgramFolders folders;
        SavePicture(filled(30, 20, kUserColour), folders.file(qs("写真.bmp")));
        SavePicture(filled(30, 20, kUserColour), folders.file("other.bmp"));
        fakes::Messages messages;
        fakes::OpenDialogScript dialog;
        fakes::BrowserLog browser;
        bool allClosed = false;
        ProgramWindows windows({messages, dialog, browser});
        QVERIFY(windows.start(folders.paths, std::nullopt, [&] { allClosed = true; }));
        Form1& form = *windows.mainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QMimeData data;
        QList<QUrl> list;
        for (const QString& url : urls)
            list << (url.startsWith('@') ? QUrl::fromLocalFile(folders.file(url.mid(1))) : QUrl(url));
        data.setUrls(list);
        data.setText(text);
        const QPoint at = form.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        // The drag ends with its drop, as a real one does, before anything is compared.
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
        QCOMPARE(enter.isAccepted(), opens);
        QVERIFY(!opens || enter.dropAction() == Qt::CopyAction);
        QCOMPARE(drop.isAccepted(), opens);

        QCoreApplication::processEvents(); // the open comes after the drop has ended
        QTRY_COMPARE(form.document().currentFileName(), opens ? folders.file(urls.first().mid(1)) : folders.paths.placeholder());
        QVERIFY(messages.texts.isEmpty() && dialog.proposed.isEmpty()); // the open dialog never showed

        form.close();
        QTRY_VERIFY(allClosed);
    }

    // The start-up as main() runs it, with the real services: the name given to the window system; the open
    // dialog over the main window, in Japanese, listing .bmp in either case, each column as wide as what it
    // shows; a message box in Japanese.
    void realStartUpAndOpenDialog()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QSettings::UserScope, "QtProject").remove("FileDialog"); // no widths kept from an earlier dialog
        ProgramFolders folders;
        const QString picture = folders.file("photo.bmp");
        SavePicture(filled(300, 200, kUserColour), picture); // 180,054 bytes
        QVERIFY(QDir(folders.root.path()).mkdir("a folder") && writeBytes(folders.file("b.BMP"), "?") && writeBytes(folders.file("c.png"), "?"));
        ProgramWindows windows;
        QVERIFY(windows.start(folders.paths, picture, [] {}));
        Form1& form = *windows.mainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE(form.document().currentFileName(), picture);
        QCOMPARE(QGuiApplication::desktopFileName(), "example.penumbrix.Penumbrix");

        QStringList seen;
        QTimer timer; // looks at a box, or at the dialog once it has listed the folder, then cancels it
        connect(&timer, &QTimer::timeout, &timer, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                for (auto* button : box->findChildren<QPushButton*>())
                    seen << button->text();
                return box->reject();
            }
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* list = dialog ? dialog->findChild<QTreeView*>("treeView") : nullptr;
            const auto find = [&](const char* name) {
                return list->model()->match(list->model()->index(0, 0, list->rootIndex()), Qt::DisplayRole, name, 1,
                                            Qt::MatchExactly).value(0);
            };
            const QModelIndex row = list ? find("photo.bmp") : QModelIndex(), folder = list ? find("a folder") : QModelIndex();
            if (!row.isValid() || !folder.isValid() || list->model()->rowCount(list->rootIndex()) < 4)
                return;
            seen << (dialog->parentWidget() == &form ? "over the main window" : "elsewhere") << dialog->selectedNameFilter();
            for (int column = 1; column < 4; ++column) { // each text, with room for it inside the list
                const QHeaderView* h = list->header();
                seen << row.siblingAtColumn(column).data().toString();
                if (h->sectionSize(column) < list->sizeHintForIndex(row.siblingAtColumn(column)).width()
                    || h->sectionViewportPosition(column) + h->sectionSize(column) > list->viewport()->width())
                    seen << QString("column %1 cut").arg(column);
            }
            seen << folder.siblingAtColumn(2).data().toString();
            for (const char* label : {"fileNameLabel", "fileTypeLabel"})
                seen << dialog->findChild<QLabel*>(label)->text();
            auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            for (int i = 0; i < types->count(); ++i)
                seen << types->itemText(i);
            QStringList files;
            for (int i = 0; i < list->model()->rowCount(list->rootIndex()); ++i)
                files << list->model()->index(i, 0, list->rootIndex()).data().toString();
            seen += (files.sort(), files);
            dialog->reject();
        });
        timer.start(10);
        QTest::keySequence(&form, QKeySequence("Ctrl+O"));
        QTest::mouseClick(form.findChild<QWidget*>("cmdDelete"), Qt::LeftButton); // cancelled: the picture stays
        // Japanese sizes (KiB, two decimals) and short dates (year/month/day hours:minutes).
        QCOMPARE(seen.mid(0, 3), QStringList({"over the main window", qs("画像(*.BMP)"), "175.83 KiB"}));
        QVERIFY2(seen.value(3).contains(qs("画像")), qPrintable(seen.join(" | ")));
        // A folder is typed as Qt's Japanese texts name it; the filter's description alone, .png left out.
        QCOMPARE(seen.mid(4), QStringList({QFileInfo(picture).lastModified().toString("yyyy/MM/dd HH:mm"), qs("フォルダ"),
                                           qs("ファイル名(&N):"), qs("ファイルの種類:"), qs("画像(*.BMP)"), "a folder", "b.BMP",
                                           "photo.bmp", "share", "OK", qs("キャンセル")}));
        QCOMPARE(form.document().currentFileName(), picture);
        form.close();
    }
};

QTEST_MAIN(TestProgram)
#include "test_program.moc"
