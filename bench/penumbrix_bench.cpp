// The whole job (read a 24-bit BMP, apply the settings, write a 24-bit BMP),
// for the program and for the peers a user could pick instead, like for
// like: each contender in a fresh process, timed inside it, cold (its first
// job) and warm (the jobs after it), contenders interleaved; every peer's
// output checked pixel for pixel against the program's.
//
//   penumbrix-bench [--quick] [--runs N] [--folder DIR] [--batch | --no-batch] [--as-root]
//
// --quick leaves out the 100-megapixel picture of the scaling figure. The
// batch figures (penumbrix --apply on folders of pictures against its peers)
// come last; --batch runs them alone, --no-batch leaves them out.
// Started by root, the bench measures as an ordinary user all the same
// (nobody), as users run the program, in a folder of that user's, unless
// --as-root asks for root's figures; it says which it measured.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "batch/batch.h"

#include "engine/parallel.h"
#include "engine/pixel_transform.h"
#include "document/document.h"
#include "pictures/memory.h"
#include "pictures/picture_files.h"
#include "widgets/surfaces.h"

using namespace penumbrix;

namespace {

// red, green, blue, light, contrast, range, czoom
const AdjustmentSettings kSettings{100, 140, 160, 150, 110, 64, 9};
constexpr int kWarmJobs = 3; // jobs after the cold one, in the same process

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A picture whose neighbouring pixels all differ; one pixel in 256 has no blue.
Picture makePicture(int width, int height, quint32 seed = 0)
{
    QImage image(width, height, kPictureFormat);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000u | ((quint32(x) * 2654435761u + quint32(y) * 40503u + seed * 97u) & 0xFFFFFFu);
    }
    return image;
}

// --- the contenders' child processes -----------------------------------------

// The main window's slots, services that answer at once, and folders of its
// own: the document's operations run as the window runs them.
struct Program {
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
        void setBusy(bool) override {}
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
        paths.installFolder = folder + QStringLiteral("/share");
        paths.dataFolder = folder + QStringLiteral("/data");
        QDir().mkpath(paths.installFolder);
        QFile::copy(QStringLiteral(PENUMBRIX_PLACEHOLDER), paths.placeholder());
        doc = std::make_unique<Document>(ImageSlots{image1, image2, picture2, picture1},
                                         DocumentServices{messages, dialog, pointer}, paths,
                                         [] { return kSettings; });
        doc->startUp();
    }
};

// Open, apply and save through the document; the job's file is a fresh copy
// of `pristine` each time (the copy is not timed; the parent makes the first).
int programChild(const QString& folder, const QString& pristine, const QString& file, int jobs)
{
    Program program(folder);
    for (int j = 0; j < jobs; ++j) {
        if (j > 0 && (!QFile::remove(file) || !QFile::copy(pristine, file)))
            return 1;
        ::sync(); // every job starts with nothing waiting to be written
        const auto start = std::chrono::steady_clock::now();
        program.dialog.path = file;
        program.doc->open();
        const double open = msSince(start);
        program.doc->apply();
        const double apply = msSince(start);
        program.doc->save();
        const double all = msSince(start);
        std::printf("%.3f\n", all);
        std::fprintf(stderr, "steps %.1f %.1f %.1f\n", open, apply - open, all - apply);
        if (j == 0)
            std::printf("peak %ld\n", statusKb("VmHWM:"));
        std::fflush(stdout);
    }
    return 0;
}

// The peak memory of a process that also previews: open, copy to the preview
// surface, preview, apply, save.
int memoryChild(const QString& folder, const QString& file)
{
    Program program(folder);
    program.dialog.path = file;
    program.doc->open();
    program.doc->copyToPreview();
    program.doc->preview();
    program.doc->apply();
    program.doc->save();
    std::printf("peak %ld\n", statusKb("VmHWM:"));
    return 0;
}

int floorChild(const QString& in, const QString& out, int jobs)
{
    constexpr std::int64_t kPart = std::int64_t(4) << 20, kPiece = std::int64_t(256) << 10;
    for (int j = 0; j < jobs; ++j) {
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        const int fd = ::open(QFile::encodeName(in).constData(), O_RDONLY | O_CLOEXEC);
        const qint64 size = ::lseek(fd, 0, SEEK_END);
        const Buffer bytes(size);
        std::atomic<bool> ok{true};
        inParts(size, kPart, [&](std::int64_t begin, std::int64_t end) {
            if (::pread(fd, bytes.get() + begin, size_t(end - begin), begin) != end - begin)
                ok = false;
        });
        ::close(fd);
        const Buffer copy(size);
        inParts(size, kPart, [&](std::int64_t begin, std::int64_t end) {
            std::memcpy(copy.get() + begin, bytes.get() + begin, size_t(end - begin));
        });
        const QByteArray temp = QFile::encodeName(out + QStringLiteral(".tmp"));
        const int o = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        // As the program's save writes: 256 KiB at a time, the disk started
        // on each piece at once.
        inParts(size, kPart, [&](std::int64_t begin, std::int64_t end) {
            for (std::int64_t at = begin; at < end; at += kPiece) {
                const std::int64_t n = std::min(kPiece, end - at);
                if (::pwrite(o, copy.get() + at, size_t(n), at) != n)
                    ok = false;
                ::sync_file_range(o, at, n, SYNC_FILE_RANGE_WRITE);
            }
        });
        // The file replaced is let go of after the timing, as the program
        // lets go of it on a thread of its own.
        const int replaced = ::open(QFile::encodeName(out).constData(), O_RDONLY | O_CLOEXEC);
        if (!ok || ::fsync(o) != 0 || ::close(o) != 0
            || ::rename(temp.constData(), QFile::encodeName(out).constData()) != 0)
            return 1;
        std::printf("%.3f\n", msSince(start));
        std::fflush(stdout);
        if (replaced >= 0)
            ::close(replaced);
    }
    return 0;
}

// The floor of a batch: a fresh process that, on `jobs` threads, reads each
// file and writes its bytes to OUT under its name as the program's save
// does (a new file flushed, renamed over the name, the folder flushed). No
// converting, no rule: what the disk takes for the same durability.
int batchFloorChild(const QString& out, int jobs, const QStringList& files)
{
    constexpr off_t kPiece = off_t(256) << 10;
    const auto start = std::chrono::steady_clock::now();
    std::atomic<int> next{0};
    std::atomic<bool> ok{true};
    const int folder = ::open(QFile::encodeName(out).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto work = [&] {
        std::vector<char> bytes(kPiece);
        for (int i; (i = next++) < files.size();) {
            const int in = ::open(QFile::encodeName(files[i]).constData(), O_RDONLY | O_CLOEXEC);
            const off_t size = in < 0 ? -1 : ::lseek(in, 0, SEEK_END);
            const QByteArray name = QFile::encodeName(QFileInfo(files[i]).fileName());
            const int o = ::openat(folder, (name + ".tmp").constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            bool written = size >= 0 && o >= 0;
            // As the program's batch reads and writes: 256 KiB at a time through one buffer, the disk started on
            // each piece at once.
            for (off_t at = 0; written && at < size; at += kPiece) {
                const off_t n = std::min<off_t>(kPiece, size - at);
                written = ::pread(in, bytes.data(), size_t(n), at) == n && ::pwrite(o, bytes.data(), size_t(n), at) == n;
                ::sync_file_range(o, at, n, SYNC_FILE_RANGE_WRITE);
            }
            if (!written || ::fsync(o) != 0
                || ::renameat(folder, (name + ".tmp").constData(), folder, name.constData()) != 0 || ::fsync(folder) != 0)
                ok = false;
            ::close(in), ::close(o);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    ::close(folder);
    std::printf("%.3f\npeak %ld\n", msSince(start), statusKb("VmHWM:"));
    return ok ? 0 : 1;
}

// Runs a command as a child of its own, timed from outside, and prints its
// milliseconds and its peak memory.
int timedChild(char** command)
{
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(command[0], command);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;
    std::printf("%.3f\npeak %ld\n", msSince(start), usage.ru_maxrss);
    return 0;
}

// --- the parent ----------------------------------------------------------------

struct Samples {
    std::vector<double> cold, warm;
    long peakKb = 0;
};

double median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
double minimum(const std::vector<double>& v) { return v.empty() ? NAN : *std::min_element(v.begin(), v.end()); }

// Runs a contender's process; its stdout lines are the jobs' milliseconds.
bool runChild(const QString& program, const QStringList& args, Samples& samples, bool timeFromOutside = false)
{
    QProcess p;
    ::sync(); // nothing of earlier contenders left to write
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::printf("  %s failed: %s\n", qPrintable(QFileInfo(program).fileName()),
                    p.readAllStandardError().left(400).constData());
        return false;
    }
    if (timeFromOutside) {
        samples.cold.push_back(timer.nsecsElapsed() / 1e6);
        return true;
    }
    int job = 0;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (line.startsWith("peak "))
            samples.peakKb = std::max(samples.peakKb, line.mid(5).toLong());
        else if (!line.isEmpty())
            (job++ == 0 ? samples.cold : samples.warm).push_back(line.toDouble());
    }
    return job > 0 || samples.peakKb > 0;
}

// Pixels of `result` whose colour value differs from that of `source`, or
// from the rule applied to it; every pixel when the sizes differ.
qint64 differing(const QString& source, const QString& result, bool rule)
{
    const Picture s = LoadPicture(source), r = LoadPicture(result);
    if (s.size() != r.size())
        return qint64(s.width()) * s.height();
    qint64 differ = 0;
    for (int y = 0; y < s.height(); ++y) {
        const auto* rs = reinterpret_cast<const quint32*>(s.constScanLine(y));
        const auto* rr = reinterpret_cast<const quint32*>(r.constScanLine(y));
        for (int x = 0; x < s.width(); ++x) {
            const std::uint32_t v = rs[x] & 0xFFFFFFu;
            differ += (rule ? std::uint32_t(pixelTransform(std::int32_t(v), kSettings)) : v) != (rr[x] & 0xFFFFFFu);
        }
    }
    return differ;
}

// The pixels in which two pictures differ; -2 when they can't be compared.
qint64 differingPixels(const QString& a, const QString& b)
{
    try {
        return differing(a, b, false);
    } catch (const std::exception& e) {
        std::printf("  can't compare: %s\n", e.what());
        return -2;
    }
}

QString findPython()
{
    for (const QString& candidate : {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable(QStringLiteral("python3"))}) {
        if (candidate.isEmpty())
            continue;
        QProcess p;
        p.start(candidate, {QStringLiteral("-c"), QStringLiteral("import cv2")});
        if (p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return candidate;
    }
    return {};
}

QString findImageMagick()
{
    // ImageMagick 7 calls it magick; 6 calls it convert (which may be a wrapper).
    for (const QString& name : {QStringLiteral("magick"), QStringLiteral("convert")}) {
        for (const QString& dir : {QStringLiteral("/usr/bin"), QString()}) {
            const QString exe = dir.isEmpty() ? QStandardPaths::findExecutable(name) : dir + QLatin1Char('/') + name;
            if (exe.isEmpty() || !QFileInfo(exe).isExecutable())
                continue;
            QProcess p;
            p.start(exe, {QStringLiteral("-version")});
            if (p.waitForFinished(-1) && p.readAllStandardOutput().contains("ImageMagick"))
                return exe;
        }
    }
    return {};
}

QString percentOf255(double v) { return QString::number(v / 255.0 * 100.0, 'g', 17) + QLatin1Char('%'); }

// ImageMagick's exact command: each channel offset with -evaluate (clamped),
// the cut-off as the union of -threshold masks of blue and green, multiplied
// in. The mask needs a threshold with no red part and no blue part, as here.
QStringList imageMagickArgs(const QString& in, const QString& out)
{
    const AdjustmentSettings& s = kSettings;
    const int common = (s.vsLIGHT - 128) + (s.vsContrast - 128);
    const int offsets[3] = {s.vsRed - 128 + common, s.vsGreen - 128 + common, s.vsBlue - 128 + common};
    const std::int32_t t = cutoffThreshold(s);
    Q_ASSERT(s.vsContrast > 0 && (t & 0xFF) == 0 && (t >> 16) == 0);
    QStringList a{in, QStringLiteral("(") , QStringLiteral("-clone"), QStringLiteral("0")};
    const char* channels[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c)
        a << QStringLiteral("-channel") << QLatin1String(channels[c]) << QStringLiteral("-evaluate")
          << (offsets[c] < 0 ? QStringLiteral("subtract") : QStringLiteral("add")) << percentOf255(std::abs(offsets[c]));
    a << QStringLiteral("+channel") << QStringLiteral(")");
    // Kept: any blue (B > 0), or green at or above the threshold's green byte.
    a << QStringLiteral("(") << QStringLiteral("-clone") << QStringLiteral("0") << QStringLiteral("-channel")
      << QStringLiteral("B") << QStringLiteral("-separate") << QStringLiteral("+channel") << QStringLiteral("-threshold")
      << percentOf255(0.5) << QStringLiteral(")");
    a << QStringLiteral("(") << QStringLiteral("-clone") << QStringLiteral("0") << QStringLiteral("-channel")
      << QStringLiteral("G") << QStringLiteral("-separate") << QStringLiteral("+channel") << QStringLiteral("-threshold")
      << percentOf255((t >> 8) - 0.5) << QStringLiteral(")");
    a << QStringLiteral("(") << QStringLiteral("-clone") << QStringLiteral("2,3") << QStringLiteral("-compose")
      << QStringLiteral("lighten") << QStringLiteral("-composite") << QStringLiteral(")");
    a << QStringLiteral("-delete") << QStringLiteral("0,2,3") << QStringLiteral("-compose") << QStringLiteral("multiply")
      << QStringLiteral("-composite") << QStringLiteral("-type") << QStringLiteral("TrueColor")
      << QStringLiteral("BMP3:") + out;
    return a;
}

QStringList settingArgs()
{
    const AdjustmentSettings& s = kSettings;
    QStringList a;
    for (int v : {s.vsRed, s.vsGreen, s.vsBlue, s.vsLIGHT, s.vsContrast, s.vsRange, s.vsCzoom})
        a << QString::number(v);
    return a;
}

void printSamples(const char* name, const Samples& s)
{
    std::printf("  %-12s cold median %8.1f ms  min %8.1f ms", name, median(s.cold), minimum(s.cold));
    if (!s.warm.empty())
        std::printf("   warm median %8.1f ms  min %8.1f ms", median(s.warm), minimum(s.warm));
    else
        std::printf("   warm: one process per job, no warm figure");
    std::printf("\n");
}

void copyFresh(const QString& from, const QString& to)
{
    QFile::remove(to);
    QFile::copy(from, to);
}

// A peer's figures and whether its output equals the program's, or how to
// install it.
void reportPeer(const char* name, bool installed, const char* package, const Samples& samples, const QString& job,
                const QString& output, const QString& how)
{
    if (!installed) {
        std::printf("  %s: not installed, skipped (apt-get install %s)\n", name, package);
        return;
    }
    printSamples(name, samples);
    const qint64 d = differingPixels(job, output);
    const QString exact = d == 0 ? QStringLiteral("exact: every pixel equals the program's")
                                 : QStringLiteral("NOT exact: %1 pixels differ").arg(d);
    std::printf("  %s: %s; %s\n", name, qPrintable(how), qPrintable(exact));
}

// The whole job at one size for the program and its peers, `runs` fresh
// processes each.
void benchWholeJob(const QString& self, const QString& folder, int width, int height, int runs)
{
    const double mp = double(width) * height / 1e6;
    const QString pristine = folder + QStringLiteral("/in.bmp");
    const QString job = folder + QStringLiteral("/job.bmp");
    SavePicture(makePicture(width, height), pristine);
    const double pictureMb = double(width) * height * 4 / 1e6;
    std::printf("whole job, %dx%d (%.0f MP) 24-bit BMP of %.1f MB; %d runs each, interleaved%s:\n", width, height, mp,
                QFileInfo(pristine).size() / 1e6, runs, "");

    const QString python = findPython();
    const QString magick = findImageMagick();
    const QString script = QStringLiteral(PENUMBRIX_BENCH_DIR "/opencv_job.py");
    Samples program, floor, opencv, imagemagick;
    const QString out = folder + QStringLiteral("/out");
    for (int r = 0; r < runs; ++r) {
        // The program and the floor take turns at going first, after the
        // copy of the job's file: the one that goes second finds the memory
        // the other has just given back.
        copyFresh(pristine, job);
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + r) % 2 == 0) {
                runChild(self, {QStringLiteral("--program-child"), folder, pristine, job, QString::number(1 + kWarmJobs)},
                         program);
            } else {
                runChild(self, {QStringLiteral("--floor-child"), pristine, out + QStringLiteral("-floor.bmp"),
                                QString::number(1 + kWarmJobs)},
                         floor);
            }
        }
        if (!python.isEmpty())
            runChild(python,
                     QStringList{script, pristine, out + QStringLiteral("-opencv.bmp"), QString::number(1 + kWarmJobs)}
                         + settingArgs(),
                     opencv);
        if (!magick.isEmpty())
            runChild(magick, imageMagickArgs(pristine, out + QStringLiteral("-magick.bmp")), imagemagick, true);
    }
    // The last job's file holds the program's last result; the cold job's
    // result is checked below from a job of its own.
    copyFresh(pristine, job);
    Samples check;
    runChild(self, {QStringLiteral("--program-child"), folder, pristine, job, QStringLiteral("1")}, check);

    printSamples("program", program);
    const double p = median(program.cold);
    const double pictureBytesKb = double(width) * height * 4 / 1024;
    const qint64 wrong = differing(pristine, job, true);
    std::printf("  program: open, apply, save through the document, as the window runs them (work file written and "
                "loaded back; save atomic and flushed to disk); %s\n",
                wrong == 0 ? "exact to the rule, every pixel" : qPrintable(QStringLiteral("%1 pixels differ from the rule").arg(wrong)));
    printSamples("floor", floor);
    std::printf("  floor: a fresh process reads the file and copies its bytes once, on every core, both into fresh "
                "memory taken as the program takes a picture's, writes them to a temporary file as the save writes, "
                "flushes it to disk (fsync) and renames it over the target: the durability of the program's save\n");
    reportPeer("opencv", !python.isEmpty(), "python3-opencv", opencv, job, out + QStringLiteral("-opencv.bmp"),
               QStringLiteral("cv2.imread, cv2.LUT per channel, cv2.inRange masks of the threshold, cv2.imwrite; timed "
                              "inside python after the import; no flush to disk"));
    reportPeer("imagemagick", !magick.isEmpty(), "imagemagick", imagemagick, job, out + QStringLiteral("-magick.bmp"),
               QFileInfo(magick).fileName() +
                   QStringLiteral(" in.bmp, -evaluate offsets per channel, -threshold masks of blue and green, -compose "
                                  "multiply, BMP3 out; the whole command timed from outside; no flush to disk"));
    std::printf("  cold medians: the program takes %.2fx the floor's time (goal at most 1.5)", p / median(floor.cold));
    if (!python.isEmpty())
        std::printf("; it is %.2fx as fast as opencv (goal at least 2)", median(opencv.cold) / p);
    if (!magick.isEmpty())
        std::printf("; %.1fx as fast as imagemagick (goal at least 20)", median(imagemagick.cold) / p);
    std::printf("\n  warm medians: the program takes %.2fx the floor's time", median(program.warm) / median(floor.warm));
    if (!python.isEmpty())
        std::printf("; it is %.2fx as fast as opencv", median(opencv.warm) / median(program.warm));
    std::printf("\n  peak memory of the program's process (the whole process, after its cold job): %.0f MB, %.2fx the "
                "%.0f MB 32-bit picture (goal at most 3)\n",
                program.peakKb * 1.024e-3, program.peakKb / pictureBytesKb, pictureMb);
    copyFresh(pristine, job);
    Samples previewed;
    runChild(self, {QStringLiteral("--memory-child"), folder, job}, previewed);
    std::printf("  peak memory of a process that opens, copies to the preview surface, previews, applies and saves: "
                "%.0f MB, %.2fx the picture\n",
                previewed.peakKb * 1.024e-3, previewed.peakKb / pictureBytesKb);
    QFile::remove(pristine);
    QFile::remove(job);
    for (const char* name : {"-floor.bmp", "-opencv.bmp", "-magick.bmp"})
        QFile::remove(out + QLatin1String(name));
}

// The program's whole job, cold, at each size, its runs in a row: a large
// job's writing, still going on in the disk's own cache, would fall on the
// small job after it.
void benchScaling(const QString& self, const QString& folder, const std::vector<QSize>& sizes, int runs)
{
    std::printf("scaling, the whole job cold, the program and the floor taking turns (median of %d fresh processes "
                "each, size after size):\n",
                runs);
    const auto file = [&](size_t i, const char* name) {
        return folder + QStringLiteral("/%1x%2-%3").arg(sizes[i].width()).arg(sizes[i].height()).arg(QLatin1String(name));
    };
    double lo = 1e300, hi = 0, floorLo = 1e300, floorHi = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        SavePicture(makePicture(sizes[i].width(), sizes[i].height()), file(i, "in.bmp"));
        Samples program, floor;
        for (int r = 0; r < runs; ++r) {
            copyFresh(file(i, "in.bmp"), file(i, "job.bmp"));
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn + r) % 2 == 0) {
                    runChild(self, {QStringLiteral("--program-child"), folder, file(i, "in.bmp"), file(i, "job.bmp"),
                                    QStringLiteral("1")},
                             program);
                } else {
                    runChild(self, {QStringLiteral("--floor-child"), file(i, "in.bmp"), file(i, "floor.bmp"),
                                    QStringLiteral("1")},
                             floor);
                }
            }
        }
        const double mp = double(sizes[i].width()) * sizes[i].height() / 1e6;
        const double ms = median(program.cold), floorMs = median(floor.cold);
        lo = std::min(lo, ms / mp);
        hi = std::max(hi, ms / mp);
        floorLo = std::min(floorLo, floorMs / mp);
        floorHi = std::max(floorHi, floorMs / mp);
        std::printf("  %5.0f MP: program median %.1f ms, min %.1f ms, %.2f ms/MP, peak %.2fx the 32-bit picture; "
                    "floor median %.1f ms, %.2f ms/MP\n",
                    mp, ms, minimum(program.cold), ms / mp, program.peakKb * 1024.0 / (mp * 4e6), floorMs, floorMs / mp);
        for (const char* name : {"in.bmp", "job.bmp", "floor.bmp"})
            QFile::remove(file(i, name));
    }
    std::printf("  spread of ms/MP from %.0f to %.0f MP: %.2fx (goal at most 1.3); the floor's own: %.2fx\n",
                double(sizes.front().width()) * sizes.front().height() / 1e6,
                double(sizes.back().width()) * sizes.back().height() / 1e6, hi / lo, floorHi / floorLo);
}

// The kernel the apply pass runs: the source picture's rows into the work
// surface's image, against memcpy of as many bytes between the same buffers.
void benchKernel(int width, int height)
{
    const Picture source = makePicture(width, height);
    QImage target(width, height, kPictureFormat);
    const std::ptrdiff_t stride = source.bytesPerLine() / 4;
    const auto* from = reinterpret_cast<const std::uint32_t*>(source.constBits());
    auto* to = reinterpret_cast<std::uint32_t*>(target.bits());
    const auto best = [](const std::function<void()>& work) {
        double b = 1e300;
        for (int i = 0; i < 7; ++i) {
            const auto start = std::chrono::steady_clock::now();
            work();
            b = std::min(b, msSince(start));
        }
        return b;
    };
    const double copy = best([&] {
        inParts(height, 1, [&](std::int64_t begin, std::int64_t end) {
            std::memcpy(to + begin * stride, from + begin * stride, size_t((end - begin) * stride * 4));
        });
    });
    const double kernel = best([&] { transformGridInto(from, stride, to, stride, width, height, kSettings); });
    std::printf("kernel of the apply pass, transformGridInto from the picture into another image (as the apply pass "
                "runs it, on every core), %dx%d, memory already touched, best of 7: %.2f ms; memcpy of the same %.0f MB, "
                "on every core: %.2f ms; ratio %.2f\n",
                width, height, kernel, source.sizeInBytes() / 1e6, copy, kernel / copy);
}

// Who the figures are of. Root becomes an ordinary user (nobody) for the
// whole run, with a folder of that user's, unless `asRoot`: a save by root
// is not what users meet. False when that fails.
bool becomeOrdinaryUser(bool asRoot, QByteArray& folder)
{
    if (::geteuid() != 0) {
        std::printf("measured as an ordinary user (uid %u)\n", unsigned(::geteuid()));
        return true;
    }
    if (asRoot) {
        std::printf("measured as root (--as-root): a save by root, not as users run the program\n");
        return true;
    }
    const passwd* user = ::getpwnam("nobody");
    char made[] = "/tmp/penumbrix-bench-XXXXXX";
    if (!user || (folder.isEmpty() && !::mkdtemp(made)))
        return false;
    const bool ours = folder.isEmpty(); // a folder given with --folder must be writable by that user
    if (ours)
        folder = made;
    if ((ours && ::chown(folder.constData(), user->pw_uid, user->pw_gid) != 0) || ::setgroups(0, nullptr) != 0
        || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0)
        return false;
    ::setenv("HOME", folder.constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", folder.constData(), 1);
    std::printf("started by root, measured as an ordinary user (%s, uid %u), in %s; --as-root for root's figures\n",
                user->pw_name, unsigned(user->pw_uid), folder.constData());
    return true;
}

// --- the batch -----------------------------------------------------------------

// Pictures of a folder whose files differ from those of another folder of the same names.
qint64 differingFiles(const QString& a, const QString& b, const QStringList& names, bool rule)
{
    qint64 differ = 0;
    for (const QString& name : names) {
        try {
            differ += rule ? differing(a + QLatin1Char('/') + name, b + QLatin1Char('/') + name, true)
                           : differing(a + QLatin1Char('/') + name, b + QLatin1Char('/') + name, false) != 0;
        } catch (const std::exception&) {
            ++differ;
        }
    }
    return differ;
}

void emptyFolder(const QString& folder)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

// `penumbrix --apply --output` on a folder of pictures against its own one
// job at a time, OpenCV's route looping in one Python process and
// ImageMagick's command once per file; each contender a fresh process (or
// loop of them) per run, interleaved, every output checked.
void benchBatchSet(const QString& self, const QString& folder, int count, int width, int height, int runs)
{
    const double mp = double(width) * height / 1e6;
    const QString in = folder + QStringLiteral("/batch-in");
    emptyFolder(in);
    QStringList names, files;
    for (int i = 0; i < count; ++i) {
        names << QStringLiteral("p%1.bmp").arg(i, 3, 10, QLatin1Char('0'));
        files << in + QLatin1Char('/') + names.last();
        SavePicture(makePicture(width, height, quint32(i)), files.last());
    }
    const int jobs = defaultJobs(files);
    std::printf("batch, %d pictures of %dx%d (%.0f MP, %.1f MB each); %d runs each, interleaved, each a fresh "
                "process (or loop of processes) timed from outside unless said; the default --jobs here is %d:\n",
                count, width, height, mp, QFileInfo(files.first()).size() / 1e6, runs, jobs);
    QStringList settings;
    const AdjustmentSettings& s = kSettings;
    const int boxes[7] = {s.vsRed - 128, s.vsGreen - 128, s.vsBlue - 128, s.vsLIGHT - 128, s.vsContrast - 128,
                          s.vsRange - 128, s.vsCzoom};
    const char* options[7] = {"--red", "--green", "--blue", "--light", "--contrast", "--range", "--czoom"};
    for (int i = 0; i < 7; ++i)
        settings << QLatin1String(options[i]) << QString::number(boxes[i]);
    const QString python = findPython(), magick = findImageMagick();
    const QString out = folder + QStringLiteral("/batch-out");
    const QStringList outs{out + QStringLiteral("-program"), out + QStringLiteral("-one"), out + QStringLiteral("-opencv"),
                           out + QStringLiteral("-magick"), out + QStringLiteral("-floor")};
    Samples program, one, opencv, imagemagick, floor;
    for (int r = 0; r < runs; ++r) {
        for (int turn = 0; turn < 5; ++turn) {
            const int who = (turn + r) % 5;
            emptyFolder(outs[who]);
            ::sync();
            if (who < 2) {
                QStringList args{QStringLiteral("--timed-child"), QStringLiteral(PENUMBRIX_EXECUTABLE),
                                 QStringLiteral("--apply")};
                args << settings << QStringLiteral("--quiet") << QStringLiteral("--output") << outs[who];
                if (who == 1)
                    args << QStringLiteral("--jobs") << QStringLiteral("1");
                runChild(self, args << QStringLiteral("--") << files, who == 0 ? program : one);
            } else if (who == 2 && !python.isEmpty()) {
                runChild(python, QStringList{QStringLiteral(PENUMBRIX_BENCH_DIR "/opencv_batch.py"), in, outs[who]} + settingArgs(),
                         opencv);
            } else if (who == 3 && !magick.isEmpty()) {
                QElapsedTimer timer;
                timer.start();
                for (int i = 0; i < count; ++i)
                    QProcess::execute(magick, imageMagickArgs(files[i], outs[who] + QLatin1Char('/') + names[i]));
                imagemagick.cold.push_back(timer.nsecsElapsed() / 1e6);
            } else if (who == 4) {
                runChild(self, QStringList{QStringLiteral("--batch-floor-child"), outs[who], QString::number(jobs)} + files,
                         floor);
            }
        }
    }
    // Cold and warm are one here: every run is a fresh process.
    const auto row = [&](const char* name, const Samples& s) {
        std::printf("  %-12s median %9.1f ms  min %9.1f ms  %7.1f MP/s\n", name, median(s.cold), minimum(s.cold),
                    count * mp / median(s.cold) * 1e3);
    };
    row("program", program);
    const qint64 wrong = differingFiles(in, outs[0], names, true);
    std::printf("  program: penumbrix --apply --output, default --jobs (%d), every file saved as the window saves "
                "(atomic, flushed to disk); %s\n",
                jobs, wrong == 0 ? "exact to the rule, every pixel of every file"
                                 : qPrintable(QStringLiteral("%1 pixels differ from the rule").arg(wrong)));
    row("one job", one);
    const qint64 oneDiffers = differingFiles(outs[0], outs[1], names, false);
    std::printf("  one job: the same with --jobs 1; %s\n",
                oneDiffers == 0 ? "the same pixels in every file" : qPrintable(QStringLiteral("%1 files differ").arg(oneDiffers)));
    const auto peer = [&](const char* name, bool installed, const char* package, const Samples& s, const QString& dir,
                          const char* how) {
        if (!installed) {
            std::printf("  %s: not installed, skipped (apt-get install %s)\n", name, package);
            return;
        }
        row(name, s);
        const qint64 d = differingFiles(outs[0], dir, names, false);
        std::printf("  %s: %s; %s\n", name, how,
                    d == 0 ? "exact: every pixel of every file equals the program's"
                           : qPrintable(QStringLiteral("NOT exact: %1 files differ").arg(d)));
    };
    peer("opencv", !python.isEmpty(), "python3-opencv", opencv, outs[2],
         "one python process looping over the files (opencv_batch.py), timed inside after the import; no flush to disk");
    peer("imagemagick", !magick.isEmpty(), "imagemagick", imagemagick, outs[3],
         "its exact command once per file, in a loop, the loop timed; no flush to disk");
    row("floor", floor);
    std::printf("  floor: a fresh process copies each file's bytes on %d threads, each new file flushed, renamed over "
                "its name and its folder flushed, as the program saves: the disk's own time for the batch's durability\n",
                jobs);
    const double p = median(program.cold);
    std::printf("  medians: the program takes %.2fx the floor's time", p / median(floor.cold));
    if (!python.isEmpty())
        std::printf("; opencv, which flushes nothing, takes %.2fx the floor's time (2x opencv asks for at most %.2fx)",
                    median(opencv.cold) / median(floor.cold), median(opencv.cold) / 2 / median(floor.cold));
    std::printf("\n  medians: the program is %.2fx as fast as itself one job at a time (goal at least 1.5 on 1 MP)", median(one.cold) / p);
    if (!python.isEmpty())
        std::printf("; %.2fx as fast as opencv (goal at least 2)", median(opencv.cold) / p);
    if (!magick.isEmpty())
        std::printf("; %.1fx as fast as imagemagick (goal at least 20)", median(imagemagick.cold) / p);
    const double pictureMb = double(width) * height * 4 / 1e6;
    const double past = program.peakKb * 1.024e-3 - jobs * pictureMb;
    std::printf("\n  peak memory of the batch's process: %.0f MB with %d jobs, %.0f MB with one; a 32-bit picture is "
                "%.0f MB: %.0f MB %s %d pictures' worth (goal: at most that plus a constant)\n",
                program.peakKb * 1.024e-3, jobs, one.peakKb * 1.024e-3, pictureMb, std::abs(past),
                past > 0 ? "past" : "under", jobs);
    QDir(in).removeRecursively();
    for (const QString& dir : outs)
        QDir(dir).removeRecursively();
}

void benchBatch(const QString& self, const QString& folder, int runs)
{
    // The batch's saves keep their journals in a data folder of the bench's.
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder + QStringLiteral("/batch-data")));
    benchBatchSet(self, folder, 200, 1000, 1000, runs);
    benchBatchSet(self, folder, 10, 6000, 4000, runs);
}

void printSettings(const QString& folder)
{
    std::printf("settings: red %d green %d blue %d light %d contrast %d range %d czoom %d (threshold %d); "
                "cold: a fresh process's first job; warm: its next %d jobs; files in %s\n",
                kSettings.vsRed, kSettings.vsGreen, kSettings.vsBlue, kSettings.vsLIGHT, kSettings.vsContrast,
                kSettings.vsRange, kSettings.vsCzoom, cutoffThreshold(kSettings), kWarmJobs, qPrintable(folder));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    keepPictureMemoryForReuse(); // as the program does
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Who measures is settled before anything is made.
    QByteArray chosenFolder;
    const bool parent = argc < 2 || std::strncmp(argv[1], "--", 2) != 0 || std::strstr(argv[1], "-child") == nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--folder") == 0)
            chosenFolder = argv[i + 1];
    const bool hadFolder = !chosenFolder.isEmpty();
    bool asRoot = false;
    for (int i = 1; i < argc; ++i)
        asRoot = asRoot || std::strcmp(argv[i], "--as-root") == 0;
    if (parent && !becomeOrdinaryUser(asRoot, chosenFolder)) {
        std::fprintf(stderr, "penumbrix-bench: could not become an ordinary user (nobody); --as-root measures as root\n");
        return 1;
    }
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == QLatin1String("--program-child"))
        return programChild(args[2], args[3], args[4], args[5].toInt());
    if (args.size() == 4 && args[1] == QLatin1String("--memory-child"))
        return memoryChild(args[2], args[3]);
    if (args.size() == 5 && args[1] == QLatin1String("--floor-child"))
        return floorChild(args[2], args[3], args[4].toInt());
    if (args.size() > 3 && args[1] == QLatin1String("--batch-floor-child"))
        return batchFloorChild(args[2], args[3].toInt(), args.mid(4));
    if (args.size() > 2 && args[1] == QLatin1String("--timed-child"))
        return timedChild(argv + 2);
    if (args.contains(QLatin1String("--help"))) {
        std::printf("usage: penumbrix-bench [--quick] [--runs N] [--folder DIR] [--batch | --no-batch] [--as-root]\n"
                    "  --batch: only the batch figures; --no-batch: all but them\n"
                    "  --as-root: started by root, measure as root, not as an ordinary user\n");
        return 0;
    }
    const bool quick = args.contains(QLatin1String("--quick"));
    int runs = 5;
    if (const int i = args.indexOf(QLatin1String("--runs")); i > 0 && i + 1 < args.size())
        runs = std::max(1, args[i + 1].toInt());
    QTemporaryDir temp(chosenFolder.isEmpty() ? QDir::tempPath() + QStringLiteral("/penumbrix-bench-XXXXXX")
                                              : QFile::decodeName(chosenFolder) + QStringLiteral("/run-XXXXXX"));
    const QString folder = temp.path();
    const auto removeMade = qScopeGuard([&] {
        if (!hadFolder && !chosenFolder.isEmpty())
            QDir(QFile::decodeName(chosenFolder)).removeRecursively();
    });
    const QString self = app.applicationFilePath();

    printSettings(folder);
    if (args.contains(QLatin1String("--batch"))) {
        benchBatch(self, folder, runs);
        return 0;
    }
    benchKernel(6000, 4000);
    benchWholeJob(self, folder, 6000, 4000, runs);
    std::vector<QSize> sizes{QSize(3000, 2000), QSize(6000, 4000)};
    if (!quick)
        sizes.push_back(QSize(12500, 8000));
    benchScaling(self, folder, sizes, runs);
    if (!args.contains(QLatin1String("--no-batch")))
        benchBatch(self, folder, runs);
    return 0;
}
