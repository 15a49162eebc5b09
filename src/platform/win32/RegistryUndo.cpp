// The value store's undo record on the registry (see RegistryUndo.h).
#include "platform/win32/RegistryUndo.h"

namespace {

constexpr REGSAM kValueAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

}

void RegistryUndoLog::noteValue(HKEY root, std::wstring key, std::wstring name, std::optional<RawRegistryValue> before)
{
    m_steps.push_back({ Kind::RestoreValue, root, std::move(key), std::move(name), std::move(before), {} });
}

void RegistryUndoLog::noteKeyCreated(HKEY root, std::wstring key)
{
    m_steps.push_back({ Kind::RemoveCreatedKey, root, std::move(key), {}, std::nullopt, {} });
}

void RegistryUndoLog::noteKeyDeleted(HKEY root, std::wstring key, std::vector<NamedRegistryValue> values)
{
    m_steps.push_back({ Kind::RecreateDeletedKey, root, std::move(key), {}, std::nullopt, std::move(values) });
}

void RegistryUndoLog::undoSince(size_t mark)
{
    while (m_steps.size() > mark) {
        undo(m_steps.back());
        m_steps.pop_back();
    }
}

void RegistryUndoLog::keepSince(size_t mark)
{
    if (m_steps.size() > mark)
        m_steps.resize(mark);
}

void RegistryUndoLog::undo(const Step& step)
{
    switch (step.kind) {
    case Kind::RestoreValue: {
        RegistryKey key = RegistryKey::open(step.root, step.key, kValueAccess);
        if (step.before)
            key.setValue(step.name, *step.before);
        else
            key.deleteValue(step.name);
        break;
    }
    case Kind::RemoveCreatedKey:
        // Fails, and so keeps the key, if something else was created below it meanwhile.
        RegDeleteKeyW(step.root, step.key.c_str());
        break;
    case Kind::RecreateDeletedKey: {
        RegistryKey key = RegistryKey::create(step.root, step.key, kValueAccess);
        for (const NamedRegistryValue& value : step.values)
            key.setValue(value.name, value.value);
        break;
    }
    }
}
