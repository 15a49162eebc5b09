// The SQLite file behind the POSIX value store (PosixValueStore.h): its schema and prepared
// statements, one connection to it per process, and one use of a statement. Names and data
// are code page 936 bytes and are stored as blobs, never as text.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sqlite_store {

enum StatementId {
    SelectValue,
    InsertKey,
    UpsertValue,
    DeleteValue,
    SelectKey,
    SelectSubkey,
    DeleteKeyValues,
    DeleteKey,
    StatementCount
};

// Counts a failure of the store itself (ValueStore::failureCount).
using FailureNote = std::function<void()>;

// The user's home directory: $HOME, else the password database's.
std::string homeDirectory();

// One use of a prepared statement: parameters bound in order, and reset when done so that
// the statement holds no lock between operations.
class Query {
public:
    Query(sqlite3_stmt* statement, const FailureNote& noteFailure)
        : m_statement(statement)
        , m_noteFailure(noteFailure)
    {
    }
    ~Query()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int64_t number)
    {
        m_bound &= sqlite3_bind_int64(m_statement, m_next++, number) == SQLITE_OK;
        return *this;
    }
    // Blobs, never text: the bytes are code page 936. An empty blob needs a non-null pointer,
    // or SQLite binds NULL.
    Query& bind(std::string_view bytes)
    {
        const char* data = bytes.empty() ? "" : bytes.data();
        m_bound &= sqlite3_bind_blob64(m_statement, m_next++, data, bytes.size(), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    int step()
    {
        int result = m_bound ? sqlite3_step(m_statement) : SQLITE_ERROR;
        if (result != SQLITE_ROW && result != SQLITE_DONE)
            m_noteFailure();
        return result;
    }
    bool run() { return step() == SQLITE_DONE; }

    int64_t integer(int column) { return sqlite3_column_int64(m_statement, column); }
    std::string blob(int column)
    {
        auto data = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
        int size = sqlite3_column_bytes(m_statement, column);
        return data && size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
    }

private:
    sqlite3_stmt* m_statement;
    const FailureNote& m_noteFailure;
    int m_next { 1 };
    bool m_bound { true };
};

// The open connection to one store file, for one process.
class Store {
public:
    // Opens (and makes, with its directory) the store file; nothing, with `error` saying why,
    // when that fails. The statements' failures go to `noteFailure`.
    static std::unique_ptr<Store> open(const std::string& path, int busyTimeoutMs, FailureNote noteFailure, std::string& error);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // A forked child must not use or close its parent's connection (the file locks belong to
    // the parent), and a store file removed or replaced meanwhile must be opened anew.
    bool belongsToThisProcess() const { return m_pid == getpid(); }
    bool isCurrentFor(const std::string& path) const;

    sqlite3* db() const { return m_db; }
    // One use of a prepared statement.
    Query query(StatementId id) const { return Query(m_statements[id], m_noteFailure); }
    void noteFailure() const { m_noteFailure(); }

private:
    Store(std::string path, FailureNote noteFailure)
        : m_path(std::move(path))
        , m_noteFailure(std::move(noteFailure))
        , m_pid(getpid())
    {
    }
    bool connect(int busyTimeoutMs, std::string& error);
    bool fail(std::string& error);

    std::string m_path;
    FailureNote m_noteFailure;
    pid_t m_pid;
    sqlite3* m_db { nullptr };
    sqlite3_stmt* m_statements[StatementCount] {};
    dev_t m_device {};
    ino_t m_inode {};
};

} // namespace sqlite_store
