// Drawing surfaces and image views.

#include <QtTest>

#include <QSignalSpy>

#include "platform/surfaces.h"
#include "support.h"

using namespace penumbrix;
using namespace penumbrix::testing;

class TestSurfaces : public QObject {
    Q_OBJECT
private slots:
    void drawingNeverChangesTheAssignedPicture_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QSize>("grownClient"); // before the second drawing
        QTest::addColumn<bool>("autoRedraw");
        QTest::newRow("whole surface") << QSize(100, 100) << QSize(100, 100) << true;
        QTest::newRow("only the shown part") << QSize(5, 3) << QSize(5, 3) << false;
        QTest::newRow("the shown part grows") << QSize(5, 3) << QSize(7, 5) << false;
        QTest::newRow("then shows it all") << QSize(5, 3) << QSize(100, 100) << false;
    }

    void drawingNeverChangesTheAssignedPicture()
    {
        QFETCH(QSize, client);
        QFETCH(QSize, grownClient);
        QFETCH(bool, autoRedraw);
        QWidget parent;
        parent.resize(client);
        const Picture picture = patternPicture(8, 6);
        const Picture copy = picture.copy();
        DrawingSurface a(&parent), b(&parent);
        a.setAutoRedraw(autoRedraw);
        a.setPicture(picture);
        b.setPicture(picture);
        QRect shown[2];
        // Twice: first from the shared picture, then over what was drawn.
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1)
                parent.resize(grownClient);
            shown[pass] = a.readableRect();
            a.mapRows(QRect(0, 0, 8, 6), [](const std::uint32_t* from, std::ptrdiff_t fromStride, std::uint32_t* to,
                                            std::ptrdiff_t toStride, int w, int h) {
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        to[y * toStride + x] = (from[y * fromStride + x] + 1) | 0xFF000000u;
            });
        }
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                const std::int32_t expected = colourAt(copy, x, y) + shown[0].contains(x, y) + shown[1].contains(x, y);
                QCOMPARE(colourAt(a.image(), x, y), expected);
            }
        QCOMPARE(picture, copy);
        QCOMPARE(a.picture(), copy);
        QCOMPARE(b.image(), copy);
    }

    void drawingSurvivesRepaintUntilNextPicture()
    {
        QWidget client;
        client.resize(200, 200);
        DrawingSurface surface(&client, DrawingSurface::Border::Sunken);
        surface.setPicture(patternPicture(20, 20));
        surface.mapRows(QRect(5, 5, 1, 1), [](auto, auto, std::uint32_t* p, auto, int, int) { *p = 0xFF0000FFu; });
        client.show();
        const QImage first = surface.grab().toImage();
        surface.repaint();
        const QImage second = surface.grab().toImage();
        QCOMPARE(QColor(first.pixel(7, 7)), QColor(255, 0, 0)); // border of 2
        QCOMPARE(second, first);
        surface.setPicture(patternPicture(20, 20));
        QVERIFY(QColor(surface.grab().toImage().pixel(7, 7)) != QColor(255, 0, 0));
    }

    void viewStretchesAnyPicture_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::newRow("smaller than the frame") << QSize(10, 4);
        QTest::newRow("wide") << QSize(2000, 30);
        QTest::newRow("far larger than the frame") << QSize(4000, 3000);
    }

    void viewStretchesAnyPicture()
    {
        QFETCH(QSize, picture);
        // Left half red, right half blue: the halves must stay halves.
        QImage image(picture, kPictureFormat);
        image.fill(QColor(255, 0, 0));
        for (int y = 0; y < picture.height(); ++y)
            for (int x = picture.width() / 2; x < picture.width(); ++x)
                image.setPixel(x, y, qRgb(0, 0, 255));
        ImageView view;
        view.resize(217, 217);
        view.setPicture(image);
        const QImage& shown = view.shownImage();
        QCOMPARE(shown.size(), QSize(215, 215));
        QCOMPARE(QColor(shown.pixel(20, 100)), QColor(255, 0, 0));
        QCOMPARE(QColor(shown.pixel(195, 100)), QColor(0, 0, 255));
        QCOMPARE(QColor(shown.pixel(20, 0)), QColor(255, 0, 0));
        QCOMPARE(QColor(shown.pixel(195, 214)), QColor(0, 0, 255));
        QCOMPARE(view.picture().size(), picture); // the picture keeps its own size
    }

    void doubleClickIsAClickFirst()
    {
        ImageView view;
        view.resize(217, 217);
        QStringList events;
        connect(&view, &ImageView::clicked, [&] { events << "click"; });
        connect(&view, &ImageView::doubleClicked, [&] { events << "double"; });
        const QPoint at(50, 50);
        QMouseEvent second(QEvent::MouseButtonDblClick, at, view.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
        QTest::mouseClick(&view, Qt::LeftButton, {}, at);
        events << "|";
        // As the window system delivers a double click: a press and a release,
        // then the second press as a double click, and its release.
        QTest::mouseClick(&view, Qt::LeftButton, {}, at);
        QApplication::sendEvent(&view, &second);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, at);
        events << "|";
        QTest::mouseClick(&view, Qt::RightButton, {}, at);
        events << "|";
        // A double click whose last release goes to the dialog it opened: the
        // next click still counts.
        QTest::mouseClick(&view, Qt::LeftButton, {}, at);
        QApplication::sendEvent(&view, &second);
        events << "|";
        QTest::mouseClick(&view, Qt::LeftButton, {}, at);
        QCOMPARE(events.join(' '), "click | click double | | click double | click");
    }
};

QTEST_MAIN(TestSurfaces)
#include "test_surfaces.moc"
