// BMP files: loading (conformance pictures, hand-made and hostile files) and round trips.

#include "engine/parallel.h"
#include "engine/pixel_transform.h"
#include "files/user_files.h"
#include "pictures/bmp_reader.h"
#include "pictures/bmp_writer.h"
#include "pictures/picture_files.h"
#include "files/runtime_error.h"
#include "support.h"

#include <QDataStream>

#include <functional>

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

const QString kSuite = QStringLiteral(PENUMBRIX_TESTDATA_DIR "/bmpsuite");

// The number of the RuntimeError `f` raises, 0 if none.
int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

// A BMP with a 40-byte header, `palette`, then `pixels` as given.
QByteArray bmp(qint32 width, qint32 height, quint16 bits, quint32 compression = 0,
               const QList<QRgb>& palette = {}, const QByteArray& pixels = {})
{
    QByteArray file;
    QDataStream s(&file, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    const quint32 offset = 54 + 4 * quint32(palette.size());
    s << quint16(0x4d42) << quint32(offset + pixels.size()) << quint32(0) << offset << quint32(40)
      << width << height << quint16(1) << bits << compression << quint32(0) << quint32(0)
      << quint32(0) << quint32(palette.size()) << quint32(0);
    for (QRgb c : palette)
        s << quint32(c & 0xffffff);
    return file + pixels;
}

// A picture `width` pixels wide of colours 0xRRGGBB, top row first.
Picture picture(int width, const QList<QRgb>& colours)
{
    Picture p(width, int(colours.size()) / width, kPictureFormat);
    for (int i = 0; i < colours.size(); ++i)
        p.setPixel(i % width, i / width, 0xff000000 | colours[i]);
    return p;
}

// A 24-bit BMP of `p` as a save writes it, or top-down (a negative height),
// or with the last row's padding left off, as some writers do.
QByteArray bmp24(const Picture& p, bool topDown, bool lastPaddingCut = false)
{
    QByteArray file = expectedBmp(topDown ? p.mirrored(false, true) : p);
    if (topDown)
        for (int i = 0; i < 4; ++i)
            file[22 + i] = char(quint32(-p.height()) >> 8 * i);
    if (lastPaddingCut)
        file.chop((4 - p.width() * 3 % 4) % 4);
    return file;
}

// The same under the 12-byte header of the first OS/2 files, which has no resolution fields.
QByteArray bmp24Core(const Picture& p)
{
    const QByteArray file = expectedBmp(p);
    QByteArray core = file.left(26) + file.mid(54);
    const quint32 fields[] = {quint32(core.size()), 0, 26, 12};
    for (int f = 0; f < 4; ++f)
        for (int i = 0; i < 4; ++i)
            core[2 + 4 * f + i] = char(fields[f] >> 8 * i);
    const quint16 info[] = {quint16(p.width()), quint16(p.height()), 1, 24};
    for (int f = 0; f < 4; ++f)
        core[18 + 2 * f] = char(info[f]), core[19 + 2 * f] = char(info[f] >> 8);
    return core;
}

} // namespace

class TestPictureFiles : public QObject {
    Q_OBJECT

private slots:
    // Conformance pictures with a reference load as it shows them; the others load or are refused.
    void conformance_data()
    {
        if (!QDir(kSuite).exists())
            QSKIP(qPrintable("no conformance pictures in " + kSuite + ": set PENUMBRIX_TESTDATA_DIR to the folder that holds "
                             "bmpsuite/ (cmake -DPENUMBRIX_TESTDATA_DIR=...)"));
        QTest::addColumn<QString>("name");
        for (const QString sub : {"g", "q", "b"})
            for (const QString& name : QDir(kSuite + "/" + sub).entryList({"*.bmp"}, QDir::Files))
                QTest::newRow(qPrintable(sub + "/" + name)) << sub + "/" + name;
    }
    void conformance()
    {
        QFETCH(QString, name);
        Picture p;
        const int error = errorOf([&] { p = LoadPicture(kSuite + "/" + name); });
        // pal8os2v2's reference misreads its 64-byte header; the picture is pal8's.
        const QString refName = kSuite + "/ref/" +
                                (name == "q/pal8os2v2.bmp" ? "g/pal8.bmp" : name).replace("/", "-").replace(".bmp", ".png");
        if (error != 0 && !name.startsWith("g/") && !QFile::exists(refName)) {
            QCOMPARE(error, int(RuntimeError::InvalidPicture));
            return;
        }
        QCOMPARE(error, 0);
        QCOMPARE(p.format(), kPictureFormat);
        if (!QFile::exists(refName))
            return;
        const QImage ref = QImage(refName).convertToFormat(kPictureFormat);
        QCOMPARE(p.size(), ref.size());
        // Decoders widen narrow channels differently: within one step of the narrowest (bits by the name).
        const QMap<QString, int> narrowest{{"rgb16-231", 1}, {"rgba16-1924", 1}, {"rgb16-3103", 3},
                                           {"rgba16-4444", 4}, {"rgba32-61754", 5}, {"rgb32-7187", 7}};
        int tolerance = name.contains("rgb16") || name.contains("rgba16") ? 7 : 0;
        if (name.startsWith("q/r") && !name.contains("rgba16-5551"))
            tolerance = std::max(1, 256 >> narrowest.value(QFileInfo(name).baseName(), 8));
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x)
                for (int shift : {0, 8, 16})
                    if (std::abs((colourAt(p, x, y) >> shift & 255) - (colourAt(ref, x, y) >> shift & 255)) > tolerance)
                        QFAIL(qPrintable(QString("pixel %1,%2 is %3, not %4").arg(x).arg(y)
                                             .arg(colourAt(p, x, y), 6, 16, QChar('0')).arg(colourAt(ref, x, y), 6, 16, QChar('0'))));
    }

    // What the conformance pictures leave out, and files that are none.
    void handMade_data()
    {
        // The name loaded, in a folder holding p.bmp; what p.bmp holds; the file made `size` long, sparse.
        columns<QString, QByteArray, Picture, int, qint64>("name", "file", "expected", "error", "size");
        const QRgb K = 0, R = 0xff0000, G = 0x00ff00, B = 0x0000ff;
        auto row = [](const char* tag, const QByteArray& file, const Picture& expected, int error = 0,
                      const char* name = "p.bmp", qint64 size = 0) {
            QTest::newRow(tag) << name << file << expected << error << size;
        };
        // Data cut short or jumping past the edges paints nothing more; unpainted pixels are colour 0.
        row("RLE8, cut inside a run", bmp(4, 2, 8, 1, {R, G}, QByteArray::fromHex("020103")),
            picture(4, {R, R, R, R, G, G, R, R}));
        row("RLE8, jumps past the picture",
            bmp(4, 2, 8, 1, {K, G, B}, QByteArray::fromHex("0201" "00020300" "0102" "0000" "0102" "00020001" "0200" "0001")),
            picture(4, {B, K, K, K, G, G, K, K}));
        row("2-bit", bmp(5, 1, 2, 0, {K, R, G, B}, QByteArray::fromHex("6c400000")), picture(5, {R, G, B, K, R}));
        row("24-bit without the last row's padding", bmp(1, 2, 24, 0, {}, QByteArray::fromHex("0000ff00" "ff0000")),
            picture(1, {B, R}));
        row("8-bit without the last row's padding", bmp(3, 2, 8, 0, {R, G}, QByteArray::fromHex("00010000" "010001")),
            picture(3, {G, R, G, R, G, R}));
        // No count of colours: the palette ends where the pixels start.
        row("8-bit, 2 colours before the pixels", bmp(2, 1, 8, 0, {R, G}, QByteArray::fromHex("0100")).replace(46, 4, "\0\0\0\0", 4),
            picture(2, {G, R}));
        QList<QRgb> stripes(512 * 256);
        for (int i = 0; i < stripes.size(); ++i)
            stripes[i] = i % 8 < 4 ? R : G;
        row("1-bit, 131072 pixels", bmp(512, 256, 1, 0, {R, G}, QByteArray(64 * 256, 0x0f)), picture(512, stripes));
        const int bad = RuntimeError::InvalidPicture;
        row("missing folder", {}, {}, RuntimeError::PathNotFound, "none/p.bmp");
        row("folder", {}, {}, RuntimeError::PermissionDenied, ".");
        row("empty file", {}, {}, bad);
        row("PNG", QByteArray::fromHex("89504e470d0a1a0a0000000d49484452"), {}, bad);
        row("header cut short", bmp(3, 2, 24).left(30), {}, bad);
        // Refused from the header alone, before any picture memory is taken.
        const int tooLarge = RuntimeError::OutOfMemory;
        row("500 MP, 24-bit, all its data", bmp(25000, 20000, 24), {}, tooLarge, "p.bmp", 54 + 75000LL * 20000);
        row("289 MP, 8-bit, all its data", bmp(17000, 17000, 8, 0, {0}), {}, tooLarge, "p.bmp", 58 + 289000000LL);
        row("300 MP, 24-bit, 1 kB of data", bmp(20000, 15000, 24), {}, bad, "p.bmp", 54 + 1024LL);
        row("256 MP, RLE8, 1 kB of data", bmp(16000, 16000, 8, 1, {0}), {}, bad, "p.bmp", 58 + 1024LL);
    }
    // A file adjusted by the pixel rule from file to file, a band of rows at a
    // time: byte for byte what the window saves for the picture it loads
    // after the rule, for every kind the program reads, across the sizes at
    // which bands, parts and the whole-picture route take over.
    void adjusted_data()
    {
        // file: a conformance picture's name, or a made file; parts: the most parts a picture is split into (0: as many as cores).
        columns<QString, QByteArray, QList<int>, int>("name", "file", "bars", "parts");
        const QList<int> cutting{88, 218, 131, 148, 129, 256, 300}, mild{100, 160, 128, 140, 120, 10, 5};
        if (QDir(kSuite).exists())
            for (const QString sub : {"g", "q", "b"})
                for (const QString& name : QDir(kSuite + "/" + sub).entryList({"*.bmp"}, QDir::Files)) {
                    QTest::newRow(qPrintable(sub + "/" + name + ", cut off")) << sub + "/" + name << QByteArray() << cutting << 0;
                    QTest::newRow(qPrintable(sub + "/" + name + ", mild")) << sub + "/" + name << QByteArray() << mild << 0;
                }
        // A band holds 256 KiB of picture words: 93 rows of 700 pixels.
        QTest::newRow("bands, bottom-up") << QString() << bmp24(patternPicture(700, 300), false) << cutting << 0;
        QTest::newRow("bands, top-down") << QString() << bmp24(patternPicture(700, 300, 5), true) << cutting << 0;
        QTest::newRow("bands, the last row's padding left off") << QString() << bmp24(patternPicture(701, 300, 7), false, true) << mild << 0;
        QTest::newRow("bands, top-down, the last row's padding left off") << QString() << bmp24(patternPicture(701, 95, 8), true, true) << mild << 0;
        Picture alpha = patternPicture(600, 200, 9);
        for (int y = 0; y < alpha.height(); ++y)
            for (int x = 0; x < alpha.width(); ++x)
                reinterpret_cast<quint32*>(alpha.scanLine(y))[x] = (reinterpret_cast<quint32*>(alpha.scanLine(y))[x] & 0xFFFFFFu) | quint32((x + y) & 255) << 24;
        QTest::newRow("bands with alpha") << QString() << expectedBmp(alpha, BmpForm{108, 2835, 5669}) << cutting << 0;
        const Picture inOrder = patternPicture(300, 200, 12);
        QByteArray words; // 32-bit words as the picture holds them, bytes R, G, B, X, by bit fields; bottom row first
        for (int y = inOrder.height() - 1; y >= 0; --y)
            words += QByteArray(reinterpret_cast<const char*>(inOrder.constScanLine(y)), inOrder.width() * 4);
        QTest::newRow("bands of words in the picture's order") << QString() << bmp(300, 200, 32, 3, {0x0000ff, 0x00ff00, 0xff0000}, words) << cutting << 0;
        QTest::newRow("no resolution in the file") << QString() << bmp24Core(patternPicture(300, 200, 11)) << cutting << 0;
        // Parts of at least 4 MiB of words, on three cores; their ends fall inside bands.
        QTest::newRow("parts on three cores") << QString() << bmp24(patternPicture(1100, 3001, 3), false) << cutting << 3;
        QTest::newRow("parts on three cores, top-down") << QString() << bmp24(patternPicture(1100, 3001, 4), true) << mild << 3;
        QTest::newRow("a band of one row") << QString() << bmp24(patternPicture(65536, 3, 6), false) << cutting << 0;
        QTest::newRow("a row too long for a band") << QString() << bmp24(patternPicture(1700000, 2, 2), true) << cutting << 0;
    }
    void adjusted()
    {
        const auto [name, file, bars, parts] = fetch<QString, QByteArray, QList<int>, int>("name", "file", "bars", "parts");
        QTemporaryDir dir;
        const QString source = dir.filePath("in.bmp"), target = dir.filePath("out.bmp");
        QVERIFY(name.isEmpty() ? writeBytes(source, file) : QFile::copy(kSuite + "/" + name, source));
        const QByteArray before = fileBytes(source);
        Picture loaded;
        const int loads = errorOf([&] { loaded = LoadPicture(source); });
        setMostParts(parts);
        const AdjustmentSettings settings{qint16(bars[0]), qint16(bars[1]), qint16(bars[2]), qint16(bars[3]),
                                          qint16(bars[4]), qint16(bars[5]), qint16(bars[6])};
        qint64 pixels = 0;
        const int adjusts = errorOf([&] { pixels = adjustPictureFile(source, saveTargetOf(target), settings); });
        setMostParts(0);
        QCOMPARE(fileBytes(source), before);
        QVERIFY(!name.isEmpty() || loads == 0); // every made file is a picture
        QCOMPARE(adjusts, loads); // a file refused is refused alike, and nothing is written
        if (loads != 0) {
            QVERIFY(!QFile::exists(target));
            return;
        }
        QCOMPARE(pixels, qint64(loaded.width()) * loaded.height());
        const QByteArray saved = fileBytes(target), expected = encodeBmp(ruled(loaded, bars));
        QCOMPARE(saved.size(), expected.size());
        if (saved != expected) {
            qsizetype at = 0;
            while (saved[at] == expected[at])
                ++at;
            QFAIL(qPrintable(QString("byte %1 of %2 differs").arg(at).arg(saved.size())));
        }
    }

    void handMade()
    {
        const auto [name, file, expected, error, size] = fetch<QString, QByteArray, Picture, int, qint64>("name", "file", "expected", "error", "size");
        QTemporaryDir dir;
        QVERIFY(writeBytes(dir.filePath("p.bmp"), file) && (!size || QFile::resize(dir.filePath("p.bmp"), size)));
        Picture p;
        QCOMPARE(errorOf([&] { p = LoadPicture(dir.filePath(name)); }), error);
        QCOMPARE(p, expected);
    }
};

QTEST_GUILESS_MAIN(TestPictureFiles)
#include "test_picture_files.moc"
