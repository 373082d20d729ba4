// BMP files: loading (the conformance pictures, hand-made variants, broken
// and hostile files), saving (format, atomic replacement, failures).

#include "platform/bmp_codec.h"
#include "platform/picture.h"
#include "platform/runtime_error.h"

#include <QBuffer>
#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <optional>
#include <variant>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace penumbrix;

namespace {

const QString kSuite = QStringLiteral(PENUMBRIX_TESTDATA_DIR "/bmpsuite");

// Builds BMP files field by field, broken ones included.
struct Bmp {
    quint32 infoSize = 40;
    qint32 width = 1, height = 1;
    quint16 planes = 1, bitCount = 24;
    quint32 compression = 0, coloursUsed = 0;
    QList<quint32> masks; // after a 40-byte header, or inside a longer one
    QList<QRgb> palette;
    QByteArray pixels;
    qint64 offBits = -1; // -1: right after the palette

    QByteArray bytes() const
    {
        QByteArray info(int(infoSize), '\0');
        const auto put = [&info](int at, quint32 v, int n = 4) {
            for (int i = 0; i < n && at + i < info.size(); ++i)
                info[at + i] = char(v >> (8 * i));
        };
        put(0, infoSize);
        if (infoSize == 12) {
            put(4, quint32(width), 2), put(6, quint32(height), 2), put(8, planes, 2), put(10, bitCount, 2);
        } else {
            put(4, quint32(width)), put(8, quint32(height)), put(12, planes, 2), put(14, bitCount, 2);
            put(16, compression), put(32, coloursUsed);
            for (int i = 0; infoSize > 40 && i < masks.size(); ++i)
                put(40 + 4 * i, masks[i]);
        }
        QByteArray tables;
        for (int i = 0; infoSize == 40 && i < masks.size(); ++i)
            tables += QByteArray::fromRawData(reinterpret_cast<const char*>(&masks[i]), 4);
        for (QRgb c : palette) {
            tables += char(qBlue(c)), tables += char(qGreen(c)), tables += char(qRed(c));
            if (infoSize != 12)
                tables += '\0';
        }
        const qint64 offset = offBits >= 0 ? offBits : 14 + info.size() + tables.size();
        QByteArray file("BM");
        for (quint32 v : {quint32(14 + info.size() + tables.size() + pixels.size()), 0u, quint32(offset)})
            file += QByteArray::fromRawData(reinterpret_cast<const char*>(&v), 4);
        return file + info + tables + pixels;
    }
};

// One row of pixels: colours as B,G,R(,X) bytes or palette indices packed
// at `bits` per pixel, padded to 4 bytes.
QByteArray row(const QList<quint32>& values, int bits)
{
    QByteArray out;
    if (bits >= 24) {
        for (quint32 v : values) {
            out += char(v), out += char(v >> 8), out += char(v >> 16);
            if (bits == 32)
                out += char(v >> 24);
        }
    } else if (bits == 16) {
        for (quint32 v : values)
            out += char(v), out += char(v >> 8);
    } else {
        out.fill('\0', (values.size() * bits + 7) / 8);
        for (int x = 0; x < values.size(); ++x)
            out[x * bits / 8] = char(out[x * bits / 8] | values[x] << (8 - bits - x * bits % 8));
    }
    while (out.size() % 4)
        out += '\0';
    return out;
}

// A picture from rows of 0xRRGGBB, top row first.
QImage picture(const QList<QList<quint32>>& rows)
{
    QImage p(int(rows[0].size()), int(rows.size()), kPictureFormat);
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            p.setPixel(x, y, 0xff000000 | rows[y][x]);
    return p;
}

// "rrggbb rrggbb / ..." top row first, for readable failures.
QString describe(const QImage& image)
{
    if (image.format() != kPictureFormat)
        return QStringLiteral("format %1").arg(image.format());
    QStringList rows;
    for (int y = 0; y < image.height(); ++y) {
        QStringList px;
        for (int x = 0; x < image.width(); ++x)
            px << QString::number(image.pixel(x, y), 16).right(6);
        rows << px.join(' ');
    }
    return rows.join(QStringLiteral(" / "));
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

// Decodes from memory and from a file, which take different paths, and
// checks they agree. An error is returned as its number.
std::variant<Picture, int> loadBoth(const QByteArray& bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.bmp");
    writeFile(path, bytes);
    std::variant<Picture, int> fromMemory, fromFile;
    try { fromMemory = decodeBmp(bytes); } catch (const RuntimeError& e) { fromMemory = e.number(); }
    try { fromFile = LoadPicture(path); } catch (const RuntimeError& e) { fromFile = e.number(); }
    if (fromMemory != fromFile)
        qWarning("memory and file decoding differ");
    return fromMemory == fromFile ? fromFile : std::variant<Picture, int>(-1);
}

// Runs as an ordinary user for a while, so that root can see permission
// checks at work; restores root on destruction.
struct AsNobody {
    AsNobody()
    {
        active = ::geteuid() == 0 && ::setresgid(65534, 65534, 0) == 0
            && ::setresuid(65534, 65534, 0) == 0;
    }
    ~AsNobody()
    {
        if (active && (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0))
            qFatal("could not return to root");
    }
    bool active = false;
};

} // namespace

class TestPictureFiles : public QObject {
    Q_OBJECT

private slots:
    void goodPictures_data()
    {
        QTest::addColumn<QString>("name");
        const QStringList names = QDir(kSuite + "/g").entryList({"*.bmp"}, QDir::Files, QDir::Name);
        QVERIFY(names.size() > 20);
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name;
    }
    void goodPictures()
    {
        QFETCH(QString, name);
        const QByteArray file = readFile(kSuite + "/g/" + name);
        const auto loaded = loadBoth(file);
        QVERIFY(std::holds_alternative<Picture>(loaded));
        const Picture p = std::get<Picture>(loaded);
        const QImage ref = QImage(kSuite + "/ref/g-" + QString(name).replace(".bmp", ".png"))
                               .convertToFormat(kPictureFormat);
        QCOMPARE(p.format(), kPictureFormat);
        QCOMPARE(p.size(), ref.size());
        const int tolerance = name.startsWith("rgb16") || name.startsWith("rgba16") ? 7 : 0;
        for (int y = 0; y < p.height(); ++y) {
            const auto* a = p.constScanLine(y);
            const auto* b = ref.constScanLine(y);
            for (int i = 0; i < p.width() * 4; ++i) {
                if (std::abs(a[i] - b[i]) > tolerance)
                    QFAIL(qPrintable(QString("pixel %1,%2 differs").arg(i / 4).arg(y)));
            }
        }
    }

    void questionableAndBadPictures_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString sub : {"q", "b"}) {
            for (const QString& name : QDir(kSuite + "/" + sub).entryList({"*.bmp"}, QDir::Files))
                QTest::newRow(qPrintable(sub + "/" + name)) << kSuite + "/" + sub + "/" + name;
        }
        const QString regressions = PENUMBRIX_SOURCE_DIR "/tests/data/bmp/";
        for (const QString& name : QDir(regressions).entryList(QDir::Files))
            QTest::newRow(qPrintable("fuzz/" + name)) << regressions + name;
    }
    void questionableAndBadPictures()
    {
        QFETCH(QString, path);
        const auto loaded = loadBoth(readFile(path));
        if (std::holds_alternative<int>(loaded)) {
            QCOMPARE(std::get<int>(loaded), int(RuntimeError::InvalidPicture));
        } else {
            const Picture p = std::get<Picture>(loaded);
            QCOMPARE(p.format(), kPictureFormat);
            QVERIFY(!p.isNull());
        }
    }

    void variants_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QImage>("expected");
        const quint32 R = 0xff0000, G = 0x00ff00, B = 0x0000ff, W = 0xffffff, K = 0;
        const QImage rgbw = picture({{R, G, B}, {W, K, R}});
        const QList<QRgb> palette{qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};

        Bmp b; // 24-bit, bottom-up: the bottom row comes first
        b.width = 3, b.height = 2, b.pixels = row({W, K, R}, 24) + row({R, G, B}, 24);
        QTest::newRow("24-bit") << b.bytes() << rgbw;
        QTest::newRow("24-bit without the last row's padding") << b.bytes().chopped(3) << rgbw;
        Bmp t = b;
        t.height = -2, t.pixels = row({R, G, B}, 24) + row({W, K, R}, 24);
        QTest::newRow("24-bit top-down") << t.bytes() << rgbw;
        b.bitCount = 32, b.pixels = row({W, K, R | 0x7f000000}, 32) + row({R, G | 0xff000000, B}, 32);
        QTest::newRow("32-bit, fourth byte ignored") << b.bytes() << rgbw;
        b.compression = 3, b.masks = {0xff0000, 0xff00, 0xff};
        QTest::newRow("32-bit, usual bit fields") << b.bytes() << rgbw;
        b.compression = 6, b.masks = {0xff0000, 0xff00, 0xff, 0xff000000};
        QTest::newRow("32-bit, alpha bit fields") << b.bytes() << rgbw;
        b.infoSize = 124, b.compression = 3;
        QTest::newRow("32-bit, v5 header with alpha mask") << b.bytes() << rgbw;
        b.infoSize = 52, b.masks = {0xff, 0xff00, 0xff0000};
        b.pixels = row({W, K, R >> 16}, 32) + row({R >> 16, G, B << 16}, 32);
        QTest::newRow("32-bit, red and blue swapped, 52-byte header") << b.bytes() << rgbw;

        Bmp s; // 16-bit: full-scale channels only, the widening of others varies
        s.width = 3, s.height = 1, s.bitCount = 16, s.pixels = row({0x7c00, 0x03e0, 0x7fff}, 16);
        QTest::newRow("16-bit 5-5-5") << s.bytes() << picture({{R, G, W}});
        s.compression = 3, s.masks = {0xf800, 0x07e0, 0x001f}, s.pixels = row({0xf800, 0x001f, 0}, 16);
        QTest::newRow("16-bit 5-6-5 bit fields") << s.bytes() << picture({{R, B, K}});

        Bmp p; // palettes; an index past the palette is black
        p.width = 5, p.height = 1, p.bitCount = 8, p.palette = palette.mid(0, 3);
        p.pixels = row({1, 2, 0, 3, 200}, 8);
        QTest::newRow("8-bit, index past the palette") << p.bytes() << picture({{R, G, K, K, K}});
        p.palette = palette, p.pixels = row({1, 2, 3, 0, 1}, 8);
        const QImage rgbkr = picture({{R, G, B, K, R}});
        p.offBits = 14 + 40 + 16 + 6, p.pixels.prepend("123456");
        QTest::newRow("8-bit, gap before the pixels") << p.bytes() << rgbkr;
        p.offBits = 20, p.coloursUsed = 4, p.pixels.remove(0, 6);
        QTest::newRow("8-bit, offset into the headers") << p.bytes() << rgbkr;
        p.offBits = -1;
        for (int bits : {4, 2, 1}) {
            p.bitCount = quint16(bits), p.palette = palette.mid(0, bits == 1 ? 2 : 4);
            const QList<quint32> indices = bits == 1 ? QList<quint32>{1, 0, 0, 1, 1} : QList<quint32>{1, 2, 3, 0, 1};
            p.pixels = row(indices, bits);
            QTest::newRow(qPrintable(QString("%1-bit").arg(bits)))
                << p.bytes() << (bits == 1 ? picture({{R, K, K, R, R}}) : rgbkr);
        }
        Bmp o = p; // OS/2 1.x: 16-bit sizes, 3-byte palette entries
        o.infoSize = 12, o.bitCount = 8, o.palette = palette, o.pixels = row({1, 2, 3, 0, 1}, 8);
        QTest::newRow("OS/2 1.x header") << o.bytes() << rgbkr;
        o.infoSize = 16, o.coloursUsed = 0;
        QTest::newRow("OS/2 2.x 16-byte header") << o.bytes() << rgbkr;

        Bmp r; // run-length: runs, absolute runs, skips; skipped pixels take colour 0
        r.width = 4, r.height = 3, r.bitCount = 8, r.compression = 1, r.palette = palette;
        r.pixels = QByteArray::fromHex("0301 0000" "0004 02030102 0000" "0002 0100 0103 0001");
        QTest::newRow("RLE8") << r.bytes() << picture({{K, B, K, K}, {G, B, R, G}, {R, R, R, K}});
        r.bitCount = 4, r.compression = 2;
        r.pixels = QByteArray::fromHex("0312 0000" "0004 2310 0000" "0001");
        QTest::newRow("RLE4, ended early") << r.bytes() << picture({{K, K, K, K}, {G, B, R, K}, {R, G, R, K}});
        // Data stopping inside a code; Qt's reader painted from its stack (found by fuzzing).
        r.width = 4, r.height = 2, r.bitCount = 8, r.compression = 1, r.palette = {qRgb(255, 0, 0), 0};
        r.pixels = QByteArray::fromHex("0201 03");
        QTest::newRow("RLE8, cut inside a run") << r.bytes() << picture({{R, R, R, R}, {K, K, R, R}});
    }
    void variants()
    {
        QFETCH(QByteArray, file);
        QFETCH(QImage, expected);
        const auto loaded = loadBoth(file);
        QCOMPARE(std::holds_alternative<int>(loaded) ? std::get<int>(loaded) : 0, 0);
        QCOMPARE(describe(std::get<Picture>(loaded)), describe(expected));
    }

    void invalidFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("error");
        const int bad = RuntimeError::InvalidPicture;
        Bmp ok;
        ok.width = 3, ok.height = 2, ok.pixels = QByteArray(24, 'x');
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && QImage(2, 2, QImage::Format_RGB32).save(&buffer, "PNG"));
        QTest::newRow("empty") << QByteArray() << bad;
        QTest::newRow("text") << QByteArray("BM is not a picture\n") << bad;
        QTest::newRow("PNG") << png << bad;
        QTest::newRow("header cut short") << ok.bytes().left(30) << bad;
        QTest::newRow("pixels cut short") << ok.bytes().chopped(4) << bad;
        QTest::newRow("no pixels") << ok.bytes().left(54) << bad;
        const auto with = [&](const std::function<void(Bmp&)>& change) {
            Bmp b = ok;
            change(b);
            return b.bytes();
        };
        QTest::newRow("header size 66") << with([](Bmp& b) { b.infoSize = 66; }) << bad;
        QTest::newRow("2 planes") << with([](Bmp& b) { b.planes = 2; }) << bad;
        QTest::newRow("bit count 30000") << with([](Bmp& b) { b.bitCount = 30000; }) << bad;
        QTest::newRow("width 0") << with([](Bmp& b) { b.width = 0; }) << bad;
        QTest::newRow("width negative") << with([](Bmp& b) { b.width = -3; }) << bad;
        QTest::newRow("height 0") << with([](Bmp& b) { b.height = 0; }) << bad;
        QTest::newRow("height INT_MIN") << with([](Bmp& b) { b.height = INT_MIN; }) << bad;
        QTest::newRow("JPEG inside") << with([](Bmp& b) { b.compression = 4; }) << bad;
        QTest::newRow("RLE8 with 24 bits") << with([](Bmp& b) { b.compression = 1; }) << bad;
        QTest::newRow("no room for a palette") << with([](Bmp& b) { b.bitCount = 8, b.offBits = 54; }) << bad;
        QTest::newRow("huge 24-bit claim") << with([](Bmp& b) { b.width = b.height = 1 << 30; }) << bad;
        QTest::newRow("huge RLE claim") << with([](Bmp& b) {
            b.width = b.height = 50000, b.bitCount = 8, b.compression = 1, b.palette = {0};
        }) << bad;
        QTest::newRow("top-down RLE") << with([](Bmp& b) {
            b.height = -2, b.bitCount = 8, b.compression = 1, b.palette = {0}, b.pixels = QByteArray("\0\1", 2);
        }) << bad;
    }
    void invalidFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, error);
        const auto loaded = loadBoth(file);
        QVERIFY(std::holds_alternative<int>(loaded));
        QCOMPARE(std::get<int>(loaded), error);
    }

    void tooLargeToHold_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bits");
        QTest::newRow("500 MP, 24-bit") << 25000 << 20000 << 24;
        QTest::newRow("289 MP, 8-bit") << 17000 << 17000 << 8;
    }
    void tooLargeToHold()
    {
        // A complete file (sparse: it takes no disk) for more pixels than
        // the program holds is refused before any pixel is read.
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bits);
        QTemporaryDir dir;
        const QString path = dir.filePath("big.bmp");
        Bmp b;
        b.width = width, b.height = height, b.bitCount = quint16(bits);
        if (bits == 8)
            b.palette = {0};
        writeFile(path, b.bytes());
        QVERIFY(QFile::resize(path, 1100 + qint64((width * bits / 8 + 3) & ~3) * height));
        QCOMPARE(errorOf([&] { LoadPicture(path); }), int(RuntimeError::OutOfMemory));
    }

    void loadErrors_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("error");
        QTest::newRow("missing file") << "missing" << int(RuntimeError::FileNotFound);
        QTest::newRow("missing folder") << "nofolder/p.bmp" << int(RuntimeError::PathNotFound);
        QTest::newRow("file as folder") << "file/p.bmp" << int(RuntimeError::PathNotFound);
        QTest::newRow("folder") << "." << int(RuntimeError::PermissionDenied);
        QTest::newRow("unreadable") << "unreadable" << int(RuntimeError::PermissionDenied);
    }
    void loadErrors()
    {
        QFETCH(QString, what);
        QFETCH(int, error);
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()), 0755) == 0);
        writeFile(dir.filePath("file"), "x");
        writeFile(dir.filePath("unreadable"), encodeBmp(picture({{0}})));
        QVERIFY(QFile::setPermissions(dir.filePath("unreadable"), QFileDevice::WriteOwner));
        AsNobody nobody;
        if (what == "unreadable" && ::geteuid() == 0)
            QSKIP("root reads any file and can't switch to an ordinary user here");
        QCOMPARE(errorOf([&] { LoadPicture(dir.filePath(what)); }), error);
    }

    void saveAndLoad_data()
    {
        QTest::addColumn<QSize>("size");
        // The big ones: many reads per picture; rows wider than a read; pages
        // mapped by a second thread.
        for (const QSize s : {QSize(1, 1), QSize(2, 1), QSize(3, 3), QSize(5, 2), QSize(1, 7),
                              QSize(1001, 700), QSize(400001, 2), QSize(2100, 2000)})
            QTest::newRow(qPrintable(QString("%1x%2").arg(s.width()).arg(s.height()))) << s;
    }
    void saveAndLoad()
    {
        QFETCH(QSize, size);
        Picture p(size, kPictureFormat);
        auto* px = reinterpret_cast<quint32*>(p.bits());
        for (qsizetype i = 0; i < p.sizeInBytes() / 4; ++i)
            px[i] = 0xff000000 | QRandomGenerator::global()->generate();
        QTemporaryDir dir;
        const QString path = dir.filePath("p.bmp");
        SavePicture(p, path);
        const QByteArray file = readFile(path);
        const qint64 rowBytes = (size.width() * 3 + 3) / 4 * 4;
        QCOMPARE(file.size(), 54 + rowBytes * size.height());
        QCOMPARE(file.mid(28, 6), QByteArray("\x18\0\0\0\0\0", 6)); // 24 bits, uncompressed
        QCOMPARE(LoadPicture(path), p);
        QCOMPARE(QImage(path, "bmp").convertToFormat(kPictureFormat), p); // as another reader sees it
        for (qint64 y = 0; y < size.height(); ++y) // padding is zero
            QCOMPARE(file.mid(54 + y * rowBytes + size.width() * 3, rowBytes - size.width() * 3),
                     QByteArray(rowBytes - size.width() * 3, '\0'));
        // 32-bit files, read by the same fast path in pieces.
        Bmp b;
        b.width = size.width(), b.height = -size.height(), b.bitCount = 32;
        b.pixels = QByteArray::fromRawData(reinterpret_cast<const char*>(px), p.sizeInBytes());
        const Picture rgbx = p.rgbSwapped().convertToFormat(kPictureFormat);
        QCOMPARE(std::get<Picture>(loadBoth(b.bytes())), rgbx);
    }

    void saveReplacesAndKeepsPermissions_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("0640") << 0640;
        QTest::newRow("0444, writable by root only") << 0444;
    }
    void saveReplacesAndKeepsPermissions()
    {
        QFETCH(int, mode);
        const bool root = ::geteuid() == 0;
        if (!(mode & 0200) && !root)
            QSKIP("only root may replace a read-only file");
        QTemporaryDir dir;
        const QString path = dir.filePath("p.bmp");
        writeFile(path, "old");
        QVERIFY(::chmod(QFile::encodeName(path), mode_t(mode)) == 0);
        if (root)
            QVERIFY(::chown(QFile::encodeName(path), 65534, 65534) == 0);
        const Picture p = picture({{0x123456, 0xabcdef}});
        SavePicture(p, path);
        QCOMPARE(LoadPicture(path), p);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(path), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(mode));
        if (root)
            QCOMPARE(st.st_uid, uid_t(65534));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"p.bmp"});
    }

    void saveFailures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("error");
        QTest::newRow("missing folder") << "missing folder" << int(RuntimeError::PathNotFound);
        QTest::newRow("folder is a file") << "folder is a file" << int(RuntimeError::PathNotFound);
        QTest::newRow("target is a folder") << "target is a folder" << int(RuntimeError::PermissionDenied);
        QTest::newRow("read-only folder") << "read-only folder" << int(RuntimeError::PermissionDenied);
        QTest::newRow("read-only file") << "read-only file" << int(RuntimeError::PermissionDenied);
        QTest::newRow("read-only file system") << "read-only file system" << int(RuntimeError::PermissionDenied);
        QTest::newRow("disk full") << "disk full" << int(RuntimeError::DiskFull);
        QTest::newRow("file size limit") << "file size limit" << int(RuntimeError::DiskFull);
        QTest::newRow("null picture") << "null picture" << int(RuntimeError::InvalidPicture);
    }
    void saveFailures()
    {
        QFETCH(QString, how);
        QFETCH(int, error);
        QTemporaryDir dir;
        QString folder = dir.filePath("f");
        QVERIFY(QDir().mkdir(folder));
        const bool mounting = how == "disk full" || how == "read-only file system";
        if (mounting) {
            if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(folder), "tmpfs", 0, "size=64k") != 0)
                QSKIP("needs root to mount a small file system");
        }
        const auto unmount = qScopeGuard([&] { if (mounting) ::umount(QFile::encodeName(folder)); });
        QString path = folder + "/p.bmp";
        const QByteArray old = encodeBmp(picture({{1, 2}, {3, 4}}));
        writeFile(path, old);
        Picture p(300, 300, kPictureFormat); // 270 kB: more than the small file system holds
        p.fill(0xff808080);

        if (how == "missing folder")
            path = folder + "/missing/p.bmp";
        if (how == "folder is a file")
            path += "/p.bmp";
        if (how == "target is a folder")
            path = folder;
        if (how == "read-only file system")
            QVERIFY(::mount(nullptr, QFile::encodeName(folder), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        if (how == "null picture")
            p = Picture();
        // Root writes anywhere: the permission cases run as an ordinary user.
        QVERIFY(::chmod(QFile::encodeName(dir.path()), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder), how == "read-only folder" ? 0555 : 0777) == 0
                || how == "read-only file system");
        if (how == "read-only file")
            QVERIFY(::chmod(QFile::encodeName(path), 0444) == 0);
        std::optional<AsNobody> nobody;
        if ((how == "read-only folder" || how == "read-only file") && ::geteuid() == 0) {
            nobody.emplace();
            if (!nobody->active)
                QSKIP("root can't switch to an ordinary user here");
        }
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit oldLimit = limit;
        if (how == "file size limit") {
            ::signal(SIGXFSZ, SIG_IGN);
            limit.rlim_cur = 64 * 1024;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        }
        const int raised = errorOf([&] { SavePicture(p, path); });
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
        nobody.reset();
        QCOMPARE(raised, error);
        QCOMPARE(readFile(folder + "/p.bmp"), old);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"p.bmp"});
    }

    void toPictureConverts()
    {
        QVERIFY(toPicture(QImage()).isNull());
        QImage argb(2, 1, QImage::Format_ARGB32); // straight colours survive, alpha goes
        argb.setPixel(0, 0, 0x00ff8040), argb.setPixel(1, 0, 0x80102030);
        QCOMPARE(describe(toPicture(argb)), QString("ff8040 102030"));
        QImage indexed(2, 1, QImage::Format_Indexed8);
        indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6)});
        indexed.setPixel(0, 0, 1), indexed.setPixel(1, 0, 0);
        QCOMPARE(describe(toPicture(indexed)), QString("040506 010203"));
    }
};

QTEST_GUILESS_MAIN(TestPictureFiles)
#include "test_picture_files.moc"
