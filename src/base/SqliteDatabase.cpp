#include "base/SqliteDatabase.h"

#include <sqlite3.h>
#include <windows.h>

#include <utility>

#include "base/CodePage.h"

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)), succeeded_(other.succeeded_) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(statement_);
        statement_ = std::exchange(other.statement_, nullptr);
        succeeded_ = other.succeeded_;
    }
    return *this;
}

void SqliteStatement::Bind(int index, int64_t value) { sqlite3_bind_int64(statement_, index, value); }

void SqliteStatement::BindDouble(int index, double value) { sqlite3_bind_double(statement_, index, value); }

void SqliteStatement::Bind(int index, std::string_view utf8) {
    sqlite3_bind_text64(statement_, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void SqliteStatement::BindBlob(int index, ByteSpan bytes) {
    // A null pointer would bind NULL, not an empty blob.
    static const uint8_t kNothing = 0;
    sqlite3_bind_blob64(statement_, index, bytes.empty() ? &kNothing : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

void SqliteStatement::BindNull(int index) { sqlite3_bind_null(statement_, index); }

bool SqliteStatement::Step() {
    if (!statement_) {
        succeeded_ = false;
        return false;
    }
    const int result = sqlite3_step(statement_);
    succeeded_ = result == SQLITE_ROW || result == SQLITE_DONE;
    return result == SQLITE_ROW;
}

bool SqliteStatement::Run() {
    while (Step()) {
    }
    return succeeded_;
}

void SqliteStatement::Reset() {
    sqlite3_reset(statement_);
    succeeded_ = false;
}

bool SqliteStatement::IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

bool SqliteStatement::IsBlob(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_BLOB; }

int64_t SqliteStatement::Int64(int column) const { return sqlite3_column_int64(statement_, column); }

double SqliteStatement::Double(int column) const { return sqlite3_column_double(statement_, column); }

std::string SqliteStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

Bytes SqliteStatement::Blob(int column) const {
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
    return bytes ? Bytes(bytes, bytes + sqlite3_column_bytes(statement_, column)) : Bytes();
}

bool SqliteDatabase::Open(const std::string& path, int busyTimeoutMs) {
    Close();
    // SQLite takes UTF-8 names; the program's paths are in the ANSI code page.
    const std::string name = ToMultiByte(ToWide(path, CP_ACP), CP_UTF8);
    if (sqlite3_open_v2(name.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        Close();
        return false;
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    // Pages of 16 KiB for a new database (an existing one keeps its own):
    // under Wine every read and write of the file is a call to the wineserver,
    // and a catalog's large writes and long reads then make a quarter as many.
    Execute("PRAGMA page_size = 16384");
    // Pages left free (by deletes, and merges of indexes) can be given back to
    // the disk by "PRAGMA incremental_vacuum"; also only for a new database.
    Execute("PRAGMA auto_vacuum = INCREMENTAL");
    // A file that is not a database fails at its first read, here.
    SqliteStatement wal = Prepare("PRAGMA journal_mode=WAL");
    if (!wal.Step() || wal.Text(0) != "wal") {
        Close();
        return false;
    }
    return true;
}

bool SqliteDatabase::OpenInMemory() {
    Close();
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK)
        return true;
    Close();
    return false;
}

void SqliteDatabase::Close() {
    // Statements are owned by their callers and finalized first; a connection
    // with one left open is closed when the last of them goes.
    if (db_) sqlite3_close_v2(std::exchange(db_, nullptr));
}

bool SqliteDatabase::Execute(const char* sql) {
    return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteStatement SqliteDatabase::Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (!db_ || sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return {};
    }
    return {statement};
}

bool SqliteDatabase::IsSound() {
    SqliteStatement check = Prepare("PRAGMA quick_check");
    return check.Step() && check.Text(0) == "ok";
}

int64_t SqliteDatabase::LastInsertId() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

int64_t SqliteDatabase::Changes() const { return db_ ? sqlite3_changes64(db_) : 0; }

int64_t SqliteDatabase::TotalChanges() const { return db_ ? sqlite3_total_changes64(db_) : 0; }

std::string SqliteDatabase::LastError() const { return db_ ? sqlite3_errmsg(db_) : "no database is open"; }

SqliteTransaction::SqliteTransaction(SqliteDatabase& db) : db_(db), active_(db.Execute("BEGIN IMMEDIATE")) {}

SqliteTransaction::~SqliteTransaction() {
    if (active_) db_.Execute("ROLLBACK");
}

bool SqliteTransaction::Commit() {
    if (!active_) return false;
    active_ = false;
    if (db_.Execute("COMMIT")) return true;
    db_.Execute("ROLLBACK");
    return false;
}
