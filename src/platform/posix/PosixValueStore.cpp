// The value store on SQLite (see PosixValueStore.h). Names and data are code page 936 bytes
// and are stored as blobs, never as text.
#include "platform/posix/PosixValueStore.h"

#include "platform/posix/SqliteStoreFile.h"
#include "runtime/Text.h"
#include "store/RegistryPath.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace sqlite_store;

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

int milliseconds(std::chrono::milliseconds limit)
{
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, std::numeric_limits<int>::max()));
}

} // namespace

PosixValueStore::PosixValueStore()
    : m_busyTimeoutMs(milliseconds(kDefaultWaitLimit))
{
}

PosixValueStore::~PosixValueStore() { dropStore(); }

std::string PosixValueStore::path()
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

// Forgets the connection; one inherited across fork is left open for its owner, the parent.
void PosixValueStore::dropStore()
{
    if (m_store && !m_store->belongsToThisProcess())
        (void)m_store.release();
    m_store.reset();
}

// The connection to the store at its current path, opened when needed. Called with m_mutex
// held. A store that cannot be opened is reported once: the service goes on without its polls
// rather than stopping or filling the log.
Store* PosixValueStore::currentStore()
{
    std::string file = path();
    if (m_store && m_store->isCurrentFor(file))
        return m_store.get();
    dropStore();
    std::string error = "no configuration directory (neither XDG_CONFIG_HOME nor HOME is set)";
    if (!file.empty())
        m_store = Store::open(file, m_busyTimeoutMs, [this] { noteFailure(); }, error);
    if (!m_store) {
        noteFailure();
        if (!m_openFailureReported) {
            m_openFailureReported = true;
            std::fprintf(stderr, "chatroom-server: the value store %s cannot be opened: %s\n", file.c_str(), error.c_str());
        }
    }
    return m_store.get();
}

// Runs `body` as one transaction; when the body or the commit fails, nothing of it remains.
bool PosixValueStore::inWriteTransaction(const std::function<bool()>& body)
{
    if (m_groupDepth > 0)
        return body();
    sqlite3* db = m_store->db();
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

bool PosixValueStore::storeValue(int32_t root, std::string_view path, ValueType type, std::string_view data)
{
    ValueAddress address = addressOf(root, path);
    if (!address.valid)
        return false;
    std::lock_guard lock(m_mutex);
    Store* store = currentStore();
    if (!store)
        return false;
    std::string keyFold = foldCase(address.keyPath);
    return inWriteTransaction([&] {
        // The key and every missing key above it come into being with the value.
        if (!address.keyPath.empty()) {
            std::vector<size_t> ends = separatorOffsets(address.keyPath);
            ends.push_back(address.keyPath.size());
            for (size_t end : ends) {
                if (!store->query(InsertKey).bind(address.root).bind(std::string_view(keyFold).substr(0, end)).bind(std::string_view(address.keyPath).substr(0, end)).run())
                    return false;
            }
        }
        return store->query(UpsertValue)
            .bind(address.root)
            .bind(keyFold)
            .bind(foldCase(address.name))
            .bind(address.name)
            .bind(static_cast<int64_t>(type))
            .bind(data)
            .run();
    });
}

std::optional<RegistryValue> PosixValueStore::readValue(int32_t root, std::string_view path)
{
    ValueAddress address = addressOf(root, path);
    if (!address.valid)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    Store* store = currentStore();
    if (!store)
        return std::nullopt;
    // A single statement is a transaction of its own.
    Query query = store->query(SelectValue);
    query.bind(address.root).bind(foldCase(address.keyPath)).bind(foldCase(address.name));
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    return RegistryValue { static_cast<ValueType>(query.integer(0)), query.blob(1) };
}

bool PosixValueStore::keyExists(int32_t root, std::string_view keyPath)
{
    keyPath = textBeforeNul(keyPath);
    if (!isValidKeyPath(keyPath))
        return false;
    std::lock_guard lock(m_mutex);
    Store* store = currentStore();
    if (!store)
        return false;
    if (keyPath.empty())
        return true;
    return store->query(SelectKey).bind(effectiveRoot(root)).bind(foldCase(keyPath)).step() == SQLITE_ROW;
}

bool PosixValueStore::deleteItem(int32_t root, std::string_view path)
{
    path = textBeforeNul(path);
    ValueAddress address = addressOf(root, path);
    bool wholePathIsKey = !path.empty() && isValidKeyPath(path);
    if (!address.valid && !wholePathIsKey)
        return false;
    std::lock_guard lock(m_mutex);
    Store* store = currentStore();
    if (!store)
        return false;
    bool deleted = false;
    bool committed = inWriteTransaction([&] {
        // First the value named after the last backslash.
        if (address.valid) {
            if (!store->query(DeleteValue).bind(address.root).bind(foldCase(address.keyPath)).bind(foldCase(address.name)).run())
                return false;
            if (sqlite3_changes(store->db()) > 0) {
                deleted = true;
                return true;
            }
        }
        // Else the key the whole path names, with its values, unless it has subkeys.
        if (!wholePathIsKey)
            return true;
        std::string keyFold = foldCase(path);
        int found = store->query(SelectKey).bind(address.root).bind(keyFold).step();
        if (found != SQLITE_ROW)
            return found == SQLITE_DONE;
        int subkey = store->query(SelectSubkey).bind(address.root).bind(keyFold + '\\').bind(keyFold + ']').step();
        if (subkey != SQLITE_DONE)
            return subkey == SQLITE_ROW;
        if (!store->query(DeleteKeyValues).bind(address.root).bind(keyFold).run())
            return false;
        if (!store->query(DeleteKey).bind(address.root).bind(keyFold).run())
            return false;
        deleted = true;
        return true;
    });
    return committed && deleted;
}

void PosixValueStore::close()
{
    std::lock_guard lock(m_mutex);
    dropStore();
}

bool PosixValueStore::inTransaction(const std::function<bool()>& operations)
{
    std::lock_guard lock(m_mutex);
    if (!currentStore())
        return false;
    if (m_groupDepth > 0)
        return operations();
    // The depth is raised only once the transaction is open: the operations inside then join it
    // instead of opening their own. A BEGIN that fails runs none of them, so that they are never
    // done one by one, outside the transaction they were grouped for.
    return inWriteTransaction([&] {
        ++m_groupDepth;
        bool done = operations();
        --m_groupDepth;
        return done;
    });
}

void PosixValueStore::setWaitLimit(std::chrono::milliseconds limit)
{
    std::lock_guard lock(m_mutex);
    m_busyTimeoutMs = milliseconds(limit);
    if (m_store && m_store->belongsToThisProcess())
        sqlite3_busy_timeout(m_store->db(), m_busyTimeoutMs);
}
