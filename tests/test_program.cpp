// The built program, started the way a user starts it: a process of its own
// on an X display of its own (Xvfb), driven by keys (xdotool) and looked at
// through a window dump (xwd).

#include <QtTest>

#include "support.h"

using namespace penumbrix;

namespace {

// An install of the program in a temporary prefix: bin/penumbrix, and the
// placeholder in share/penumbrix when one is given.
struct Session {
    QTemporaryDir root;
    QProcess xvfb;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    explicit Session(const Picture& placeholder)
    {
        QDir().mkpath(root.filePath("bin"));
        QDir().mkpath(root.filePath("share/penumbrix"));
        QFile::copy(QStringLiteral(PENUMBRIX_EXECUTABLE), root.filePath("bin/penumbrix"));
        QFile::setPermissions(root.filePath("bin/penumbrix"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!placeholder.isNull())
            SavePicture(placeholder, root.filePath("share/penumbrix/NoImage.bmp"));

        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        while (xvfb.waitForReadyRead(10000) && !xvfb.canReadLine()) {
        }
        env.insert("DISPLAY", ":" + QString::fromLatin1(xvfb.readLine().trimmed()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_DATA_HOME", root.filePath("data"));
        env.insert("XDG_RUNTIME_DIR", root.path());
        program.setProcessEnvironment(env);
        program.start(root.filePath("bin/penumbrix"), {});
    }
    ~Session()
    {
        program.kill();
        program.waitForFinished();
        xvfb.kill();
        xvfb.waitForFinished();
    }

    QByteArray run(const QString& tool, const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(tool, args);
        p.waitForFinished();
        return p.readAllStandardOutput();
    }
    // The shown window whose title matches, waiting for it to appear.
    QString window(const QString& title)
    {
        for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(50)) {
            const auto ids = run("xdotool", {"search", "--onlyvisible", "--name", title}).split('\n');
            if (!ids.first().isEmpty())
                return QString::fromLatin1(ids.first());
        }
        return {};
    }
    void key(const QString& window, const QString& keys)
    {
        run("xdotool", {"windowfocus", "--sync", window});
        run("xdotool", QStringList{"key", "--clearmodifiers"} + keys.split(' '));
    }
    int exitCode() { return program.waitForFinished(10000) ? program.exitCode() : -1; }

    // How many pixels of the window have `colour`, from an xwd dump: a
    // big-endian header, then 32-bit pixels in the masks 0xFF0000, 0xFF00, 0xFF.
    int pixelsOf(const QString& window, QRgb colour, int* width = nullptr)
    {
        const QByteArray d = run("xwd", {"-silent", "-id", window});
        auto field = [&](int i) { return qFromBigEndian<quint32>(d.constData() + 4 * i); };
        if (d.size() < 100 || field(11) != 32)
            return 0;
        const qsizetype pixels = field(0) + 12 * qsizetype(field(19)), end = pixels + field(5) * qsizetype(field(12));
        int n = 0;
        for (qsizetype at = pixels; at + 4 <= std::min(end, d.size()); at += 4)
            n += ((field(7) ? qFromBigEndian<quint32>(d.constData() + at) : qFromLittleEndian<quint32>(d.constData() + at)) & 0xFFFFFF) == (colour & 0xFFFFFF);
        if (width)
            *width = int(field(4));
        return n;
    }
};

const QString kMain = QStringLiteral("^Penumbrix$");
const QString kAbout = QString::fromUtf8("^ﾊﾞｰｼﾞｮﾝ情報$");

} // namespace

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        for (const char* tool : {"Xvfb", "xdotool", "xwd"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("needs Xvfb, xdotool and xwd (scripts/deps.sh installs them)");
    }

    // The placeholder beside the bin folder fills both views and the
    // preview surface; Ctrl+Q ends the program.
    void startsWithItsPlaceholder()
    {
        QImage placeholder(217, 217, kPictureFormat);
        placeholder.fill(QColor(0x3C, 0x9A, 0x5B));
        Session s(placeholder);
        const QString main = s.window(kMain);
        QVERIFY(!main.isEmpty());
        // Two views of 215 x 215 inside their borders, and the part of the
        // preview surface that the window shows, once the window has drawn.
        int width = 0, placeholderPixels = 0;
        for (int tries = 0; tries < 50 && placeholderPixels < 2 * 215 * 215 + 150 * 100; ++tries, QThread::msleep(100))
            placeholderPixels = s.pixelsOf(main, qRgb(0x3C, 0x9A, 0x5B), &width);
        QCOMPARE(width, 562);
        QVERIFY2(placeholderPixels >= 2 * 215 * 215 + 150 * 100, qPrintable(QString::number(placeholderPixels)));
        s.key(main, "ctrl+q");
        QCOMPARE(s.exitCode(), 0);
    }

    void missingPlaceholderIsReportedAndEnds()
    {
        Session s({});
        const QString box = s.window(QStringLiteral("^Penumbrix$"));
        QVERIFY(!box.isEmpty());
        int width = 0;
        s.pixelsOf(box, 0, &width);
        QVERIFY(width > 0 && width < 562); // the error box, not the main window
        s.key(box, "Return");
        QVERIFY(s.exitCode() > 0);
    }

    // The program ends when the main window and the about window are both
    // closed, in either order; Enter and Esc close the about window wherever
    // its focus is.
    void programEndsWithItsLastWindow_data()
    {
        QTest::addColumn<bool>("mainFirst");
        QTest::addColumn<QString>("keys"); // that close the about window
        QTest::newRow("main closed, then Enter on OK") << true << "Return";
        QTest::newRow("main closed, then Esc on the picture") << true << "Tab Escape";
        QTest::newRow("Enter on the picture, then main closed") << false << "Tab Return";
        QTest::newRow("keypad Enter, then main closed") << false << "KP_Enter";
    }
    void programEndsWithItsLastWindow()
    {
        QFETCH(bool, mainFirst);
        QFETCH(QString, keys);
        Session s(LoadPicture(QStringLiteral(PENUMBRIX_SOURCE_DIR "/assets/NoImage.bmp")));
        const QString main = s.window(kMain);
        s.key(main, "ctrl+v");
        const QString about = s.window(kAbout);
        QVERIFY(!about.isEmpty());
        s.key(mainFirst ? main : about, mainFirst ? QString("ctrl+q") : keys);
        QVERIFY(!s.program.waitForFinished(500)); // still running
        QCOMPARE(s.run("xdotool", {"search", "--onlyvisible", "--name", mainFirst ? kMain : kAbout}), QByteArray());
        s.key(mainFirst ? about : main, mainFirst ? keys : QString("ctrl+q"));
        QCOMPARE(s.exitCode(), 0);
    }
};

QTEST_MAIN(TestProgram)
#include "test_program.moc"
