// Keeps Wine's question to the clipboard owner off the capture's path.
//
// Under Wine every process but the desktop's looks for X11 clipboard changes by
// itself: a clipboard call (CountClipboardFormats, OpenClipboard,
// IsClipboardFormatAvailable) sends the clipboard owner a message and waits up
// to 5 s for its answer, once the last answer is 2 s old. A program that copies
// and then works for a while answers only when it next looks at its messages,
// often just before its next copy; a capture that asks then finds that next
// copy, and the one it was announced for is lost. While changes come, a thread
// of its own asks every few milliseconds, so that the question is asked and
// waited for between two changes instead.
#pragma once

#include <memory>

class OwnerPoll {
public:
    OwnerPoll();
    ~OwnerPoll();
    OwnerPoll(const OwnerPoll&) = delete;
    OwnerPoll& operator=(const OwnerPoll&) = delete;

    // A change was captured: keep asking for the next seconds. Nothing outside Wine.
    void Nudge();

private:
    struct State;
    std::shared_ptr<State> state_;
};
