#include "bench/picture_files_bench.h"

#include "platform/bmp_codec.h"
#include "platform/picture.h"
#include "platform/runtime_error.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace penumbrix {
namespace {

constexpr int kRuns = 5;

// Best time of kRuns, in milliseconds.
template <typename F>
double best(F run)
{
    double fastest = 1e300;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        fastest = std::min(fastest, double(timer.nsecsElapsed()) / 1e6);
    }
    return fastest;
}

Picture synthetic(int width, int height)
{
    Picture picture(width, height, kPictureFormat);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | quint32(x * 7 + y) << 16 | quint32(x ^ y) << 8 | quint32(x + y * 3);
    }
    return picture;
}

} // namespace

void benchPictureFiles(const QString& folder, int width, int height)
{
    const QString path = QDir(folder).filePath(QStringLiteral("penumbrix-bench.bmp"));
    const QString plainPath = QDir(folder).filePath(QStringLiteral("penumbrix-bench-plain.bin"));
    try {
        const Picture picture = synthetic(width, height);
        SavePicture(picture, path);
        const qint64 bytes = encodedBmpSize(width, height);
        std::printf("picture files: %dx%d, %.1f MB BMP in %s\n", width, height, double(bytes) / 1e6,
                    qPrintable(folder));

        // Loading, from a warm page cache.
        const std::unique_ptr<char[]> buffer(new char[size_t(bytes)]);
        const auto plainRead = [&] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly) || file.read(buffer.get(), bytes) != bytes)
                std::printf("  plain read failed\n");
        };
        plainRead();
        const double readAllMs = best([&] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly) || file.readAll().size() != bytes)
                std::printf("  plain read failed\n");
        });
        const double readMs = best(plainRead);
        const double loadMs = best([&] {
            if (LoadPicture(path).size() != picture.size())
                std::printf("  load gave a different size\n");
        });
        std::printf("  load  %8.1f ms   plain read %7.1f ms (readAll %.1f ms)   ratio %.2f\n", loadMs,
                    readMs, readAllMs, loadMs / readMs);

        // Saving over the file, each with the same flush and rename.
        const double writeMs = best([&] {
            QSaveFile file(plainPath);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
                || file.write(buffer.get(), bytes) != bytes || !file.commit())
                std::printf("  plain write failed\n");
        });
        const double saveMs = best([&] { SavePicture(picture, path); });
        std::printf("  save  %8.1f ms   plain write %6.1f ms                     ratio %.2f\n",
                    saveMs, writeMs, saveMs / writeMs);
    } catch (const RuntimeError& e) {
        std::printf("picture files: %s\n", e.what());
    }
    QFile::remove(path);
    QFile::remove(plainPath);
}

} // namespace penumbrix
