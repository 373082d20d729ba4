#pragma once
// The modal and outside-world services the operations call: message box,
// open dialog, busy pointer and web browser. The program uses the Qt
// implementations (qt_services.h); tests hand the operations scripted fakes.

#include <QString>

#include <optional>

namespace penumbrix {

// The program's title, the caption of every message box.
inline const char* const kProgramTitle = "Penumbrix";

enum class MessageButtons { Ok = 0, OkCancel = 1 };
inline constexpr int kMessageOk = 1;
inline constexpr int kMessageCancel = 2;

class MessageService {
public:
    virtual ~MessageService() = default;
    // Modal; no icon, caption kProgramTitle. Returns kMessageOk or kMessageCancel
    // (closing the box without choosing counts as Cancel).
    virtual int show(const QString& text, MessageButtons buttons) = 0;
};

class OpenDialog {
public:
    virtual ~OpenDialog() = default;
    // Modal. `filter` is in the "description|pattern" form; `proposedFileName`
    // is the name the dialog proposes. Returns the confirmed path, or nothing
    // when the user cancelled.
    virtual std::optional<QString> showOpen(const QString& filter, const QString& proposedFileName) = 0;
};

class BusyPointer {
public:
    virtual ~BusyPointer() = default;
    virtual void setBusy(bool busy) = 0; // the hourglass, or the default pointer
};

class Browser {
public:
    virtual ~Browser() = default;
    // Opens the address in the desktop's web browser and returns at once.
    // Throws RuntimeError (ObjectNotAvailable) when no browser can be started.
    virtual void open(const QString& address) = 0;
};

} // namespace penumbrix
