#pragma once
// Splits work on a large picture across the machine's cores.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

namespace penumbrix {

namespace detail {
// Runs part(1) .. part(parts - 1) on threads kept for the purpose and
// part(0) on the calling thread; returns when all have ended. False, having
// run nothing, when those threads are in use or can't be started.
bool runOnWorkers(std::int64_t parts, const std::function<void(std::int64_t)>& part);
} // namespace detail

// Runs work(begin, end) over [0, count) in as many parts as there are cores
// (at most 4), each at least minimumPart long; one part runs on the calling
// thread. Returns when all have ended; the first exception thrown passes on.
template <typename Work>
void inParts(std::int64_t count, std::int64_t minimumPart, const Work& work)
{
    const std::int64_t cores = std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 4);
    const std::int64_t parts = std::clamp<std::int64_t>(count / std::max<std::int64_t>(1, minimumPart), 1, cores);
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
    if (!detail::runOnWorkers(parts, run)) {
        // Threads of this call's own.
        std::vector<std::thread> threads;
        for (std::int64_t part = 1; part < parts; ++part) {
            try {
                threads.emplace_back(run, part);
            } catch (const std::system_error&) {
                run(part); // no thread to be had: here, then
            }
        }
        run(0);
        for (std::thread& t : threads)
            t.join();
    }
    for (const std::exception_ptr& e : errors)
        if (e)
            std::rethrow_exception(e);
}

} // namespace penumbrix
