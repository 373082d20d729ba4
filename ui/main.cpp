// Penumbrix: reads its command line, starts the main window (opening the
// file named on the command line), and ends when the main window and the
// about window have both been closed; or, with --apply, runs the batch
// without a display.

#include <QApplication>

#include "document/paths.h"
#include "pictures/memory.h"
#include "ui/start_up.h"

using namespace penumbrix;

int main(int argc, char* argv[])
{
    // --help, --version and a wrong command line are answered before Qt
    // starts, so they need no display.
    const CommandLine line = readCommandLine(argc, argv);
    if (const std::optional<int> status = answerCommandLine(line))
        return *status;

    keepPictureMemoryForReuse();
    if (line.batch) {
        // No display: a core application only, for the program's folders.
        // With no screen to ask, a new picture's resolution is that of the
        // usual screen (96 dpi), as the window's is on one.
        QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
        int coreArgc = 1;
        QCoreApplication app(coreArgc, argv);
        return runBatch(*line.batch, ProgramPaths::forThisProgram());
    }
    // Qt sees the program's name alone: the arguments are the program's.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    ProgramWindows windows;
    if (!windows.start(ProgramPaths::forThisProgram(), line.file, [] { QCoreApplication::quit(); }))
        return 1;
    return app.exec();
}
