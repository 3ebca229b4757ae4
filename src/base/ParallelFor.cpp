#include "base/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

unsigned WorkerThreads() { return std::clamp(std::thread::hardware_concurrency(), 2u, 4u); }

void ParallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& work) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr firstError;
    std::mutex errorLock;
    auto run = [&] {
        while (!failed.load(std::memory_order_relaxed)) {
            const size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count) return;
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorLock);
                if (!firstError) firstError = std::current_exception();
                failed = true;
            }
        }
    };

    const size_t wanted = std::min<size_t>(threads, count);
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(wanted);
    } catch (...) {
        // No room to keep threads in: this one does it all.
    }
    for (size_t t = 1; t < helpers.capacity() && t < wanted; ++t) {
        // Whatever a thread's start throws (no thread left, no memory), the
        // threads started so far, and this one, do it all: a started thread
        // left unjoined would end the program.
        try {
            helpers.emplace_back(run);
        } catch (...) {
            break;
        }
    }
    run();
    for (std::thread& helper : helpers) helper.join();
    if (firstError) std::rethrow_exception(firstError);
}
