// The document's operations on real files, with scripted dialogs.

#include <QtTest>

#include <QDir>
#include <QFile>

#include "engine/settings.h"
#include "fakes.h"
#include "images/document.h"
#include "images/event_boundary.h"
#include "platform/picture.h"
#include "platform/runtime_error.h"
#include "platform/surfaces.h"
#include "support.h"

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

bool samePixels(const QImage& a, const QImage& b) { return toPicture(a) == toPicture(b); }

// Every pixel of `source` run through the rule.
QImage transformed(const QImage& source, const AdjustmentSettings& s)
{
    QImage out = toPicture(source).copy();
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] = 0xFF000000u | quint32(pixelTransform(std::int32_t(row[x] & 0xFFFFFF), s));
    }
    return out;
}


} // namespace

// The main window's slots, laid out as in the window: the preview surface
// grows past the client area's right and bottom edges.
struct Fixture {
    ProgramFolders folders;
    QWidget client;
    ImageView image1{&client};
    ImageView image2{&client};
    DrawingSurface picture2{&client, DrawingSurface::Border::Sunken};
    DrawingSurface picture1{&client};
    fakes::Messages messages;
    fakes::OpenDialogScript dialog;
    fakes::Pointer pointer;
    SettingValues settings = SettingValues::startValues();
    Document doc{ImageSlots{image1, image2, picture2, picture1}, DocumentServices{messages, dialog, pointer},
                 folders.paths, [this] { return settings.adjustment(); }};

    Fixture()
    {
        client.resize(562, 472);
        image1.setGeometry(8, 48, 217, 217);
        image2.setGeometry(336, 48, 217, 217);
        picture2.move(368, 304);
        picture1.move(592, 352);
    }

    QString userPicture(const QString& name, int w = 40, int h = 30, quint32 seed = 7)
    {
        const QString path = folders.file(name);
        SavePicture(patternPicture(w, h, seed), path);
        return path;
    }
    void openFile(const QString& path)
    {
        dialog.choices.push_back(path);
        doc.open();
    }
    void setNeutral()
    {
        for (const auto& step : kResetSteps)
            settings[step.setting] = step.value;
    }
    Picture placeholder() const { return LoadPicture(folders.paths.placeholder()); }
    // Which picture objects the two views hold.
    std::pair<qint64, qint64> views() const { return {image1.picture().cacheKey(), image2.picture().cacheKey()}; }
};

class TestDocument : public QObject {
    Q_OBJECT
private slots:
    void startUpThenOpenFillTheSlots();
    void startUpWithoutPlaceholderChangesNothing();
    void openThatDoesNotHappenChangesNothing_data();
    void openThatDoesNotHappenChangesNothing();
    void placeholderUnderAnyNameIsNoPictureOpen_data();
    void placeholderUnderAnyNameIsNoPictureOpen();
    void previewDrawsOnTheSurfaceOnly();
    void previewTransformsShownPartInPlace();
    void applyThatDoesNothing_data();
    void applyThatDoesNothing();
    void applyMatchesRulePixelByPixel();
    void saveWritesResultViewNotPreview();
    void applyWritesOnlyTheWorkFile_data();
    void applyWritesOnlyTheWorkFile();
    void failureChangesNothing_data();
    void failureChangesNothing();
    void clearPutsPlaceholderBack();
    void boundaryReportsAndGoesOn_data();
    void boundaryReportsAndGoesOn();
};

void TestDocument::startUpThenOpenFillTheSlots()
{
    Fixture f;
    f.doc.startUp();
    const Picture placeholder = f.placeholder();
    for (const QImage& slot : {f.image1.picture(), f.image2.picture(), f.picture2.picture()})
        QVERIFY(samePixels(slot, placeholder));
    QVERIFY(f.picture1.picture().isNull());
    // Three loads, three pictures: none shares another's pixels.
    QVERIFY(f.image1.picture().constBits() != f.image2.picture().constBits());
    QVERIFY(f.image1.picture().constBits() != f.picture2.picture().constBits());
    QCOMPARE(f.doc.currentFileName(), f.folders.paths.placeholder());
    QVERIFY(!f.doc.isPictureOpen());

    // The first open proposes the placeholder; the picture, loaded once, goes
    // into both views, and the preview surface is left alone.
    const qint64 previewKey = f.picture2.image().cacheKey();
    const QString path = f.userPicture(QStringLiteral("photo.bmp"), 31, 17);
    f.openFile(path);
    QCOMPARE(f.dialog.proposed, QStringList{f.folders.paths.placeholder()});
    QCOMPARE(f.dialog.filters, QStringList{QStringLiteral("画像(*.BMP)|*.BMP")});
    QVERIFY(samePixels(f.image1.picture(), LoadPicture(path)));
    QCOMPARE(f.image2.picture().constBits(), f.image1.picture().constBits());
    QCOMPARE(f.doc.currentFileName(), path);
    QVERIFY(f.doc.isPictureOpen());
    QCOMPARE(f.picture2.image().cacheKey(), previewKey);
    QVERIFY(f.messages.shown.empty());
    QVERIFY(!QFile::exists(f.folders.paths.workFile()));
}

void TestDocument::startUpWithoutPlaceholderChangesNothing()
{
    Fixture f;
    QFile::remove(f.folders.paths.placeholder());
    try {
        f.doc.startUp();
        QFAIL("start-up without the placeholder must fail");
    } catch (const RuntimeError& e) {
        QCOMPARE(e.number(), 53);
        QCOMPARE(e.path(), f.folders.paths.placeholder());
    }
    QVERIFY(f.image1.picture().isNull());
    QVERIFY(f.image2.picture().isNull());
    QVERIFY(f.doc.currentFileName().isEmpty());
}

void TestDocument::openThatDoesNotHappenChangesNothing_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("error"); // 0: cancelled
    QTest::newRow("cancelled after start-up") << "start" << "cancel" << 0;
    QTest::newRow("cancelled with a picture open") << "open" << "cancel" << 0;
    QTest::newRow("cancelled after clearing") << "cleared" << "cancel" << 0;
    QTest::newRow("no such file") << "open" << "missing" << 53;
    QTest::newRow("a text file named .bmp") << "open" << "text" << 481;
}

void TestDocument::openThatDoesNotHappenChangesNothing()
{
    QFETCH(QString, state);
    QFETCH(QString, choice);
    QFETCH(int, error);
    Fixture f;
    f.doc.startUp();
    const QString first = f.userPicture(QStringLiteral("first.bmp"));
    if (state != QLatin1String("start"))
        f.openFile(first);
    if (state == QLatin1String("cleared"))
        f.doc.clear();
    const auto views = f.views();
    const QString name = f.doc.currentFileName();

    const QString path = f.folders.file(QStringLiteral("second.bmp"));
    if (choice == QLatin1String("text"))
        writeBytes(path, "this is no picture\n");
    if (choice != QLatin1String("cancel"))
        f.dialog.choices.push_back(path);
    try {
        f.doc.open();
        QCOMPARE(error, 0);
    } catch (const RuntimeError& e) {
        QCOMPARE(e.number(), error);
    }
    QCOMPARE(f.views(), views);
    QCOMPARE(f.doc.currentFileName(), name);
    // After clearing, the dialog proposed the file opened last.
    if (state == QLatin1String("cleared"))
        QCOMPARE(f.dialog.proposed.last(), first);
}

void TestDocument::placeholderUnderAnyNameIsNoPictureOpen_data()
{
    QTest::addColumn<QString>("spelling");
    QTest::addColumn<bool>("pictureOpen");
    QTest::newRow("the placeholder path itself") << "exact" << false;
    QTest::newRow("with ./ and ../ in it") << "dotted" << false;
    QTest::newRow("through a symbolic link") << "symlink" << false;
    QTest::newRow("through a hard link") << "hardlink" << false;
    QTest::newRow("another file, differing only in case") << "case" << true;
}

void TestDocument::placeholderUnderAnyNameIsNoPictureOpen()
{
    QFETCH(QString, spelling);
    QFETCH(bool, pictureOpen);
    Fixture f;
    f.doc.startUp();
    const QString placeholder = f.folders.paths.placeholder();
    const QByteArray original = fileBytes(placeholder);
    QString path = placeholder;
    if (spelling == QLatin1String("dotted"))
        path = f.folders.paths.installFolder + QStringLiteral("/./../penumbrix/NoImage.bmp");
    if (spelling == QLatin1String("symlink")) {
        path = f.folders.file(QStringLiteral("link.bmp"));
        QVERIFY(QFile::link(placeholder, path));
    }
    if (spelling == QLatin1String("hardlink")) {
        path = f.folders.file(QStringLiteral("hard.bmp"));
        QCOMPARE(::link(QFile::encodeName(placeholder).constData(), QFile::encodeName(path).constData()), 0);
    }
    if (spelling == QLatin1String("case")) {
        path = f.folders.paths.installFolder + QStringLiteral("/NOIMAGE.BMP");
        QVERIFY(QFile::copy(placeholder, path));
    }
    f.openFile(path);
    QCOMPARE(f.doc.currentFileName(), path);
    QCOMPARE(f.doc.isPictureOpen(), pictureOpen);

    // Save and apply act only with a picture open; the placeholder is never written.
    f.setNeutral();
    f.settings[Setting::Light] = 200;
    f.doc.apply();
    f.doc.save();
    QCOMPARE(fileBytes(placeholder), original);
    QCOMPARE(QFile::exists(f.folders.paths.workFile()), pictureOpen);
    QCOMPARE(f.messages.texts().contains(QStringLiteral("画像の保存が完了しました")), pictureOpen);
    QCOMPARE(f.messages.texts().contains(QStringLiteral("編集作業が完了しました")), pictureOpen);
}

void TestDocument::previewDrawsOnTheSurfaceOnly()
{
    Fixture f;
    f.client.resize(800, 800); // the whole picture is shown
    f.doc.startUp();
    // With no picture open, the preview works on the placeholder; neutral
    // settings leave it as it is.
    f.setNeutral();
    f.doc.preview();
    QVERIFY(samePixels(f.picture2.image(), f.placeholder()));
    f.settings[Setting::Contrast] = 0;
    f.doc.preview();
    QVERIFY(samePixels(f.picture2.image(), transformed(f.placeholder(), f.settings.adjustment())));

    f.openFile(f.userPicture(QStringLiteral("a.bmp"), 50, 40));
    const auto views = f.views();
    const Picture source = LoadPicture(f.doc.currentFileName());
    f.doc.copyToPreview();
    QVERIFY(samePixels(f.picture2.image(), source));
    QCOMPARE(QSize(f.picture2.scaleWidth(), f.picture2.scaleHeight()), QSize(50, 40));
    f.doc.preview();
    QVERIFY(samePixels(f.picture2.image(), transformed(source, f.settings.adjustment())));
    // Nothing else changes, and a click puts the untransformed source back.
    QVERIFY(samePixels(f.image1.picture(), source));
    QCOMPARE(f.views(), views);
    QVERIFY(f.picture1.picture().isNull());
    QVERIFY(!QFile::exists(f.folders.paths.workFile()));
    f.doc.copyToPreview();
    QVERIFY(samePixels(f.picture2.image(), source));
}

void TestDocument::previewTransformsShownPartInPlace()
{
    Fixture f;
    f.doc.startUp();
    // 400 x 300 at (368, 304) with a 2-pixel border: only the top-left
    // 192 x 166 pixels lie inside the 562 x 472 client area.
    const QString path = f.userPicture(QStringLiteral("big.bmp"), 400, 300);
    f.openFile(path);
    f.doc.copyToPreview();
    f.setNeutral();
    f.settings[Setting::Light] = 138;
    f.doc.preview();
    f.doc.preview();
    const QImage source = toPicture(LoadPicture(path));
    AdjustmentSettings plus20 = f.settings.adjustment();
    plus20.vsLIGHT = 148;
    const QImage expected = transformed(source, plus20);
    const QImage shown = f.picture2.image();
    for (int y : {0, 100, 165, 166, 299}) {
        for (int x : {0, 191, 192, 399}) {
            const bool inside = x < 192 && y < 166;
            const QImage& want = inside ? expected : source;
            QCOMPARE(shown.pixel(x, y) & 0xFFFFFF, want.pixel(x, y) & 0xFFFFFF);
        }
    }
    QCOMPARE(f.picture2.getPixel(192, 0), -1);
    QCOMPARE(f.picture2.getPixel(0, 166), -1);
    // The hourglass shows while it works and is gone before the message.
    QCOMPARE(f.pointer.changes, (std::vector<bool>{true, false, true, false}));
    QCOMPARE(f.messages.texts(), (QStringList{QStringLiteral("PREVIEWイメージ描画完了"),
                                              QStringLiteral("PREVIEWイメージ描画完了")}));
    QCOMPARE(f.messages.shown[0].buttons, MessageButtons::Ok);
}

void TestDocument::applyThatDoesNothing_data()
{
    QTest::addColumn<bool>("pictureOpen");
    QTest::addColumn<int>("answer");
    QTest::newRow("cancelled") << true << kMessageCancel;
    QTest::newRow("no picture open") << false << kMessageOk;
}

void TestDocument::applyThatDoesNothing()
{
    QFETCH(bool, pictureOpen);
    QFETCH(int, answer);
    Fixture f;
    f.doc.startUp();
    if (pictureOpen)
        f.openFile(f.userPicture(QStringLiteral("a.bmp")));
    const auto views = f.views();
    f.messages.answers = {answer};
    f.doc.apply();
    QCOMPARE(f.messages.texts(),
             QStringList{QStringLiteral("全画像の反映には画像数・サイズ・PCの処理速度によって数分かかる場合があります。")});
    QCOMPARE(f.messages.shown[0].buttons, MessageButtons::OkCancel);
    QCOMPARE(f.pointer.wasEverBusy(), answer == kMessageOk); // no hourglass after Cancel
    QVERIFY(!f.pointer.busy);
    QVERIFY(!QFile::exists(f.folders.paths.workFile()));
    QCOMPARE(f.views(), views);
    QVERIFY(f.picture1.picture().isNull());
}

void TestDocument::applyMatchesRulePixelByPixel()
{
    Fixture f;
    f.doc.startUp();
    const QString path = f.userPicture(QStringLiteral("large.bmp"), 1001, 703, 3);
    const QByteArray before = fileBytes(path);
    f.openFile(path);
    f.settings.values = {40, 200, 128, 150, 100, 256, 37}; // red .. czoom
    // Previews on the surface have no say: the pass starts from the source.
    f.doc.copyToPreview();
    f.doc.preview();
    f.doc.preview();
    bool busyDuringMessage = true;
    f.messages.onShow = [&] { busyDuringMessage = f.pointer.busy; };
    const QImage expected = transformed(LoadPicture(path), f.settings.adjustment());
    Picture loaded; // the result view shows the picture loaded from the work file
    f.doc.setPictureLoader([&](const QString& p) { return loaded = LoadPicture(p); });
    for (int pass = 0; pass < 2; ++pass) { // applying twice doesn't apply twice over
        QFile::remove(f.folders.paths.workFile());
        f.doc.apply();
        QVERIFY(samePixels(f.image2.picture(), expected));
        QCOMPARE(f.image2.picture().constBits(), loaded.constBits());
    }
    QVERIFY(samePixels(LoadPicture(f.folders.paths.workFile()), expected));
    QCOMPARE(fileBytes(path), before); // apply never writes the user's file
    QCOMPARE(f.messages.texts().last(), QStringLiteral("編集作業が完了しました"));
    QVERIFY(!busyDuringMessage);
    QVERIFY(!f.picture1.autoRedraw());
    // Save writes exactly those pixels over the opened file, and leaves the work file alone.
    const QByteArray workFile = fileBytes(f.folders.paths.workFile());
    f.doc.save();
    QVERIFY(samePixels(LoadPicture(path), expected));
    QCOMPARE(f.messages.texts().last(), QStringLiteral("画像の保存が完了しました"));
    QCOMPARE(fileBytes(f.folders.paths.workFile()), workFile);
}

void TestDocument::saveWritesResultViewNotPreview()
{
    Fixture f;
    f.doc.startUp();
    const QString path = f.userPicture(QStringLiteral("a.bmp"), 33, 21);
    const QByteArray opened = fileBytes(path);
    f.openFile(path);
    f.settings[Setting::Blue] = 0;
    f.doc.copyToPreview();
    f.doc.preview();
    f.messages.shown.clear();
    f.doc.save();
    f.doc.save(); // twice: the same picture, the message twice
    QCOMPARE(fileBytes(path), opened);
    QCOMPARE(f.messages.texts(), QStringList(2, QStringLiteral("画像の保存が完了しました")));
    QCOMPARE(f.doc.currentFileName(), path);
}

void TestDocument::applyWritesOnlyTheWorkFile_data()
{
    QTest::addColumn<QString>("workFileIs");
    QTest::newRow("a symbolic link to the user's file") << "symlink";
    QTest::newRow("a hard link to the user's file") << "hardlink";
}

void TestDocument::applyWritesOnlyTheWorkFile()
{
    QFETCH(QString, workFileIs);
    Fixture f;
    f.doc.startUp();
    const QString path = f.userPicture(QStringLiteral("a.bmp"));
    const QByteArray original = fileBytes(path);
    const QByteArray workFile = QFile::encodeName(f.folders.paths.workFile());
    QDir().mkpath(f.folders.paths.dataFolder);
    if (workFileIs == QLatin1String("symlink"))
        QCOMPARE(::symlink(QFile::encodeName(path).constData(), workFile.constData()), 0);
    else
        QCOMPARE(::link(QFile::encodeName(path).constData(), workFile.constData()), 0);
    f.openFile(path);
    f.settings[Setting::Light] = 250;
    f.doc.apply();
    QCOMPARE(fileBytes(path), original);
    QVERIFY(samePixels(f.image2.picture(), transformed(LoadPicture(path), f.settings.adjustment())));
}

void TestDocument::failureChangesNothing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("error");
    QTest::newRow("apply: data folder is a file") << "apply" << "data folder is a file" << 76;
    QTest::newRow("apply: data folder read-only") << "apply" << "data folder read-only" << 70;
    QTest::newRow("apply: work file unreadable") << "apply" << "work file unreadable" << 481;
    QTest::newRow("save: read-only file") << "save" << "read-only file" << 70;
    QTest::newRow("save: read-only folder") << "save" << "read-only folder" << 70;
    QTest::newRow("save: folder removed") << "save" << "folder removed" << 76;
}

void TestDocument::failureChangesNothing()
{
    QFETCH(QString, operation);
    QFETCH(QString, how);
    QFETCH(int, error);
    Fixture f;
    f.doc.startUp();
    const QString folder = f.folders.file(QStringLiteral("pictures"));
    QDir().mkpath(folder);
    const QString path = f.userPicture(QStringLiteral("pictures/a.bmp"));
    const QByteArray original = fileBytes(path);
    f.openFile(path);
    f.settings[Setting::Light] = 250;
    if (operation == QLatin1String("save"))
        f.doc.apply(); // the result differs from the file
    const auto views = f.views();
    const QString data = f.folders.paths.dataFolder;
    QDir().mkpath(data);
    const auto readOnly = [](const QString& p) { QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::ExeOwner); };
    if (how == QLatin1String("data folder is a file"))
        QDir(data).removeRecursively(), writeBytes(data, "in the way");
    if (how == QLatin1String("data folder read-only"))
        readOnly(data);
    if (how == QLatin1String("read-only file"))
        readOnly(path);
    if (how == QLatin1String("read-only folder"))
        readOnly(folder);
    if (how == QLatin1String("folder removed"))
        QDir(folder).removeRecursively();
    if (how == QLatin1String("work file unreadable"))
        f.doc.setPictureLoader([](const QString& p) -> Picture {
            if (p.endsWith(QLatin1String("Image1.BMP")))
                throw RuntimeError(RuntimeError::InvalidPicture, p);
            return LoadPicture(p);
        });
    auto enforced = std::make_unique<PermissionsEnforced>();
    if (how.contains(QLatin1String("read-only")) && !PermissionsEnforced::effective(f.folders.file(QString())))
        QSKIP("file permissions can't be enforced here");
    f.messages.shown.clear();
    EventBoundary boundary(f.messages, f.pointer);
    QVERIFY(!boundary.run([&] { operation == QLatin1String("save") ? f.doc.save() : f.doc.apply(); }));
    enforced.reset();

    // Only the error is shown; the pointer, views and files are as they were.
    const int asked = operation == QLatin1String("apply") ? 1 : 0;
    QCOMPARE(f.messages.shown.size(), std::size_t(asked + 1));
    QVERIFY(f.messages.texts().last().startsWith(QStringLiteral("実行時エラー '%1'").arg(error)));
    QVERIFY(!f.pointer.busy);
    QVERIFY(!f.picture1.autoRedraw());
    QCOMPARE(f.views(), views);
    if (how != QLatin1String("folder removed")) {
        QCOMPARE(fileBytes(path), original);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.bmp")});
    }
    for (const QString& p : {data, folder, path})
        QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestDocument::clearPutsPlaceholderBack()
{
    Fixture f;
    f.doc.startUp();
    const QString path = f.userPicture(QStringLiteral("a.bmp"));
    f.openFile(path);
    f.doc.copyToPreview();
    f.settings[Setting::Light] = 10;
    f.doc.preview();
    const qint64 previewKey = f.picture2.image().cacheKey();
    const auto views = f.views();

    f.messages.answers = {kMessageCancel};
    f.doc.clear();
    QCOMPARE(f.messages.shown.back().text, QStringLiteral("全てのイメージを削除します。"));
    QCOMPARE(f.messages.shown.back().buttons, MessageButtons::OkCancel);
    QCOMPARE(f.views(), views);
    QCOMPARE(f.doc.currentFileName(), path);
    // Without the placeholder, nothing changes.
    const QString placeholder = f.folders.paths.placeholder();
    QVERIFY(QFile::rename(placeholder, placeholder + QStringLiteral(".away")));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, f.doc.clear());
    QCOMPARE(f.views(), views);
    QCOMPARE(f.doc.currentFileName(), path);
    QVERIFY(QFile::rename(placeholder + QStringLiteral(".away"), placeholder));

    f.messages.shown.clear();
    f.doc.clear();
    QCOMPARE(f.messages.shown.size(), std::size_t(1)); // the question, and no message after
    QVERIFY(samePixels(f.image1.picture(), f.placeholder()));
    QVERIFY(samePixels(f.image2.picture(), f.placeholder()));
    QVERIFY(f.image1.picture().constBits() != f.image2.picture().constBits());
    QCOMPARE(f.doc.currentFileName(), f.folders.paths.placeholder());
    QVERIFY(!f.doc.isPictureOpen());
    QCOMPARE(f.picture2.image().cacheKey(), previewKey);
    QCOMPARE(f.doc.proposedFileName(), path);
    QVERIFY(QFile::exists(path));
}

void TestDocument::boundaryReportsAndGoesOn_data()
{
    QTest::addColumn<int>("thrown");
    QTest::addColumn<QString>("expected");
    QTest::newRow("run-time error") << 481 << QStringLiteral("実行時エラー '481':\n\nピクチャが不正です。\n\n/tmp/x.bmp");
    QTest::newRow("memory exhausted") << 7 << QStringLiteral("実行時エラー '7':\n\nメモリが不足しています。");
}

void TestDocument::boundaryReportsAndGoesOn()
{
    QFETCH(int, thrown);
    QFETCH(QString, expected);
    fakes::Messages messages;
    fakes::Pointer pointer;
    EventBoundary boundary(messages, pointer);
    const bool ok = boundary.run([&] {
        pointer.setBusy(true);
        if (thrown == 7)
            throw std::bad_alloc();
        throw RuntimeError(RuntimeError::InvalidPicture, QStringLiteral("/tmp/x.bmp"));
    });
    QVERIFY(!ok);
    QVERIFY(!pointer.busy);
    QCOMPARE(messages.texts(), QStringList{expected});
    QCOMPARE(messages.shown[0].buttons, MessageButtons::Ok);
    QVERIFY(boundary.run([] {}));
    QCOMPARE(messages.shown.size(), std::size_t(1));
}

QTEST_MAIN(TestDocument)
#include "test_document.moc"
