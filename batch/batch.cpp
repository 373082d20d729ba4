#include "batch/batch.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "document/document.h"
#include "files/runtime_error.h"
#include "files/save.h"
#include "files/user_files.h"
#include "pictures/picture_files.h"

namespace penumbrix {

namespace {

struct ValueOption {
    const char* name;
    Setting setting;
};
constexpr ValueOption kValueOptions[] = {
    {"--red", Setting::Red},         {"--green", Setting::Green},       {"--blue", Setting::Blue},
    {"--light", Setting::Light},     {"--contrast", Setting::Contrast}, {"--range", Setting::Range},
    {"--czoom", Setting::Czoom},
};
constexpr int kMostJobs = 64;
// The pictures' memory that the default number of jobs keeps in flight at most (but two pictures).
constexpr qint64 kInFlightBytes = qint64(256) << 20;

std::optional<int> wholeNumber(const QByteArray& text)
{
    static const QRegularExpression digits(QStringLiteral("^[-+]?[0-9]{1,6}$"));
    if (!digits.match(QString::fromLatin1(text)).hasMatch())
        return std::nullopt;
    return text.toInt();
}

} // namespace

std::optional<BatchRequest> readBatchArguments(const QList<QByteArray>& arguments, QString& error)
{
    BatchRequest request;
    bool optionsEnded = false;
    const auto wrong = [&](const QString& what) {
        error = what;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QByteArray arg = arguments[i];
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            if (arg.isEmpty())
                return wrong(QStringLiteral("an empty file name"));
            request.files << QFile::decodeName(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--apply")
            continue;
        if (arg == "--quiet") {
            request.quiet = true;
            continue;
        }
        // An option with a value: "--red 10" or "--red=10".
        QByteArray value;
        bool hasValue = false;
        if (const qsizetype eq = arg.indexOf('='); eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasValue = true;
        }
        const auto* setting = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                           [&](const ValueOption& o) { return arg == o.name; });
        const bool known = setting != std::end(kValueOptions) || arg == "--output" || arg == "--jobs";
        if (!known)
            return wrong(QStringLiteral("unknown option %1").arg(QFile::decodeName(arg)));
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                return wrong(QStringLiteral("%1 needs a value").arg(QString::fromLatin1(arg)));
            value = arguments[++i];
        }
        if (arg == "--output") {
            if (value.isEmpty())
                return wrong(QStringLiteral("--output needs a folder"));
            request.outputFolder = QFile::decodeName(value);
            continue;
        }
        const std::optional<int> n = wholeNumber(value);
        if (arg == "--jobs") {
            if (!n || *n < 1 || *n > kMostJobs)
                return wrong(QStringLiteral("--jobs takes 1 to %1, not %2").arg(kMostJobs).arg(QFile::decodeName(value)));
            request.jobs = *n;
            continue;
        }
        // The number a value box shows: the bar's value less its bias.
        const SettingInfo& info = settingInfo(setting->setting);
        const int least = info.minimum - info.labelBias, most = info.maximum - info.labelBias;
        if (!n || *n < least || *n > most)
            return wrong(QStringLiteral("%1 takes %2 to %3, not %4")
                             .arg(QString::fromLatin1(arg)).arg(least).arg(most).arg(QFile::decodeName(value)));
        request.values[setting->setting] = std::int16_t(*n + info.labelBias);
    }
    if (request.files.isEmpty())
        return wrong(QStringLiteral("--apply needs at least one FILE"));
    return request;
}

QString batchUsageText()
{
    return QStringLiteral(
        "       penumbrix --apply [--red N] [--green N] [--blue N] [--light N] [--contrast N]\n"
        "                         [--range N] [--czoom N] [--output DIR] [--jobs N] [--quiet] [--] FILE...\n");
}

int defaultJobs(const QStringList& files)
{
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    qint64 largest = 0;
    for (const QString& file : files) {
        struct stat st;
        if (::stat(QFile::encodeName(file).constData(), &st) == 0 && S_ISREG(st.st_mode))
            largest = std::max<qint64>(largest, st.st_size);
    }
    qint64 available = 0;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        qint64 kib = 0;
        meminfo >> kib;
        if (key == "MemAvailable:") {
            available = kib * 1024;
            break;
        }
    }
    // Large pictures keep every core busy one at a time already: two of them
    // in flight, one flushed while the next is read, are enough.
    const qint64 picture = largest / 3 * 4 + (qint64(1) << 20);
    const qint64 wanted = std::clamp<qint64>(kInFlightBytes / picture, 2, 4 * cores);
    const qint64 fitting = available > 0 ? available / 2 / picture : wanted;
    return int(std::clamp<qint64>(std::min(wanted, fitting), 1, 4 * cores));
}

namespace {

// The signal that asked the batch to stop, or 0; set by the handler alone.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void askToStop(int signal) { stopSignal = signal; }

void installStopHandlers()
{
    stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = askToStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// One FILE: where it is read from and written to, or why it can't be.
struct Job {
    QString given;
    UserFile source;
    UserFile target;
    std::optional<RuntimeError> error;
};

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\n\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// The program's error text on one line. The line names the file as given;
// the error's own path is added where it is none of the names `known` (a
// result under --output).
QString errorLine(const RuntimeError& e, const QStringList& known)
{
    QString line = QStringLiteral("実行時エラー '%1': %2").arg(e.number()).arg(e.text());
    if (!e.path().isEmpty() && !known.contains(e.path()))
        line += QLatin1Char(' ') + e.path();
    if (!e.note().isEmpty())
        line += QLatin1Char(' ') + oneLine(e.note());
    return line;
}

void print(const QString& line) { std::fprintf(stderr, "penumbrix: %s\n", line.toLocal8Bit().constData()); }

class Run {
public:
    Run(const BatchRequest& request, std::vector<Job> jobs, const ProgramPaths& paths)
        : request_(request), jobs_(std::move(jobs)), placeholder_(paths.placeholder()),
          settings_(request.values.adjustment()), progress_(!request.quiet && ::isatty(STDERR_FILENO))
    {
    }

    int go()
    {
        const auto begun = std::chrono::steady_clock::now();
        const int wanted = std::clamp(request_.jobs > 0 ? request_.jobs : defaultJobs(request_.files), 1,
                                      int(std::max<size_t>(1, jobs_.size())));
        std::vector<std::thread> workers;
        for (int i = 0; i < wanted; ++i) {
            try {
                workers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break; // as many as the system gives
            }
        }
        if (workers.empty()) {
            work();
        } else {
            std::unique_lock<std::mutex> lock(mutex_);
            auto shown = begun;
            while (workerEnds_ < workers.size()) {
                changed_.wait_for(lock, std::chrono::milliseconds(250));
                // Drawn four times a second at most.
                if (progress_ && std::chrono::steady_clock::now() - shown >= std::chrono::milliseconds(250)) {
                    shown = std::chrono::steady_clock::now();
                    showProgress(begun);
                }
            }
        }
        for (std::thread& t : workers)
            t.join();
        const std::lock_guard<std::mutex> lock(mutex_);
        clearProgress();
        const size_t failed = finished_ - done_;
        if (stopSignal) {
            print(QStringLiteral("stopped by %1: %2 of %3 pictures done, %4 failed, %5 not started")
                      .arg(QString::fromLatin1(stopSignal == SIGINT ? "SIGINT" : "SIGTERM"))
                      .arg(done_).arg(jobs_.size()).arg(failed).arg(jobs_.size() - started_));
            return 128 + stopSignal;
        }
        print(failed ? QStringLiteral("%1 of %2 pictures done, %3 failed").arg(done_).arg(jobs_.size()).arg(failed)
                     : QStringLiteral("%1 of %2 pictures done").arg(done_).arg(jobs_.size()));
        return failed ? 1 : 0;
    }

private:
    void work()
    {
        // No picture starts once a stop has been asked for.
        while (!stopSignal) {
            size_t index;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (started_ >= jobs_.size())
                    break;
                index = started_++;
            }
            std::optional<RuntimeError> error;
            qint64 pixels = 0;
            try {
                pixels = one(jobs_[index]);
            } catch (const RuntimeError& e) {
                error = e;
            } catch (const std::bad_alloc&) {
                error = RuntimeError(RuntimeError::OutOfMemory, jobs_[index].given);
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            ++finished_;
            if (error) {
                clearProgress();
                print(QStringLiteral("%1: %2").arg(jobs_[index].given, errorLine(*error, {jobs_[index].given, jobs_[index].source.path})));
            } else {
                ++done_;
                pixels_ += pixels;
            }
            changed_.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        ++workerEnds_;
        changed_.notify_all();
    }

    // ⇒編集 and イメージを保存 on one file: the file as the kernel found it is
    // read, adjusted by the pixel rule, and saved through the program's save,
    // a band of rows at a time. Returns its pixels.
    qint64 one(const Job& job)
    {
        if (job.error)
            throw *job.error;
        if (isSameFile(job.target, placeholder_))
            throw RuntimeError(RuntimeError::PermissionDenied, job.target.path)
                .withNote(QString::fromUtf8(text::kPlaceholderRefused));
        return adjustPictureFile(job.source.path, job.target, settings_);
    }

    void showProgress(std::chrono::steady_clock::time_point begun)
    {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
        const double rate = seconds > 0 ? double(pixels_) / 1e6 / seconds : 0;
        QString left = QStringLiteral("?");
        if (finished_ > 0) {
            const qint64 s = qint64(seconds * double(jobs_.size() - finished_) / double(finished_) + 0.5);
            left = QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
        }
        const QString line = QStringLiteral("%1 of %2 files, %3 MP/s, %4 left")
                                 .arg(finished_).arg(jobs_.size()).arg(rate, 0, 'f', 1).arg(left);
        std::fprintf(stderr, "\r%s\033[K", line.toLocal8Bit().constData());
        std::fflush(stderr);
        shown_ = true;
    }

    void clearProgress()
    {
        if (shown_)
            std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

    const BatchRequest& request_;
    std::vector<Job> jobs_;
    QString placeholder_;
    AdjustmentSettings settings_;
    bool progress_;
    bool shown_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t started_ = 0, finished_ = 0, done_ = 0, workerEnds_ = 0;
    qint64 pixels_ = 0;
};

int wrongCommandLine(const QString& what)
{
    print(what);
    return 2;
}

} // namespace

int runBatch(const BatchRequest& request, const ProgramPaths& paths)
{
    installStopHandlers();
    // Everything that makes the command line wrong is found before anything is written.
    UserFile output;
    if (request.outputFolder) {
        try {
            output = findUserFile(*request.outputFolder);
        } catch (const RuntimeError& e) {
            return wrongCommandLine(QStringLiteral("--output %1: %2").arg(*request.outputFolder, errorLine(e, {*request.outputFolder})));
        }
        struct stat st;
        if (::stat(QFile::encodeName(output.path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return wrongCommandLine(QStringLiteral("--output %1: not a folder").arg(*request.outputFolder));
    }
    std::vector<Job> jobs;
    jobs.reserve(size_t(request.files.size()));
    std::map<std::pair<dev_t, ino_t>, QString> sources;
    std::map<QString, QString> targets;
    for (const QString& given : request.files) {
        Job job{given, {}, {}, {}};
        try {
            job.source = findUserFile(given);
            const auto [at, isNew] = sources.emplace(std::pair(job.source.device, job.source.inode), given);
            if (!isNew)
                return wrongCommandLine(QStringLiteral("%1 and %2 are the same file").arg(at->second, given));
        } catch (const RuntimeError& e) {
            job.error = e;
        }
        try {
            // Under --output, the FILE's own name in that folder.
            job.target = request.outputFolder ? saveTargetOf(output.path + QLatin1Char('/') + given.mid(given.lastIndexOf(QLatin1Char('/')) + 1))
                                              : job.source;
        } catch (const RuntimeError& e) {
            if (!job.error)
                job.error = e;
        }
        if (request.outputFolder && !job.target.isNull()) {
            const auto [at, isNew] = targets.emplace(job.target.path, given);
            if (!isNew)
                return wrongCommandLine(QStringLiteral("%1 and %2 would both be written as %3").arg(at->second, given, job.target.path));
        }
        jobs.push_back(std::move(job));
    }
    if (request.outputFolder) {
        // A file given is never written under --output, whatever name leads to it.
        for (const Job& job : jobs) {
            const auto source = sources.find(std::pair(job.target.device, job.target.inode));
            if (job.target.inode != 0 && source != sources.end())
                return wrongCommandLine(QStringLiteral("%1 would be written over %2").arg(job.target.path, source->second));
        }
    }

    // Saves killed in an earlier run are finished first, as the window's
    // start does: a file rewritten in part gets its old content back before
    // it is read.
    useSaveJournalFolder(paths.dataFolder);
    for (const QString& told : recoverUnfinishedSaves(paths.dataFolder))
        print(oneLine(told));

    return Run(request, std::move(jobs), paths).go();
}

} // namespace penumbrix
