#include "framework/Window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/MessageMap.h"
#include "framework/Splitter.h"
#include "framework/UniqueHandle.h"

namespace {

constexpr char kClassName[] = "SvaultWindowTest";
constexpr UINT kBaseMessage = WM_APP + 1;

// A base with its own table, and a derived window whose table comes first.
class BaseWindow : public Window {
public:
    std::vector<std::string> log;

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        static constexpr MessageEntry<BaseWindow> kMessages[] = {
            msg::Raw<&BaseWindow::OnBaseMessage>(kBaseMessage),
            msg::Command<&BaseWindow::OnBaseCommand>(200),
        };
        return DispatchMessageTable<BaseWindow>(*this, kMessages, message, wParam, lParam, result) ||
               Window::ProcessMessage(message, wParam, lParam, result);
    }

private:
    LRESULT OnBaseMessage(WPARAM wParam, LPARAM) {
        log.push_back("base " + std::to_string(wParam));
        return 7;
    }
    void OnBaseCommand() { log.push_back("base command"); }
};

class TestWindow : public BaseWindow {
public:
    HWND seenAtCreate = nullptr;
    HWND finalWindow = nullptr;
    POINT sysPoint = {};
    UINT sysCommand = 0;
    UINT controlNotify = 0;
    HWND control = nullptr;

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        static constexpr MessageEntry<TestWindow> kMessages[] = {
            msg::Create<&TestWindow::OnCreate>(),
            msg::SysCommand<&TestWindow::OnSysCommand>(),
            msg::Command<&TestWindow::OnMenuCommand>(100),
            msg::Command<&TestWindow::OnControl>(101),
            msg::Raw<&TestWindow::OnOverride>(kBaseMessage),
        };
        return DispatchMessageTable<TestWindow>(*this, kMessages, message, wParam, lParam, result) ||
               BaseWindow::ProcessMessage(message, wParam, lParam, result);
    }
    void OnFinalMessage(HWND window) override { finalWindow = window; }

private:
    bool OnCreate(const CREATESTRUCTA& create) {
        seenAtCreate = Handle();
        return std::string(create.lpszName) != "fail";
    }
    bool OnSysCommand(UINT command, POINT point) {
        sysCommand = command;
        sysPoint = point;
        return command == SC_CLOSE;
    }
    void OnMenuCommand() { log.push_back("menu"); }
    void OnControl(UINT notifyCode, HWND from) {
        controlNotify = notifyCode;
        control = from;
    }
    // Takes the message from the base's handler of the same message.
    LRESULT OnOverride(WPARAM wParam, LPARAM) {
        log.push_back("derived " + std::to_string(wParam));
        return 1;
    }
};

bool RegisterTestClass() {
    WNDCLASSEXA windowClass = {};
    windowClass.lpszClassName = kClassName;
    return Window::RegisterWindowClass(windowClass);
}

}  // namespace

TEST(WindowTest, ObjectIsTheWindowsFromCreationToItsLastMessage) {
    ASSERT_TRUE(RegisterTestClass());
    ASSERT_TRUE(RegisterTestClass());  // registering again is harmless
    TestWindow window;
    HWND handle = window.Create(kClassName, "test", WS_OVERLAPPEDWINDOW, 0);
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(handle, window.Handle());
    EXPECT_EQ(handle, window.seenAtCreate);
    EXPECT_EQ(&window, Window::FromHandle(handle));
    EXPECT_EQ(nullptr, window.Create(kClassName, "again", WS_OVERLAPPEDWINDOW, 0));

    ::DestroyWindow(handle);
    EXPECT_EQ(nullptr, window.Handle());
    EXPECT_EQ(handle, window.finalWindow);
    EXPECT_EQ(nullptr, Window::FromHandle(handle));

    // A create handler that refuses makes creation fail and still ends cleanly.
    TestWindow refused;
    EXPECT_EQ(nullptr, refused.Create(kClassName, "fail", WS_OVERLAPPEDWINDOW, 0));
    EXPECT_EQ(nullptr, refused.Handle());
    EXPECT_NE(nullptr, refused.finalWindow);
}

TEST(WindowTest, TablesUnpackArgumentsAndChainToTheBase) {
    ASSERT_TRUE(RegisterTestClass());
    TestWindow window;
    HWND handle = window.Create(kClassName, "test", WS_OVERLAPPEDWINDOW, 0);
    ASSERT_NE(nullptr, handle);

    // Points arrive signed (a second monitor left of the first) and the
    // command without its low four bits.
    ::SendMessageA(handle, WM_SYSCOMMAND, SC_CLOSE | 2, MAKELPARAM(-5, -7));
    EXPECT_EQ(static_cast<UINT>(SC_CLOSE), window.sysCommand);
    EXPECT_EQ(-5, window.sysPoint.x);
    EXPECT_EQ(-7, window.sysPoint.y);
    EXPECT_TRUE(::IsWindow(handle));  // taken, so default processing did not close it

    HWND button = ::CreateWindowExA(0, "BUTTON", "b", WS_CHILD, 0, 0, 10, 10, handle, nullptr, nullptr, nullptr);
    ::SendMessageA(handle, WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(static_cast<UINT>(BN_CLICKED), window.controlNotify);
    EXPECT_EQ(button, window.control);

    ::SendMessageA(handle, WM_COMMAND, 100, 0);
    ::SendMessageA(handle, WM_COMMAND, 200, 0);
    ::SendMessageA(handle, WM_COMMAND, 300, 0);  // nobody's: default processing
    EXPECT_EQ(1, ::SendMessageA(handle, kBaseMessage, 2, 0));
    EXPECT_EQ((std::vector<std::string>{"menu", "base command", "derived 2"}), window.log);

    // An unhandled system command reaches default processing: SC_MINIMIZE minimises.
    ::ShowWindow(handle, SW_SHOW);
    ::SendMessageA(handle, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(::IsIconic(handle));
    ::DestroyWindow(handle);
}

TEST(WindowTest, ObjectGoingFirstTakesItsWindowAlong) {
    ASSERT_TRUE(RegisterTestClass());
    HWND handle = nullptr;
    {
        TestWindow window;
        handle = window.Create(kClassName, "test", WS_OVERLAPPEDWINDOW, 0);
        ASSERT_NE(nullptr, handle);
    }
    EXPECT_FALSE(::IsWindow(handle));
}

TEST(SplitterTest, TheBarIsDraggedUntilCaptureEndsAndThePanesFollowIt) {
    UniqueWindow owner(::CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 600, 300, nullptr,
                                         nullptr, nullptr, nullptr));
    Splitter splitter;
    ASSERT_TRUE(splitter.CreateSplitter(owner.get(), RECT{0, 0, 600, 300}));
    HWND left = ::CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, splitter.Handle(), nullptr, nullptr, nullptr);
    HWND right = ::CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, splitter.Handle(), nullptr, nullptr, nullptr);
    splitter.SetPanes(left, right);
    splitter.SetPosition(150);
    auto width = [](HWND pane) {
        RECT rect = {};
        ::GetWindowRect(pane, &rect);
        return rect.right - rect.left;
    };
    RECT client = {};
    ::GetClientRect(splitter.Handle(), &client);
    EXPECT_EQ(150, width(left));
    EXPECT_EQ(client.right - 150 - Splitter::kBarWidth, width(right));

    // Taken by the bar, moved, and let go when capture goes elsewhere.
    ::SendMessageA(splitter.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(151, 10));
    EXPECT_TRUE(splitter.Dragging());
    ::SendMessageA(splitter.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(251, 10));
    EXPECT_EQ(250, splitter.Position());
    EXPECT_EQ(250, width(left));
    ::SetCapture(owner.get());
    EXPECT_FALSE(splitter.Dragging());
    ::ReleaseCapture();
    ::SendMessageA(splitter.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(400, 10));
    EXPECT_EQ(250, splitter.Position());
    // Outside the bar a click starts nothing; a narrower window keeps the bar inside.
    ::SendMessageA(splitter.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 10));
    EXPECT_FALSE(splitter.Dragging());
    ::SetWindowPos(splitter.Handle(), nullptr, 0, 0, 200, 300, SWP_NOZORDER | SWP_NOMOVE);
    ::GetClientRect(splitter.Handle(), &client);
    EXPECT_EQ(client.right - Splitter::kBarWidth, splitter.Position());
}
