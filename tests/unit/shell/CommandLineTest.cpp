#include "shell/Startup.h"

#include <gtest/gtest.h>

using Switches = std::vector<CommandSwitch>;

TEST(CommandLineTest, OnlyTheLastTextOnTheLineIsASwitch) {
    const char* program = "\"C:\\Program Files\\Scrapvault\\SVault.exe\"";
    auto line = [&](const char* rest) { return std::string(program) + rest; };

    EXPECT_EQ(Switches{CommandSwitch::kInstall}, FindSwitches(line(" /install").c_str()));
    EXPECT_EQ(Switches{CommandSwitch::kUninstall}, FindSwitches(line(" -UNINSTALL").c_str()));
    EXPECT_EQ(Switches{CommandSwitch::kRegServer}, FindSwitches(line(" /RegServer").c_str()));
    EXPECT_EQ(Switches{CommandSwitch::kUnregServer}, FindSwitches(line(" -unregserver").c_str()));
    // Text after the switch name, even a blank, makes it no switch.
    EXPECT_EQ(Switches{}, FindSwitches(line(" /install ").c_str()));
    EXPECT_EQ(Switches{}, FindSwitches(line(" /Install /x").c_str()));
    EXPECT_EQ(Switches{}, FindSwitches(line("").c_str()));
    // The scan goes on after every delimiter, so the last one decides.
    EXPECT_EQ(Switches{CommandSwitch::kInstall}, FindSwitches(line(" /x /Install").c_str()));
    EXPECT_EQ(Switches{CommandSwitch::kInstall}, FindSwitches(line(" /-install").c_str()));
    // Delimiters inside the program's path yield candidates that match nothing.
    EXPECT_EQ(Switches{}, FindSwitches("C:\\my-tools/SVault.exe"));
    EXPECT_EQ(Switches{CommandSwitch::kUninstall}, FindSwitches("C:\\my-tools/SVault.exe -Uninstall"));
}
