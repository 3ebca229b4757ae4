#include "archive/ProgramKey.h"

#include <gtest/gtest.h>

#include "framework/UniqueHandle.h"

namespace {

TEST(ProgramKeyTest, NamesTheExecutableInLowerCaseAndTheClassAndNothingOnceTheWindowIsGone) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ProgramKey Test Window";
    ::RegisterClassA(&windowClass);
    UniqueWindow window(::CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50,
                                          nullptr, nullptr, windowClass.hInstance, nullptr));
    ASSERT_TRUE(window);

    EXPECT_EQ("svault_unit_tests.exe|ProgramKey Test Window", ProgramKeyOf(window.get()));
    const HWND gone = window.get();
    window.reset();
    EXPECT_EQ("", ProgramKeyOf(gone));
}

}  // namespace
