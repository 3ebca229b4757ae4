// The manifest in the resource script (linked into this executable as into
// SVault.exe) brings common controls 6, whose link control the About box uses.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

// Wine's version 6 still reports 5.81 through DllGetVersion, so the test asks
// which file was loaded: version 6 is only ever the side-by-side assembly.
TEST(ManifestTest, CommonControlsAreTheSideBySideVersionSix) {
    HMODULE controls = ::LoadLibraryA("comctl32.dll");
    ASSERT_NE(nullptr, controls);
    char path[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetModuleFileNameA(controls, path, MAX_PATH));
    ::FreeLibrary(controls);
    std::string lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(std::string::npos, lower.find("\\winsxs\\")) << path;
    EXPECT_NE(std::string::npos, lower.find("microsoft.windows.common-controls_6595b64144ccf1df_6.0.")) << path;
}
