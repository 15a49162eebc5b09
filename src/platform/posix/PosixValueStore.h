// The per-user value store (store/ValueStore.h) on SQLite: registry keys and typed values in
// one file per user (SqliteStoreFile.h), shared by every server that user runs. Each operation
// is one transaction on a WAL database with a busy timeout, so a second server sees a change
// at its next call, two servers never interleave inside an operation, and a process killed
// between operations loses nothing committed. The object owns its connection, opened at the
// first operation and again whenever the file at the store's path has changed.
#pragma once

#include "store/ValueStore.h"

#include <memory>
#include <mutex>
#include <string>

namespace sqlite_store {
class Store;
}

class PosixValueStore final : public ValueStore {
public:
    PosixValueStore();
    ~PosixValueStore() override;

    // Where the store lives: ${XDG_CONFIG_HOME:-$HOME/.config}/chatroom-server/registry.sqlite3;
    // "" when neither is set. A relative XDG_CONFIG_HOME is ignored, as the XDG rules say, so
    // that servers started from different directories still share one store. Taken anew by
    // every operation.
    static std::string path();

    std::optional<RegistryValue> readValue(int32_t root, std::string_view path) override;
    bool keyExists(int32_t root, std::string_view keyPath) override;
    bool deleteItem(int32_t root, std::string_view path) override;
    bool inTransaction(const std::function<bool()>& operations) override;
    void close() override;
    void setWaitLimit(std::chrono::milliseconds limit) override;

private:
    bool storeValue(int32_t root, std::string_view path, ValueType type, std::string_view data) override;
    sqlite_store::Store* currentStore();
    void dropStore();
    bool inWriteTransaction(const std::function<bool()>& body);

    // Held by every operation: the threads of one process share the connection.
    std::recursive_mutex m_mutex;
    int m_busyTimeoutMs;
    // Above zero while a group of operations runs as one transaction (inTransaction): the
    // operations inside then take part in it instead of opening their own.
    int m_groupDepth = 0;
    std::unique_ptr<sqlite_store::Store> m_store;
    bool m_openFailureReported = false;
};
