// The SQLite file behind the POSIX value store (see SqliteStoreFile.h).
#include "platform/posix/SqliteStoreFile.h"

#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

namespace sqlite_store {

namespace {

// Keys and values are looked up by their folded form (`*_fold`) and keep the spelling they
// were first written with. A value's key is named by its folded path; the root key itself
// ("") has no row but always exists.
constexpr const char* kSchemaSql = R"sql(
BEGIN IMMEDIATE;
CREATE TABLE IF NOT EXISTS registry_keys (
    root      INTEGER NOT NULL,
    path_fold BLOB NOT NULL,
    path      BLOB NOT NULL,
    PRIMARY KEY (root, path_fold)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS registry_values (
    root      INTEGER NOT NULL,
    key_fold  BLOB NOT NULL,
    name_fold BLOB NOT NULL,
    name      BLOB NOT NULL,
    type      INTEGER NOT NULL,
    data      BLOB NOT NULL,
    PRIMARY KEY (root, key_fold, name_fold)
) WITHOUT ROWID;
PRAGMA user_version = 1;
COMMIT;
)sql";

constexpr const char* kStatementSql[StatementCount] = {
    "SELECT type, data FROM registry_values WHERE root = ?1 AND key_fold = ?2 AND name_fold = ?3",
    "INSERT INTO registry_keys (root, path_fold, path) VALUES (?1, ?2, ?3) ON CONFLICT DO NOTHING",
    ("INSERT INTO registry_values (root, key_fold, name_fold, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5, ?6)"
     " ON CONFLICT (root, key_fold, name_fold) DO UPDATE SET type = excluded.type, data = excluded.data"),
    "DELETE FROM registry_values WHERE root = ?1 AND key_fold = ?2 AND name_fold = ?3",
    "SELECT 1 FROM registry_keys WHERE root = ?1 AND path_fold = ?2",
    // Subkeys of K are the paths from "K\" up to, not including, "K]" (']' follows '\').
    "SELECT 1 FROM registry_keys WHERE root = ?1 AND path_fold >= ?2 AND path_fold < ?3 LIMIT 1",
    "DELETE FROM registry_values WHERE root = ?1 AND key_fold = ?2",
    "DELETE FROM registry_keys WHERE root = ?1 AND path_fold = ?2",
};

// Creates the directory and its missing parents with mode 0700: the store is the user's own.
bool makeDirectories(const std::string& directory)
{
    for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        // Errors are judged by the result below: an existing part may refuse mkdir in many ways.
        (void)mkdir(directory.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            break;
    }
    struct stat info;
    return stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

std::unique_ptr<Store> Store::open(const std::string& path, int busyTimeoutMs, FailureNote noteFailure, std::string& error)
{
    std::unique_ptr<Store> store(new Store(path, std::move(noteFailure)));
    if (!store->connect(busyTimeoutMs, error))
        return nullptr;
    return store;
}

Store::~Store()
{
    for (sqlite3_stmt* statement : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close_v2(m_db);
}

bool Store::isCurrentFor(const std::string& path) const
{
    struct stat info;
    return belongsToThisProcess() && path == m_path && stat(path.c_str(), &info) == 0
        && info.st_dev == m_device && info.st_ino == m_inode;
}

bool Store::connect(int busyTimeoutMs, std::string& error)
{
    size_t slash = m_path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(m_path.substr(0, slash))) {
        error = "cannot create its directory";
        return false;
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr) != SQLITE_OK)
        return fail(error);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    // WAL lets a reader and a writer work at once; FULL syncs every commit, so what was
    // committed survives a crash of the process or the machine. A store kept on a file
    // system without WAL support stays in its rollback journal mode, which is just as safe.
    sqlite3_exec(m_db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    if (sqlite3_exec(m_db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(error);
    if (sqlite3_exec(m_db, kSchemaSql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(error);
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    for (int id = 0; id < StatementCount; ++id) {
        if (sqlite3_prepare_v3(m_db, kStatementSql[id], -1, SQLITE_PREPARE_PERSISTENT, &m_statements[id], nullptr) != SQLITE_OK)
            return fail(error);
    }
    struct stat info;
    if (stat(m_path.c_str(), &info) != 0) {
        error = "the file vanished while it was opened";
        return false;
    }
    m_device = info.st_dev;
    m_inode = info.st_ino;
    return true;
}

bool Store::fail(std::string& error)
{
    error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
    return false;
}

} // namespace sqlite_store
