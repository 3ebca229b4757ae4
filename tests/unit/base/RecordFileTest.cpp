#include "base/RecordFile.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <limits>
#include <string>

#include "archive/ItemFile.h"
#include "base/CaptureTime.h"
#include "base/CodePage.h"
#include "base/RecordFormat.h"
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
    const int32_t value = 0x01020304;
    {
        RecordFileWriter file(path);
        EXPECT_TRUE(file.Field('A', &value, sizeof(value)));
        EXPECT_TRUE(file.Field('Z', nullptr, 0));
        EXPECT_TRUE(file.TextField('T', ""));  // nothing at all
        EXPECT_TRUE(file.TextField('T', "hi"));
        EXPECT_TRUE(file.Field('G', "0123456789abcdefXYZ", 19));
        // Nothing is at the target until the file is complete.
        EXPECT_FALSE(FileExists(path));
        EXPECT_TRUE(file.Commit());
    }
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(std::string("F\x01\x00\x00\x00"
                          "A\x04\x00\x00\x00\x04\x03\x02\x01"
                          "Z\x00\x00\x00\x00"
                          "T\x02\x00\x00\x00hi"
                          "G\x13\x00\x00\x00" "0123456789abcdefXYZ",
                          5 + 9 + 5 + 7 + 24),
              bytes);
    EXPECT_EQ(std::vector<std::string>{"fields.se"}, ListFiles(folder.Path()));

    Bytes read;
    ASSERT_TRUE(ReadRecordFile(path, read, 1000));
    EXPECT_FALSE(ReadRecordFile(path, read, 40)) << "larger than the ceiling";
    ASSERT_TRUE(ReadRecordFile(path, read, 1000));
    ASSERT_TRUE(HasRecordHeader(read));
    FieldWalker walker(read);
    RecordField field;
    std::string tags;
    while (walker.Next(field)) tags += field.tag;
    EXPECT_EQ("AZTG", tags);
    // Neither a missing file nor a folder reads as a record.
    EXPECT_FALSE(ReadRecordFile(folder / "missing.se", read, 1000));
    EXPECT_FALSE(ReadRecordFile(folder.Path(), read, 1000));
}

TEST(RecordFileTest, AFailedWriteLeavesTheTargetAsItWasAndNoTemporaryFile) {
    TempFolder folder;
    const std::string path = folder / "kept.se";
    ASSERT_TRUE(WriteFileBytes(path, "old"));
    {
        // Abandoned before it was complete (a failed item write, an exception).
        RecordFileWriter file(path);
        EXPECT_TRUE(file.Field('A', "1234", 4));
    }
    {
        // A field longer than a length can say fails the whole file.
        RecordFileWriter file(path);
        EXPECT_FALSE(file.Field('B', "x", size_t{1} << 32));
        EXPECT_FALSE(file.Commit());
    }
    EXPECT_EQ("old", ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"kept.se"}, ListFiles(folder.Path()));
    RecordFileWriter nowhere(folder / "no such folder\\x.se");
    EXPECT_FALSE(nowhere.Commit());
}

TEST(RecordFileTest, TheWalkerOffersAFieldCutShortOnceAndEnds) {
    auto walk = [](const std::string& file) {
        std::string seen;
        FieldWalker walker(ByteSpan(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
        RecordField field;
        while (walker.Next(field))
            seen += std::string(1, field.tag) + std::to_string(field.data.size()) + (field.complete ? "" : "!");
        return seen;
    };
    // Tags in either case; fewer than five bytes where a header belongs are the end.
    EXPECT_EQ("A2G0", walk(std::string("F\1\0\0\0a\2\0\0\0xyG\0\0\0\0D\x08\0", 18)));
    EXPECT_EQ("D3!", walk(std::string("f\7\0\x09\0D\x08\0\0\0abc", 13)));
    EXPECT_EQ("B3!", walk(std::string("F\1\0\0\0B\xff\xff\xff\xffxyz", 13)));
    for (const std::string& bad : {std::string(), std::string("F"), std::string("F\x01\x00\x00", 4),
                                   std::string("G\x01\x00\x00\x00", 5)})
        EXPECT_FALSE(HasRecordHeader(ByteSpan(reinterpret_cast<const uint8_t*>(bad.data()), bad.size())))
            << bad.size() << " bytes";
    EXPECT_TRUE(IsTemporaryRecordFile("~sv-1234-.partial"));
    EXPECT_FALSE(IsTemporaryRecordFile("C-1234-.tx"));
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
    // A capture's key is the system's text of its GUID.
    GUID guids[2] = {{0x0123ABCD, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0x0A, 0x98, 0x76, 0x54, 0x32, 0x10}}};
    ::CoCreateGuid(&guids[1]);
    for (const GUID& guid : guids) {
        wchar_t wide[40] = {};
        ASSERT_EQ(39, ::StringFromGUID2(guid, wide, 40));
        EXPECT_EQ(ToMultiByte(wide, CP_ACP), GuidText(guid));
    }

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

    // Where the ANSI code page is UTF-8 or GB18030, conversions take no
    // best-fit flag (the system would refuse every one).
    EXPECT_EQ(65001u, ResolveCodePage(CP_ACP, 65001, 437));
    EXPECT_EQ(0u, NoBestFitFlags(ResolveCodePage(CP_ACP, 65001, 437)));
    EXPECT_EQ(static_cast<unsigned long>(WC_NO_BEST_FIT_CHARS), NoBestFitFlags(ResolveCodePage(CP_ACP, 1252, 437)));
    EXPECT_EQ("caf\xC3\xA9", ToMultiByte(L"caf\u00e9", 65001));
    EXPECT_EQ(0u, NoBestFitFlags(54936));
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
