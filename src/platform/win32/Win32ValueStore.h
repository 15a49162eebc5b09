// The value store (store/ValueStore.h) on the Windows registry itself. Paths and value names
// arrive as code page 936 texts and are split as the store's path rules say; each part is then
// converted to the wide API, so the keys are exactly those that other tools (regedit, reg)
// show, on a Windows of any language. String data is stored as UTF-16 with its NUL, as REG_SZ
// always is.
//
// Every operation holds the store's lock (a per-user named mutex, RegistryLock.h), so two
// servers of one user never interleave; a group of operations (inTransaction) holds it
// throughout and keeps an undo record, so that a failed group, or a failed operation, leaves
// nothing behind. The object owns the lock's handle and the undo record.
#pragma once

#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryLock.h"
#include "platform/win32/RegistryUndo.h"
#include "store/ValueStore.h"

class Win32ValueStore final : public ValueStore {
public:
    Win32ValueStore();

    std::optional<RegistryValue> readValue(int32_t root, std::string_view path) override;
    bool keyExists(int32_t root, std::string_view keyPath) override;
    bool deleteItem(int32_t root, std::string_view path) override;
    bool inTransaction(const std::function<bool()>& operations) override;
    void close() override;
    void setWaitLimit(std::chrono::milliseconds limit) override;

private:
    bool storeValue(int32_t root, std::string_view path, ValueType type, std::string_view data) override;
    // The system's own expansion, on the wide text.
    std::string expandReferences(std::string_view text) const override;
    bool writeRaw(int32_t root, std::string_view path, const RawRegistryValue& value);
    // Notes a failure of the store itself; false, for the operation's result.
    bool failed();

    // The undo steps of one operation: undone when it fails; outside a group, forgotten when
    // it is done (inside one, the group keeps them until it ends).
    class OperationChanges {
    public:
        explicit OperationChanges(Win32ValueStore& store)
            : m_store(store)
            , m_mark(store.m_undo.size())
        {
        }
        bool finish(bool done);

    private:
        Win32ValueStore& m_store;
        size_t m_mark;
    };

    RegistryMutex m_mutex;
    // Written by the operations while they hold the store's lock, which also excludes the
    // other threads of this process.
    RegistryUndoLog m_undo;
    // Above zero while a group runs: the operations inside keep their undo steps for the group.
    int m_groupDepth = 0;
};
