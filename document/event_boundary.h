#pragma once
// The one place through which every event procedure runs. A run-time error
// leaves the procedure where it failed; the boundary puts the default pointer
// back, reports the error (number, text and path) in a message box and lets
// the program go on.

#include <functional>

#include "widgets/services.h"

namespace penumbrix {

class EventBoundary {
public:
    EventBoundary(MessageService& messages, BusyPointer& busy) : messages_(messages), busy_(busy) {}

    // Runs the procedure; returns false when it failed with a reported error.
    bool run(const std::function<void()>& procedure) noexcept;

private:
    MessageService& messages_;
    BusyPointer& busy_;
};

} // namespace penumbrix
