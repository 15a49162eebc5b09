// Program directory, file existence and whole-file reading on Win32 (see Win32Files.h).
#include "platform/win32/Win32Files.h"

#include "platform/win32/CodePage936.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

constexpr DWORD kInitialPathCapacity = MAX_PATH;
// Paths longer than this are not asked for (the longest path Windows accepts at all).
constexpr DWORD kMaxPathCapacity = 32768;
// The most one ReadFile call is asked for.
constexpr DWORD kMaxReadChunk = 1u << 30;

// The full path of the running executable, grown until it fits.
std::wstring modulePath()
{
    std::vector<wchar_t> buffer(kInitialPathCapacity);
    while (buffer.size() <= kMaxPathCapacity) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

// The short (8.3) form of a path, whose names are plain ASCII where the volume keeps them.
std::wstring shortPath(const std::wstring& path)
{
    DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0)
        return {};
    std::wstring result(needed, L'\0');
    DWORD length = GetShortPathNameW(path.c_str(), result.data(), needed);
    if (length == 0 || length >= needed)
        return {};
    result.resize(length);
    return result;
}

} // namespace

std::string Win32Files::programDirectory() const
{
    std::wstring path = modulePath();
    size_t backslash = path.rfind(L'\\');
    if (backslash == std::wstring::npos)
        return {};
    std::wstring directory = path.substr(0, backslash);
    // The service names files by code page 936 texts. A directory with a character that code
    // page 936 lacks is named by its short form instead; without one it cannot be named, and
    // the word library is then reported missing rather than read from a wrong place.
    if (std::optional<std::string> exact = wideToCp936Exactly(directory))
        return *exact;
    if (std::optional<std::string> exact = wideToCp936Exactly(shortPath(directory)); exact && !exact->empty())
        return *exact;
    return {};
}

bool Win32Files::fileExists(std::string_view path) const
{
    if (path.empty())
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(cp936ToWide(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

namespace {

bool isMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME; }

} // namespace

// Only a file on disk is opened: not a device, pipe or console that has a file name.
FileRead Win32Files::readRegularFile(std::string_view path, uint64_t sizeLimit) const
{
    FileRead result;
    if (path.empty())
        return result;
    std::wstring widePath = cp936ToWide(path);
    DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        result.status = isMissing(GetLastError()) ? FileReadStatus::Missing : FileReadStatus::Unreadable;
        return result;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        result.status = FileReadStatus::NotRegularFile;
        return result;
    }
    // Others may read the file meanwhile but not write it, so the bytes are one version of
    // it; a file that someone holds open for writing is not read at all.
    UniqueHandle file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        result.status = isMissing(GetLastError()) ? FileReadStatus::Missing : FileReadStatus::Unreadable;
        return result;
    }
    // Only regular files: not a device, pipe or console that happens to have a file name.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        result.status = FileReadStatus::NotRegularFile;
        return result;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        result.status = FileReadStatus::Unreadable;
        return result;
    }
    if (static_cast<uint64_t>(size.QuadPart) > sizeLimit) {
        result.status = FileReadStatus::TooLarge;
        return result;
    }
    return readToEnd(static_cast<uint64_t>(size.QuadPart), sizeLimit, [&file](char* target, size_t wanted) -> std::optional<size_t> {
        DWORD got = 0;
        if (!ReadFile(file.get(), target, static_cast<DWORD>(std::min<size_t>(wanted, kMaxReadChunk)), &got, nullptr))
            return std::nullopt;
        return got;
    });
}

bool Win32Files::changeDirectory(std::string_view directory) const
{
    return !directory.empty() && SetCurrentDirectoryW(cp936ToWide(directory).c_str());
}
