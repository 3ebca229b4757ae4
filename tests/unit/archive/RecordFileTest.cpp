#include "archive/RecordFile.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <limits>
#include <string>

#include "archive/ItemFile.h"
#include "items/TextItem.h"
#include "support/TempFolder.h"

namespace {

double OleDate(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    double date = 0;
    EXPECT_TRUE(::SystemTimeToVariantTime(&time, &date));
    return date;
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// "-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX-": a GUID in registry form, braces as "-".
bool IsGuidNamePart(const std::string& text) {
    if (text.size() != 38 || text.front() != '-' || text.back() != '-') return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        if (hyphen ? text[i] != '-' : !IsUpperHex(text[i])) return false;
    }
    return true;
}

}  // namespace

TEST(RecordFileTest, FieldsAreFramedAndReadBack) {
    TempFolder folder;
    const std::string path = folder / "fields.se";
    {
        UniqueFile file = CreateRecordFile(path);
        ASSERT_TRUE(file);
        const int32_t value = 0x01020304;
        EXPECT_TRUE(WriteRecordHeader(file.get()));
        EXPECT_TRUE(WriteField(file.get(), 'A', &value, sizeof(value)));
        EXPECT_TRUE(WriteField(file.get(), 'Z', nullptr, 0));
        EXPECT_TRUE(WriteTextField(file.get(), 'T', ""));  // nothing at all
        EXPECT_TRUE(WriteTextField(file.get(), 'T', "hi"));
        const char guid[20] = "0123456789abcdefXYZ";
        EXPECT_TRUE(WriteField(file.get(), 'G', guid, 19));
        // Readable by others while being written, but not writable.
        UniqueFile reader(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(reader);
    }
    EXPECT_EQ(std::string("F\x01\x00\x00\x00"
                          "A\x04\x00\x00\x00\x04\x03\x02\x01"
                          "Z\x00\x00\x00\x00"
                          "T\x02\x00\x00\x00hi"
                          "G\x13\x00\x00\x00" "0123456789abcdefXYZ",
                          5 + 9 + 5 + 7 + 24),
              ReadFileBytes(path));

    UniqueFile file = OpenRecordFile(path);
    ASSERT_TRUE(file);
    // Opened without sharing: nobody else gets in meanwhile.
    EXPECT_FALSE(OpenRecordFile(path));
    ASSERT_TRUE(ReadRecordHeader(file.get()));
    char tag = 0;
    uint32_t length = 0, read = 0;
    ASSERT_TRUE(ReadFieldHeader(file.get(), tag, length));
    EXPECT_EQ('A', tag);
    int32_t value = 0;
    EXPECT_TRUE(ReadFixedField(file.get(), length, &value, sizeof(value), read));
    EXPECT_EQ(0x01020304, value);
    ASSERT_TRUE(ReadFieldHeader(file.get(), tag, length));
    EXPECT_EQ('Z', tag);
    EXPECT_EQ(0u, length);
    ASSERT_TRUE(ReadFieldHeader(file.get(), tag, length));
    EXPECT_EQ('T', tag);
    EXPECT_FALSE(SkipFieldData(file.get(), 1000));
    EXPECT_TRUE(SkipFieldData(file.get(), length));
    // A wider field than the reader's is read up to its width and the rest skipped.
    ASSERT_TRUE(ReadFieldHeader(file.get(), tag, length));
    char guid[17] = {};
    EXPECT_TRUE(ReadFixedField(file.get(), length, guid, 16, read));
    EXPECT_EQ(16u, read);
    EXPECT_STREQ("0123456789abcdef", guid);
    EXPECT_FALSE(ReadFieldHeader(file.get(), tag, length));
    file.reset();

    // Fewer than five bytes where a field header belongs are the end, not an error;
    // a fixed field cut short reports how much it got.
    ASSERT_TRUE(WriteFileBytes(path, std::string("F\x01\x00\x00\x00" "D\x08\x00\x00\x00" "abc" , 13)));
    file = OpenRecordFile(path);
    ASSERT_TRUE(file && ReadRecordHeader(file.get()));
    ASSERT_TRUE(ReadFieldHeader(file.get(), tag, length));
    double time = 0;
    EXPECT_FALSE(ReadFixedField(file.get(), length, &time, sizeof(time), read));
    EXPECT_EQ(3u, read);
    file.reset();
    ASSERT_TRUE(WriteFileBytes(path, std::string("f\x07\x00\x09\x00" "D\x08\x00", 8)));
    file = OpenRecordFile(path);
    ASSERT_TRUE(file && ReadRecordHeader(file.get()));
    EXPECT_FALSE(ReadFieldHeader(file.get(), tag, length));
    file.reset();
    for (const std::string& bad : {std::string(), std::string("F"), std::string("F\x01\x00\x00", 4),
                                   std::string("G\x01\x00\x00\x00", 5)}) {
        ASSERT_TRUE(WriteFileBytes(path, bad));
        file = OpenRecordFile(path);
        ASSERT_TRUE(file);
        EXPECT_FALSE(ReadRecordHeader(file.get())) << bad.size() << " bytes";
        file.reset();
    }

    // A write that falls short is a failure.
    UniqueFile readOnly(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(WriteRecordHeader(readOnly.get()));
    EXPECT_FALSE(WriteField(readOnly.get(), 'A', &value, sizeof(value)));
    readOnly.reset();
    // Neither a missing file nor a folder opens as a record.
    EXPECT_FALSE(OpenRecordFile(folder / "missing.se"));
    EXPECT_FALSE(OpenRecordFile(folder.Path()));
}

TEST(RecordFileTest, NamesAndDateFolders) {
    // Braces of the folder stay; those of the GUID become hyphens.
    const std::string folder = "C:\\a{b}\\";
    const std::string name = MakeUniqueFileName(folder, "C", ".tx");
    ASSERT_EQ(folder.size() + 1 + 38 + 3, name.size()) << name;
    EXPECT_EQ(folder + "C", name.substr(0, folder.size() + 1));
    EXPECT_TRUE(IsGuidNamePart(name.substr(folder.size() + 1, 38))) << name;
    EXPECT_EQ(".tx", name.substr(name.size() - 3));
    EXPECT_NE(name, MakeUniqueFileName(folder, "C", ".tx"));
    const std::string bare = MakeUniqueFileName(folder, nullptr, nullptr);
    EXPECT_EQ(folder.size() + 38, bare.size());
    EXPECT_TRUE(IsGuidNamePart(bare.substr(folder.size()))) << bare;

    // Day and month without leading zeros, four-digit year. (This test runs in UTC.)
    EXPECT_EQ("31_3_2005", DateFolderName(38442.5));
    EXPECT_EQ("1_4_2005", DateFolderName(OleDate(2005, 4, 1, 0, 10)));
    EXPECT_EQ("31_12_1999", DateFolderName(OleDate(1999, 12, 31, 23, 59)));
    EXPECT_EQ("", DateFolderName(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ("", DateFolderName(1e12));

    // Titles: ANSI in memory, UTF-8 on disk, at most 519 characters back in memory.
    EXPECT_EQ("caf\xC3\xA9", AnsiToUtf8("caf\xE9"));
    EXPECT_EQ("caf\xE9", Utf8ToAnsi("caf\xC3\xA9"));
    EXPECT_EQ(std::string(519, 'x'), Utf8ToAnsi(std::string(600, 'x')));
}

// Runs with TZ set to a zone ahead of UTC (see tests/CMakeLists.txt): the local
// date, not the UTC one, names the folder.
TEST(DateFolderAheadOfUtcTest, LocalDateNamesTheFolder) {
    SYSTEMTIME local = {};
    local.wYear = 2005;
    local.wMonth = 4;
    local.wDay = 1;
    local.wMinute = 10;
    FILETIME localFile, utcFile;
    SYSTEMTIME utc;
    ASSERT_TRUE(::SystemTimeToFileTime(&local, &localFile));
    ASSERT_TRUE(::LocalFileTimeToFileTime(&localFile, &utcFile));
    ASSERT_TRUE(::FileTimeToSystemTime(&utcFile, &utc));
    ASSERT_EQ(31, utc.wDay) << "the zone is not ahead of UTC; TZ=" << (getenv("TZ") ? getenv("TZ") : "");
    ASSERT_EQ(3, utc.wMonth);
    double time = 0;
    ASSERT_TRUE(::SystemTimeToVariantTime(&utc, &time));

    EXPECT_EQ("1_4_2005", DateFolderName(time));
    TempFolder archive;
    TextItem item;
    item.SetText(L"late");
    item.SetCaptureTime(time);
    ASSERT_TRUE(StoreItem(item, archive.Path()));
    EXPECT_EQ(archive / "1_4_2005\\", item.RecordPath().substr(0, archive.Path().size() + 9));
    EXPECT_EQ(1u, ListFiles(archive / "1_4_2005\\", "C-*.tx").size());
}
