// Pictures large enough for the fast paths (kept memory, parts, no threads), through the main window.

#include "engine/parallel.h"
#include "platform/pictures/memory.h"
#include "rig.h"

#include <algorithm>

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

// Threshold 65,600: cuts every colour without blue.
const QList<int> kSliders{100, 128, 200, 138, 128, 8, 82};

// `picture` with the rule run over the pixels inside `area`.
Picture ruled(const Picture& picture, const QRect& area)
{
    Picture out = picture.copy();
    for (int y = area.top(); y <= std::min(area.bottom(), out.height() - 1); ++y)
        for (int x = area.left(); x <= std::min(area.right(), out.width() - 1); ++x)
            reinterpret_cast<quint32*>(out.scanLine(y))[x] = 0xFF000000u | quint32(rule(colourAt(out, x, y), kSliders));
    return out;
}

// What the window shows of the preview surface's drawing area (inside its 2-pixel border).
QRect shownArea(const DrawingSurface& surface)
{
    const QSize face = surface.parentWidget()->size();
    return QRect(0, 0, face.width() - (surface.x() + 2), face.height() - (surface.y() + 2));
}

} // namespace

class TestLargePictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { keepPictureMemoryForReuse(); } // as the program does

    // 2048 x 1024 is the smallest picture whose memory is kept; from 8 MiB of rows on, files go in parts.
    void openPreviewApplySave_data()
    {
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::addColumn<int>("parts");
        QTest::addColumn<bool>("startsFail");
        // First: no thread has been started in this process yet.
        QTest::newRow("no thread can start") << QList<QSize>{{2049, 1400}} << 8 << true;
        QTest::newRow("kept memory, larger after smaller, saves in two parts")
            << QList<QSize>{{2048, 1024}, {2049, 1400}, {2049, 1400}, {2048, 1024}} << 2 << false;
    }
    void openPreviewApplySave()
    {
        QFETCH(QList<QSize>, sizes);
        QFETCH(int, parts);
        QFETCH(bool, startsFail);
        setMostParts(parts);
        setThreadStartsFail(startsFail);
        const auto restore = qScopeGuard([] { setMostParts(0), setThreadStartsFail(false); });
        Rig w;
        const QSize windowSize = w.form.size();
        quint32 seed = 0;
        for (const QSize size : sizes) {
            const Picture source = patternPicture(size.width(), size.height(), ++seed);
            const QString file = w.folders.file(QString("photo%1.bmp").arg(seed));
            SavePicture(source, file);
            QCOMPARE(fileBytes(file), expectedBmp(source));
            w.open(file);
            QTest::mouseClick(w.find("Image1"), Qt::LeftButton);
            for (int i = 0; i < 7; ++i)
                w.bar(Setting(i))->setValue(kSliders[i]);

            // Previews: the shown part, then again the part a smaller window shows.
            const QRect shown = shownArea(w.picture2);
            QTest::mouseClick(w.find("Command3"), Qt::LeftButton);
            w.form.resize(windowSize - QSize(60, 50));
            QTRY_VERIFY(shownArea(w.picture2).width() < shown.width());
            const QRect smaller = shownArea(w.picture2);
            QTest::mouseClick(w.find("Command3"), Qt::LeftButton);
            w.form.resize(windowSize);
            QTRY_COMPARE(shownArea(w.picture2), shown);
            QCOMPARE(toPicture(w.picture2.image()), ruled(ruled(source, shown), smaller));

            QTest::mouseClick(w.find("Command2"), Qt::LeftButton);
            QTest::mouseClick(w.find("Command2"), Qt::LeftButton);
            const Picture result = ruled(source, source.rect());
            QCOMPARE(toPicture(w.image2.picture()), result);
            QCOMPARE(toPicture(w.image1.picture()), source);
            QTest::mouseClick(w.find("Command1"), Qt::LeftButton);
            QCOMPARE(fileBytes(file), expectedBmp(result));
            QCOMPARE(LoadPicture(file), result);
        }
    }
};

QTEST_MAIN(TestLargePictures)
#include "test_large_pictures.moc"
