// Penumbrix: starts the main window, and ends when the main window and the
// about window have both been closed.

#include <QApplication>
#include <QLibraryInfo>
#include <QPointer>

#include "images/paths.h"
#include "pictures/memory.h"
#include "platform/qt_services.h"
#include "ui/form1.h"
#include "ui/frm_about.h"
#include "ui/look.h"
#include "ui/window_watch.h"

using namespace penumbrix;

namespace {

// The message box and the open dialog belong to the main window, which is
// built with these services in hand: each call makes the Qt service for the
// window of the moment (none once the main window is gone).
class MainWindowMessages final : public MessageService {
public:
    QPointer<QWidget> window;
    int show(const QString& text, MessageButtons buttons) override
    {
        return QtMessageService(window).show(text, buttons);
    }
};

class MainWindowOpenDialog final : public OpenDialog {
public:
    QPointer<QWidget> window;
    std::optional<QString> showOpen(const QString& filter, const QString& proposedFileName) override
    {
        return QtOpenDialog(window).showOpen(filter, proposedFileName);
    }
};

} // namespace

int main(int argc, char* argv[])
{
    keepPictureMemoryForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("penumbrix"));
    QGuiApplication::setDesktopFileName(QStringLiteral("penumbrix"));
    QApplication::setWindowIcon(programIcon());
    // The watch below ends the program; the windows' own flags don't.
    QApplication::setQuitOnLastWindowClosed(false);
    useJapaneseFonts();
    useJapanesePlatformTexts(QLibraryInfo::path(QLibraryInfo::TranslationsPath));

    MainWindowMessages messages;
    MainWindowOpenDialog openDialog;
    QtBrowser browser;

    QPointer<Form1> form = new Form1({messages, openDialog, browser}, ProgramPaths::forThisProgram());
    if (!form->Form_Load()) {
        // The placeholder picture is missing or unreadable: the error has
        // been shown in a box of its own, in the middle of the screen, and
        // no window opens.
        delete form.data();
        return 1;
    }
    messages.window = form.data();
    openDialog.window = form.data();
    form->setAttribute(Qt::WA_DeleteOnClose);

    LastWindowWatch watch([] { QCoreApplication::quit(); });
    watch.watch(form);
    QObject::connect(form, &Form1::aboutWindowShown, &watch, &LastWindowWatch::watch);

    form->showCentred();
    const int status = app.exec();

    // Windows still open (the session ended under them) go before the
    // services they use.
    delete frmAbout::instance();
    delete form.data();
    return status;
}
