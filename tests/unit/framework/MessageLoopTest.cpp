#include "framework/MessageLoop.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "framework/Module.h"

namespace {

class RecordingFilter : public MessageFilter {
public:
    RecordingFilter(std::string name, std::vector<std::string>& log, bool claims)
        : name_(std::move(name)), log_(log), claims_(claims) {}
    bool PreTranslateMessage(MSG&) override {
        log_.push_back(name_);
        if (onCall) onCall();
        return claims_;
    }
    std::function<void()> onCall;

private:
    std::string name_;
    std::vector<std::string>& log_;
    bool claims_;
};

class LambdaIdle : public IdleHandler {
public:
    explicit LambdaIdle(std::function<void()> run) : run_(std::move(run)) {}
    void OnIdle() override { run_(); }

private:
    std::function<void()> run_;
};

class LambdaFilter : public MessageFilter {
public:
    explicit LambdaFilter(std::function<void(const MSG&)> see) : see_(std::move(see)) {}
    bool PreTranslateMessage(MSG& message) override {
        see_(message);
        return false;
    }

private:
    std::function<void(const MSG&)> see_;
};

constexpr UINT kCaretBlink = 0x0118;

}  // namespace

TEST(MessageLoopTest, FiltersAreAskedNewestFirstUntilOneClaims) {
    MessageLoop loop;
    std::vector<std::string> log;
    RecordingFilter oldest("oldest", log, false), claiming("claiming", log, true), newest("newest", log, false);
    loop.AddMessageFilter(&oldest);
    loop.AddMessageFilter(&claiming);
    loop.AddMessageFilter(&newest);
    MSG message = {};
    EXPECT_TRUE(loop.PreTranslateMessage(message));
    EXPECT_EQ((std::vector<std::string>{"newest", "claiming"}), log);

    // A filter that removes another while the walk is under way: the removed
    // one is not asked, and the list is whole again afterwards.
    log.clear();
    loop.RemoveMessageFilter(&claiming);
    newest.onCall = [&] { loop.RemoveMessageFilter(&oldest); };
    EXPECT_FALSE(loop.PreTranslateMessage(message));
    EXPECT_EQ((std::vector<std::string>{"newest"}), log);
    log.clear();
    newest.onCall = nullptr;
    loop.AddMessageFilter(&oldest);
    EXPECT_FALSE(loop.PreTranslateMessage(message));
    EXPECT_EQ((std::vector<std::string>{"oldest", "newest"}), log);
}

TEST(MessageLoopTest, IdleWorkRunsWhenTheQueueEmptiesAndIsReArmedOnlyByRealMessages) {
    // Each round posts one message and, once it has been handled, waits for a
    // timer: idle work between the two shows that the message re-armed it.
    const std::vector<UINT> rounds = {WM_MOUSEMOVE, WM_NCMOUSEMOVE, WM_PAINT, kCaretBlink, WM_USER, WM_APP};
    MessageLoop loop;
    std::vector<std::string> log;
    size_t round = 0;
    bool waitingForTimer = false;
    LambdaIdle idle([&] {
        log.push_back("idle");
        if (waitingForTimer) return;
        if (round == rounds.size()) {
            ::PostQuitMessage(42);
            return;
        }
        ::PostThreadMessageA(::GetCurrentThreadId(), rounds[round++], 0, 0);
    });
    LambdaFilter filter([&](const MSG& message) {
        if (message.message == WM_TIMER) {
            ::KillTimer(nullptr, message.wParam);
            log.push_back("timer");
            waitingForTimer = false;
            return;
        }
        log.push_back(std::to_string(message.message));
        waitingForTimer = true;
        ::SetTimer(nullptr, 0, 30, nullptr);
    });
    loop.AddIdleHandler(&idle);
    loop.AddMessageFilter(&filter);

    EXPECT_EQ(42, loop.Run());

    std::vector<std::string> expected = {"idle"};
    for (UINT message : rounds) {
        expected.push_back(std::to_string(message));
        if (MessageLoop::RearmsIdle(MSG{nullptr, message, 0, 0, 0, {}})) expected.push_back("idle");
        expected.push_back("timer");
        expected.push_back("idle");
    }
    EXPECT_EQ(expected, log);
    for (UINT quiet : std::vector<UINT>{WM_MOUSEMOVE, WM_NCMOUSEMOVE, WM_PAINT, kCaretBlink})
        EXPECT_FALSE(MessageLoop::RearmsIdle(MSG{nullptr, quiet, 0, 0, 0, {}}));
}

TEST(MessageLoopTest, ModuleKeepsOneLoopPerThread) {
    Module module;
    MessageLoop first, second;
    EXPECT_EQ(nullptr, module.GetMessageLoop());
    EXPECT_TRUE(module.AddMessageLoop(&first));
    EXPECT_FALSE(module.AddMessageLoop(&second));
    EXPECT_EQ(&first, module.GetMessageLoop());

    MessageLoop* seenElsewhere = &first;
    std::thread other([&] {
        seenElsewhere = module.GetMessageLoop();
        module.AddMessageLoop(&second);
    });
    other.join();
    EXPECT_EQ(nullptr, seenElsewhere);
    EXPECT_EQ(&first, module.GetMessageLoop());

    EXPECT_TRUE(module.RemoveMessageLoop());
    EXPECT_FALSE(module.RemoveMessageLoop());
    EXPECT_EQ(nullptr, module.GetMessageLoop());
    // Without Init the module stands for the executable itself.
    EXPECT_EQ(::GetModuleHandleA(nullptr), module.Instance());
}
