#pragma once
// The real message box, open dialog, busy pointer and browser.

#include <QPointer>
#include <QWidget>

#include "widgets/services.h"

namespace penumbrix {

// The message box belongs to its owner's window, when it is given one.
class QtMessageService : public MessageService {
public:
    explicit QtMessageService(QWidget* owner = nullptr) : owner_(owner) {}
    int show(const QString& text, MessageButtons buttons) override;

private:
    QPointer<QWidget> owner_;
};

class QtOpenDialog : public OpenDialog {
public:
    explicit QtOpenDialog(QWidget* owner = nullptr) : owner_(owner) {}
    std::optional<QString> showOpen(const QString& filter, const QString& proposedFileName) override;

    // "description|pattern|description|pattern" to Qt's name filters; the
    // patterns match whatever the letter case of the file names. The dialog
    // shows each entry by its description alone.
    static QStringList nameFilters(const QString& filter);

private:
    QPointer<QWidget> owner_;
};

// The hourglass as one window's own pointer: other windows, the message
// boxes included, keep theirs.
class QtBusyPointer : public BusyPointer {
public:
    explicit QtBusyPointer(QWidget* window) : window_(window) {}
    void setBusy(bool busy) override;

private:
    QPointer<QWidget> window_;
    bool busy_ = false;
};

// Starts the desktop's opener, `xdg-open`, with the address and returns at
// once. An opener that can't be started, or that ends with a failure (no
// browser to hand the address to), is told in the same error box as no
// browser at all, once its end is known; the window goes on meanwhile.
class QtBrowser : public Browser {
public:
    explicit QtBrowser(MessageService& messages) : messages_(messages) {}
    void open(const QString& address) override;
    // Openers started and not yet ended.
    int running() const { return running_; }

private:
    MessageService& messages_;
    int running_ = 0;
    QObject context_; // the openers' news goes no further than this browser's life
};

} // namespace penumbrix
