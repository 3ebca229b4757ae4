#include "framework/MessageLoop.h"

#include <algorithm>

namespace {
// Sent by the system to blink the caret; not in the headers.
constexpr UINT kCaretBlinkTimer = 0x0118;
}  // namespace

template <typename T>
void MessageLoop::Remove(std::vector<T*>& list, T* item, int walking) {
    auto found = std::find(list.begin(), list.end(), item);
    if (found == list.end()) return;
    // A walk in progress holds indexes into the list: blank the slot instead.
    if (walking > 0)
        *found = nullptr;
    else
        list.erase(found);
}

template <typename T>
void MessageLoop::Compact(std::vector<T*>& list, int walking) {
    if (walking == 0) std::erase(list, nullptr);
}

void MessageLoop::AddMessageFilter(MessageFilter* filter) {
    if (filter) filters_.push_back(filter);
}

void MessageLoop::RemoveMessageFilter(MessageFilter* filter) { Remove(filters_, filter, walkingFilters_); }

void MessageLoop::AddIdleHandler(IdleHandler* handler) {
    if (handler) idleHandlers_.push_back(handler);
}

void MessageLoop::RemoveIdleHandler(IdleHandler* handler) { Remove(idleHandlers_, handler, walkingIdle_); }

bool MessageLoop::PreTranslateMessage(MSG& message) {
    ++walkingFilters_;
    bool claimed = false;
    for (size_t i = filters_.size(); i-- > 0 && !claimed;) {
        if (MessageFilter* filter = filters_[i]) claimed = filter->PreTranslateMessage(message);
    }
    --walkingFilters_;
    Compact(filters_, walkingFilters_);
    return claimed;
}

void MessageLoop::RunIdleHandlers() {
    ++walkingIdle_;
    // Handlers added during the walk wait for the next idle time.
    const size_t count = idleHandlers_.size();
    for (size_t i = 0; i < count; ++i) {
        if (IdleHandler* handler = idleHandlers_[i]) handler->OnIdle();
    }
    --walkingIdle_;
    Compact(idleHandlers_, walkingIdle_);
}

bool MessageLoop::RearmsIdle(const MSG& message) {
    switch (message.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case kCaretBlinkTimer:
        return false;
    default:
        return true;
    }
}

int MessageLoop::Run() {
    bool idle = true;
    MSG message = {};
    for (;;) {
        if (idle && !::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            RunIdleHandlers();
            idle = false;
        }
        // Taken in UTF-16: a character the ANSI code page cannot hold still
        // reaches a Unicode window (the Find dialog) whole; ANSI windows get
        // it converted on dispatch as before.
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) continue;
        if (!got) break;
        if (!PreTranslateMessage(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (RearmsIdle(message)) idle = true;
    }
    return static_cast<int>(message.wParam);
}
