#pragma once
// Scripted stand-ins for the modal services, so no test waits on a window.

#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

#include "files/runtime_error.h"
#include "widgets/services.h"

namespace penumbrix::fakes {

// Answers message boxes from a script (OK when it is empty), recording every text and its buttons.
class Messages : public MessageService {
public:
    std::deque<int> answers;
    QStringList texts;
    QList<MessageButtons> buttons;
    std::function<void()> onShow; // runs while the box is "open"

    int show(const QString& text, MessageButtons shownButtons) override
    {
        texts << text;
        buttons << shownButtons;
        if (onShow)
            onShow();
        if (answers.empty())
            return kMessageOk;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// Confirms the scripted paths one by one; an empty one (or none) cancels.
class OpenDialogScript : public OpenDialog {
public:
    QStringList choices, filters, proposed;
    std::function<void()> onShow;

    std::optional<QString> showOpen(const QString& filter, const QString& proposedFileName) override
    {
        filters << filter;
        proposed << proposedFileName;
        if (onShow)
            onShow();
        const QString choice = choices.isEmpty() ? QString() : choices.takeFirst();
        return choice.isEmpty() ? std::nullopt : std::optional<QString>(choice);
    }
};

class BrowserLog : public Browser {
public:
    QStringList opened;
    bool fail = false;
    Browser* real = nullptr; // given: the address goes there instead
    void open(const QString& address) override
    {
        if (real)
            return real->open(address);
        if (fail)
            throw RuntimeError(RuntimeError::ObjectNotAvailable, address);
        opened << address;
    }
};

} // namespace penumbrix::fakes
