#include "archive/CaptureRecord.h"
#include "base/CaptureTime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/UniqueHandle.h"
#include "items/ClipItem.h"
#include "support/TempFolder.h"

namespace {

const std::string kHeader("F\x01\x00\x00\x00", 5);
const GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

std::string Le32(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }
std::string Field(char tag, const std::string& data) { return std::string(1, tag) + Le32(data.size()) + data; }
template <typename T>
std::string Raw(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}

}  // namespace

TEST(CaptureRecordTest, NewRecordAndGuidText) {
    const double before = CurrentCaptureTime();
    CaptureRecord record;
    EXPECT_EQ("Unknown Application", record.Title);
    EXPECT_STREQ("Unknown Application", kUnknownApplication);
    EXPECT_TRUE(record.CaptureGuid == GUID{});
    EXPECT_EQ(0u, record.ClassAtom);
    EXPECT_LE(before, record.CaptureTime);
    EXPECT_GE(CurrentCaptureTime(), record.CaptureTime);
    EXPECT_TRUE(record.FilePath.empty());

    EXPECT_EQ("{12345678-9ABC-DEF0-0102-030405060708}", GuidText(kGuid));
    EXPECT_EQ("{00000000-0000-0000-0000-000000000000}", GuidText(GUID{}));
}

TEST(CaptureRecordTest, FileIsWrittenAsLaidOutAndReadsBack) {
    TempFolder folder;
    const std::string path = folder / "record.se";
    CaptureRecord record;
    record.ClassAtom = 0xC123;
    record.CaptureGuid = kGuid;
    record.CaptureTime = 38442.5;
    record.Title = "Caf\xE9 \x80 window";  // ANSI: e-acute and the euro sign
    ASSERT_TRUE(record.WriteFile(path));
    EXPECT_EQ(path, record.FilePath);
    EXPECT_EQ(kHeader + Field('A', Le32(0xC123)) + Field('G', Raw(kGuid)) +
                  Field('D', std::string("\x00\x00\x00\x00\x50\xC5\xE2\x40", 8)) +
                  Field('T', "Caf\xC3\xA9 \xE2\x82\xAC window"),
              ReadFileBytes(path));

    CaptureRecord back;
    ASSERT_TRUE(back.ReadFile(path));
    EXPECT_EQ(record.Title, back.Title);
    EXPECT_EQ(0xC123u, back.ClassAtom);
    EXPECT_TRUE(back.CaptureGuid == kGuid);
    EXPECT_EQ(38442.5, back.CaptureTime);
    EXPECT_EQ(path, back.FilePath);

    // An empty title writes no "T" field: 48 bytes.
    record.Title.clear();
    ASSERT_TRUE(record.WriteFile(path));
    EXPECT_EQ(48u, ReadFileBytes(path).size());
    CaptureRecord untitled;
    ASSERT_TRUE(untitled.ReadFile(path));
    EXPECT_EQ(kUnknownApplication, untitled.Title);
    EXPECT_TRUE(untitled.CaptureGuid == kGuid);

    // A file that cannot be created is a failure.
    EXPECT_FALSE(record.WriteFile(folder / "no such folder\\record.se"));
}

TEST(CaptureRecordTest, TheProgramFollowsTheFieldsEarlierBuildsRead) {
    TempFolder folder;
    const std::string path = folder / "record.se";
    CaptureRecord record;
    record.ClassAtom = 0xC123;
    record.CaptureGuid = kGuid;
    record.Title = "T";
    record.ProgramKey = "caf\xE9.exe|Notepad";
    ASSERT_TRUE(record.WriteFile(path));
    const std::string bytes = ReadFileBytes(path);
    const std::string before = kHeader + Field('A', Le32(0xC123)) + Field('G', Raw(kGuid));
    ASSERT_EQ(before, bytes.substr(0, before.size()));
    EXPECT_EQ(Field('T', "T") + Field('P', "caf\xC3\xA9.exe|Notepad"), bytes.substr(before.size() + 13));
    CaptureRecord back;
    ASSERT_TRUE(back.ReadFile(path));
    EXPECT_EQ(record.ProgramKey, back.ProgramKey);

    // A key cut short by the end of the file is a damaged record.
    ASSERT_TRUE(WriteFileBytes(path, bytes.substr(0, bytes.size() - 1)));
    EXPECT_FALSE(CaptureRecord().ReadFile(path));
}

TEST(CaptureRecordTest, DamagedFilesFailCleanly) {
    TempFolder folder;
    const std::string path = folder / "damaged.se";
    const std::string a = Field('A', Le32(0xC0DE));
    const std::string d = Field('D', Raw(38442.5));

    struct Case {
        const char* what;
        std::string bytes;
        bool readable;
    };
    const Case cases[] = {
        {"empty file", "", false},
        {"not a record file", "GIF89a", false},
        {"title length 0xFFFFFFFF", kHeader + a + "T" + Le32(0xFFFFFFFF) + "abc", false},
        {"title cut short", kHeader + a + "T" + Le32(10) + "abc", false},
        {"time not a number", kHeader + Field('D', std::string("\x00\x00\x00\x00\x00\x00\xF8\x7F", 8)), false},
        {"atom cut short", kHeader + d + "A" + Le32(4) + "\x01\x02", true},
        {"unknown tag", kHeader + Field('Y', Le32(8)) + a + d, true},
        {"unknown tag past the end", kHeader + a + "Z" + Le32(0xFFFFFFFF) + "zz", true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        CaptureRecord record;
        EXPECT_EQ(c.readable, record.ReadFile(path)) << c.what;
    }

    // Wide fields store no more than their width; the rest is skipped.
    ASSERT_TRUE(WriteFileBytes(path, kHeader + Field('G', "0123456789abcdefSURPLUS") + Field('A', Le32(7) + "xx") + d +
                                         Field('T', std::string(3000, 'x')) + Field('A', Le32(9))));
    CaptureRecord wide;
    ASSERT_TRUE(wide.ReadFile(path));
    EXPECT_EQ("0123456789abcdef", Raw(wide.CaptureGuid));
    EXPECT_EQ(38442.5, wide.CaptureTime);
    EXPECT_EQ(std::string(519, 'x'), wide.Title);
    EXPECT_EQ(9u, wide.ClassAtom);

    // A folder, and a file held open by someone else without sharing.
    CaptureRecord record;
    EXPECT_FALSE(record.ReadFile(folder.Path()));
    ASSERT_TRUE(WriteFileBytes(path, kHeader + a + d));
    UniqueFile holder(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(record.ReadFile(path));
    holder.reset();
    EXPECT_TRUE(record.ReadFile(path));
    EXPECT_EQ(0xC0DEu, record.ClassAtom);
}
