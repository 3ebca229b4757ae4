#include "base/SharedText.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/RecordFile.h"

// A path kept in parts reads back exactly as it was given, whatever its name.
TEST(SharedTextTest, StoredPathsReadBackAsGiven) {
    const std::string folder = "C:\\Archive\\8_12_2026\\";
    const std::vector<std::string> paths = {
        MakeUniqueFileName(folder, "C", ".tx"),
        MakeUniqueFileName("C:\\Archive\\AppData\\", nullptr, ".se"),
        folder + "C-00123d7b-9230-4df2-a0cc-dd93e81d3b25-.tx",  // lower case digits
        folder + "C-00123D7B-9230-4DF2-A0CC-DD93E81D3B25-.toolong",
        folder + "C-00123D7B-9230-4DF2-A0CC-DD93E81D3B2G-.tx",
        folder + "old.se",
        "no folder at all",
        "",
    };
    for (const std::string& path : paths) {
        const StoredPath stored(path);
        EXPECT_EQ(path, stored.str());
        EXPECT_EQ(path.empty(), stored.empty()) << path;
        StoredPath copy;
        copy = stored;
        EXPECT_EQ(path, std::string(copy));
    }
}

// Equal texts share one copy, which goes with its last holder; GUIDs sort as
// their texts do.
TEST(SharedTextTest, EqualTextsShareOneCopyAndGuidsSortAsTheirTexts) {
    const std::string title = "A title made for this test alone";
    SharedText first(title);
    SharedText second{std::string_view(title)};
    EXPECT_EQ(first.c_str(), second.c_str());
    EXPECT_EQ(title, first);
    first.clear();
    second = "another";
    EXPECT_TRUE(first.empty());
    EXPECT_EQ("another", second);
    SharedText again(title);
    EXPECT_EQ(title, again.str());

    std::map<std::string, GUID> byText;
    for (int i = 0; i < 200; ++i) {
        GUID guid = {};
        ::CoCreateGuid(&guid);
        guid.Data1 = static_cast<unsigned long>(i % 3) << 30;  // many equal first fields
        byText[GuidText(guid)] = guid;
    }
    const GUID* previous = nullptr;
    for (const auto& [text, guid] : byText) {
        if (previous) {
            EXPECT_TRUE(GuidLess()(*previous, guid)) << text;
        }
        previous = &guid;
    }
}
