#pragma once
// The real message box, open dialog, busy pointer and browser.

#include <QPointer>
#include <QWidget>

#include "platform/services.h"

namespace penumbrix {

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
    // patterns match whatever the letter case of the file names.
    static QStringList nameFilters(const QString& filter);

private:
    QPointer<QWidget> owner_;
};

class QtBusyPointer : public BusyPointer {
public:
    ~QtBusyPointer() override { setBusy(false); }
    void setBusy(bool busy) override;

private:
    bool busy_ = false;
};

class QtBrowser : public Browser {
public:
    void open(const QString& address) override;
};

} // namespace penumbrix
