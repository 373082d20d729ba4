#pragma once
// The batch: one set of slider values applied to many BMP files from the
// command line, with no display. Each file gets what ⇒編集 followed by
// イメージを保存 gives in the window: the same load, the same pixel rule and
// kernel, the same BMP writing and the same save, journal included.

#include <QString>
#include <QStringList>

#include <optional>

#include "engine/settings.h"
#include "document/paths.h"

namespace penumbrix {

struct BatchRequest {
    SettingValues values = SettingValues::startValues(); // the bars' values, as the window starts
    std::optional<QString> outputFolder;
    int jobs = 0; // 0: defaultJobs()
    bool quiet = false;
    QStringList files; // as given, each decoded by QFile::decodeName
};

// Reads the arguments of `penumbrix --apply ...` (every argument but the
// program's name, "--apply" among them). The values are the numbers the
// window's value boxes show. nullopt and `error` set: a wrong command line.
std::optional<BatchRequest> readBatchArguments(const QList<QByteArray>& arguments, QString& error);

// The usage lines of --apply, for --help.
QString batchUsageText();

// How many pictures are in flight at once when --jobs is not given: four per
// core, so that pictures are read and adjusted while others are flushed;
// for large pictures (which each keep every core busy) only as many as make
// 256 MiB, but at least two; and never more than half of the memory
// available holds. Judged by the largest of `files` (a 24-bit BMP's picture
// in memory is 4/3 of its size).
int defaultJobs(const QStringList& files);

// Runs the batch and returns the exit status: 0 all done, 1 any failed,
// 2 a wrong command line found before anything was written (--output no
// folder, two files to be written under one name, one file given twice),
// 128 + the signal when SIGINT or SIGTERM stopped it. Reports on standard
// error. Needs a QCoreApplication (for the program's folders), no display.
int runBatch(const BatchRequest& request, const ProgramPaths& paths);

} // namespace penumbrix
