#include "shell/WarningDialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "resources/resource.h"
#include "shell/Settings.h"
#include "support/DialogAnswerer.h"

namespace {

// What the open dialog looked like, in its client coordinates.
struct DialogShape {
    RECT window = {};
    RECT text = {}, check = {}, ok = {}, cancel = {};
    bool cancelVisible = true;
    std::string message;
    HGDIOBJ textFont = nullptr;
};

RECT ClientRectOf(HWND dialog, int control) {
    RECT rect = {};
    HWND child = ::GetDlgItem(dialog, control);
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND FindWarningDialog() {
    struct Search {
        HWND found = nullptr;
    } search;
    ::EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            char title[32] = {};
            ::GetWindowTextA(window, title, sizeof(title));
            if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window) || std::string(title) != "Warning")
                return TRUE;
            reinterpret_cast<Search*>(param)->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Shows the warning and, from another thread, records its shape and presses a button.
int ShowAndMeasure(UINT messageId, UINT buttons, DialogShape& shape, int button) {
    std::thread probe([&] {
        HWND dialog = nullptr;
        for (int i = 0; i < 500 && !(dialog = FindWarningDialog()); ++i) ::Sleep(10);
        if (!dialog) return;
        ::GetWindowRect(dialog, &shape.window);
        shape.text = ClientRectOf(dialog, IDC_WARNING_TEXT);
        shape.check = ClientRectOf(dialog, IDC_DONT_SHOW_AGAIN);
        shape.ok = ClientRectOf(dialog, IDOK);
        shape.cancel = ClientRectOf(dialog, IDCANCEL);
        shape.cancelVisible = ::IsWindowVisible(::GetDlgItem(dialog, IDCANCEL)) != FALSE;
        char text[600] = {};
        ::GetDlgItemTextA(dialog, IDC_WARNING_TEXT, text, sizeof(text));
        shape.message = text;
        shape.textFont = reinterpret_cast<HGDIOBJ>(::SendDlgItemMessageA(dialog, IDC_WARNING_TEXT, WM_GETFONT, 0, 0));
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    });
    const int result = WarningDialog(messageId).Show(nullptr, buttons);
    probe.join();
    return result;
}

SIZE OneLineExtent(const std::string& text, HGDIOBJ in = ::GetStockObject(DEFAULT_GUI_FONT)) {
    UniqueDc dc(::CreateCompatibleDC(nullptr));
    ScopedSelect font(dc.get(), in ? in : ::GetStockObject(SYSTEM_FONT));
    RECT rect = {};
    ::DrawTextA(dc.get(), text.c_str(), -1, &rect, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

int Width(const RECT& r) { return r.right - r.left; }
int CentreX(const RECT& r) { return (r.left + r.right) / 2; }

}  // namespace

class WarningDialogTest : public ::testing::Test {
protected:
    WarningDialogTest() { ClearFlags(); }
    ~WarningDialogTest() override { ClearFlags(); }

    static void ClearFlags() {
        UniqueRegKey key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, WarningsKeyPath(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
        for (const char* name : {"103", "104", "109"}) ::RegDeleteValueA(key.get(), name);
    }

    static bool ReadFlag(const char* name, DWORD& value) {
        UniqueRegKey key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, WarningsKeyPath(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
            return false;
        DWORD size = sizeof(value);
        return ::RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS;
    }
};

TEST_F(WarningDialogTest, TickedBoxAnswersOkFromThenOnEvenAfterCancel) {
    ASSERT_FALSE(WarningDialog(IDS_CONFIRM_DELETE).Suppressed());
    DialogAnswerer answerer;
    DialogScript& script = answerer.Expect({DialogAnswerer::Check(IDC_DONT_SHOW_AGAIN, BST_CHECKED),
                                            DialogAnswerer::Click(IDC_DONT_SHOW_AGAIN),
                                            DialogAnswerer::Click(IDCANCEL)});
    EXPECT_EQ(IDCANCEL, WarningDialog(IDS_CONFIRM_DELETE).Show(nullptr, WarningDialog::kOkCancel));
    EXPECT_EQ("Warning", script.seenTitle);
    EXPECT_NE(std::string::npos, script.seenText.find("Are you sure you want to remove the item?"));
    DWORD flag = 0;
    ASSERT_TRUE(ReadFlag("103", flag));
    EXPECT_EQ(1u, flag);

    // Now answered at once, without a dialog; other messages still ask.
    WarningDialog again(IDS_CONFIRM_DELETE);
    EXPECT_TRUE(again.Suppressed());
    EXPECT_EQ(IDOK, again.Show(nullptr, WarningDialog::kOkCancel));
    EXPECT_EQ(1, answerer.Answered());
    EXPECT_FALSE(WarningDialog(IDS_CONFIRM_CLEAR).Suppressed());
}

TEST_F(WarningDialogTest, TickingAndClearingTheBoxKeepsTheMessageShown) {
    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::Check(IDC_DONT_SHOW_AGAIN, BST_CHECKED), DialogAnswerer::Click(IDC_DONT_SHOW_AGAIN),
                     DialogAnswerer::Check(IDC_DONT_SHOW_AGAIN, BST_UNCHECKED),
                     DialogAnswerer::Click(IDC_DONT_SHOW_AGAIN), DialogAnswerer::Click(IDOK)});
    EXPECT_EQ(IDOK, WarningDialog(IDS_CONFIRM_CLEAR).Show(nullptr, WarningDialog::kOkCancel));
    DWORD flag = 7;
    ASSERT_TRUE(ReadFlag("104", flag));
    EXPECT_EQ(0u, flag);

    answerer.Expect({DialogAnswerer::Click(IDOK)});
    EXPECT_FALSE(WarningDialog(IDS_CONFIRM_CLEAR).Suppressed());
    EXPECT_EQ(IDOK, WarningDialog(IDS_CONFIRM_CLEAR).Show(nullptr, WarningDialog::kOkCancel));
    EXPECT_EQ(2, answerer.Answered());
}

TEST_F(WarningDialogTest, DialogFitsItsOneLineMessage) {
    const int border = ::GetSystemMetrics(SM_CXBORDER);

    DialogShape question;
    EXPECT_EQ(IDCANCEL, ShowAndMeasure(IDS_CONFIRM_DELETE, WarningDialog::kOkCancel, question, IDCANCEL));
    const SIZE questionText = OneLineExtent(question.message);
    EXPECT_EQ("Are you sure you want to remove the item?", question.message);
    EXPECT_EQ(questionText.cx + 22 * border, Width(question.window));
    EXPECT_EQ(questionText.cx, Width(question.text));
    // The box draws in the font the text was measured in, so at any scale it holds it whole.
    EXPECT_EQ(questionText.cx, OneLineExtent(question.message, question.textFont).cx);
    // OK and Cancel sit symmetrically about the middle, below the check box.
    EXPECT_TRUE(question.cancelVisible);
    const int half = Width(question.window) / 2;
    EXPECT_EQ(half - 10 * border, question.ok.right);
    EXPECT_EQ(half + 10 * border, question.cancel.left);
    EXPECT_LT(question.check.bottom, question.ok.top);
    EXPECT_EQ(question.ok.top, question.cancel.top);

    DialogShape warning;
    EXPECT_EQ(IDOK, ShowAndMeasure(IDS_ARCHIVE_SIZE_WARNING, 0, warning, IDOK));
    const SIZE warningText = OneLineExtent(warning.message);
    // A long message makes a wide dialog: nothing wraps.
    EXPECT_EQ(warningText.cx + 22 * border, Width(warning.window));
    EXPECT_GT(Width(warning.window), Width(question.window));
    EXPECT_EQ(warningText.cy, warning.text.bottom - warning.text.top);
    // One OK button in the middle, no Cancel.
    EXPECT_FALSE(warning.cancelVisible);
    EXPECT_LE(std::abs(CentreX(warning.ok) - Width(warning.window) / 2), 1);

    // Without an owner it is centred on the screen's work area.
    RECT area = {};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_LE(std::abs(CentreX(warning.window) - CentreX(area)), 1);
}
