#pragma once
// Scripted stand-ins for the modal services, so no test waits on a window.

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>

#include "platform/runtime_error.h"
#include "platform/services.h"

namespace penumbrix::fakes {

// Answers message boxes from a script (OK when the script is empty) and
// records every text shown.
class Messages : public MessageService {
public:
    struct Shown {
        QString text;
        MessageButtons buttons;
    };
    std::deque<int> answers;
    std::vector<Shown> shown;
    std::function<void()> onShow; // runs while the box is "open"

    int show(const QString& text, MessageButtons buttons) override
    {
        shown.push_back({text, buttons});
        if (onShow)
            onShow();
        if (answers.empty())
            return kMessageOk;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QStringList texts() const
    {
        QStringList list;
        for (const auto& s : shown)
            list << s.text;
        return list;
    }
};

// Confirms the scripted paths one by one; an empty entry (or none) cancels.
class OpenDialogScript : public OpenDialog {
public:
    std::deque<std::optional<QString>> choices;
    QStringList filters;
    QStringList proposed;
    std::function<void()> onShow;

    std::optional<QString> showOpen(const QString& filter, const QString& proposedFileName) override
    {
        filters << filter;
        proposed << proposedFileName;
        if (onShow)
            onShow();
        if (choices.empty() || !choices.front().has_value()) {
            if (!choices.empty())
                choices.pop_front();
            return std::nullopt;
        }
        const QString choice = *choices.front();
        choices.pop_front();
        return choice;
    }
};

// Records the pointer's changes; busy is the hourglass.
class Pointer : public BusyPointer {
public:
    std::vector<bool> changes;
    bool busy = false;
    void setBusy(bool b) override
    {
        changes.push_back(b);
        busy = b;
    }
    bool wasEverBusy() const { return std::find(changes.begin(), changes.end(), true) != changes.end(); }
};

class BrowserLog : public Browser {
public:
    QStringList opened;
    bool fail = false;
    void open(const QString& address) override
    {
        if (fail)
            throw RuntimeError(RuntimeError::ObjectNotAvailable, address);
        opened << address;
    }
};

} // namespace penumbrix::fakes
