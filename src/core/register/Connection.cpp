#include "register/Connection.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace kv::reg {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Mode bits count as well as access(): root may write anywhere, but a file or
// folder that someone made read-only is not to be written by Kovira either.
bool Writable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

void Connection::fail(const std::exception& e, const std::string& what) const {
    DatabaseError::Kind kind = DatabaseError::Kind::Other;
    int code = 0;
    if (auto* se = dynamic_cast<const SQLite::Exception*>(&e)) code = se->getErrorCode() & 0xff;
    switch (code) {
        case SQLITE_NOTADB: kind = DatabaseError::Kind::NotSqlite; break;
        case SQLITE_CORRUPT: kind = DatabaseError::Kind::Corrupt; break;
        case SQLITE_READONLY: kind = DatabaseError::Kind::ReadOnly; break;
        case SQLITE_CANTOPEN: kind = DatabaseError::Kind::CannotOpen; break;
        default: break;
    }
    throw DatabaseError(kind, "Baza podataka " + Quoted(path_) + ": " + what + ": " + e.what());
}

Connection::Connection(std::string path) : path_(std::move(path)) {
    using K = DatabaseError::Kind;
    const std::string name = Quoted(path_);
    std::error_code ec;
    const bool exists = fs::exists(path_, ec);
    if (exists) {
        if (!fs::is_regular_file(path_, ec)) throw DatabaseError(K::CannotOpen, "Baza podataka " + name + " nije datoteka.");
        // Checked before SQLite sees it: a file of another kind is never
        // given a journal or a schema.
        const auto size = fs::file_size(path_, ec);
        if (size > 0) {
            char header[16] = {};
            std::ifstream in(path_, std::ios::binary);
            in.read(header, sizeof header);
            if (!in || std::string(header, 16) != std::string("SQLite format 3\0", 16))
                throw DatabaseError(K::NotSqlite, "Datoteka " + name + " nije SQLite baza podataka.");
        }
        if (!Writable(path_))
            throw DatabaseError(K::ReadOnly, "Baza podataka " + name + " je samo za čitanje; kasa u nju ne može upisivati.");
    }
    // Every write needs its journal beside the file.
    std::string folder = fs::absolute(path_, ec).parent_path().string();
    if (!Writable(folder))
        throw DatabaseError(K::ReadOnly, "Baza podataka " + name + " je u folderu " + Quoted(folder) +
                                             " koji je samo za čitanje (ili ne postoji); kasa ne može raditi s njom.");
    try {
        db_ = std::make_unique<SQLite::Database>(path_, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE, kBusyTimeoutMs);
    } catch (const std::exception& e) {
        fail(e, "ne može se otvoriti");
    }
    try {
        // Not held exclusively between transactions, and a rollback journal
        // deleted at the end of each: the other instances see every commit.
        db_->exec("PRAGMA locking_mode = NORMAL");
        db_->exec("PRAGMA foreign_keys = OFF");
        // Reading the schema finds a damaged first page or a file that only
        // looks like SQLite, before the journal mode or the script write.
        SQLite::Statement check(*db_, "SELECT count(*) FROM sqlite_master");
        check.executeStep();
        SQLite::Statement mode(*db_, "PRAGMA journal_mode");
        mode.executeStep();
        if (mode.getColumn(0).getString() != "delete") db_->exec("PRAGMA journal_mode = DELETE");
    } catch (const std::exception& e) {
        fail(e, "nije upotrebljiva");
    }
    try {
        // The script runs on every start; on a healthy file it finds every
        // table and index in place and writes nothing.
        immediate([&] { db_->exec(CreateDB()); });
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        fail(e, "tabele se ne mogu napraviti");
    }
}

Connection::~Connection() = default;

SQLite::Statement Connection::prepare(const std::string& sql) {
    try {
        return SQLite::Statement(*db_, sql);
    } catch (const std::exception& e) {
        fail(e, "upit");
    }
}

void Connection::Begin() {
    try {
        db_->exec("BEGIN IMMEDIATE");
    } catch (const std::exception& e) {
        fail(e, "transakcija");
    }
}

void Connection::Commit() {
    try {
        db_->exec("COMMIT");
    } catch (const std::exception& e) {
        fail(e, "upis");
    }
}

bool Connection::inTransaction() { return sqlite3_get_autocommit(db_->getHandle()) == 0; }

void Connection::Rollback() noexcept {
    if (sqlite3_get_autocommit(db_->getHandle())) return;
    try {
        db_->exec("ROLLBACK");
    } catch (...) {
    }
}

void BindText(SQLite::Statement& st, int index, const std::string& s) { st.bind(index, s); }

void Bind(SQLite::Statement& st, int index, const Column& c, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) {
        st.bind(index);
        return;
    }
    Value t = ToColumnType(c, v);
    switch (c.type) {
        case ColType::Text: st.bind(index, std::get<std::string>(t)); break;
        case ColType::Integer: st.bind(index, static_cast<int64_t>(std::get<std::int64_t>(t))); break;
        case ColType::Money:
        case ColType::Quantity:
        case ColType::Real: {
            Currency m = std::get<Currency>(t);
            if (m.raw() % Currency::kScale == 0 && c.type != ColType::Real)
                st.bind(index, static_cast<int64_t>(m.raw() / Currency::kScale));
            else
                // The quotient is rounded once, to the double nearest the
                // decimal; reading rounds back to the same four decimals.
                st.bind(index, static_cast<double>(m.raw()) / Currency::kScale);
            break;
        }
        case ColType::Date: st.bind(index, std::get<DateTime>(t).toIsoDate()); break;
        case ColType::DateTime: st.bind(index, std::get<DateTime>(t).toIso(' ')); break;
    }
}

std::optional<Currency> ReadDecimal(SQLite::Statement& st, int index, int scale) {
    const SQLite::Column c = st.getColumn(index);
    std::optional<Currency> v;
    switch (c.getType()) {
        case SQLITE_NULL: return std::nullopt;
        case SQLITE_INTEGER: {
            int64_t i = c.getInt64();
            if (i > INT64_MAX / Currency::kScale || i < INT64_MIN / Currency::kScale) return std::nullopt;
            return Currency(i);
        }
        case SQLITE_FLOAT: {
            double d = c.getDouble();
            if (!std::isfinite(d) || std::fabs(d) > 9e14) return std::nullopt;
            v = Currency::fromDouble(d);
            break;
        }
        default:
            v = ParseCurrencyWithRetry(c.getText(), '.');
            if (!v) return std::nullopt;
    }
    return scale >= 4 ? *v : RoundCurr(-scale, *v);
}

Value Read(SQLite::Statement& st, int index, const Column& col) {
    const SQLite::Column c = st.getColumn(index);
    const int type = c.getType();
    if (type == SQLITE_NULL) return std::monostate{};
    switch (col.type) {
        case ColType::Text: return std::string(c.getText(), c.getBytes());
        case ColType::Integer:
            if (type == SQLITE_FLOAT) return static_cast<std::int64_t>(std::llround(c.getDouble()));
            if (type == SQLITE_INTEGER) return static_cast<std::int64_t>(c.getInt64());
            try {
                return static_cast<std::int64_t>(std::stoll(c.getText()));
            } catch (const std::exception&) {
                return std::monostate{};
            }
        case ColType::Money:
        case ColType::Quantity:
        case ColType::Real: {
            auto v = ReadDecimal(st, index, ScaleOf(col.type));
            if (!v) return std::monostate{};
            return *v;
        }
        case ColType::Date:
        case ColType::DateTime: {
            auto d = ParseDateTimeText(c.getText());
            if (!d) return std::monostate{};
            return col.type == ColType::Date ? d->date() : *d;
        }
    }
    return std::monostate{};
}

}  // namespace kv::reg
