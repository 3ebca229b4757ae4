#include "archive/OwnerPoll.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// How long after a change the thread keeps asking, and how often.
constexpr auto kBurst = std::chrono::seconds(10);
constexpr auto kEvery = std::chrono::milliseconds(5);

bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

struct OwnerPoll::State {
    std::mutex lock;
    std::condition_variable wake;
    std::chrono::steady_clock::time_point until;
    bool started = false;
    bool stop = false;
};

OwnerPoll::OwnerPoll() {
    if (UnderWine()) state_ = std::make_shared<State>();
}

OwnerPoll::~OwnerPoll() {
    if (!state_) return;
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stop = true;
    state_->wake.notify_all();
}

void OwnerPoll::Nudge() {
    if (!state_) return;
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->until = std::chrono::steady_clock::now() + kBurst;
    if (!state_->started) {
        state_->started = true;
        // The thread keeps the state alive; it may be waiting for an owner's
        // answer (up to 5 s) when the archive goes, so it is not joined.
        std::thread([state = state_] {
            std::unique_lock<std::mutex> held(state->lock);
            while (!state->stop) {
                if (std::chrono::steady_clock::now() >= state->until) {
                    state->wake.wait(held);
                    continue;
                }
                held.unlock();
                ::CountClipboardFormats();
                held.lock();
                state->wake.wait_for(held, kEvery);
            }
        }).detach();
    }
    state_->wake.notify_all();
}
