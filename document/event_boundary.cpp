#include "document/event_boundary.h"

#include <new>

#include "files/runtime_error.h"

namespace penumbrix {

bool EventBoundary::run(const std::function<void()>& procedure) noexcept
{
    QString report;
    try {
        procedure();
        return true;
    } catch (const RuntimeError& e) {
        report = e.message();
    } catch (const std::bad_alloc&) {
        report = RuntimeError(RuntimeError::OutOfMemory).message();
    } catch (const std::exception& e) {
        report = RuntimeError(RuntimeError::DeviceIoError, {}, QString::fromLocal8Bit(e.what())).message();
    }
    try {
        busy_.setBusy(false);
        messages_.show(report, MessageButtons::Ok);
    } catch (...) {
        // Nothing more can be told; the program goes on.
    }
    return false;
}

} // namespace penumbrix
