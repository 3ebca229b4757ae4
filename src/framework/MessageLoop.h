// The thread's message loop: message filters see every message first (the newest
// filter first), idle handlers run once each time the queue runs dry.
#pragma once

#include <windows.h>

#include <vector>

class MessageFilter {
public:
    // True claims the message: it is then neither translated nor dispatched.
    virtual bool PreTranslateMessage(MSG& message) = 0;

protected:
    ~MessageFilter() = default;
};

class IdleHandler {
public:
    virtual void OnIdle() = 0;

protected:
    ~IdleHandler() = default;
};

class MessageLoop {
public:
    MessageLoop() = default;
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // Filters and handlers may add or remove themselves (or others) while they run.
    void AddMessageFilter(MessageFilter* filter);
    void RemoveMessageFilter(MessageFilter* filter);
    void AddIdleHandler(IdleHandler* handler);
    void RemoveIdleHandler(IdleHandler* handler);

    // Runs until WM_QUIT and returns the quit message's exit code.
    int Run();

    // Offers the message to the filters, the newest first; true when one claimed it.
    bool PreTranslateMessage(MSG& message);
    // Calls every idle handler once, in the order they were added.
    void RunIdleHandlers();
    // Mouse moves, painting and the caret blink come by all the time and change
    // nothing that idle work would show; every other message re-arms it.
    static bool RearmsIdle(const MSG& message);

private:
    template <typename T>
    static void Remove(std::vector<T*>& list, T* item, int walking);
    template <typename T>
    static void Compact(std::vector<T*>& list, int walking);

    std::vector<MessageFilter*> filters_;
    std::vector<IdleHandler*> idleHandlers_;
    // Nesting depth of walks over the lists: removal only blanks entries then.
    int walkingFilters_ = 0;
    int walkingIdle_ = 0;
};
