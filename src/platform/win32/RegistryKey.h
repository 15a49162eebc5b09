// One open registry key, closed when its owner goes, with the few value operations the value
// store needs on it. Names are wide; values are kept as the registry keeps them (type and
// raw data bytes), so a value can be put back exactly as it was.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct RawRegistryValue {
    DWORD type;
    std::vector<BYTE> data;
};

struct NamedRegistryValue {
    std::wstring name;
    RawRegistryValue value;
};

class RegistryKey {
public:
    // `path` "" opens (a new handle of) the root key itself. The result is empty on failure;
    // `status` then tells why.
    static RegistryKey open(HKEY root, const std::wstring& path, REGSAM access);
    // Opens the key, creating it and every missing key above it.
    static RegistryKey create(HKEY root, const std::wstring& path, REGSAM access);

    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(RegistryKey&& other) noexcept
        : m_key(std::exchange(other.m_key, nullptr))
        , m_status(other.m_status)
    {
    }
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    explicit operator bool() const { return m_key != nullptr; }
    LSTATUS status() const { return m_status; }

    // The value by name ("" is the key's default value); nothing when it does not exist or
    // cannot be read.
    std::optional<RawRegistryValue> queryValue(const std::wstring& name) const;
    bool valueExists(const std::wstring& name) const;
    bool setValue(const std::wstring& name, const RawRegistryValue& value) const;
    bool deleteValue(const std::wstring& name) const;
    // Every value of the key; nothing when they cannot all be read.
    std::optional<std::vector<NamedRegistryValue>> values() const;
    std::optional<DWORD> subkeyCount() const;

private:
    RegistryKey(HKEY key, LSTATUS status)
        : m_key(key)
        , m_status(status)
    {
    }

    HKEY m_key { nullptr };
    LSTATUS m_status { ERROR_INVALID_HANDLE };
};
