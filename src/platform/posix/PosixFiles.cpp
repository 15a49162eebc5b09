// Program directory, current directory, file existence and whole-file reading on POSIX.
#include "runtime/Files.h"

#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

std::string programDirectory()
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string full(path, static_cast<size_t>(length));
    size_t slash = full.rfind('/');
    if (slash == std::string::npos)
        return {};
    return full.substr(0, slash);
}

std::string joinPath(std::string_view directory, std::string_view name)
{
    std::string joined(directory);
    joined += '/';
    joined += name;
    return joined;
}

bool fileExists(std::string_view path)
{
    if (path.empty())
        return false;
    std::string name(path);
    if (name.find_first_of("*?") == std::string::npos) {
        struct stat info;
        return lstat(name.c_str(), &info) == 0;
    }
    // Only "*" and "?" are wildcards; brackets and backslashes are ordinary characters.
    std::string pattern;
    for (char c : name) {
        if (c == '[' || c == ']' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    glob_t found {};
    int result = glob(pattern.c_str(), GLOB_PERIOD, nullptr, &found);
    bool any = result == 0 && found.gl_pathc > 0;
    globfree(&found);
    return any;
}

namespace {

// Beyond the length the file reported when opened, it is read this much at a time: a file
// may grow while it is read, and some (in /proc) report no length at all.
constexpr size_t kReadChunk = 64 * 1024;

// Closes the descriptor it was given.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Reads the whole regular file at `path`, at most `sizeLimit` bytes. A read that fails
// midway keeps what it read so far, as readFile promises.
FileRead readRegularFile(std::string_view path, uint64_t sizeLimit)
{
    FileRead result;
    if (path.empty())
        return result;
    // Non-blocking, so that a FIFO or device of that name cannot hang the caller.
    FileDescriptor file(open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        result.status = errno == ENOENT || errno == ENOTDIR ? FileReadStatus::Missing : FileReadStatus::Unreadable;
        return result;
    }
    struct stat info;
    if (fstat(file.get(), &info) != 0) {
        result.status = FileReadStatus::Unreadable;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.status = FileReadStatus::NotRegularFile;
        return result;
    }
    auto reportedSize = static_cast<uint64_t>(info.st_size);
    if (reportedSize > sizeLimit) {
        result.status = FileReadStatus::TooLarge;
        return result;
    }
    std::string& bytes = result.bytes.bytes;
    bytes.resize(static_cast<size_t>(reportedSize));
    size_t total = 0;
    char chunk[kReadChunk];
    for (;;) {
        bool withinReportedSize = total < bytes.size();
        char* target = withinReportedSize ? bytes.data() + total : chunk;
        size_t wanted = withinReportedSize ? bytes.size() - total : sizeof chunk;
        ssize_t got = read(file.get(), target, wanted);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            bytes.resize(total);
            result.status = FileReadStatus::Unreadable;
            return result;
        }
        auto count = static_cast<size_t>(got);
        if (!withinReportedSize) {
            if (count > sizeLimit - total) {
                bytes.clear();
                result.status = FileReadStatus::TooLarge;
                return result;
            }
            bytes.append(chunk, count);
        }
        total += count;
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
    return !directory.empty() && chdir(std::string(directory).c_str()) == 0;
}
