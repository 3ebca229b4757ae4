// Answers the modal dialogs and message boxes of this process from a watcher
// thread, the way a person would: fill boxes, pick list entries, press buttons.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct DialogStep {
    enum Kind { kSetText, kSelectCombo, kClick, kCheck, kRun } kind;
    int control;
    std::string text;  // kSetText
    int index = 0;     // kSelectCombo: list index; kCheck: BST_ value
    // kRun: called on the watcher thread with the open dialog (to read it, or to type).
    std::function<void(HWND dialog)> action = {};
};

// The steps for one dialog, and what the test wants to know about it afterwards.
struct DialogScript {
    std::vector<DialogStep> steps;
    std::string seenTitle;
    std::string seenText;  // text of the dialog's static controls, joined by "\n"
    bool answered = false;
};

class DialogAnswerer {
public:
    // `leaveAlone`: a modeless dialog that the test drives itself.
    explicit DialogAnswerer(HWND leaveAlone = nullptr);
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    // Each dialog that appears takes the next script, in order.
    DialogScript& Expect(std::vector<DialogStep> steps);
    // Dialogs answered so far.
    int Answered() const { return answered_; }
    // Dialogs that appeared when no script was left; each was cancelled.
    int Unexpected() const { return unexpected_; }
    // Waits (pumping this thread's messages) until `count` dialogs were answered.
    bool WaitForAnswers(int count, DWORD timeoutMs = 10000);

    static DialogStep SetText(int control, std::string text) { return {DialogStep::kSetText, control, std::move(text)}; }
    static DialogStep SelectCombo(int control, int index) { return {DialogStep::kSelectCombo, control, {}, index}; }
    static DialogStep Click(int control) { return {DialogStep::kClick, control, {}}; }
    static DialogStep Check(int control, int state) { return {DialogStep::kCheck, control, {}, state}; }
    static DialogStep Run(std::function<void(HWND dialog)> action) {
        return {DialogStep::kRun, 0, {}, 0, std::move(action)};
    }

    // Controls of the common save dialog.
    static constexpr int kSaveFileName = 0x47C;
    static constexpr int kSaveFileType = 0x470;

private:
    void Watch();

    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::atomic<int> unexpected_{0};
    std::mutex mutex_;
    std::deque<DialogScript> scripts_;
    size_t next_ = 0;
    const HWND leaveAlone_;
    // Last, so that it starts only once everything it reads is initialised (a
    // thread started first could see the stop flag a previous answerer left on
    // the same stack slot, and never answer).
    std::thread watcher_;
};
