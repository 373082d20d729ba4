#include "bench/picture_files_bench.h"
#include "bench/bench_util.h"

#include "platform/bmp_codec.h"
#include "platform/picture.h"
#include "platform/runtime_error.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace penumbrix {
namespace {

constexpr int kRuns = 5;

double best(const std::function<void()>& run) { return bench::bestMs(kRuns, run); }

} // namespace

void benchPictureFiles(const QString& folder, int width, int height)
{
    const QString path = QDir(folder).filePath(QStringLiteral("penumbrix-bench.bmp"));
    const QString plainPath = QDir(folder).filePath(QStringLiteral("penumbrix-bench-plain.bin"));
    try {
        const Picture picture = bench::makePicture(width, height);
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
