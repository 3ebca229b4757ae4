#include "framework/Module.h"

void Module::Init(HINSTANCE instance) { instance_ = instance; }

void Module::Term() {
    std::lock_guard<std::mutex> lock(mutex_);
    loops_.clear();
    instance_ = nullptr;
}

HINSTANCE Module::Instance() const { return instance_ ? instance_ : ::GetModuleHandleA(nullptr); }

bool Module::AddMessageLoop(MessageLoop* loop) {
    std::lock_guard<std::mutex> lock(mutex_);
    return loop && loops_.emplace(::GetCurrentThreadId(), loop).second;
}

bool Module::RemoveMessageLoop() {
    std::lock_guard<std::mutex> lock(mutex_);
    return loops_.erase(::GetCurrentThreadId()) > 0;
}

MessageLoop* Module::GetMessageLoop(DWORD threadId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = loops_.find(threadId);
    return found == loops_.end() ? nullptr : found->second;
}

Module& AppModule() {
    static Module module;
    return module;
}

std::string LoadResourceString(UINT id) {
    // LoadStringA with a zero length hands out a read-only pointer to the UTF-16
    // resource; a buffer is simpler and the strings are short.
    char text[1024] = {};
    const int length = ::LoadStringA(AppModule().Instance(), id, text, sizeof(text));
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}
