#include "support/DialogAnswerer.h"

#include <algorithm>

namespace {

struct FindState {
    DWORD process;
    HWND ignored;
    // Dialogs answered already: one may stay visible for a moment after its
    // answer, even after the next dialog it opened has gone.
    const std::vector<HWND>* handled;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto* state = reinterpret_cast<FindState*>(param);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != state->process || window == state->ignored || !::IsWindowVisible(window)) return TRUE;
    if (std::find(state->handled->begin(), state->handled->end(), window) != state->handled->end()) return TRUE;
    char name[32] = {};
    ::GetClassNameA(window, name, sizeof(name));
    if (std::string(name) != "#32770") return TRUE;
    state->found = window;
    return FALSE;
}

HWND FindVisibleDialog(HWND ignored, const std::vector<HWND>& handled) {
    FindState state{::GetCurrentProcessId(), ignored, &handled, nullptr};
    ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
    char name[32] = {};
    ::GetClassNameA(child, name, sizeof(name));
    if (_stricmp(name, "Static") == 0) {
        char text[1024] = {};
        ::GetWindowTextA(child, text, sizeof(text));
        if (text[0]) {
            auto* out = reinterpret_cast<std::string*>(param);
            if (!out->empty()) *out += "\n";
            *out += text;
        }
    }
    return TRUE;
}

}  // namespace

DialogAnswerer::DialogAnswerer(HWND leaveAlone) : leaveAlone_(leaveAlone), watcher_([this] { Watch(); }) {}

DialogAnswerer::~DialogAnswerer() {
    stop_ = true;
    watcher_.join();
}

DialogScript& DialogAnswerer::Expect(std::vector<DialogStep> steps) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.push_back(DialogScript{std::move(steps), {}, {}, false});
    return scripts_.back();
}

bool DialogAnswerer::WaitForAnswers(int count, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (answered_ < count) {
        if (::GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(10);
    }
    return true;
}

void DialogAnswerer::Watch() {
    std::vector<HWND> handled;
    HWND last = nullptr;
    while (!stop_) {
        ::Sleep(20);
        // A handle that is gone may come back as a new dialog's.
        std::erase_if(handled, [](HWND window) { return !::IsWindow(window); });
        HWND dialog = FindVisibleDialog(leaveAlone_, handled);
        if (!dialog) {
            // A dialog answered before is answered again when it is the one in
            // front once more (the picker it opened has closed), but not while
            // it only lingers on its way out after its own answer.
            HWND again = FindVisibleDialog(leaveAlone_, {});
            if (!again || again == last || !::IsWindowEnabled(again)) continue;
            ::Sleep(300);
            if (!::IsWindowVisible(again) || !::IsWindowEnabled(again) || FindVisibleDialog(leaveAlone_, handled))
                continue;
            dialog = again;
        }
        DialogScript* script = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (next_ < scripts_.size()) script = &scripts_[next_++];
        }
        if (!script) {
            // Nobody expected it: cancel it, so that the test fails on the count
            // instead of hanging in a modal loop until the time-out.
            ::Sleep(100);
            ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            handled.push_back(dialog);
            last = dialog;
            ++unexpected_;
            continue;
        }
        // Give the dialog a moment to finish its initialisation.
        ::Sleep(100);
        char title[256] = {};
        ::GetWindowTextA(dialog, title, sizeof(title));
        script->seenTitle = title;
        ::EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&script->seenText));
        for (const DialogStep& step : script->steps) {
            HWND control = ::GetDlgItem(dialog, step.control);
            switch (step.kind) {
            case DialogStep::kSetText:
                ::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.text.c_str()));
                break;
            case DialogStep::kSelectCombo:
                ::SendMessageA(control, CB_SETCURSEL, step.index, 0);
                // A person's pick sends both; Wine's save dialog takes the new file
                // type only on CBN_SELENDOK, other dialogs act on CBN_SELCHANGE.
                ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(step.control, CBN_SELCHANGE),
                               reinterpret_cast<LPARAM>(control));
                ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(step.control, CBN_SELENDOK),
                               reinterpret_cast<LPARAM>(control));
                break;
            case DialogStep::kCheck:
                ::SendMessageA(control, BM_SETCHECK, step.index, 0);
                break;
            case DialogStep::kRun:
                step.action(dialog);
                break;
            case DialogStep::kClick:
                // Posted: the button's handler may end the dialog, which must not
                // happen inside this thread's SendMessage.
                ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(step.control, BN_CLICKED),
                               reinterpret_cast<LPARAM>(control));
                break;
            }
        }
        script->answered = true;
        handled.push_back(dialog);
        last = dialog;
        ++answered_;
    }
}
