#pragma once
// The connection to the register's SQLite file. Several Kovira instances
// (one per input folder) share the file, so every statement waits for a busy
// file instead of failing, and a file that cannot serve as the register's
// database is refused at opening with its name and the reason, before
// anything is written to it.
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "register/Record.h"

namespace kv::reg {

// How long a statement waits for another process's transaction to end.
inline constexpr int kBusyTimeoutMs = 10'000;

// A database failure; the message names the file.
class DatabaseError : public std::runtime_error {
public:
    enum class Kind { NotSqlite, Corrupt, ReadOnly, CannotOpen, Other };
    DatabaseError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

class Connection {
public:
    // Opens (creating a missing file) and runs the schema script. Throws
    // DatabaseError when the file is not SQLite, is damaged, is read-only or
    // lies in a read-only folder, or the script fails (disk full).
    explicit Connection(std::string path);
    ~Connection();

    const std::string& path() const { return path_; }
    SQLite::Database& db() { return *db_; }

    // A statement over this connection; errors while preparing name the file.
    SQLite::Statement prepare(const std::string& sql);
    // Runs `fn` inside BEGIN IMMEDIATE ... COMMIT (rolled back when it
    // throws): the write lock is taken before anything is read, so a value
    // read inside (a next number) cannot be taken by another process too.
    // Inside a transaction already begun it simply runs as part of it, so
    // work spanning many rows stays all or nothing.
    template <class Fn>
    auto immediate(Fn&& fn) -> decltype(fn()) {
        if (inTransaction()) return fn();
        Begin();
        try {
            if constexpr (std::is_void_v<decltype(fn())>) {
                fn();
                Commit();
            } else {
                auto r = fn();
                Commit();
                return r;
            }
        } catch (...) {
            Rollback();
            throw;
        }
    }

    bool inTransaction();
    // A failure of SQLite as a DatabaseError naming the file.
    [[noreturn]] void fail(const std::exception& e, const std::string& what) const;

private:
    void Begin();
    void Commit();
    void Rollback() noexcept;

    std::string path_;
    std::unique_ptr<SQLite::Database> db_;
};

// Binds `v` (already of the column's type) at `index` as the file stores it:
// decimals as integers when whole, else as the nearest REAL of their decimal
// text; dates as ISO text, so text order is time order.
void Bind(SQLite::Statement& st, int index, const Column& c, const Value& v);
void BindText(SQLite::Statement& st, int index, const std::string& s);
// The column value in the program's type for `c`, whatever SQLite stored.
Value Read(SQLite::Statement& st, int index, const Column& c);
// A decimal read at `scale` places (2 or 4); nullopt for NULL or text that is no number.
std::optional<Currency> ReadDecimal(SQLite::Statement& st, int index, int scale);

}  // namespace kv::reg
