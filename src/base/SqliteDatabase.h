// A small owner face over SQLite: one owner for the connection, one for each
// prepared statement, values always bound (never spliced into the SQL text).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Bytes.h"

struct sqlite3;
struct sqlite3_stmt;

class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // False when the SQL could not be prepared; every call is then harmless.
    bool IsValid() const { return statement_ != nullptr; }

    // Parameters count from 1, as in the SQL text ("?1", "?2").
    void Bind(int index, int64_t value);
    void Bind(int index, std::string_view utf8);
    void BindDouble(int index, double value);
    void BindBlob(int index, ByteSpan bytes);
    void BindNull(int index);

    // Moves to the next row: true while there is one. When it returns false,
    // Succeeded tells whether the statement ran to its end or failed.
    bool Step();
    // Steps to the end; true when the statement ran to its end.
    bool Run();
    bool Succeeded() const { return succeeded_; }
    // Makes the statement ready to run again; bound values stay.
    void Reset();

    // The current row's columns, counted from 0.
    bool IsNull(int column) const;
    bool IsBlob(int column) const;
    int64_t Int64(int column) const;
    double Double(int column) const;
    std::string Text(int column) const;
    Bytes Blob(int column) const;

private:
    sqlite3_stmt* statement_ = nullptr;
    bool succeeded_ = false;
};

class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase() { Close(); }
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // Opens the database at the path (ANSI, as the program's paths are),
    // creating it when missing, with write-ahead logging: readers never wait
    // for the writer, and a kill at any moment leaves a database that opens.
    // Another connection's lock is waited for up to busyTimeoutMs.
    bool Open(const std::string& path, int busyTimeoutMs = 2000);
    bool OpenInMemory();
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    // Runs statements that take no parameters; false at the first that fails.
    bool Execute(const char* sql);
    SqliteStatement Prepare(const char* sql);
    // Whether a quick check finds the database sound.
    bool IsSound();

    int64_t LastInsertId() const;
    int64_t Changes() const;
    // Rows changed since the connection opened, by any statement (a virtual
    // table's commands too).
    int64_t TotalChanges() const;
    std::string LastError() const;

private:
    sqlite3* db_ = nullptr;
};

// Runs the statements between its start and Commit as one transaction, taking
// the write lock at once so that it never fails halfway on another writer's
// lock; one that is not committed is rolled back.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteDatabase& db);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    bool IsActive() const { return active_; }
    bool Commit();

private:
    SqliteDatabase& db_;
    bool active_ = false;
};
