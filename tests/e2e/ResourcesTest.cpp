// The built program's menus, toolbar, accelerators and strings, read back from
// SVault.exe and compared with what the program promises its users.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ScrapvaultFixture.h"
#include "framework/ToolBar.h"
#include "framework/UniqueHandle.h"

namespace {

// "text=id" per item, "-" per separator, "name[...]" per popup, parted by "|".
std::string MenuText(HMENU menu) {
    std::string out;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
        char text[256] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        if (!::GetMenuItemInfoA(menu, i, TRUE, &info)) return "unreadable";
        if (!out.empty()) out += "|";
        if (info.fType & MFT_SEPARATOR)
            out += "-";
        else if (info.hSubMenu)
            out += std::string(text) + "[" + MenuText(info.hSubMenu) + "]";
        else
            out += std::string(text) + "=" + std::to_string(info.wID);
    }
    return out;
}

class ResourcesTest : public ScrapvaultFixture {
protected:
    ResourcesTest()
        : program_(::LoadLibraryExA(SvaultPath().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    // The items of the menu's popup (the one popup of a context menu).
    std::string Menu(int id, bool firstPopupOnly) {
        UniqueMenu menu(::LoadMenuA(program_.get(), MAKEINTRESOURCEA(id)));
        if (!menu) return "missing";
        return MenuText(firstPopupOnly ? ::GetSubMenu(menu.get(), 0) : menu.get());
    }
    UniqueModule program_;
};

}  // namespace

TEST_F(ResourcesTest, MenusAreThoseTheUserIsPromised) {
    ASSERT_TRUE(program_);
    EXPECT_EQ("&File[&Pause=32790|-|E&xit=32769]|"
              "&Edit[&Copy\tCtrl+C=32789|-|&Clear=32771|&Delete\tDel=32778|-|Find...\tCtrl+F=32779|-|"
              "&Save\tCtrl+S=32793|Save &As...=32786]|"
              "&View[Group by &Type=32773|Group by &Application=32774|Group by &Date=32775|-|"
              "External Viewer=32770|&Word Wrap=32785|&Font=32783|-|Options\tAlt+Enter=32782]|"
              "&Help[&Help=32788|-|&About=32768]",
              Menu(203, false));
    EXPECT_EQ("&Copy=32789|Save &As...=32786|-|Find...=32779|E&xternal Viewer=32770|-|&Delete=32778|-|"
              "&Never Archive This Program=32797",
              Menu(209, true));
    EXPECT_EQ("&Copy=32789|Save\tCtrl+S=32793|Save &As...=32786|-|E&xternal Viewer=32770|Find..\tCtrl+F=32779|-|"
              "&Font=32783|&Word Wrap=32785",
              Menu(225, true));
    EXPECT_EQ("Show Main Window=32796|&Pause=32790|-|E&xit=32769", Menu(216, true));
}

TEST_F(ResourcesTest, TheToolbarHasItsButtonsInOrderAndAnImageForEach) {
    ASSERT_TRUE(program_);
    ToolBarLayout layout;
    ASSERT_TRUE(LoadToolBarLayout(program_.get(), 203, layout));
    EXPECT_EQ(16, layout.imageWidth);
    EXPECT_EQ(16, layout.imageHeight);
    EXPECT_EQ((std::vector<UINT>{32790, 0, 32778, 32786, 32793, 32789, 0, 32774, 32775, 32773, 0, 32779, 0, 32783,
                                 32785, 32770, 0, 32782, 32788}),
              layout.commands);
    UniqueBitmap images(static_cast<HBITMAP>(
        ::LoadImageA(program_.get(), MAKEINTRESOURCEA(203), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP strip = {};
    ASSERT_TRUE(images && ::GetObjectA(images.get(), sizeof(strip), &strip));
    EXPECT_EQ(14 * 16, strip.bmWidth);
    EXPECT_EQ(16, strip.bmHeight);
    EXPECT_EQ(32, strip.bmBitsPixel);
}

TEST_F(ResourcesTest, AcceleratorsAndStringsAreThoseTheUserIsPromised) {
    ASSERT_TRUE(program_);
    HACCEL table = ::LoadAcceleratorsA(program_.get(), MAKEINTRESOURCEA(203));
    ASSERT_TRUE(table);
    std::vector<ACCEL> keys(::CopyAcceleratorTableA(table, nullptr, 0));
    ::CopyAcceleratorTableA(table, keys.data(), static_cast<int>(keys.size()));
    std::map<WORD, std::pair<BYTE, WORD>> byCommand;
    for (const ACCEL& key : keys) byCommand[key.cmd] = {static_cast<BYTE>(key.fVirt & ~0x80), key.key};
    const std::map<WORD, std::pair<BYTE, WORD>> promised = {
        {32779, {FVIRTKEY | FCONTROL, 'F'}},
        {32793, {FVIRTKEY | FCONTROL, 'S'}},
        {32778, {FVIRTKEY, VK_DELETE}},
        {32782, {FVIRTKEY | FALT, VK_RETURN}},
        {32798, {FVIRTKEY | FCONTROL, 'E'}},
    };
    EXPECT_EQ(promised, byCommand);

    const std::map<UINT, std::string> strings = {
        {100, "Scrapvault"},
        {101, "Bitmap"},
        {102, "Text"},
        {103, "Are you sure you want to remove the item?"},
        {104, "Are you sure you want to remove all items?"},
        {105, "Metafile"},
        {106, "There are no more items found. Do you want to start from the begin?"},
        {107, "RTF"},
        {108, "HTML"},
        {109, "Archive size limit exceeed. You can clear some items or increase archive size limit value in Options "
              "dialog."},
        {110, "Search completed. Do you want to start from the begin?"},
        {111, "The data has changed. Do you want to save changes?"},
        {32768, "Displays the program information and copyright"},
        {32769, "Quit the application; prompts to save documents\nExit"},
        {32770, "Displays the item in the external viewer.\nExternal Viewer"},
        {32771, "Erases all items.\nErase all items"},
        {32772, "Displays the item in the external viewer.\nExternal Viewer"},
        {32773, "Orders by type.\nOrder by type"},
        {32774, "Orders by application.\nOrder by application"},
        {32775, "Orders by date.\nOrder by date"},
        {32778, "Deletes the item or group.\nDelete item or group"},
        {32779, "Finds the specified text.\nFind"},
        {32780, "Finds the specified text.\nFind"},
        {32782, "Sets options.\nOptions"},
        {32783, "Changes the font of the selection.\nChange Font"},
        {32784, "Changes the font of the selection.\nChange Font"},
        {32785, "Word wrap.\nWord wrap"},
        {32786, "Saves the item to file.\nSave As..."},
        {32787, "Word Wrap.\nWord Wrap"},
        {32788, "Help.\nHelp"},
        {32789, "Places the item or the group to the Clipboard.\nCopy to Clipboard"},
        {32790, "Pauses storing information.\nPause"},
        {32791, "Saves the Item to file.\nSave As..."},
        {32792, "Places the item or the group to the Clipboard.\nCopy to Clipboard"},
        {32793, "Saves the changes.\nSave"},
        {32794, "Saves the Item"},
        {32795, "Show Main Window"},
        {57345, "Ready"},
    };
    for (const auto& [id, text] : strings) {
        char loaded[512] = {};
        ::LoadStringA(program_.get(), id, loaded, sizeof(loaded));
        EXPECT_EQ(text, loaded) << id;
    }
    // The menu item that shows the window has no string of its own.
    char none[8] = {};
    EXPECT_EQ(0, ::LoadStringA(program_.get(), 32796, none, sizeof(none)));
}
