#include "engine/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace penumbrix::detail {

namespace {

using Task = std::function<void(std::int64_t)>;

std::atomic<int> mostPartsSet{0};
std::atomic<bool> startsFail{false};

// A thread running `f`; throws std::system_error when none can be started.
template <typename F>
std::thread startThread(F&& f)
{
    if (startsFail)
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::forward<F>(f));
}

// A thread woken from sleep starts a fraction of a millisecond late, and the
// passes of one operation follow each other closely: a waiting thread keeps
// watching for this long before it sleeps.
constexpr auto kWatch = std::chrono::milliseconds(4);

template <typename Ready>
bool watchFor(const Ready& ready)
{
    const auto until = std::chrono::steady_clock::now() + kWatch;
    for (int i = 0;; ++i) {
        if (ready())
            return true;
        if (i % 256 == 255 && std::chrono::steady_clock::now() > until)
            return false;
#if defined(__SSE2__)
        _mm_pause();
#endif
    }
}

// Threads that wait for the parts of the next call: starting a thread costs
// more than a small picture's part of most passes.
class Workers {
public:
    bool run(std::int64_t parts, const Task& part)
    {
        // One call at a time (a call from inside a part included): others
        // start threads of their own.
        bool idle = false;
        if (!inUse_.compare_exchange_strong(idle, true))
            return false;
        struct Release {
            std::atomic<bool>& flag;
            ~Release() { flag = false; }
        } release{inUse_};
        if (!start(parts - 1))
            return false;
        {
            const std::lock_guard<std::mutex> lock(lock_);
            task_ = &part;
            next_ = 1;
            parts_ = parts;
            pending_.store(parts - 1);
            round_.fetch_add(1);
        }
        if (sleeping_ > 0)
            wake_.notify_all();
        part(0);
        if (!watchFor([&] { return pending_.load() == 0; })) {
            std::unique_lock<std::mutex> lock(lock_);
            done_.wait(lock, [&] { return pending_.load() == 0; });
        }
        const std::lock_guard<std::mutex> lock(lock_);
        task_ = nullptr;
        return true;
    }

private:
    bool start(std::int64_t count)
    {
        try {
            while (started_ < count) {
                startThread([this] { serve(); }).detach(); // it waits until the process ends
                ++started_;
            }
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    void serve()
    {
        std::uint64_t seen = 0;
        for (;;) {
            if (!watchFor([&] { return round_.load() != seen; })) {
                std::unique_lock<std::mutex> lock(lock_);
                ++sleeping_;
                wake_.wait(lock, [&] { return round_.load() != seen; });
                --sleeping_;
            }
            seen = round_.load();
            for (;;) {
                const Task* task = nullptr;
                std::int64_t part = 0;
                {
                    const std::lock_guard<std::mutex> lock(lock_);
                    if (!task_ || next_ >= parts_)
                        break;
                    task = task_;
                    part = next_++;
                }
                (*task)(part);
                if (pending_.fetch_sub(1) == 1) {
                    const std::lock_guard<std::mutex> lock(lock_);
                    done_.notify_one();
                }
            }
        }
    }

    std::atomic<bool> inUse_{false};
    std::mutex lock_;  // guards task_, next_, parts_ and sleeping_
    std::condition_variable wake_, done_;
    std::int64_t started_ = 0;
    const Task* task_ = nullptr;
    std::int64_t next_ = 0, parts_ = 0;
    std::atomic<std::int64_t> pending_{0};
    std::atomic<std::uint64_t> round_{0};
    std::atomic<int> sleeping_{0};
};

} // namespace

bool runOnWorkers(std::int64_t parts, const Task& part)
{
    static Workers* const workers = new Workers; // never destroyed: its threads outlive main
    return workers->run(parts, part);
}

void runOnOwnThreads(std::int64_t parts, const Task& part)
{
    std::vector<std::thread> threads;
    for (std::int64_t p = 1; p < parts; ++p) {
        try {
            threads.push_back(startThread([&part, p] { part(p); }));
        } catch (const std::system_error&) {
            part(p); // no thread to be had: here, then
        }
    }
    part(0);
    for (std::thread& t : threads)
        t.join();
}

std::int64_t mostParts()
{
    const int set = mostPartsSet;
    return set > 0 ? set : std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 4);
}

} // namespace penumbrix::detail

namespace penumbrix {

void setMostParts(int parts) { detail::mostPartsSet = std::max(0, parts); }
void setThreadStartsFail(bool fail) { detail::startsFail = fail; }

} // namespace penumbrix
