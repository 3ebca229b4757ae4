#include "base/SqliteDatabase.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TempFolder.h"

namespace {

TEST(SqliteDatabaseTest, KeepsBoundValuesWholeInAFileUnderANonAsciiFolderAndRollsBackWhatIsNotCommitted) {
    TempFolder folder;
    // "Archiv \xC4" is "Archiv Ä" in the ANSI code page: the name must reach SQLite as UTF-8.
    const std::string path = folder / "Archiv \xC4.db";
    const std::string text = "it's \"quoted\"; DROP TABLE t; -- \xC3\xA4\xE2\x82\xAC";
    const Bytes blob = {0, 1, 0, 255};
    {
        SqliteDatabase db;
        ASSERT_TRUE(db.Open(path));
        ASSERT_TRUE(db.Execute("CREATE TABLE t(id INTEGER PRIMARY KEY, text TEXT, data BLOB)"));
        SqliteStatement insert = db.Prepare("INSERT INTO t(text, data) VALUES(?1, ?2)");
        insert.Bind(1, text);
        insert.BindBlob(2, blob);
        ASSERT_TRUE(insert.Run());
        EXPECT_EQ(1, db.LastInsertId());
        {
            SqliteTransaction dropped(db);
            ASSERT_TRUE(dropped.IsActive());
            ASSERT_TRUE(db.Execute("DELETE FROM t"));
        }
        EXPECT_FALSE(db.Prepare("no such statement").IsValid());
        EXPECT_FALSE(db.Prepare("no such statement").Run());
    }
    EXPECT_TRUE(FileExists(path));
    SqliteDatabase db;
    ASSERT_TRUE(db.Open(path));
    EXPECT_TRUE(db.IsSound());
    SqliteStatement select = db.Prepare("SELECT text, data FROM t");
    ASSERT_TRUE(select.Step());
    EXPECT_EQ(text, select.Text(0));
    EXPECT_EQ(blob, select.Blob(1));
    EXPECT_FALSE(select.Step());
    EXPECT_TRUE(select.Succeeded());
}

TEST(SqliteDatabaseTest, RefusesAFileThatIsNotADatabase) {
    TempFolder folder;
    const std::string path = folder / "garbage.db";
    ASSERT_TRUE(WriteFileBytes(path, std::string(8192, 'x')));
    SqliteDatabase db;
    EXPECT_FALSE(db.Open(path));
    EXPECT_FALSE(db.IsOpen());
}

TEST(SqliteDatabaseTest, FindsTextInAnyCaseAndScriptThroughTheTrigramIndex) {
    SqliteDatabase db;
    ASSERT_TRUE(db.OpenInMemory());
    ASSERT_TRUE(db.Execute("CREATE VIRTUAL TABLE words USING fts5(text, tokenize='trigram case_sensitive 0')"));
    SqliteStatement insert = db.Prepare("INSERT INTO words(rowid, text) VALUES(?1, ?2)");
    const char* texts[] = {"Gr\xC3\xBC\xC3\x9F" "e aus M\xC3\x9CNCHEN", "Invoice 2026-12", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"};
    for (int64_t id = 0; id < 3; ++id) {
        insert.Reset();
        insert.Bind(1, id + 1);
        insert.Bind(2, texts[id]);
        ASSERT_TRUE(insert.Run());
    }
    auto matches = [&](const char* query) {
        SqliteStatement find = db.Prepare("SELECT rowid FROM words WHERE text MATCH ?1 ORDER BY rowid");
        find.Bind(1, query);
        std::string ids;
        while (find.Step()) ids += std::to_string(find.Int64(0));
        return ids;
    };
    EXPECT_EQ("1", matches("\"m\xC3\xBCnchen\""));
    EXPECT_EQ("2", matches("\"INVOICE\""));
    EXPECT_EQ("3", matches("\"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\""));
    EXPECT_EQ("", matches("\"absent\""));
}

}  // namespace
