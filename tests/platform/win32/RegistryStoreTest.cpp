// Unit tests of what only the registry store has: the format that other Windows tools read
// (wide REG_SZ names and data under HKEY_CURRENT_USER), values that other programs wrote, and
// two processes counting in groups at once, kept apart by the store's named lock.
#include "platform/win32/TempRegistryRoots.h"
#include "platform/win32/UniqueHandle.h"
#include "store/ValueStore.h"
#include "store/ValueStoreTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

constexpr const wchar_t* kCounterKeyVariable = L"CHATROOM_TEST_COUNTER_KEY";
constexpr const wchar_t* kCounterGateVariable = L"CHATROOM_TEST_COUNTER_GATE";
constexpr const char* kCounterPath = "SOFTWARE\\聊天室\\机器人\\次数";
constexpr int kCountingProcesses = 3;
constexpr int kCountsPerProcess = 100;
constexpr size_t kMaxKeyPath = 512;
// A bound for a stall only: the children need a fraction of it.
constexpr DWORD kChildTimeoutMs = 120000;

std::wstring environmentVariable(const wchar_t* name)
{
    wchar_t value[kMaxKeyPath];
    DWORD length = GetEnvironmentVariableW(name, value, kMaxKeyPath);
    return length < kMaxKeyPath ? std::wstring(value, length) : std::wstring();
}

// Started by CountsOfProcessesCountingAtOnceAddUp with the variables set, this executable
// counts in the test's stand-in for the current user's key once the start gate opens, and
// ends before any test runs.
const bool g_isCounterChild = [] {
    std::wstring keyPath = environmentVariable(kCounterKeyVariable);
    if (keyPath.empty())
        return false;
    HKEY standIn = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_ALL_ACCESS, &standIn) != ERROR_SUCCESS
        || RegOverridePredefKey(HKEY_CURRENT_USER, standIn) != ERROR_SUCCESS)
        ExitProcess(2);
    UniqueHandle gate(OpenEventW(SYNCHRONIZE, FALSE, environmentVariable(kCounterGateVariable).c_str()));
    if (!gate || WaitForSingleObject(gate.get(), kChildTimeoutMs) != WAIT_OBJECT_0)
        ExitProcess(3);
    Win32ValueStore store;
    ExitProcess(countInGroups(store, kCounterPath, kCountsPerProcess) == kCountsPerProcess ? 0 : 1);
}();

std::vector<BYTE> bytesOf(std::wstring_view text)
{
    std::vector<BYTE> bytes(text.size() * sizeof(wchar_t));
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

struct RawValue {
    DWORD type;
    std::vector<BYTE> data;
};

std::optional<RawValue> rawValue(const wchar_t* key, const wchar_t* name)
{
    RawValue value { REG_NONE, std::vector<BYTE>(kMaxKeyPath) };
    DWORD size = static_cast<DWORD>(value.data.size());
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

class RegistryStoreTest : public ValueStoreTest { };

TEST_F(RegistryStoreTest, VotesAreWideStringValuesUnderTheRobotKey)
{
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, voterPath("127.0.0.1:5000"), "1"));
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "2"));
    struct Case {
        const wchar_t* name;
        std::wstring data;
    };
    const Case cases[] = {
        { L"127.0.0.1:5000", L"1\0"s },
        { L"次数", L"2\0"s },
    };
    for (const Case& c : cases) {
        std::optional<RawValue> value = rawValue(L"SOFTWARE\\聊天室\\机器人", c.name);
        ASSERT_TRUE(value) << c.name;
        EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value->data, bytesOf(c.data));
    }
}

TEST_F(RegistryStoreTest, ValuesOfOtherProgramsReadAsTheyAreStored)
{
    ScopedEnv variable("CHATROOM_REGISTRY_TEST_VAR", "value");
    const uint64_t quad = 0x0102030405060708;
    std::vector<BYTE> quadBytes(sizeof quad);
    std::memcpy(quadBytes.data(), &quad, sizeof quad);
    struct Case {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
        std::string text;
        ValueType storedType;
        std::string storedData;
    };
    const Case cases[] = {
        // Nothing obliges another program to store the NUL.
        { L"unterminated", REG_SZ, bytesOf(L"abc"), "abc", ValueType::String, "abc\0"s },
        { L"chinese", REG_SZ, bytesOf(L"聊天室\0"s), "聊天室", ValueType::String, "聊天室\0"s },
        // Thai has no code page 936 form.
        { L"foreign", REG_SZ, bytesOf(L"\u0E01x\0"s), "?x", ValueType::String, "?x\0"s },
        { L"expand", REG_EXPAND_SZ, bytesOf(L"<%CHATROOM_REGISTRY_TEST_VAR%>\0"s), "<value>", ValueType::ExpandableString, "<%CHATROOM_REGISTRY_TEST_VAR%>\0"s },
        { L"multi", REG_MULTI_SZ, bytesOf(L"a\0b\0\0"s), "", ValueType::Binary, "a\0\0\0b\0\0\0\0\0"s },
        { L"quad", REG_QWORD, quadBytes, "", ValueType::Binary, std::string(quadBytes.begin(), quadBytes.end()) },
    };
    for (const Case& c : cases) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"K", c.name.c_str(), c.type, c.data.data(), static_cast<DWORD>(c.data.size())), ERROR_SUCCESS);
        std::string path = "K\\" + std::string(c.name.begin(), c.name.end());
        EXPECT_EQ(m_store.readText(kRootCurrentUser, path), c.text) << path;
        expectStored(m_store, { { path, c.storedType, c.storedData } });
    }
}

// Counting is read, add one, write: servers counting at once lose nothing only when each
// group excludes the others'. The children start counting together, at a gate.
TEST_F(RegistryStoreTest, CountsOfProcessesCountingAtOnceAddUp)
{
    ASSERT_FALSE(g_isCounterChild);
    ASSERT_TRUE(m_store.writeValue(kRootCurrentUser, kCountPath, "0"));
    wchar_t executable[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, executable, MAX_PATH), 0u);
    std::wstring gateName = L"Local\\chatroom-test-gate-" + std::to_wstring(GetCurrentProcessId());
    UniqueHandle gate(CreateEventW(nullptr, TRUE, FALSE, gateName.c_str()));
    ASSERT_TRUE(gate);
    ASSERT_TRUE(SetEnvironmentVariableW(kCounterKeyVariable, m_place.standInPath(kRootCurrentUser).c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(kCounterGateVariable, gateName.c_str()));
    PROCESS_INFORMATION children[kCountingProcesses] {};
    for (PROCESS_INFORMATION& child : children) {
        STARTUPINFOW startup {};
        startup.cb = sizeof startup;
        std::wstring commandLine = L"\"" + std::wstring(executable) + L"\"";
        EXPECT_TRUE(CreateProcessW(executable, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    }
    SetEnvironmentVariableW(kCounterKeyVariable, nullptr);
    SetEnvironmentVariableW(kCounterGateVariable, nullptr);
    SetEvent(gate.get());
    for (PROCESS_INFORMATION& child : children) {
        if (!child.hProcess)
            continue;
        EXPECT_EQ(WaitForSingleObject(child.hProcess, kChildTimeoutMs), WAIT_OBJECT_0);
        DWORD status = STILL_ACTIVE;
        GetExitCodeProcess(child.hProcess, &status);
        EXPECT_EQ(status, 0u);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    EXPECT_EQ(m_store.readText(kRootCurrentUser, kCountPath), std::to_string(kCountingProcesses * kCountsPerProcess));
}

} // namespace
