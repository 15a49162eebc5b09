// Program directory, file existence and whole-file reading on Win32, through the wide API:
// paths arrive as code page 936 texts and are converted, so they work on a Windows of any
// language.
#include "runtime/Files.h"

#include "platform/win32/CodePage936.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr DWORD kInitialPathCapacity = MAX_PATH;
// Paths longer than this are not asked for (the longest path Windows accepts at all).
constexpr DWORD kMaxPathCapacity = 32768;
constexpr DWORD kMaxReadChunk = 1u << 30;
// What one read past the reported size takes.
constexpr size_t kBeyondSizeChunk = 64 * 1024;

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

std::string programDirectory()
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

std::string joinPath(std::string_view directory, std::string_view name)
{
    std::string joined(directory);
    joined += '\\';
    joined += name;
    return joined;
}

bool fileExists(std::string_view path)
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

// Reads the whole regular file at `path`, at most `sizeLimit` bytes. A read that fails midway
// keeps what it read so far, as readFile promises.
FileRead readRegularFile(std::string_view path, uint64_t sizeLimit)
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
    // The reported size is where reading starts, not where it stops: a file that grew since,
    // or that reports no size at all, is read to its end, and the limit counts what was read.
    std::string& bytes = result.bytes.bytes;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t total = 0;
    std::string beyond(kBeyondSizeChunk, '\0');
    for (;;) {
        bool withinReportedSize = total < bytes.size();
        char* target = withinReportedSize ? bytes.data() + total : beyond.data();
        DWORD wanted = static_cast<DWORD>(withinReportedSize ? std::min<size_t>(bytes.size() - total, kMaxReadChunk) : beyond.size());
        DWORD got = 0;
        if (!ReadFile(file.get(), target, wanted, &got, nullptr)) {
            bytes.resize(total);
            result.status = FileReadStatus::Unreadable;
            return result;
        }
        if (got == 0)
            break;
        if (!withinReportedSize) {
            if (got > sizeLimit - total) {
                bytes.clear();
                result.status = FileReadStatus::TooLarge;
                return result;
            }
            bytes.append(beyond.data(), got);
        }
        total += got;
    }
    bytes.resize(total);
    result.status = FileReadStatus::Read;
    return result;
}

} // namespace

ByteBlock readFile(std::string_view path)
{
    return readRegularFile(path, std::numeric_limits<uint64_t>::max()).bytes;
}

FileRead readFileChecked(std::string_view path, uint64_t sizeLimit)
{
    FileRead result = readRegularFile(path, sizeLimit);
    if (result.status != FileReadStatus::Read)
        result.bytes = {};
    return result;
}

bool changeDirectory(std::string_view directory)
{
    return !directory.empty() && SetCurrentDirectoryW(cp936ToWide(directory).c_str());
}
