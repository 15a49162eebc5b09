// The per-user value store (store/ValueStore.h) on SQLite: registry keys and typed values in one file per user,
// shared by every server that user runs. Each operation is one transaction on a WAL database
// with a busy timeout, so a second server sees a change at its next call, two servers never
// interleave inside an operation, and a process killed between operations loses nothing
// committed. Names and data are code page 936 bytes and are stored as blobs, never as text.
#include "store/ValueStore.h"

#include "store/RegistryPath.h"
#include "runtime/Text.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBusyTimeoutMs = 5000;
// The busy timeout of the connection: kBusyTimeoutMs until the program sets its own.
int g_busyTimeoutMs = kBusyTimeoutMs;

std::atomic<uint64_t> g_failures { 0 };

void noteFailure() { ++g_failures; }

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

// One use of a prepared statement: parameters bound in order, and reset when done so that
// the statement holds no lock between operations.
class Query {
public:
    explicit Query(sqlite3_stmt* statement)
        : m_statement(statement)
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
            noteFailure();
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
    int m_next { 1 };
    bool m_bound { true };
};

// The open connection to one store file, for one process.
class Store {
public:
    static std::unique_ptr<Store> open(const std::string& path, std::string& error)
    {
        std::unique_ptr<Store> store(new Store(path));
        if (!store->connect(error))
            return nullptr;
        return store;
    }

    ~Store()
    {
        for (sqlite3_stmt* statement : m_statements)
            sqlite3_finalize(statement);
        sqlite3_close_v2(m_db);
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // A forked child must not use or close its parent's connection (the file locks belong to
    // the parent), and a store file removed or replaced meanwhile must be opened anew.
    bool belongsToThisProcess() const { return m_pid == getpid(); }
    bool isCurrentFor(const std::string& path) const
    {
        struct stat info;
        return belongsToThisProcess() && path == m_path && stat(path.c_str(), &info) == 0
            && info.st_dev == m_device && info.st_ino == m_inode;
    }

    sqlite3* db() const { return m_db; }
    sqlite3_stmt* statement(StatementId id) const { return m_statements[id]; }

private:
    explicit Store(std::string path)
        : m_path(std::move(path))
        , m_pid(getpid())
    {
    }

    bool connect(std::string& error)
    {
        size_t slash = m_path.rfind('/');
        if (slash != std::string::npos && slash > 0 && !makeDirectories(m_path.substr(0, slash))) {
            error = "cannot create its directory";
            return false;
        }
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        if (sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr) != SQLITE_OK)
            return fail(error);
        sqlite3_busy_timeout(m_db, g_busyTimeoutMs);
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

    bool fail(std::string& error)
    {
        error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        return false;
    }

    std::string m_path;
    pid_t m_pid;
    sqlite3* m_db { nullptr };
    sqlite3_stmt* m_statements[StatementCount] {};
    dev_t m_device {};
    ino_t m_inode {};
};

std::recursive_mutex g_storeMutex;
// Above zero while a group of operations runs as one transaction (inRegistryTransaction):
// the operations inside then take part in it instead of opening their own.
int g_groupDepth = 0;
std::unique_ptr<Store> g_store;

// Forgets the connection; one inherited across fork is left open for its owner, the parent.
void dropStore()
{
    if (g_store && !g_store->belongsToThisProcess())
        (void)g_store.release();
    g_store.reset();
}

// The connection to the store at its current path, opened when needed. Called with
// g_storeMutex held. A store that cannot be opened is reported once per process: the service
// goes on without its polls rather than stopping or filling the log.
Store* currentStore()
{
    std::string path = valueStorePath();
    if (g_store && g_store->isCurrentFor(path))
        return g_store.get();
    dropStore();
    std::string error = "no configuration directory (neither XDG_CONFIG_HOME nor HOME is set)";
    if (!path.empty())
        g_store = Store::open(path, error);
    if (!g_store) {
        noteFailure();
        static bool reported = false;
        if (!reported) {
            reported = true;
            std::fprintf(stderr, "chatroom-server: the value store %s cannot be opened: %s\n", path.c_str(), error.c_str());
        }
    }
    return g_store.get();
}

// Runs `body` as one transaction; when the body or the commit fails, nothing of it remains.
template<typename Body>
bool inWriteTransaction(sqlite3* db, Body body)
{
    if (g_groupDepth > 0)
        return body();
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        noteFailure();
        return false;
    }
    bool done = body();
    if (done && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (done)
        noteFailure();
    if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

// A registry path resolved to what the tables hold.
struct ValueAddress {
    int32_t root;
    std::string keyPath;
    std::string name;
    bool valid;
};

ValueAddress addressOf(int32_t root, std::string_view path)
{
    RegistryPath split = splitRegistryPath(path);
    bool valid = isValidKeyPath(split.key);
    return { effectiveRoot(root), std::move(split.key), std::move(split.valueName), valid };
}

bool writeValue(int32_t root, std::string_view path, ValueType type, std::string_view data)
{
    ValueAddress address = addressOf(root, path);
    if (!address.valid)
        return false;
    std::lock_guard lock(g_storeMutex);
    Store* store = currentStore();
    if (!store)
        return false;
    std::string keyFold = foldCase(address.keyPath);
    return inWriteTransaction(store->db(), [&] {
        // The key and every missing key above it come into being with the value.
        if (!address.keyPath.empty()) {
            std::vector<size_t> ends = separatorOffsets(address.keyPath);
            ends.push_back(address.keyPath.size());
            for (size_t end : ends) {
                if (!Query(store->statement(InsertKey)).bind(address.root).bind(std::string_view(keyFold).substr(0, end)).bind(std::string_view(address.keyPath).substr(0, end)).run())
                    return false;
            }
        }
        return Query(store->statement(UpsertValue))
            .bind(address.root)
            .bind(keyFold)
            .bind(foldCase(address.name))
            .bind(address.name)
            .bind(static_cast<int64_t>(type))
            .bind(data)
            .run();
    });
}


} // namespace

std::string valueStorePath()
{
    std::string base;
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME"); configHome && configHome[0] == '/')
        base = configHome;
    else if (std::string home = homeDirectory(); !home.empty())
        base = home + "/.config";
    else
        return {};
    return base + "/chatroom-server/registry.sqlite3";
}


std::optional<RegistryValue> readRegistryValue(int32_t root, std::string_view path)
{
    ValueAddress address = addressOf(root, path);
    if (!address.valid)
        return std::nullopt;
    std::lock_guard lock(g_storeMutex);
    Store* store = currentStore();
    if (!store)
        return std::nullopt;
    // A single statement is a transaction of its own.
    Query query(store->statement(SelectValue));
    query.bind(address.root).bind(foldCase(address.keyPath)).bind(foldCase(address.name));
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    return RegistryValue { static_cast<ValueType>(query.integer(0)), query.blob(1) };
}

bool registryKeyExists(int32_t root, std::string_view keyPath)
{
    keyPath = textBeforeNul(keyPath);
    if (!isValidKeyPath(keyPath))
        return false;
    std::lock_guard lock(g_storeMutex);
    Store* store = currentStore();
    if (!store)
        return false;
    if (keyPath.empty())
        return true;
    return Query(store->statement(SelectKey)).bind(effectiveRoot(root)).bind(foldCase(keyPath)).step() == SQLITE_ROW;
}

bool registryValueExists(int32_t root, std::string_view path)
{
    return readRegistryValue(root, path).has_value();
}

std::string readRegistryText(int32_t root, std::string_view path, std::optional<std::string_view> defaultText)
{
    std::optional<RegistryValue> value = readRegistryValue(root, path);
    if (value && value->type == ValueType::String)
        return std::string(textBeforeNul(value->data));
    if (value && value->type == ValueType::ExpandableString)
        return expandEnvironment(textBeforeNul(value->data));
    return defaultText ? std::string(textBeforeNul(*defaultText)) : std::string();
}

bool writeRegistryValue(int32_t root, std::string_view path, std::string_view text)
{
    return writeValue(root, path, ValueType::String, stringData(text));
}

bool writeRegistryValue(int32_t root, std::string_view path, const char* text)
{
    return writeRegistryValue(root, path, std::string_view(text ? text : ""));
}

bool writeRegistryValue(int32_t root, std::string_view path, int32_t number)
{
    auto bits = static_cast<uint32_t>(number);
    char data[4];
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return writeValue(root, path, ValueType::Integer, std::string_view(data, sizeof data));
}

bool writeRegistryValue(int32_t root, std::string_view path, const ByteBlock& block)
{
    return writeValue(root, path, ValueType::Binary, block.view());
}

bool writeRegistryExpandableText(int32_t root, std::string_view path, std::string_view text)
{
    return writeValue(root, path, ValueType::ExpandableString, stringData(text));
}

bool deleteRegistryItem(int32_t root, std::string_view path)
{
    path = textBeforeNul(path);
    ValueAddress address = addressOf(root, path);
    bool wholePathIsKey = !path.empty() && isValidKeyPath(path);
    if (!address.valid && !wholePathIsKey)
        return false;
    std::lock_guard lock(g_storeMutex);
    Store* store = currentStore();
    if (!store)
        return false;
    sqlite3* db = store->db();
    bool deleted = false;
    bool committed = inWriteTransaction(db, [&] {
        // First the value named after the last backslash.
        if (address.valid) {
            if (!Query(store->statement(DeleteValue)).bind(address.root).bind(foldCase(address.keyPath)).bind(foldCase(address.name)).run())
                return false;
            if (sqlite3_changes(db) > 0) {
                deleted = true;
                return true;
            }
        }
        // Else the key the whole path names, with its values, unless it has subkeys.
        if (!wholePathIsKey)
            return true;
        std::string keyFold = foldCase(path);
        int found = Query(store->statement(SelectKey)).bind(address.root).bind(keyFold).step();
        if (found != SQLITE_ROW)
            return found == SQLITE_DONE;
        int subkey = Query(store->statement(SelectSubkey)).bind(address.root).bind(keyFold + '\\').bind(keyFold + ']').step();
        if (subkey != SQLITE_DONE)
            return subkey == SQLITE_ROW;
        if (!Query(store->statement(DeleteKeyValues)).bind(address.root).bind(keyFold).run())
            return false;
        if (!Query(store->statement(DeleteKey)).bind(address.root).bind(keyFold).run())
            return false;
        deleted = true;
        return true;
    });
    return committed && deleted;
}

void closeValueStore()
{
    std::lock_guard lock(g_storeMutex);
    dropStore();
}

bool inRegistryTransaction(const std::function<bool()>& operations)
{
    std::lock_guard lock(g_storeMutex);
    Store* store = currentStore();
    if (!store)
        return false;
    if (g_groupDepth > 0)
        return operations();
    // The depth is raised only once the transaction is open: the operations inside then join it
    // instead of opening their own. A BEGIN that fails runs none of them, so that they are never
    // done one by one, outside the transaction they were grouped for.
    return inWriteTransaction(store->db(), [&] {
        ++g_groupDepth;
        bool done = operations();
        --g_groupDepth;
        return done;
    });
}

uint64_t valueStoreFailureCount()
{
    return g_failures.load();
}

void setValueStoreWaitLimit(std::chrono::milliseconds limit)
{
    std::lock_guard lock(g_storeMutex);
    g_busyTimeoutMs = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, std::numeric_limits<int>::max()));
    if (g_store && g_store->belongsToThisProcess())
        sqlite3_busy_timeout(g_store->db(), g_busyTimeoutMs);
}
