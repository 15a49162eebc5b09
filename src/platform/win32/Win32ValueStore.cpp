// The value store (store/ValueStore.h) on the Windows registry itself. Paths and value names arrive as code page
// 936 texts and are split as the store's path rules say; each part is then converted to the
// wide API, so the keys are exactly those that other tools (regedit, reg) show, on a Windows
// of any language. String data is stored as UTF-16 with its NUL, as REG_SZ always is.
//
// Every operation holds the store's lock (a per-user named mutex), so two servers of one user
// never interleave; a group of operations (inRegistryTransaction) holds it throughout and
// keeps an undo record, so that a failed group, or a failed operation, leaves nothing behind.
#include "store/ValueStore.h"

#include "platform/win32/CodePage936.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryLock.h"
#include "platform/win32/RegistryUndo.h"
#include "store/RegistryPath.h"
#include "runtime/Text.h"

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
constexpr size_t kDwordBytes = 4;

// Written by the operations while they hold the store's lock, which also excludes the other
// threads of this process.
RegistryUndoLog g_undo;
// Above zero while a group runs: the operations inside keep their undo steps for the group.
int g_groupDepth = 0;

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

// The undo steps of one operation: undone when it fails; outside a group, forgotten when it
// is done (inside one, the group keeps them until it ends).
class OperationChanges {
public:
    OperationChanges()
        : m_mark(g_undo.size())
    {
    }
    bool finish(bool done)
    {
        if (!done)
            g_undo.undoSince(m_mark);
        if (g_groupDepth == 0)
            g_undo.keepSince(0);
        return done;
    }

private:
    size_t m_mark;
};

// Failures of the store itself (locked past the wait, refused by the registry), as against a
// value or key that is simply not there.
uint64_t g_failures = 0;

bool noteFailure()
{
    ++g_failures;
    return false;
}

bool writeValue(int32_t root, std::string_view path, const RawRegistryValue& value)
{
    std::optional<ValueAddress> address = addressOf(root, path);
    if (!address)
        return false;
    RegistryLock lock;
    if (!lock)
        return noteFailure();
    OperationChanges changes;
    // The key and every missing key above it come into being with the value.
    for (std::wstring& created : missingKeys(address->root, address->key))
        g_undo.noteKeyCreated(address->root, std::move(created));
    RegistryKey key = RegistryKey::create(address->root, address->key, kWriteAccess);
    if (!key)
        return changes.finish(noteFailure());
    std::optional<RawRegistryValue> before = key.queryValue(address->name);
    if (!key.setValue(address->name, value))
        return changes.finish(noteFailure());
    g_undo.noteValue(address->root, address->key, address->name, std::move(before));
    return changes.finish(true);
}

} // namespace

std::string valueStorePath()
{
    // Not a file: the registry's root keys themselves, the current user's unless a root code
    // names another.
    return "HKEY_CURRENT_USER";
}

std::optional<RegistryValue> readRegistryValue(int32_t root, std::string_view path)
{
    std::optional<ValueAddress> address = addressOf(root, path);
    if (!address)
        return std::nullopt;
    RegistryLock lock;
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

bool registryKeyExists(int32_t root, std::string_view keyPath)
{
    std::optional<std::wstring> key = wideKeyPath(textBeforeNul(keyPath));
    if (!key)
        return false;
    RegistryLock lock;
    return lock && RegistryKey::open(rootKey(root), *key, kReadAccess);
}

bool registryValueExists(int32_t root, std::string_view path)
{
    std::optional<ValueAddress> address = addressOf(root, path);
    if (!address)
        return false;
    RegistryLock lock;
    return lock && RegistryKey::open(address->root, address->key, kReadAccess).valueExists(address->name);
}

std::string readRegistryText(int32_t root, std::string_view path, std::optional<std::string_view> defaultText)
{
    std::optional<ValueAddress> address = addressOf(root, path);
    std::optional<RawRegistryValue> raw;
    if (address) {
        RegistryLock lock;
        if (lock)
            raw = queryValue(*address);
        else
            noteFailure();
    }
    if (raw && raw->type == REG_SZ)
        return wideToCp936(wideText(*raw));
    if (raw && raw->type == REG_EXPAND_SZ)
        return wideToCp936(expandEnvironment(wideText(*raw)));
    return defaultText ? std::string(textBeforeNul(*defaultText)) : std::string();
}

bool writeRegistryValue(int32_t root, std::string_view path, std::string_view text)
{
    return writeValue(root, path, stringValue(REG_SZ, text));
}

bool writeRegistryValue(int32_t root, std::string_view path, const char* text)
{
    return writeRegistryValue(root, path, std::string_view(text ? text : ""));
}

bool writeRegistryValue(int32_t root, std::string_view path, int32_t number)
{
    // REG_DWORD is little-endian, as is every processor Windows runs on.
    RawRegistryValue value { REG_DWORD, std::vector<BYTE>(kDwordBytes) };
    auto bits = static_cast<uint32_t>(number);
    std::memcpy(value.data.data(), &bits, kDwordBytes);
    return writeValue(root, path, value);
}

bool writeRegistryValue(int32_t root, std::string_view path, const ByteBlock& block)
{
    return writeValue(root, path, { REG_BINARY, std::vector<BYTE>(block.bytes.begin(), block.bytes.end()) });
}

bool writeRegistryExpandableText(int32_t root, std::string_view path, std::string_view text)
{
    return writeValue(root, path, stringValue(REG_EXPAND_SZ, text));
}

bool deleteRegistryItem(int32_t root, std::string_view path)
{
    path = textBeforeNul(path);
    std::optional<ValueAddress> address = addressOf(root, path);
    std::optional<std::wstring> wholeKey = path.empty() ? std::nullopt : wideKeyPath(path);
    if (!address && !wholeKey)
        return false;
    RegistryLock lock;
    if (!lock)
        return noteFailure();
    OperationChanges changes;
    // First the value named after the last backslash.
    if (address) {
        RegistryKey key = RegistryKey::open(address->root, address->key, kWriteAccess);
        if (std::optional<RawRegistryValue> before = key.queryValue(address->name); before && key.deleteValue(address->name)) {
            g_undo.noteValue(address->root, address->key, address->name, std::move(before));
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
    g_undo.noteKeyDeleted(rootHandle, std::move(*wholeKey), std::move(*values));
    return changes.finish(true);
}

void closeValueStore()
{
    if (g_groupDepth == 0)
        closeRegistryLock();
}

bool inRegistryTransaction(const std::function<bool()>& operations)
{
    RegistryLock lock;
    if (!lock)
        return noteFailure();
    if (g_groupDepth > 0)
        return operations();
    struct GroupScope {
        GroupScope() { ++g_groupDepth; }
        ~GroupScope() { --g_groupDepth; }
    };
    bool done;
    {
        GroupScope group;
        done = operations();
    }
    if (!done)
        g_undo.undoSince(0);
    g_undo.keepSince(0);
    return done;
}

void setValueStoreWaitLimit(std::chrono::milliseconds limit)
{
    setRegistryLockWait(static_cast<unsigned long>(std::max<int64_t>(limit.count(), 0)));
}

uint64_t valueStoreFailureCount() { return g_failures; }
