// Speed and memory of the program's heavy paths, each as a ratio to a plain
// operation measured in the same run.
//
//   penumbrix-bench            every figure (needs ~3 GB of memory and disk)
//   penumbrix-bench --quick    the 24-megapixel figures only

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "bench_util.h"
#include "engine/pixel_transform.h"
#include "images/document.h"
#include "picture_files_bench.h"
#include "platform/memory.h"
#include "platform/picture.h"
#include "platform/scratch_file.h"
#include "platform/surfaces.h"

using namespace penumbrix;
using penumbrix::bench::bestMs;
using penumbrix::bench::makePicture;

namespace {

const AdjustmentSettings kSettings{100, 140, 160, 150, 110, 64, 9};

// The main window's slots, services that answer at once, and folders of
// its own: enough to run the document's operations as the window does.
struct Program {
    QTemporaryDir root;
    QWidget client;
    ImageView image1{&client};
    ImageView image2{&client};
    DrawingSurface picture2{&client, DrawingSurface::Border::Sunken};
    DrawingSurface picture1{&client};

    struct Ok : MessageService {
        int show(const QString&, MessageButtons) override { return kMessageOk; }
    } messages;
    struct Chooser : OpenDialog {
        QString path;
        std::optional<QString> showOpen(const QString&, const QString&) override { return path; }
    } dialog;
    struct Pointer : BusyPointer {
        bool busy = false;
        void setBusy(bool b) override { busy = b; }
    } pointer;
    std::unique_ptr<Document> doc;

    explicit Program(const QString& folder)
    {
        client.resize(562, 472);
        image1.setGeometry(8, 48, 217, 217);
        image2.setGeometry(336, 48, 217, 217);
        picture2.move(368, 304);
        picture1.move(592, 352);
        ProgramPaths paths;
        paths.installFolder = root.filePath(QStringLiteral("share"));
        paths.dataFolder = folder + QStringLiteral("/data");
        QDir().mkpath(paths.installFolder);
        QFile::copy(QStringLiteral(PENUMBRIX_PLACEHOLDER), paths.placeholder());
        doc = std::make_unique<Document>(ImageSlots{image1, image2, picture2, picture1},
                                         DocumentServices{messages, dialog, pointer}, paths,
                                         [] { return kSettings; });
        doc->startUp();
    }
    void open(const QString& path)
    {
        dialog.path = path;
        doc->open();
    }
};

long peakResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void benchKernel(int width, int height)
{
    const std::size_t count = std::size_t(width) * height;
    std::vector<std::uint32_t> a(count), b(count);
    for (std::size_t i = 0; i < count; ++i)
        a[i] = 0xFF000000u | std::uint32_t(i * 2654435761u & 0xFFFFFF);
    b = a;
    const double copy = bestMs(7, [&] { std::memcpy(b.data(), a.data(), count * 4); });
    const double kernel = bestMs(7, [&] { transformGrid(a.data(), width, height, width, kSettings); });
    std::printf("transformGrid %dx%d (%.1f MP): %.2f ms; memcpy of the same %.0f MB: %.2f ms; ratio %.2f\n", width,
                height, count / 1e6, kernel, count * 4 / 1e6, copy, kernel / copy);
}

// Apply pass, from the source picture to the result view, work file included.
double applyMs(const QString& folder, int width, int height, int runs)
{
    const QString path = folder + QStringLiteral("/apply.bmp");
    SavePicture(makePicture(width, height), path);
    Program program(folder);
    program.open(path);
    const double ms = bestMs(runs, [&] { program.doc->apply(); });
    QFile::remove(path);
    return ms;
}

void benchApplyScaling(const QString& folder, const std::vector<QSize>& sizes)
{
    std::printf("apply pass, milliseconds per megapixel:\n");
    double lo = 1e300, hi = 0;
    for (const QSize& s : sizes) {
        const double mp = double(s.width()) * s.height() / 1e6;
        // Small pictures take a few milliseconds: more runs to see past the noise.
        const double ms = applyMs(folder, s.width(), s.height(), mp > 50 ? 2 : mp > 10 ? 3 : 10);
        const double perMp = ms / mp;
        lo = std::min(lo, perMp);
        hi = std::max(hi, perMp);
        std::printf("  %5.0f MP (%dx%d): %8.1f ms, %.2f ms/MP\n", mp, s.width(), s.height(), ms, perMp);
    }
    std::printf("  spread of ms/MP: %.2fx (largest / smallest)\n", hi / lo);
}

void benchAgainstImageMagick(const QString& folder, int width, int height)
{
    const QString path = folder + QStringLiteral("/photo.bmp");
    SavePicture(makePicture(width, height), path);
    Program program(folder);
    const double open = bestMs(3, [&] { program.open(path); });
    const double apply = bestMs(3, [&] { program.doc->apply(); });
    std::printf("open (both loads and both views) %dx%d: %.1f ms; apply pass: %.1f ms\n", width, height, open, apply);
    {
        // Where an apply pass spends its time, step by step.
        DrawingSurface& work = program.picture1;
        const QString workFile = program.doc->paths().workFile();
        Picture loaded;
        const double transform = bestMs(3, [&] {
            work.setPicture(program.image1.picture());
            work.setAutoRedraw(true);
            work.mapRows(work.readableRect(), [](const std::uint32_t* from, std::ptrdiff_t fromStride,
                                                 std::uint32_t* to, std::ptrdiff_t toStride, int w, int h) {
                transformGridInto(from, fromStride, to, toStride, w, h, kSettings);
            });
            work.setAutoRedraw(false);
        });
        const double save = bestMs(3, [&] { SaveScratchPicture(work.image(), workFile); });
        const double load = bestMs(3, [&] { loaded = LoadPicture(workFile); });
        const double view = bestMs(3, [&] { program.image2.setPicture(loaded); });
        std::printf("  apply steps: copy and transform %.1f ms, save work file %.1f ms, load it back %.1f ms, "
                    "result view %.1f ms\n",
                    transform, save, load, view);
    }

    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        std::printf("ImageMagick is not installed: no comparison (apt-get install imagemagick)\n");
        QFile::remove(path);
        return;
    }
    const QStringList args{path, QStringLiteral("-color-matrix"),
                           QStringLiteral("1 0 0 0 0 0.1  0 1 0 0 0 0.1  0 0 1 0 0 0.1  0 0 0 1 0 0  0 0 0 0 1 0  "
                                          "0 0 0 0 0 1"),
                           QStringLiteral("BMP3:") + folder + QStringLiteral("/im.bmp")};
    const double im = bestMs(2, [&] {
        QProcess p;
        p.start(convert, args);
        p.waitForFinished(-1);
    });
    std::printf("ImageMagick route (convert in.bmp -color-matrix ... BMP3:out.bmp): %.1f ms\n", im);
    std::printf("  ImageMagick / apply pass: %.1fx faster; ImageMagick / open: %.1fx faster\n", im / apply, im / open);
    QFile::remove(folder + QStringLiteral("/im.bmp"));
    QFile::remove(path);
}

void benchViews(const QString& folder)
{
    for (const QSize s : {QSize(1000, 1000), QSize(10000, 10000)}) {
        Q_UNUSED(folder);
        ImageView view;
        view.resize(217, 217);
        const Picture picture = makePicture(s.width(), s.height());
        const double assign = bestMs(3, [&] { view.setPicture(picture); });
        QImage target(217, 217, QImage::Format_RGB32);
        const double paint = bestMs(20, [&] { view.render(&target); });
        std::printf("image view, %.0f MP picture: assignment (scaled copy) %.2f ms, repaint %.3f ms\n",
                    s.width() * double(s.height()) / 1e6, assign, paint);
    }
}

// Run in a child process, so that its peak resident size is its own.
int memoryChild(const QString& folder, int width, int height)
{
    const QString path = folder + QStringLiteral("/memory.bmp");
    const long before = peakResidentKb();
    Program program(folder);
    program.open(path);
    program.doc->copyToPreview();
    program.doc->preview();
    program.doc->apply();
    const long afterApply = peakResidentKb();
    program.doc->save();
    const long afterSave = peakResidentKb();
    const double pictureMb = double(width) * height * 4 / (1024 * 1024);
    std::printf("  %dx%d (%.0f MB at 4 bytes a pixel): peak %.0f MB after open, preview and apply (%.2fx the "
                "picture; %.0f MB before the program started work); %.0f MB after save\n",
                width, height, pictureMb, afterApply / 1024.0, afterApply / 1024.0 / pictureMb, before / 1024.0,
                afterSave / 1024.0);
    return 0;
}

void benchMemory(const QString& self, const QString& folder, const std::vector<QSize>& sizes)
{
    std::printf("memory, peak resident size of a fresh process that opens, previews, applies and saves:\n");
    std::fflush(stdout);
    for (const QSize& s : sizes) {
        const QString path = folder + QStringLiteral("/memory.bmp");
        SavePicture(makePicture(s.width(), s.height()), path);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(self, {QStringLiteral("--memory-child"), folder, QString::number(s.width()),
                           QString::number(s.height())});
        child.waitForFinished(-1);
        QFile::remove(path);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!app.arguments().contains(QLatin1String("--no-reuse")))
        keepPictureMemoryForReuse(); // as the program does
    const QStringList args = app.arguments();
    if (args.size() >= 5 && args[1] == QLatin1String("--memory-child"))
        return memoryChild(args[2], args[3].toInt(), args[4].toInt());
    if (args.contains(QLatin1String("--help"))) {
        std::printf("usage: penumbrix-bench [--quick] [--folder DIR]\n");
        return 0;
    }
    const bool quick = args.contains(QLatin1String("--quick"));
    QTemporaryDir temp;
    QString folder = temp.path();
    if (const int i = args.indexOf(QLatin1String("--folder")); i > 0 && i + 1 < args.size())
        folder = args[i + 1];

    const int w = 6000, h = 4000; // 24 megapixels
    benchKernel(w, h);
    benchPictureFiles(folder, w, h);
    benchAgainstImageMagick(folder, w, h);
    if (quick) {
        benchApplyScaling(folder, {QSize(w, h)});
        benchMemory(app.applicationFilePath(), folder, {QSize(w, h)});
    } else {
        benchApplyScaling(folder, {QSize(1000, 1000), QSize(3000, 2000), QSize(w, h), QSize(12500, 8000)});
        benchMemory(app.applicationFilePath(), folder, {QSize(w, h), QSize(12500, 8000)});
    }
    benchViews(folder);
    return 0;
}
