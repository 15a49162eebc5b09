// Registry key handles and value access with the wide API (see RegistryKey.h).
#include "platform/win32/RegistryKey.h"

namespace {

// A value may grow between asking for its size and reading it; after a few rounds of that the
// read counts as failed.
constexpr int kReadAttempts = 4;

}

RegistryKey RegistryKey::open(HKEY root, const std::wstring& path, REGSAM access)
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, access, &key);
    return RegistryKey(status == ERROR_SUCCESS ? key : nullptr, status);
}

RegistryKey RegistryKey::create(HKEY root, const std::wstring& path, REGSAM access)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    return RegistryKey(status == ERROR_SUCCESS ? key : nullptr, status);
}

RegistryKey::~RegistryKey()
{
    if (m_key)
        RegCloseKey(m_key);
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept
{
    if (this != &other) {
        if (m_key)
            RegCloseKey(m_key);
        m_key = std::exchange(other.m_key, nullptr);
        m_status = other.m_status;
    }
    return *this;
}

std::optional<RawRegistryValue> RegistryKey::queryValue(const std::wstring& name) const
{
    if (!m_key)
        return std::nullopt;
    RawRegistryValue value { REG_NONE, {} };
    DWORD size = 0;
    if (RegQueryValueExW(m_key, name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        value.data.resize(size);
        LSTATUS status = RegQueryValueExW(m_key, name.c_str(), nullptr, &value.type, value.data.data(), &size);
        if (status == ERROR_SUCCESS) {
            value.data.resize(size);
            return value;
        }
        if (status != ERROR_MORE_DATA)
            return std::nullopt;
    }
    return std::nullopt;
}

bool RegistryKey::valueExists(const std::wstring& name) const
{
    return m_key && RegQueryValueExW(m_key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool RegistryKey::setValue(const std::wstring& name, const RawRegistryValue& value) const
{
    return m_key
        && RegSetValueExW(m_key, name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool RegistryKey::deleteValue(const std::wstring& name) const
{
    return m_key && RegDeleteValueW(m_key, name.c_str()) == ERROR_SUCCESS;
}

std::optional<std::vector<NamedRegistryValue>> RegistryKey::values() const
{
    DWORD longestName = 0;
    DWORD largestData = 0;
    if (!m_key
        || RegQueryInfoKeyW(m_key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName, &largestData, nullptr, nullptr)
            != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<NamedRegistryValue> values;
    std::vector<wchar_t> name(longestName + 1);
    std::vector<BYTE> data(largestData);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        LSTATUS status = RegEnumValueW(m_key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            return values;
        // ERROR_MORE_DATA too: the key changed under us, and a partial list is no list.
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        values.push_back({ std::wstring(name.data(), nameLength), { type, std::vector<BYTE>(data.begin(), data.begin() + dataSize) } });
    }
}

std::optional<DWORD> RegistryKey::subkeyCount() const
{
    DWORD count = 0;
    if (!m_key || RegQueryInfoKeyW(m_key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return count;
}
