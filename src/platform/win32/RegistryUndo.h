// What a group of value store operations needs and the registry lacks: a way back. The
// registry has no rollback (its transactions, KTM, are deprecated and absent from Wine), so
// every change is recorded, before it is made, as the step that undoes it: a value's former
// state, a key that was created, a key that was deleted with its values. Undoing runs the
// steps newest first, which puts each key back before the values that live in it.
//
// This keeps the promise "nothing of a group is kept when it fails" for a live process, and,
// with the store's lock held throughout, no other server ever sees the undone writes. It
// cannot keep it for a process that dies inside a group: its record dies with it, and what
// it had written stays.
#pragma once

#include "platform/win32/RegistryKey.h"

#include <optional>
#include <string>
#include <vector>

class RegistryUndoLog {
public:
    size_t size() const { return m_steps.size(); }

    // The value held `before` (nothing: it did not exist) and is about to be set or deleted.
    void noteValue(HKEY root, std::wstring key, std::wstring name, std::optional<RawRegistryValue> before);
    // The key does not exist and is about to be created.
    void noteKeyCreated(HKEY root, std::wstring key);
    // The key, which has no subkeys, is about to be deleted with these values.
    void noteKeyDeleted(HKEY root, std::wstring key, std::vector<NamedRegistryValue> values);

    // Undoes every step recorded since the log had `mark` steps, newest first, and forgets
    // them. A step that cannot be undone (the registry refused) is passed over: the others
    // are still worth undoing.
    void undoSince(size_t mark);
    // Forgets the steps since `mark`: their changes stay.
    void keepSince(size_t mark);

private:
    enum class Kind { RestoreValue, RemoveCreatedKey, RecreateDeletedKey };
    struct Step {
        Kind kind;
        HKEY root;
        std::wstring key;
        std::wstring name;
        std::optional<RawRegistryValue> before;
        std::vector<NamedRegistryValue> values;
    };

    static void undo(const Step& step);

    std::vector<Step> m_steps;
};
