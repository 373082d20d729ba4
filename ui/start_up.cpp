#include "ui/start_up.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "widgets/qt_services.h"
#include "ui/form1.h"
#include "ui/frm_about.h"
#include "ui/look.h"
#include "ui/window_watch.h"

namespace penumbrix {

// The window's own command line: at most one FILE.
static CommandLine readWindowCommandLine(int argc, const char* const* argv);

CommandLine readCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    // --apply, anywhere before "--", makes it a batch run with options of its own.
    QList<QByteArray> arguments;
    bool apply = false, help = false, version = false, optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        arguments << arg;
        apply |= !optionsEnded && arg == "--apply";
        help |= !optionsEnded && (arg == "--help" || arg == "-h");
        version |= !optionsEnded && arg == "--version";
        optionsEnded |= arg == "--";
    }
    if (apply) {
        if (help || version) {
            line.action = help ? CommandLine::Action::Help : CommandLine::Action::Version;
            return line;
        }
        line.batch = readBatchArguments(arguments, line.error);
        line.action = line.batch ? CommandLine::Action::Apply : CommandLine::Action::Wrong;
        return line;
    }
    return readWindowCommandLine(argc, argv);
}

static CommandLine readWindowCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    bool help = false, version = false, optionsEnded = false;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
            help = true;
        } else if (!optionsEnded && std::strcmp(arg, "--version") == 0) {
            version = true;
        } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
            // Qt's own options (-style, -platform ...) are not taken either:
            // their environment variables do the same.
            line.action = CommandLine::Action::Wrong;
            line.error = QStringLiteral("unknown option %1").arg(QFile::decodeName(arg));
            return line;
        } else if (arg[0] == '\0') {
            line.action = CommandLine::Action::Wrong;
            line.error = QStringLiteral("an empty file name");
            return line;
        } else {
            files << QFile::decodeName(QByteArray(arg));
        }
    }
    if (help) {
        line.action = CommandLine::Action::Help;
    } else if (version) {
        line.action = CommandLine::Action::Version;
    } else if (files.size() > 1) {
        line.action = CommandLine::Action::Wrong;
        line.error = QStringLiteral("one picture at a time: %1 files given").arg(files.size());
    } else if (!files.isEmpty()) {
        line.file = files.constFirst();
    }
    return line;
}

QString usageText()
{
    return QStringLiteral("Usage: penumbrix [--] [FILE]\n")
        + batchUsageText()
        + QStringLiteral(
            "       penumbrix --help | --version\n"
            "Touches up one BMP picture at a time; opens FILE, when given, in its window.\n"
            "\n"
            "  -h, --help     show this help and exit\n"
            "      --version  show the program's version and exit\n"
            "  --             the next argument is the file, even if it starts with -\n"
            "\n"
            "With --apply, no window opens and no display is needed: each FILE gets what\n"
            "⇒編集 and then イメージを保存 give in the window with the value boxes showing:\n"
            "  --red N, --green N, --blue N, --light N, --contrast N   -128 to 127, default 0\n"
            "  --range N                                              -128 to 128, default 0\n"
            "  --czoom N                                              0 to 300, default 1\n"
            "  --output DIR   write each result to DIR under its FILE's name, FILE untouched;\n"
            "                 without it each FILE is saved over itself, as the window saves\n"
            "  --jobs N       at most N pictures in memory and in flight at once (1 to 64);\n"
            "                 by default four per core; for large pictures as many as\n"
            "                 fill 256 MiB, at least two; never more than half of the\n"
            "                 memory available holds; judged by the largest FILE\n"
            "  --quiet        no progress line on a terminal\n"
            "A FILE that fails is named with its error and the others go on. Exit status:\n"
            "0 all done, 1 any failed, 2 a wrong command line (nothing written),\n"
            "130 or 143 stopped by SIGINT or SIGTERM (no new picture started).\n");
}

QString versionText() { return QStringLiteral("penumbrix " PENUMBRIX_VERSION "\n"); }

std::optional<int> answerCommandLine(const CommandLine& line)
{
    switch (line.action) {
    case CommandLine::Action::Start:
    case CommandLine::Action::Apply: return std::nullopt;
    case CommandLine::Action::Help: std::fputs(usageText().toLocal8Bit().constData(), stdout); return 0;
    case CommandLine::Action::Version: std::fputs(versionText().toLocal8Bit().constData(), stdout); return 0;
    case CommandLine::Action::Wrong:
        std::fprintf(stderr, "penumbrix: %s\n%s", line.error.toLocal8Bit().constData(),
                     usageText().toLocal8Bit().constData());
        return 2;
    }
    return 2;
}

// The message box and the open dialog of the window of the moment: each call
// makes the Qt service for it.
struct ProgramWindows::RealServices {
    struct Messages final : MessageService {
        QPointer<QWidget> window;
        int show(const QString& text, MessageButtons buttons) override
        {
            QWidget* owner = window ? window.data() : static_cast<QWidget*>(frmAbout::instance());
            return QtMessageService(owner).show(text, buttons);
        }
    } messages;
    struct Dialog final : OpenDialog {
        QPointer<QWidget> window;
        std::optional<QString> showOpen(const QString& filter, const QString& proposedFileName) override
        {
            return QtOpenDialog(window).showOpen(filter, proposedFileName);
        }
    } openDialog;
    QtBrowser browser{messages};
};

ProgramWindows::ProgramWindows()
    : real_(std::make_unique<RealServices>()), services_{real_->messages, real_->openDialog, real_->browser}
{
}

ProgramWindows::ProgramWindows(WindowServices services) : services_(services) {}

ProgramWindows::~ProgramWindows()
{
    delete frmAbout::instance();
    delete form_.data();
}

Form1* ProgramWindows::mainWindow() const { return form_; }

bool ProgramWindows::start(ProgramPaths paths, const std::optional<QString>& file, std::function<void()> allClosed)
{
    QApplication::setApplicationName(QStringLiteral("penumbrix"));
    QApplication::setApplicationVersion(QStringLiteral(PENUMBRIX_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.penumbrix.Penumbrix"));
    QApplication::setWindowIcon(programIcon());
    // The watch below ends the program; the windows' own flags don't.
    QApplication::setQuitOnLastWindowClosed(false);
    useJapaneseFonts();
    useJapanesePlatformTexts(QLibraryInfo::path(QLibraryInfo::TranslationsPath));

    form_ = new Form1(services_, std::move(paths));
    if (!form_->Form_Load()) {
        // The placeholder picture is missing or unreadable: the error has
        // been shown in a box of its own, in the middle of the screen, and
        // no window opens.
        delete form_.data();
        return false;
    }
    if (real_) {
        real_->messages.window = form_.data();
        real_->openDialog.window = form_.data();
    }
    form_->setAttribute(Qt::WA_DeleteOnClose);

    watch_ = std::make_unique<LastWindowWatch>(std::move(allClosed));
    watch_->watch(form_);
    QObject::connect(form_, &Form1::aboutWindowShown, watch_.get(), &LastWindowWatch::watch);

    form_->showCentred();
    if (file)
        QTimer::singleShot(0, form_, [form = form_, path = *file] { form->Form_OpenFile(path); });
    return true;
}

} // namespace penumbrix
