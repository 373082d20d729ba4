// Pictures large enough for the fast paths: kept picture memory, saves and
// loads split into parts, and work that has to run without threads, through
// the main window. What each view and file holds is checked against the
// pixel rule and the BMP layout, both written out here again.

#include "engine/parallel.h"
#include "pictures/memory.h"
#include "rig.h"

#include <algorithm>

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

// The sliders in the order they stand: red, green, blue, light, contrast,
// range, multiplier. Threshold 65,600: cuts every colour without blue.
const QList<int> kSliders{100, 128, 200, 138, 128, 8, 82};

int rule(int v)
{
    const QList<int>& s = kSliders;
    if (v < s[5] * 100 * s[6] && s[4] > 0)
        return 0;
    const int r = v % 256, g = v / 256 % 256, b = v / 65536;
    const int common = (s[3] - 128) + (s[4] - 128);
    auto channel = [&](int offset, int c) { return std::clamp(offset - 128 + c + common, 0, 255); };
    return channel(s[0], r) + channel(s[1], g) * 256 + channel(s[2], b) * 65536;
}

// `picture` with the rule run over the pixels inside `area`.
Picture ruled(const Picture& picture, const QRect& area)
{
    Picture out = picture.copy();
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if (area.contains(x, y))
                row[x] = 0xFF000000u | quint32(rule(int(row[x] & 0xFFFFFFu)));
    }
    return out;
}

// An uncompressed 24-bit BMP: a 14-byte file header, a 40-byte info header,
// then the rows bottom-up as blue, green, red, each padded to 4 bytes.
QByteArray bmpFile(const Picture& p)
{
    const qint64 rowBytes = (qint64(p.width()) * 3 + 3) / 4 * 4, pixelBytes = rowBytes * p.height();
    QByteArray file(54 + pixelBytes, '\0');
    auto* out = reinterpret_cast<uchar*>(file.data());
    const auto put = [&](int at, qint64 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[at + i] = uchar(value >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, file.size(), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, p.width(), 4);
    put(22, p.height(), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, pixelBytes, 4);
    put(38, p.dotsPerMeterX(), 4);
    put(42, p.dotsPerMeterY(), 4);
    for (int y = 0; y < p.height(); ++y) {
        uchar* row = out + 54 + (p.height() - 1 - y) * rowBytes;
        for (int x = 0; x < p.width(); ++x) {
            const int c = colourAt(p, x, y); // 0x00BBGGRR
            row[3 * x] = uchar(c >> 16);
            row[3 * x + 1] = uchar(c >> 8);
            row[3 * x + 2] = uchar(c);
        }
    }
    return file;
}

// The part of the preview surface's drawing area that the window shows:
// inside its 2-pixel border, up to the edge of the window's face.
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

    // Each picture in turn is saved, opened, previewed (then again in a
    // smaller window), applied twice and saved. 2048 x 1024 is the smallest
    // picture whose memory is kept for the next picture of its size; from
    // 8 MiB of BMP rows on, a save and a load come in parts.
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
        const auto restore = qScopeGuard([] {
            setMostParts(0);
            setThreadStartsFail(false);
        });
        Rig w;
        const QSize windowSize = w.form.size();
        quint32 seed = 0;
        for (const QSize size : sizes) {
            const Picture source = patternPicture(size.width(), size.height(), ++seed);
            const QString file = w.folders.file(QString("photo%1.bmp").arg(seed));
            SavePicture(source, file);
            QCOMPARE(fileBytes(file), bmpFile(source));
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
            QCOMPARE(fileBytes(file), bmpFile(result));
            QCOMPARE(LoadPicture(file), result);
        }
    }
};

QTEST_MAIN(TestLargePictures)
#include "test_large_pictures.moc"
