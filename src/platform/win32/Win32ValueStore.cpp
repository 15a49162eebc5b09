// The value store on the Windows registry (see Win32ValueStore.h).
#include "platform/win32/Win32ValueStore.h"

#include "platform/win32/CodePage936.h"
#include "runtime/Text.h"
#include "store/RegistryPath.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr REGSAM kReadAccess = KEY_QUERY_VALUE;
constexpr REGSAM kWriteAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

HKEY rootKey(int32_t root)
{
    switch (effectiveRoot(root)) {
    case 1:
        return HKEY_CLASSES_ROOT;
    case 2:
        return HKEY_CURRENT_CONFIG;
    case 4:
        return HKEY_LOCAL_MACHINE;
    case 5:
        return HKEY_USERS;
    default:
        return HKEY_CURRENT_USER;
    }
}

// A well-formed key path in the wide form, part by part. A part whose bytes are not valid
// code page 936 could convert to a backslash of its own and so move the split; such a path
// names no key.
std::optional<std::wstring> wideKeyPath(std::string_view key)
{
    if (!isValidKeyPath(key))
        return std::nullopt;
    std::vector<size_t> ends = separatorOffsets(key);
    ends.push_back(key.size());
    std::wstring wide;
    size_t start = 0;
    for (size_t end : ends) {
        std::wstring part = cp936ToWide(key.substr(start, end - start));
        if (part.find(L'\\') != std::wstring::npos)
            return std::nullopt;
        if (start > 0)
            wide += L'\\';
        wide += part;
        start = end + 1;
    }
    return wide;
}

// A registry path resolved to what the registry calls take.
struct ValueAddress {
    HKEY root;
    std::wstring key;
    std::wstring name;
};

std::optional<ValueAddress> addressOf(int32_t root, std::string_view path)
{
    RegistryPath split = splitRegistryPath(path);
    std::optional<std::wstring> key = wideKeyPath(split.key);
    if (!key)
        return std::nullopt;
    return ValueAddress { rootKey(root), std::move(*key), cp936ToWide(split.valueName) };
}

std::optional<RawRegistryValue> queryValue(const ValueAddress& address)
{
    return RegistryKey::open(address.root, address.key, kReadAccess).queryValue(address.name);
}

// A string value's characters, up to its first NUL; data written by other programs need not
// end with one.
std::wstring wideText(const RawRegistryValue& value)
{
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

RawRegistryValue stringValue(DWORD type, std::string_view text)
{
    std::wstring wide = cp936ToWide(textBeforeNul(text));
    wide += L'\0';
    RawRegistryValue value { type, std::vector<BYTE>(wide.size() * sizeof(wchar_t)) };
    std::memcpy(value.data.data(), wide.data(), value.data.size());
    return value;
}

std::wstring expandEnvironment(const std::wstring& text)
{
    // The environment may change between the two calls; then the size is asked again.
    DWORD capacity = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    while (capacity > 0) {
        std::wstring expanded(capacity, L'\0');
        DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), capacity);
        if (needed == 0)
            break;
        if (needed <= capacity) {
            expanded.resize(needed - 1);
            return expanded;
        }
        capacity = needed;
    }
    return text;
}

// The keys of `key` (a path below `root`) that do not exist yet, shallowest first.
std::vector<std::wstring> missingKeys(HKEY root, const std::wstring& key)
{
    std::vector<std::wstring> missing;
    if (key.empty() || RegistryKey::open(root, key, kReadAccess))
        return missing;
    for (size_t end = key.find(L'\\');; end = key.find(L'\\', end + 1)) {
        std::wstring prefix = key.substr(0, end);
        // Only a key that is certainly absent counts: one that exists but refuses to open
        // must never be removed by an undo.
        if (!missing.empty() || RegistryKey::open(root, prefix, kReadAccess).status() == ERROR_FILE_NOT_FOUND)
            missing.push_back(prefix);
        if (end == std::wstring::npos)
            break;
    }
    return missing;
}

} // namespace

Win32ValueStore::Win32ValueStore() { m_mutex.setWait(static_cast<unsigned long>(kDefaultWaitLimit.count())); }

bool Win32ValueStore::OperationChanges::finish(bool done)
{
    if (!done)
        m_store.m_undo.undoSince(m_mark);
    if (m_store.m_groupDepth == 0)
        m_store.m_undo.keepSince(0);
    return done;
}

bool Win32ValueStore::failed()
{
    noteFailure();
    return false;
}

bool Win32ValueStore::storeValue(int32_t root, std::string_view path, ValueType type, std::string_view data)
{
    switch (type) {
    case ValueType::String:
        return writeRaw(root, path, stringValue(REG_SZ, data));
    case ValueType::ExpandableString:
        return writeRaw(root, path, stringValue(REG_EXPAND_SZ, data));
    case ValueType::Integer:
        return writeRaw(root, path, { REG_DWORD, std::vector<BYTE>(data.begin(), data.end()) });
    case ValueType::Binary:
        break;
    }
    return writeRaw(root, path, { REG_BINARY, std::vector<BYTE>(data.begin(), data.end()) });
}

std::string Win32ValueStore::expandReferences(std::string_view text) const
{
    return wideToCp936(expandEnvironment(cp936ToWide(text)));
}

bool Win32ValueStore::writeRaw(int32_t root, std::string_view path, const RawRegistryValue& value)
{
    std::optional<ValueAddress> address = addressOf(root, path);
    if (!address)
        return false;
    RegistryLock lock(m_mutex);
    if (!lock)
        return failed();
    OperationChanges changes(*this);
    // The key and every missing key above it come into being with the value.
    for (std::wstring& created : missingKeys(address->root, address->key))
        m_undo.noteKeyCreated(address->root, std::move(created));
    RegistryKey key = RegistryKey::create(address->root, address->key, kWriteAccess);
    if (!key)
        return changes.finish(failed());
    std::optional<RawRegistryValue> before = key.queryValue(address->name);
    if (!key.setValue(address->name, value))
        return changes.finish(failed());
    m_undo.noteValue(address->root, address->key, address->name, std::move(before));
    return changes.finish(true);
}

std::optional<RegistryValue> Win32ValueStore::readValue(int32_t root, std::string_view path)
{
    std::optional<ValueAddress> address = addressOf(root, path);
    if (!address)
        return std::nullopt;
    RegistryLock lock(m_mutex);
    if (!lock) {
        noteFailure();
        return std::nullopt;
    }
    std::optional<RawRegistryValue> raw = queryValue(*address);
    if (!raw)
        return std::nullopt;
    switch (raw->type) {
    case REG_SZ:
        return RegistryValue { ValueType::String, stringData(wideToCp936(wideText(*raw))) };
    case REG_EXPAND_SZ:
        return RegistryValue { ValueType::ExpandableString, stringData(wideToCp936(wideText(*raw))) };
    case REG_DWORD:
        return RegistryValue { ValueType::Integer, std::string(raw->data.begin(), raw->data.end()) };
    default:
        // REG_BINARY, and the types that only other programs write (multi-strings, 64-bit
        // numbers): their bytes as they are.
        return RegistryValue { ValueType::Binary, std::string(raw->data.begin(), raw->data.end()) };
    }
}

bool Win32ValueStore::keyExists(int32_t root, std::string_view keyPath)
{
    std::optional<std::wstring> key = wideKeyPath(textBeforeNul(keyPath));
    if (!key)
        return false;
    RegistryLock lock(m_mutex);
    return lock && RegistryKey::open(rootKey(root), *key, kReadAccess);
}

bool Win32ValueStore::deleteItem(int32_t root, std::string_view path)
{
    path = textBeforeNul(path);
    std::optional<ValueAddress> address = addressOf(root, path);
    std::optional<std::wstring> wholeKey = path.empty() ? std::nullopt : wideKeyPath(path);
    if (!address && !wholeKey)
        return false;
    RegistryLock lock(m_mutex);
    if (!lock)
        return failed();
    OperationChanges changes(*this);
    // First the value named after the last backslash.
    if (address) {
        RegistryKey key = RegistryKey::open(address->root, address->key, kWriteAccess);
        if (std::optional<RawRegistryValue> before = key.queryValue(address->name); before && key.deleteValue(address->name)) {
            m_undo.noteValue(address->root, address->key, address->name, std::move(before));
            return changes.finish(true);
        }
    }
    // Else the key the whole path names, with its values, unless it has subkeys.
    if (!wholeKey)
        return changes.finish(false);
    HKEY rootHandle = rootKey(root);
    std::optional<std::vector<NamedRegistryValue>> values;
    {
        RegistryKey key = RegistryKey::open(rootHandle, *wholeKey, KEY_READ);
        std::optional<DWORD> subkeys = key.subkeyCount();
        if (!subkeys || *subkeys > 0)
            return changes.finish(false);
        values = key.values();
    }
    if (!values || RegDeleteKeyW(rootHandle, wholeKey->c_str()) != ERROR_SUCCESS)
        return changes.finish(false);
    m_undo.noteKeyDeleted(rootHandle, std::move(*wholeKey), std::move(*values));
    return changes.finish(true);
}

void Win32ValueStore::close()
{
    if (m_groupDepth == 0)
        m_mutex.close();
}

bool Win32ValueStore::inTransaction(const std::function<bool()>& operations)
{
    RegistryLock lock(m_mutex);
    if (!lock)
        return failed();
    if (m_groupDepth > 0)
        return operations();
    struct GroupScope {
        int& depth;
        explicit GroupScope(int& groupDepth) : depth(++groupDepth) { }
        ~GroupScope() { --depth; }
    };
    bool done;
    {
        GroupScope group(m_groupDepth);
        done = operations();
    }
    if (!done)
        m_undo.undoSince(0);
    m_undo.keepSince(0);
    return done;
}

void Win32ValueStore::setWaitLimit(std::chrono::milliseconds limit)
{
    m_mutex.setWait(static_cast<unsigned long>(std::max<int64_t>(limit.count(), 0)));
}
