// The per-user value store (store/ValueStore.h) on SQLite: registry keys and typed values in
// one file per user (SqliteStoreFile.h), shared by every server that user runs. Each operation is one transaction on a WAL database
// with a busy timeout, so a second server sees a change at its next call, two servers never
// interleave inside an operation, and a process killed between operations loses nothing
// committed. Names and data are code page 936 bytes and are stored as blobs, never as text.
#include "store/ValueStore.h"

#include "platform/posix/SqliteStoreFile.h"
#include "runtime/Text.h"
#include "store/RegistryPath.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace sqlite_store;

constexpr int kBusyTimeoutMs = 5000;
// The busy timeout of the connection: kBusyTimeoutMs until the program sets its own.
int g_busyTimeoutMs = kBusyTimeoutMs;

std::atomic<uint64_t> g_failures { 0 };

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
        g_store = Store::open(path, g_busyTimeoutMs, error);
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

void sqlite_store::noteFailure() { ++g_failures; }

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
