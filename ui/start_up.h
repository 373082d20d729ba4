#pragma once
// How the program starts: its command line, read before anything of Qt's
// exists, and everything main() does before the event loop, which the tests
// run as the program runs it.

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "batch/batch.h"
#include "document/paths.h"
#include "ui/window_services.h"

namespace penumbrix {

class Form1;
class LastWindowWatch;

// What the arguments ask for. The file's name is the argument's bytes as the
// kernel takes them, decoded by QFile::decodeName and nothing else.
struct CommandLine {
    enum class Action { Start, Help, Version, Wrong, Apply };
    Action action = Action::Start;
    std::optional<QString> file;
    std::optional<BatchRequest> batch; // what --apply is to do
    QString error; // what is wrong with a Wrong command line
};

CommandLine readCommandLine(int argc, const char* const* argv);

// The texts of --help and --version.
QString usageText();
QString versionText();

// Answers a command line that doesn't start the program: --help and
// --version print on standard output and give 0; a wrong command line prints
// what is wrong and the usage on standard error and gives 2. No display is
// needed. nullopt: the program is to start, or --apply to run.
std::optional<int> answerCommandLine(const CommandLine& line);

// The program's windows as main() starts them, and everything they need.
class ProgramWindows {
public:
    // The real message box, open dialog and browser: the message box and the
    // dialog belong to the main window (a message box to the about window
    // once the main window is gone).
    ProgramWindows();
    // Services handed in (the tests' scripted fakes).
    explicit ProgramWindows(WindowServices services);
    // Windows still open go before the services they use.
    ~ProgramWindows();

    // Readies the application (its name, the icon, the Japanese fonts and
    // Qt's own texts in Japanese), builds the main window on `paths`, fills
    // its image slots and shows it in the middle of the screen. `file`, when
    // given, is opened as soon as the event loop runs, through the window's
    // own procedure. `allClosed` runs once the main window and the about
    // window have both closed. False when the placeholder picture could not
    // be loaded: the error has been shown and no window is open.
    bool start(ProgramPaths paths, const std::optional<QString>& file, std::function<void()> allClosed);

    Form1* mainWindow() const;

private:
    struct RealServices;
    std::unique_ptr<RealServices> real_;
    WindowServices services_;
    QPointer<Form1> form_;
    std::unique_ptr<LastWindowWatch> watch_;
};

} // namespace penumbrix
