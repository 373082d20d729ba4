#include "ui/start_up.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "platform/widgets/qt_services.h"
#include "ui/form1.h"
#include "ui/frm_about.h"
#include "ui/look.h"
#include "ui/window_watch.h"

namespace penumbrix {

CommandLine readCommandLine(int argc, const char* const* argv)
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
    return QStringLiteral("Usage: penumbrix [--] [FILE]\n"
                          "       penumbrix --help | --version\n"
                          "Touches up one BMP picture at a time; opens FILE, when given, in its window.\n"
                          "\n"
                          "  -h, --help     show this help and exit\n"
                          "      --version  show the program's version and exit\n"
                          "  --             the next argument is the file, even if it starts with -\n");
}

QString versionText() { return QStringLiteral("penumbrix " PENUMBRIX_VERSION "\n"); }

std::optional<int> answerCommandLine(const CommandLine& line)
{
    switch (line.action) {
    case CommandLine::Action::Start: return std::nullopt;
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
