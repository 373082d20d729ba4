#pragma once
// Splits work on a large picture across the machine's cores.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

namespace penumbrix {

namespace detail {
// Runs part(1) .. part(parts - 1) on threads kept for the purpose and
// part(0) on the calling thread; returns when all have ended. False, having
// run nothing, when those threads are in use or can't be started.
bool runOnWorkers(std::int64_t parts, const std::function<void(std::int64_t)>& part);
// The same on threads of this call's own; a part whose thread can't be
// started runs on the calling thread.
void runOnOwnThreads(std::int64_t parts, const std::function<void(std::int64_t)>& part);
// How many parts inParts makes at most.
std::int64_t mostParts();
} // namespace detail

// For tests: the most parts inParts makes (0: one for each of the machine's
// cores, at most 4), and whether starting a thread fails, as it does when
// the system has no more to give. Threads already started stay in use.
void setMostParts(int parts);
void setThreadStartsFail(bool fail);

// Runs work(begin, end) over [0, count) in as many parts as there are cores
// (at most 4), each at least minimumPart long; one part runs on the calling
// thread. Returns when all have ended; the first exception thrown passes on.
template <typename Work>
void inParts(std::int64_t count, std::int64_t minimumPart, const Work& work)
{
    const std::int64_t parts = std::clamp<std::int64_t>(count / std::max<std::int64_t>(1, minimumPart), 1,
                                                        detail::mostParts());
    if (parts <= 1) {
        work(std::int64_t(0), count);
        return;
    }
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(parts));
    const std::function<void(std::int64_t)> run = [&](std::int64_t part) {
        try {
            work(count * part / parts, count * (part + 1) / parts);
        } catch (...) {
            errors[static_cast<std::size_t>(part)] = std::current_exception();
        }
    };
    if (!detail::runOnWorkers(parts, run))
        detail::runOnOwnThreads(parts, run);
    for (const std::exception_ptr& e : errors)
        if (e)
            std::rethrow_exception(e);
}

} // namespace penumbrix
